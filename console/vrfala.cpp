// Speech output. Text goes to a speech engine when the settings name one;
// otherwise it is cut into pieces: runs of digits become number words or
// spelled digits, runs of letters go to the family's word synthesizer, and
// every other character is played from its recorded sound, with a pause
// after punctuation. Every wait processes messages, and a queued key cuts
// everything short.
#include "console/vrfala.h"

#include <cctype>
#include <random>
#include <utility>
#include <vector>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala_tempo.h"
#include "console/vrini.h"
#include "console/vrnum.h"
#include "platform/eventloop.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

constexpr int kSoundRate = 11025;
constexpr int kDefaultLevel = 3, kLevels = 5;
constexpr int kPauseStepMs = 50;
constexpr int kEngineType4 = 4;
constexpr int kLongestSpokenNumber = 6;  // digits; longer runs are spelled

struct LevelSettings {
  int fullStopPause = 250;
  int commaPause = 150;
  int colonPause = 200;
  bool speedUp = false;
  bool fastMode = false;
};

// The click: 64 random values in 128..187, drawn once, then 192 of silence.
std::vector<uint8_t> makeClickImage() {
  std::vector<uint8_t> data(256, 128);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> noise(128, 187);
  for (size_t i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(noise(random));
  std::vector<uint8_t> image(kWavHeaderBytes);
  fillWavHeader(std::span<uint8_t, kWavHeaderBytes>(image.data(), kWavHeaderBytes),
                static_cast<uint32_t>(data.size()), kSoundRate, 1, 8);
  image.insert(image.end(), data.begin(), data.end());
  return image;
}

// The beep: one short wave of eight values, repeated, ending on silence.
std::vector<uint8_t> makeBeepImage() {
  constexpr uint8_t kWave[8] = {128, 112, 96, 80, 64, 80, 96, 112};
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = kWave[i % 8];
  data.back() = 128;
  std::vector<uint8_t> image(kWavHeaderBytes);
  fillWavHeader(std::span<uint8_t, kWavHeaderBytes>(image.data(), kWavHeaderBytes),
                static_cast<uint32_t>(data.size()), kSoundRate, 1, 8);
  image.insert(image.end(), data.begin(), data.end());
  return image;
}

struct Speech {
  std::string soundDir;
  std::string lettersDir;
  bool engineActive = false;
  int engineType = 0;
  // Text was handed to the engine and its end not yet awaited. On at start,
  // so that the first sound waits for whatever speaks.
  bool enginePending = true;
  bool stopRequested = false;
  // The pieces of the line being written, gathered for the engine: a
  // speech server pays its start-up silence once a message, so a line goes
  // as one message when it ends or the program next looks for a key.
  std::string line;
  bool sendingLine = false;
  LevelSettings level;
  LowVisionSettings lowVision;
  std::unique_ptr<SpeechEngine> engine;
  SpeechPlayer* testPlayer = nullptr;
  SpeechEngineStarter engineStarter;
  std::vector<uint8_t> click = makeClickImage();
  std::vector<uint8_t> beep = makeBeepImage();
};

Speech& speech() {
  static Speech s;
  return s;
}

int iniInt(std::string_view section, std::string_view key, int fallback) {
  return wholeNumber32(iniRead(section, key)).value_or(fallback);
}

// A switch setting: anything but empty or a word starting with N is on.
bool switchOn(std::string_view value) {
  return !value.empty() && value.front() != 'N' && value.front() != 'n';
}

std::string withSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

LevelSettings readLevelSettings(int level) {
  const std::string n = std::to_string(level);
  LevelSettings s;
  s.fullStopPause = iniInt("SINTETIZADOR", "PAUSAPONTO" + n, s.fullStopPause);
  s.commaPause = iniInt("SINTETIZADOR", "PAUSAVIRG" + n, s.commaPause);
  s.colonPause = iniInt("SINTETIZADOR", "PAUSADOISPONTOS" + n, s.colonPause);
  s.speedUp = switchOn(iniRead("SINTETIZADOR", "RAPIDINHO" + n));
  s.fastMode = switchOn(iniRead("SINTETIZADOR", "CORTAFALA" + n));
  return s;
}

LowVisionSettings readLowVisionSettings() {
  LowVisionSettings s;
  auto colour = [](std::string_view key, int fallback) {
    const std::optional<int32_t> c = wholeNumber32(iniRead("BAIXAVISAO", key));
    return (c && *c >= 0 && *c <= 15) ? *c : fallback;
  };
  const std::string magnification = iniRead("BAIXAVISAO", "AMPLIACAO");
  if (!magnification.empty()) {
    const std::optional<int32_t> m = wholeNumber32(magnification);
    s.magnification = (m && *m >= 0 && *m <= 10) ? *m : 3;
  }
  s.textColor = colour("CORLETRA", s.textColor);
  s.background = colour("CORFUNDO", s.background);
  s.cursorColor = colour("CORCURSOR", s.cursorColor);
  return s;
}

// A letter (Windows-1252's accented ones too) or a digit.
bool inWord(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || u >= 0xC0;
}

// Hands the gathered line to the engine once the message before it has
// been spoken. A key queued cuts the speech and drops the line.
void sendLineUnlessKey(bool keyQueued) {
  Speech& s = speech();
  if (s.line.empty() || s.sendingLine || !s.engine) return;
  s.sendingLine = true;
  while (!keyQueued && s.engine->busy()) {
    eventLoop().waitForMessage(kPauseStepMs);
    keyQueued = keyPressed();
  }
  if (keyQueued) {
    stopSpeech();
  } else {
    s.engine->speak(std::exchange(s.line, {}));
    s.enginePending = true;
  }
  s.sendingLine = false;
}


// Engine speech must have been heard before a recorded sound plays.
void waitEngineSpeech() {
  Speech& s = speech();
  sendSpokenLine();
  if (!s.enginePending) return;
  waitSpeechEnd();
  s.enginePending = false;
}

std::string soundPath(std::string_view name) {
  const Speech& s = speech();
  return (name.starts_with('_') ? s.lettersDir : s.soundDir) + std::string(name) + ".wav";
}

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool isLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 128; }

