// Benchmarks of the dump path, over one trace of the bench mix (vxtrace
// generate --mix bench), all in one process so that they compare:
//
//   ceiling/mix           a serializer written directly for these events, no
//                         plug-in, no callbacks (the fastest a dump can be)
//   dump_path/mix         vxtrace dump's path: reader, plug-in iterator,
//                         decode, fast printer, release, into memory
//   merge/one_after_other, merge/two_inputs
//                         the trace twice, dumped as two single inputs one
//                         after the other, and merged by timestamp as two
//                         inputs (lines with "source"); the same timestamps
//                         make the merge switch inputs on every record
//   library/<event>, library/mix
//                         the plug-in alone: advance, decode and release,
//                         over records already in memory
//   library_print/<event>, library_print/mix
//                         the same plus print into a printer that does
//                         nothing: the cost of the rendering calls
//
// Each reports events per second, nanoseconds per event and its rate as a
// fraction of the ceiling's (vs_ceiling). Pass --trace=FILE to use a trace;
// without it one of --events=N (default 1000000) events is generated.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ceiling_serializer.h"
#include "core/decoded_record.h"
#include "core/plugin_loader.h"
#include "core/record_allocator.h"
#include "core/trace_session.h"
#include "dump/event_line_writer.h"
#include "generate/generator.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "select/merged_records.h"
#include "text/text_buffer.h"
#include "vexlo/vxtrace_file.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kSinkSize = size_t{1} << 20;

// ---- The trace ----

struct Record {
  bool definition = false;
  uint32_t id = 0;
  uint64_t timestamp = 0;
  const uint8_t *payload = nullptr;
  uint32_t payload_size = 0;
  const char *name = nullptr;
};

struct Trace {
  std::vector<uint8_t> bytes;
  std::vector<Record> records;  // definitions and data records, in file order
  uint64_t events = 0;
};

Trace g_trace;
vxtrace::Plugin g_plugin;
double g_ceiling_events_per_second = 0;

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The records of a trace written by vxtrace generate, which the reader has
// checked (see load_trace).
std::vector<Record> parse_records(const std::vector<uint8_t> &bytes) {
  std::vector<Record> records;
  const uint8_t *at = bytes.data() + VXT_HEADER_SIZE;
  const uint8_t *end = bytes.data() + bytes.size();
  while (at < end) {
    Record record;
    std::memcpy(&record.id, at + 1, 4);
    if (*at == VXT_TAG_DEFINITION) {
      record.definition = true;
      record.name = reinterpret_cast<const char *>(at + 5);
      at += 5 + std::strlen(record.name) + 1;
    } else {
      std::memcpy(&record.timestamp, at + 5, 8);
      std::memcpy(&record.payload_size, at + 13, 4);
      record.payload = at + VXT_EVENT_RECORD_HEADER_SIZE;
      at = record.payload + record.payload_size;
    }
    records.push_back(record);
  }
  return records;
}

bool load_trace(const std::string &path) {
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_path(path.c_str(), &error);
  if (reader == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.message);
    return false;
  }
  vxt_record_info info;
  while (vxt_reader_skip_record(reader, &info)) {
  }
  const bool whole = vxt_reader_error(reader)->status == VXT_OK;
  vxt_reader_close(reader);
  if (!whole) {
    std::fprintf(stderr, "%s: damaged trace\n", path.c_str());
    return false;
  }
  g_trace.bytes = read_file(path);
  g_trace.records = parse_records(g_trace.bytes);
  for (const Record &record : g_trace.records) g_trace.events += record.definition ? 0 : 1;
  return true;
}

// The definitions and the data records of one event name, with the payloads
// copied next to each other as they are in a trace of that event alone (in
// the mix they are spread over the whole file). storage must outlive them.
std::vector<Record> records_of(const std::string &name, std::vector<uint8_t> *storage) {
  std::vector<Record> selected;
  std::map<uint32_t, std::string> names;
  size_t payload_bytes = 0;
  for (const Record &record : g_trace.records) {
    if (record.definition) {
      names[record.id] = record.name;
      selected.push_back(record);
    } else if (names[record.id] == name) {
      selected.push_back(record);
      payload_bytes += record.payload_size;
    }
  }
  storage->resize(payload_bytes);
  uint8_t *at = storage->data();
  for (Record &record : selected) {
    if (record.definition) continue;
    std::memcpy(at, record.payload, record.payload_size);
    record.payload = at;
    at += record.payload_size;
  }
  return selected;
}

// ---- Reporting ----

void report_rate(benchmark::State &state, uint64_t events, Clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const double rate = seconds > 0 ? static_cast<double>(events) / seconds : 0;
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = rate > 0 ? 1e9 / rate : 0;
  state.counters["Mevents_per_s"] = rate / 1e6;
  if (g_ceiling_events_per_second > 0)
    state.counters["vs_ceiling"] = rate / g_ceiling_events_per_second;
}

// ---- The plug-in alone ----

struct ArrayReader {
  const std::vector<Record> *records;
  size_t next = 0;
};

bool array_has_more(void *user_data) {
  auto *reader = static_cast<ArrayReader *>(user_data);
  return reader->next < reader->records->size();
}

