#include "generate/generator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "generate/payload_writer.h"
#include "io/progress.h"
#include "schema/event_kind.h"

namespace vxtrace {
namespace {

// How each kind is written, in the catalogue's order (indexed by EventKind).
struct KindWriter {
  std::string_view name;
  void (*write)(ValueModel &, PayloadBuffer &);
  bool video;  // reports video times and sizes
};

constexpr bool concerns_video(std::string_view name) {
  return name.find("video") != std::string_view::npos ||
         name.find("cursor") != std::string_view::npos;
}

constexpr KindWriter kKinds[] = {
#define VX_EVENT(short_name, payload_type) \
  {"/velocast/" #short_name, &write_payload<payload_type>, concerns_video(#short_name)},
#include "events/catalogue.def"
};
constexpr size_t kKindCount = std::size(kKinds);
static_assert(kKindCount == kEventKindCount);

constexpr size_t kind_index(EventKind kind) {
  return static_cast<size_t>(kind);
}

std::vector<size_t> kind_indexes(std::initializer_list<EventKind> kinds) {
  std::vector<size_t> indexes;
  for (EventKind kind : kinds) indexes.push_back(kind_index(kind));
  return indexes;
}

std::string make_url(SplitMix64 &rng, uint32_t session_id) {
  static constexpr std::string_view kHosts[] = {"media.example.com", "cdn.example.net",
                                                "10.0.0.12:8080"};
  std::string url = "https://" + std::string(kHosts[rng.below(std::size(kHosts))]) + "/s" +
                    std::to_string(session_id) + "/";
  // Lengths from a few dozen bytes to long signed urls.
  const size_t extra = rng.chance(0.2) ? rng.below(1500) : rng.below(40);
  for (size_t i = 0; i < extra; ++i)
    url.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[rng.below(36)]);
  return url + ".m3u8";
}

// Applies a FaultPlan while the trace is written and keeps the account of
// what each fault left behind, by the rules a reader applies: a stall shows
// in each session at its first displayed frame after the pause; a packet
// that never leaves its stage is flushed by its session's audio flushes and
// lost otherwise; a stage of fixed latency is left that long after the
// entering record just before.
class FaultInjector {
 public:
  FaultInjector(const FaultPlan &plan, FaultAccount *account) : plan_(plan), account_(account) {
    std::sort(plan_.stalls.begin(), plan_.stalls.end(),
              [](const auto &a, const auto &b) { return a.after_ns < b.after_ns; });
    account_->losses.clear();
    for (const FaultPlan::Loss &loss : plan_.losses) account_->losses.push_back({loss.stage});
    account_->latencies.clear();
    for (const FaultPlan::Latency &latency : plan_.latencies)
      account_->latencies.push_back({latency.stage, latency.latency_ns});
  }
  ~FaultInjector() {
    for (const OpenLoss &open : open_losses_) ++account_->losses[open.plan_index].lost;
  }

  // The timestamp of an event that would come at natural_ns.
  uint64_t timestamp_for(size_t kind, uint32_t session_id, uint64_t natural_ns) {
    if (const std::optional<uint64_t> fixed = fixed_exit_time(kind, session_id)) return *fixed;
    return natural_ns + pause_before(kind, natural_ns);
  }

  // Whether the last event entered a stage of fixed latency: nothing may come
  // between it and its leaving, whose time is fixed.
  bool holding_stage_open() const {
    for (const FaultPlan::Latency &latency : plan_.latencies)
      if (last_kind_ == kind_index(latency.stage->from)) return true;
    return false;
  }

  void after_emit(size_t kind, uint32_t session_id, uint64_t now_ns) {
    if (kind == kind_index(EventKind::video_stream_frame_displayed)) {
      auto previous = last_display_ns_.find(session_id);
      if (previous != last_display_ns_.end() && previous->second < last_pause_ns_)
        account_->stalls.push_back({session_id, now_ns, now_ns - previous->second});
      last_display_ns_[session_id] = now_ns;
    } else if (kind == kind_index(EventKind::audio_sink_write_silence)) {
      ++account_->silence_writes;
    } else if (kind == kind_index(EventKind::audio_reorder_buffer_flush)) {
      flush(session_id, LossStage::reorder);
    } else if (kind == kind_index(EventKind::audio_flush) ||
               kind == kind_index(EventKind::network_session_destroyed)) {
      flush(session_id, LossStage::reorder);
      flush(session_id, LossStage::decoder);
    }
    if (kind == kind_index(EventKind::network_session_destroyed))
      last_display_ns_.erase(session_id);
    last_kind_ = kind;
    last_session_id_ = session_id;
    last_ns_ = now_ns;
  }

