// vxtrace generate: a synthetic recording for tests, benchmarks and samples.
#include <cstdio>

#include "core/command_support.h"
#include "core/progress.h"
#include "generate/generate_command.h"
#include "generate/generator.h"

namespace vxtrace {

int run_generate(const GenerateOptions &options) {
  vxt_error error{};
  vxt_writer *writer = vxt_writer_open_path(options.output.c_str(), &error);
  if (writer == nullptr) {
    report(options.output + ": " + error.message);
    return kExitUsage;
  }
  bool written = false;
  {
    Progress progress(options.progress, options.events);
    written = write_synthetic_trace(writer, options.events, options.seed, options.mix, &progress);
  }
  if (!vxt_writer_close(writer, &error) || !written) {
    report(options.output + ": " + error.message);
    return kExitUsage;
  }
  return kExitSuccess;
}

}  // namespace vxtrace