bool array_read_event(void *user_data, vx_event_data *out) {
  auto *reader = static_cast<ArrayReader *>(user_data);
  const Record &record = (*reader->records)[reader->next];
  if (record.definition) return false;
  out->id = record.id;
  out->timestamp = record.timestamp;
  out->payload = record.payload;
  out->payload_size = record.payload_size;
  ++reader->next;
  return true;
}

bool array_read_definition(void *user_data, vx_event_definition *out) {
  auto *reader = static_cast<ArrayReader *>(user_data);
  const Record &record = (*reader->records)[reader->next];
  if (!record.definition) return false;
  out->id = record.id;
  out->name = record.name;
  ++reader->next;
  return true;
}

void array_close(void *) {}

// One record lives at a time: a bump allocator over a block that is reused
// for every event.
struct BumpAllocator {
  alignas(16) unsigned char block[1 << 17];
  size_t used = 0;
};

void *bump_alloc(void *user_data, size_t size) {
  auto *bump = static_cast<BumpAllocator *>(user_data);
  const size_t rounded = (size + 15) & ~size_t{15};
  if (rounded > sizeof bump->block - bump->used) return nullptr;
  void *block = bump->block + bump->used;
  bump->used += rounded;
  return block;
}

void bump_free(void *, void *) {}

int print_nothing(void *, const char *, ...) {
  return 0;
}

void run_library(benchmark::State &state, const std::vector<Record> *records, bool print) {
  const vxtrace::PluginApi &api = g_plugin.api();
  auto bump = std::make_unique<BumpAllocator>();
  const vx_allocator allocator{bump.get(), bump_alloc, bump_free};
  const vx_printer printer{nullptr, print_nothing};
  uint64_t events = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    ArrayReader array{records};
    const vx_buffer_reader reader{&array, array_has_more, array_read_definition, array_read_event,
                                  array_close};
    vx_iterator_ops ops{};
    api.buffer_iterator_create(&reader, &ops);
    api.register_events(ops.iterator, ops.kind_name(ops.iterator));
    auto *iterator = static_cast<vx_buffer_iterator *>(ops.iterator);
    while (ops.advance(iterator)) {
      const vx_event_descriptor *descriptor = ops.current_event(iterator);
      ++events;
      if (descriptor == nullptr) continue;
      void *record = descriptor->decode(iterator, &allocator);
      if (print && record != nullptr) descriptor->print(record, &printer);
      descriptor->release(record, &allocator);
      bump->used = 0;
    }
    ops.destroy(iterator);
  }
  report_rate(state, events, Clock::now() - start);
}

// ---- dump's path and the ceiling ----

// dump's own loop, in either line format: JSON Lines or the readable text
// lines, whose cost per record should stay in JSON's class.
void run_dump_path(benchmark::State &state, vxtrace::LineFormat format) {
  const vxtrace::PluginApi &api = g_plugin.api();
  vxtrace::TextBuffer text(kSinkSize + kSinkSize / 4);
  vxtrace::RecordAllocator allocator;
  vxtrace::EventLineWriter writer(
      &text, vxtrace::read_only_segments_of(reinterpret_cast<const void *>(api.register_events)),
      format);
  uint64_t events = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    vxt_reader *reader =
        vxt_reader_open_memory(g_trace.bytes.data(), g_trace.bytes.size(), "trace", nullptr);
    vxtrace::TraceSession session(api, reader);
    vxtrace::EventView event;
    while (session.next(&event)) {
      const vxtrace::DecodedRecord record(event, session.iterator(), &allocator);
      writer.write(event, record);
      ++events;
      if (text.size() >= kSinkSize) {
        benchmark::DoNotOptimize(text.data());
        text.clear();
      }
    }
    text.clear();
  }
  report_rate(state, events, Clock::now() - start);
}

// Dumps the trace once per name, as merged inputs; returns the lines.
uint64_t dump_merged(const std::vector<std::string> &names, vxtrace::TextBuffer *text,
                     vxtrace::RecordAllocator *allocator) {
  const vxtrace::PluginApi &api = g_plugin.api();
  const std::vector<vxtrace::AddressRange> constant_text =
      vxtrace::read_only_segments_of(reinterpret_cast<const void *>(api.register_events));
  vxtrace::OpenedInput opened;
  std::vector<std::unique_ptr<vxtrace::EventLineWriter>> writers;
  for (const std::string &name : names) {
    vxt_reader *reader =
        vxt_reader_open_memory(g_trace.bytes.data(), g_trace.bytes.size(), name.c_str(), nullptr);
    opened.sources.push_back({name, name, std::make_unique<vxtrace::TraceSession>(api, reader)});
    writers.push_back(std::make_unique<vxtrace::EventLineWriter>(text, constant_text));
    if (names.size() > 1) writers.back()->set_source(name);
  }
  vxtrace::MergedRecords records(opened, vxtrace::Selection{}, false);
  uint64_t lines = 0;
  vxtrace::EventView event;
  while (records.next(&event)) {
    const vxtrace::DecodedRecord record(event, records.session()->iterator(), allocator);
    writers[records.source()]->write(event, record);
    ++lines;
    if (text->size() >= kSinkSize) {
      benchmark::DoNotOptimize(text->data());
      text->clear();
    }
  }
  text->clear();
  return lines;
}

