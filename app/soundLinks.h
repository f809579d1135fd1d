// soundLinks: the links between the console and the sound engines, which
// know nothing of each other. The console's tones and speech play through
// the playback engine (with the word synthesizer for speech); the engines
// hear keys, wait, click during long work and stop the tone through the
// console. The program links all of them at start.
#pragma once

#include "console/VrCrt.h"
#include "console/vrfalasom.h"
#include "sound/userSide.h"

namespace kalimbro {

// The console's tones on the playback engine's looping device.
TonePlayer& engineTonePlayer();
// Sound files, images and synthesized words on the playback engine.
SpeechPlayer& engineSpeechPlayer();
// The console's keys, delay, click and tone, for the engines.
UserSide& consoleUserSide();

// Links all three, as the program starts.
void linkConsoleAndSound();

}  // namespace kalimbro
