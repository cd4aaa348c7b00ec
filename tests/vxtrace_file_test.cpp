// The trace file reader and writer, in-process: round trips over every kind of
// input, the iterator's reader contract, refused headers, format limits and
// damaged input.
#ifdef VX_VXTRACE_PATH

#include "vexlo/vxtrace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <thread>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"

namespace vxtrace_test {
namespace {

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

// Payloads larger than the mapping window, and records straddling window
// edges, come out whole.
TEST(VxtraceFileTest, LargeFileCrossesMappingWindows) {
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

void PrintTo(const RefusedHeader &header, std::ostream *out) { *out << header.label; }

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

TEST(VxtraceFileTest, WriterRefusesWhatTheFormatCannotHold) {
  TemporaryDirectory directory;
  vxt_writer *writer = vxt_writer_open_path(directory.file("w.vxt").c_str(), nullptr);
  EXPECT_FALSE(vxt_writer_define(writer, VXT_MAX_DEFINED_ID + 1, "/x"));
  EXPECT_EQ(vxt_writer_error(writer)->status, VXT_INVALID_ARGUMENT);
  vxt_error error{};
  EXPECT_FALSE(vxt_writer_close(writer, &error));
  EXPECT_EQ(error.status, VXT_INVALID_ARGUMENT);

  const std::string long_name(VXT_MAX_NAME_LENGTH + 1, 'n');
  for (const char *name : {"", long_name.c_str()}) {
    writer = vxt_writer_open_path(directory.file("w.vxt").c_str(), nullptr);
    EXPECT_FALSE(vxt_writer_define(writer, 1, name));
    EXPECT_FALSE(vxt_writer_close(writer, nullptr));
  }
  writer = vxt_writer_open_path(directory.file("w.vxt").c_str(), nullptr);
  EXPECT_TRUE(vxt_writer_define(writer, VXT_MAX_DEFINED_ID, long_name.substr(1).c_str()));
  EXPECT_FALSE(vxt_writer_write_event(writer, 1, 0, "", VXT_MAX_PAYLOAD_SIZE + 1));
  EXPECT_FALSE(vxt_writer_close(writer, nullptr));
}

TEST(VxtraceFileTest, WriterReportsAFailedWrite) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  vxt_writer *writer = vxt_writer_open_fd(full, nullptr);
  vxt_writer_write_event(writer, 1, 0, "abcd", 4);
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

void PrintTo(const DamagedRecord &record, std::ostream *out) { *out << record.label; }

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
