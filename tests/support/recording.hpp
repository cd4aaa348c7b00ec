// Test doubles for the consumer's side of the catalogue: a printer that
// records every call with the exact promoted type of its argument, an
// allocator that records every block and can refuse one request, and a
// builder of little-endian payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "vexlo/event.h"

namespace vx_test {

// The type an argument was pulled with, as the format names it after the
// default argument promotions.
enum class ArgKind { int_value, unsigned_int, long_long, unsigned_long_long, double_value, other };

struct PrintArg {
  ArgKind kind = ArgKind::other;
  unsigned long long bits = 0;  // integers, as their two's complement bits
  double real = 0;              // double_value only

  bool operator==(const PrintArg &) const = default;
};

struct PrintCall {
  std::string format;
  std::vector<PrintArg> args;
  std::string text;  // what printf makes of format and args

  bool operator==(const PrintCall &) const = default;
};

PrintCall literal_call(const std::string &text);
PrintCall int_call(const char *format, int value);
PrintCall unsigned_call(unsigned int value);                  // "%u"
PrintCall long_long_call(long long value);                    // "%lli"
PrintCall unsigned_long_long_call(unsigned long long value);  // "%llu"
PrintCall double_call(double value);                          // "%g"
std::string describe(const PrintCall &call);

class RecordingPrinter {
 public:
  RecordingPrinter() : printer_{this, &RecordingPrinter::print} {}
  RecordingPrinter(const RecordingPrinter &) = delete;
  RecordingPrinter &operator=(const RecordingPrinter &) = delete;

  const vx_printer *printer() const { return &printer_; }
  void clear();

  std::vector<PrintCall> calls;
  std::string text;  // all calls' text, concatenated

 private:
  static int print(void *self, const char *format, ...);
  vx_printer printer_;
};

struct AllocatorEvent {
  bool is_alloc = false;
  size_t size = 0;        // alloc only
  void *block = nullptr;  // null for a refused alloc
};

class CountingAllocator {
 public:
  CountingAllocator() : allocator_{this, &CountingAllocator::alloc, &CountingAllocator::free} {}
  ~CountingAllocator();
  CountingAllocator(const CountingAllocator &) = delete;
  CountingAllocator &operator=(const CountingAllocator &) = delete;

  const vx_allocator *allocator() const { return &allocator_; }
  // The nth alloc from now on (1 = the next) returns null; 0 refuses none.
  void refuse_nth_alloc(size_t nth) { refuse_countdown_ = nth; }

  size_t alloc_count() const;
  size_t free_count() const;
  // Every block that alloc handed out was freed exactly once, and nothing
  // else was freed.
  bool all_freed_once() const { return live_.empty() && stray_frees_ == 0; }

  std::vector<AllocatorEvent> events;

 private:
  static void *alloc(void *self, size_t size);
  static void free(void *self, void *block);

  vx_allocator allocator_;
  std::set<void *> live_;
  size_t stray_frees_ = 0;
  size_t refuse_countdown_ = 0;
};

// Little-endian payload bytes, field by field.
class PayloadBuilder {
 public:
  PayloadBuilder &u8(uint8_t value) { return little_endian(value, 1); }
  PayloadBuilder &u16(uint16_t value) { return little_endian(value, 2); }
  PayloadBuilder &i16(int16_t value) { return little_endian(static_cast<uint16_t>(value), 2); }
  PayloadBuilder &u32(uint32_t value) { return little_endian(value, 4); }
  PayloadBuilder &i32(int32_t value) { return little_endian(static_cast<uint32_t>(value), 4); }
  PayloadBuilder &u64(uint64_t value) { return little_endian(value, 8); }
  PayloadBuilder &i64(int64_t value) { return little_endian(static_cast<uint64_t>(value), 8); }
  PayloadBuilder &f32(float value);
  PayloadBuilder &raw(const std::vector<uint8_t> &more);
  // Appends width little-endian bytes of value.
  PayloadBuilder &little_endian(uint64_t value, size_t width);

  std::vector<uint8_t> bytes;
};

}  // namespace vx_test
