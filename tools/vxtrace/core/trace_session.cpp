#include "core/trace_session.h"

#include <unistd.h>

namespace vxtrace {

TraceSession::TraceSession(const PluginApi &api, vxt_reader *reader) : api_(api), reader_(reader) {
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader_, &callbacks);
  api_.buffer_iterator_create(&callbacks, &ops_);
  if (ops_.iterator == nullptr) return;
  api_.register_events(ops_.iterator, ops_.kind_name(ops_.iterator));
}

TraceSession::~TraceSession() {
  if (ops_.iterator != nullptr) ops_.destroy(ops_.iterator);
  vxt_reader_close(reader_);
}

bool TraceSession::next(EventView *event) {
  if (!ops_.advance(ops_.iterator)) return false;
  vxt_event_info info{};
  vxt_reader_last_event(reader_, &info);
  event->id = info.id;
  event->timestamp = ops_.current_timestamp(ops_.iterator);
  event->name = ops_.current_name(ops_.iterator);
  event->descriptor = ops_.current_event(ops_.iterator);
  api_.buffer_iterator_get_raw_data(iterator(), &event->payload, &event->payload_size);
  return true;
}

vxt_reader *open_trace(const std::string &path, vxt_error *error) {
  if (path == "-") return vxt_reader_open_fd(STDIN_FILENO, "standard input", error);
  return vxt_reader_open_path(path.c_str(), error);
}

std::string input_display_name(const std::string &path) {
  return path == "-" ? "standard input" : path;
}

namespace {

void drop_record(void *, const vx_log_record *) {}

vx_logger silent_logger{nullptr, drop_record, nullptr};

}  // namespace

void silence_plugin_logs(const PluginApi &api) {
  api.set_logger(&silent_logger);
}

}  // namespace vxtrace
