// Small helpers for the program's Windows-1252 text: blanks trimmed, and
// the upper-casings with which typed answers and names are compared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

// `text` without the characters of `blanks` at either end.
inline std::string trimmed(std::string_view text, std::string_view blanks = " ") {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

// Words are made of letters, digits and every byte from 128 up: the
// accented letters of Portuguese ("gravação" is one word).
constexpr bool isWordCharacter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 128;
}

// a to z become A to Z; every other byte stays.
constexpr uint8_t upperAscii(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

inline std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(upperAscii(static_cast<uint8_t>(c)));
  return out;
}

// a-z to A-Z and every byte above 223 minus 32: the accented small letters
// of Windows-1252 become capitals.
constexpr uint8_t upperCaseAccented(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c > 223) return static_cast<uint8_t>(c - 32);
  return c;
}

inline std::string upperCaseAccented(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(upperCaseAccented(static_cast<uint8_t>(c)));
  return out;
}

}  // namespace kalimbro
