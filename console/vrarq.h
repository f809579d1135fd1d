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
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// Shows a list `rows` high of the files matching `patterns` ("*.WAV",
// "*.WAV|*.MP3"); `result` receives the chosen name, or the empty text when
// the user gave up.
void selectFile(int rows, std::string_view patterns, std::string& result);
// The key that ended the last selection (13 Enter, 27 ESC, 9 Tab from the
// list, otherwise the key that ended the typed line).
uint8_t selectorExitKey();

// ---- The list ---------------------------------------------------------------

struct FileEntry {
  std::string name;        // long name as shown and spoken (Windows-1252)
  std::string nativeName;  // the name in the directory, as the file system has it
  std::string shortName;   // the readable 8.3 form of `name`
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since the epoch
  bool directory = false;
  bool marked = false;
};
using FileList = std::vector<FileEntry>;

// Attribute bits of buildFileList, as the family's directory search has
// them; ordinary files are always listed.
constexpr int kAttrHidden = 2;
constexpr int kAttrDirectory = 16;
constexpr int kAttrArchive = 32;

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

// The entries of the current directory matching `patterns`, unsorted. A
// pattern that is exactly one vowel stands for its accented forms too;
// every pattern with a "." gets a "*" appended, one without gets "*.*".
FileList buildFileList(std::string_view patterns, int attributes);
// "a" -> "a|\xE1|\xE0|\xE3|\xE2|\xE4" and so on for the other vowels;
// other pieces stay.
std::string widenVowelGroups(std::string_view patterns);
// Wildcard match of a name, without regard to case: "*" any run, "?" one
// character, and a final ".*" also matches a name without a ".".
bool matchesPattern(std::string_view pattern, std::string_view name);

void sortFileList(FileList& list, int sortOrder);
// The key that names sort and search by: letters in upper case and accented
// letters as their plain letter.
std::string nameKey(std::string_view name);
// The sort key of a name: nameKey with a leading run of digits padded to 15.
std::string nameSortKey(std::string_view name);
// The readable 8.3 form of a long name: the part before the last "." without
// blanks and dots, cut to 8, a "." and up to 3 characters after it, in
// upper case.
std::string shortFileName(std::string_view name);

// Search key of a typed text: upper-cased, then nameKey.
std::string searchKey(std::string_view text);
// The first entry after `current` whose name begins with (or, with
// `anywhere`, holds) the search key `key`; -1 when there is none. No
// wrap-around.
int findInList(const FileList& list, int current, std::string_view key, bool anywhere);

// Reads the text to search for, speaking each letter; returns 13 (Enter)
// or 27 (ESC, with the empty text).
uint8_t readSearchText(std::string& text);

}  // namespace kalimbro
