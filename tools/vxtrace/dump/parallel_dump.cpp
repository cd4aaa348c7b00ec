#include "dump/parallel_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/decoded_record.h"
#include "core/record_allocator.h"
#include "core/trace_session.h"
#include "dump/event_line_writer.h"
#include "io/progress.h"
#include "select/selected_records.h"
#include "text/text_buffer.h"

namespace vxtrace {
namespace {

// The text of all parts in flight together stays near this budget: parts
// are sized from it and from the number of workers, and when the smallest
// part size still leaves too much text for two parts per worker, fewer parts
// are in flight (and only as many workers run), so memory does not grow with
// --jobs or with the trace.
constexpr uint64_t kTextBudget = uint64_t{24} << 20;
// A bench trace renders about five bytes of text per input byte.
constexpr uint64_t kTextPerInputByte = 6;
constexpr uint64_t kSmallestPart = uint64_t{64} << 10;
constexpr uint64_t kLargestPart = uint64_t{1} << 20;
// Workers look at the cancel flag once per this many events.
constexpr uint64_t kCancelCheckInterval = 1024;

// The definitions in force at the start of a part, with the names they
// point to.
struct DefinitionSet {
  std::vector<std::shared_ptr<const std::string>> names;
  std::vector<vxt_definition> list;
};

// A log record of the plug-in, kept until its part is written. Module, file
// and function are the plug-in's constants; the message is formatted on
// vx_do_log's stack and is copied.
struct CapturedLog {
  uint64_t lines_before = 0;  // lines of the part rendered when it was logged
  vx_log_record record{};
  std::string message;
};

struct Part {
  uint64_t begin = 0;
  uint64_t end = 0;
  std::shared_ptr<const DefinitionSet> definitions;
  TextBuffer text{0};
  std::vector<size_t> line_ends;  // with --limit only
  std::vector<CapturedLog> logs;
  uint64_t lines = 0;
  uint64_t events = 0;
  // Text lines: the first line's delta is left out at this offset, for the
  // writer in file order, which knows the line before, to put in.
  std::optional<size_t> first_delta_at;
  uint64_t first_timestamp = 0;
  uint64_t last_timestamp = 0;
  std::string failure;
  // What ended the part's reader early (the file changed since the part was
  // planned); the part's text holds the records before it.
  vxt_error read_error{};
  bool done = false;  // guarded by PartQueue's mutex
};

// ---- Cutting the file into parts ----

// Walks the trace with the session's reader, record by record, and cuts it
// into parts of about part_bytes. It follows the definitions so that each
// part knows the bindings in force at its start.
class PartPlanner {
 public:
  // The session's definition observer sees the definitions here, since its
  // iterator does not read them (a name lives only for the call).
  PartPlanner(vxt_reader *reader, uint64_t part_bytes, SourceDefinitionObserver on_definition)
      : reader_(reader), part_bytes_(part_bytes), on_definition_(std::move(on_definition)) {}

  // Fills the next part's range and definitions; false at the end of the
  // input or at damage (the reader's error tells which).
  bool next(Part *part) {
    if (finished_) return false;
    const uint64_t begin = vxt_reader_offset(reader_);
    std::shared_ptr<const DefinitionSet> definitions = bindings_now();
    uint64_t end = begin;
    vxt_record_info record;
    while (end - begin < part_bytes_) {
      if (!vxt_reader_skip_record(reader_, &record)) {
        finished_ = true;
        break;
      }
      if (record.tag == VXT_TAG_DEFINITION) {
        bind(record.id, record.name);
        if (on_definition_) on_definition_(0, record.id, record.name);
      }
      end = record.offset + record.size;
    }
    if (end == begin) return false;
    part->begin = begin;
    part->end = end;
    part->definitions = std::move(definitions);
    return true;
  }

 private:
  void bind(uint32_t id, const char *name) {
    if (bound_.size() <= id) bound_.resize(size_t{id} + 1);
    if (bound_[id] != nullptr && *bound_[id] == name) return;
    bound_[id] = std::make_shared<const std::string>(name);
    changed_ = true;
  }

