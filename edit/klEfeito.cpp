// The effects command: its loop, help and list, the scratch copy, the
// demonstration and the keep-or-discard question.
#include "edit/klEfeito.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "edit/klEfeitoNivel.h"
#include "edit/klHistorico.h"
#include "edit/klefeitoSox.h"
#include "levels/soundLevels.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

// The scratch copy of the sound before the current effect. The file is the
// usual place (SoX reads it too); when it cannot be written the copy is kept
// in memory, so that dropping an effect never loses the sound. The file is
// written only when the sound has changed since the last copy, a piece at a
// time while the user hears the prompt and chooses, so that an effect on a
// long sound starts at once; what is left when the key comes is written
// before the effect.
struct Scratch {
  std::string file;
  bool fileSaved = false;
  // The file holds the sound as it is in memory now.
  bool fileIsSound = false;
  std::unique_ptr<TAmostras> copy;
  // The copy being written; given up when the command ends.
  std::optional<WavWriter> writing;
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

TAmostras& sound() { return *program().soundBuffer; }

void startScratchCopy() {
  Scratch& s = scratch();
  if (s.fileIsSound || s.writing) return;
  s.file = effectScratchFile();
  if (s.file.empty()) return;
  s.writing.emplace();
  // A copy for this run of the program only: it need not wait for the disk.
  if (!s.writing->open(sound(), s.file, FlushToDisk::no)) s.writing.reset();
}

void writeScratchUntilKey() {
  std::optional<WavWriter>& writing = scratch().writing;
  while (writing && !writing->done() && !keyPressed()) {
    if (!writing->writeSome(kWorkBlockValues)) return;
  }
}

// False when the sound could be kept neither on disk nor in memory.
bool saveSoundBeforeEffect() {
  Scratch& s = scratch();
  if (s.fileIsSound) {
    noteSoundCopy(s.file);
    return true;
  }
  startScratchCopy();
  s.copy.reset();
  s.fileSaved = false;
  if (s.writing) {
    WorkClicker clicker;
    while (!s.writing->done() && s.writing->writeSome(kWorkBlockValues)) clicker.blockDone();
    s.fileSaved = s.writing->commit();
    s.writing.reset();
  }
  s.fileIsSound = s.fileSaved;
  if (s.fileSaved) {
    noteSoundCopy(s.file);
    return true;
  }
  // A scratch file left by an earlier effect is not this sound: neither a
  // reload nor SoX may take it.
  if (!s.file.empty()) removeFile(s.file);
  auto copy = std::make_unique<TAmostras>();
  copy->createCopy(sound());
  if (copy->outOfMemory() || copy->count() != sound().count()) return false;
  s.copy = std::move(copy);
  return true;
}

// A copy being written would mix the sound before and after the change.
void soundWillChange() {
  scratch().writing.reset();
  scratch().fileIsSound = false;
}

// Other commands may change the sound between two runs of the effects
// command.
struct ScratchForThisRun {
  ScratchForThisRun() { soundWillChange(); }
  ~ScratchForThisRun() { soundWillChange(); }
};

// Works the effect while its result is said and its demonstration plays;
// then asks.
void workDemonstrateAndAsk(EffectWork work, std::string_view resultKey) {
  EffectWorker worker(std::move(work));
  sayMessage(resultKey, 1);
  demonstrateAndKeep(&worker);
}

// ---- The effects table -----------------------------------------------------------

template <SoxEffect effect>
void bySox() {
  soxEffect(effect);
}

// The help and the pop-up list show the effects in this order.
struct EffectRow {
  char key;                     // as typed, upper case; the list answers in lower case
  std::string_view messageKey;  // help line and list item
  void (*run)();
  // Coding asks nothing afterwards: it needs no copy to go back to.
  bool mayBeDiscarded = true;
};

constexpr EffectRow kEffects[] = {
    {'+', "KLVOLSOB", volumeUp},
    {'-', "KLVOLDES", volumeDown},
    {'I', "KLFADEIN", fadeIn},
    {'O', "KLFADEOU", fadeOut},
    {'P', "KLCODSEN", codeWithPassword, false},
    {'E', "KLOPECO", echoEffect},
    {'X', "KLOPCXE", bySox<SoxEffect::echo>},
    {'R', "KLOPREV", reverbEffect},
    {'S', "KLOPSREV", bySox<SoxEffect::reverb>},
    {'T', "KLVOLTSO", bySox<SoxEffect::reverse>},
    {'A', "KLTREBL", bySox<SoxEffect::treble>},
    {'G', "KL_BASS", bySox<SoxEffect::bass>},
    {'V', "KLSPEED", bySox<SoxEffect::speed>},
    {'F', "KLPITCH", bySox<SoxEffect::pitch>},
    {'Q', "KLOPCEQ", bySox<SoxEffect::equalizer>},
    {'N', "KL_NORM", bySox<SoxEffect::norm>},
    {'L', "KLOPLOUD", normaliseLoudness},
    {'C', "KLOPAPAR", trimSilence},
    {'U', "KLOPPAUS", shortenPauses},
};
// The loop looks keys up in upper case; ESC leaves it.
static_assert([] {
  for (size_t i = 0; i < std::size(kEffects); ++i) {
    const uint8_t key = static_cast<uint8_t>(kEffects[i].key);
    if (upperAscii(key) != key || key == kEsc) return false;
    for (size_t j = i + 1; j < std::size(kEffects); ++j)
      if (kEffects[j].key == kEffects[i].key) return false;
  }
  return true;
}());

const EffectRow* findEffect(uint8_t key) {
  for (const EffectRow& row : kEffects)
    if (static_cast<uint8_t>(row.key) == key) return &row;
  return nullptr;
}

}  // namespace

