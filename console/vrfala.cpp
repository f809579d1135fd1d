// Speech output. The screen side and the key reading are complete; the
// sounds themselves join when the playback engine and the synthesizer do,
// until then text is only shown.
#include "console/vrfala.h"

#include "console/VrCrt.h"
#include "platform/eventloop.h"

namespace kalimbro {

namespace {
std::string soundDir;
}

void initSpeech(int, std::string_view dir) {
  soundDir = std::string(dir);
  if (!soundDir.empty() && soundDir.back() != '/') soundDir += '/';
}

std::string speechSoundDir() { return soundDir; }
void endSpeech() { stopSpeech(); }

bool isSpeaking() {
  if (keyPressed()) stopSpeech();
  return false;
}

void stopSpeech() { eventLoop().postWakeUp(); }

void waitSpeechEnd() {
  while (isSpeaking()) eventLoop().waitForMessage(50);
}

void speak(std::string_view) {}
void speakSound(std::string_view) {}
bool soundExists(std::string_view) { return false; }
void speakLetter(uint8_t) {}
void spellText(std::string_view) {}

void writeSpeak(std::string_view text) {
  crtWrite(text);
  speak(text);
}

void writelnSpeak(std::string_view text) {
  writeSpeak(text);
  crtWriteln();
}

void writeSpeakInt(int64_t n) { writeSpeak(std::to_string(n)); }

uint8_t readKeySpeak() {
  const uint8_t key = readKey();
  stopSpeech();
  speakLetter(key);
  return key;
}

void readKeyEchoed(uint8_t& key, uint8_t& ext) {
  constexpr uint8_t kFocusGained = 222, kFocusLost = 223;
  constexpr uint8_t kAltQ = 16, kAltE = 18, kF8 = 66;
  for (;;) {
    waitSpeechEnd();
    ext = 32;
    key = readKey();
    if (key == kFocusGained || key == kFocusLost) continue;
    if (key == 0) {
      ext = readKey();
      if (ext >= kAltQ && ext <= kAltE) key = readKey();
    }
    if (key == 0 && ext == kF8) continue;  // the spoken time comes with the speech unit
    break;
  }
  if (key > 31) {
    crtWrite(std::string(1, static_cast<char>(key)));
    speakLetter(key);
  }
}

void flushKeyboard() {
  while (keyPressed()) readKey();
}

void clickSound() {}
void beepSound() {}

uint8_t upperCaseAccented(uint8_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c > 223) return c - 32;
  return c;
}

std::string upperCaseAccented(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(upperCaseAccented(static_cast<uint8_t>(c)));
  return out;
}

}  // namespace kalimbro
