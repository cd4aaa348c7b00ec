// vxtrace stats on traces made for it: exact counts, failures and bytes per
// event name, whatever the trace does with its ids.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

struct Tally {
  uint64_t count = 0;
  uint64_t failures = 0;
  uint64_t payload_bytes = 0;
  bool operator==(const Tally &) const = default;
};

void PrintTo(const Tally &tally, std::ostream *out) {
  *out << "{count " << tally.count << ", failures " << tally.failures << ", bytes "
       << tally.payload_bytes << "}";
}

class VxtraceStatsTest : public testing::Test {
 protected:
  // stats --json of the trace that write makes, with its totals.
  json stats_of(const std::function<void(vxt_writer *)> &write) {
    const std::string path = directory_.file("trace.vxt");
    write_file(path, build_trace(write));
    const ProcessResult result =
        run_vxtrace({"stats", "--json", "--quiet", "--no-progress", path}, directory_.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return json::parse(result.out);
  }

  static std::map<std::string, Tally> tallies_of(const json &stats) {
    std::map<std::string, Tally> tallies;
    for (const json &event : stats.at("events"))
      tallies[event.at("event")] = {event.at("count"), event.at("decode_failures"),
                                    event.at("payload_bytes")};
    return tallies;
  }

  TemporaryDirectory directory_;
};

// Names without a decoder live in the reader's copies, which are freed when
// their id is bound again; the next name of the same length tends to get the
// same address. Every name must still be counted on its own.
TEST_F(VxtraceStatsTest, NamesRebindingTheSameIdsAreCountedApart) {
  constexpr int kNames = 400;
  constexpr uint32_t kIds[] = {5, 6, 7};
  std::map<std::string, Tally> expected;
  const json stats = stats_of([&](vxt_writer *writer) {
    uint64_t timestamp = 0;
    for (int i = 0; i < kNames; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/x/name%03d", i);
      const uint32_t id = kIds[i % 3];
      ASSERT_TRUE(vxt_writer_define(writer, id, name));
      const int events = 1 + i % 4;
      for (int e = 0; e < events; ++e) vxt_writer_write_event(writer, id, ++timestamp, "ab", 2);
      expected[name] = {uint64_t(events), uint64_t(events), 2u * events};
    }
  });
  EXPECT_EQ(tallies_of(stats), expected);
  EXPECT_EQ(stats["total"]["definitions"], kNames);
}

// A hostile trace may define millions of names: past 65536 the later ones
// are counted together (event null), and the totals stay exact.
TEST_F(VxtraceStatsTest, NamesPastTheBoundAreCountedTogether) {
  constexpr int kNames = 65536 + 3;
  const json stats = stats_of([&](vxt_writer *writer) {
    for (int i = 0; i < kNames; ++i) {
      const std::string name = "/x/" + std::to_string(i);
      vxt_writer_define(writer, 1 + i % 2, name.c_str());
      vxt_writer_write_event(writer, 1 + i % 2, i, "ab", 2);
    }
  });
  ASSERT_EQ(stats["events"].size(), 65537u);
  const json &others = stats["events"].back();
  EXPECT_TRUE(others["event"].is_null());
  EXPECT_EQ(others["count"], 3);
  EXPECT_EQ(others["payload_bytes"], 6);
  EXPECT_EQ(stats["total"]["events"], kNames);
}

// Every kind of failure is counted where it belongs: a short payload and a
// name without a decoder against their names, an unknown id only in the
// totals.
TEST_F(VxtraceStatsTest, FailuresAreCountedByKind) {
  const std::string flush(12, '\x01');
  const json stats = stats_of([&](vxt_writer *writer) {
    vxt_writer_define(writer, 1, "/velocast/audio_flush");
    vxt_writer_define(writer, 2, "/velocast/no_such_event");
    vxt_writer_write_event(writer, 1, 10, flush.data(), 12);
    vxt_writer_write_event(writer, 1, 11, flush.data(), 11);
    vxt_writer_write_event(writer, 1, 12, flush.data(), 12);
    vxt_writer_write_event(writer, 2, 13, flush.data(), 12);
    vxt_writer_write_event(writer, 2, 14, nullptr, 0);
    vxt_writer_write_event(writer, 9, 15, flush.data(), 3);
  });
  const std::map<std::string, Tally> expected = {{"/velocast/audio_flush", {3, 1, 35}},
                                                 {"/velocast/no_such_event", {2, 2, 12}}};
  EXPECT_EQ(tallies_of(stats), expected);
  EXPECT_EQ(stats["total"]["events"], 6);
  EXPECT_EQ(stats["total"]["unknown_ids"], 1);
  EXPECT_EQ(stats["events"][0]["event"], "/velocast/audio_flush") << "most frequent first";
}

}  // namespace
}  // namespace vxtrace_test

#endif
