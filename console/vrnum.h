// vrnum: numbers said in Portuguese words. The speech output turns a number
// into its words and hears them from the family's recorded word files of the
// letters directory, one file per word.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// The Portuguese words of n (Windows-1252), separated by single blanks, e.g.
// 123 -> "cento e vinte e tres". A number that ends in a named group of
// thousands keeps that name's trailing blank ("mil ", "dois milhões ").
// A negative n has no words: the result is empty.
std::string numberWords(int32_t n);

// The word files, in order, that say `text` (words of numberWords): "_" and
// the first seven characters of each word with "ã"/"õ" folded to a/o,
// then ".wav" ("dezessete" is "_dezeset.wav", apart from 16's
// "_dezesse.wav"). With `feminine`, a last word "um" or "dois" becomes
// "_uma.wav" or "_duas.wav". The names are relative to the letters
// directory.
std::vector<std::string> numberWordFiles(std::string_view text, bool feminine);

// Plays `text` (words of numberWords) from the word files of the letters
// directory as one continuous sound: the files' data are gathered behind
// one 44-byte header, at most 30000 bytes at a time (a longer file is cut),
// each gathering played and waited for; a key cuts the waits short. A
// missing word file leaves a gap. Every word file is taken to be 8-bit mono
// 11025 Hz.
void speakNumberWords(std::string_view text, bool feminine);

// One word file that numberWordFiles can name, with the word it says
// (Windows-1252, as numberWords writes it: "tres", "milh\xE3o"; "uma" and
// "duas" for the feminine files).
struct NumberWordFile {
  std::string fileName;
  std::string word;
};

// Every word file numberWordFiles can name for the words of numberWords,
// each once, for the tools that record them.
std::vector<NumberWordFile> allNumberWordFiles();

}  // namespace kalimbro