  // Whether the packet that just entered stage is to stay there; counts it.
  bool lose_packet(LossStage stage, uint32_t session_id) {
    for (size_t i = 0; i < plan_.losses.size(); ++i) {
      if (plan_.losses[i].stage != stage || plan_.losses[i].count == 0) continue;
      --plan_.losses[i].count;
      open_losses_.push_back({session_id, stage, i});
      return true;
    }
    return false;
  }

  // Silence writes due at now_ns; they count as injected once written.
  uint64_t silences_due(uint64_t now_ns) {
    uint64_t due = 0;
    for (FaultPlan::Silence &silence : plan_.silences) {
      if (silence.count == 0 || now_ns - first_ns_ < silence.after_ns || first_ns_ == 0) continue;
      due += silence.count;
      silence.count = 0;
    }
    return due;
  }
  void silence_written() { ++account_->silences_injected; }

 private:
  struct OpenLoss {
    uint32_t session_id;
    LossStage stage;
    size_t plan_index;
  };

  // The pause to add before an event at now_ns.
  uint64_t pause_before(size_t kind, uint64_t now_ns) {
    if (first_ns_ == 0) first_ns_ = now_ns;
    if (kind != kind_index(EventKind::video_stream_frame_displayed) ||
        next_stall_ >= plan_.stalls.size() ||
        now_ns - first_ns_ < plan_.stalls[next_stall_].after_ns)
      return 0;
    last_pause_ns_ = now_ns;
    return plan_.stalls[next_stall_++].pause_ns;
  }

  // The entry's time and the stage's latency when kind leaves a stage of
  // fixed latency that the session's last event entered, and counts it.
  std::optional<uint64_t> fixed_exit_time(size_t kind, uint32_t session_id) {
    if (session_id != last_session_id_) return std::nullopt;
    for (size_t i = 0; i < plan_.latencies.size(); ++i) {
      const TimedStage &stage = *plan_.latencies[i].stage;
      if (kind != kind_index(stage.to) || last_kind_ != kind_index(stage.from)) continue;
      ++account_->latencies[i].keys;
      return last_ns_ + plan_.latencies[i].latency_ns;
    }
    return std::nullopt;
  }

  void flush(uint32_t session_id, LossStage stage) {
    auto flushed = [&](const OpenLoss &open) {
      if (open.session_id != session_id || open.stage != stage) return false;
      ++account_->losses[open.plan_index].flushed;
      return true;
    };
    open_losses_.erase(std::remove_if(open_losses_.begin(), open_losses_.end(), flushed),
                       open_losses_.end());
  }

  FaultPlan plan_;  // a copy, whose counts run down
  FaultAccount *account_;
  size_t next_stall_ = 0;
  uint64_t first_ns_ = 0;
  uint64_t last_pause_ns_ = 0;
  std::unordered_map<uint32_t, uint64_t> last_display_ns_;
  std::vector<OpenLoss> open_losses_;
  size_t last_kind_ = kKindCount;  // none yet
  uint32_t last_session_id_ = 0;
  uint64_t last_ns_ = 0;
};

// Writes events: each kind's definition before its first record, rising
// timestamps, and the state changes that a kind implies.
class EventEmitter {
 public:
  EventEmitter(vxt_writer *writer, SplitMix64 *rng, FaultInjector *faults)
      : writer_(writer), rng_(rng), model_(rng), faults_(faults) {}

