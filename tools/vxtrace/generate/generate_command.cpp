// vxtrace generate: a synthetic recording for tests, benchmarks and samples.
#include "generate/generate_command.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "cli/options.h"
#include "generate/generator.h"
#include "io/diagnostics.h"
#include "io/file_output.h"
#include "io/inputs.h"
#include "io/pending_file.h"
#include "io/progress.h"

namespace vxtrace {
namespace {

std::string directory_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An existing file may be a recording: it is replaced only with --force, and
// a directory never.
bool may_write_to(const std::string &path, bool force) {
  struct stat existing {};
  if (stat(path.c_str(), &existing) != 0) return true;
  if (S_ISDIR(existing.st_mode)) {
    report(path + ": is a directory");
    return false;
  }
  if (force) return true;
  report(path + ": the file exists (--force replaces it)");
  return false;
}

// Refuses a trace that would fill the file system. When the free space is
// unknown the write itself will tell.
bool fits_free_space(const GenerateOptions &options) {
  const std::string directory = directory_of(options.output);
  struct statvfs file_system {};
  if (options.force || statvfs(directory.c_str(), &file_system) != 0) return true;
  const double free_bytes =
      static_cast<double>(file_system.f_bavail) * static_cast<double>(file_system.f_frsize);
  const double needed = estimated_trace_size(options.events, options.seed, options.mix);
  if (needed <= free_bytes) return true;
  char sizes[128];
  std::snprintf(sizes, sizeof sizes, "about %.0f bytes, and %s has %.0f bytes free", needed,
                directory.c_str(), free_bytes);
  report(options.output + ": " + std::to_string(options.events) + " events need " + sizes +
         " (--force writes anyway)");
  return false;
}

// The faults of --inject; nullopt, reported, when one does not parse or the
// mix cannot take them.
std::optional<FaultPlan> fault_plan(const GenerateOptions &options) {
  FaultPlan plan;
  for (const std::string &text : options.inject) {
    if (const std::optional<std::string> problem = add_fault(text, &plan)) {
      report("--inject " + *problem);
      return std::nullopt;
    }
  }
  if (const std::optional<std::string> problem = does_not_fit(plan, options.events)) {
    report("--inject: " + *problem);
    return std::nullopt;
  }
  if (!plan.empty() && options.mix != EventMix::realistic) {
    report("--inject needs the realistic mix");
    return std::nullopt;
  }
  if (!options.manifest.empty() && plan.empty()) {
    report("--manifest needs --inject");
    return std::nullopt;
  }
  return plan;
}

bool write_manifest(const GenerateOptions &options, const FaultAccount &account) {
  if (options.manifest.empty()) return true;
  const std::optional<bool> written =
      write_output(options.manifest, {options.output}, [&](OutputSink *sink) {
        sink->append(fault_account_json(account));
        return sink->flush();
      });
  return written.value_or(false);
}

// Writes the whole trace to fd, which stays open; false, reported, on failure.
bool write_trace(const GenerateOptions &options, const FaultPlan &faults, FaultAccount *account,
                 int fd, const std::string &name) {
  vxt_error error{};
  vxt_writer *writer = vxt_writer_open_fd(fd, &error);
  if (writer == nullptr) {
    report(name + ": " + error.message);
    return false;
  }
  bool written = false;
  {
    Progress progress(options.progress, options.events);
    written = write_synthetic_trace(writer, options.events, options.seed, options.mix, &progress,
                                    faults, account);
  }
  if (!vxt_writer_close(writer, &error) || !written) {
    report(name + ": " + error.message);
    return false;
  }
  return true;
}

// "-o -": a trace is binary, and is not for a terminal to interpret.
int generate_to_standard_output(const GenerateOptions &options, const FaultPlan &faults,
                                FaultAccount *account) {
  if (isatty(STDOUT_FILENO)) {
    report("standard output is a terminal; redirect it, or name a file with -o");
    return kExitUsage;
  }
  return write_trace(options, faults, account, STDOUT_FILENO, "standard output") ? kExitSuccess
                                                                                 : kExitUsage;
}

int generate(const GenerateOptions &options, const FaultPlan &faults, FaultAccount *account) {
  if (options.output == "-") return generate_to_standard_output(options, faults, account);
  if (!may_write_to(options.output, options.force) || !fits_free_space(options)) return kExitUsage;
  PendingFile file(options.output);
  if (!file.opened() || !write_trace(options, faults, account, file.fd(), options.output))
    return kExitUsage;
  return file.commit(options.force) ? kExitSuccess : kExitUsage;
}

}  // namespace

int run_generate(const GenerateOptions &options) {
  const std::optional<FaultPlan> faults = fault_plan(options);
  if (!faults) return kExitUsage;
  FaultAccount account;
  const int status = generate(options, *faults, &account);
  if (status != kExitSuccess) return status;
  return write_manifest(options, account) ? kExitSuccess : kExitUsage;
}

namespace {

// Timestamps of a generated trace rise by up to 99 µs per event; this many
// events keep them far from wrapping around.
constexpr uint64_t kMostGeneratedEvents = 1'000'000'000'000;

CommandRun declare_generate(CLI::App *command) {
  auto options = std::make_shared<GenerateOptions>();
  add_output(command, &options->output,
             "Trace file to write (- for standard output, when it is not a terminal)")
      ->required();
  command->add_flag("--force", options->force,
                    "Replace an existing file, and write even when the file system seems too "
                    "full for the trace");
  add_path(command, "--manifest", &options->manifest,
           "Write what the injected faults left in the trace to this file (JSON)");
  add_number(command, "--events", &options->events, "Number of data records (at most 10^12)", 0,
             kMostGeneratedEvents)
      ->required();
  add_number(command, "--seed", &options->seed, "Seed; a seed always gives the same trace", 0);
  const std::map<std::string, EventMix> mixes{{"realistic", EventMix::realistic},
                                              {"bench", EventMix::bench}};
  command->add_option("--mix", options->mix, "Event mix: realistic (default) or bench")
      ->transform(CLI::CheckedTransformer(mixes, CLI::ignore_case).description(""))
      ->type_name("realistic|bench");
  command
      ->add_option("--inject", options->inject,
                   "Inject a fault into the realistic mix (repeatable): stall@+<S>s:<D>ms, "
                   "lose@reorder:<N>, lose@decoder:<N>, silence[@+<S>s]:<N>, "
                   "latency@<stage>:<D>us|ms (stage: reorder, decoder, display, return)")
      ->allow_extra_args(false)
      ->type_name("FAULT");
  add_no_progress(command, &options->progress);
  return [options] { return run_generate(*options); };
}

}  // namespace

Command generate_command() {
  return {"generate", "Write a synthetic trace", declare_generate};
}

}  // namespace vxtrace
