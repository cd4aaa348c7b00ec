// The counted byte string of the url in load_media_payload: a u16 size and
// that many bytes, held in a buffer of the consumer's allocator.
#include <cstring>

#include "events/codec.hpp"
#include "events/payload_functions.hpp"

bool read_byte_blob(vx_payload_cursor *cursor, const vx_allocator *allocator, byte_blob *blob) {
  std::memset(blob, 0, sizeof *blob);
  if (!vx_cursor_read_u16(cursor, &blob->size)) return false;
  // The buffer is requested as soon as the size is known, before the bytes
  // are checked and also for an empty blob; a buffer obtained before a later
  // failure stays in the blob for the enclosing record's caller to give back.
  blob->data = static_cast<uint8_t *>(allocator->alloc(allocator->user_data, blob->size));
  if (blob->data == nullptr) return false;
  return vx_cursor_read_bytes(cursor, blob->data, blob->size);
}

void free_inner_byte_blob(byte_blob *blob, const vx_allocator *allocator) {
  if (blob->data == nullptr) return;
  allocator->free(allocator->user_data, blob->data);
  blob->data = nullptr;
}

namespace {

void print_blob_bytes(const byte_blob *blob, const vx_printer *printer) {
  vx_print_text(printer, "[");
  for (size_t i = 0; i < blob->size; ++i) {
    if (i != 0) vx_print_text(printer, ", ");
    vx_print_u8(printer, blob->data[i]);
  }
  vx_print_text(printer, "]");
}

}  // namespace

void print_byte_blob(const void *untyped_blob, const vx_printer *printer) {
  const byte_blob *blob = static_cast<const byte_blob *>(untyped_blob);
  vx_print_text(printer, "{");
  vx_print_text(printer, "\"size\": ");
  vx_print_u16(printer, blob->size);
  vx_print_text(printer, ", ");
  vx_print_text(printer, "\"data\": ");
  print_blob_bytes(blob, printer);
  vx_print_text(printer, "}");
}
