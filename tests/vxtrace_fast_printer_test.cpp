// dump's fast printer against printf: every format it recognises must write
// what vsnprintf writes for the same arguments (NaN and infinities excepted:
// dump writes them as JSON null), with and without its format cache, and any
// other format must reach vsnprintf unchanged.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "text/fast_printer.h"

namespace vxtrace_test {
namespace {

using vxtrace::AddressRange;
using vxtrace::FastPrinter;
using vxtrace::FormatKind;
using vxtrace::TextBuffer;

std::string printf_text(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The formats live in one array, so that a test can declare them constant.
struct Formats {
  char hhu[5] = "%hhu";
  char hu[4] = "%hu";
  char hi[4] = "%hi";
  char u[3] = "%u";
  char i[3] = "%i";
  char llu[5] = "%llu";
  char lli[5] = "%lli";
  char g[3] = "%g";
};
const Formats kFormats;

class FastPrinterTest : public testing::TestWithParam<bool> {
 protected:
  FastPrinterTest() : text_(16), printer_(&text_) {
    // With the cache, the second call of a format is served from it.
    if (GetParam()) printer_.add_constant_range(AddressRange{&kFormats, &kFormats + 1});
  }

  template <typename... Args>
  std::string print(const char *format, Args... args) {
    text_.clear();
    const vx_printer &printer = printer_.printer();
    printer.print(printer.user_data, format, args...);
    printer.print(printer.user_data, format, args...);
    const std::string twice(text_.view());
    return twice.substr(0, twice.size() / 2);
  }

  TextBuffer text_;
  FastPrinter printer_;
};

const int kInts[] = {0,
                     1,
                     -1,
                     9,
                     10,
                     99,
                     100,
                     255,
                     256,
                     300,
                     32767,
                     -32768,
                     65535,
                     65536,
                     std::numeric_limits<int>::max(),
                     std::numeric_limits<int>::min()};

TEST_P(FastPrinterTest, NarrowAndThirtyTwoBitFormatsMatchPrintf) {
  for (const int value : kInts) {
    SCOPED_TRACE(value);
    EXPECT_EQ(print(kFormats.hhu, value), printf_text("%hhu", value));
    EXPECT_EQ(print(kFormats.hu, value), printf_text("%hu", value));
    EXPECT_EQ(print(kFormats.hi, value), printf_text("%hi", value));
    EXPECT_EQ(print(kFormats.u, static_cast<unsigned>(value)),
              printf_text("%u", static_cast<unsigned>(value)));
    EXPECT_EQ(print(kFormats.i, value), printf_text("%i", value));
  }
}

TEST_P(FastPrinterTest, SixtyFourBitFormatsMatchPrintfAtEveryLength) {
  std::vector<unsigned long long> values = {0, std::numeric_limits<unsigned long long>::max(),
                                            1ull << 63, (1ull << 63) - 1};
  for (unsigned long long power = 1; power <= 1000000000000000000ull; power *= 10) {
    values.push_back(power - 1);
    values.push_back(power);
  }
  for (const unsigned long long value : values) {
    SCOPED_TRACE(value);
    EXPECT_EQ(print(kFormats.llu, value), printf_text("%llu", value));
    const auto as_signed = static_cast<long long>(value);
    const auto negated = static_cast<long long>(0 - value);
    EXPECT_EQ(print(kFormats.lli, as_signed), printf_text("%lli", as_signed));
    EXPECT_EQ(print(kFormats.lli, negated), printf_text("%lli", negated));
  }
}

TEST_P(FastPrinterTest, RealFormatMatchesPrintfOnEdgeValues) {
  const float kFloats[] = {0.0f,
                           -0.0f,
                           0.1f,
                           1.0f / 3,
                           1e-40f,
                           3.4e38f,
                           0.5f,
                           960.0f,
                           -540.0f,
                           1e6f,
                           999999.0f,
                           123456.7f,
                           1e-5f,
                           1.5e-4f,
                           -2.25f,
                           std::numeric_limits<float>::min(),
                           std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::denorm_min()};
  for (const float value : kFloats) {
    SCOPED_TRACE(value);
    const double argument = value;
    EXPECT_EQ(print(kFormats.g, argument), printf_text("%g", argument));
  }
}

TEST_P(FastPrinterTest, RealFormatMatchesPrintfOverRandomFloats) {
  std::mt19937 random(20240601);
  for (int i = 0; i < 200000; ++i) {
    const auto value = std::bit_cast<float>(static_cast<uint32_t>(random()));
    if (!std::isfinite(value)) continue;
    const double argument = value;
    ASSERT_EQ(print(kFormats.g, argument), printf_text("%g", argument)) << argument;
  }
}

TEST_P(FastPrinterTest, NanAndInfinitiesBecomeNull) {
  for (const double value : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    EXPECT_EQ(print(kFormats.g, value), "null");
  }
}

TEST_P(FastPrinterTest, LiteralsAreCopiedWhateverTheirLength) {
  EXPECT_EQ(print("{"), "{");
  EXPECT_EQ(print("\"session_id\": "), "\"session_id\": ");
  const std::string long_key(200, 'k');
  EXPECT_EQ(print(long_key.c_str()), long_key);
  EXPECT_EQ(print(""), "");
}

TEST_P(FastPrinterTest, OtherFormatsGoThroughVsnprintf) {
  EXPECT_EQ(print("%x", 255u), "ff");
  EXPECT_EQ(print("%5d|", 42), "   42|");
  EXPECT_EQ(print("%s and %s", "this", "that"), "this and that");
  EXPECT_EQ(print("100%%"), "100%");
  EXPECT_EQ(print("%.2f", 2.0 / 3), "0.67");
  EXPECT_EQ(print("%f", std::nan("")), printf_text("%f", std::nan("")));
  const std::string wide(300, 'w');
  EXPECT_EQ(print("<%s>", wide.c_str()), "<" + wide + ">");
}

TEST_P(FastPrinterTest, ManyPiecesGrowTheBuffer) {
  const vx_printer &printer = printer_.printer();
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    printer.print(printer.user_data, kFormats.i, i);
    printer.print(printer.user_data, ", ");
    expected += std::to_string(i) + ", ";
  }
  EXPECT_EQ(text_.view(), expected);
}

INSTANTIATE_TEST_SUITE_P(CachedAndUncached, FastPrinterTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "cached" : "uncached";
                         });

TEST(FastPrinterClassify, KnowsExactlyTheEightValueFormats) {
  EXPECT_EQ(FastPrinter::classify("\"key\": "), FormatKind::literal);
  EXPECT_EQ(FastPrinter::classify("%hhu"), FormatKind::u8);
  EXPECT_EQ(FastPrinter::classify("%lli"), FormatKind::i64);
  EXPECT_EQ(FastPrinter::classify("%g"), FormatKind::real);
  EXPECT_EQ(FastPrinter::classify("%g "), FormatKind::other);
  EXPECT_EQ(FastPrinter::classify("%d"), FormatKind::other);
  EXPECT_EQ(FastPrinter::classify("x%u"), FormatKind::other);
}

// A format at an address outside the constant ranges is classified anew on
// every call: a buffer reused for another format prints the new one.
TEST(FastPrinterClassify, ReusedFormatBuffersAreNotRemembered) {
  TextBuffer text;
  FastPrinter printer(&text);
  char format[8] = "%u";
  printer.printer().print(&printer, format, 7u);
  std::strcpy(format, "[x]");
  printer.printer().print(&printer, format);
  EXPECT_EQ(text.view(), "7[x]");
}

TEST(FastPrinterSegments, FindTheReadOnlySegmentsOfThisProgram) {
  static const char kText[] = "a constant";
  const std::vector<AddressRange> ranges =
      vxtrace::read_only_segments_of(reinterpret_cast<const void *>(&printf_text));
  ASSERT_FALSE(ranges.empty());
  bool holds_text = false;
  for (const AddressRange &range : ranges) holds_text |= kText >= range.begin && kText < range.end;
  EXPECT_TRUE(holds_text);
}

}  // namespace
}  // namespace vxtrace_test

#endif
