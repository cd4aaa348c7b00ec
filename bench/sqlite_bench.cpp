// Benchmark of loading a trace into SQLite (sqlite/sqlite_loader.h) on one
// core, over records of the bench mix (vxtrace generate --mix bench: the
// twelve most frequent kinds, exact counts in every block of 100, shuffled,
// four sessions, timestamps rising by 1 to 99 us) built directly as decoded
// payload structs, with values of the generator's magnitudes.
//
//   sqlite/load_mix   open, add every record, finish (meta, indexes, commit,
//                     rename)
//
// Counters: records_per_second (the whole load), add_per_second (the records
// alone), finish_s (meta, indexes, commit and sync), index_s (the two
// CREATE INDEX, timed again on the finished database, untimed in the load)
// and records_per_second_no_index (the whole load less index_s), and the
// same measured in this thread's CPU time (cpu_*), which a busy machine
// disturbs less; the database's bytes per record with and without its two
// indexes, against the trace file's (a 17-byte record header plus the packed
// payload), and their ratio. --records=N (default 1000000) sets the records
// per load, --db=PATH the output, removed after unless VX_SQLITE_BENCH_KEEP
// is set. Medians of several runs: --benchmark_repetitions=5.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "generate/generator.h"
#include "schema/payload_fields.h"
#include "sqlite/sqlite_loader.h"

namespace {

using Clock = std::chrono::steady_clock;
using vxtrace::EventKind;

constexpr uint32_t kRecordHeaderSize = 17;  // tag, id, timestamp, payload size

union AnyPayload {
  audio_packet_received_payload packet_received;
  push_packet_payload push_packet;
  audio_queue_read_payload queue_read;
  audio_sink_write_payload sink_write;
  video_frame_payload frame;
  video_packet_received_payload video_packet;
  video_decoder_update_end_payload update_end;
  session_payload session;
  get_frame_end_payload frame_end;
  audio_sink_info_payload sink_info;
  select_streams_payload select_streams;
  audio_volume_payload volume;
};

// The payload's packed size on the wire.
struct WireSize {
  uint32_t bytes = 0;
  template <class T>
  void field(const char *, T) {
    bytes += sizeof(T);
  }
  void blob(const char *, const byte_blob &blob) { bytes += 2 + blob.size; }
  void begin_record(const char *) {}
  void end_record() {}
};

struct Session {
  uint32_t id;
  int64_t packet_id = 1000;
  int64_t media_time_us = 0;
  uint64_t update_index = 0;
  uint64_t written_frames = 0;
  uint32_t frame_slot = 0;
};

// Fills a payload with values of the generator's magnitudes.
class ValueSource {
 public:
  explicit ValueSource(uint64_t seed) : random_(seed) {}

  void fill(EventKind kind, Session &s, uint64_t now_ns, AnyPayload *p) {
    std::memset(p, 0, sizeof *p);
    const audio_packet_payload packet{s.id, s.packet_id, s.packet_id * 480 + 90000, s.media_time_us,
                                      between(200, 1400)};
    switch (kind) {
      case EventKind::audio_packet_received:
        p->packet_received = {packet, static_cast<int64_t>(now_ns / 1000)};
        ++s.packet_id;
        s.media_time_us += 10000;
        break;
      case EventKind::media_audio_queue_push_packet:
        p->push_packet = {++s.update_index,
                          packet,
                          s.media_time_us,
                          between(20000, 80000),
                          48000,
                          between(0, 48000),
                          48000,
                          0,
                          0,
                          0,
                          480,
                          1};
        break;
      case EventKind::audio_queue_read:
        p->queue_read = {4096, between(8000, 40000), 1920, 1920};
        break;
      case EventKind::audio_sink_write_data:
        p->sink_write = {static_cast<int32_t>(between(0, 4096)),
                         static_cast<int32_t>(between(480, 3840)), 480, 480};
        s.written_frames += 480;
        break;
      case EventKind::video_stream_frame_displayed:
        s.frame_slot = (s.frame_slot + 1) % 8;
        p->frame = {s.id,
                    0x80000000ull + s.frame_slot * 0x800000ull,
                    between(20000, 90000),
                    s.media_time_us,
                    {1920, 1088, 1920, 1080, 0, 0},
                    0.25f * between(0, 7680),
                    0.25f * between(0, 4320),
                    1};
        break;
      case EventKind::video_packet_received:
        p->video_packet = {{s.id, 1, between(2000, 90000), s.media_time_us, 0.0f},
                           static_cast<int64_t>(now_ns / 1000)};
        break;
      case EventKind::video_decoder_update_end:
        p->update_end = {s.id, 2, between(0, 8), 1, 1};
        break;
      case EventKind::media_demuxer_get_frame_begin:
        p->session = {s.id};
        break;
      case EventKind::media_demuxer_get_frame_end:
        p->frame_end = {s.id, 0, 27, 86018, 0, between(200, 90000), s.media_time_us, 0};
        break;
      case EventKind::audio_sink_info:
        p->sink_info = {static_cast<int32_t>(between(0, 4096)),
                        static_cast<int32_t>(between(480, 3840)),
                        static_cast<int64_t>(now_ns),
                        static_cast<int64_t>(now_ns) - s.media_time_us * 1000,
                        s.written_frames,
                        static_cast<int32_t>(between(0, 8)) - 4,
                        between(20000, 80000)};
        break;
      case EventKind::media_demuxer_select_streams:
        p->select_streams = {s.id, 1, 0};
        break;
      case EventKind::audio_volume_changed:
        p->volume = {s.id, 0.01f * between(0, 100)};
        break;
      default:
        break;
    }
  }

