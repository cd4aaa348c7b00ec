// The trace file reader and writer, in-process: round trips over every kind of
// input, the iterator's reader contract, refused headers, format limits and
// damaged input.
#ifdef VX_TRACE_FILE_LIBRARY_PATH

#include "vexlo/vxtrace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "support/loaded_library.hpp"
#include "support/temporary_files.h"
#include "support/vxtrace_trace_builder.h"

namespace vxtrace_test {
namespace {

#ifdef _WIN32
// The C runtime's descriptors, in binary mode as the library reads them.
constexpr int O_CLOEXEC = 0;
int pipe(int ends[2]) {
  return _pipe(ends, 1 << 16, _O_BINARY);
}
#endif

std::string payload_of(size_t size, uint8_t start) {
  std::string payload(size, '\0');
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(start + i * 7);
  return payload;
}

// Definitions, data records (one with an empty payload), a redefinition.
std::string small_trace() {
  return build_trace([](vxt_writer *writer) {
    vxt_writer_define(writer, 1, "/velocast/audio_flush");
    vxt_writer_write_event(writer, 1, 100, payload_of(12, 1).data(), 12);
    vxt_writer_define(writer, 70, "/velocast/audio_volume_changed");
    vxt_writer_write_event(writer, 70, 250, payload_of(8, 2).data(), 8);
    vxt_writer_write_event(writer, 9, 300, nullptr, 0);
    vxt_writer_define(writer, 1, "/velocast/audio_queue_flush");
    vxt_writer_write_event(writer, 1, UINT64_MAX, payload_of(40, 3).data(), 40);
  });
}

std::vector<ReadRecord> small_trace_records() {
  return {{true, 1, 0, "/velocast/audio_flush"},
          {false, 1, 100, payload_of(12, 1)},
          {true, 70, 0, "/velocast/audio_volume_changed"},
          {false, 70, 250, payload_of(8, 2)},
          {false, 9, 300, ""},
          {true, 1, 0, "/velocast/audio_queue_flush"},
          {false, 1, UINT64_MAX, payload_of(40, 3)}};
}

TEST(VxtraceFileTest, MemoryRoundTripKeepsEveryRecordInOrder) {
  const ReadResult result = read_all(small_trace());
  EXPECT_EQ(result.records, small_trace_records());
  EXPECT_EQ(result.error.status, VXT_OK);
  EXPECT_FALSE(result.stalled);
}

TEST(VxtraceFileTest, MappedFileAndPipeReadLikeMemory) {
  TemporaryDirectory directory;
  const std::string path = directory.file("small.vxt");
  const std::string bytes = small_trace();
  write_file(path, bytes);
  EXPECT_EQ(read_all(vxt_reader_open_path(path.c_str(), nullptr)).records, small_trace_records());

  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  std::thread feeder([&] {
    // Dribble the bytes so that records arrive split across reads.
    for (size_t at = 0; at < bytes.size(); at += 5)
      (void)!write(pipe_ends[1], bytes.data() + at, std::min<size_t>(5, bytes.size() - at));
    close(pipe_ends[1]);
  });
  vxt_reader *reader = vxt_reader_open_fd(pipe_ends[0], "pipe", nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(vxt_reader_size(reader), 0u);
  EXPECT_EQ(read_all(reader).records, small_trace_records());
  feeder.join();
  close(pipe_ends[0]);
}

// Payloads larger than the read window, and records straddling window
// edges, come out whole.
TEST(VxtraceFileTest, LargeFileCrossesReadWindows) {
  TemporaryDirectory directory;
  const std::string path = directory.file("large.vxt");
  const std::vector<size_t> sizes = {3u << 20, 9u << 20, 1, 5u << 20, 0, VXT_MAX_PAYLOAD_SIZE};
  vxt_writer *writer = vxt_writer_open_path(path.c_str(), nullptr);
  vxt_writer_define(writer, 2, "/big");
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string payload = payload_of(sizes[i], static_cast<uint8_t>(i));
    ASSERT_TRUE(vxt_writer_write_event(writer, 2, i, payload.data(),
                                       static_cast<uint32_t>(payload.size())));
  }
  ASSERT_TRUE(vxt_writer_close(writer, nullptr));
  const ReadResult result = read_all(vxt_reader_open_path(path.c_str(), nullptr));
  ASSERT_EQ(result.records.size(), sizes.size() + 1);
  for (size_t i = 0; i < sizes.size(); ++i)
    EXPECT_TRUE(result.records[i + 1].bytes == payload_of(sizes[i], static_cast<uint8_t>(i)))
        << "record " << i;
}

// A small read-ahead (for consumers of many inputs) reads the same records
// from a file and from a pipe: records larger than the window whole, the
// small ones around them after the buffer shrank back.
TEST(VxtraceFileTest, SmallReadWindowsReadEveryRecordWhole) {
  TemporaryDirectory directory;
  const std::string path = directory.file("mixed.vxt");
  const std::vector<size_t> sizes = {10, 100000, 10, 5000, 3, 70000, 1};
  const std::string bytes = build_trace([&](vxt_writer *writer) {
    vxt_writer_define(writer, 1, "/mixed");
    for (size_t i = 0; i < sizes.size(); ++i) {
      const std::string payload = payload_of(sizes[i], static_cast<uint8_t>(i));
      vxt_writer_write_event(writer, 1, i, payload.data(), static_cast<uint32_t>(payload.size()));
    }
  });
  write_file(path, bytes);
  const std::vector<ReadRecord> expected = read_all(bytes).records;
  ASSERT_EQ(expected.size(), sizes.size() + 1);
  for (const size_t window : {size_t{0}, size_t{4096}, size_t{65536}}) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_all(vxt_reader_open_fd_windowed(fd, "file", window, nullptr)).records, expected)
        << window;
    close(fd);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    std::thread feeder([&] {
      (void)!write(pipe_ends[1], bytes.data(), bytes.size());
      close(pipe_ends[1]);
    });
    EXPECT_EQ(read_all(vxt_reader_open_fd_windowed(pipe_ends[0], "pipe", window, nullptr)).records,
              expected)
        << window;
    feeder.join();
    close(pipe_ends[0]);
  }
}

