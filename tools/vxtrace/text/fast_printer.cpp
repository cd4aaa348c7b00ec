#include "text/fast_printer.h"

#include <link.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text/decimal.h"

namespace vxtrace {
namespace {

struct NamedFormat {
  const char *text;
  FormatKind kind;
};

// The formats of the rendering's field types.
constexpr NamedFormat kValueFormats[] = {
    {"%hhu", FormatKind::u8},  {"%hu", FormatKind::u16}, {"%hi", FormatKind::i16},
    {"%u", FormatKind::u32},   {"%i", FormatKind::i32},  {"%llu", FormatKind::u64},
    {"%lli", FormatKind::i64}, {"%g", FormatKind::real},
};

__attribute__((noinline)) void append_vformatted(TextBuffer *out, const char *format,
                                                 va_list args) {
  va_list retry;
  va_copy(retry, args);
  char *at = out->end();
  const int length = std::vsnprintf(at, TextBuffer::kSlack, format, args);
  if (length >= 0 && static_cast<size_t>(length) >= TextBuffer::kSlack) {
    out->make_room(static_cast<size_t>(length) + 1);
    at = out->end();
    std::vsnprintf(at, static_cast<size_t>(length) + 1, format, retry);
  }
  va_end(retry);
  if (length > 0) out->commit(at + length);
}

}  // namespace

char *write_real(char *out, double value) {
  if (!std::isfinite(value)) {
    std::memcpy(out, "null", 4);
    return out + 4;
  }
  // Whole numbers below 10^6 are what "%g" writes as plain integers (a
  // negative zero keeps its sign); they are the common case.
  if (value > -1e6 && value < 1e6 && value == static_cast<double>(static_cast<int32_t>(value))) {
    if (std::signbit(value) && value == 0) *out++ = '-';
    return write_signed(out, static_cast<int32_t>(value));
  }
  // to_chars with chars_format::general and a precision is printf's %.*g.
  return std::to_chars(out, out + 32, value, std::chars_format::general, 6).ptr;
}

FastPrinter::FastPrinter(TextBuffer *out)
    : out_(out),
      printer_{this, &FastPrinter::print},
      entries_(kInitialSlots),
      slots_(entries_.data()),
      slot_mask_(kInitialSlots - 1),
      slot_shift_(64 - std::countr_zero(kInitialSlots)) {}

void FastPrinter::add_constant_range(AddressRange range) {
  if (range_count_ < kMaxRanges) ranges_[range_count_++] = range;
}

FormatKind FastPrinter::classify(const char *format) {
  if (std::strchr(format, '%') == nullptr) return FormatKind::literal;
  for (const NamedFormat &named : kValueFormats)
    if (std::strcmp(format, named.text) == 0) return named.kind;
  return FormatKind::other;
}

void FastPrinter::fill_entry(const char *format, FormatEntry *entry) {
  entry->format = format;
  entry->kind = classify(format);
  entry->length = 0;
  std::memset(entry->text, 0, sizeof entry->text);
  if (entry->kind != FormatKind::literal) return;
  const size_t length = std::strlen(format);
  entry->length = static_cast<uint32_t>(length);
  if (length <= kInlineText) std::memcpy(entry->text, format, length);
}

bool FastPrinter::is_constant(const char *format) const {
  for (size_t i = 0; i < range_count_; ++i)
    if (format >= ranges_[i].begin && format < ranges_[i].end) return true;
  return false;
}

// Only formats in a constant range are ever remembered, so a hit needs no
// range check.
const FastPrinter::FormatEntry &FastPrinter::unknown_entry(const char *format) {
  if (!is_constant(format)) {
    fill_entry(format, &scratch_);
    return scratch_;
  }
  if (2 * (entry_count_ + 1) > entries_.size()) {
    std::vector<FormatEntry> old(2 * entries_.size());
    old.swap(entries_);
    slots_ = entries_.data();
    slot_mask_ = entries_.size() - 1;
    --slot_shift_;
    for (const FormatEntry &entry : old)
      if (entry.format != nullptr) *free_entry(entry.format) = entry;
  }
  FormatEntry *entry = free_entry(format);
  fill_entry(format, entry);
  ++entry_count_;
  return *entry;
}

FastPrinter::FormatEntry *FastPrinter::free_entry(const char *format) {
  size_t i = first_slot(format);
  while (slots_[i].format != nullptr) i = (i + 1) & slot_mask_;
  return &slots_[i];
}

// The literal path, most of the calls, needs neither va_start nor any of the
// value writers, which sit in write_value so that this stays small.
int FastPrinter::print(void *user_data, const char *format, ...) {
  auto *self = static_cast<FastPrinter *>(user_data);
  const FormatEntry &entry = self->entry_for(format);
  TextBuffer *out = self->out_;
  out->make_room(TextBuffer::kSlack);
  if (entry.kind == FormatKind::literal && entry.length <= kInlineText) [[likely]] {
    char *at = out->end();
    std::memcpy(at, entry.text, kInlineText);
    out->commit(at + entry.length);
    return 0;
  }
  va_list args;
  va_start(args, format);
  write_value(out, entry.kind, format, entry.length, args);
  va_end(args);
  return 0;
}

// The narrow types travel as int; printf converts them back to the width that
// the length modifier names, and so does this.
void FastPrinter::write_value(TextBuffer *out, FormatKind kind, const char *format, size_t length,
                              va_list args) {
  char *at = out->end();
  switch (kind) {
    case FormatKind::literal:
      out->append(format, length);
      return;
    case FormatKind::u8:
      at = write_unsigned(at, static_cast<unsigned char>(va_arg(args, int)));
      break;
    case FormatKind::u16:
      at = write_unsigned(at, static_cast<unsigned short>(va_arg(args, int)));
      break;
    case FormatKind::i16:
      at = write_signed(at, static_cast<short>(va_arg(args, int)));
      break;
    case FormatKind::u32:
      at = write_unsigned(at, va_arg(args, unsigned int));
      break;
    case FormatKind::i32:
      at = write_signed(at, va_arg(args, int));
      break;
    case FormatKind::u64:
      at = write_unsigned(at, va_arg(args, unsigned long long));
      break;
    case FormatKind::i64:
      at = write_signed(at, va_arg(args, long long));
      break;
    case FormatKind::real:
      at = write_real(at, va_arg(args, double));
      break;
    case FormatKind::other:
      append_vformatted(out, format, args);
      return;
  }
  out->commit(at);
}

namespace {

struct SegmentSearch {
  uintptr_t address;
  std::vector<AddressRange> *ranges;
};

bool object_holds(const dl_phdr_info &info, uintptr_t address) {
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr) &header = info.dlpi_phdr[i];
    const uintptr_t begin = info.dlpi_addr + header.p_vaddr;
    if (header.p_type == PT_LOAD && address >= begin && address - begin < header.p_memsz)
      return true;
  }
  return false;
}

int collect_read_only_segments(dl_phdr_info *info, size_t, void *data) {
  auto *search = static_cast<SegmentSearch *>(data);
  if (!object_holds(*info, search->address)) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr) &header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD || (header.p_flags & PF_W) != 0) continue;
    const auto *begin = reinterpret_cast<const char *>(info->dlpi_addr + header.p_vaddr);
    search->ranges->push_back({begin, begin + header.p_memsz});
  }
  return 1;
}

}  // namespace

std::vector<AddressRange> read_only_segments_of(const void *address) {
  std::vector<AddressRange> ranges;
  SegmentSearch search{reinterpret_cast<uintptr_t>(address), &ranges};
  dl_iterate_phdr(collect_read_only_segments, &search);
  return ranges;
}

}  // namespace vxtrace
