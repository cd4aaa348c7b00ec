// Benchmarks of the native timeline writer, per item written:
//
//   native/packet_instant        audio_packet_received (a nested packet of
//                                five fields plus one field) as an instant
//                                whose arguments come from the payload walk
//   native/packet_instant_flow   the same taking part in a flow
//   native/session_instant       an instant whose payload is a session id
//   native/counter               an integer counter value
//   libprotobuf/packet_instant   the packet of native/packet_instant built
//                                with message classes generated from
//                                perfetto_subset.proto and serialized: the
//                                library's cost for the same bytes
//
// Each reports items per second and bytes per item (its time is the time per
// item). The output goes to a sink that only counts it. The values repeat
// every million items (a 50 s stretch of a trace), so that the bytes per item
// do not depend on the number of iterations.
//
// And the timeline command's path in each format, per record of a generated
// trace held in memory (reading, decoding, the model and the format, into a
// file in memory):
//
//   timeline/<json|perfetto>/<realistic|bench>
//
// reporting records per second (items_per_second) and bytes per record. --records=N (default
// 1000000) sets the records of the two traces.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/decoded_record.h"
#include "core/plugin_loader.h"
#include "core/record_allocator.h"
#include "core/trace_session.h"
#include "generate/generator.h"
#include "perfetto_subset.pb.h"
#include "schema/event_kind.h"
#include "text/output_sink.h"
#include "timeline/payload_annotations.h"
#include "timeline/perfetto_timeline.h"
#include "timeline/perfetto_writer.h"
#include "timeline/timeline_model.h"
#include "timeline/timeline_writer.h"
#include "vexlo/velocast_payloads.h"