TEST(VxtraceFileTest, ReadEventLeavesADefinitionForReadDefinition) {
  const std::string bytes = small_trace();
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  vx_event_data event{};
  vx_event_definition definition{};
  ASSERT_TRUE(callbacks.has_more(reader));
  EXPECT_FALSE(callbacks.read_event(reader, &event));
  EXPECT_FALSE(callbacks.read_event(reader, &event));
  ASSERT_TRUE(callbacks.read_definition(reader, &definition));
  const char *first_name = definition.name;
  EXPECT_FALSE(callbacks.read_definition(reader, &definition));
  ASSERT_TRUE(callbacks.read_event(reader, &event));
  vxt_event_info info{};
  ASSERT_TRUE(vxt_reader_last_event(reader, &info));
  EXPECT_EQ(info.offset, VXT_HEADER_SIZE + 5 + std::strlen(first_name) + 1);
  ASSERT_TRUE(callbacks.read_definition(reader, &definition));
  const char *second_name = definition.name;
  // A name stays valid while later records are read; only a redefinition of
  // its id (id 1 here) retires it.
  while (callbacks.has_more(reader))
    if (!callbacks.read_event(reader, &event)) callbacks.read_definition(reader, &definition);
  EXPECT_STREQ(second_name, "/velocast/audio_volume_changed");
  EXPECT_EQ(vxt_reader_definition_count(reader), 3u);
  EXPECT_EQ(vxt_reader_offset(reader), bytes.size());
  callbacks.close(reader);
  vxt_reader_close(reader);
}

TEST(VxtraceFileTest, RepeatedDefinitionReusesTheStoredName) {
  const std::string bytes = build_trace([](vxt_writer *writer) {
    vxt_writer_define(writer, 4, "/same");
    vxt_writer_define(writer, 4, "/same");
  });
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  vx_event_definition first{}, second{};
  ASSERT_TRUE(callbacks.read_definition(reader, &first));
  ASSERT_TRUE(callbacks.read_definition(reader, &second));
  EXPECT_EQ(first.name, second.name);
  vxt_reader_close(reader);
}