  bool emit(size_t kind, SessionState &session) {
    if (ids_[kind] == 0 && !define(kind)) return false;
    now_ns_ += static_cast<uint64_t>(rng_->between(1000, 99000));
    if (faults_ != nullptr) now_ns_ = faults_->timestamp_for(kind, session.id, now_ns_);
    update_state(kind, session);
    model_.set_event(&session, now_ns_, kKinds[kind].video);
    payload_.clear();
    kKinds[kind].write(model_, payload_);
    const bool written = vxt_writer_write_event(writer_, ids_[kind], now_ns_, payload_.data(),
                                                static_cast<uint32_t>(payload_.size()));
    if (faults_ != nullptr) faults_->after_emit(kind, session.id, now_ns_);
    return written;
  }

  bool seen(size_t kind) const { return ids_[kind] != 0; }
  uint64_t now_ns() const { return now_ns_; }

 private:
  bool define(size_t kind) {
    ids_[kind] = next_id_++;
    const std::string name(kKinds[kind].name);
    return vxt_writer_define(writer_, ids_[kind], name.c_str());
  }

  void update_state(size_t kind, SessionState &s);

  vxt_writer *writer_;
  SplitMix64 *rng_;
  ValueModel model_;
  PayloadBuffer payload_;
  FaultInjector *faults_;
  std::array<uint32_t, kKindCount> ids_{};
  uint32_t next_id_ = 1;
  uint64_t now_ns_ = 1'000'000'000;
};

void EventEmitter::update_state(size_t kind, SessionState &s) {
  static const size_t audio_packet = kind_index(EventKind::audio_packet_received);
  static const size_t video_packet = kind_index(EventKind::video_packet_received);
  static const size_t cursor = kind_index(EventKind::video_stream_cursor_frame_displayed);
  static const size_t sink_write = kind_index(EventKind::audio_sink_write_data);
  static const size_t queue_push = kind_index(EventKind::media_audio_queue_push_packet);
  static const size_t silence_push = kind_index(EventKind::media_audio_queue_push_silence);
  static const size_t volume = kind_index(EventKind::audio_volume_changed);
  static const size_t buffer_fill = kind_index(EventKind::media_player_buffer_changed);
  static const size_t position = kind_index(EventKind::media_player_position_changed);
  static const size_t duration = kind_index(EventKind::media_player_duration_changed);
  static const size_t load = kind_index(EventKind::media_channel_load_media);
  static const size_t channel_seek = kind_index(EventKind::media_channel_seek);
  static const size_t mute = kind_index(EventKind::media_channel_set_muted);
  static const size_t state = kind_index(EventKind::media_player_media_state_changed);
  SplitMix64 &rng = *rng_;
  if (kind == audio_packet) {
    ++s.audio_packet_id;
    s.audio_time_us += 10'000;
    s.audio_data_size = static_cast<uint32_t>(rng.between(160, 1400));
  } else if (kind == video_packet) {
    s.video_time_us += 16'667;
    s.video_data_size = static_cast<uint32_t>(rng.chance(0.03) ? rng.between(60'000, 250'000)
                                                               : rng.between(2'000, 30'000));
    s.frame_slot = (s.frame_slot + 1) % 16;
  } else if (kind == cursor) {
    s.cursor_x = std::clamp(s.cursor_x + static_cast<float>(rng.between(-40, 40)), 0.0f, 1919.0f);
    s.cursor_y = std::clamp(s.cursor_y + static_cast<float>(rng.between(-25, 25)), 0.0f, 1079.0f);
  } else if (kind == sink_write) {
    s.total_written_frames += 480;
  } else if (kind == queue_push || kind == silence_push) {
    ++s.update_index;
    s.push_pos = (s.push_pos + 1920) % 48000;
  } else if (kind == volume) {
    s.volume = static_cast<float>(rng.between(0, 100)) / 100;
  } else if (kind == buffer_fill) {
    s.buffer_percent = static_cast<uint8_t>(rng.between(0, 100));
  } else if (kind == position) {
    s.time_value_us = s.audio_time_us;
  } else if (kind == duration) {
    s.time_value_us = s.duration_us;
  } else if (kind == load) {
    s.url = make_url(rng, s.id);
    s.duration_us = rng.chance(0.2) ? 0 : rng.between(30, 7200) * 1'000'000;
  } else if (kind == channel_seek) {
    s.time_value_us = s.duration_us > 0 ? rng.between(0, s.duration_us) : 0;
    s.audio_time_us = s.video_time_us = s.time_value_us;
  } else if (kind == mute) {
    s.muted = !s.muted;
  } else if (kind == state) {
    s.player_state = static_cast<uint16_t>(rng.between(0, 5));
  }
}

SessionState new_session(SplitMix64 &rng, uint32_t id) {
  SessionState s;
  s.id = id;
  s.device_id = rng.next();
  s.network_type = static_cast<uint32_t>(rng.between(0, 2));
  s.playback_delay_us = rng.between(40, 250) * 1000;
  s.audio_packet_id = rng.between(0, 1000);
  s.audio_codec = static_cast<uint32_t>(rng.between(1, 3));
  s.video_codec = static_cast<uint32_t>(rng.between(1, 2));
  s.sample_rate = rng.chance(0.8) ? 48000 : 44100;
  if (rng.chance(0.3)) {
    s.width = 1280;
    s.height = 720;
  }
  s.cursor_x = 960;
  s.cursor_y = 540;
  s.url = make_url(rng, id);
  s.duration_us = rng.between(30, 7200) * 1'000'000;
  return s;
}

// A receiver at work: sessions come and go, packets and frames flow through
// the pipelines, media is loaded, played and sought. Every so often an event
// kind not yet written is slipped in, so that long traces hold all kinds.
class RealisticScenario {
 public:
  RealisticScenario(uint64_t total_events, SplitMix64 *rng, FaultInjector *faults)
      : rng_(rng),
        faults_(faults),
        tour_interval_(std::clamp<uint64_t>(total_events / 128, 1, 50)) {
    start_session();
    start_session();
    queue_chain(kLoad, sessions_.front().id);
  }

