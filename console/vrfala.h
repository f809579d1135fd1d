// vrfala: the speech output of the console. Everything the program says is
// written by the console (VrCrt) and heard through these operations:
// recorded sounds named after a message, the family's word synthesizer,
// letter and number sounds, or a speech engine when one is configured.
// A queued key cuts any speech short and stays queued for the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

// Reads the speech settings and starts speech; speed <= 0 takes the level
// from the settings. `soundDir` holds the program's recorded messages.
void initSpeech(int speed, std::string_view soundDir);
void endSpeech();
// The message directory given to the last initSpeech, with its trailing
// '/' (empty when none was given): speech restarts at another speed with it.
std::string speechSoundDir();

bool isSpeaking();
void stopSpeech();
// Waits, processing messages, while isSpeaking (a key cuts it short).
void waitSpeechEnd();

void speak(std::string_view text);
// Plays the recorded sound `name` (soundDir, or lettersDir for "_" names).
void speakSound(std::string_view name);
bool soundExists(std::string_view name);
void speakLetter(uint8_t c);
void spellText(std::string_view text);

void writeSpeak(std::string_view text);
void writelnSpeak(std::string_view text);
void writeSpeakInt(int64_t n);

uint8_t readKeySpeak();
// Reads a key, skipping focus markers; `ext` is 32 for an ordinary key and
// the code of an extended key (key 0). Printable keys are echoed.
void readKeyEchoed(uint8_t& key, uint8_t& ext);
void flushKeyboard();

void clickSound();
void beepSound();

// a-z to A-Z and every byte above 223 minus 32.
std::string upperCaseAccented(std::string_view text);
uint8_t upperCaseAccented(uint8_t c);

}  // namespace kalimbro