// The iterator quotes the replaced name in its log line for the redefinition,
// after read_definition has returned; the name must survive until then.
TEST(VxtraceFileTest, RedefinitionKeepsTheOldNameUntilTheNextCall) {
  const std::string bytes = build_trace([](vxt_writer *writer) {
    vxt_writer_define(writer, 4, "/old");
    vxt_writer_define(writer, 4, "/new");
  });
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  vx_event_definition first{}, second{};
  ASSERT_TRUE(callbacks.read_definition(reader, &first));
  ASSERT_TRUE(callbacks.read_definition(reader, &second));
  EXPECT_STREQ(first.name, "/old");
  EXPECT_STREQ(second.name, "/new");
  EXPECT_FALSE(callbacks.has_more(reader));
  EXPECT_STREQ(second.name, "/new");
  vxt_reader_close(reader);
}

struct RefusedHeader {
  const char *label;
  std::string bytes;
  const char *message;
};

void PrintTo(const RefusedHeader &header, std::ostream *out) {
  *out << header.label;
}

class VxtraceRefusedHeaderTest : public testing::TestWithParam<RefusedHeader> {};

TEST_P(VxtraceRefusedHeaderTest, IsRefusedAtOpen) {
  vxt_error error{};
  const std::string &bytes = GetParam().bytes;
  EXPECT_EQ(vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", &error), nullptr);
  EXPECT_EQ(error.status, VXT_NOT_A_TRACE);
  EXPECT_NE(std::strstr(error.message, GetParam().message), nullptr) << error.message;
}

std::string header_with(uint32_t version, uint32_t flags) {
  std::string header(VXT_MAGIC, VXT_MAGIC_SIZE);
  for (uint32_t value : {version, flags})
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<char>(value >> (8 * i)));
  return header;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, VxtraceRefusedHeaderTest,
    testing::Values(RefusedHeader{"empty", "", "truncated header"},
                    RefusedHeader{"text", "{\"timestamp\": 1}\n", "bad magic"},
                    RefusedHeader{"short_text", "ab", "bad magic"},
                    RefusedHeader{"magic_only", std::string(VXT_MAGIC, 8), "truncated header"},
                    RefusedHeader{"version_2", header_with(2, 0), "unsupported format version 2"},
                    RefusedHeader{"version_0", header_with(0, 0), "unsupported format version 0"},
                    RefusedHeader{"flags", header_with(1, 4), "unsupported header flags"}),
    [](const testing::TestParamInfo<RefusedHeader> &info) { return info.param.label; });

// The writer of the shared library, as a consumer links it: through the
// functions that it exports.
struct SharedWriter {
  decltype(&vxt_writer_open_path) open_path = nullptr;
  decltype(&vxt_writer_define) define = nullptr;
  decltype(&vxt_writer_write_event) write_event = nullptr;
  decltype(&vxt_writer_error) error = nullptr;
  decltype(&vxt_writer_close) close = nullptr;
};

const SharedWriter &shared_writer() {
  static const SharedWriter functions = [] {
    SharedWriter loaded;
    // Loaded once for the whole run, never unloaded.
    static const auto *library = new vx_test::LoadedLibrary(VX_TRACE_FILE_LIBRARY_PATH);
    if (!library->loaded()) return loaded;
    const auto load = [](auto *function, const char *name) {
      *function = library->symbol<std::remove_reference_t<decltype(*function)>>(name);
    };
    load(&loaded.open_path, "vxt_writer_open_path");
    load(&loaded.define, "vxt_writer_define");
    load(&loaded.write_event, "vxt_writer_write_event");
    load(&loaded.error, "vxt_writer_error");
    load(&loaded.close, "vxt_writer_close");
    return loaded;
  }();
  return functions;
}

// A definition (bytes is the name) or a data record (bytes is the payload).
struct RefusedCall {
  const char *label;
  bool definition;
  uint32_t id;
  const char *bytes;
  uint32_t payload_size;
  const char *message;
};