// ---- Shared with the SoX effects --------------------------------------------------------

std::string effectScratchFile() {
  std::string name = trimmed(program().tempSoundFile);
  if (name.empty() || name.back() == '/') name = scratchSoundFileFor({});
  // No temporary directory: no file at all, the copy stays in memory.
  if (name.empty()) return {};
  const std::string upper = upperAscii(name);
  if (upper.size() < 4 || upper.compare(upper.size() - 4, 4, ".WAV") != 0) name += ".wav";
  return name;
}

void restoreSoundBeforeEffect() {
  // An effect dropped is no change to undo.
  putBackWithoutStep([] {
    Scratch& s = scratch();
    if (s.copy) {
      sound().createCopy(*s.copy);
      return !sound().outOfMemory();
    }
    if (!s.fileSaved) return false;
    // Read back in place when the file is in the sound's format (the sound
    // is never held twice), else loaded beside it.
    const std::optional<bool> inPlace = sound().reloadWav(s.file);
    s.fileIsSound = inPlace ? *inPlace : sound().loadWav(s.file);
    // The effect is still there, whole or in part: the user must not
    // believe it gone.
    if (!s.fileIsSound) sayMessage("KLNDESEF", 1);
    return s.fileIsSound;
  });
}

namespace {

// The keep question's answer a key gives: S or Enter keep, N or ESC discard.
std::optional<bool> keepAnswer(uint8_t key) {
  if (key == 'S' || key == 's' || key == kEnter) return true;
  if (key == 'N' || key == 'n' || key == kEsc) return false;
  return std::nullopt;
}

// A key that cut the demonstration short only ends it: taken, so that the
// result and the question after it are heard. An answer typed early stays
// queued for the question.
void takeKeysThatEndedTheDemonstration() {
  for (std::optional<uint8_t> key; (key = nextQueuedKey()) && !keepAnswer(*key);)
    if (readKey() == 0) readKey();  // an extended key's code
}

}  // namespace

void demonstrate() {
  sound().playAll();
  takeKeysThatEndedTheDemonstration();
}

void tellClipping(int64_t first, int64_t end) {
  const int64_t runs = countClippedRuns(sound(), first, end);
  if (runs == 0) return;
  if (whereX() > 1) crtWriteln();
  if (runs == 1) {
    sayMessage("KLSATUM", 1);
    return;
  }
  sayMessage("KLSATPRE", 0);
  writeSpeakInt(runs);
  sayMessage("KLSATTRS", 1);
}

bool demonstrateAndKeep(EffectWorker* worker, const std::function<void()>& whenWorked) {
  sayMessage("KLDEMONS", 0);
  waitSpeechEnd();
  if (worker == nullptr) {
    demonstrate();
  } else {
    sound().playAll([worker](int64_t end) { worker->waitUntilWorked(end); });
    takeKeysThatEndedTheDemonstration();
    // The history and the levels read the sound while the answer is awaited.
    worker->finish();
    if (whenWorked) whenWorked();
    // Known only now that the whole result is there.
    tellClipping(0, sound().count());
  }
  return keepOrDiscardEffect();
}

