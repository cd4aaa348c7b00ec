// The three renderings of a report, written in pieces of about 64 KiB to a
// sink (so that a report of many sessions needs no more memory than that),
// or returned whole as a string:
// - text: a table per session for a terminal of 100 columns;
// - JSON: one document whose shape docs/report.md fixes;
// - HTML: one self-contained page (Chart.js is built in) with the figures and,
//   for the busiest sessions, plots of the stage latencies, the display
//   interval over time with its stalls, and the drops over time.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"

namespace vxtrace {

// Receives the rendering piece by piece, in order.
using ReportSink = std::function<void(std::string_view)>;

void write_text_report(const Report &report, const ReportSink &sink);
void write_json_report(const Report &report, const ReportSink &sink);
void write_html_report(const Report &report, const ReportSink &sink);

std::string text_report(const Report &report);
std::string json_report(const Report &report);
std::string html_report(const Report &report);

// Sentences on what the report could not follow (the bounds of
// ReportOptions), for the text and the page; empty for a sound trace.
std::vector<std::string> limit_notes(const Report &report);

// Collects a rendering and hands it to the sink in pieces.
class ChunkedOutput {
 public:
  explicit ChunkedOutput(const ReportSink &sink) : sink_(sink) {}
  ~ChunkedOutput() { flush(); }
  ChunkedOutput(const ChunkedOutput &) = delete;
  ChunkedOutput &operator=(const ChunkedOutput &) = delete;

  std::string &text() { return text_; }
  // Passes the text on once it is long enough; call between whole parts.
  void maybe_flush() {
    if (text_.size() >= kPiece) flush();
  }
  void flush() {
    if (!text_.empty()) sink_(text_);
    text_.clear();
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;
  const ReportSink &sink_;
  std::string text_;
};

}  // namespace vxtrace
