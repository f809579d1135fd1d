// vredit: the talking line editor and the two ways the program reads typed
// input at the cursor, a line of text and an integer. Every typed name and
// number goes through editField, which speaks each character, word and
// cursor move and ends on Enter, ESC, Tab or a navigation key.
#pragma once

#include <cstdint>
#include <string>

namespace kalimbro {

// Edits `text` in a field at column x, row y (1-based) of `width` visible
// characters holding at most maxLen; returns the key that ended the edit
// (for an extended key, its extended code).
uint8_t editFieldWidth(std::string& text, int x, int y, bool editable, int width, int maxLen);
// The same with the field reaching column 79.
uint8_t editField(std::string& text, int x, int y, bool editable, int maxLen);

// A line typed at the cursor (at most `maxLength` characters); ESC gives
// the empty text, blanks what was typed and returns false. Ends with a
// line end.
bool readLine(std::string& text, int maxLength = 255);
// An integer typed at the cursor: the value of its leading digits; `n`
// unchanged when nothing was typed. 64 bits, so that no typed number
// overflows before the caller clamps it.
void readInt(int64_t& n);

// The cursor index (1-based) when the last field ended.
int lastEditPosition();

// Whether typed characters are spoken (F4 in a field switches it); on at
// program start.
bool echoTyping();
void setEchoTyping(bool on);

}  // namespace kalimbro
