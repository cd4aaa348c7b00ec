// Arbitrary sequences of definition and data records (any ids, registered
// and unknown names, redefinitions), registrations before and between
// advances, and lookups, checked against a model of the id bindings and the
// name index. Every current event with a descriptor is decoded, printed and
// released; destroy must close the reader exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "events/catalogue.hpp"
#include "fuzz/fuzz_support.hpp"
#include "support/recording.hpp"
#include "vexlo/buffer_iterator.h"

namespace {

// Ids above this are never bound by the iterator.
constexpr uint32_t kLargestBindableId = 1048575;

struct Record {
  bool is_definition = false;
  uint32_t id = 0;
  const char *name = nullptr;
  uint64_t timestamp = 0;
  std::unique_ptr<uint8_t[]> payload;  // exactly payload_size bytes
  size_t payload_size = 0;
};

// The reader side: records are appended while the iterator reads them.
struct RecordQueue {
  std::deque<Record> records;
  size_t next = 0;
  int close_calls = 0;

  static bool has_more(void *self) {
    auto *queue = static_cast<RecordQueue *>(self);
    return queue->next < queue->records.size();
  }
  static bool read_definition(void *self, vx_event_definition *out) {
    auto *queue = static_cast<RecordQueue *>(self);
    if (!has_more(self) || !queue->records[queue->next].is_definition) return false;
    const Record &record = queue->records[queue->next++];
    out->id = record.id;
    out->name = record.name;
    return true;
  }
  static bool read_event(void *self, vx_event_data *out) {
    auto *queue = static_cast<RecordQueue *>(self);
    if (!has_more(self) || queue->records[queue->next].is_definition) return false;
    const Record &record = queue->records[queue->next++];
    out->id = record.id;
    out->timestamp = record.timestamp;
    out->payload = record.payload.get();
    out->payload_size = record.payload_size;
    return true;
  }
  static void close(void *self) { ++static_cast<RecordQueue *>(self)->close_calls; }

  vx_buffer_reader callbacks() {
    return vx_buffer_reader{this, has_more, read_definition, read_event, close};
  }
};

struct Binding {
  const char *name = nullptr;
  const vx_event_descriptor *descriptor = nullptr;
};

// The catalogue by name, built once.
const std::map<std::string, const vx_event_descriptor *> &catalogue_by_name() {
  static const auto *const by_name = [] {
    auto *names = new std::map<std::string, const vx_event_descriptor *>;
    size_t count = 0;
    const vx_event_descriptor *const *catalogue = vx_catalogue(&count);
    for (size_t i = 0; i < count; ++i) (*names)[catalogue[i]->name] = catalogue[i];
    return names;
  }();
  return *by_name;
}

// What the iterator should know: registrations by name (up to the NUL) and
// id bindings. The catalogue, once registered, is looked up in its own table;
// own registrations made since override it.
struct Model {
  bool catalogue_registered = false;
  std::map<std::string, const vx_event_descriptor *> own;
  std::map<uint32_t, Binding> bound;

  const vx_event_descriptor *find(const char *name) const {
    auto found = own.find(name);
    if (found != own.end()) return found->second;
    if (!catalogue_registered) return nullptr;
    auto listed = catalogue_by_name().find(name);
    return listed != catalogue_by_name().end() ? listed->second : nullptr;
  }
  void register_catalogue() {
    catalogue_registered = true;
    std::erase_if(own, [](const auto &entry) { return catalogue_by_name().contains(entry.first); });
  }
  void register_own(const char *name, const vx_event_descriptor *descriptor) {
    own[name] = descriptor;
  }
  void define(uint32_t id, const char *name) {
    if (id > kLargestBindableId) return;
    bound[id] = Binding{name, find(name)};
  }
  Binding binding(uint32_t id) const {
    auto found = bound.find(id);
    return found != bound.end() ? found->second : Binding{};
  }
};

class Session {
 public:
  explicit Session(FuzzedDataProvider *input) : input_(input) {
    catalogue_ = vx_catalogue(&catalogue_size_);
    const vx_buffer_reader callbacks = queue_.callbacks();
    vx_buffer_iterator_create(&callbacks, &ops_);
    VX_FUZZ_CHECK(ops_.iterator != nullptr);
  }

  ~Session() {
    ops_.destroy(ops_.iterator);
    VX_FUZZ_CHECK(queue_.close_calls == 1);
  }

  void run() {
    while (input_->remaining_bytes() != 0) step();
    while (advance()) {
    }
  }

 private:
  void step() {
    switch (input_->ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
      case 1:
        add_definition();
        break;
      case 2:
      case 3:
        add_data();
        break;
      case 4:
        register_catalogue();
        break;
      case 5:
        register_own_descriptor();
        break;
      case 6:
        check_find(pick_name());
        break;
      default:
        advance();
        break;
    }
  }

  // Mostly catalogue names, so that definitions meet descriptors; otherwise
  // any bytes, a name with a NUL inside included.
  const char *pick_name() {
    if (input_->ConsumeBool()) {
      return catalogue_[input_->ConsumeIntegralInRange<size_t>(0, catalogue_size_ - 1)]->name;
    }
    names_.push_back(input_->ConsumeRandomLengthString(48));
    return names_.back().c_str();
  }

