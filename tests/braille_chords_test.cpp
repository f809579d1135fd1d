#include "console/braille_chords.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kalimbro {
namespace {

// Presses the keys of each chord together and releases them; what the
// chords gave.
std::string type(BrailleChords& chords, std::initializer_list<std::string_view> chordKeys) {
  std::string typed;
  for (std::string_view keys : chordKeys) {
    for (char k : keys) chords.press(chordBit(static_cast<uint8_t>(k)));
    for (char k : keys)
      if (const auto ch = chords.release(chordBit(static_cast<uint8_t>(k)))) typed += static_cast<char>(*ch);
  }
  return typed;
}

TEST(BrailleChords, ModeOneTypesTheTableCharacters) {
  BrailleChords chords;
  chords.setMode(1);
  EXPECT_EQ(type(chords, {"FD",        // dots 1 2: b
                          "SJL",       // dots 3 4 6: ó
                          " ",         // the space bar alone
                          " F",        // space and dot 1: Control+A
                          "fs",        // dots 1 3 in lower case: k
                          "FDSJKL",    // every dot: é
                          "JL"}),      // the capital sign is a plain { here
            "b\xF3 \x01k\xE9{");
}

TEST(BrailleChords, ChordsEndWhenEveryKeyIsUp) {
  BrailleChords chords;
  chords.setMode(1);
  chords.press(chordBit('F'));
  chords.press(chordBit('D'));
  EXPECT_EQ(chords.release(chordBit('F')), std::nullopt);
  chords.press(chordBit('S'));
  EXPECT_EQ(chords.release(chordBit('D')), std::nullopt);
  EXPECT_EQ(chords.release(chordBit('S')), 'l');  // dots 1 2 3
  // A letter that is no dot key adds nothing and completes nothing.
  EXPECT_EQ(chordBit('A'), 0);
  chords.press(chordBit('A'));
  EXPECT_EQ(chords.release(chordBit('A')), std::nullopt);
  // A cell from a braille display leaves the chord being typed alone.
  chords.press(chordBit('K'));
  EXPECT_EQ(chords.cell(0x03), 'b');
  EXPECT_EQ(chords.release(chordBit('K')), '~');  // dot 5
}

TEST(BrailleChords, ModeTwoNumbersCapitalsAndSigns) {
  BrailleChords chords;
  chords.setMode(2);
  EXPECT_EQ(type(chords, {"SJKL",  // number sign
                          "F",     // 1
                          "DJK",   // j: 0
                          "S",     // apostrophe: full stop
                          " ",     // ends number mode
                          "F",     // a
                          "JL",    // capital sign
                          "F",     // A
                          "FD",    // b
                          "JL",
                          "JL",    // capital word
                          "FD",
                          "FJ",    // BC
                          " ",
                          "FJ",    // c
                          "FKL"}), // û: at sign
            "10. aAbBC c@");
  // Any other key ends the signs; so does switching the chords off.
  EXPECT_EQ(type(chords, {"SJKL", "F"}), "1");
  chords.endCapitalAndNumber();
  EXPECT_EQ(type(chords, {"F", "JL"}), "a");
  chords.setMode(0);
  chords.setMode(2);
  EXPECT_EQ(type(chords, {"F"}), "a");
}

}  // namespace
}  // namespace kalimbro
