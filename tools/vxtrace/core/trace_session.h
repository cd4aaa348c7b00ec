// One pass over a trace: creates a buffer iterator over the file's reader,
// registers the catalogue, and hands out the events one at a time. The
// iterator is destroyed with the session.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/plugin_loader.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace {

struct EventView {
  uint32_t id = 0;
  uint64_t timestamp = 0;
  const char *name = nullptr;  // null when the id was never defined
  const vx_event_descriptor *descriptor = nullptr;
  const void *payload = nullptr;
  size_t payload_size = 0;
};

// Called with each event definition as the iterator reads it; name lives as
// long as the session.
using DefinitionObserver = std::function<void(uint32_t id, const char *name)>;

class TraceSession {
 public:
  // Takes ownership of reader. With an observer, the definitions pass
  // through it on their way to the iterator.
  TraceSession(const PluginApi &api, vxt_reader *reader, DefinitionObserver observer = {});
  TraceSession(const TraceSession &) = delete;
  TraceSession &operator=(const TraceSession &) = delete;
  ~TraceSession();

  // False when the plug-in could not create an iterator.
  bool ok() const { return ops_.iterator != nullptr; }

  // Moves to the next data record; false at the end of the input or at damage.
  bool next(EventView *event);

  vx_buffer_iterator *iterator() const { return static_cast<vx_buffer_iterator *>(ops_.iterator); }
  const vxt_reader *reader() const { return reader_; }
  // For walking the records without the iterator (vxt_reader_skip_record),
  // which must then not be advanced.
  vxt_reader *reader() { return reader_; }

 private:
  static bool has_more(void *self);
  static bool read_definition(void *self, vx_event_definition *out);
  static bool read_event(void *self, vx_event_data *out);
  static void close(void *self);

  const PluginApi &api_;
  vxt_reader *reader_;
  vx_buffer_reader file_callbacks_{};
  DefinitionObserver observer_;
  vx_iterator_ops ops_{};
};

// Opens path ("-" for standard input). Null on failure, with error filled.
vxt_reader *open_trace(const std::string &path, vxt_error *error);

// How messages name an input: the path, or "standard input" for "-".
std::string input_display_name(const std::string &path);

// Makes the plug-in's log lines go nowhere (--quiet); call before sessions
// are created, since an iterator keeps the logger it found at creation.
void silence_plugin_logs(const PluginApi &api);

}  // namespace vxtrace