  bool emit_next(EventEmitter &emitter) {
    // A kind to slip in or silence writes wait while a stage of fixed
    // latency is open.
    const bool may_interpose = faults_ == nullptr || !faults_->holding_stage_open();
    if (++emitted_ % tour_interval_ == 0) slip_in_due_ = true;
    if (slip_in_due_ && may_interpose) {
      slip_in_unseen_kind(emitter);
      slip_in_due_ = false;
    }
    if (faults_ != nullptr && may_interpose)
      queue_silences(faults_->silences_due(emitter.now_ns()));
    while (pending_.empty()) start_activity();
    const Step step = pop_pending();
    SessionState &session = session_by_id(step.session_id);
    const bool ok = emitter.emit(step.kind, session);
    if (step.kind == kind_index(EventKind::network_session_destroyed)) end_session(step.session_id);
    // Counted as written: silences still queued when the trace ends are not
    // in it.
    if (step.injected_silence && ok) faults_->silence_written();
    if (faults_ != nullptr) lose_packet_if_planned(step, emitter);
    return ok;
  }

 private:
  struct Step {
    size_t kind;
    uint32_t session_id;
    bool injected_silence = false;
  };

  struct Activity {
    double weight;
    std::vector<size_t> chain;
  };

  void queue_silences(uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
      push_front({kind_index(EventKind::audio_sink_write_silence), live_session().id, true});
  }

  // A packet kept in its stage: the rest of its way through the audio
  // pipeline is taken out of the queue.
  void lose_packet_if_planned(const Step &step, const EventEmitter &emitter) {
    static const std::vector<size_t> after_reorder = kind_indexes(
        {EventKind::audio_reorder_buffer_packet_sent, EventKind::audio_decoder_packet_received,
         EventKind::audio_decoder_packet_sent, EventKind::audio_queue_packet_received});
    static const std::vector<size_t> after_decoder = kind_indexes(
        {EventKind::audio_decoder_packet_sent, EventKind::audio_queue_packet_received});
    // Only a packet on its way through the chain (a kind slipped in on its
    // own is none), and only once every kind of the chain was written: a kind
    // never written would be slipped in on its own later, a packet of no one.
    const bool in_chain = !pending_.empty() && pending_.front().session_id == step.session_id &&
                          (pending_.front().kind == after_reorder.front() ||
                           pending_.front().kind == after_decoder.front());
    const bool chain_seen = std::all_of(after_reorder.begin(), after_reorder.end(),
                                        [&](size_t kind) { return emitter.seen(kind); });
    if (!in_chain || !chain_seen) return;
    const std::vector<size_t> *rest = nullptr;
    if (step.kind == kind_index(EventKind::audio_reorder_buffer_packet_received) &&
        faults_->lose_packet(LossStage::reorder, step.session_id))
      rest = &after_reorder;
    else if (step.kind == kind_index(EventKind::audio_decoder_packet_received) &&
             faults_->lose_packet(LossStage::decoder, step.session_id))
      rest = &after_decoder;
    if (rest == nullptr) return;
    for (size_t kind : *rest) {
      auto later = std::find_if(pending_.begin(), pending_.end(), [&](const Step &pending) {
        return pending.kind == kind && pending.session_id == step.session_id;
      });
      if (later != pending_.end()) {
        forget_end(*later);
        pending_.erase(later);
      }
    }
  }

