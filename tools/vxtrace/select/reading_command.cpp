#include "select/reading_command.h"

#include "io/diagnostics.h"
#include "io/outcome.h"

namespace vxtrace {
namespace {

// A selection that kept nothing is said once, whatever the command wrote:
// an empty output alone does not tell a window past the end of the trace
// from a trace without records.
void report_empty_selection(const ReadingPass &pass) {
  const std::string selection = selection_text(pass.options(), pass.selection().event_globs);
  if (selection.empty() || pass.stopped_early() || pass.selection().kept_any->load()) return;
  report("no record matches " + selection);
}

}  // namespace

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
  report_empty_selection(pass);
  Outcome outcome;
  outcome.add(pass.input_status());
  if (!written) outcome.output_failed();
  return outcome.exit_status();
}

}  // namespace vxtrace
