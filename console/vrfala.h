// vrfala: the speech output of the console. Everything the program says is
// written by the console (VrCrt) and heard through these operations:
// recorded sounds named after a message, the family's word synthesizer,
// letter and number sounds, or a speech engine when one is configured.
// A queued key cuts any speech short and stays queued for the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "console/vrfalasom.h"
#include "console/vrsapi.h"
#include "platform/text.h"  // upperCaseAccented, which answers are compared with

namespace kalimbro {

// Reads the speech settings and starts speech; speed <= 0 takes the level
// from the settings. `soundDir` holds the program's recorded messages.
void initSpeech(int speed, std::string_view soundDir);
void endSpeech();
// The message directory given to the last initSpeech, with its trailing
// '/' (empty when none was given): speech restarts at another speed with it.
std::string speechSoundDir();
// The family's letters directory (setting "DIRLETRAS"), with its trailing
// '/' once speech has started.
std::string speechLettersDir();

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

// A speech engine is handed a line as one message: what speak gathers goes
// out when the line ends (writelnSpeak, or this call) or when the program
// next looks for a key, once the message before it has been spoken.
void sendSpokenLine();

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

// The sound side of speech: the program's player unless a test installed
// another (nullptr puts the program's back).
SpeechPlayer& speechPlayer();
void setSpeechPlayer(SpeechPlayer* player);
// How initSpeech starts a speech engine; an empty starter puts the
// program's (startSpeechEngine) back.
using SpeechEngineStarter =
    std::function<std::unique_ptr<SpeechEngine>(const SpeechEngineSettings&, SpeechPlayer&)>;
void setSpeechEngineStarter(SpeechEngineStarter starter);
// Whether text goes to a speech engine.
bool speechEngineActive();
// Whether the settings give text to the system's speech server,
// speech-dispatcher: "TRADUTOR"/"SAPI" on and an engine type other than
// espeak-ng's own.
bool speechServerChosen();
// Writes that choice: "SAPI" S or N, and espeak-ng's own engine type
// becomes the server's when the server is chosen. False when the settings
// file could not be written. Speech changes at the next initSpeech.
bool chooseSpeechServer(bool on);

// The low-vision line of section "BAIXAVISAO", as initSpeech read it.
struct LowVisionSettings {
  int magnification = 0;  // 0 off, 1-10
  int textColor = 14;
  int background = 6;
  int cursorColor = 3;
};
LowVisionSettings lowVisionSettings();

}  // namespace kalimbro
