// VrCrt: the console window of the family's talking programs, as
// platform-free logic. An 80 x 25 grid of Windows-1252 cells with a cursor
// and sixteen colours, the keyboard queue with its translation tables, the
// braille chord keyboard, tones, window title and clipboard. The user's
// terminal is reached only through the Terminal seam; input arrives through
// `crtHandleInput`, called by the terminal backend from the event loop.
// Every other unit of the program shows and reads through these operations.
// Coordinates are 1-based: columns 1-80, rows 1-25.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/braille_display.h"
#include "platform/terminal.h"

namespace kalimbro {

constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;
constexpr int kKeyQueueSize = 64;

// Plays a sound image (a complete WAV file in memory) in a loop until
// stopped; the console's tones go through it. Installed by the program once
// the playback engine exists; without one, tones are silent.
class TonePlayer {
 public:
  virtual ~TonePlayer() = default;
  virtual void playLooping(const std::vector<uint8_t>& wavImage) = 0;
  virtual void stop() = 0;
};

// Resets the console to its state at program start and attaches it to
// `terminal` (nullptr: nothing is drawn). Reads the "VIDEO" and "BRAILLE"
// settings on first use, as the window creation does.
void crtInit(Terminal* terminal);
void crtSetTonePlayer(TonePlayer* player);
// The braille display that shows the cursor's row (cut to the display's
// width around the cursor) whenever the cursor changes row or the row is
// drawn again; nullptr: none.
void crtSetBrailleDisplay(BrailleDisplay* display);
// Queues a key pressed on the braille display; a braille cell typed there
// is read through the braille table (and the conventions of mode 2).
void crtHandleBrailleKey(const BrailleKey& key);
// Called by the terminal backend for every decoded input event.
void crtHandleInput(const InputEvent& event);
// Queues the bytes of one key as they are (an extended key is 0 and its
// code), for key sources other than the terminal: a braille display, test
// scripts. False, and nothing queued, when they do not all fit.
bool crtQueueKey(std::string_view bytes, Modifiers mods = {});
// The terminal was resized or exposed: draw the whole grid again.
void crtRepaint();
// True when the terminal shows fewer rows or columns than the grid (it then
// shows the part that holds the cursor).
bool crtTerminalSmallerThanGrid();

// Keyboard queue.
bool keyPressed();
// Waits for a key. While none is queued it first gives the idle work its
// turns, one short piece each, for as long as the work says more is left.
uint8_t readKey();
// The byte readKey would return next, left queued; nothing when none is.
std::optional<uint8_t> nextQueuedKey();
void setIdleWork(bool (*work)());
// Runs before every look at the key queue (keyPressed, and readKey before
// it waits), told whether a key is queued: output held back until then
// (speech gathering a line into one message) goes out, or is dropped when
// a key is waiting.
void setBeforeKeyCheck(void (*check)(bool keyQueued));
// Shift/Control/Alt as they were when the key read last was pressed.
Modifiers lastKeyModifiers();
// For waits that only ESC may cut short (a helper program running): reads
// every queued key and tells whether ESC was among them. The other keys
// are dropped.
bool escapeTyped();

// Screen.
void gotoXY(int x, int y);
int whereX();
int whereY();
uint8_t screenCharAt(int x, int y);
uint8_t screenAttrAt(int x, int y);
void clearScreen();
void clearToEndOfLine();
void clearToEndOfScreen(int row);
void reserveLines(int n);
void textColor(int c);
void textBackground(int c);
uint8_t currentAttribute();
// The write routine of the program's text output: control bytes 7, 8, 10,
// 13 act, other control bytes are ignored, 32..255 are stored and advance.
void crtWrite(std::string_view bytes);
// crtWrite followed by carriage return and line feed.
void crtWriteln(std::string_view bytes = {});
// Plain line reading of the program's text input: returns the line with
// its CR LF; at most bufferSize - 2 characters are kept.
std::string crtReadLine(size_t bufferSize = 256);
// How a line read by crtReadLineOrGiveUp ended.
enum class TypedLineEnd { enter, escape, f1 };
// As crtReadLine, without the CR LF, where ESC and F1 also end the line
// (nothing typed comes back then).
std::string crtReadLineOrGiveUp(TypedLineEnd& end, size_t bufferSize = 256);

void delay(int ms);

// Tones.
void toneOn(int frequency);
void toneOff();
// The 8-bit mono 11025 Hz WAV image that toneOn plays for `frequency`.
std::vector<uint8_t> toneImage(int frequency);

// Window title and clipboard.
void setWindowTitle(std::string_view text);
std::string windowTitle();
void copyToClipboard(std::string_view text);
// Copies at most size - 1 bytes of the clipboard text into `buffer`
// (size counts the terminator, as the design's buffer does); size 0 leaves
// it untouched.
void pasteFromClipboard(std::string& buffer, size_t size);

// Braille chord keyboard: mode 0 off, 1 or 2.
int brailleMode();
void setBrailleMode(int mode);

// Palette: the RGB colour shown for colour number c (after TABCORES).
Rgb paletteColor(int c);

// Ends the program: restores the terminal, discards queued keys, runs the
// registered exit procedures and exits with status 0.
[[noreturn]] void closeConsole();
// Code run by closeConsole before the process ends (the terminal backend
// registers its restore here).
void crtAtClose(std::function<void()> fn);

// Directory of the family settings file "Varelu.ini", without a trailing
// separator.
std::string familyIniDirectory();

}  // namespace kalimbro
