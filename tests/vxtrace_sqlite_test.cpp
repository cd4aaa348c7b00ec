// vxtrace sqlite through the executable, its database read back with the
// sqlite3 shell: the rows are the records that stats counts and dump prints,
// damage is recorded, and no half file ever takes the output's name.
#ifdef VX_VXTRACE_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "generate/payload_writer.h"
#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

// Runs a query through the sqlite3 shell in JSON mode: one object per row.
json query(const std::string &database, const std::string &sql) {
  const std::string command = "sqlite3 -json -readonly '" + database + "' \"" + sql + "\"";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return json::array();
  std::string out;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return out.empty() ? json::array() : json::parse(out);
}

std::string meta(const std::string &database, const std::string &key) {
  const json rows = query(database, "SELECT value FROM meta WHERE key = '" + key + "'");
  return rows.empty() ? "" : rows[0]["value"].dump();
}

// dump's payload as the database lays it out: nested records flattened with
// "_", a blob {size, data} as NAME_size and the bytes of NAME in hex.
void flatten(const json &object, const std::string &prefix, json *columns) {
  for (const auto &[key, value] : object.items()) {
    const std::string name = prefix + key;
    if (value.is_object() && value.contains("data")) {
      std::string hex;
      for (const json &byte : value["data"]) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte.get<unsigned>());
        hex += digits;
      }
      (*columns)[name + "_size"] = value["size"];
      (*columns)[name] = hex;
    } else if (value.is_object()) {
      flatten(value, name + "_", columns);
    } else {
      (*columns)[name] = value;
    }
  }
}

// A database value against dump's: u64 above 2^63-1 read back as their bit
// pattern, floats as the float's exact value, blobs (selected as hex) as text.
bool same_value(const json &stored, const json &dumped) {
  if (dumped.is_number_unsigned() && stored.is_number_integer())
    return static_cast<uint64_t>(stored.get<int64_t>()) == dumped.get<uint64_t>();
  if (dumped.is_number_float() || stored.is_number_float())
    return stored.is_number() && dumped.is_number() &&
           static_cast<float>(stored.get<double>()) == static_cast<float>(dumped.get<double>());
  return stored == dumped;
}

// Record seq's row in its kind's table, blobs selected as hex and
// infinities, which JSON cannot hold, as null (as dump writes them).
json payload_row(const std::string &database, const std::string &table, size_t seq) {
  std::string columns;
  for (const json &column : query(database, "SELECT name, type FROM pragma_table_info('" + table +
                                                "') WHERE name != 'seq'")) {
    const std::string name = column["name"];
    std::string selected = name;
    if (column["type"] == "BLOB") selected = "hex(" + name + ") AS " + name;
    if (column["type"] == "REAL")
      selected = "iif(abs(" + name + ") > 1e308, NULL, " + name + ") AS " + name;
    columns += (columns.empty() ? "" : ", ") + selected;
  }
  const json rows = query(
      database, "SELECT " + columns + " FROM " + table + " WHERE seq = " + std::to_string(seq));
  return rows.empty() ? json::object() : rows[0];
}

// Record seq's rows in events and in its kind's table hold what dump printed
// for it, field for field.
void expect_as_dumped(const std::string &database, size_t seq, const json &dumped) {
  SCOPED_TRACE("seq " + std::to_string(seq) + ": " + dumped.dump().substr(0, 200));
  const json event = query(
      database, "SELECT timestamp, id, event FROM events WHERE seq = " + std::to_string(seq))[0];
  EXPECT_TRUE(same_value(event["timestamp"], dumped["timestamp"])) << event["timestamp"];
  EXPECT_EQ(event["id"], dumped["id"]);
  EXPECT_EQ(event["event"], dumped["event"]);
  const std::string name = dumped["event"];
  const std::string table = name.substr(name.rfind('/') + 1);
  const json row = payload_row(database, table, seq);
  json fields = json::object();
  flatten(dumped["payload"], "", &fields);
  ASSERT_EQ(row.size(), fields.size()) << row << "\n" << fields;
  for (const auto &[key, value] : fields.items())
    EXPECT_TRUE(same_value(row[key], value))
        << table << "." << key << ": " << row[key].dump().substr(0, 100) << " vs "
        << value.dump().substr(0, 100);
}

