#include "support/memory_reader.hpp"

#include <utility>

namespace vx_test {

MemoryReader &MemoryReader::define(uint32_t id, const char *name) {
  MemoryRecord record;
  record.is_definition = true;
  record.id = id;
  record.name = name;
  records_.push_back(std::move(record));
  return *this;
}

MemoryReader &MemoryReader::data(uint32_t id, uint64_t timestamp, std::vector<uint8_t> payload) {
  MemoryRecord record;
  record.id = id;
  record.timestamp = timestamp;
  record.payload = std::move(payload);
  records_.push_back(std::move(record));
  return *this;
}

vx_buffer_reader MemoryReader::callbacks() {
  return vx_buffer_reader{this, has_more, read_definition, read_event, close};
}

bool MemoryReader::has_more(void *self) {
  auto *reader = static_cast<MemoryReader *>(self);
  return reader->next_ < reader->records_.size();
}

bool MemoryReader::read_definition(void *self, vx_event_definition *out) {
  auto *reader = static_cast<MemoryReader *>(self);
  if (reader->next_ >= reader->records_.size()) return false;
  const MemoryRecord &record = reader->records_[reader->next_];
  if (!record.is_definition) return false;
  out->id = record.id;
  out->name = record.name;
  ++reader->next_;
  return true;
}

bool MemoryReader::read_event(void *self, vx_event_data *out) {
  auto *reader = static_cast<MemoryReader *>(self);
  if (reader->next_ >= reader->records_.size()) return false;
  const MemoryRecord &record = reader->records_[reader->next_];
  if (record.is_definition) return false;
  out->id = record.id;
  out->timestamp = record.timestamp;
  out->payload = record.payload.empty() ? nullptr : record.payload.data();
  out->payload_size = record.payload.size();
  ++reader->next_;
  return true;
}

void MemoryReader::close(void *self) {
  auto *reader = static_cast<MemoryReader *>(self);
  ++reader->close_calls;
  if (reader->on_close != nullptr) reader->on_close(reader);
}

}  // namespace vx_test
