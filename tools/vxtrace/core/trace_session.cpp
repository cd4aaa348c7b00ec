#include "core/trace_session.h"

#include <unistd.h>

#include <utility>

namespace vxtrace {

TraceSession::TraceSession(const PluginApi &api, vxt_reader *reader, DefinitionObserver observer)
    : api_(api), reader_(reader), observer_(std::move(observer)) {
  vxt_reader_fill(reader_, &file_callbacks_);
  // Without an observer the iterator reads the file directly, at no cost.
  vx_buffer_reader observed{this, has_more, read_definition, read_event, close};
  api_.buffer_iterator_create(observer_ ? &observed : &file_callbacks_, &ops_);
  if (ops_.iterator == nullptr) return;
  api_.register_events(ops_.iterator, ops_.kind_name(ops_.iterator));
}

TraceSession::~TraceSession() {
  if (ops_.iterator != nullptr) ops_.destroy(ops_.iterator);
  vxt_reader_close(reader_);
}

bool TraceSession::has_more(void *self) {
  const vx_buffer_reader &file = static_cast<TraceSession *>(self)->file_callbacks_;
  return file.has_more(file.user_data);
}

bool TraceSession::read_definition(void *self, vx_event_definition *out) {
  auto *session = static_cast<TraceSession *>(self);
  const vx_buffer_reader &file = session->file_callbacks_;
  if (!file.read_definition(file.user_data, out)) return false;
  session->observer_(out->id, out->name);
  return true;
}

bool TraceSession::read_event(void *self, vx_event_data *out) {
  const vx_buffer_reader &file = static_cast<TraceSession *>(self)->file_callbacks_;
  return file.read_event(file.user_data, out);
}

void TraceSession::close(void *self) {
  const vx_buffer_reader &file = static_cast<TraceSession *>(self)->file_callbacks_;
  file.close(file.user_data);
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
