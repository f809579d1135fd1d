// klToca: the play command (T of the main menu). The user listens to the
// sound in tenths of a second, so that a key stops it where it was heard,
// moves the play cursor by tenths, hundredths, seconds or to a typed second,
// memorises one position and comes back to it, and hears the total time,
// the cursor time and the percentage. The cursor and the mark it leaves in
// program().currentPosition and markedPosition are what the remove, effect
// and mix commands work from.
#pragma once

#include <cstdint>
#include <string>

namespace kalimbro {

// The command loop, from T to ESC or Enter.
void playCommand();

// A time as the program shows and says it: whole seconds, ":", one digit
// of tenths. At 22050 Hz, frame 33075 is "1:5". The one-argument form uses
// the sample rate of the sound being edited.
std::string formatPosition(int64_t frames, int32_t sampleRate);
std::string formatPosition(int64_t frames);

// Writes the time of the play cursor at column 1 of the cursor's row,
// followed by blanks that wipe a longer text left there; nothing is said.
void showPosition();

// F6: total time, cursor time and the cursor's percentage of the sound.
void playInformation();

}  // namespace kalimbro