  uint32_t between(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
  }
  std::mt19937_64 &random() { return random_; }

 private:
  std::mt19937_64 random_;
};

struct MixRecords {
  std::vector<AnyPayload> payloads;
  std::vector<vxtrace::LoadRecord> records;
  std::vector<std::string> names;  // by EventKind
  uint64_t trace_bytes = 0;
};

MixRecords make_mix(uint64_t count) {
  MixRecords mix;
  mix.payloads.resize(count);
  mix.records.reserve(count);
  mix.names.resize(vxtrace::kEventKindCount);
  std::vector<EventKind> block;
  for (const vxtrace::BenchMixEntry &entry : vxtrace::kBenchMix) {
    block.insert(block.end(), entry.per_hundred, entry.kind);
    mix.names[static_cast<size_t>(entry.kind)] =
        std::string(vxtrace::kEventNamePrefix) + std::string(vxtrace::short_name(entry.kind));
  }
  ValueSource values(1);
  Session sessions[4] = {{11}, {12}, {13}, {14}};
  uint64_t now_ns = 1000000000;
  for (uint64_t i = 0; i < count; ++i) {
    if (i % block.size() == 0) std::shuffle(block.begin(), block.end(), values.random());
    const EventKind kind = block[i % block.size()];
    now_ns += 1000 * values.between(1, 99);
    values.fill(kind, sessions[values.between(0, 3)], now_ns, &mix.payloads[i]);
    WireSize wire;
    vxtrace::visit_payload(kind, &mix.payloads[i], wire);
    mix.trace_bytes += kRecordHeaderSize + wire.bytes;
    const auto &name = mix.names[static_cast<size_t>(kind)];
    mix.records.push_back(
        {0, now_ns, static_cast<uint32_t>(kind) + 1, name, kind, &mix.payloads[i], {}, {}});
  }
  return mix;
}

// The bytes of the database's tables and of its indexes.
struct DatabaseSize {
  double total = 0;
  double indexes = 0;
};

DatabaseSize database_size(const std::string &path) {
  DatabaseSize size;
  sqlite3 *db = nullptr;
  sqlite3_stmt *query = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "SELECT (SELECT page_count * page_size FROM pragma_page_count,"
                         " pragma_page_size), (SELECT sum(pgsize) FROM dbstat WHERE name IN"
                         " ('events_timestamp', 'events_event'))",
                         -1, &query, nullptr) == SQLITE_OK &&
      sqlite3_step(query) == SQLITE_ROW) {
    size.total = sqlite3_column_double(query, 0);
    size.indexes = sqlite3_column_double(query, 1);
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return size;
}

std::string g_db_path = "/tmp/vx_sqlite_bench.db";
MixRecords g_mix;

// This thread's CPU time: on a shared machine the wall clock also counts the
// time other processes had the core.
double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Seconds {
  double wall = 0;
  double cpu = 0;
};