// Punctuation at the front of `text`: its sound, then the pause it asks for
// (comma and hyphen only before a blank, full stop likewise), in steps that
// a queued key skips.
void speakPunctuation(std::string_view text) {
  if (keyPressed()) return;
  const Speech& s = speech();
  const uint8_t c = static_cast<uint8_t>(text.front());
  const bool blankNext = text.size() > 1 && text[1] == ' ';
  waitSpeechEnd();
  speakLetter(c);
  int pause = 0;
  if ((c == ',' || c == '-') && blankNext) pause = s.level.commaPause;
  else if (c == '.' && blankNext) pause = s.level.fullStopPause;
  else if (c == '(' || c == ')' || c == ':' || c == ';') pause = s.level.colonPause;
  for (int step = 0; step < pause / kPauseStepMs; ++step) {
    if (!keyPressed()) delay(kPauseStepMs);
  }
}

// Speech without an engine, piece by piece from the front of the text.
void speakPieces(std::string_view original) {
  Speech& s = speech();
  const std::string owned = std::string(original) + ' ';
  std::string_view text = owned;
  s.stopRequested = false;
  constexpr int kNoCharacter = -1;
  int previous = ' ';
  int repeats = 0;

  while (!text.empty() && !s.stopRequested) {
    if (keyPressed()) {
      stopSpeech();
      return;
    }
    const uint8_t first = static_cast<uint8_t>(text.front());

    // A word or a number breaks any run of repeated characters: only
    // characters repeated back to back click.
    if (first == '0' || isDigit(first) || isLetter(first)) previous = kNoCharacter;

    if (first == '0') {
      speakSound("_zero");
      text.remove_prefix(1);
      continue;
    }

    if (isDigit(first)) {
      size_t n = 0;
      while (n < text.size() && (isDigit(static_cast<uint8_t>(text[n])) || text[n] == '-')) ++n;
      const std::string_view run = text.substr(0, n);
      if (run.find('-') == std::string_view::npos && run.size() <= kLongestSpokenNumber) {
        speakNumberWords(numberWords(wholeNumber32(run).value_or(0)), false);
      } else {
        spellText(run);
      }
      text.remove_prefix(n);
      continue;
    }

    if (isLetter(first)) {
      size_t n = 0;
      while (n < text.size() && isLetter(static_cast<uint8_t>(text[n]))) ++n;
      const std::string_view word = text.substr(0, n);
      if (upperCaseAccented(word) == "WWW") spellText(word);
      else speechPlayer().playWords(word);
      text.remove_prefix(n);
      // Hyphenated words are read as one flow.
      if (text.size() >= 2 && text[0] == '-' && isLetter(static_cast<uint8_t>(text[1])))
        text.remove_prefix(1);
      continue;
    }

    // A character repeated more than four times in a row clicks instead.
    uint8_t c = first;
    if (c == previous) {
      ++repeats;
    } else {
      repeats = 0;
      previous = c;
    }
    if (repeats > 3) {
      clickSound();
      c = ' ';
    }

    if (c == '-') {
      const uint8_t next = text.size() > 1 ? static_cast<uint8_t>(text[1]) : 0;
      if (text.size() >= 3 && (next == ' ' || next == '-')) speakPunctuation(text);
      else if (isDigit(next)) speakSound("_MENOS");
      else speakLetter(c);
    } else if (c == ':' && text.starts_with("://")) {
      spellText(":");  // an address: no pause after its colon
    } else {
      switch (c) {
        case '(': case ')': case ',': case '.': case ':': case ';':
          speakPunctuation(text);
          break;
        case '\t':
          speakSound("_FON9");
          break;
        case '\n': case '\r': case ' ':
          break;
        default:
          if (!keyPressed()) speakLetter(c);
      }
    }
    text.remove_prefix(1);
  }
}

}  // namespace