// A call with a value the format cannot hold is refused on its own: the
// records written before and after it are in the file, which closes whole.
TEST(VxtraceFileTest, WriterRefusesWhatTheFormatCannotHold) {
  const SharedWriter &lib = shared_writer();
  ASSERT_NE(lib.close, nullptr) << "cannot load " << VX_TRACE_FILE_LIBRARY_PATH;
  const std::string too_long(VXT_MAX_NAME_LENGTH + 1, 'n');
  const std::string longest(VXT_MAX_NAME_LENGTH, 'n');
  const char *kBadName = "event name must be 1 to 255 bytes long";
  const std::vector<RefusedCall> refusals = {
      {"id over the limit", true, VXT_MAX_DEFINED_ID + 1, "/x", 0, "event id 65536 is above"},
      {"empty name", true, 1, "", 0, kBadName},
      {"name too long", true, 1, too_long.c_str(), 0, kBadName},
      {"no name", true, 1, nullptr, 0, kBadName},
      {"payload over the limit", false, 1, "", VXT_MAX_PAYLOAD_SIZE + 1, "16777217 bytes is above"},
      {"no payload bytes", false, 1, nullptr, 4, "without its bytes"}};
  const std::vector<ReadRecord> written = {{true, VXT_MAX_DEFINED_ID, 0, longest},
                                           {false, VXT_MAX_DEFINED_ID, 10, "abcd"},
                                           {false, 7, 20, "ef"}};
  TemporaryDirectory directory;
  const std::string path = directory.file("w.vxt");
  for (const RefusedCall &refusal : refusals) {
    vxt_writer *writer = lib.open_path(path.c_str(), nullptr);
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(lib.define(writer, VXT_MAX_DEFINED_ID, longest.c_str()));
    EXPECT_TRUE(lib.write_event(writer, VXT_MAX_DEFINED_ID, 10, "abcd", 4));
    EXPECT_FALSE(refusal.definition
                     ? lib.define(writer, refusal.id, refusal.bytes)
                     : lib.write_event(writer, refusal.id, 0, refusal.bytes, refusal.payload_size))
        << refusal.label;
    EXPECT_EQ(lib.error(writer)->status, VXT_INVALID_ARGUMENT) << refusal.label;
    EXPECT_NE(std::strstr(lib.error(writer)->message, refusal.message), nullptr)
        << refusal.label << ": " << lib.error(writer)->message;
    EXPECT_TRUE(lib.write_event(writer, 7, 20, "ef", 2)) << refusal.label;
    EXPECT_EQ(lib.error(writer)->status, VXT_OK) << refusal.label;
    vxt_error error{VXT_IO_ERROR, 1, "stale"};
    EXPECT_TRUE(lib.close(writer, &error)) << refusal.label;
    EXPECT_EQ(error.status, VXT_OK) << refusal.label;
    const ReadResult result = read_all(vxt_reader_open_path(path.c_str(), nullptr));
    EXPECT_EQ(result.records, written) << refusal.label;
    EXPECT_EQ(result.error.status, VXT_OK) << refusal.label << ": " << result.error.message;
  }
}

// Unlike a refusal, a failed write is final: the file lacks bytes that later
// records would follow.
TEST(VxtraceFileTest, WriterReportsAFailedWrite) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  vxt_writer *writer = vxt_writer_open_fd(full, nullptr);
  vxt_writer_write_event(writer, 1, 0, "abcd", 4);
  // More than the writer buffers: the header and the first record must go.
  const std::string large(2u << 20, 'x');
  EXPECT_FALSE(vxt_writer_write_event(writer, 1, 0, large.data(), large.size()));
  EXPECT_EQ(vxt_writer_error(writer)->status, VXT_IO_ERROR);
  EXPECT_FALSE(vxt_writer_define(writer, 1, "/valid"));
  EXPECT_EQ(vxt_writer_error(writer)->status, VXT_IO_ERROR);
  vxt_error error{};
  EXPECT_FALSE(vxt_writer_close(writer, &error));
  EXPECT_EQ(error.status, VXT_IO_ERROR);
  close(full);
}

// ---- Damage ----

