// The vxtrace commands. main.cpp parses the command line into these options;
// each command lives in its own file and returns the process exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxtrace {

enum ExitStatus { kExitSuccess = 0, kExitUsage = 1, kExitDamagedInput = 2 };

struct InputOptions {
  std::string input;   // a path, or "-" for standard input
  std::string plugin;  // empty: beside the executable, then ../lib/
  bool quiet = false;
  bool progress = true;
};

struct DumpOptions {
  InputOptions in;
  std::vector<std::string> event_globs;
  std::optional<uint64_t> limit;
  std::string output;        // empty (no -o) or "-": standard output
  unsigned jobs = 0;         // worker threads; 0: one per core
  uint64_t chunk_bytes = 0;  // input bytes per worker task; 0: chosen from jobs
};

struct StatsOptions {
  InputOptions in;
  bool json = false;
};

struct TimelineOptions {
  InputOptions in;
  std::vector<std::string> event_globs;
  std::string output;  // empty (no -o) or "-": standard output
};

enum class EventMix { realistic, bench };

struct GenerateOptions {
  std::string output;  // "-": standard output
  uint64_t events = 0;
  uint64_t seed = 1;
  EventMix mix = EventMix::realistic;
  bool force = false;  // replace an existing file; skip the free space check
  bool progress = true;
};

int run_dump(const DumpOptions &options);
int run_stats(const StatsOptions &options);
int run_generate(const GenerateOptions &options);
int run_timeline(const TimelineOptions &options);

}  // namespace vxtrace