  void queue_chain(const std::vector<size_t> &chain, uint32_t session_id) {
    for (size_t kind : chain) {
      pending_.push_back({kind, session_id});
      note_end(pending_.back());
    }
  }

  void start_session() {
    sessions_.push_back(new_session(*rng_, next_session_id_++));
    queue_chain(kSessionStart, sessions_.back().id);
  }

  // A new session begins and the oldest one still at work ends.
  void churn_sessions() {
    const SessionState *oldest = nullptr;
    for (const SessionState &s : sessions_)
      if (oldest == nullptr && !leaving(s.id)) oldest = &s;
    const uint32_t leaving_id = oldest != nullptr ? oldest->id : 0;
    start_session();
    if (leaving_id != 0) queue_chain(kSessionEnd, leaving_id);
  }

  void start_activity() {
    double pick = rng_->unit() * total_weight();
    for (const Activity &activity : activities_) {
      pick -= activity.weight;
      if (pick >= 0) continue;
      if (activity.chain.empty()) return churn_sessions();
      return queue_chain(activity.chain, live_session().id);
    }
    queue_chain(activities_.front().chain, live_session().id);
  }

  // The first kind neither written nor already slipped in goes to the front;
  // the kinds of a session's end come through a whole change of sessions.
  void slip_in_unseen_kind(const EventEmitter &emitter) {
    for (size_t kind = 0; kind < kKindCount; ++kind) {
      if (emitter.seen(kind) || slipped_in_[kind]) continue;
      if (std::find(kSessionEnd.begin(), kSessionEnd.end(), kind) != kSessionEnd.end()) {
        if (!churn_queued_) churn_sessions();
        churn_queued_ = true;
        continue;
      }
      push_front({kind, live_session().id});
      slipped_in_[kind] = true;
      return;
    }
  }

  SessionState &live_session() {
    // Sessions on their way out are not given new work.
    std::vector<size_t> live;
    for (size_t i = 0; i < sessions_.size(); ++i)
      if (!leaving(sessions_[i].id)) live.push_back(i);
    return sessions_[live.empty() ? 0 : live[rng_->below(live.size())]];
  }

  // Whether the session's end is queued. Kept as a count per session, so
  // that asking costs nothing however long the queue (a burst of injected
  // silences can make it millions of steps).
  bool leaving(uint32_t session_id) const {
    const auto found = ends_pending_.find(session_id);
    return found != ends_pending_.end() && found->second > 0;
  }

  void note_end(const Step &step) {
    if (step.kind == kSessionEnd.back()) ++ends_pending_[step.session_id];
  }
  void forget_end(const Step &step) {
    if (step.kind == kSessionEnd.back()) --ends_pending_[step.session_id];
  }
  void push_front(const Step &step) {
    pending_.push_front(step);
    note_end(step);
  }
  Step pop_pending() {
    const Step step = pending_.front();
    pending_.pop_front();
    forget_end(step);
    return step;
  }

  SessionState &session_by_id(uint32_t id) {
    for (SessionState &s : sessions_)
      if (s.id == id) return s;
    return sessions_.front();
  }

  void end_session(uint32_t id) {
    if (sessions_.size() <= 1) return;
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [id](const SessionState &s) { return s.id == id; }),
                    sessions_.end());
  }

  double total_weight() const {
    double total = 0;
    for (const Activity &activity : activities_) total += activity.weight;
    return total;
  }