class VxtraceSqliteTest : public testing::Test {
 protected:
  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.end(), {"--quiet", "--no-progress"});
    return run_vxtrace(args, directory_.path());
  }

  std::string generate(const std::string &name, int events) {
    const std::string path = directory_.file(name);
    EXPECT_EQ(run_vxtrace({"generate", "-o", path, "--events", std::to_string(events), "--seed",
                           "7", "--no-progress"},
                          directory_.path())
                  .exit_status,
              0);
    return path;
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != ".stdout" && name != ".stderr") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TemporaryDirectory directory_;
};

// Every table holds as many rows as stats counts, and a sample of records
// reads back field for field as dump prints them.
TEST_F(VxtraceSqliteTest, RowsAreTheRecordsThatStatsCountsAndDumpPrints) {
  const std::string trace = generate("trace.vxt", 20000);
  const std::string db = directory_.file("trace.db");
  const ProcessResult loaded = run({"sqlite", "-o", db, trace});
  ASSERT_EQ(loaded.exit_status, 0) << loaded.err;
  const json stats = json::parse(run({"stats", "--json", trace}).out);

  std::map<std::string, uint64_t> expected, stored;
  for (const json &event : stats["events"]) {
    const std::string name = event["event"];
    expected[name] = event["count"];
    const std::string table = name.substr(name.rfind('/') + 1);
    stored[name] = query(db, "SELECT count(*) AS n FROM " + table)[0]["n"];
  }
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(query(db, "SELECT count(*) AS n FROM events")[0]["n"], stats["total"]["events"]);
  EXPECT_EQ(query(db, "SELECT count(*) AS n FROM definitions")[0]["n"],
            stats["total"]["definitions"]);
  EXPECT_EQ(meta(db, "status"), "\"complete\"");

  const std::vector<std::string> lines = split_lines(run({"dump", trace}).out);
  ASSERT_EQ(lines.size(), 20000u);
  for (size_t seq = 1; seq <= lines.size(); seq += 97)
    expect_as_dumped(db, seq, json::parse(lines[seq - 1]));
}

