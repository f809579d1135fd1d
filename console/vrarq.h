// vrarq: the talking file selector. Lists the files of the current
// directory that match "|"-separated patterns, lets the user move through
// them by voice, search by name and change directory, and gives back the
// chosen name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

// Shows a list `rows` high of the files matching `patterns` ("*.WAV",
// "*.WAV|*.MP3"); `result` receives the chosen name, or the empty text when
// the user gave up.
void selectFile(int rows, std::string_view patterns, std::string& result);
// The key that ended the last selectFile (13 Enter, 27 ESC ...).
uint8_t selectorExitKey();

}  // namespace kalimbro