  const std::vector<size_t> kSessionStart = kind_indexes(
      {EventKind::network_session_created, EventKind::headroom_watcher_delay_changed,
       EventKind::audio_config_changed, EventKind::audio_decoder_input_config_changed,
       EventKind::audio_decoder_output_config_changed, EventKind::audio_queue_input_config_changed,
       EventKind::audio_queue_output_config_changed, EventKind::video_config_changed,
       EventKind::video_decoder_config_changed, EventKind::stream_player_cursor_shape_changed});
  const std::vector<size_t> kSessionEnd = kind_indexes(
      {EventKind::audio_flush, EventKind::audio_reorder_buffer_flush, EventKind::audio_queue_flush,
       EventKind::video_decoder_begin_flush, EventKind::video_decoder_reset,
       EventKind::network_session_about_to_be_deleted, EventKind::network_session_destroyed});
  const std::vector<size_t> kLoad = kind_indexes(
      {EventKind::media_channel_load_media, EventKind::media_player_media_state_changed,
       EventKind::media_demuxer_probe_begin, EventKind::media_demuxer_probe_end,
       EventKind::media_demuxer_select_streams, EventKind::media_player_duration_changed,
       EventKind::media_player_seekable_changed, EventKind::media_video_stream_new_video_config,
       EventKind::media_audio_stream_new_audio_config,
       EventKind::media_audio_queue_change_sink_config, EventKind::media_channel_play,
       EventKind::media_player_is_playing});
  const std::vector<Activity> activities_ = {
      {40, kind_indexes(
               {EventKind::audio_packet_received, EventKind::audio_reorder_buffer_packet_received,
                EventKind::audio_reorder_buffer_packet_sent,
                EventKind::audio_decoder_packet_received, EventKind::audio_decoder_packet_sent,
                EventKind::audio_queue_packet_received, EventKind::media_audio_queue_push_packet,
                EventKind::audio_queue_read, EventKind::audio_sink_write_data})},
      {25, kind_indexes({EventKind::video_packet_received, EventKind::video_decoder_packet_received,
                         EventKind::video_decoder_update_begin, EventKind::video_decoder_update_end,
                         EventKind::video_decoder_frame_produced,
                         EventKind::video_stream_frame_received,
                         EventKind::video_stream_frame_displayed,
                         EventKind::video_stream_displayed_frame_consumed,
                         EventKind::video_decoder_frame_returned})},
      {6, kind_indexes({EventKind::video_stream_cursor_frame_displayed,
                        EventKind::video_stream_cursor_frame_displayed,
                        EventKind::video_stream_cursor_frame_displayed})},
      {10, kind_indexes({EventKind::media_demuxer_get_frame_begin,
                         EventKind::media_demuxer_get_frame_end,
                         EventKind::media_audio_stream_new_audio_packet,
                         EventKind::media_audio_sink_new_audio_packet,
                         EventKind::media_video_stream_new_video_packet,
                         EventKind::media_video_sink_new_decoded_video,
                         EventKind::media_video_sink_frame_displayed,
                         EventKind::media_player_position_changed})},
      {3, kind_indexes({EventKind::media_player_buffer_changed,
                        EventKind::media_video_stream_encoded_buffer_size_changed,
                        EventKind::media_audio_stream_encoded_buffer_size_changed,
                        EventKind::media_audio_sink_buffer_size_changed})},
      {4, kind_indexes({EventKind::audio_sink_info, EventKind::audio_sink_clock_drift_update})},
      {2, kind_indexes(
              {EventKind::media_audio_queue_push_silence, EventKind::audio_sink_write_silence})},
      {1, kind_indexes(
              {EventKind::audio_packet_dropped_on_startup, EventKind::audio_sink_dropped_samples})},
      {1, kind_indexes({EventKind::video_stream_frame_dropped,
                        EventKind::media_video_sink_frame_dropped, EventKind::video_decoder_drop})},
      {1, kind_indexes({EventKind::audio_volume_changed})},
      {1, kLoad},
      {1, kind_indexes({EventKind::media_channel_seek, EventKind::media_demuxer_seek,
                        EventKind::video_decoder_seek, EventKind::media_video_stream_seek_begin,
                        EventKind::media_audio_stream_seek_begin, EventKind::media_video_sink_seek,
                        EventKind::media_audio_sink_seek, EventKind::media_video_stream_seek_end,
                        EventKind::media_audio_stream_seek_end,
                        EventKind::media_player_position_changed})},
      {0.3, {}},  // a session ends and another begins
  };