  // Parts between two definitions share one set.
  std::shared_ptr<const DefinitionSet> bindings_now() {
    if (current_ != nullptr && !changed_) return current_;
    auto set = std::make_shared<DefinitionSet>();
    for (uint32_t id = 0; id < bound_.size(); ++id) {
      if (bound_[id] == nullptr) continue;
      set->names.push_back(bound_[id]);
      set->list.push_back(vxt_definition{id, bound_[id]->c_str()});
    }
    current_ = std::move(set);
    changed_ = false;
    return current_;
  }

  vxt_reader *reader_;
  uint64_t part_bytes_;
  SourceDefinitionObserver on_definition_;
  bool finished_ = false;
  std::vector<std::shared_ptr<const std::string>> bound_;  // by id
  std::shared_ptr<const DefinitionSet> current_;
  bool changed_ = false;
};

// ---- The plug-in's log records ----

// Where the log records of this thread's current part go; null on threads
// that render no part.
thread_local Part *capturing_part = nullptr;

void capture_log_record(void *user_data, const vx_log_record *record) {
  Part *part = capturing_part;
  if (part == nullptr) {
    const auto *previous = static_cast<const vx_logger *>(user_data);
    if (previous != nullptr && previous->log != nullptr) previous->log(previous->user_data, record);
    return;
  }
  CapturedLog &kept = part->logs.emplace_back();
  kept.lines_before = part->lines;
  kept.record = *record;
  if (record->message != nullptr) kept.message = record->message;
}

// While it lives, the plug-in's log records are kept with the part being
// rendered and handed to the logger that was installed before, in file order,
// when the part is written.
class LogRoute {
 public:
  explicit LogRoute(const PluginApi &api) : api_(api), previous_(api.get_logger()) {
    logger_ = vx_logger{previous_, capture_log_record, nullptr};
    api_.set_logger(&logger_);
  }
  LogRoute(const LogRoute &) = delete;
  LogRoute &operator=(const LogRoute &) = delete;
  ~LogRoute() { api_.set_logger(previous_); }

  void forward(const CapturedLog &kept) const {
    vx_log_record record = kept.record;
    record.message = kept.record.message != nullptr ? kept.message.c_str() : nullptr;
    previous_->log(previous_->user_data, &record);
  }

 private:
  const PluginApi &api_;
  vx_logger *previous_;
  vx_logger logger_{};
};

// ---- Workers ----

class PartQueue {
 public:
  void push(Part *part) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.push_back(part);
    }
    work_ready_.notify_one();
  }

  // The next part to render; null once the queue is closed.
  Part *pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    work_ready_.wait(lock, [&] { return closed_ || !waiting_.empty(); });
    if (closed_) return nullptr;
    Part *part = waiting_.front();
    waiting_.pop_front();
    return part;
  }

  void finish(Part *part) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      part->done = true;
    }
    part_done_.notify_all();
  }

  void wait_for(const Part &part) {
    std::unique_lock<std::mutex> lock(mutex_);
    part_done_.wait(lock, [&] { return part.done; });
  }

  // Parts not yet taken are dropped; workers stop after their current part.
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      cancelled_.store(true, std::memory_order_relaxed);
      waiting_.clear();
    }
    work_ready_.notify_all();
  }

  bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable part_done_;
  std::deque<Part *> waiting_;
  bool closed_ = false;
  std::atomic<bool> cancelled_{false};
};

// What every worker shares.
struct DumpContext {
  const DumpOptions &options;
  const PluginApi &api;
  int fd;
  std::vector<AddressRange> constant_text;
  PartQueue queue;
};

// One worker thread's state, kept from part to part.
class PartRenderer {
 public:
  explicit PartRenderer(DumpContext *context)
      : context_(context), writer_(nullptr, context->constant_text, context->options.format) {}

  void render(Part *part) {
    const DefinitionSet &definitions = *part->definitions;
    vxt_error error{};
    vxt_reader *reader =
        vxt_reader_open_range(context_->fd, part->begin, part->end, definitions.list.data(),
                              definitions.list.size(), &error);
    if (reader == nullptr) {
      part->failure = error.message;
      return;
    }
    capturing_part = part;
    {
      // The iterator takes the process logger, the capturing one, now.
      TraceSession session(context_->api, reader);
      if (session.ok()) {
        render_events(&session, part);
        part->read_error = *vxt_reader_error(session.reader());
      } else
        part->failure = "the plug-in could not create a buffer iterator";
    }
    capturing_part = nullptr;
  }

