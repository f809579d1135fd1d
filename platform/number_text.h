// Numbers read from text: what the user types on a line or into a form
// field, what the settings file holds, and the small records the program
// keeps for itself. Every place that reads a number takes one of the rules
// below, so that a text means the same number wherever it is typed.
//
//   rule                   blanks around  sign  junk after   nothing readable
//   wholeNumber            allowed        + -   refused      nothing
//   wholeNumber32          allowed        + -   refused      nothing
//   leadingWholeNumber     allowed        + -   ignored      0
//   decimalNumber          allowed        + -   refused      nothing
//   leadingDecimalNumber   allowed        + -   ignored      0
//
// Blanks are spaces and tabs; digits are decimal only (no hexadecimal). A
// real number takes a decimal comma, as Portuguese writes it, or a point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalimbro {

// What counts as a blank around a number.
inline constexpr std::string_view kNumberBlanks = " \t";

// A whole number written alone: blanks around it, an optional sign, then
// digits and nothing else ("12", " -3 ", "+7"; not "", "12abc", "2,5",
// "- 3"). One too large for 64 bits gives the nearest limit: a typed
// 30-digit count is still "more than anything", never a small number.
std::optional<int64_t> wholeNumber(std::string_view text);

// The same for a 32-bit value: a number outside 32 bits is refused like
// any other text that is not one, so that a setting too large to hold
// falls back instead of wrapping or sticking at a limit.
std::optional<int32_t> wholeNumber32(std::string_view text);

// The number at the start of a typed integer field: blanks, an optional
// sign and the digits that follow; whatever comes after the digits is
// ignored ("12abc" and "12,5" are 12), no digits give 0. Held to the limits
// of 64 bits instead of overflowing.
int64_t leadingWholeNumber(std::string_view text);

// A real number written alone, with a decimal comma or point ("1,5",
// " -0.25 ", "+2"). Refused: empty text, a second separator, junk, two
// signs, and what is not finite ("nan", "inf", "1e999").
std::optional<double> decimalNumber(std::string_view text);

// The real number at the start of a typed real field, the first comma read
// as the decimal point; junk after it is ignored and nothing readable (or
// nothing finite) gives 0.
double leadingDecimalNumber(std::string_view text);

// The other way: a number of tenths as the program says it, one decimal
// after a decimal comma ("3,2", "-0,5", "0,0").
std::string tenthsText(int64_t tenths);
// A length of `frames` at `sampleRate` in seconds, to the nearest tenth
// ("1,6" for 1.56 s); "0,0" without a rate.
std::string secondsText(int64_t frames, int64_t sampleRate);

}  // namespace kalimbro