SpeechPlayer& speechPlayer() {
  SpeechPlayer* player = speech().testPlayer;
  return player ? *player : programSpeechPlayer();
}

void setSpeechPlayer(SpeechPlayer* player) { speech().testPlayer = player; }

void setSpeechEngineStarter(SpeechEngineStarter starter) {
  speech().engineStarter = std::move(starter);
}

bool speechEngineActive() { return speech().engineActive; }

bool speechServerChosen() {
  return switchOn(iniRead("TRADUTOR", "SAPI")) && iniInt("SERVFALA", "TIPOSAPI", 0) != kEspeakEngineType;
}

bool chooseSpeechServer(bool on) {
  bool written = iniWrite("TRADUTOR", "SAPI", on ? "S" : "N");
  if (on && iniInt("SERVFALA", "TIPOSAPI", 0) == kEspeakEngineType)
    written = iniWrite("SERVFALA", "TIPOSAPI", "0") && written;
  return written;
}

LowVisionSettings lowVisionSettings() { return speech().lowVision; }

void initSpeech(int speed, std::string_view dir) {
  Speech& s = speech();
  // A magnified line has no use in a terminal; the settings are kept.
  s.lowVision = readLowVisionSettings();
  const std::string legacy = iniRead("VARELU", "LEGADO");
  setIniLegacy(!legacy.empty() && (legacy.front() == 'S' || legacy.front() == 's'));

  int level = speed;
  if (level <= 0) level = iniInt("TRADUTOR", "VELOCIDADE", 0);
  if (level <= 0 || level > kLevels) level = kDefaultLevel;
  s.level = readLevelSettings(level);

  SpeechPlayer& player = speechPlayer();
  if (const int error = player.startWords(level); error != 0) {
    crtWrite("Erro de inicializa\xE7\xE3o: " + std::to_string(error));
    crtWriteln();
    crtWrite("Banco de dados de voz: " + player.wordsVoiceName());
    crtWriteln();
    player.releaseWords();
    crtReadLine();
    closeConsole();
  }
  player.setSpeedUp(s.level.speedUp);
  player.setFastMode(s.level.fastMode);

  s.soundDir = withSlash(std::string(dir));
  std::string letters = iniRead("TRADUTOR", "DIRLETRAS");
  if (letters.empty()) letters = programDirectory() + "/../share/varelu/som/letras";
  s.lettersDir = withSlash(std::move(letters));

  s.engine.reset();
  s.engineActive = false;
  s.line.clear();
  setBeforeKeyCheck(sendLineUnlessKey);
  if (switchOn(iniRead("TRADUTOR", "SAPI"))) {
    SpeechEngineSettings settings;
    settings.voice = iniInt("SERVFALA", "VOZ", 0);
    // An empty rate or pitch leaves the service's own.
    if (!iniRead("SERVFALA", "VELOCIDADE").empty()) settings.rate = iniInt("SERVFALA", "VELOCIDADE", 0);
    if (!iniRead("SERVFALA", "TOM").empty()) settings.pitch = iniInt("SERVFALA", "TOM", 0);
    settings.type = iniInt("SERVFALA", "TIPOSAPI", 0);
    if (settings.rate > 10 && settings.type != kEngineType4) settings.rate = 0;
    s.engine = s.engineStarter ? s.engineStarter(settings, player)
                               : startSpeechEngine(settings, player);
    if (s.engine) {
      while (s.engine->busy()) delay(kPauseStepMs);
    }
    s.engineActive = s.engine != nullptr;
    s.engineType = settings.type;
  }
}

