// Compares, event for event, the "payload" objects of `vxtrace dump` lines
// with the lines that examples/consumer.c writes (one payload object, or null,
// per line). Values are compared as JSON, so only their meaning counts.
//
//   package_payload_compare DUMP CONSUMER_OUTPUT MIN_DECODED
//
// Fails when a line differs, when the line counts differ, when a line is not
// JSON, or when fewer than MIN_DECODED payloads were decoded (so that two empty
// outputs do not agree vacuously).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace {

bool parse_line(const std::string &text, const char *file, size_t line, nlohmann::json *out) {
  try {
    *out = nlohmann::json::parse(text);
    return true;
  } catch (const nlohmann::json::exception &error) {
    std::fprintf(stderr, "%s:%zu: not JSON (%s): %s\n", file, line, error.what(), text.c_str());
    return false;
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DUMP CONSUMER_OUTPUT MIN_DECODED\n", argv[0]);
    return 2;
  }
  const char *dump_path = argv[1];
  const char *consumer_path = argv[2];
  const unsigned long min_decoded = std::strtoul(argv[3], nullptr, 10);
  std::ifstream dump(dump_path), consumer(consumer_path);
  if (!dump || !consumer) {
    std::fprintf(stderr, "cannot open %s or %s\n", dump_path, consumer_path);
    return 1;
  }

  std::string dump_text, consumer_text;
  size_t line = 0, decoded = 0;
  std::set<std::string> names;
  for (;;) {
    const bool more_dump = static_cast<bool>(std::getline(dump, dump_text));
    const bool more_consumer = static_cast<bool>(std::getline(consumer, consumer_text));
    if (!more_dump || !more_consumer) {
      if (more_dump != more_consumer) {
        std::fprintf(stderr, "line %zu: %s ends first\n", line + 1,
                     more_dump ? consumer_path : dump_path);
        return 1;
      }
      break;
    }
    ++line;
    nlohmann::json dumped, printed;
    if (!parse_line(dump_text, dump_path, line, &dumped) ||
        !parse_line(consumer_text, consumer_path, line, &printed))
      return 1;
    if (!dumped.is_object() || !dumped.contains("payload")) {
      std::fprintf(stderr, "%s:%zu: no payload field: %s\n", dump_path, line, dump_text.c_str());
      return 1;
    }
    if (dumped["payload"] != printed) {
      std::fprintf(stderr, "line %zu differs:\n  vxtrace dump: %s\n  consumer:     %s\n", line,
                   dumped["payload"].dump().c_str(), consumer_text.c_str());
      return 1;
    }
    if (!printed.is_null()) {
      ++decoded;
      if (dumped["event"].is_string()) names.insert(dumped["event"].get<std::string>());
    }
  }
  if (decoded < min_decoded) {
    std::fprintf(stderr, "only %zu decoded payloads, at least %lu expected\n", decoded,
                 min_decoded);
    return 1;
  }
  std::printf("%zu events agree (%zu decoded, %zu event kinds)\n", line, decoded, names.size());
  return 0;
}