void run_merge(benchmark::State &state, bool merged) {
  vxtrace::TextBuffer text(kSinkSize + kSinkSize / 4);
  vxtrace::RecordAllocator allocator;
  uint64_t events = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    if (merged) {
      events += dump_merged({"a.vxt", "b.vxt"}, &text, &allocator);
    } else {
      events += dump_merged({"a.vxt"}, &text, &allocator);
      events += dump_merged({"b.vxt"}, &text, &allocator);
    }
  }
  report_rate(state, events, Clock::now() - start);
}

void run_ceiling(benchmark::State &state) {
  vxbench::CeilingSerializer serializer;
  vxtrace::TextBuffer text(kSinkSize + kSinkSize / 4);
  uint64_t events = 0;
  const auto sink = [](vxtrace::TextBuffer *out) {
    benchmark::DoNotOptimize(out->data());
    out->clear();
  };
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    events +=
        serializer.serialize(g_trace.bytes.data(), g_trace.bytes.size(), &text, kSinkSize, sink);
    text.clear();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  g_ceiling_events_per_second = static_cast<double>(events) / seconds;
  report_rate(state, events, Clock::now() - start);
}

// ---- Setup ----

// FNV-1a over everything written: the ceiling must write what dump writes.
struct TextHash {
  uint64_t value = 14695981039346656037ull;
  void add(std::string_view text) {
    for (const char c : text) value = (value ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
};

bool ceiling_matches_dump() {
  const vxtrace::PluginApi &api = g_plugin.api();
  TextHash dump_hash, ceiling_hash;
  vxtrace::TextBuffer text(kSinkSize * 2);
  {
    vxtrace::RecordAllocator allocator;
    vxtrace::EventLineWriter writer(&text, {});
    vxtrace::TraceSession session(
        api, vxt_reader_open_memory(g_trace.bytes.data(), g_trace.bytes.size(), "trace", nullptr));
    vxtrace::EventView event;
    while (session.next(&event)) {
      const vxtrace::DecodedRecord record(event, session.iterator(), &allocator);
      writer.write(event, record);
      if (text.size() >= kSinkSize) {
        dump_hash.add(text.view());
        text.clear();
      }
    }
    dump_hash.add(text.view());
    text.clear();
  }
  vxbench::CeilingSerializer serializer;
  serializer.serialize(g_trace.bytes.data(), g_trace.bytes.size(), &text, kSinkSize,
                       [&](vxtrace::TextBuffer *out) {
                         ceiling_hash.add(out->view());
                         out->clear();
                       });
  ceiling_hash.add(text.view());
  return dump_hash.value == ceiling_hash.value;
}

// Takes --trace=FILE and --events=N out of the arguments.
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

std::string generate_trace(const std::string &events) {
  const std::string path = "/tmp/vx_bench_mix_" + events + ".vxt";
  const std::string command = std::string(VX_VXTRACE_PATH) +
                              " generate --force --mix bench --events " + events +
                              " --no-progress -o " + path;
  if (std::system(command.c_str()) != 0) return {};
  return path;
}

// The mix as a whole, each of its twelve event kinds alone, and the merge.
void register_benchmarks() {
  static std::vector<std::vector<Record>> per_event;
  static std::vector<std::vector<uint8_t>> payloads(std::size(vxtrace::kBenchMix));
  benchmark::RegisterBenchmark("ceiling/mix", run_ceiling)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("dump_path/mix", run_dump_path, vxtrace::LineFormat::json)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("dump_path_text/mix", run_dump_path, vxtrace::LineFormat::text)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("merge/one_after_other", run_merge, false)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("merge/two_inputs", run_merge, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("library/mix", run_library, &g_trace.records, false)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("library_print/mix", run_library, &g_trace.records, true)
      ->Unit(benchmark::kMillisecond);
  per_event.reserve(std::size(vxtrace::kBenchMix));
  for (const vxtrace::BenchMixEntry &entry : vxtrace::kBenchMix) {
    const std::string short_name(vxtrace::short_name(entry.kind));
    const std::string name = std::string(vxtrace::kEventNamePrefix) + short_name;
    per_event.push_back(records_of(name, &payloads[per_event.size()]));
    benchmark::RegisterBenchmark(("library/" + short_name).c_str(), run_library, &per_event.back(),
                                 false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("library_print/" + short_name).c_str(), run_library,
                                 &per_event.back(), true)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::string trace = take_option(&argc, argv, "trace");
  std::string events = take_option(&argc, argv, "events");
  if (trace.empty()) trace = generate_trace(events.empty() ? "1000000" : events);
  std::string error;
  if (trace.empty() || !load_trace(trace)) return 1;
  if (!g_plugin.load(VX_PLUGIN_PATH, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The plug-in's log lines would only disturb the timing; a bench trace has
  // none.
  if (!ceiling_matches_dump()) {
    std::fprintf(stderr, "the ceiling serializer does not write what dump writes\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
