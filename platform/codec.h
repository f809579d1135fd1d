// The Windows-1252 <-> UTF-8 codec: the one place where text changes
// encoding. Inside the program every text is Windows-1252 bytes; the
// terminal, file names, the settings file, the synthesizers and child
// process arguments use UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalimbro {

// The Unicode code point of a Windows-1252 byte. The five bytes that code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control
// of the same number, so every byte survives a round trip.
char32_t cp1252ToCodePoint(uint8_t byte);

// The Windows-1252 byte of a code point, or nothing when it has none.
std::optional<uint8_t> codePointToCp1252(char32_t cp);

std::string toUtf8(std::string_view cp1252);

// Characters without a Windows-1252 form, and malformed UTF-8, become
// `replacement`.
std::string fromUtf8(std::string_view utf8, char replacement = '?');

// True when every character of `utf8` has a Windows-1252 form.
bool utf8FitsCp1252(std::string_view utf8);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or
// truncated sequences).
bool isValidUtf8(std::string_view bytes);

// Appends the UTF-8 form of the code point `cp`.
void appendUtf8(std::string& out, char32_t cp);

}  // namespace kalimbro
