// vxtrace generate: a synthetic recording for tests, benchmarks and samples.
#include "generate/generate_command.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

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
#include "io/inputs.h"
#include "io/output_file.h"
#include "io/progress.h"

namespace vxtrace {
namespace {

std::string directory_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Refuses a trace that would fill the file system. When the free space is
// unknown the write itself will tell.
bool fits_free_space(const GenerateOptions &options, const OutputFile &trace) {
  const std::string directory = directory_of(options.output);
  struct statvfs file_system {};
  if (options.force || trace.in_place() || statvfs(directory.c_str(), &file_system) != 0)
    return true;
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

// An existing file may be a recording: either output replaces one only
// with --force, and a directory never.
OutputFile output_for(const std::string &path, const char *option, bool force, bool binary) {
  return OutputFile({.path = path,
                     .option = option,
                     .existing_needs_force = true,
                     .force = force,
                     .binary = binary});
}

// Both outputs are checked, and the trace's temporary file made, before the
// first event is generated: a refused manifest must not cost a whole trace.
int generate(const GenerateOptions &options, const FaultPlan &faults, FaultAccount *account) {
  OutputFile trace = output_for(options.output, "-o", options.force, true);
  std::optional<OutputFile> manifest;
  std::vector<OutputFile *> outputs = {&trace};
  if (!options.manifest.empty()) {
    manifest.emplace(output_for(options.manifest, "--manifest", options.force, false));
    outputs.push_back(&*manifest);
  }
  if (!fits_free_space(options, trace) || !prepare_outputs(outputs, {})) return kExitUsage;
  if (!write_trace(options, faults, account, trace.fd(), trace.name()) || !trace.commit())
    return kExitUsage;
  if (!manifest) return kExitSuccess;
  const bool written = manifest->write([&](OutputSink *sink) {
    sink->append(fault_account_json(*account));
    return sink->flush();
  });
  return written ? kExitSuccess : kExitUsage;
}

}  // namespace

int run_generate(const GenerateOptions &options) {
  const std::optional<FaultPlan> faults = fault_plan(options);
  if (!faults) return kExitUsage;
  FaultAccount account;
  return generate(options, *faults, &account);
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
  add_path(command, "--manifest", &options->manifest, "FILE",
           "Write what the injected faults left in the trace to this file (JSON)");
  add_number(command, "--events", &options->events, "Number of data records (at most 10^12)", 0,
             kMostGeneratedEvents)
      ->required();
  add_number(command, "--seed", &options->seed, "Seed; a seed always gives the same trace", 0)
      ->type_name("S");
  const std::map<std::string, EventMix> mixes{{"realistic", EventMix::realistic},
                                              {"bench", EventMix::bench}};
  command->add_option("--mix", options->mix, "Event mix: realistic (default) or bench")
      ->transform(CLI::CheckedTransformer(mixes).description(""))
      // Runs first (CLI11 puts each transform in front): the word is checked
      // and lowered before the map turns it into the mix.
      ->transform(one_of({"realistic", "bench"}))
      ->type_name("realistic|bench");
  command
      ->add_option("--inject", options->inject,
                   "Inject a fault into the realistic mix (repeatable): stall@+<T>:<D>, "
                   "lose@reorder:<N>, lose@decoder:<N>, silence[@+<T>]:<N>, "
                   "latency@<stage>:<D> (stage: reorder, decoder, display, return); T from the "
                   "first record and D are durations as --begin takes them (stall@+5.25s:400ms)")
      ->allow_extra_args(false)
      ->type_name("FAULT");
  add_talk_options(command, &options->progress);
  return [options] { return run_generate(*options); };
}

}  // namespace

Command generate_command() {
  return {"generate", "Write a synthetic trace", declare_generate};
}

}  // namespace vxtrace
