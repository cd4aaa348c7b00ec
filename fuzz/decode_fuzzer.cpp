// Arbitrary bytes as the current payload of one catalogue event: decode,
// print and release must neither crash nor read past the payload, must give
// back every block they take exactly once, and every decoded record must
// render as one JSON object.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "events/catalogue.hpp"
#include "fuzz/fuzz_support.hpp"
#include "lib/buffer/iterator.h"
#include "support/recording.hpp"

namespace {

const vx_event_descriptor &descriptor_for(uint8_t selector) {
  size_t count = 0;
  const vx_event_descriptor *const *catalogue = vx_catalogue(&count);
  return *catalogue[selector % count];
}

// An iterator whose current event is payload, as advance would leave it.
vx_buffer_iterator iterator_over(const uint8_t *payload, size_t size) {
  vx_buffer_iterator iterator{};
  iterator.payload = payload;
  iterator.payload_size = size;
  return iterator;
}

void check_rendering(const vx_event_descriptor &descriptor, const void *record) {
  vx_test::RecordingPrinter printer;
  descriptor.print(record, printer.printer());
  VX_FUZZ_CHECK(vx_fuzz::is_json_object(vx_fuzz::json_text_of(printer)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vx_fuzz::install_quiet_logger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const vx_event_descriptor &descriptor = descriptor_for(data[0]);
  // An exactly sized block of its own, so that the address sanitizer sees any
  // read past the payload's last byte.
  const size_t payload_size = size - 1;
  std::unique_ptr<uint8_t[]> payload(payload_size != 0 ? new uint8_t[payload_size] : nullptr);
  if (payload_size != 0) std::memcpy(payload.get(), data + 1, payload_size);
  vx_buffer_iterator iterator = iterator_over(payload.get(), payload_size);

  vx_test::CountingAllocator allocator;
  void *record = descriptor.decode(&iterator, allocator.allocator());
  if (record != nullptr) check_rendering(descriptor, record);
  descriptor.release(record, allocator.allocator());
  VX_FUZZ_CHECK(allocator.all_freed_once());
  return 0;
}
