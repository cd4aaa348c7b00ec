// Builds a report in one pass over decoded records.
//
//   ReportBuilder builder(options);
//   for each data record: builder.add(timestamp_ns, kind, record)
//                         (or builder.add_undecoded(timestamp_ns))
//   Report report = builder.finish();
//   report.inputs = ...; report.damage = ...;
//   write_text_report(report, out) / write_json_report / write_html_report
//
// Memory follows what is in flight, not the trace's length: the keys open in
// each stage of each live session (a key open longer than the horizon is
// counted lost and forgotten), and per live session a histogram per stage and
// span and bounded plot series. A session ends with network_session_destroyed:
// its figures are then fixed in a few hundred bytes, and a later record of the
// same id starts a new session entry. add() allocates only when a session
// starts, a table of open keys grows or a histogram covers a new range.
#pragma once

#include <cstdint>
#include <memory>

#include "report/report.h"
#include "schema/event_kind.h"

namespace vxtrace {

class ReportBuilder {
 public:
  explicit ReportBuilder(ReportOptions options = {});
  ~ReportBuilder();
  ReportBuilder(const ReportBuilder &) = delete;
  ReportBuilder &operator=(const ReportBuilder &) = delete;

  // One decoded record: `record` is the payload struct of `kind` (as
  // vexlo/velocast_payloads.h declares it). Records are expected in
  // timestamp order; an earlier timestamp yields durations of 0.
  void add(uint64_t timestamp_ns, EventKind kind, const void *record);

  // The input of the records added from now on (0 until set): sessions of
  // different inputs are reported apart, as their ids are per buffer.
  void set_source(uint32_t source);

  // A frame of the session displayed at timestamp_ns, before the records of
  // a time window: the session's first interval in the window counts from
  // it, so that a stall ending inside the window is found. Call before the
  // window's records.
  void add_frame_before_window(uint64_t timestamp_ns, uint32_t session_id);

  // A data record that could not be decoded (unknown name, short payload).
  void add_undecoded(uint64_t timestamp_ns);

  // The keys open in all stages of all live sessions: what memory follows.
  size_t keys_in_flight() const;

  // Ends the pass: keys still open are lost, every session's figures are
  // fixed. Call once; the builder is empty afterwards.
  Report finish();

 private:
  class State;
  std::unique_ptr<State> state_;
};

}  // namespace vxtrace
