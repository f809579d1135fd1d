// vredit: the talking line editor and the two ways the program reads typed
// input at the cursor, a line of text and an integer. Every typed name and
// number goes through editField, which speaks each character, word and
// cursor move and ends on Enter, ESC, Tab or a navigation key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

// Edits `text` in a field at column x, row y (1-based) of `width` visible
// characters holding at most maxLen; returns the key that ended the edit
// (for an extended key, its extended code).
// With `f1Helps`, F1 with nothing after the cursor for it to read (where
// it would beep) ends the edit and returns F1's code: the caller's question
// then says its help.
uint8_t editFieldWidth(std::string& text, int x, int y, bool editable, int width, int maxLen,
                       bool f1Helps = false);
// The same with the field reaching column 79.
uint8_t editField(std::string& text, int x, int y, bool editable, int maxLen, bool f1Helps = false);

// How a typed line ended: Enter (or another key that ends a field), ESC,
// or F1 asking for help (only where the caller offers it).
enum class LineEnd { entered, gaveUp, help };
// A line typed at the cursor (at most `maxLength` characters); ESC gives
// the empty text and blanks what was typed. Ends with a line end. An empty
// line entered and ESC are told apart by what it returns.
LineEnd readLine(std::string& text, bool f1Helps = false, int maxLength = 255);
// An integer typed at the cursor: the value of its leading digits; `n`
// unchanged when nothing was typed. 64 bits, so that no typed number
// overflows before the caller clamps it.
void readInt(int64_t& n);
// The integer a typed line holds, as readInt takes it.
void takeTypedInt(std::string_view typed, int64_t& n);

// The cursor index (1-based) when the last field ended.
int lastEditPosition();

// Whether typed characters are spoken (F4 in a field switches it); on at
// program start.
bool echoTyping();
void setEchoTyping(bool on);

}  // namespace kalimbro