namespace {

using vxtrace::EventKind;

constexpr uint64_t kStartNs = 1'000'000'000;
constexpr uint64_t kStepNs = 50'000;
constexpr uint64_t kPeriod = 1'000'000;

uint64_t timestamp_of(uint64_t i) {
  return kStartNs + i % kPeriod * kStepNs;
}

// The payload of the i-th audio packet, with values of a plausible session.
audio_packet_received_payload audio_packet(uint64_t i, uint64_t timestamp) {
  i %= kPeriod;
  audio_packet_received_payload record{};
  record.packet.session_id = 3;
  record.packet.id = static_cast<int64_t>(500 + i);
  record.packet.rtp_timestamp = record.packet.id * 480 + 90000;
  record.packet.playback_timestamp_us = static_cast<int64_t>(60'000'000 + i * 10'000);
  record.packet.data_size = static_cast<uint32_t>(160 + i % 1240);
  record.velocast_system_time_us = static_cast<int64_t>(timestamp / 1000);
  return record;
}

void report(benchmark::State &state, uint64_t bytes) {
  const auto items = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes_per_item"] = bytes / items;
}

struct CountingSink {
  uint64_t *bytes;
  void operator()(std::string_view piece) const {
    benchmark::DoNotOptimize(piece.data());
    *bytes += piece.size();
  }
};

// The writer with one session's network track, as a timeline has it.
struct NativeSetup {
  uint64_t sunk = 0;
  vxtrace::PerfettoWriter writer{CountingSink{&sunk}};
  vxtrace::PayloadAnnotations annotations{&writer};
  vxtrace::TrackId session = writer.add_process_track("session 3", 4);
  vxtrace::TrackId network = writer.add_child_track(session, "network", 0);
  vxtrace::CategoryId category = writer.intern_category("audio");

  // Excludes the setup's packets from the per-item bytes.
  uint64_t bytes_before = writer.bytes();
};

void native_packet_instant(benchmark::State &state, bool with_flow) {
  NativeSetup setup;
  const vxtrace::EventNameId name = setup.writer.intern_event_name("audio_packet_received");
  uint64_t i = 0;
  for (auto _ : state) {
    const uint64_t timestamp = timestamp_of(i);
    const audio_packet_received_payload record = audio_packet(i, timestamp);
    const uint64_t flow = (uint64_t{3} << 32) ^ static_cast<uint64_t>(record.packet.id);
    setup.writer.begin_event({vxtrace::TrackEventType::instant, setup.network, timestamp, name,
                              setup.category,
                              with_flow ? std::span(&flow, 1) : std::span<const uint64_t>()});
    setup.annotations.add(EventKind::audio_packet_received, &record);
    setup.writer.end_event();
    ++i;
  }
  setup.writer.finish();
  report(state, setup.writer.bytes() - setup.bytes_before);
}

void native_session_instant(benchmark::State &state) {
  NativeSetup setup;
  const vxtrace::EventNameId name = setup.writer.intern_event_name("media_player_is_playing");
  const session_payload record{3};
  uint64_t i = 0;
  for (auto _ : state) {
    setup.writer.begin_event(
        {vxtrace::TrackEventType::instant, setup.network, timestamp_of(i++), name, setup.category});
    setup.annotations.add(EventKind::media_player_is_playing, &record);
    setup.writer.end_event();
  }
  setup.writer.finish();
  report(state, setup.writer.bytes() - setup.bytes_before);
}

void native_counter(benchmark::State &state) {
  NativeSetup setup;
  const vxtrace::TrackId counter =
      setup.writer.add_counter_track(setup.session, "audio sink delay", "frames", 100);
  setup.bytes_before = setup.writer.bytes();
  uint64_t i = 0;
  for (auto _ : state) {
    setup.writer.add_counter(counter, timestamp_of(i), static_cast<int64_t>(900 + i % 400));
    ++i;
  }
  setup.writer.finish();
  report(state, setup.writer.bytes() - setup.bytes_before);
}

// The same packet through the library: one reused TracePacket message,
// cleared and filled per item, serialized and framed as a Trace's packet.
void libprotobuf_packet_instant(benchmark::State &state) {
  perfetto::protos::TracePacket packet;
  std::string out;
  out.reserve(size_t{1} << 21);
  uint64_t sunk = 0;
  constexpr uint64_t kNames[] = {1, 2, 3, 4, 5, 6, 7};  // packet, its five fields, the last field
  uint64_t i = 0;
  for (auto _ : state) {
    const uint64_t timestamp = timestamp_of(i);
    const audio_packet_received_payload record = audio_packet(i, timestamp);
    packet.Clear();
    packet.set_timestamp(timestamp);
    packet.set_trusted_packet_sequence_id(1);
    packet.set_sequence_flags(2);
    perfetto::protos::TrackEvent *event = packet.mutable_track_event();
    event->set_type(perfetto::protos::TrackEvent::TYPE_INSTANT);
    event->set_track_uuid(2);
    event->set_name_iid(1);
    event->add_category_iids(1);
    perfetto::protos::DebugAnnotation *nested = event->add_debug_annotations();
    nested->set_name_iid(kNames[0]);
    const int64_t fields[] = {record.packet.session_id, record.packet.id,
                              record.packet.rtp_timestamp, record.packet.playback_timestamp_us,
                              record.packet.data_size};
    for (int f = 0; f < 5; ++f) {
      perfetto::protos::DebugAnnotation *entry = nested->add_dict_entries();
      entry->set_name_iid(kNames[1 + f]);
      entry->set_int_value(fields[f]);
    }
    perfetto::protos::DebugAnnotation *last = event->add_debug_annotations();
    last->set_name_iid(kNames[6]);
    last->set_int_value(record.velocast_system_time_us);
    // The Trace's packet field: tag, length, bytes.
    const size_t size = packet.ByteSizeLong();
    out.push_back(0x0A);
    for (size_t length = size;; length >>= 7) {
      out.push_back(static_cast<char>((length & 0x7F) | (length >= 0x80 ? 0x80 : 0)));
      if (length < 0x80) break;
    }
    packet.AppendToString(&out);
    if (out.size() >= (size_t{1} << 20)) {
      sunk += out.size();
      benchmark::DoNotOptimize(out.data());
      out.clear();
    }
    ++i;
  }
  report(state, sunk + out.size());
}

// ---- The timeline command's path ----

vxtrace::Plugin g_plugin;

// A file in memory: written like the command's output file, its size read
// back, emptied for the next run.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("vx_timeline_bench", 0)) {}
  ~MemoryFile() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }
  uint64_t size() const {
    struct stat status {};
    return fstat(fd_, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  }
  void empty() {
    if (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0) std::perror("memfd");
  }

 private:
  int fd_;
};

std::vector<uint8_t> generated_trace(uint64_t records, vxtrace::EventMix mix) {
  MemoryFile file;
  vxt_writer *writer = vxt_writer_open_fd(file.fd(), nullptr);
  if (writer == nullptr) return {};
  const bool written = vxtrace::write_synthetic_trace(writer, records, 1, mix, nullptr);
  if (!vxt_writer_close(writer, nullptr) || !written) return {};
  std::vector<uint8_t> bytes(file.size());
  if (pread(file.fd(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    return {};
  return bytes;
}

enum class Format { json, perfetto };

std::unique_ptr<vxtrace::TimelineFormat> make_format(Format format, vxtrace::OutputSink *sink) {
  if (format == Format::json) return std::make_unique<vxtrace::JsonTimeline>(sink);
  return std::make_unique<vxtrace::PerfettoTimeline>(
      [sink](std::string_view bytes) { sink->append(bytes); });
}

// What run_timeline does between opening the input and closing the output.
uint64_t write_timeline(const std::vector<uint8_t> &trace, Format format, MemoryFile *out) {
  vxt_reader *reader = vxt_reader_open_memory(trace.data(), trace.size(), "trace", nullptr);
  vxtrace::TraceSession session(g_plugin.api(), reader);
  vxtrace::OutputSink sink(out->fd());
  const std::unique_ptr<vxtrace::TimelineFormat> timeline = make_format(format, &sink);
  vxtrace::TimelineModel model(timeline.get());
  vxtrace::RecordAllocator allocator;
  vxtrace::EventView event;
  while (session.next(&event)) {
    const vxtrace::DecodedRecord record(event, session.iterator(), &allocator);
    model.add(0, event, record);
  }
  model.finish("trace", "");
  sink.flush();
  return model.records();
}

void timeline_path(benchmark::State &state, Format format, const std::vector<uint8_t> *trace) {
  MemoryFile out;
  uint64_t records = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    out.empty();
    records += write_timeline(*trace, format, &out);
    bytes += out.size();
  }
  state.SetItemsProcessed(static_cast<int64_t>(records));
  state.counters["bytes_per_record"] = records == 0 ? 0 : static_cast<double>(bytes) / records;
}

// Takes --records=N out of the arguments.
uint64_t take_records_option(int *argc, char **argv) {
  constexpr std::string_view kPrefix = "--records=";
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp(argv[i], kPrefix.data(), kPrefix.size()) != 0) continue;
    const uint64_t records = std::strtoull(argv[i] + kPrefix.size(), nullptr, 10);
    for (int j = i; j + 1 < *argc; ++j) argv[j] = argv[j + 1];
    --*argc;
    return records;
  }
  return 1000000;
}

bool register_timeline_benchmarks(uint64_t records) {
  std::string error;
  if (!g_plugin.load(VX_PLUGIN_PATH, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  vxtrace::silence_plugin_logs(g_plugin.api());
  static const std::vector<uint8_t> realistic =
      generated_trace(records, vxtrace::EventMix::realistic);
  static const std::vector<uint8_t> bench = generated_trace(records, vxtrace::EventMix::bench);
  if (realistic.empty() || bench.empty()) {
    std::fprintf(stderr, "could not generate the traces\n");
    return false;
  }
  for (const auto &[mix, trace] :
       {std::pair{"realistic", &realistic}, std::pair{"bench", &bench}}) {
    for (const auto &[name, format] :
         {std::pair{"json", Format::json}, std::pair{"perfetto", Format::perfetto}}) {
      benchmark::RegisterBenchmark(("timeline/" + std::string(name) + "/" + mix).c_str(),
                                   timeline_path, format, trace)
          ->Unit(benchmark::kMillisecond);
    }
  }
  return true;
}

}  // namespace

BENCHMARK_CAPTURE(native_packet_instant, packet_instant, false)->Name("native/packet_instant");
BENCHMARK_CAPTURE(native_packet_instant, packet_instant_flow, true)
    ->Name("native/packet_instant_flow");
BENCHMARK(native_session_instant)->Name("native/session_instant");
BENCHMARK(native_counter)->Name("native/counter");
BENCHMARK(libprotobuf_packet_instant)->Name("libprotobuf/packet_instant");

int main(int argc, char **argv) {
  const uint64_t records = take_records_option(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!register_timeline_benchmarks(records)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
