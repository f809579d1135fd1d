// vrarq: the talking file selector. The user types a name at the cursor,
// or opens a talking list of the files of a directory that match
// "|"-separated patterns, moves through it by voice, searches it by name
// and chooses one. Used wherever the program asks for a file name.
//
// Names inside are Windows-1252; on disk they are UTF-8. Every entry keeps
// the name the file system gave it next to the name it shows, so a file
// whose name has no Windows-1252 form is still listed, and choosing it
// gives a name that opens that very file (see listFiles).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "console/file_names.h"

namespace kalimbro {

// Shows a list `rows` high of the files matching `patterns` ("*.WAV",
// "*.WAV|*.MP3"); `result` receives the chosen name, or the empty text when
// the user gave up. With `explain`, F1 in the name field (with nothing
// after the cursor for it to read) ends the line, calls it to say what to
// type and ask again, and the field opens anew under it.
void selectFile(int rows, std::string_view patterns, std::string& result,
                const std::function<void()>& explain = {});
// The key that ended the last selection (13 Enter, 27 ESC, 9 Tab from the
// list, otherwise the key that ended the typed line).
uint8_t selectorExitKey();

// ---- The list ---------------------------------------------------------------

// Shows the list of the files matching `mask` (a directory part ending in
// "/" and "|"-separated patterns) in the window left..right, top..bottom
// and gives back the chosen name: bare when it lies in the current
// directory, else the listed directory's full path, "/" and the name; the
// empty text after ESC or when nothing can be listed; "@TAB@" after Tab.
// A chosen name whose path has no Windows-1252 form is given as a symbolic
// link to the file, made in the program's temporary directory under the
// name shown. sortOrder: 0 name, 1 extension, 2 size, 3 time.
void listFiles(int left, int top, int right, std::string& result, int sortOrder, int attributes,
               std::string_view mask, int bottom);

// The entries of `folder` (a Windows-1252 name; empty: the current
// directory) matching `patterns`, unsorted; see matchingFiles.
FileList buildFileList(std::string_view folder, std::string_view patterns, int attributes);

// Reads the text to search for, speaking each letter; returns 13 (Enter)
// or 27 (ESC, with the empty text).
uint8_t readSearchText(std::string& text);

}  // namespace kalimbro
