#include "timeline/timeline_model.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "pipeline/record_fields.h"
#include "timeline/timeline_json.h"

namespace vxtrace {
namespace {

// Per input: the receiver first, then the sessions in id order; then the
// shared process. An input's processes span this range of sort indices.
constexpr int kSourceSortShift = 34;

// The push of a packet carries its session inside the packet.
std::optional<uint32_t> session_in_rendering(std::string_view payload) {
  auto session = find_member(payload, "session_id");
  if (!session) session = find_member(payload, "packet.session_id");
  return session ? parse_uint32(*session) : std::nullopt;
}

// A session id, or the receiver's own events, as one number.
uint64_t session_number(std::optional<uint32_t> session) {
  return session ? *session : uint64_t{1} << 32;
}

std::string process_prefix(const std::vector<std::string> &source_names, size_t source) {
  return source_names.size() > 1 ? source_names[source] + ": " : std::string();
}

uint64_t track_number(const TrackRef &track) {
  return (uint64_t{track.pid} << 8) | static_cast<uint64_t>(track.stage);
}

// The flows drawn: an audio packet by its id, through the audio chain's
// stages; a video frame by its buffer's physical address, from its
// production to its return to the decoder, through the display stages. The
// first event of the primary chain starts a flow (a reused key starts a new
// one), its last event ends it.
struct FlowSpec {
  KeyKind key;
  Chain primary;
  std::initializer_list<Chain> chains;
};

const FlowSpec kFlowSpecs[] = {
    {KeyKind::packet_id, Chain::audio_packets, {Chain::audio_packets}},
    {KeyKind::physical_address,
     Chain::frame_buffers,
     {Chain::frame_buffers, Chain::video_frames, Chain::displayed_frames}},
};

// Per kind: its flow (index in kFlowSpecs, or -1) and its place in it.
struct FlowRole {
  int8_t spec = -1;
  FlowStep step = FlowStep::none;
};

std::array<FlowRole, kEventKindCount> make_flow_roles() {
  std::array<FlowRole, kEventKindCount> roles{};
  for (size_t spec = 0; spec < std::size(kFlowSpecs); ++spec) {
    const FlowSpec &flow = kFlowSpecs[spec];
    const auto mark = [&](EventKind kind, FlowStep step) {
      FlowRole &role = roles[static_cast<size_t>(kind)];
      if (!has_key(kind, flow.key) || (role.spec >= 0 && step == FlowStep::middle)) return;
      role = {static_cast<int8_t>(spec), step};
    };
    for (const StagePair &pair : kStagePairs) {
      if (std::find(flow.chains.begin(), flow.chains.end(), pair.chain) == flow.chains.end())
        continue;
      mark(pair.from, FlowStep::middle);
      mark(pair.to, FlowStep::middle);
    }
    // The primary chain's whole path, or else its steps' first and last
    // events, bound the flow.
    const StagePair *first = nullptr;
    const StagePair *last = nullptr;
    for (const StagePair &pair : kStagePairs) {
      if (pair.chain != flow.primary || pair.role == PairRole::alternative) continue;
      if (pair.role == PairRole::whole_path) {
        first = last = &pair;
        break;
      }
      if (first == nullptr) first = &pair;
      last = &pair;
    }
    if (first == nullptr) continue;
    mark(first->from, FlowStep::first);
    mark(last->to, FlowStep::last);
  }
  return roles;
}

const FlowRole &flow_role_of(EventKind kind) {
  static const std::array<FlowRole, kEventKindCount> roles = make_flow_roles();
  return roles[static_cast<size_t>(kind)];
}

}  // namespace

TimelineModel::TimelineModel(TimelineFormat *format, std::vector<std::string> source_names)
    : format_(format), source_names_(std::move(source_names)) {
  if (source_names_.empty()) source_names_.emplace_back();
  // The receiver of source s is pid s + 1.
  for (size_t source = 0; source < source_names_.size(); ++source)
    new_process(process_prefix(source_names_, source) + "receiver",
                uint64_t{source} << kSourceSortShift);
}

uint32_t TimelineModel::receiver_pid() const {
  return static_cast<uint32_t>(current_source_) + 1;
}

uint64_t TimelineModel::process_key(std::optional<uint32_t> session) const {
  return (uint64_t{current_source_} << 33) | session_number(session);
}

uint32_t TimelineModel::new_process(std::string name, uint64_t sort_index) {
  const auto pid = static_cast<uint32_t>(processes_.size()) + 1;
  processes_.push_back({{pid, std::move(name), sort_index}, {}});
  return pid;
}

const TimelineModel::EventPlacement &TimelineModel::placement_of(const EventView &event) {
  EventPlacement &placement = placements_[(uint64_t{current_source_} << 32) | event.id];
  // An id can be defined again under another name.
  if (placement.name != event.name) {
    placement.name = event.name;
    placement.stage = stage_of_event(placement.name);
    placement.kind = kinds_.kind_of(event.descriptor);
    placement.counters = counters_of_event(placement.name);
  }
  return placement;
}

uint32_t TimelineModel::pid_of_session(uint32_t session_id) {
  const uint64_t key = process_key(session_id);
  const auto known = session_pids_.find(key);
  if (known != session_pids_.end()) return known->second;
  if (session_pids_.size() >= kSessionProcessLimit) return pid_of_other_sessions();
  const uint32_t pid = new_process(
      process_prefix(source_names_, current_source_) + "session " + std::to_string(session_id),
      (uint64_t{current_source_} << kSourceSortShift) + session_id + 1);
  session_pids_.emplace(key, pid);
  return pid;
}

uint32_t TimelineModel::pid_of_other_sessions() {
  if (other_sessions_pid_ == 0)
    other_sessions_pid_ =
        new_process("other sessions", uint64_t{source_names_.size()} << kSourceSortShift);
  return other_sessions_pid_;
}

// A process is declared with its first track.
void TimelineModel::declare(const TrackRef &track) {
  Process &process = processes_[track.pid - 1];
  const auto stage = static_cast<size_t>(track.stage);
  if (process.declared_stages.test(stage)) return;
  if (process.declared_stages.none()) format_->declare_process(process.info);
  process.declared_stages.set(stage);
  format_->declare_stage(track);
}

void TimelineModel::add(size_t source, const EventView &event, const DecodedRecord &record) {
  ++records_;
  current_source_ = source;
  if (record.problem() == DecodeProblem::none) {
    add_decoded(event, record, placement_of(event));
    return;
  }
  const TrackRef track{receiver_pid(), Stage::undecoded};
  declare(track);
  const std::string name = event.name != nullptr ? std::string(event.name)
                                                 : "unknown event id " + std::to_string(event.id);
  format_->undecoded(track, event, name, record.problem());
}

void TimelineModel::add_decoded(const EventView &event, const DecodedRecord &record,
                                const EventPlacement &placement) {
  const bool render = format_->needs_rendering() || !placement.kind || !placement.counters.empty();
  payload_.clear();
  if (render) record.print(printer_.printer());
  const std::optional<uint32_t> session = placement.kind
                                              ? record_session(*placement.kind, record.data())
                                              : session_in_rendering(payload_.view());
  const TrackRef track{session ? pid_of_session(*session) : receiver_pid(), placement.stage};
  declare(track);
  RecordEvent placed{RecordPhase::instant,
                     0,
                     FlowStep::none,
                     0,
                     track,
                     event.timestamp,
                     placement.name,
                     placement.kind,
                     record.data(),
                     payload_.view()};
  if (placement.kind) {
    placed.phase = span_phase(*placement.kind, session, track, &placed.held_slot);
    placed.flow_step = flow_step(*placement.kind, session, record.data(), &placed.flow_id);
  }
  format_->record(placed);
  add_counters(event, placement, track);
  if (placement.kind && session && roles_of(*placement.kind).ends_session) end_session(*session);
}

// A begin is held until its end; the end closes it when it is the innermost
// open slice of its track, so that slices always nest.
RecordPhase TimelineModel::span_phase(EventKind kind, std::optional<uint32_t> session,
                                      const TrackRef &track, uint32_t *slot) {
  const KindRoles &roles = roles_of(kind);
  if (roles.span_begin >= 0) {
    const uint64_t key = (process_key(session) << 8) | static_cast<uint64_t>(roles.span_begin);
    if (open_spans_.count(key) != 0) close_span(key, RecordPhase::instant);
    if (open_spans_.size() >= kMaxOpenSpans) {
      ++unpaired_;
      return RecordPhase::instant;
    }
    if (free_slots_.empty()) free_slots_.push_back(next_slot_++);
    *slot = free_slots_.back();
    free_slots_.pop_back();
    open_spans_.emplace(key, OpenSpan{*slot, track});
    open_on_track_[track_number(track)].push_back(*slot);
    return RecordPhase::held_begin;
  }
  if (roles.span_end < 0) return RecordPhase::instant;
  const uint64_t key = (process_key(session) << 8) | static_cast<uint64_t>(roles.span_end);
  const auto open = open_spans_.find(key);
  const std::vector<uint32_t> *on_track =
      open == open_spans_.end() ? nullptr : &open_on_track_[track_number(open->second.track)];
  if (on_track == nullptr || track_number(open->second.track) != track_number(track) ||
      on_track->back() != open->second.slot) {
    if (open != open_spans_.end()) close_span(key, RecordPhase::instant);
    ++unpaired_;
    return RecordPhase::instant;
  }
  close_span(key, RecordPhase::slice_begin);
  ++slices_;
  return RecordPhase::slice_end;
}

// Writes the held begin as begin_phase and forgets it.
void TimelineModel::close_span(uint64_t key, RecordPhase begin_phase) {
  const auto open = open_spans_.find(key);
  const OpenSpan span = open->second;
  open_spans_.erase(open);
  std::vector<uint32_t> &on_track = open_on_track_[track_number(span.track)];
  on_track.erase(std::find(on_track.begin(), on_track.end(), span.slot));
  if (on_track.empty()) open_on_track_.erase(track_number(span.track));
  free_slots_.push_back(span.slot);
  if (begin_phase != RecordPhase::slice_begin) ++unpaired_;
  format_->release(span.slot, begin_phase);
}

// Nothing of an ended session continues: its open begins stay instants and
// its keys start new flows.
void TimelineModel::end_session(uint32_t session_id) {
  const uint64_t session = process_key(session_id);
  std::vector<uint64_t> keys;
  for (const auto &[key, span] : open_spans_)
    if ((key >> 8) == session) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  for (const uint64_t key : keys) close_span(key, RecordPhase::instant);
  std::erase_if(flows_, [&](const auto &flow) { return flow.first.session == session; });
}

FlowStep TimelineModel::flow_step(EventKind kind, std::optional<uint32_t> session, const void *data,
                                  uint64_t *flow_id) {
  const FlowRole &role = flow_role_of(kind);
  if (role.spec < 0 || !session) return FlowStep::none;
  const FlowSpec &spec = kFlowSpecs[role.spec];
  const std::optional<uint64_t> key = record_keys(kind, data).key(spec.key);
  if (!key) return FlowStep::none;
  const FlowKey flow{static_cast<uint32_t>(role.spec), process_key(session), *key};
  if (role.step == FlowStep::first) {
    const auto known = flows_.find(flow);
    if (known == flows_.end() && flows_.size() >= kMaxOpenFlows) {
      ++flows_not_drawn_;
      return FlowStep::none;
    }
    *flow_id = next_flow_id_++;
    flows_[flow] = *flow_id;
    return FlowStep::first;
  }
  const auto known = flows_.find(flow);
  if (known == flows_.end()) return FlowStep::none;
  *flow_id = known->second;
  if (role.step == FlowStep::last) flows_.erase(known);
  return role.step;
}

void TimelineModel::finish(const std::string &input_name, const std::string &input_error) {
  std::vector<uint64_t> keys;
  for (const auto &[key, span] : open_spans_) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  for (const uint64_t key : keys) close_span(key, RecordPhase::instant);
  format_->finish(input_name, input_error, records_);
}

// A field that is not a number (a NaN volume renders as null) gives no sample.
void TimelineModel::add_counters(const EventView &event, const EventPlacement &placement,
                                 const TrackRef &track) {
  for (const CounterRule &rule : placement.counters) {
    const std::optional<std::string_view> value = find_member(payload_.view(), rule.field);
    if (value && is_json_number(*value)) format_->counter(track, rule, event.timestamp, *value);
  }
}

}  // namespace vxtrace
