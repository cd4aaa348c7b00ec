#include "io/inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/plugin_log.h"
#include "io/diagnostics.h"
#include "io/outcome.h"

namespace vxtrace {
namespace {

int exit_status_for(const vxt_error &error) {
  return error.status == VXT_IO_ERROR ? kExitUsage : kExitDamagedInput;
}

// Standard input, or the file at path opened for reading; -1 with errno set.
int open_for_reading(const std::string &path, bool *owned) {
  *owned = path != "-";
  return *owned ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
}

// A stream given twice ("-" and /dev/stdin, a FIFO by two names) would
// hand each reader part of its bytes.
bool stream_given_twice(const std::vector<InputFile> &files) {
  for (size_t later = 1; later < files.size(); ++later) {
    if (files[later].seekable()) continue;
    for (size_t earlier = 0; earlier < later; ++earlier) {
      if (!files[earlier].same_file(files[later])) continue;
      report(files[earlier].display_name() + " and " + files[later].display_name() +
             " are the same stream, which can be read only once");
      return true;
    }
  }
  return false;
}

// Each input reads ahead a share of one budget, so that memory does not grow
// with the number of inputs: one input reads 1 MiB at a time, 2,000 read
// 32 KiB each (64 MiB in all).
size_t read_window_size(size_t inputs) {
  constexpr size_t kBudget = size_t{64} << 20;
  constexpr size_t kMost = size_t{1} << 20;
  constexpr size_t kLeast = size_t{32} << 10;
  return std::clamp(kBudget / std::max<size_t>(inputs, 1), kLeast, kMost);
}

DefinitionObserver observer_for(const SourceDefinitionObserver &on_definition, size_t source) {
  if (!on_definition) return {};
  return
      [&on_definition, source](uint32_t id, const char *name) { on_definition(source, id, name); };
}

}  // namespace

InputFile::InputFile(std::string path, int fd, bool owned, const struct stat &status)
    : path_(std::move(path)),
      display_name_(input_display_name(path_)),
      fd_(fd),
      owned_(owned),
      status_(status) {}

InputFile::InputFile(InputFile &&other) noexcept
    : path_(std::move(other.path_)),
      display_name_(std::move(other.display_name_)),
      fd_(std::exchange(other.fd_, -1)),
      owned_(other.owned_),
      status_(other.status_) {}

InputFile::~InputFile() {
  if (owned_ && fd_ >= 0) close(fd_);
}

bool load_plugin(const InputOptions &options, OpenedInput *opened) {
  std::string error;
  if (!opened->plugin.load(options.plugin, &error)) {
    report(error);
    opened->exit_status = kExitUsage;
    return false;
  }
  if (quiet())
    silence_plugin_logs(opened->plugin.api());
  else
    write_plugin_logs_escaped(opened->plugin.api());
  return true;
}

bool open_input_files(const InputOptions &options, OpenedInput *opened) {
  for (const std::string &path : options.inputs) {
    bool owned = false;
    const int fd = open_for_reading(path, &owned);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
      report(input_display_name(path) + ": cannot open: " + std::strerror(errno));
      if (owned && fd >= 0) close(fd);
      opened->files.clear();
      opened->exit_status = kExitUsage;
      return false;
    }
    opened->files.emplace_back(path, fd, owned, status);
  }
  if (!stream_given_twice(opened->files)) return true;
  opened->files.clear();
  opened->exit_status = kExitUsage;
  return false;
}

void open_sessions(OpenedInput *opened, SourceDefinitionObserver on_definition) {
  Outcome outcome;
  // Kept alive by opened: each session's observer refers to it.
  opened->definition_observer = std::move(on_definition);
  for (const InputFile &file : opened->files) {
    vxt_error open_error{};
    vxt_reader *reader =
        vxt_reader_open_fd_windowed(file.fd(), file.display_name().c_str(),
                                    read_window_size(opened->files.size()), &open_error);
    if (reader == nullptr) {
      // The reader's messages name the input.
      report(open_error.message);
      opened->refusals.emplace_back(open_error.message);
      outcome.add(exit_status_for(open_error));
      if (outcome.exit_status() == kExitUsage) break;
      continue;
    }
    const size_t index = opened->sources.size();
    auto session = std::make_unique<TraceSession>(opened->plugin.api(), reader,
                                                  observer_for(opened->definition_observer, index));
    if (!session->ok()) {
      report("the plug-in could not create a buffer iterator");
      outcome.add(kExitUsage);
      break;
    }
    opened->sources.push_back({file.path(), file.display_name(), std::move(session), file.fd()});
  }
  opened->exit_status = outcome.exit_status();
  if (opened->exit_status == kExitUsage) opened->sources.clear();
}

void open_input(const InputOptions &options, OpenedInput *opened,
                SourceDefinitionObserver on_definition) {
  if (load_plugin(options, opened) && open_input_files(options, opened))
    open_sessions(opened, std::move(on_definition));
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

std::vector<std::string> OpenedInput::given_display_names() const {
  std::vector<std::string> names;
  for (const InputFile &file : files) names.push_back(file.display_name());
  return names;
}

std::string input_errors(const OpenedInput &opened) {
  std::string errors;
  const auto add = [&errors](const std::string &message) {
    errors += (errors.empty() ? "" : "; ") + message;
  };
  for (const std::string &refusal : opened.refusals) add(refusal);
  for (const OpenedSource &source : opened.sources) {
    const vxt_error &error = *vxt_reader_error(source.session->reader());
    if (error.status != VXT_OK) add(error.message);
  }
  return errors;
}

int input_exit_status(const OpenedInput &opened) {
  Outcome outcome;
  outcome.add(opened.exit_status);
  for (const OpenedSource &source : opened.sources) {
    const vxt_error &error = *vxt_reader_error(source.session->reader());
    if (error.status == VXT_OK) continue;
    // The reader's messages name the input.
    report(error.message);
    outcome.add(exit_status_for(error));
  }
  return outcome.exit_status();
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

}  // namespace vxtrace
