#include "io/command_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/plugin_log.h"

namespace vxtrace {
namespace {

int exit_status_for(const vxt_error &error) {
  return error.status == VXT_IO_ERROR ? kExitUsage : kExitDamagedInput;
}

bool is_standard_stream(const std::string &path) {
  return path.empty() || path == "-";
}

// Regular files only: a terminal or a pipe may well be input and output at
// once, and writing to one destroys nothing.
bool same_regular_file(const struct stat &a, const struct stat &b) {
  return S_ISREG(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The input that the output would overwrite, or null. Links of either kind
// resolve to the same device and inode.
const std::string *input_under_output(const std::string &output,
                                      const std::vector<std::string> &inputs) {
  struct stat out {};
  const int found =
      is_standard_stream(output) ? fstat(STDOUT_FILENO, &out) : stat(output.c_str(), &out);
  if (found != 0) return nullptr;  // not there yet: it cannot be an input
  for (const std::string &input : inputs) {
    struct stat in {};
    const int opened = input == "-" ? fstat(STDIN_FILENO, &in) : stat(input.c_str(), &in);
    if (opened == 0 && same_regular_file(out, in)) return &input;
  }
  return nullptr;
}

}  // namespace

void report(const std::string &message) {
  std::fprintf(stderr, "vxtrace: %s\n", message.c_str());
}

namespace {

// Worst first: an input that could not be read at all outweighs damage.
int combined_status(int a, int b) {
  if (a == kExitUsage || b == kExitUsage) return kExitUsage;
  return a == kExitDamagedInput || b == kExitDamagedInput ? kExitDamagedInput : kExitSuccess;
}

bool load_plugin(const InputOptions &options, Plugin *plugin) {
  std::string error;
  if (!plugin->load(options.plugin, &error)) {
    report(error);
    return false;
  }
  if (options.quiet)
    silence_plugin_logs(plugin->api());
  else
    write_plugin_logs_escaped(plugin->api());
  return true;
}

DefinitionObserver observer_for(const SourceDefinitionObserver &on_definition, size_t source) {
  if (!on_definition) return {};
  return
      [&on_definition, source](uint32_t id, const char *name) { on_definition(source, id, name); };
}

}  // namespace

void open_input(const InputOptions &options, OpenedInput *opened,
                SourceDefinitionObserver on_definition) {
  if (!load_plugin(options, &opened->plugin)) {
    opened->exit_status = kExitUsage;
    return;
  }
  // Kept alive by opened: each session's observer refers to it.
  opened->definition_observer = std::move(on_definition);
  for (const std::string &path : options.inputs) {
    vxt_error open_error{};
    vxt_reader *reader = open_trace(path, &open_error);
    if (reader == nullptr) {
      // The reader's messages name the input.
      report(open_error.message);
      opened->exit_status = combined_status(opened->exit_status, exit_status_for(open_error));
      if (opened->exit_status == kExitUsage) break;
      continue;
    }
    const size_t index = opened->sources.size();
    auto session = std::make_unique<TraceSession>(opened->plugin.api(), reader,
                                                  observer_for(opened->definition_observer, index));
    if (!session->ok()) {
      report("the plug-in could not create a buffer iterator");
      opened->exit_status = kExitUsage;
      break;
    }
    opened->sources.push_back({path, input_display_name(path), std::move(session)});
  }
  if (opened->exit_status == kExitUsage) opened->sources.clear();
}

bool output_is_an_input(const std::string &path, const std::vector<std::string> &inputs) {
  const std::string *input = input_under_output(path, inputs);
  if (input == nullptr) return false;
  const std::string output = is_standard_stream(path) ? "standard output" : path;
  report("cannot write to " + output + ": it is the same file as the input " +
         input_display_name(*input) + "; nothing was written");
  return true;
}

std::vector<std::string> OpenedInput::paths() const {
  std::vector<std::string> paths;
  for (const OpenedSource &source : sources) paths.push_back(source.path);
  return paths;
}

std::vector<std::string> OpenedInput::display_names() const {
  std::vector<std::string> names;
  for (const OpenedSource &source : sources) names.push_back(source.display_name);
  return names;
}

std::string input_errors(const OpenedInput &opened) {
  std::string errors;
  for (const OpenedSource &source : opened.sources) {
    const vxt_error &error = *vxt_reader_error(source.session->reader());
    if (error.status != VXT_OK) errors += (errors.empty() ? "" : "; ") + std::string(error.message);
  }
  return errors;
}

int input_exit_status(const OpenedInput &opened) {
  int status = opened.exit_status;
  for (const OpenedSource &source : opened.sources) {
    const vxt_error &error = *vxt_reader_error(source.session->reader());
    if (error.status == VXT_OK) continue;
    // The reader's messages name the input.
    report(error.message);
    status = combined_status(status, exit_status_for(error));
  }
  return status;
}

int report_input_error(const OpenedInput &opened, const vxt_error &error) {
  report(opened.sole().display_name + ": " + error.message);
  return exit_status_for(error);
}

std::vector<std::string> files_read(const InputOptions &options, const OpenedInput &opened) {
  std::vector<std::string> files = options.inputs;
  files.push_back(opened.plugin.path());
  return files;
}

int run_exit_status(bool output_written, int input_status) {
  return output_written ? input_status : kExitUsage;
}

}  // namespace vxtrace
