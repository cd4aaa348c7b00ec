#include "select/reading_command.h"

#include "io/diagnostics.h"
#include "io/outcome.h"
#include "select/event_filter.h"

namespace vxtrace {
namespace {

// Which --event globs match a name that the inputs define, as their
// sessions read the definitions: a glob that matches none is most likely a
// typo, which an empty output alone would not tell. Each input marks only
// its own row, so inputs read on threads of their own need no lock.
class EventGlobCheck {
 public:
  EventGlobCheck(std::vector<std::string> globs, size_t inputs)
      : globs_(std::move(globs)), matched_(inputs, std::vector<char>(globs_.size(), 0)) {}

  // Passes each definition on to the command's own observer, if any.
  SourceDefinitionObserver observer(SourceDefinitionObserver command_observer) {
    if (globs_.empty()) return command_observer;
    return
        [this, next = std::move(command_observer)](size_t source, uint32_t id, const char *name) {
          mark_defined(source, name);
          if (next) next(source, id, name);
        };
  }

  // One line per glob that no definition matched; nothing when the run
  // stopped before the end of its inputs, whose later definitions are unseen.
  void report_unmatched(const ReadingPass &pass) const {
    if (pass.stopped_early()) return;
    const char *traces =
        pass.opened().sources.size() > 1 ? "the traces define" : "the trace defines";
    for (size_t glob = 0; glob < globs_.size(); ++glob)
      if (!matched_anywhere(glob))
        vxtrace::note("--event " + globs_[glob] + " matches no event that " + traces);
  }

 private:
  void mark_defined(size_t source, const char *name) {
    if (name == nullptr || source >= matched_.size()) return;
    std::vector<char> &row = matched_[source];
    for (size_t glob = 0; glob < globs_.size(); ++glob)
      if (!row[glob] && event_name_matches(globs_[glob], name)) row[glob] = 1;
  }

  bool matched_anywhere(size_t glob) const {
    for (const std::vector<char> &row : matched_)
      if (row[glob]) return true;
    return false;
  }

  std::vector<std::string> globs_;
  std::vector<std::vector<char>> matched_;  // by input, then by glob
};

// A selection that kept nothing is said once, whatever the command wrote:
// an empty output alone does not tell a window past the end of the trace
// from a trace without records.
void report_empty_selection(const ReadingPass &pass) {
  const std::string selection = selection_text(pass.options());
  if (selection.empty() || pass.stopped_early() || pass.selection().kept_any->load()) return;
  note("no record matches " + selection);
}

}  // namespace

int run_reading_command(const InputOptions &options, ReadingCommand &command) {
  // Outlives opened, whose sessions call its observer.
  EventGlobCheck glob_check(options.event_globs, options.inputs.size());
  OpenedInput opened;
  if (!load_plugin(options, &opened) || !open_input_files(options, &opened)) return kExitUsage;
  if (!command.outputs_acceptable(files_read(options, opened))) return kExitUsage;
  std::optional<Selection> selection = resolve_selection(options, opened.files);
  if (!selection) return kExitUsage;
  open_sessions(&opened, glob_check.observer(command.definition_observer()));
  if (opened.sources.empty()) return opened.exit_status;
  ReadingPass pass(options, opened, std::move(*selection));
  const bool written = command.run(pass);
  glob_check.report_unmatched(pass);
  report_empty_selection(pass);
  Outcome outcome;
  outcome.add(pass.input_status());
  if (!written) outcome.output_failed();
  return outcome.exit_status();
}

}  // namespace vxtrace
