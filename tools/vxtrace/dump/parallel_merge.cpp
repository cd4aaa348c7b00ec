#include "dump/parallel_merge.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/decoded_record.h"
#include "core/record_allocator.h"
#include "dump/event_line_writer.h"
#include "dump/parallel_dump.h"
#include "io/progress.h"
#include "select/merged_records.h"
#include "select/selected_records.h"
#include "text/text_buffer.h"

namespace vxtrace {
namespace {

// Lines are handed over in chunks of about this much text; a few chunks per
// input are in flight, so memory stays bounded whatever the inputs' length.
constexpr size_t kChunkText = size_t{256} << 10;
constexpr size_t kChunksInFlight = 4;
constexpr size_t kWriteBlockSize = size_t{1} << 20;

struct Chunk {
  TextBuffer text{kChunkText + kChunkText / 4};
  std::vector<size_t> line_ends;
  std::vector<uint64_t> timestamps;  // of each line's record
  // Text lines: where each line's delta was left out, for the merge, which
  // alone knows the line before, to put in.
  std::vector<size_t> delta_ats;
  uint64_t input_offset = 0;  // the reader's, once the chunk was full
  uint64_t records_read = 0;  // of the input so far, kept or not

  void clear() {
    text.clear();
    line_ends.clear();
    timestamps.clear();
    delta_ats.clear();
  }
};

// The chunks of one input, from its rendering thread to the merging one.
class ChunkChannel {
 public:
  // False once the merge no longer wants chunks: the thread should stop.
  bool push(std::unique_ptr<Chunk> chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [&] { return cancelled_ || ready_.size() < kChunksInFlight; });
    if (cancelled_) return false;
    ready_.push_back(std::move(chunk));
    filled_.notify_one();
    return true;
  }

  void finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    filled_.notify_one();
  }

  // The next chunk; null once the input's thread has finished and every
  // chunk was taken.
  std::unique_ptr<Chunk> pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    filled_.wait(lock, [&] { return finished_ || !ready_.empty(); });
    if (ready_.empty()) return nullptr;
    std::unique_ptr<Chunk> chunk = std::move(ready_.front());
    ready_.pop_front();
    room_.notify_one();
    return chunk;
  }

  // A chunk to fill again, or a new one.
  std::unique_ptr<Chunk> spare() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spares_.empty()) return std::make_unique<Chunk>();
    std::unique_ptr<Chunk> chunk = std::move(spares_.back());
    spares_.pop_back();
    chunk->clear();
    return chunk;
  }

  void give_back(std::unique_ptr<Chunk> chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    spares_.push_back(std::move(chunk));
  }

  void cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    room_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable filled_;
  std::condition_variable room_;
  std::deque<std::unique_ptr<Chunk>> ready_;
  std::vector<std::unique_ptr<Chunk>> spares_;
  bool finished_ = false;
  bool cancelled_ = false;
};

// One input's thread: its kept records rendered, in file order.
void render_input(const DumpOptions &options, const OpenedInput &opened, size_t source,
                  ChunkChannel *channel) {
  const OpenedSource &input = opened.sources[source];
  std::unique_ptr<Chunk> chunk = channel->spare();
  EventLineWriter writer(&chunk->text, plugin_constant_text(opened.plugin.api()), options.format);
  writer.set_source(input.path);
  RecordAllocator allocator;
  SelectedRecords records(input.session.get(), options.selection, nullptr);
  EventView event;
  while (records.next(&event)) {
    const DecodedRecord record(event, input.session->iterator(), &allocator);
    writer.forget_previous();
    writer.write(event, record);
    if (writer.left_out_delta_at()) chunk->delta_ats.push_back(*writer.left_out_delta_at());
    chunk->line_ends.push_back(chunk->text.size());
    chunk->timestamps.push_back(event.timestamp);
    if (chunk->text.size() < kChunkText) continue;
    chunk->input_offset = vxt_reader_offset(input.session->reader());
    chunk->records_read = records.records_read();
    if (!channel->push(std::move(chunk))) return;
    chunk = channel->spare();
    writer.set_output(&chunk->text);
  }
  chunk->input_offset = vxt_reader_offset(input.session->reader());
  chunk->records_read = records.records_read();
  if (!chunk->line_ends.empty()) channel->push(std::move(chunk));
  channel->finish();
}

// The merging side of one input: its current chunk and line.
struct Stream {
  ChunkChannel channel;
  std::unique_ptr<Chunk> chunk;
  size_t line = 0;
  uint64_t last_timestamp = 0;
  uint64_t backward_steps = 0;
  uint64_t offset = 0;
  uint64_t records_read = 0;

