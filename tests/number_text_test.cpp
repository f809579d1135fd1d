#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace kalimbro {
namespace {

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max(), kMin64 = std::numeric_limits<int64_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max(), kMin32 = std::numeric_limits<int32_t>::min();

// One text read by every whole-number rule: alone, within 32 bits, and as
// the start of a typed field.
struct WholeCase {
  const char* text;
  std::optional<int64_t> alone;
  std::optional<int32_t> alone32;
  int64_t leading;
};

TEST(NumberText, WholeNumbersAloneWithinThirtyTwoBitsAndAtTheStartOfAField) {
  const WholeCase cases[] = {
      {"12", 12, 12, 12},
      {" 300", 300, 300, 300},
      {"300 ", 300, 300, 300},
      {"\t-3\t", -3, -3, -3},
      {"+7", 7, 7, 7},
      {"007", 7, 7, 7},
      {"", std::nullopt, std::nullopt, 0},
      {"   ", std::nullopt, std::nullopt, 0},
      {"-", std::nullopt, std::nullopt, 0},
      {"12abc", std::nullopt, std::nullopt, 12},
      {"2,5", std::nullopt, std::nullopt, 2},
      {"-2.5", std::nullopt, std::nullopt, -2},
      {"1 2", std::nullopt, std::nullopt, 1},
      {"- 3", std::nullopt, std::nullopt, 0},
      {"+-1", std::nullopt, std::nullopt, 0},
      {"abc", std::nullopt, std::nullopt, 0},
      {"0x10", std::nullopt, std::nullopt, 0},
      {"$10", std::nullopt, std::nullopt, 0},
      {"1e3", std::nullopt, std::nullopt, 1},
      // The edges of 32 bits: a number outside them is no 32-bit number.
      {"2147483647", kMax32, kMax32, kMax32},
      {"-2147483648", kMin32, kMin32, kMin32},
      {"2147483648", 2147483648, std::nullopt, 2147483648},
      {"-2147483649", -2147483649, std::nullopt, -2147483649},
      {"4294967296", 4294967296, std::nullopt, 4294967296},  // would wrap to 0
      // The edges of 64 bits: held at the limit, never wrapped.
      {"9223372036854775807", kMax64, std::nullopt, kMax64},
      {"-9223372036854775808", kMin64, std::nullopt, kMin64},
      {"9223372036854775808", kMax64, std::nullopt, kMax64},
      {"18446744073709551626", kMax64, std::nullopt, kMax64},  // 2^64 + 10 would wrap to 10
      {"-99999999999999999999", kMin64, std::nullopt, kMin64},
      {"123456789012345678901234567890x", std::nullopt, std::nullopt, kMax64},
  };
  for (const WholeCase& c : cases) {
    EXPECT_EQ(wholeNumber(c.text), c.alone) << '"' << c.text << '"';
    EXPECT_EQ(wholeNumber32(c.text), c.alone32) << '"' << c.text << '"';
    EXPECT_EQ(leadingWholeNumber(c.text), c.leading) << '"' << c.text << '"';
  }
}

TEST(NumberText, RealNumbersTakeADecimalCommaAloneOrAtTheStartOfAField) {
  EXPECT_EQ(decimalNumber("1,5"), 1.5);
  EXPECT_EQ(decimalNumber("2,5"), 2.5);
  EXPECT_EQ(decimalNumber(" 0.001 "), 0.001);
  EXPECT_EQ(decimalNumber("-300"), -300);
  EXPECT_EQ(decimalNumber("+2,25"), 2.25);
  for (const char* refused :
       {"", "  ", "1.2 noiseprof x", "1,5,3", "1.5.", "+-1", "12abc", "nan", "inf", "-inf", "1e999", "0x10"})
    EXPECT_EQ(decimalNumber(refused), std::nullopt) << refused;

  EXPECT_EQ(leadingDecimalNumber("2.5,1"), 2.5);
  EXPECT_EQ(leadingDecimalNumber(" -0,25x"), -0.25);
  EXPECT_EQ(leadingDecimalNumber("+3"), 3);
  for (const char* nothing : {"", "x", "+-1", "nan", "inf", "1e999"})
    EXPECT_EQ(leadingDecimalNumber(nothing), 0) << nothing;

  // And written back as the program says them, read again as the same.
  EXPECT_EQ(tenthsText(32), "3,2");
  EXPECT_EQ(tenthsText(-5), "-0,5");
  EXPECT_EQ(tenthsText(0), "0,0");
  // Lengths to the nearest tenth, as undo, the pauses and the level effects say them.
  EXPECT_EQ(secondsText(68796, 44100), "1,6");  // 1.56 s
  EXPECT_EQ(secondsText(66150, 44100), "1,5");
  EXPECT_EQ(secondsText(5, 0), "0,0");
  EXPECT_EQ(decimalNumber(tenthsText(-1234)), -123.4);
}

}  // namespace
}  // namespace kalimbro
