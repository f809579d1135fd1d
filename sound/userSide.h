// userSide: what the sound engines need of the user while they work. A key
// waiting stops playback, the user asks for a recording to end (with ESC,
// which only the user side knows), the waits let the program's messages
// in, long work clicks once a second, and a recording starts and ends
// without the console's tone. The engines know nothing of the console: the
// program links it here at start (app/soundLinks), as it links the
// console's tones and speech to the playback engine. Until then no key
// ever waits, the waits only sleep and process messages, and work is
// silent.
#pragma once

#include <cstdint>

namespace kalimbro {

class UserSide {
 public:
  virtual ~UserSide() = default;
  // Processes pending messages; true when a key waits (it stays queued).
  virtual bool keyPressed() = 0;
  // Takes a waiting key, if any; true when it asks to end a recording.
  virtual bool recordingEndAsked() = 0;
  // Sleeps `ms` milliseconds, then processes pending messages.
  virtual void delay(int ms) = 0;
  // One click of long work.
  virtual void click() = 0;
  // Stops the console's tone, if one sounds.
  virtual void toneOff() = 0;
};

// nullptr puts the quiet one back.
void setUserSide(UserSide* side);
UserSide& userSide();

}  // namespace kalimbro
