#include "support/recording.hpp"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vx_test {

namespace {

// The length modifier and conversion of one printf conversion specification.
struct Conversion {
  std::string length;
  char specifier = 0;
};

// Skips flags, width and precision of the conversion that starts after '%'.
// Returns the position after the conversion and fills out; '*' widths are not
// supported and end the parse.
const char *parse_conversion(const char *at, Conversion *out) {
  at += std::strspn(at, "-+ #0");
  at += std::strspn(at, "0123456789");
  if (*at == '.') {
    ++at;
    at += std::strspn(at, "0123456789");
  }
  const size_t length = std::strspn(at, "hljztL");
  out->length.assign(at, length);
  at += length;
  out->specifier = *at;
  return *at != 0 ? at + 1 : at;
}

// Pulls one argument with the type the conversion names after promotion.
PrintArg pull_argument(const Conversion &conversion, va_list *args) {
  PrintArg arg;
  const std::string &length = conversion.length;
  const bool is_signed = conversion.specifier == 'd' || conversion.specifier == 'i';
  const bool is_unsigned = std::strchr("uoxX", conversion.specifier) != nullptr;
  const bool is_real = std::strchr("eEfFgGaA", conversion.specifier) != nullptr;
  const bool narrow_or_plain = length.empty() || length == "h" || length == "hh";
  if (is_real && length.empty()) {
    arg.kind = ArgKind::double_value;
    arg.real = va_arg(*args, double);
  } else if (is_signed && narrow_or_plain) {
    arg.kind = ArgKind::int_value;
    arg.bits = static_cast<unsigned long long>(static_cast<long long>(va_arg(*args, int)));
  } else if (is_unsigned && (length == "h" || length == "hh")) {
    // unsigned char and unsigned short arguments are promoted to int
    arg.kind = ArgKind::int_value;
    arg.bits = static_cast<unsigned long long>(static_cast<long long>(va_arg(*args, int)));
  } else if (is_unsigned && length.empty()) {
    arg.kind = ArgKind::unsigned_int;
    arg.bits = va_arg(*args, unsigned int);
  } else if (is_signed && length == "ll") {
    arg.kind = ArgKind::long_long;
    arg.bits = static_cast<unsigned long long>(va_arg(*args, long long));
  } else if (is_unsigned && length == "ll") {
    arg.kind = ArgKind::unsigned_long_long;
    arg.bits = va_arg(*args, unsigned long long);
  } else {
    arg.kind = ArgKind::other;
  }
  return arg;
}

std::vector<PrintArg> pull_arguments(const char *format, va_list *args) {
  std::vector<PrintArg> pulled;
  for (const char *at = std::strchr(format, '%'); at != nullptr; at = std::strchr(at, '%')) {
    if (at[1] == '%') {
      at += 2;
      continue;
    }
    Conversion conversion;
    at = parse_conversion(at + 1, &conversion);
    pulled.push_back(pull_argument(conversion, args));
    if (pulled.back().kind == ArgKind::other) break;
  }
  return pulled;
}

std::string render(const char *format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return "<unprintable>";
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string text_of(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = render(format, args);
  va_end(args);
  return text;
}

const char *kind_name(ArgKind kind) {
  switch (kind) {
    case ArgKind::int_value:
      return "int";
    case ArgKind::unsigned_int:
      return "unsigned int";
    case ArgKind::long_long:
      return "long long";
    case ArgKind::unsigned_long_long:
      return "unsigned long long";
    case ArgKind::double_value:
      return "double";
    case ArgKind::other:
      break;
  }
  return "unsupported";
}

}  // namespace

PrintCall literal_call(const std::string &text) {
  return PrintCall{text, {}, text};
}

PrintCall int_call(const char *format, int value) {
  PrintArg arg{ArgKind::int_value, static_cast<unsigned long long>(static_cast<long long>(value)),
               0};
  return PrintCall{format, {arg}, text_of(format, value)};
}

PrintCall unsigned_call(unsigned int value) {
  return PrintCall{"%u", {PrintArg{ArgKind::unsigned_int, value, 0}}, text_of("%u", value)};
}

PrintCall long_long_call(long long value) {
  PrintArg arg{ArgKind::long_long, static_cast<unsigned long long>(value), 0};
  return PrintCall{"%lli", {arg}, text_of("%lli", value)};
}

PrintCall unsigned_long_long_call(unsigned long long value) {
  PrintArg arg{ArgKind::unsigned_long_long, value, 0};
  return PrintCall{"%llu", {arg}, text_of("%llu", value)};
}

PrintCall double_call(double value) {
  return PrintCall{"%g", {PrintArg{ArgKind::double_value, 0, value}}, text_of("%g", value)};
}

std::string describe(const PrintCall &call) {
  std::string out = "print(\"" + call.format + "\"";
  for (const PrintArg &arg : call.args) {
    out += std::string(", (") + kind_name(arg.kind) + ")" + std::to_string(arg.bits);
    if (arg.kind == ArgKind::double_value) out += "/" + std::to_string(arg.real);
  }
  return out + ") -> \"" + call.text + "\"";
}

void RecordingPrinter::clear() {
  calls.clear();
  text.clear();
}

int RecordingPrinter::print(void *self, const char *format, ...) {
  RecordingPrinter *printer = static_cast<RecordingPrinter *>(self);
  va_list args;
  va_start(args, format);
  va_list for_text;
  va_copy(for_text, args);
  PrintCall call{format, pull_arguments(format, &args), render(format, for_text)};
  va_end(for_text);
  va_end(args);
  printer->text += call.text;
  printer->calls.push_back(std::move(call));
  return 0;
}

CountingAllocator::~CountingAllocator() {
  for (void *block : live_) std::free(block);
}

size_t CountingAllocator::alloc_count() const {
  size_t count = 0;
  for (const AllocatorEvent &event : events) count += event.is_alloc ? 1 : 0;
  return count;
}

size_t CountingAllocator::free_count() const {
  return events.size() - alloc_count();
}

void *CountingAllocator::alloc(void *self, size_t size) {
  CountingAllocator *allocator = static_cast<CountingAllocator *>(self);
  void *block = nullptr;
  const bool refused = allocator->refuse_countdown_ != 0 && --allocator->refuse_countdown_ == 0;
  if (!refused) {
    // A distinct block even for zero bytes, so that its free can be matched.
    block = std::malloc(size != 0 ? size : 1);
    allocator->live_.insert(block);
  }
  allocator->events.push_back(AllocatorEvent{true, size, block});
  return block;
}

void CountingAllocator::free(void *self, void *block) {
  CountingAllocator *allocator = static_cast<CountingAllocator *>(self);
  allocator->events.push_back(AllocatorEvent{false, 0, block});
  if (allocator->live_.erase(block) == 0) {
    ++allocator->stray_frees_;
    return;
  }
  std::free(block);
}

PayloadBuilder &PayloadBuilder::f32(float value) {
  return little_endian(std::bit_cast<uint32_t>(value), 4);
}

PayloadBuilder &PayloadBuilder::raw(const std::vector<uint8_t> &more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return *this;
}

PayloadBuilder &PayloadBuilder::little_endian(uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return *this;
}

}  // namespace vx_test