// The time the loader's two indexes take to build, measured by dropping and
// building them again on the finished database under the loader's bulk-load
// pragmas (sqlite/sqlite_loader.cpp). Zero when that fails.
Seconds index_build_time(const std::string &path) {
  sqlite3 *db = nullptr;
  const auto exec = [&](const char *sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  };
  Seconds spent;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -2048;"
           " BEGIN; DROP INDEX events_timestamp; DROP INDEX events_event")) {
    const Clock::time_point start = Clock::now();
    const double start_cpu = thread_cpu_seconds();
    if (exec("CREATE INDEX events_timestamp ON events (timestamp);"
             " CREATE INDEX events_event ON events (event)")) {
      spent.wall = std::chrono::duration<double>(Clock::now() - start).count();
      spent.cpu = thread_cpu_seconds() - start_cpu;
    }
    exec("COMMIT");
  }
  sqlite3_close(db);
  return spent;
}

void run_load(benchmark::State &state) {
  double add_seconds = 0, finish_seconds = 0, add_cpu = 0, finish_cpu = 0;
  Seconds index;
  DatabaseSize size;
  uint64_t records = 0;
  for (auto _ : state) {
    std::remove(g_db_path.c_str());
    vxtrace::SqliteLoader loader;
    const Clock::time_point start = Clock::now();
    const double start_cpu = thread_cpu_seconds();
    bool ok = loader.open({g_db_path, true, {"bench.vxt"}, "bench"});
    for (const auto &record : g_mix.records) ok = ok && loader.add_record(record);
    const Clock::time_point added = Clock::now();
    const double added_cpu = thread_cpu_seconds();
    ok = ok && loader.finish({});
    if (!ok) {
      state.SkipWithError(loader.error().c_str());
      return;
    }
    add_seconds += std::chrono::duration<double>(added - start).count();
    finish_seconds += std::chrono::duration<double>(Clock::now() - added).count();
    add_cpu += added_cpu - start_cpu;
    finish_cpu += thread_cpu_seconds() - added_cpu;
    records += g_mix.records.size();
    state.PauseTiming();
    size = database_size(g_db_path);  // before the indexes are built again
    const Seconds rebuilt = index_build_time(g_db_path);
    index.wall += rebuilt.wall;
    index.cpu += rebuilt.cpu;
    state.ResumeTiming();
  }
  const double count = static_cast<double>(g_mix.records.size());
  const double trace_per_record = static_cast<double>(g_mix.trace_bytes) / count;
  const double tables_per_record = (size.total - size.indexes) / count;
  const auto n = static_cast<double>(records);
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["records_per_second"] = n / (add_seconds + finish_seconds);
  state.counters["records_per_second_no_index"] = n / (add_seconds + finish_seconds - index.wall);
  state.counters["add_per_second"] = n / add_seconds;
  state.counters["finish_s"] = finish_seconds / iterations;
  state.counters["index_s"] = index.wall / iterations;
  state.counters["cpu_records_per_second"] = n / (add_cpu + finish_cpu);
  state.counters["cpu_records_per_second_no_index"] = n / (add_cpu + finish_cpu - index.cpu);
  state.counters["cpu_add_per_second"] = n / add_cpu;
  state.counters["cpu_finish_s"] = finish_cpu / iterations;
  state.counters["cpu_index_s"] = index.cpu / iterations;
  state.counters["trace_B_per_record"] = trace_per_record;
  state.counters["db_B_per_record"] = size.total / count;
  state.counters["db_B_per_record_no_index"] = tables_per_record;
  state.counters["no_index_vs_trace"] = tables_per_record / trace_per_record;
  if (std::getenv("VX_SQLITE_BENCH_KEEP") == nullptr) std::remove(g_db_path.c_str());
}

// Takes --name=VALUE out of the arguments.
std::string take_option(int *argc, char **argv, const std::string &name) {
  const std::string prefix = "--" + name + "=";
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) != 0) continue;
    std::string value = argv[i] + prefix.size();
    for (int j = i; j + 1 < *argc; ++j) argv[j] = argv[j + 1];
    --*argc;
    return value;
  }
  return {};
}

}  // namespace

int main(int argc, char **argv) {
  const std::string records = take_option(&argc, argv, "records");
  const std::string db = take_option(&argc, argv, "db");
  if (!db.empty()) g_db_path = db;
  g_mix = make_mix(records.empty() ? 1000000 : std::stoull(records));
  benchmark::RegisterBenchmark("sqlite/load_mix", run_load)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