void put_u32(std::string *bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

struct DamagedRecord {
  const char *label;
  std::function<void(std::string *)> damage;  // applied to the bytes of small_trace()
  size_t complete_records;                    // records that still come out
  const char *message;
};

void PrintTo(const DamagedRecord &record, std::ostream *out) {
  *out << record.label;
}

class VxtraceDamagedRecordTest : public testing::TestWithParam<DamagedRecord> {};

TEST_P(VxtraceDamagedRecordTest, StopsAtTheDamageWithItsOffset) {
  std::string bytes = small_trace();
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  GetParam().damage(&bytes);
  const ReadResult result = read_all(bytes);
  const std::vector<ReadRecord> expected = small_trace_records();
  EXPECT_EQ(result.records, std::vector<ReadRecord>(
                                expected.begin(), expected.begin() + GetParam().complete_records));
  EXPECT_EQ(result.error.status, VXT_DAMAGED);
  EXPECT_EQ(result.error.offset, offsets[GetParam().complete_records]);
  EXPECT_NE(std::strstr(result.error.message, GetParam().message), nullptr) << result.error.message;
  EXPECT_NE(
      std::strstr(result.error.message, ("at byte " + std::to_string(result.error.offset)).c_str()),
      nullptr);
}

// small_trace(): definition at 16 (27 bytes), data record at 43 (29 bytes),
// definition at 72, data at 108, empty data at 133, definition at 150.
INSTANTIATE_TEST_SUITE_P(
    Records, VxtraceDamagedRecordTest,
    testing::Values(
        DamagedRecord{"unknown_tag", [](std::string *b) { (*b)[43] = 'X'; }, 1,
                      "unknown record tag 0x58"},
        DamagedRecord{"payload_past_the_end", [](std::string *b) { put_u32(b, 43 + 13, 5000); }, 1,
                      "5000 payload bytes announced"},
        DamagedRecord{"payload_over_limit",
                      [](std::string *b) { put_u32(b, 43 + 13, VXT_MAX_PAYLOAD_SIZE + 1); }, 1,
                      "more than the limit"},
        DamagedRecord{"id_over_limit", [](std::string *b) { put_u32(b, 72 + 1, 70000); }, 2,
                      "above the limit of 65535"},
        DamagedRecord{"empty_name", [](std::string *b) { (*b)[72 + 5] = '\0'; }, 2,
                      "empty event name"},
        DamagedRecord{"unterminated_name", [](std::string *b) { b->resize(72 + 10); }, 2,
                      "event name not terminated"},
        DamagedRecord{"name_too_long",
                      [](std::string *b) {
                        b->resize(72 + 5);
                        b->append(VXT_MAX_NAME_LENGTH + 1, 'n');
                        b->append(1, '\0');
                      },
                      2, "longer than 255 bytes"},
        DamagedRecord{"short_record_header", [](std::string *b) { b->resize(108 + 16); }, 3,
                      "header needs 17 bytes, 16 left"}),
    [](const testing::TestParamInfo<DamagedRecord> &info) { return info.param.label; });

// Messages name the input by the display name the caller gave, whichever
// way the reader was opened, at open and at damage; without a name they
// start with the problem itself.
TEST(VxtraceFileTest, MessagesNameTheInputAsTheCallerCalledIt) {
  std::string damaged = small_trace();
  damaged[43] = 'X';
  const std::string not_a_trace = "not a trace at all";
  const std::string path = testing::TempDir() + "vxtrace_named_input.vxt";
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(damaged.data(), 1, damaged.size(), file);
  std::fclose(file);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct Case {
    const char *label;
    std::function<vxt_reader *(vxt_error *)> open;
    std::string expected_start;
  };
  const Case cases[] = {
      {"memory",
       [&](vxt_error *e) {
         return vxt_reader_open_memory(damaged.data(), damaged.size(), "capture A", e);
       },
       "capture A: unknown record tag"},
      {"memory without a name",
       [&](vxt_error *e) {
         return vxt_reader_open_memory(damaged.data(), damaged.size(), nullptr, e);
       },
       "unknown record tag"},
      {"descriptor", [&](vxt_error *e) { return vxt_reader_open_fd(fd, "standard input", e); },
       "standard input: unknown record tag"},
      {"path", [&](vxt_error *e) { return vxt_reader_open_path(path.c_str(), e); },
       path + ": unknown record tag"},
      {"refused at open",
       [&](vxt_error *e) {
         return vxt_reader_open_memory(not_a_trace.data(), not_a_trace.size(), "capture B", e);
       },
       "capture B: not a trace file"},
      {"missing file", [&](vxt_error *e) { return vxt_reader_open_path("/nonexistent/x.vxt", e); },
       "/nonexistent/x.vxt: cannot open"},
  };
  for (const Case &c : cases) {
    vxt_error error{};
    vxt_reader *reader = c.open(&error);
    if (reader != nullptr) error = read_all(reader).error;
    EXPECT_EQ(std::string(error.message).rfind(c.expected_start, 0), 0u)
        << c.label << ": " << error.message;
  }
  close(fd);
  std::remove(path.c_str());
}

// Cut anywhere, the reader gives exactly the records that end before the
// cut, and reports damage unless the cut falls between records.
TEST(VxtraceDamageTest, EveryTruncationYieldsTheCompleteRecords) {
  const std::string bytes = small_trace();
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const std::vector<ReadRecord> expected = small_trace_records();
  for (size_t cut = VXT_HEADER_SIZE; cut < bytes.size(); ++cut) {
    const ReadResult result = read_all(bytes.substr(0, cut));
    size_t complete = 0;
    while (offsets[complete + 1] <= cut) ++complete;
    ASSERT_EQ(result.records,
              std::vector<ReadRecord>(expected.begin(), expected.begin() + complete))
        << "cut at " << cut;
    if (offsets[complete] == cut) {
      EXPECT_EQ(result.error.status, VXT_OK) << "cut at " << cut;
    } else {
      EXPECT_EQ(result.error.status, VXT_DAMAGED) << "cut at " << cut;
      EXPECT_EQ(result.error.offset, offsets[complete]) << "cut at " << cut;
    }
  }
}

// Reads count records the way an iterator does, leaving the reader open.
std::vector<ReadRecord> read_some(vxt_reader *reader, size_t count) {
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  std::vector<ReadRecord> records;
  vx_event_data event{};
  vx_event_definition definition{};
  while (records.size() < count && callbacks.has_more(reader)) {
    if (callbacks.read_event(reader, &event))
      records.push_back(
          {false, event.id, event.timestamp,
           std::string(static_cast<const char *>(event.payload), event.payload_size)});
    else if (callbacks.read_definition(reader, &definition))
      records.push_back({true, definition.id, 0, definition.name});
    else
      break;
  }
  return records;
}

// A trace of count records of 60,000 bytes each, so that a file shrunk while
// it is read is cut far beyond the bytes read so far.
std::string trace_of_large_records(uint32_t count) {
  return build_trace([count](vxt_writer *writer) {
    vxt_writer_define(writer, 1, "/velocast/audio_flush");
    for (uint32_t i = 0; i < count; ++i)
      vxt_writer_write_event(writer, 1, i, payload_of(60000, static_cast<uint8_t>(i)).data(),
                             60000);
  });
}

// Another process shrinks the file while it is read, far beyond the bytes
// read so far. The records before the new end come out; the one that it cuts
// (or that would start there) is reported as a change of the file, not as
// damage of the recording, by the whole file's reader and by a range's.
TEST(VxtraceDamageTest, FileShrunkWhileReadEndsAfterTheRecordsBeforeTheCut) {
  const std::string bytes = trace_of_large_records(200);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const std::vector<ReadRecord> whole = read_all(bytes).records;
  const size_t cut_record = offsets.size() / 2;
  // The range starts after the definition, which is replayed to it instead.
  const vxt_definition binding{1, "/velocast/audio_flush"};
  TemporaryDirectory directory;
  const std::string path = directory.file("shrinking.vxt");
  for (const bool range : {false, true}) {
    for (const uint64_t cut : {offsets[cut_record], offsets[cut_record] + 1000}) {
      const std::string where = (range ? "range, cut at " : "file, cut at ") + std::to_string(cut);
      write_file(path, bytes);
      const int fd = open(path.c_str(), O_RDWR);
      ASSERT_GE(fd, 0);
      vxt_reader *reader =
          range ? vxt_reader_open_range(fd, offsets[1], bytes.size(), &binding, 1, nullptr)
                : vxt_reader_open_fd(fd, "shrinking.vxt", nullptr);
      ASSERT_NE(reader, nullptr) << where;
      std::vector<ReadRecord> records = read_some(reader, 3);
      ASSERT_EQ(records.size(), 3u) << where;
      ASSERT_EQ(ftruncate(fd, static_cast<off_t>(cut)), 0);
      const ReadResult rest = read_all(reader);
      close(fd);
      records.insert(records.end(), rest.records.begin(), rest.records.end());
      EXPECT_EQ(records, std::vector<ReadRecord>(whole.begin(), whole.begin() + cut_record))
          << where;
      EXPECT_EQ(rest.error.status, VXT_DAMAGED) << where;
      EXPECT_EQ(rest.error.offset, offsets[cut_record]) << where;
      EXPECT_NE(std::strstr(rest.error.message, "the file changed while it was read"), nullptr)
          << where << ": " << rest.error.message;
      EXPECT_NE(std::strstr(rest.error.message,
                            ("at byte " + std::to_string(offsets[cut_record])).c_str()),
                nullptr)
          << where << ": " << rest.error.message;
    }
  }
}

// Shrinks the file at path through a descriptor of its own, as another
// process would.
void shrink_file(const std::string &path, uint64_t size) {
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_RDWR | _O_BINARY);
  ASSERT_GE(fd, 0) << "the reader keeps others from writing " << path;
  EXPECT_EQ(_chsize_s(fd, static_cast<long long>(size)), 0);
  _close(fd);
#else
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
#endif
}

