// keys: the bytes of the console's key queue, named once for everyone who
// reads keys (the console's editors and lists, the commands, and the sound
// engines, which stop a recording on ESC).
//
// The queue holds bytes. A plain key is one byte: its character, or a
// control byte (Enter, ESC, Tab, Backspace, Control+letter, and the two
// focus markers). An extended key is two: 0, then its code, the scan code
// of the family's console (F1 is 0 and 59). A reader that takes a 0 with
// readKey takes the code with the next readKey.
#pragma once

#include <cstdint>

namespace kalimbro {

// ---- Plain bytes -------------------------------------------------------------------

inline constexpr uint8_t kBackspace = 8, kTab = 9, kEnter = 13, kEsc = 27, kSpace = 32;
// Control with Enter and with Backspace.
inline constexpr uint8_t kCtrlEnter = 10, kCtrlBackspace = 127;
// Control+letter is the letter's place in the alphabet; Control+\ is 28.
inline constexpr uint8_t kCtrlB = 2, kCtrlC = 3, kCtrlD = 4, kCtrlK = 11, kCtrlL = 12, kCtrlQ = 17,
                         kCtrlS = 19, kCtrlU = 21, kCtrlV = 22, kCtrlY = 25, kCtrlZ = 26,
                         kCtrlBackslash = 28;
// Queued by the console when its window gains or loses the focus.
inline constexpr uint8_t kFocusGained = 222, kFocusLost = 223;

// ---- Extended codes (after a 0) --------------------------------------------------------

inline constexpr uint8_t kF1 = 59, kF2 = 60, kF3 = 61, kF4 = 62, kF5 = 63, kF6 = 64, kF7 = 65, kF8 = 66,
                         kF9 = 67, kF10 = 68, kF11 = 69, kF12 = 70;
inline constexpr uint8_t kCtrlF1 = 94, kCtrlF2 = 95, kCtrlF3 = 96, kCtrlF4 = 97, kCtrlF5 = 98, kCtrlF6 = 99,
                         kCtrlF7 = 100, kCtrlF8 = 101, kCtrlF9 = 102, kCtrlF10 = 103, kCtrlF11 = 104,
                         kCtrlF12 = 105;

inline constexpr uint8_t kHome = 71, kUp = 72, kPageUp = 73, kLeft = 75, kRight = 77, kEnd = 79, kDown = 80,
                         kPageDown = 81, kInsert = 82, kDelete = 83;
// Control+Delete gives Delete's code.
inline constexpr uint8_t kCtrlUp = 113, kCtrlDown = 114, kCtrlLeft = 115, kCtrlRight = 116, kCtrlEnd = 117,
                         kCtrlPageDown = 118, kCtrlHome = 119, kCtrlPageUp = 132, kCtrlInsert = 255;
// A paste from the terminal queues it too.
inline constexpr uint8_t kShiftInsert = 254;

// Alt+letter: the letter's scan code, A to Z.
inline constexpr uint8_t kAltLetterCodes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                                49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
// Alt+Q, Alt+W and Alt+E (16, 17, 18) prefix a key in the editors.
inline constexpr uint8_t kAltQ = kAltLetterCodes['Q' - 'A'], kAltE = kAltLetterCodes['E' - 'A'];
// Alt+1 to Alt+9 give 120 to 128, Alt+0 gives 129.
inline constexpr uint8_t kAlt1 = 120, kAlt0 = 129;

}  // namespace kalimbro