  // Small ids collide and redefine each other; now and then any id at all.
  uint32_t pick_id() {
    if (input_->ConsumeIntegralInRange<int>(0, 15) == 0) return input_->ConsumeIntegral<uint32_t>();
    return input_->ConsumeIntegralInRange<uint32_t>(0, 200);
  }

  void add_definition() {
    Record record;
    record.is_definition = true;
    record.id = pick_id();
    record.name = pick_name();
    queue_.records.push_back(std::move(record));
  }

  void add_data() {
    Record record;
    record.id = pick_id();
    record.timestamp = input_->ConsumeIntegral<uint64_t>();
    const std::string bytes = input_->ConsumeRandomLengthString(64);
    record.payload_size = bytes.size();
    if (!bytes.empty()) {
      record.payload.reset(new uint8_t[bytes.size()]);
      std::memcpy(record.payload.get(), bytes.data(), bytes.size());
    }
    queue_.records.push_back(std::move(record));
  }

  void register_catalogue() {
    const bool right_kind = input_->ConsumeBool();
    vexlo_register_events(ops_.iterator, right_kind ? ops_.kind_name(ops_.iterator) : "buffers");
    if (right_kind) model_.register_catalogue();
  }

  // A descriptor of the consumer's own, under any name, that borrows the
  // operations of a catalogue event.
  void register_own_descriptor() {
    const char *name = pick_name();
    const vx_event_descriptor *borrowed =
        catalogue_[input_->ConsumeIntegralInRange<size_t>(0, catalogue_size_ - 1)];
    own_descriptors_.push_back(
        vx_event_descriptor{name, borrowed->decode, borrowed->release, borrowed->print});
    const vx_event_descriptor *descriptor = &own_descriptors_.back();
    vx_buffer_iterator_register_event(static_cast<vx_buffer_iterator *>(ops_.iterator), descriptor);
    model_.register_own(name, descriptor);
  }

  void check_find(const char *name) {
    VX_FUZZ_CHECK(ops_.find_event(ops_.iterator, name) == model_.find(name));
  }

  // Advances the iterator and the model together and checks the current event.
  bool advance() {
    const size_t first = queue_.next;
    const bool advanced = ops_.advance(ops_.iterator);
    for (size_t i = first; i < queue_.next; ++i) {
      const Record &record = queue_.records[i];
      if (record.is_definition) model_.define(record.id, record.name);
    }
    if (!advanced) {
      VX_FUZZ_CHECK(queue_.next == queue_.records.size());
      // Records read during this call clear the current event; none leave it.
      if (queue_.next != first) check_no_current_event();
      return false;
    }
    check_current_event(queue_.records[queue_.next - 1]);
    decode_current_event();
    return true;
  }

  void check_no_current_event() {
    VX_FUZZ_CHECK(ops_.current_event(ops_.iterator) == nullptr);
    VX_FUZZ_CHECK(ops_.current_name(ops_.iterator) == nullptr);
    VX_FUZZ_CHECK(ops_.current_timestamp(ops_.iterator) == 0);
    const void *payload = &payload;
    size_t size = 1;
    vx_buffer_iterator_get_raw_data(static_cast<vx_buffer_iterator *>(ops_.iterator), &payload,
                                    &size);
    VX_FUZZ_CHECK(payload == nullptr && size == 0);
  }

  void check_current_event(const Record &record) {
    VX_FUZZ_CHECK(!record.is_definition);
    const Binding binding = model_.binding(record.id);
    const vx_event_descriptor *descriptor = ops_.current_event(ops_.iterator);
    VX_FUZZ_CHECK(descriptor == binding.descriptor);
    const char *expected_name = descriptor != nullptr ? descriptor->name : binding.name;
    VX_FUZZ_CHECK(ops_.current_name(ops_.iterator) == expected_name);
    VX_FUZZ_CHECK(ops_.current_timestamp(ops_.iterator) == record.timestamp);
    const void *payload = nullptr;
    size_t size = 0;
    vx_buffer_iterator_get_raw_data(static_cast<vx_buffer_iterator *>(ops_.iterator), &payload,
                                    &size);
    VX_FUZZ_CHECK(payload == record.payload.get() && size == record.payload_size);
  }

  void decode_current_event() {
    const vx_event_descriptor *descriptor = ops_.current_event(ops_.iterator);
    if (descriptor == nullptr) return;
    vx_test::CountingAllocator allocator;
    void *decoded =
        descriptor->decode(static_cast<vx_buffer_iterator *>(ops_.iterator), allocator.allocator());
    if (decoded != nullptr) {
      vx_test::RecordingPrinter printer;
      descriptor->print(decoded, printer.printer());
      VX_FUZZ_CHECK(vx_fuzz::is_json_object(vx_fuzz::json_text_of(printer)));
    }
    descriptor->release(decoded, allocator.allocator());
    VX_FUZZ_CHECK(allocator.all_freed_once());
  }

  FuzzedDataProvider *input_;
  const vx_event_descriptor *const *catalogue_ = nullptr;
  size_t catalogue_size_ = 0;
  std::deque<std::string> names_;  // stable addresses, as the iterator keeps them
  std::deque<vx_event_descriptor> own_descriptors_;
  RecordQueue queue_;
  Model model_;
  vx_iterator_ops ops_{};
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vx_fuzz::install_quiet_logger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider input(data, size);
  Session session(&input);
  session.run();
  return 0;
}