// Values at the ends of their types, recorded in a trace file, come out of the
// database as dump prints them, and as they were written: what one decoder
// would get wrong in both is caught by the second check.
TEST_F(VxtraceSqliteTest, ExtremeValuesReadBackAsDumpPrintsThemAndAsWritten) {
  constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();
  constexpr uint64_t kTwoTo63 = uint64_t{1} << 63;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  std::vector<uint8_t> url(65535);
  for (size_t i = 0; i < url.size(); ++i) url[i] = static_cast<uint8_t>(i * 7 + 3);
  const auto wire = [](const auto &payload) {
    vxtrace::PayloadBuffer buffer;
    vxtrace::encode(buffer, payload);
    return std::string(reinterpret_cast<const char *>(buffer.data()), buffer.size());
  };
  struct Case {
    const char *event;  // short name
    uint64_t timestamp;
    std::string payload;
    const char *stored;    // SQL on the record's rows in events and its table (p)
    const char *expected;  // what the shell prints for it
  };
  const Case cases[] = {
      {"network_session_created", 0, wire(network_session_payload{1, 7, 0}),
       "printf('%llu %llu', timestamp, device_id)", "0 0"},
      {"network_session_created", kTwoTo63, wire(network_session_payload{1, 7, kTwoTo63}),
       "printf('%llu %llu', timestamp, device_id)", "9223372036854775808 9223372036854775808"},
      {"network_session_created", kU64Max, wire(network_session_payload{1, 7, kU64Max}),
       "printf('%llu %llu', timestamp, device_id)", "18446744073709551615 18446744073709551615"},
      {"audio_flush", 1,
       wire(audio_flush_payload{0xFFFFFFFFu, std::numeric_limits<int64_t>::min()}),
       "p.session_id || ' ' || until_us", "4294967295 -9223372036854775808"},
      {"audio_volume_changed", 2, wire(audio_volume_payload{3, std::nanf("")}), "quote(volume)",
       "NULL"},
      {"audio_volume_changed", 3, wire(audio_volume_payload{3, kInfinity}), "quote(volume)", "Inf"},
      {"audio_volume_changed", 4, wire(audio_volume_payload{3, -kInfinity}), "quote(volume)",
       "-Inf"},
      {"media_channel_load_media", 5, wire(load_media_payload{4, {65535, url.data()}}),
       "url_size || ' ' || typeof(url) || ' ' || length(url) || ' ' || hex(substr(url, -3))",
       "65535 blob 65535 E7EEF5"},
      {"media_channel_load_media", 6, wire(load_media_payload{4, {0, nullptr}}),
       "url_size || ' ' || quote(url)", "0 X''"},
  };
  const std::string trace = directory_.file("extremes.vxt");
  write_file(trace, build_trace([&](vxt_writer *writer) {
               uint32_t id = 0;
               for (const Case &c : cases) {
                 ASSERT_TRUE(vxt_writer_define(writer, ++id,
                                               (std::string("/velocast/") + c.event).c_str()));
                 ASSERT_TRUE(vxt_writer_write_event(writer, id, c.timestamp, c.payload.data(),
                                                    static_cast<uint32_t>(c.payload.size())));
               }
             }));
  const std::string db = directory_.file("extremes.db");
  const ProcessResult loaded = run({"sqlite", "-o", db, trace});
  ASSERT_EQ(loaded.exit_status, 0) << loaded.err;
  const std::vector<std::string> lines = split_lines(run({"dump", trace}).out);
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t seq = 1; seq <= std::size(cases); ++seq) {
    const Case &c = cases[seq - 1];
    expect_as_dumped(db, seq, json::parse(lines[seq - 1]));
    const json stored =
        query(db, std::string("SELECT ") + c.stored + " AS v FROM events JOIN " + c.event +
                      " AS p USING (seq) WHERE seq = " + std::to_string(seq));
    ASSERT_EQ(stored.size(), 1u) << c.event;
    EXPECT_EQ(stored[0]["v"], std::string(c.expected)) << seq << ": " << c.stored;
  }
}

// A damaged input: every record before the damage, meta says where, exit 2.
// The output is never the input, and an existing file is replaced only with
// --force.
TEST_F(VxtraceSqliteTest, DamageIsRecordedAndOutputsAreGuarded) {
  const std::string trace = generate("trace.vxt", 3000);
  const std::string bytes = read_file(trace);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const std::string cut = directory_.file("cut.vxt");
  write_file(cut, bytes.substr(0, offsets[offsets.size() / 2] + 5));
  const std::string db = directory_.file("cut.db");
  const ProcessResult damaged = run({"sqlite", "-o", db, cut});
  EXPECT_EQ(damaged.exit_status, 2) << damaged.err;
  const size_t dumped = split_lines(run({"dump", cut}).out).size();
  ASSERT_GT(dumped, 0u);
  EXPECT_EQ(query(db, "SELECT count(*) AS n FROM events")[0]["n"], dumped);
  EXPECT_EQ(meta(db, "status"), "\"damaged\"");
  EXPECT_NE(meta(db, "damage").find("cut.vxt"), std::string::npos) << meta(db, "damage");

  const ProcessResult exists = run({"sqlite", "-o", db, trace});
  EXPECT_EQ(exists.exit_status, 1);
  EXPECT_NE(exists.err.find("--force"), std::string::npos) << exists.err;
  EXPECT_EQ(meta(db, "status"), "\"damaged\"") << "an existing file was replaced";
  EXPECT_EQ(run({"sqlite", "--force", "-o", db, trace}).exit_status, 0);
  EXPECT_EQ(meta(db, "status"), "\"complete\"");

  const std::string link = directory_.file("link.db");
  ASSERT_EQ(symlink(trace.c_str(), link.c_str()), 0);
  const ProcessResult onto_input = run({"sqlite", "--force", "-o", link, trace});
  EXPECT_EQ(onto_input.exit_status, 1);
  EXPECT_NE(onto_input.err.find("same file as the input"), std::string::npos) << onto_input.err;
  EXPECT_TRUE(read_file(trace) == bytes);
  EXPECT_EQ(files(), (std::vector<std::string>{"cut.db", "cut.vxt", "link.db", "trace.vxt"}));
}