// A file opened by path stays open to a recorder that writes it: shrunk by
// another writer while it is read, it ends after the records before the cut,
// reported as a change of the file.
TEST(VxtraceDamageTest, FileOpenedByPathCanBeShrunkByAnotherWriter) {
  const std::string bytes = trace_of_large_records(100);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const std::vector<ReadRecord> whole = read_all(bytes).records;
  const size_t cut_record = offsets.size() / 2;
  TemporaryDirectory directory;
  const std::string path = directory.file("recorded.vxt");
  write_file(path, bytes);
  vxt_reader *reader = vxt_reader_open_path(path.c_str(), nullptr);
  ASSERT_NE(reader, nullptr);
  std::vector<ReadRecord> records = read_some(reader, 3);
  shrink_file(path, offsets[cut_record] + 100);
  const ReadResult rest = read_all(reader);
  records.insert(records.end(), rest.records.begin(), rest.records.end());
  EXPECT_EQ(records, std::vector<ReadRecord>(whole.begin(), whole.begin() + cut_record));
  EXPECT_EQ(rest.error.status, VXT_DAMAGED);
  EXPECT_EQ(rest.error.offset, offsets[cut_record]);
  EXPECT_NE(std::strstr(rest.error.message, "the file changed while it was read"), nullptr)
      << rest.error.message;
}

// Random corruption never crashes, never stalls, and whatever comes out is
// made of records that lie inside the input.
TEST(VxtraceDamageTest, RandomByteFlipsAreSurvived) {
  const std::string original = small_trace();
  std::mt19937_64 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = original;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i)
      bytes[VXT_HEADER_SIZE + random() % (bytes.size() - VXT_HEADER_SIZE)] ^=
          static_cast<char>(1 + random() % 255);
    const ReadResult result = read_all(bytes);
    ASSERT_FALSE(result.stalled) << "round " << round;
    size_t total = VXT_HEADER_SIZE;
    for (const ReadRecord &record : result.records)
      total += record.definition ? 5 + record.bytes.size() + 1
                                 : VXT_EVENT_RECORD_HEADER_SIZE + record.bytes.size();
    if (result.error.status == VXT_OK) {
      EXPECT_EQ(total, bytes.size()) << "round " << round;
    } else {
      EXPECT_EQ(result.error.offset, total) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
