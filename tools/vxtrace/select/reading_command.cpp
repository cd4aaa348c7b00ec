#include "select/reading_command.h"

#include "io/outcome.h"

namespace vxtrace {

int run_reading_command(const InputOptions &options, ReadingCommand &command) {
  OpenedInput opened;
  if (!load_plugin(options, &opened) || !open_input_files(options, &opened)) return kExitUsage;
  if (!command.outputs_acceptable(files_read(options, opened))) return kExitUsage;
  std::optional<Selection> selection =
      resolve_selection(options, command.event_globs(), opened.files);
  if (!selection) return kExitUsage;
  open_sessions(&opened, command.definition_observer());
  if (opened.sources.empty()) return opened.exit_status;
  ReadingPass pass(options, opened, std::move(*selection));
  const bool written = command.run(pass);
  Outcome outcome;
  outcome.add(pass.input_status());
  if (!written) outcome.output_failed();
  return outcome.exit_status();
}

}  // namespace vxtrace
