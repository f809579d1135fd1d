// Private-profile files (INI): sections and keys compared without regard to
// case, every other line kept as it is, the file and the section created
// when a key is written. Names and values are Windows-1252 inside the
// program; the file is stored in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kalimbro {

// The value of `key` in `section` of the file at `path` (at most
// `maxLength` characters, surrounding blanks removed), or `fallback`.
std::string profileRead(std::string_view path, std::string_view section, std::string_view key,
                        std::string_view fallback = {}, size_t maxLength = 255);

// Writes `key`=`value` into `section`, creating the file, its directory
// and the section when missing. False when the file cannot be written.
bool profileWrite(std::string_view path, std::string_view section, std::string_view key,
                  std::string_view value);

}  // namespace kalimbro
