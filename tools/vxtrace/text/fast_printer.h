// The printer that dump hands to the plug-in: it recognises the literal
// pieces and the eight value formats of the rendering and writes them
// straight into a TextBuffer (std::to_chars, no printf). Any other format goes
// through vsnprintf, so descriptors that other components register still print
// as printf would.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "text/text_buffer.h"
#include "vexlo/event.h"

namespace vxtrace {

// How one format of a printer call is written.
enum class FormatKind : uint8_t { literal, u8, u16, i16, u32, i32, u64, i64, real, other };

struct AddressRange {
  const void *begin = nullptr;
  const void *end = nullptr;
};

class FastPrinter {
 public:
  // Literal pieces up to this long are kept in the format cache and copied
  // from there in one fixed-size move.
  static constexpr size_t kInlineText = 48;

  explicit FastPrinter(TextBuffer *out);
  FastPrinter(const FastPrinter &) = delete;
  FastPrinter &operator=(const FastPrinter &) = delete;

  const vx_printer &printer() const { return printer_; }
  void set_output(TextBuffer *out) { out_ = out; }

  // Formats that lie in range never change while the printer lives (read-only
  // segments of the plug-in), so each is classified once and then found by its
  // address. Formats elsewhere are classified on every call.
  void add_constant_range(AddressRange range);

  // What the printer does with format; exposed for tests.
  static FormatKind classify(const char *format);

 private:
  // A remembered format: its address, what it is and, for a short literal, a
  // zero-padded copy of its text. The table is open-addressed with linear
  // probing and kept at most half full, so a lookup is one probe as a rule.
  struct FormatEntry {
    const char *format = nullptr;
    uint32_t length = 0;  // of a literal
    FormatKind kind = FormatKind::other;
    char text[kInlineText] = {};
  };
  static constexpr size_t kInitialSlots = 1024;
  static constexpr size_t kMaxRanges = 8;

  static int print(void *user_data, const char *format, ...);
  static void write_value(TextBuffer *out, FormatKind kind, const char *format, size_t length,
                          va_list args);
  const FormatEntry &entry_for(const char *format) {
    for (size_t i = first_slot(format);; i = (i + 1) & slot_mask_) {
      const FormatEntry &entry = slots_[i];
      if (entry.format == format) return entry;
      if (entry.format == nullptr) return unknown_entry(format);
    }
  }
  const FormatEntry &unknown_entry(const char *format);
  FormatEntry *free_entry(const char *format);
  bool is_constant(const char *format) const;
  static void fill_entry(const char *format, FormatEntry *entry);
  size_t first_slot(const char *format) const {
    return (reinterpret_cast<uintptr_t>(format) * 0x9E3779B97F4A7C15u) >> slot_shift_;
  }

  TextBuffer *out_;
  vx_printer printer_;
  AddressRange ranges_[kMaxRanges];
  size_t range_count_ = 0;
  std::vector<FormatEntry> entries_;
  FormatEntry *slots_;  // entries_.data()
  size_t slot_mask_;
  size_t entry_count_ = 0;
  unsigned slot_shift_;
  FormatEntry scratch_;
};

// The segments of the loaded shared object that contains address which are
// mapped without write permission (its code and constant data).
std::vector<AddressRange> read_only_segments_of(const void *address);

// Writes value as "%g" does, or null when it is NaN or infinite (JSON has no
// such numbers); returns the end of what was written. At least 32 bytes must
// be free at out.
char *write_real(char *out, double value);

}  // namespace vxtrace
