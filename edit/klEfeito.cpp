// The effects command and the built-in effects.
#include "edit/klEfeito.h"

#include <memory>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "edit/klefeitoSox.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr uint8_t kEnter = 13, kEsc = 27;
constexpr uint8_t kF1 = 59, kUp = 72, kDown = 80;

// The scratch copy of the sound before the current effect. The file is the
// usual place; when it cannot be written the copy is kept in memory, so
// that dropping an effect never loses the sound.
struct Scratch {
  std::string file;
  bool fileSaved = false;
  std::unique_ptr<TAmostras> copy;
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

TAmostras& sound() { return *program().soundBuffer; }

// False when the sound could be kept neither on disk nor in memory.
bool saveSoundBeforeEffect() {
  Scratch& s = scratch();
  s.file = effectScratchFile();
  s.copy.reset();
  s.fileSaved = sound().saveWav(s.file);
  if (s.fileSaved) return true;
  // A scratch file left by an earlier effect is not this sound: neither a
  // reload nor SoX may take it.
  removeFile(s.file);
  auto copy = std::make_unique<TAmostras>();
  copy->createCopy(sound());
  if (copy->outOfMemory() || copy->count() != sound().count()) return false;
  s.copy = std::move(copy);
  return true;
}

// Says the result and the demonstration, plays, and asks.
void demonstrateAndAsk(std::string_view resultKey) {
  sayMessage(resultKey, 1);
  sayMessage("KLDEMONS", 0);
  waitSpeechEnd();
  demonstrate();
  keepOrDiscardEffect();
}

std::string upperCased(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

// One delayed copy per frame, the earlier frame read before (echo, loop
// downward) or after (reverberation, loop upward) it was itself changed.
void addDelayedCopy(TAmostras& s, int32_t percent, int32_t units, bool recirculating) {
  const long double p = static_cast<long double>(percent) / 100.0L;
  const long double q = 1.0L - p;
  int64_t delay = effectDelayFrames(s.sampleRate(), units);
  if (delay < 0) delay = 0;
  // Lengthened once, before the loop. With no delay this writes silence on
  // the last frame; when the store cannot grow, the tail is cut.
  s.setFrame(int64_t{s.count()} + delay - 1, 0);
  const int64_t n = s.count();
  const auto mixed = [&](int64_t i) {
    const FrameValues x = unpackFrame(s.getFrame(i));
    const FrameValues y = unpackFrame(s.getFrame(i - delay));
    // Each product truncated toward zero; the sum keeps its low 16 bits.
    const int64_t left = static_cast<int64_t>(p * x.left) + static_cast<int64_t>(q * y.left);
    const int64_t right = static_cast<int64_t>(p * x.right) + static_cast<int64_t>(q * y.right);
    s.setFrame(i, packFrame(static_cast<int32_t>(left), static_cast<int32_t>(right)));
  };
  if (recirculating) {
    for (int64_t i = 0; i < n; ++i) mixed(i);
  } else {
    for (int64_t i = n - 1; i >= 0; --i) mixed(i);
  }
}

// ---- The effects table -----------------------------------------------------------

struct EffectRow {
  char key;                     // as typed, upper case
  std::string_view messageKey;  // help line and list item
  void (*builtIn)();            // or
  std::string_view soxName;
};

constexpr EffectRow kEffects[] = {
    {'+', "KLVOLSOB", volumeUp, {}},       {'-', "KLVOLDES", volumeDown, {}},
    {'I', "KLFADEIN", fadeIn, {}},         {'O', "KLFADEOU", fadeOut, {}},
    {'P', "KLCODSEN", codeWithPassword, {}}, {'E', "KLOPECO", echoEffect, {}},
    {'X', "KLOPCXE", nullptr, "echo"},     {'R', "KLOPREV", reverbEffect, {}},
    {'S', "KLOPSREV", nullptr, "reverb"},  {'T', "KLVOLTSO", nullptr, "reverse"},
    {'A', "KLTREBL", nullptr, "treble"},   {'G', "KL_BASS", nullptr, "bass"},
    {'V', "KLSPEED", nullptr, "speed"},    {'F', "KLPITCH", nullptr, "pitch"},
    {'Q', "KLOPCEQ", nullptr, "equalizer"}, {'N', "KL_NORM", nullptr, "norm"},
};
constexpr std::string_view kListLetters = "+-iopexrstagvfqn";
static_assert(kListLetters.size() == std::size(kEffects));

const EffectRow* findEffect(uint8_t key) {
  for (const EffectRow& row : kEffects)
    if (static_cast<uint8_t>(row.key) == key) return &row;
  return nullptr;
}

}  // namespace

// ---- The effects on a sound ----------------------------------------------------------

void raiseVolume(TAmostras& s) { s.applyGainRamp(0, int64_t{s.count()} - 1, 1.25L, 1.25L); }

void lowerVolume(TAmostras& s) { s.applyGainRamp(0, int64_t{s.count()} - 1, 0.75L, 0.75L); }

void fadeInTo(TAmostras& s, int64_t position) {
  const int32_t before = s.count();
  s.applyGainRamp(0, position, 0.0L, 1.0L);
  // A cursor past the end keeps the slope but must not lengthen the sound.
  if (s.count() > before) s.deleteRange(before, int64_t{s.count()} - before);
}

void fadeOutFrom(TAmostras& s, int64_t position) {
  s.applyGainRamp(position, int64_t{s.count()} - 1, 1.0L, 0.0L);
}

int64_t effectDelayFrames(int32_t sampleRate, int32_t units) {
  return int64_t{sampleRate / 11025} * units;
}

void addEcho(TAmostras& s, int32_t percent, int32_t units) { addDelayedCopy(s, percent, units, false); }

void addReverb(TAmostras& s, int32_t percent, int32_t units) { addDelayedCopy(s, percent, units, true); }

int32_t passwordValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  uint32_t value = 0;  // wraps like the 32-bit integer it stands for
  bool anyDigit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
    else break;
    value = value * base + digit;
    anyDigit = true;
  }
  const bool whole = anyDigit && i == text.size();
  if (whole && negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

std::array<uint8_t, 256> passwordKeyStream(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  std::array<uint8_t, 256> k{};
  k[0] = static_cast<uint8_t>((v & 255) ^ ((v >> 5) & 255) ^ 17);
  for (size_t i = 1; i < k.size(); ++i) k[i] = static_cast<uint8_t>((k[i - 1] * 13 + 89) % 255);
  return k;
}

void codeFrames(TAmostras& s, int32_t value) {
  const std::array<uint8_t, 256> k = passwordKeyStream(value);
  const int64_t n = s.count();
  for (int64_t i = 0; i < n; ++i) {
    const int32_t m = k[static_cast<size_t>(i % 256)] * 256;
    const FrameValues v = unpackFrame(s.getFrame(i));
    s.setFrame(i, packFrame(v.left ^ m, v.right ^ m));
  }
}

// ---- Shared with the SoX effects --------------------------------------------------------

std::string effectScratchFile() {
  std::string name = trimmed(program().tempSoundFile);
  if (name.empty() || name.back() == '/') name = tempDirectory() + "kalimbro.wav";
  const std::string upper = upperCased(name);
  if (upper.size() < 4 || upper.compare(upper.size() - 4, 4, ".WAV") != 0) name += ".wav";
  return name;
}

void restoreSoundBeforeEffect() {
  Scratch& s = scratch();
  if (s.copy) {
    sound().createCopy(*s.copy);
  } else if (s.fileSaved) {
    // A failed reload leaves the sound as the effect left it.
    sound().loadWav(s.file);
  }
}

void demonstrate() {
  [[maybe_unused]] TAmostras& whole = sound();
  // PLAYALL: this line becomes `whole.playAll();` once the playback engine is in.
}

bool askKeepEffect() {
  sayMessage("KLSALVARA", 1);
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      readKey();  // an extended key's code is no answer
    } else if (key == 'S' || key == 's' || key == kEnter) {
      sayMessage("KLSIM", 2);
      return true;
    } else if (key == 'N' || key == 'n' || key == kEsc) {
      sayMessage("KLNAO", 2);
      return false;
    }
  }
}

