// The realistic mix: a receiver at work, with faults injected when asked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "generate/event_emitter.h"
#include "generate/fault_injector.h"
#include "generate/generated_kinds.h"
#include "generate/new_session.h"
#include "generate/splitmix64.h"

namespace vxtrace {

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
      faults_->take_due_silences(
          emitter.now_ns(), [&](size_t fault, uint64_t count) { queue_silences(fault, count); });
    while (pending_.empty()) start_activity();
    const Step step = pop_pending();
    SessionState &session = session_by_id(step.session_id);
    const bool ok = emitter.emit(step.kind, session);
    if (step.kind == kind_index(EventKind::network_session_destroyed)) end_session(step.session_id);
    // Counted as written: silences still queued when the trace ends are not
    // in it.
    if (step.silence_fault != kNoFault && ok)
      faults_->silence_written(step.silence_fault, emitter.now_ns());
    if (faults_ != nullptr) lose_packet_if_planned(step, emitter);
    return ok;
  }

 private:
  static constexpr uint32_t kNoFault = UINT32_MAX;

  struct Step {
    size_t kind;
    uint32_t session_id;
    uint32_t silence_fault = kNoFault;  // the silence fault that injected it (index in the plan)
  };

  struct Activity {
    double weight;
    std::vector<size_t> chain;
  };

  void queue_silences(size_t fault, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
      push_front({kind_index(EventKind::audio_sink_write_silence), live_session().id,
                  static_cast<uint32_t>(fault)});
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

}  // namespace vxtrace
