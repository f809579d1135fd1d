// Windows-1252 <-> UTF-8 conversion.
#include "platform/codec.h"

#include <array>

namespace kalimbro {
namespace {

// Code points of bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8Unchecked(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 character at `pos`, advancing it. Malformed input
// yields nothing and advances one byte.
std::optional<char32_t> nextCodePoint(std::string_view s, size_t& pos) {
  const auto b0 = static_cast<uint8_t>(s[pos]);
  int extra;
  char32_t cp;
  if (b0 < 0x80) {
    ++pos;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++pos;
    return std::nullopt;
  }
  if (pos + extra >= s.size()) {  // truncated sequence
    ++pos;
    return std::nullopt;
  }
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<uint8_t>(s[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return std::nullopt;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return std::nullopt;
  }
  pos += extra + 1;
  return cp;
}

}  // namespace

char32_t cp1252ToCodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

std::optional<uint8_t> codePointToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<uint8_t>(cp);
  for (size_t i = 0; i < kHighControls.size(); ++i)
    if (kHighControls[i] == cp) return static_cast<uint8_t>(0x80 + i);
  return std::nullopt;
}

std::string toUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  for (char c : cp1252) appendUtf8Unchecked(out, cp1252ToCodePoint(static_cast<uint8_t>(c)));
  return out;
}

std::string fromUtf8(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const auto cp = nextCodePoint(utf8, pos);
    const auto byte = cp ? codePointToCp1252(*cp) : std::nullopt;
    out += byte ? static_cast<char>(*byte) : replacement;
  }
  return out;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  appendUtf8Unchecked(out, cp);
}

bool isValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size())
    if (!nextCodePoint(bytes, pos)) return false;
  return true;
}

bool utf8FitsCp1252(std::string_view utf8) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    const auto cp = nextCodePoint(utf8, pos);
    if (!cp || !codePointToCp1252(*cp)) return false;
  }
  return true;
}

}  // namespace kalimbro