void endSpeech() {
  Speech& s = speech();
  waitSpeechEnd();
  stopSpeech();
  s.engine.reset();
  s.engineActive = false;
  speechPlayer().releaseWords();
}

std::string speechSoundDir() { return speech().soundDir; }
std::string speechLettersDir() { return speech().lettersDir; }

bool isSpeaking() {
  if (keyPressed()) {
    stopSpeech();
    return false;
  }
  // keyPressed has handed a gathered line over.
  const Speech& s = speech();
  if (speechPlayer().isPlaying()) return true;
  return s.engine && s.engine->busy();
}

void stopSpeech() {
  Speech& s = speech();
  speechPlayer().stop();
  s.line.clear();
  s.stopRequested = true;
  if (s.engine && (s.engineType == kEspeakEngineType || s.engine->busy())) s.engine->stop();
  eventLoop().postWakeUp();
}

void waitSpeechEnd() {
  while (isSpeaking()) eventLoop().waitForMessage(kPauseStepMs);
}

void speak(std::string_view text) {
  Speech& s = speech();
  if (s.engineActive) {
    // Pieces that the screen parts with spaces of their own ("4:0" and
    // "posição") would otherwise run together into one word.
    if (!s.line.empty() && !text.empty() && inWord(s.line.back()) && inWord(text.front())) s.line += ' ';
    s.line += text;
    return;
  }
  speakPieces(text);
}

void speakSound(std::string_view name) {
  waitEngineSpeech();
  speechPlayer().playFile(soundPath(name));
}

bool soundExists(std::string_view name) { return fileExists(soundPath(name)); }

void speakLetter(uint8_t c) {
  waitEngineSpeech();
  if ((c >= 1 && c <= 11) || (c >= 13 && c <= 31)) return;
  const std::string& letters = speech().lettersDir;
  std::string path = letters + "_" + std::to_string(c) + ".wav";
  if (!fileExists(path)) path = letters + "_unknown.wav";
  speechPlayer().playFile(path);
}

void spellText(std::string_view text) {
  for (const char c : text) {
    if (keyPressed()) break;
    if (c == '\t') speakSound("_FON9");
    else speakLetter(static_cast<uint8_t>(c));
  }
}

void writeSpeak(std::string_view text) {
  crtWrite(text);
  speak(text);
}

void writelnSpeak(std::string_view text) {
  writeSpeak(text);
  crtWriteln();
  sendSpokenLine();
}

void sendSpokenLine() { sendLineUnlessKey(keyPressed()); }

void writeSpeakInt(int64_t n) { writeSpeak(std::to_string(n)); }

uint8_t readKeySpeak() {
  const uint8_t key = readKey();
  stopSpeech();
  speakLetter(key);
  return key;
}

void readKeyEchoed(uint8_t& key, uint8_t& ext) {
  for (;;) {
    waitSpeechEnd();
    ext = 32;
    key = readKey();
    if (key == kFocusGained || key == kFocusLost) continue;
    if (key == 0) {
      ext = readKey();
      if (ext >= kAltQ && ext <= kAltE) key = readKey();
    }
    if (key == 0 && ext == kF8) {
      speakTime();
      continue;
    }
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

void clickSound() {
  waitEngineSpeech();
  SpeechPlayer& player = speechPlayer();
  const bool fastMode = player.fastMode();
  player.setFastMode(false);
  player.playImage(speech().click);
  waitSpeechEnd();
  player.setFastMode(fastMode);
}

void beepSound() {
  waitEngineSpeech();
  flushKeyboard();
  speechPlayer().playImage(speech().beep);
  waitSpeechEnd();
}

}  // namespace kalimbro
