// file_names: the rules the file selector applies to names, free of the
// screen and of the disk: which names a mask takes (wildcards without
// regard to case, a lone vowel for its accented forms), the order of a
// list (accented letters with their plain letter, leading numbers by
// value), the search by a typed text, and the readable 8.3 form of a long
// name. Used by console/vrarq.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory.h"

namespace kalimbro {

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

// Attribute bits of a listing, as the family's directory search has them;
// ordinary files are always listed.
constexpr int kAttrHidden = 2;
constexpr int kAttrDirectory = 16;
constexpr int kAttrArchive = 32;

// The entries of a directory matching `patterns`, unsorted: hidden names
// (a leading ".") only with kAttrHidden, directories only with
// kAttrDirectory. A pattern that is exactly one vowel stands for its
// accented forms too; every pattern with a "." gets a "*" appended, one
// without gets "*.*". An entry two patterns match is there twice.
FileList matchingFiles(const std::vector<DirectoryEntry>& entries, std::string_view patterns, int attributes);
// "a" -> "a|\xE1|\xE0|\xE3|\xE2|\xE4" and so on for the other vowels;
// other pieces stay.
std::string widenVowelGroups(std::string_view patterns);
// Wildcard match of a name, without regard to case: "*" any run, "?" one
// character, and a final ".*" also matches a name without a ".".
bool matchesPattern(std::string_view pattern, std::string_view name);

// sortOrder: 0 name, 1 extension, 2 size, 3 time; ties by name.
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

}  // namespace kalimbro