  uint64_t timestamp() const { return chunk->timestamps[line]; }
  size_t line_begin() const { return line == 0 ? 0 : chunk->line_ends[line - 1]; }
  std::string_view text() const {
    return chunk->text.view().substr(line_begin(), chunk->line_ends[line] - line_begin());
  }
  // Where the line's delta belongs, counted from its start; nullopt for
  // JSON lines.
  std::optional<size_t> delta_at() const {
    if (chunk->delta_ats.empty()) return std::nullopt;
    return chunk->delta_ats[line] - line_begin();
  }

  // Moves to the next line, waiting for the next chunk if need be; false at
  // the input's end.
  bool advance(bool first) {
    if (!first && ++line < chunk->line_ends.size()) return note_line();
    if (chunk != nullptr) channel.give_back(std::move(chunk));
    chunk = channel.pop();
    line = 0;
    if (chunk == nullptr) return false;
    offset = chunk->input_offset;
    records_read = chunk->records_read;
    return note_line();
  }

  bool note_line() {
    if (timestamp() < last_timestamp) ++backward_steps;
    last_timestamp = timestamp();
    return true;
  }
};

class LineMerge {
 public:
  LineMerge(const DumpOptions &options, const OpenedInput &opened)
      : options_(options), opened_(opened), streams_(opened.sources.size()) {
    uint64_t total = 0;
    for (const OpenedSource &source : opened.sources)
      total += vxt_reader_size(source.session->reader());
    progress_ = std::make_unique<Progress>(options.in.progress, total);
  }

  bool run(OutputSink *sink) {
    std::vector<std::thread> threads;
    for (size_t source = 0; source < streams_.size(); ++source)
      threads.emplace_back(render_input, std::cref(options_), std::cref(opened_), source,
                           &streams_[source].channel);
    const bool written = merge(sink);
    for (Stream &stream : streams_) stream.channel.cancel();
    for (std::thread &thread : threads) thread.join();
    progress_->finish();
    std::vector<uint64_t> steps;
    for (const Stream &stream : streams_) steps.push_back(stream.backward_steps);
    report_backward_steps(opened_, steps);
    return written;
  }

 private:
  bool merge(OutputSink *sink) {
    for (size_t i = 0; i < streams_.size(); ++i)
      if (streams_[i].advance(true)) push(i);
    TextBuffer out(kWriteBlockSize + kWriteBlockSize / 4);
    uint64_t lines = 0;
    while (!heap_.empty() && (!options_.limit || lines < *options_.limit) && !sink->failed()) {
      std::pop_heap(heap_.begin(), heap_.end(), [this](size_t a, size_t b) { return later(a, b); });
      const size_t i = heap_.back();
      heap_.pop_back();
      append_line(streams_[i], lines == 0, &out);
      ++lines;
      if (out.size() >= kWriteBlockSize) {
        sink->write(out.view());
        out.clear();
        update_progress(lines);
      }
      if (streams_[i].advance(false)) push(i);
    }
    sink->write(out.view());
    return sink->flush();
  }

  // A text line gets its delta from the line merged before it.
  void append_line(const Stream &stream, bool first, TextBuffer *out) {
    const std::string_view text = stream.text();
    const std::optional<size_t> delta_at = stream.delta_at();
    if (!delta_at) {
      out->append(text);
      return;
    }
    out->append(text.substr(0, *delta_at));
    out->make_room(TextBuffer::kSlack);
    out->commit(write_time_delta(out->end(), first ? stream.timestamp() : previous_timestamp_,
                                 stream.timestamp()));
    out->append(text.substr(*delta_at));
    previous_timestamp_ = stream.timestamp();
  }

  // The heap's order: the earliest line on top, the first input on a tie.
  bool later(size_t a, size_t b) const {
    const uint64_t time_a = streams_[a].timestamp();
    const uint64_t time_b = streams_[b].timestamp();
    return time_a != time_b ? time_a > time_b : a > b;
  }

  void push(size_t i) {
    heap_.push_back(i);
    std::push_heap(heap_.begin(), heap_.end(), [this](size_t a, size_t b) { return later(a, b); });
  }

  void update_progress(uint64_t lines) {
    uint64_t done = 0, read = 0;
    for (const Stream &stream : streams_) {
      done += stream.offset;
      read += stream.records_read;
    }
    progress_->update_step(done, std::max(read, lines));
  }

  const DumpOptions &options_;
  const OpenedInput &opened_;
  std::deque<Stream> streams_;  // not movable: their threads refer to them
  std::vector<size_t> heap_;
  std::unique_ptr<Progress> progress_;
  uint64_t previous_timestamp_ = 0;
};

}  // namespace

bool can_merge_in_parallel(const OpenedInput &opened, unsigned jobs) {
  return opened.sources.size() >= 2 && opened.sources.size() <= jobs;
}

bool merge_in_parallel(const DumpOptions &options, const OpenedInput &opened, OutputSink *sink) {
  LineMerge merge(options, opened);
  return merge.run(sink);
}

}  // namespace vxtrace