  SplitMix64 *rng_;
  FaultInjector *faults_;
  uint64_t tour_interval_;
  uint64_t emitted_ = 0;
  bool slip_in_due_ = false;
  std::array<bool, kKindCount> slipped_in_{};
  bool churn_queued_ = false;
  uint32_t next_session_id_ = 1;
  std::vector<SessionState> sessions_;
  std::deque<Step> pending_;
  std::unordered_map<uint32_t, uint32_t> ends_pending_;  // queued session ends, by session
};

// The benchmark mix: in every block of 100 events each kind appears exactly
// its weight's number of times, in shuffled order, over a handful of sessions.
class BenchScenario {
 public:
  explicit BenchScenario(SplitMix64 *rng) : rng_(rng) {
    for (const BenchMixEntry &entry : kBenchMix)
      deck_.insert(deck_.end(), entry.per_hundred, kind_index(entry.kind));
    for (uint32_t id = 1; id <= 4; ++id) sessions_.push_back(new_session(*rng_, id));
  }

  bool emit_next(EventEmitter &emitter) {
    if (next_card_ >= deck_.size()) shuffle();
    return emitter.emit(deck_[next_card_++], sessions_[rng_->below(sessions_.size())]);
  }

 private:
  void shuffle() {
    for (size_t i = deck_.size() - 1; i > 0; --i) std::swap(deck_[i], deck_[rng_->below(i + 1)]);
    next_card_ = 0;
  }

  SplitMix64 *rng_;
  std::vector<size_t> deck_;
  size_t next_card_ = SIZE_MAX;
  std::vector<SessionState> sessions_;
};

template <class Scenario>
bool run_scenario(Scenario &scenario, EventEmitter &emitter, uint64_t events, Progress *progress) {
  for (uint64_t i = 0; i < events; ++i) {
    if (!scenario.emit_next(emitter)) return false;
    if (progress != nullptr) progress->update(i + 1, i + 1);
  }
  return true;
}

// Later events average within 0.1% of the first ones' size: the margin covers
// that and the file system's own blocks.
constexpr double kSizeMargin = 1.02;

// The bytes of a whole trace of `events` events, written nowhere; 0 when they
// cannot be counted.
double written_size(uint64_t events, uint64_t seed, EventMix mix) {
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink < 0) return 0;
  double size = 0;
  if (vxt_writer *writer = vxt_writer_open_fd(sink, nullptr)) {
    const bool written = write_synthetic_trace(writer, events, seed, mix, nullptr);
    const uint64_t bytes = vxt_writer_offset(writer);
    if (vxt_writer_close(writer, nullptr) && written) size = static_cast<double>(bytes);
  }
  close(sink);
  return size;
}

}  // namespace

bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress) {
  return write_synthetic_trace(writer, events, seed, mix, progress, FaultPlan{}, nullptr);
}

bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress, const FaultPlan &faults, FaultAccount *account) {
  SplitMix64 rng(seed);
  std::optional<FaultInjector> injector;
  if (!faults.empty() && account != nullptr) injector.emplace(faults, account);
  FaultInjector *injecting = injector ? &*injector : nullptr;
  EventEmitter emitter(writer, &rng, injecting);
  if (mix == EventMix::bench) {
    BenchScenario scenario(&rng);
    return run_scenario(scenario, emitter, events, progress);
  }
  RealisticScenario scenario(events, &rng, injecting);
  return run_scenario(scenario, emitter, events, progress);
}

double estimated_trace_size(uint64_t events, uint64_t seed, EventMix mix) {
  const uint64_t sample = std::min(events, kSizeSampleEvents);
  const double sample_size = written_size(sample, seed, mix);
  if (sample == 0) return sample_size;
  return sample_size / static_cast<double>(sample) * static_cast<double>(events) * kSizeMargin;
}

size_t synthetic_event_kind_count() {
  return kKindCount;
}

}  // namespace vxtrace