// ---- The command ------------------------------------------------------------------------

void keepOrDiscardEffect() {
  if (!askKeepEffect()) restoreSoundBeforeEffect();
  clearToEndOfScreen(8);
}

void volumeUp() {
  raiseVolume(sound());
  demonstrateAndAsk("KLVOLAUM");
}

void volumeDown() {
  lowerVolume(sound());
  demonstrateAndAsk("KLVOLDIM");
}

void fadeIn() {
  fadeInTo(sound(), program().currentPosition);
  demonstrateAndAsk("KLFADEINA");
}

void fadeOut() {
  fadeOutFrom(sound(), program().currentPosition);
  demonstrateAndAsk("KLFADEOUT");
}

void echoEffect() {
  const Settings& s = program().settings;
  addEcho(sound(), s.echoPercent, s.EchoUnits);
  demonstrateAndAsk("KLECO");
}

void reverbEffect() {
  const Settings& s = program().settings;
  addReverb(sound(), s.reverbPercent, s.ReverbUnits);
  demonstrateAndAsk("KLREV");
}

void codeWithPassword() {
  sayMessage("KLDIGSEN", 0);
  // Black on black: the password does not show while it is typed.
  const uint8_t attribute = currentAttribute();
  textColor(0);
  textBackground(0);
  std::string line = crtReadLine();
  textColor(attribute & 15);
  textBackground(attribute >> 4);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  codeFrames(sound(), passwordValue(line));
  sayMessage("KLSENHAP", 1);
}

void showEffectsHelp() {
  textBackground(4);
  sayMessage("KLASOPC", 2);
  textBackground(0);
  crtWriteln();
  for (const EffectRow& row : kEffects) sayMessage(row.messageKey, 1);
}

uint8_t chooseEffectFromList() {
  constexpr int kRows = static_cast<int>(std::size(kEffects));
  reserveLines(kRows);
  menuOpen(whereX(), whereY(), 27, 5, kRows);
  for (const EffectRow& row : kEffects) menuAddItem(row.messageKey, messageText(row.messageKey));
  const int n = menuRun();
  if (n < 1 || n > kRows) return kEsc;
  return static_cast<uint8_t>(kListLetters[static_cast<size_t>(n - 1)]);
}

void effectsCommand() {
  for (;;) {
    if (!saveSoundBeforeEffect()) {
      sayMessage("KLFALMEM", 1);
      return;
    }
    while (keyPressed()) readKey();
    clearToEndOfScreen(whereY());
    textBackground(1);
    sayMessage("KLOPEF", 0);
    textBackground(0);
    uint8_t key, ext;
    readKeyEchoed(key, ext);
    crtWriteln();
    if (key == 0) {
      if (ext == kF1) {
        showEffectsHelp();
        continue;
      }
      if (ext != kUp && ext != kDown) continue;
      key = chooseEffectFromList();
    }
    if (key >= 'a' && key <= 'z') key = static_cast<uint8_t>(key - 32);
    if (key == kEsc) return;
    const EffectRow* row = findEffect(key);
    if (row == nullptr) {
      sayMessage("KLOPINV", 2);
    } else if (row->builtIn != nullptr) {
      row->builtIn();
    } else {
      soxEffect(row->soxName);
    }
  }
}

}  // namespace kalimbro