bool askKeepEffect() {
  sayMessage("KLSALVARA", 1);
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      if (readKey() == kF1) explainQuestion("KLAJMANE", "KLSALVARA");
    } else if (const std::optional<bool> keep = keepAnswer(key)) {
      if (*keep) commitStep();
      sayMessage(*keep ? "KLSIM" : "KLNAO", 2);
      return *keep;
    }
  }
}

// ---- The command ------------------------------------------------------------------------

// The screen is cleared from the row under the effects menu's header, so
// that the next question comes back at the same place after every effect.
bool keepOrDiscardEffect() {
  const bool kept = askKeepEffect();
  if (!kept) restoreSoundBeforeEffect();
  clearToEndOfScreen(kRowAfterEffect);
  return kept;
}

void volumeUp() { workDemonstrateAndAsk(volumeWork(sound(), 1.25L), "KLVOLAUM"); }

void volumeDown() { workDemonstrateAndAsk(volumeWork(sound(), 0.75L), "KLVOLDIM"); }

void fadeIn() { workDemonstrateAndAsk(fadeInWork(sound(), program().currentPosition), "KLFADEINA"); }

void fadeOut() { workDemonstrateAndAsk(fadeOutWork(sound(), program().currentPosition), "KLFADEOUT"); }

void echoEffect() {
  const Settings& s = program().settings;
  workDemonstrateAndAsk(echoWork(sound(), s.echoPercent, s.EchoUnits), "KLECO");
}

void reverbEffect() {
  const Settings& s = program().settings;
  workDemonstrateAndAsk(reverbWork(sound(), s.reverbPercent, s.ReverbUnits), "KLREV");
}

namespace {

// The password typed unseen (black on black); nothing when the user gave up.
std::optional<std::string> readPassword() {
  for (;;) {
    sayMessage("KLDIGSEN", 0);
    const uint8_t attribute = currentAttribute();
    textColor(0);
    textBackground(0);
    TypedLineEnd end = TypedLineEnd::enter;
    std::string line = crtReadLineOrGiveUp(end);
    textColor(attribute & 15);
    textBackground(attribute >> 4);
    if (end == TypedLineEnd::enter) return line;
    crtWriteln();
    if (end == TypedLineEnd::escape) return std::nullopt;
    sayMessage("KLAJSENH", 1);
  }
}

}  // namespace

void codeWithPassword() {
  const std::string line = readPassword().value_or("");
  if (line.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  codeFrames(sound(), passwordValue(line));
  commitStep();
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
  // 27 columns, or the longest item's width when it is longer.
  int width = 27;
  for (const EffectRow& row : kEffects) width = std::max(width, static_cast<int>(messageText(row.messageKey).size()));
  reserveLines(kRows);
  menuOpen(whereX(), whereY(), width, 5, kRows);
  for (const EffectRow& row : kEffects) menuAddItem(row.messageKey, messageText(row.messageKey));
  const int n = menuRun();
  if (n < 1 || n > kRows) return kEsc;
  const uint8_t key = static_cast<uint8_t>(kEffects[static_cast<size_t>(n - 1)].key);
  return key >= 'A' && key <= 'Z' ? static_cast<uint8_t>(key - 'A' + 'a') : key;
}

void effectsCommand() {
  const ScratchForThisRun scratchForThisRun;
  for (;;) {
    while (keyPressed()) readKey();
    clearToEndOfScreen(whereY());
    textBackground(1);
    sayMessage("KLOPEF", 0);
    textBackground(0);
    startScratchCopy();
    writeScratchUntilKey();
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
    key = upperAscii(key);
    if (key == kEsc) return;
    const EffectRow* row = findEffect(key);
    if (row == nullptr) {
      sayMessage("KLOPINV", 2);
      continue;
    }
    if (row->mayBeDiscarded && !saveSoundBeforeEffect()) {
      sayMessage("KLFALMEM", 1);
      return;
    }
    // From here on only a reload from the file makes the two alike again.
    soundWillChange();
    // Each effect kept is a step of its own.
    const HistoryStepScope step("KLPEFEIT");
    row->run();
  }
}

}  // namespace kalimbro
