#include "timeline/perfetto_writer.h"

#include <algorithm>
#include <limits>

#include "text/utf8.h"

namespace vxtrace {
namespace {

// Field numbers of the messages written (see perfetto_subset.proto).
namespace trace {
constexpr uint32_t kPacket = 1;
}
namespace packet {
constexpr uint32_t kTimestamp = 8;
constexpr uint32_t kSequenceId = 10;
constexpr uint32_t kTrackEvent = 11;
constexpr uint32_t kInternedData = 12;
constexpr uint32_t kSequenceFlags = 13;
constexpr uint32_t kTrackDescriptor = 60;
constexpr uint32_t kFirstPacketOnSequence = 87;
}  // namespace packet
namespace track {
constexpr uint32_t kUuid = 1;
constexpr uint32_t kName = 2;
constexpr uint32_t kProcess = 3;
constexpr uint32_t kParentUuid = 5;
constexpr uint32_t kCounter = 8;
constexpr uint32_t kChildOrdering = 11;
constexpr uint32_t kSiblingOrderRank = 12;
constexpr uint32_t kProcessPid = 1;
constexpr uint32_t kProcessName = 6;
constexpr uint32_t kCounterUnitName = 6;
constexpr uint64_t kExplicitOrdering = 3;
}  // namespace track
namespace event {
constexpr uint32_t kCategoryIids = 3;
constexpr uint32_t kDebugAnnotations = 4;
constexpr uint32_t kType = 9;
constexpr uint32_t kNameIid = 10;
constexpr uint32_t kTrackUuid = 11;
constexpr uint32_t kCounterValue = 30;
constexpr uint32_t kDoubleCounterValue = 44;
constexpr uint32_t kFlowIds = 47;
constexpr uint32_t kTerminatingFlowIds = 48;
constexpr uint32_t kName = 23;
constexpr uint64_t kCounterType = 4;
}  // namespace event
namespace annotation {
constexpr uint32_t kNameIid = 1;
constexpr uint32_t kBool = 2;
constexpr uint32_t kUint = 3;
constexpr uint32_t kInt = 4;
constexpr uint32_t kDouble = 5;
constexpr uint32_t kString = 6;
constexpr uint32_t kDictEntries = 11;
}  // namespace annotation
namespace interned {
constexpr uint32_t kEventCategories = 1;
constexpr uint32_t kEventNames = 2;
constexpr uint32_t kDebugAnnotationNames = 3;
constexpr uint32_t kIid = 1;
constexpr uint32_t kName = 2;
}  // namespace interned

// One sequence for the whole file: interned ids are valid on it from the
// first packet on.
constexpr uint64_t kSequenceId = 1;
constexpr uint64_t kIncrementalStateCleared = 1;
constexpr uint64_t kNeedsIncrementalState = 2;

enum TrackKind { kProcessTrack, kChildTrack, kCounterTrack };

}  // namespace

PerfettoWriter::PerfettoWriter(Sink sink, size_t flush_size)
    : sink_(std::move(sink)),
      flush_size_(flush_size),
      out_(std::max<size_t>(flush_size, 64) + 4096) {
  open_dicts_.reserve(8);
  const Encoder::Mark first = out_.open(trace::kPacket);
  out_.varint_field(packet::kSequenceId, kSequenceId);
  out_.varint_field(packet::kSequenceFlags, kIncrementalStateCleared | kNeedsIncrementalState);
  out_.varint_field(packet::kFirstPacketOnSequence, 1);
  out_.close(first);
  ++packets_;
}

PerfettoWriter::~PerfettoWriter() {
  finish();
}

// ---- Packets ----

Encoder::Mark PerfettoWriter::open_packet(uint64_t timestamp) {
  const Encoder::Mark packet = out_.open(trace::kPacket);
  out_.varint_field(packet::kTimestamp, timestamp);
  out_.varint_field(packet::kSequenceId, kSequenceId);
  return packet;
}

// The interned entries made since the last packet ride along with this one,
// which comes before any packet that can use them.
void PerfettoWriter::close_packet(Encoder::Mark packet, bool uses_interned) {
  if (!pending_interned_.empty()) {
    out_.bytes_field(packet::kInternedData, pending_interned_.view());
    pending_interned_.clear();
    uses_interned = true;
  }
  if (uses_interned) out_.varint_field(packet::kSequenceFlags, kNeedsIncrementalState);
  out_.close(packet);
  ++packets_;
  flush_if_full();
}

void PerfettoWriter::flush_if_full() {
  if (out_.size() < flush_size_) return;
  if (sink_) sink_(out_.view());
  flushed_bytes_ += out_.size();
  out_.clear();
}

void PerfettoWriter::string_field(Encoder *encoder, uint32_t field, std::string_view text) {
  if (is_valid_utf8(text)) {
    encoder->bytes_field(field, text);
    return;
  }
  assign_valid_utf8(&sanitized_, text);
  encoder->bytes_field(field, sanitized_);
}

void PerfettoWriter::finish() {
  if (finished_) return;
  end_event();
  if (!pending_interned_.empty()) close_packet(open_packet(latest_timestamp_), true);
  if (sink_ && !out_.empty()) sink_(out_.view());
  flushed_bytes_ += out_.size();
  out_.clear();
  finished_ = true;
}

// ---- Tracks ----

TrackId PerfettoWriter::add_track(std::string_view name, TrackId parent, int32_t sort_rank,
                                  int kind, std::string_view unit_name) {
  if (finished_) return {};
  end_event();
  const TrackId id{next_track_uuid_++};
  const Encoder::Mark packet = open_packet(latest_timestamp_);
  const Encoder::Mark descriptor = out_.open(packet::kTrackDescriptor);
  out_.varint_field(track::kUuid, id.uuid);
  if (parent) out_.varint_field(track::kParentUuid, parent.uuid);
  string_field(&out_, track::kName, name);
  if (kind == kProcessTrack) {
    const Encoder::Mark process = out_.open(track::kProcess);
    out_.int_field(track::kProcessPid, next_pid_);
    string_field(&out_, track::kProcessName, name);
    out_.close(process);
    if (next_pid_ < std::numeric_limits<int32_t>::max()) ++next_pid_;
  }
  if (kind == kCounterTrack) {
    const Encoder::Mark counter = out_.open(track::kCounter);
    if (!unit_name.empty()) string_field(&out_, track::kCounterUnitName, unit_name);
    out_.close(counter);
  } else {
    out_.varint_field(track::kChildOrdering, track::kExplicitOrdering);
  }
  out_.int_field(track::kSiblingOrderRank, sort_rank);
  out_.close(descriptor);
  close_packet(packet, false);
  return id;
}

TrackId PerfettoWriter::add_process_track(std::string_view name, int32_t sort_rank) {
  return add_track(name, {}, sort_rank, kProcessTrack, {});
}

TrackId PerfettoWriter::add_child_track(TrackId parent, std::string_view name, int32_t sort_rank) {
  return add_track(name, parent, sort_rank, kChildTrack, {});
}

TrackId PerfettoWriter::add_counter_track(TrackId parent, std::string_view name,
                                          std::string_view unit_name, int32_t sort_rank) {
  return add_track(name, parent, sort_rank, kCounterTrack, unit_name);
}

// ---- Interning ----

uint64_t PerfettoWriter::intern(InternTable *table, uint32_t interned_data_field,
                                std::string_view name) {
  const auto known = table->find(name);
  if (known != table->end()) return known->second;
  const uint64_t iid = table->size() + 1;
  table->emplace(std::string(name), iid);
  const Encoder::Mark entry = pending_interned_.open(interned_data_field);
  pending_interned_.varint_field(interned::kIid, iid);
  string_field(&pending_interned_, interned::kName, name);
  pending_interned_.close(entry);
  return iid;
}

EventNameId PerfettoWriter::intern_event_name(std::string_view name) {
  if (event_names_.size() >= kMostInternedEventNames && !event_names_.contains(name))
    return {0, name};
  return {intern(&event_names_, interned::kEventNames, name), {}};
}

CategoryId PerfettoWriter::intern_category(std::string_view name) {
  return {intern(&categories_, interned::kEventCategories, name)};
}

ArgNameId PerfettoWriter::intern_arg_name(std::string_view name) {
  return {intern(&arg_names_, interned::kDebugAnnotationNames, name)};
}

// ---- Events ----

void PerfettoWriter::begin_event(const TrackEventHead &head) {
  if (finished_) return;
  end_event();
  latest_timestamp_ = std::max(latest_timestamp_, head.timestamp);
  event_packet_ = open_packet(head.timestamp);
  track_event_ = out_.open(packet::kTrackEvent);
  write_event_body(head, true);
}

void PerfettoWriter::write_event_body(const TrackEventHead &head, bool with_type) {
  if (with_type) out_.varint_field(event::kType, static_cast<uint64_t>(head.type));
  if (head.track) out_.varint_field(event::kTrackUuid, head.track.uuid);
  if (head.name.iid != 0)
    out_.varint_field(event::kNameIid, head.name.iid);
  else if (!head.name.text.empty())
    string_field(&out_, event::kName, head.name.text);
  if (head.category) out_.varint_field(event::kCategoryIids, head.category.iid);
  for (const uint64_t id : head.flow_ids) out_.fixed64_field(event::kFlowIds, id);
  for (const uint64_t id : head.terminating_flow_ids)
    out_.fixed64_field(event::kTerminatingFlowIds, id);
  event_uses_interned_ = head.name.iid != 0 || head.category;
  event_open_ = true;
}

// The body is encoded at the end of the buffer as usual, so that the
// annotation calls need not know, and cut out at end_event.
void PerfettoWriter::begin_held_event(const TrackEventHead &head, std::string *held) {
  if (finished_) return;
  end_event();
  held_ = held;
  held_from_ = out_.size();
  write_event_body(head, false);
}

void PerfettoWriter::write_held_event(TrackEventType type, uint64_t timestamp,
                                      std::string_view held) {
  if (finished_) return;
  end_event();
  latest_timestamp_ = std::max(latest_timestamp_, timestamp);
  const Encoder::Mark packet = open_packet(timestamp);
  const Encoder::Mark track_event = out_.open(packet::kTrackEvent);
  out_.varint_field(event::kType, static_cast<uint64_t>(type));
  out_.bytes_unframed(held);
  out_.close(track_event);
  close_packet(packet, true);
}

// Top-level arguments are the event's debug annotations, nested ones the
// entries of the enclosing dictionary.
Encoder::Mark PerfettoWriter::open_annotation(ArgNameId name) {
  const Encoder::Mark mark =
      out_.open(open_dicts_.empty() ? event::kDebugAnnotations : annotation::kDictEntries);
  if (name) {
    out_.varint_field(annotation::kNameIid, name.iid);
    event_uses_interned_ = true;
  }
  return mark;
}

void PerfettoWriter::add_int(ArgNameId name, int64_t value) {
  if (!event_open_) return;
  const Encoder::Mark mark = open_annotation(name);
  out_.int_field(annotation::kInt, value);
  out_.close(mark);
}

void PerfettoWriter::add_uint(ArgNameId name, uint64_t value) {
  if (!event_open_) return;
  const Encoder::Mark mark = open_annotation(name);
  out_.varint_field(annotation::kUint, value);
  out_.close(mark);
}

void PerfettoWriter::add_double(ArgNameId name, double value) {
  if (!event_open_) return;
  const Encoder::Mark mark = open_annotation(name);
  out_.double_field(annotation::kDouble, value);
  out_.close(mark);
}

void PerfettoWriter::add_bool(ArgNameId name, bool value) {
  if (!event_open_) return;
  const Encoder::Mark mark = open_annotation(name);
  out_.varint_field(annotation::kBool, value ? 1 : 0);
  out_.close(mark);
}

void PerfettoWriter::add_string(ArgNameId name, std::string_view value) {
  if (!event_open_) return;
  const Encoder::Mark mark = open_annotation(name);
  string_field(&out_, annotation::kString, value);
  out_.close(mark);
}

void PerfettoWriter::begin_dict(ArgNameId name) {
  if (!event_open_) return;
  open_dicts_.push_back(open_annotation(name));
}

void PerfettoWriter::end_dict() {
  if (!event_open_ || open_dicts_.empty()) return;
  out_.close(open_dicts_.back());
  open_dicts_.pop_back();
}

void PerfettoWriter::end_event() {
  if (!event_open_) return;
  while (!open_dicts_.empty()) end_dict();
  event_open_ = false;
  if (held_ != nullptr) {
    held_->assign(out_.view().substr(held_from_));
    out_.truncate(held_from_);
    held_ = nullptr;
    return;
  }
  out_.close(track_event_);
  close_packet(event_packet_, event_uses_interned_);
}

// ---- Counters ----

void PerfettoWriter::write_counter_head(TrackId counter_track, uint64_t timestamp) {
  latest_timestamp_ = std::max(latest_timestamp_, timestamp);
  out_.varint_field(event::kType, event::kCounterType);
  out_.varint_field(event::kTrackUuid, counter_track.uuid);
}

void PerfettoWriter::add_counter(TrackId counter_track, uint64_t timestamp, int64_t value) {
  if (finished_) return;
  end_event();
  const Encoder::Mark packet = open_packet(timestamp);
  const Encoder::Mark track_event = out_.open(packet::kTrackEvent);
  write_counter_head(counter_track, timestamp);
  out_.int_field(event::kCounterValue, value);
  out_.close(track_event);
  close_packet(packet, false);
}

void PerfettoWriter::add_double_counter(TrackId counter_track, uint64_t timestamp, double value) {
  if (finished_) return;
  end_event();
  const Encoder::Mark packet = open_packet(timestamp);
  const Encoder::Mark track_event = out_.open(packet::kTrackEvent);
  write_counter_head(counter_track, timestamp);
  out_.double_field(event::kDoubleCounterValue, value);
  out_.close(track_event);
  close_packet(packet, false);
}

}  // namespace vxtrace