 private:
  void render_events(TraceSession *session, Part *part) {
    SelectedRecords records(session, context_->options.selection, nullptr);
    render_selected(&records, part);
    // Every data record of the part counts towards the progress line.
    part->events = records.records_read();
  }

  void render_selected(SelectedRecords *records, Part *part) {
    const std::optional<uint64_t> &limit = context_->options.limit;
    writer_.set_output(&part->text);
    writer_.forget_previous();
    EventView event;
    uint64_t cancel_checks = 0;
    while (records->next(&event)) {
      if (records->records_read() / kCancelCheckInterval != cancel_checks) {
        cancel_checks = records->records_read() / kCancelCheckInterval;
        if (context_->queue.cancelled()) return;
      }
      const DecodedRecord record(event, records->session()->iterator(), &allocator_);
      writer_.write(event, record);
      if (part->lines == 0) {
        part->first_delta_at = writer_.left_out_delta_at();
        part->first_timestamp = event.timestamp;
      }
      part->last_timestamp = event.timestamp;
      ++part->lines;
      if (!limit) continue;
      part->line_ends.push_back(part->text.size());
      // No part contributes more lines than the limit.
      if (part->lines >= *limit) return;
    }
  }

  DumpContext *context_;
  RecordAllocator allocator_;
  EventLineWriter writer_;
};

void run_worker(DumpContext *context) {
  PartRenderer renderer(context);
  while (Part *part = context->queue.pop()) {
    renderer.render(part);
    context->queue.finish(part);
  }
}

// ---- Writing in file order ----

uint64_t part_size_for(const DumpOptions &options, unsigned jobs) {
  if (options.chunk_bytes != 0) return options.chunk_bytes;
  const uint64_t parts_in_flight = 2 * uint64_t{jobs};
  return std::clamp(kTextBudget / (parts_in_flight * kTextPerInputByte), kSmallestPart,
                    kLargestPart);
}

// Two parts per worker keep every worker busy while the oldest is written,
// as long as their text fits the budget; at least two, so that one part is
// rendered while another is written.
size_t parts_in_flight_for(uint64_t part_bytes, unsigned jobs) {
  const uint64_t within_budget = kTextBudget / kTextPerInputByte / part_bytes;
  return static_cast<size_t>(std::clamp<uint64_t>(within_budget, 2, 2 * uint64_t{jobs}));
}

// A worker with no part to take would only hold a stack and a heap arena.
unsigned workers_for(size_t parts_in_flight, unsigned jobs) {
  return static_cast<unsigned>(std::min<size_t>(jobs, parts_in_flight));
}

class OrderedWriter {
 public:
  OrderedWriter(const DumpOptions &options, const LogRoute &logs, OutputSink *sink)
      : limit_(options.limit), logs_(logs), sink_(sink) {}

  // Writes a rendered part, up to the limit; false once the limit is reached
  // or the output failed.
  bool write(const Part &part) {
    uint64_t kept_lines = part.lines;
    size_t kept_text = part.text.size();
    bool reached = false;
    if (limit_ && part.lines >= *limit_ - lines_) {
      reached = true;
      kept_lines = *limit_ - lines_;
      kept_text = kept_lines == 0 ? 0 : part.line_ends[kept_lines - 1];
    }
    // One thread stops right after the limit's line: it never reads the
    // records behind it, so their log records are dropped too.
    for (const CapturedLog &kept : part.logs)
      if (!reached || kept.lines_before < kept_lines) logs_.forward(kept);
    write_text(part, part.text.view().substr(0, kept_text), kept_lines);
    lines_ += kept_lines;
    limit_reached_ = reached;
    return !reached && !sink_->failed();
  }

  bool limit_reached() const { return limit_reached_; }

