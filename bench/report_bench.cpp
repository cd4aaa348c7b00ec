// Records per second through the report builder, on decoded records held in
// memory (no reading or decoding): a pipeline mix in which packets and frames
// pass every stage, over a few sessions. The records lie one after another in
// feeding order, as warm as a record the reader has just decoded.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "report/report_builder.h"
#include "vexlo/velocast_payloads.h"

namespace {

using vxtrace::EventKind;

struct Record {
  uint64_t t;
  EventKind kind;
  std::shared_ptr<void> payload;
  size_t size;
};

// The records' payloads copied in feeding order into one block.
struct FeedingOrder {
  explicit FeedingOrder(const std::vector<Record> &records) {
    size_t bytes = 0;
    for (const Record &record : records) bytes += (record.size + 15) / 16 * 16;
    block.resize(bytes / 16);
    auto *at = reinterpret_cast<unsigned char *>(block.data());
    for (const Record &record : records) {
      std::memcpy(at, record.payload.get(), record.size);
      payloads.push_back(at);
      at += (record.size + 15) / 16 * 16;
    }
  }
  struct alignas(16) Unit {
    unsigned char bytes[16];
  };
  std::vector<Unit> block;
  std::vector<const void *> payloads;
};

class MixMaker {
 public:
  std::vector<Record> make(size_t count) {
    while (records_.size() < count) next_activity();
    std::stable_sort(records_.begin(), records_.end(),
                     [](const Record &a, const Record &b) { return a.t < b.t; });
    records_.resize(count);
    return std::move(records_);
  }

 private:
  template <class Payload>
  void add(uint64_t t, EventKind kind, const Payload &payload) {
    records_.push_back({t, kind, std::make_shared<Payload>(payload), sizeof(Payload)});
  }

  uint64_t jitter(uint64_t most) { return random_() % most; }

  void next_activity() {
    now_ += 20'000 + jitter(60'000);
    const auto session = static_cast<uint32_t>(random_() % 4 + 1);
    const uint64_t pick = random_() % 100;
    if (pick < 50) return audio_packet(session);
    if (pick < 80) return video_frame(session);
    if (pick < 95) return sink_write();
    add(now_, EventKind::audio_sink_clock_drift_update,
        audio_sink_clock_drift_payload{static_cast<int64_t>(jitter(100'000)) - 50'000, 0, 0, 0});
  }

  void audio_packet(uint32_t session) {
    const int64_t id = ++audio_ids_[session];
    audio_packet_received_payload received{};
    received.packet = {session, id, id * 480, id * 10'000, 960};
    uint64_t t = now_;
    add(t, EventKind::audio_packet_received, received);
    for (EventKind kind :
         {EventKind::audio_reorder_buffer_packet_received,
          EventKind::audio_reorder_buffer_packet_sent, EventKind::audio_decoder_packet_received,
          EventKind::audio_decoder_packet_sent, EventKind::audio_queue_packet_received})
      add(t += 10'000 + jitter(500'000), kind, received.packet);
  }

  void video_frame(uint32_t session) {
    const int64_t ts = ++video_timestamps_[session] * 16'667;
    const uint64_t address = 0x10000 + (static_cast<uint64_t>(ts) % 16) * 0x1000;
    uint64_t t = now_;
    add(t, EventKind::video_packet_received,
        video_packet_received_payload{video_packet_payload{session, 1, 9000, ts, 0}, 0});
    add(t += jitter(200'000), EventKind::video_decoder_packet_received,
        video_packet_payload{session, 1, 9000, ts, 0});
    add(t, EventKind::video_decoder_update_begin,
        video_decoder_update_begin_payload{session, 1, 2, 1});
    add(t += jitter(300'000), EventKind::video_decoder_update_end,
        video_decoder_update_end_payload{session, 1, 2, 1, 1});
    video_frame_payload frame{};
    frame.session_id = session;
    frame.timestamp = ts;
    frame.physical_address = address;
    for (EventKind kind :
         {EventKind::video_decoder_frame_produced, EventKind::video_stream_frame_received,
          EventKind::video_stream_frame_displayed})
      add(t += 100'000 + jitter(1'000'000), kind, frame);
    add(t += jitter(2'000'000), EventKind::video_stream_displayed_frame_consumed,
        video_frame_ref_payload{session, address});
    add(t += jitter(100'000), EventKind::video_decoder_frame_returned,
        video_frame_ref_payload{session, address});
  }

  void sink_write() {
    add(now_, EventKind::audio_queue_read, audio_queue_read_payload{480, 20'000, 1920, 1920});
    add(now_ + 1000, EventKind::audio_sink_write_data,
        audio_sink_write_payload{100, 400, 480, 480});
  }

  std::mt19937_64 random_{1};
  uint64_t now_ = 1'000'000'000;
  int64_t audio_ids_[8] = {};
  int64_t video_timestamps_[8] = {};
  std::vector<Record> records_;
};

void BM_ReportBuilderPipelineMix(benchmark::State &state) {
  const std::vector<Record> records = MixMaker().make(static_cast<size_t>(state.range(0)));
  const FeedingOrder feeding(records);
  for (auto _ : state) {
    vxtrace::ReportBuilder builder;
    for (size_t i = 0; i < records.size(); ++i)
      builder.add(records[i].t, records[i].kind, feeding.payloads[i]);
    benchmark::DoNotOptimize(builder.finish());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(records.size()));
}
BENCHMARK(BM_ReportBuilderPipelineMix)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
