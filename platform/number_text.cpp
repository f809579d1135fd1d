// Numbers read from text.
#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace kalimbro {
namespace {

bool isBlank(char c) { return kNumberBlanks.find(c) != std::string_view::npos; }

std::string_view withoutBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The sign and the digits at the start of `text` (blanks already gone).
struct LeadingDigits {
  int64_t value = 0;     // held to the limits of 64 bits
  size_t digits = 0;     // how many were read
  size_t end = 0;        // where the first character after them lies
};

LeadingDigits leadingDigits(std::string_view text) {
  LeadingDigits read;
  bool negative = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // The magnitude goes one past the largest positive value, so that the
  // most negative one is read exactly; beyond that it stays at the limit.
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++read.digits) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
  }
  read.end = i;
  if (negative) {
    read.value = magnitude == kLimit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
  } else {
    read.value = magnitude == kLimit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
  }
  return read;
}

// The real number at the start of `text`, and whether it took all of it.
struct LeadingReal {
  std::optional<double> value;
  bool whole = false;
};

LeadingReal leadingReal(std::string_view typed) {
  std::string text(withoutBlanks(typed));
  if (const size_t comma = text.find(','); comma != std::string::npos) text[comma] = '.';
  // from_chars reads a '-' but no '+'.
  std::string_view number = text;
  if (number.starts_with('+')) {
    number.remove_prefix(1);
    if (number.starts_with('-')) return {};
  }
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || !std::isfinite(value)) return {};
  return {value, end == number.data() + number.size()};
}

}  // namespace

std::optional<int64_t> wholeNumber(std::string_view text) {
  text = withoutBlanks(text);
  const LeadingDigits read = leadingDigits(text);
  if (read.digits == 0 || read.end != text.size()) return std::nullopt;
  return read.value;
}

std::optional<int32_t> wholeNumber32(std::string_view text) {
  const std::optional<int64_t> value = wholeNumber(text);
  if (!value || *value < std::numeric_limits<int32_t>::min() || *value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*value);
}

int64_t leadingWholeNumber(std::string_view text) { return leadingDigits(withoutBlanks(text)).value; }

std::optional<double> decimalNumber(std::string_view text) {
  const LeadingReal read = leadingReal(text);
  if (!read.whole) return std::nullopt;
  return read.value;
}

double leadingDecimalNumber(std::string_view text) { return leadingReal(text).value.value_or(0); }

std::string tenthsText(int64_t tenths) {
  const uint64_t size = tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
  return (tenths < 0 ? "-" : "") + std::to_string(size / 10) + "," + std::to_string(size % 10);
}

std::string secondsText(int64_t frames, int64_t sampleRate) {
  return tenthsText(sampleRate > 0 ? (frames * 10 + sampleRate / 2) / sampleRate : 0);
}

}  // namespace kalimbro