 private:
  // The part's text, with the delta of its first line put in from the last
  // line written before it.
  void write_text(const Part &part, std::string_view text, uint64_t kept_lines) {
    if (!part.first_delta_at || kept_lines == 0) {
      sink_->write(text);
      return;
    }
    char delta[40];
    const uint64_t previous = lines_ == 0 ? part.first_timestamp : previous_timestamp_;
    const char *delta_end = write_time_delta(delta, previous, part.first_timestamp);
    sink_->write(text.substr(0, *part.first_delta_at));
    sink_->write(std::string_view(delta, static_cast<size_t>(delta_end - delta)));
    sink_->write(text.substr(*part.first_delta_at));
    previous_timestamp_ = part.last_timestamp;
  }

  std::optional<uint64_t> limit_;
  const LogRoute &logs_;
  OutputSink *sink_;
  uint64_t lines_ = 0;
  uint64_t previous_timestamp_ = 0;
  bool limit_reached_ = false;
};

std::unique_ptr<Part> new_part(std::vector<TextBuffer> *spare_texts, uint64_t part_bytes) {
  auto part = std::make_unique<Part>();
  if (spare_texts->empty()) {
    // A part's text grows past the budget only if the part needs it.
    const uint64_t expected_text =
        std::min(part_bytes, kTextBudget / kTextPerInputByte) * kTextPerInputByte;
    part->text = TextBuffer(expected_text + TextBuffer::kSlack);
  } else {
    part->text = std::move(spare_texts->back());
    spare_texts->pop_back();
    part->text.clear();
  }
  return part;
}

}  // namespace

unsigned dump_job_count(const DumpOptions &options) {
  if (options.jobs != 0) return options.jobs;
  return std::max(1u, std::thread::hardware_concurrency());
}

bool can_dump_in_parallel(const OpenedInput &opened) {
  // Several inputs go to the merge, on one thread or one per input.
  return opened.files.size() == 1 && opened.files.front().seekable();
}

std::vector<AddressRange> plugin_constant_text(const PluginApi &api) {
  return read_only_segments_of(reinterpret_cast<const void *>(api.register_events));
}

ParallelDumpResult dump_in_parallel(const DumpOptions &options, unsigned jobs,
                                    const OpenedInput &opened, OutputSink *sink) {
  ParallelDumpResult result;
  if (options.limit && *options.limit == 0) {
    result.limit_reached = true;
    result.written = sink->flush();
    return result;
  }
  // The parts read the input's own file with pread: it is opened once.
  const int fd = opened.sole().fd;
  const PluginApi &api = opened.plugin.api();
  const LogRoute logs(api);
  DumpContext context{options, api, fd, plugin_constant_text(api), {}};
  const uint64_t part_bytes = part_size_for(options, jobs);
  const size_t most_in_flight = parts_in_flight_for(part_bytes, jobs);
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < workers_for(most_in_flight, jobs); ++i)
    workers.emplace_back(run_worker, &context);

  const vxt_reader *reader = opened.sole().session->reader();
  PartPlanner planner(opened.sole().session->reader(), part_bytes, opened.definition_observer);
  OrderedWriter writer(options, logs, sink);
  Progress progress(options.in.progress, vxt_reader_size(reader));
  std::deque<std::unique_ptr<Part>> in_flight;
  std::vector<TextBuffer> spare_texts;
  uint64_t events = 0;
  bool more_parts = true;
  while (true) {
    while (more_parts && in_flight.size() < most_in_flight) {
      std::unique_ptr<Part> part = new_part(&spare_texts, part_bytes);
      more_parts = planner.next(part.get());
      if (!more_parts) break;
      context.queue.push(part.get());
      in_flight.push_back(std::move(part));
    }
    if (in_flight.empty()) break;
    Part &oldest = *in_flight.front();
    context.queue.wait_for(oldest);
    if (!oldest.failure.empty()) {
      report(opened.sole().display_name + ": " + oldest.failure);
      result.input_failed = true;
      break;
    }
    const bool go_on = writer.write(oldest);
    progress.update_step(oldest.end, events += oldest.events);
    if (oldest.read_error.status != VXT_OK && !writer.limit_reached()) {
      result.read_error = oldest.read_error;
      break;
    }
    spare_texts.push_back(std::move(oldest.text));
    in_flight.pop_front();
    if (!go_on) break;
  }
  context.queue.close();
  for (std::thread &worker : workers) worker.join();
  progress.finish();
  result.limit_reached = writer.limit_reached();
  result.written = sink->flush();
  return result;
}

}  // namespace vxtrace