// Several inputs: each row and definition names its input; damage in one
// leaves the other whole in the database.
TEST_F(VxtraceSqliteTest, MergedInputsAreToldApartBySource) {
  const std::string trace = generate("trace.vxt", 3000);
  const std::string bytes = read_file(trace);
  const std::string cut = directory_.file("cut.vxt");
  write_file(cut, bytes.substr(0, bytes.size() / 3));
  const size_t before_damage = split_lines(run({"dump", cut}).out).size();
  const std::string db = directory_.file("merged.db");
  EXPECT_EQ(run({"sqlite", "-o", db, trace, cut}).exit_status, 2);
  const json rows = query(db,
                          "SELECT source, count(*) AS n, count(DISTINCT id) AS ids FROM events "
                          "GROUP BY source ORDER BY source");
  ASSERT_EQ(rows.size(), 2u) << rows;
  EXPECT_EQ(rows[0]["source"], cut);
  EXPECT_EQ(rows[0]["n"], before_damage);
  EXPECT_EQ(rows[1]["source"], trace);
  EXPECT_EQ(rows[1]["n"], 3000);
  EXPECT_EQ(query(db, "SELECT count(*) AS n FROM definitions WHERE source = '" + trace + "'")[0]["n"],
            111);
  EXPECT_EQ(meta(db, "status"), "\"damaged\"");
  // Rows are in merged order: timestamps never go back, as neither input does.
  EXPECT_EQ(query(db,
                  "SELECT count(*) AS n FROM events a JOIN events b ON b.seq = a.seq + 1 "
                  "WHERE b.timestamp < a.timestamp")[0]["n"],
            0);
}

// Interrupted while it waits for its input, the run leaves no file at all.
TEST_F(VxtraceSqliteTest, InterruptedLoadLeavesNoFile) {
  const std::string fifo = directory_.file("input.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Read-write: the open does not wait for a reader, nor the child's for a
  // writer (posix_spawn returns only once the child has opened its input).
  const int writer = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  const int pid =
      start_vxtrace({"sqlite", "-q", "--no-progress", "-o", directory_.file("out.db"), "-"},
                    directory_.path(), fifo);
  const std::string header = read_file(generate("trace.vxt", 10)).substr(0, 16);
  ASSERT_EQ(write(writer, header.data(), header.size()), ssize_t(header.size()));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (files().size() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::vector<std::string> while_running = files();
  kill(pid, SIGINT);
  const ProcessResult interrupted = wait_for_vxtrace(pid, directory_.path());
  close(writer);
  ASSERT_EQ(while_running.size(), 3u);
  EXPECT_EQ(while_running[0].rfind(".out.db", 0), 0u) << while_running[0];
  EXPECT_EQ(interrupted.signal, SIGINT) << interrupted.err;
  EXPECT_EQ(files(), (std::vector<std::string>{"input.fifo", "trace.vxt"}));
}

}  // namespace
}  // namespace vxtrace_test

#endif
