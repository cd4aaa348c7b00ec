// The skeleton of every command that reads traces. run_reading_command does
// what they all do, in this order: load the plug-in, open each input once,
// check the outputs against the inputs before anything is read, resolve the
// selection, read each input's header, walk the merged records, and turn
// what happened into the exit status. A command supplies only what it does
// with the records and at the end.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/decoded_record.h"
#include "core/options.h"
#include "core/record_allocator.h"
#include "io/inputs.h"
#include "select/merged_records.h"
#include "select/selection.h"

namespace vxtrace {

// One run over the selected records of the opened inputs.
class ReadingPass {
 public:
  ReadingPass(const InputOptions &options, const OpenedInput &opened, Selection selection)
      : options_(options), opened_(opened), selection_(std::move(selection)) {}

  const InputOptions &options() const { return options_; }
  const OpenedInput &opened() const { return opened_; }
  const Selection &selection() const { return selection_; }

  // Hands each kept record, merged by time and decoded, to
  // add(source, event, record) while wanted() holds before the record is
  // read and add returns true; then after(progress) runs, for the work that
  // follows the records, and the progress line is cleared. Asking wanted()
  // first keeps a stop (--limit) from reading one record more, whose damage
  // the run would otherwise own.
  template <class Add, class Wanted, class After>
  void for_each(Add &&add, Wanted &&wanted, After &&after) {
    RecordAllocator allocator;
    const Selection reading = with_lead_in();
    MergedRecords records(opened_, reading, options_.progress);
    EventView event;
    for (;;) {
      if (!wanted()) {
        stopped_early_ = true;
        break;
      }
      if (!records.next(&event)) break;
      if (reading.kept_any != selection_.kept_any && event.timestamp >= selection_.begin)
        selection_.kept_any->store(true, std::memory_order_relaxed);
      const DecodedRecord record(event, records.session()->iterator(), &allocator);
      if (!add(records.source(), event, record)) break;
    }
    after(records.progress());
    records.finish_progress();
  }
  template <class Add, class Wanted>
  void for_each(Add &&add, Wanted &&wanted) {
    for_each(std::forward<Add>(add), std::forward<Wanted>(wanted), [](Progress &) {});
  }
  template <class Add>
  void for_each(Add &&add) {
    for_each(std::forward<Add>(add), [] { return true; });
  }

  // Reads from lead_in_ns before the window's begin too, when it has one,
  // for a command that needs what came just before the window: those
  // records reach add() like the others (the command tells them by their
  // time) but do not count as matching the selection.
  void read_lead_in(uint64_t lead_in_ns) { lead_in_ns_ = lead_in_ns; }

  // Why inputs were refused or ended early so far, "" when none was: for
  // outputs that must not pass for a whole trace.
  std::string input_errors() const { return vxtrace::input_errors(opened_); }

  // For a pass that read the inputs with readers of its own (dump in
  // parts): the status it found, which then stands for the sessions'.
  void set_input_status(int status) { input_status_ = status; }
  // For a pass that stopped before the end of its inputs without reading
  // through them (--limit 0): whether the selection matches nothing is
  // then unknown.
  void set_stopped_early() { stopped_early_ = true; }
  bool stopped_early() const { return stopped_early_; }

  // The inputs' exit status, their problems reported.
  int input_status() const { return input_status_ ? *input_status_ : input_exit_status(opened_); }

 private:
  Selection with_lead_in() const {
    Selection reading = selection_;
    if (lead_in_ns_ == 0 || selection_.begin == 0 || selection_.nothing) return reading;
    reading.begin -= std::min(selection_.begin, lead_in_ns_);
    reading.kept_any = std::make_shared<std::atomic<bool>>(false);
    return reading;
  }

  const InputOptions &options_;
  const OpenedInput &opened_;
  Selection selection_;
  std::optional<int> input_status_;
  bool stopped_early_ = false;
  uint64_t lead_in_ns_ = 0;
};

class ReadingCommand {
 public:
  virtual ~ReadingCommand() = default;

  // Checks the outputs against the files that the run reads (the inputs as
  // given and the plug-in); false, reported, refuses the run before any
  // input is read or output written.
  virtual bool outputs_acceptable(const std::vector<std::string> &files_read) = 0;

  // Sees every definition as the sessions read it, with its input's index.
  virtual SourceDefinitionObserver definition_observer() { return {}; }

  // Reads the pass and writes the outputs; false, reported, when an output
  // was not written whole.
  virtual bool run(ReadingPass &pass) = 0;
};

int run_reading_command(const InputOptions &options, ReadingCommand &command);

}  // namespace vxtrace
