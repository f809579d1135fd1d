#include "console/file_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codec.h"

namespace kalimbro {
namespace {

FileEntry entry(std::string_view name) {
  FileEntry e;
  e.name = name;
  e.nativeName = toUtf8(name);
  return e;
}

std::vector<std::string> namesOf(const FileList& list) {
  std::vector<std::string> names;
  for (const FileEntry& e : list) names.push_back(e.name);
  return names;
}

// ---------------------------------------------------------------- name keys

TEST(FileSelectorKeys, NameKeyFoldsCaseAndAccents) {
  EXPECT_EQ(nameKey("a\xE7\xE3o-1.wav"), "ACAO-1.WAV");  // ação
  EXPECT_EQ(nameKey("\xC1\xC9\xCD\xD3\xDA\xDD\xD1\xC7"), "AEIOUYNC");
  EXPECT_EQ(nameKey("\xE1\xE9\xED\xF3\xFA\xFD\xF1\xE7\xFF"), std::string("AEIOUYNC\xFE"));
  // The DOS code page letters of 128-165, the ligature and the rest.
  EXPECT_EQ(nameKey("\x80\x81\x82\x83\x8B\x93\x98\xA4"), "CUEAIOYN");
  EXPECT_EQ(nameKey("\xC6\xE6\xD7\xF7"), std::string("\x91\x91XX"));
  EXPECT_EQ(nameKey("\xDF\xB0\xA9"), std::string("\xFE\xFE\xFE"));
  EXPECT_EQ(nameKey("~_[1]"), "~_[1]");
}

TEST(FileSelectorKeys, SearchKeyUpperCasesFirst) {
  EXPECT_EQ(searchKey("jo"), "JO");
  EXPECT_EQ(searchKey("J\xF3"), "JO");
  EXPECT_EQ(searchKey("\xFF"), std::string("\xFE"));  // ÿ, upper case Ÿ, sorts with the rest
}

TEST(FileSelectorKeys, ShortNameIsAReadable83Form) {
  EXPECT_EQ(shortFileName("Minha grava\xE7\xE3o longa.wav"), "MINHAGRA.WAV");
  EXPECT_EQ(shortFileName("som.wave"), "SOM.WAV");
  EXPECT_EQ(shortFileName("a.b.c.mp3"), "ABC.MP3");
  EXPECT_EQ(shortFileName("leiame"), "LEIAME");
  EXPECT_EQ(shortFileName("\xE9" "dito.wav"), "\xC9" "DITO.WAV");
}

// ---------------------------------------------------------------- sorting

TEST(FileSelectorSort, ByNameWithNumbersAndAccents) {
  FileList list;
  for (auto n : {"b.wav", "10.wav", "\xC1rvore.wav", "9.wav", "azul.wav", "Abc.wav", "\xE1gua.wav", "2x.wav"})
    list.push_back(entry(n));
  sortFileList(list, 0);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"2x.wav", "9.wav", "10.wav", "Abc.wav", "\xE1gua.wav",
                                                     "\xC1rvore.wav", "azul.wav", "b.wav"}));
}

TEST(FileSelectorSort, ByExtensionSizeAndTime) {
  FileList list = {entry("b.wav"), entry("c.mp3"), entry("a.WAV"), entry("d")};
  list[0].size = 30, list[1].size = 10, list[2].size = 20, list[3].size = 5;
  list[0].modified = 1, list[1].modified = 4, list[2].modified = 3, list[3].modified = 2;
  sortFileList(list, 1);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"d", "c.mp3", "a.WAV", "b.wav"}));
  sortFileList(list, 2);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"d", "c.mp3", "a.WAV", "b.wav"}));
  sortFileList(list, 3);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"b.wav", "d", "a.WAV", "c.mp3"}));
}

// ---------------------------------------------------------------- patterns

TEST(FileSelectorPatterns, WildcardsIgnoreCase) {
  EXPECT_TRUE(matchesPattern("*.WAV*", "som.wav"));
  EXPECT_TRUE(matchesPattern("*.WAV*", "SOM.Wave"));
  EXPECT_FALSE(matchesPattern("*.WAV*", "som.mp3"));
  EXPECT_FALSE(matchesPattern("*.WAV*", "wav"));
  EXPECT_TRUE(matchesPattern("s?m.*", "SAM.x"));
  EXPECT_FALSE(matchesPattern("s?m.*", "sm.x"));
  EXPECT_TRUE(matchesPattern("\xC1*", "\xE1gua"));  // Á matches á
  EXPECT_TRUE(matchesPattern("\xE9*.*", "\xC9" "dito"));
  // A final ".*" also takes a name without an extension.
  EXPECT_TRUE(matchesPattern("a*.*", "abc"));
  EXPECT_TRUE(matchesPattern("*.*", "leiame"));
  EXPECT_FALSE(matchesPattern("a*.*", "bac"));
}

TEST(FileSelectorPatterns, OneVowelListsItsAccentedFormsInEitherCase) {
  std::vector<DirectoryEntry> entries;  // names as on disk
  for (auto n : {"abc.wav", "\xC3\x81rvore.wav", "\xC3\xA3o.wav", "Azul", "bala.wav", "\xC3\xA9gua.wav"})
    entries.push_back({n});
  FileList list = matchingFiles(entries, "a", kAttrArchive);
  sortFileList(list, 0);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"abc.wav", "\xE3o.wav", "\xC1rvore.wav", "Azul"}));
}

TEST(FileSelectorPatterns, OneVowelStandsForItsGroup) {
  EXPECT_EQ(widenVowelGroups("a"), "a|\xE1|\xE0|\xE3|\xE2|\xE4");
  EXPECT_EQ(widenVowelGroups("E"), "e|\xC9|\xE8|\xEA|\xEB");
  EXPECT_EQ(widenVowelGroups("*.WAV|u|x"), "*.WAV|u|\xFA|\xF9|\xFB|\xFC|x");
  EXPECT_EQ(widenVowelGroups("ab"), "ab");
}

// ---------------------------------------------------------------- search

TEST(FileSelectorSearch, FromTheNextEntryWithoutWrapping) {
  const FileList list = {entry("Joana"), entry("maria"), entry("j\xF3ia"), entry("xjo"), entry("JOSE")};
  const std::string jo = searchKey("jo");
  EXPECT_EQ(findInList(list, 0, jo, false), 2);
  EXPECT_EQ(findInList(list, 2, jo, false), 4);
  EXPECT_EQ(findInList(list, 4, jo, false), -1);
  EXPECT_EQ(findInList(list, -1, jo, false), 0);
  EXPECT_EQ(findInList(list, 2, jo, true), 3);
  EXPECT_EQ(findInList(list, 0, searchKey("RIA"), true), 1);
  EXPECT_EQ(findInList(list, 0, searchKey("RIA"), false), -1);
}

}  // namespace
}  // namespace kalimbro
