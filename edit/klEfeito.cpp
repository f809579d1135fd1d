// The effects command: its table, its loop, the scratch copy, the
// demonstration and the keep-or-discard question.
#include "edit/klEfeito.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "edit/klEfeitoCalc.h"
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

// ---- The program's own effects ---------------------------------------------------

std::optional<EffectJob> volumeUpWork(const EffectRow&, const EffectParameters&) {
  return EffectJob{.pieces = volumeWork(sound(), 1.25L)};
}

std::optional<EffectJob> volumeDownWork(const EffectRow&, const EffectParameters&) {
  return EffectJob{.pieces = volumeWork(sound(), 0.75L)};
}

std::optional<EffectJob> fadeInToCursor(const EffectRow&, const EffectParameters&) {
  return EffectJob{.pieces = fadeInWork(sound(), program().currentPosition)};
}

std::optional<EffectJob> fadeOutFromCursor(const EffectRow&, const EffectParameters&) {
  return EffectJob{.pieces = fadeOutWork(sound(), program().currentPosition)};
}

std::optional<EffectJob> echoFromSettings(const EffectRow&, const EffectParameters&) {
  const Settings& s = program().settings;
  return EffectJob{.pieces = echoWork(sound(), s.echoPercent, s.EchoUnits)};
}

std::optional<EffectJob> reverbFromSettings(const EffectRow&, const EffectParameters&) {
  const Settings& s = program().settings;
  return EffectJob{.pieces = reverbWork(sound(), s.reverbPercent, s.ReverbUnits)};
}

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

std::optional<EffectParameters> askPassword() {
  std::string line = readPassword().value_or("");
  if (line.empty()) {
    sayMessage("KLDESIST", 1);
    return std::nullopt;
  }
  return EffectParameters{.text = std::move(line)};
}

// Coding is undone by coding again: it is kept at once, with nothing to hear.
std::optional<EffectJob> codeWithPassword(const EffectRow&, const EffectParameters& password) {
  codeFrames(sound(), passwordValue(password.text));
  commitStep();
  sayMessage("KLSENHAP", 1);
  return std::nullopt;
}

// ---- The effects table -----------------------------------------------------------

constexpr EffectRow computed(char key, std::string_view listKey, std::string_view resultKey, StartEffectWork work) {
  return {key, listKey, resultKey, nullptr, work};
}

constexpr EffectRow fromLevels(char key, std::string_view listKey, AskEffectParameters ask, StartEffectWork work) {
  return {key, listKey, {}, ask, work};
}

constexpr EffectRow bySox(char key, std::string_view listKey, std::string_view soxWords,
                          AskEffectParameters ask = nullptr, bool reversesTime = false) {
  return {key, listKey, {}, ask, soxWork, soxWords, true, reversesTime};
}

constexpr EffectRow kEffects[] = {
    computed('+', "KLVOLSOB", "KLVOLAUM", volumeUpWork),
    computed('-', "KLVOLDES", "KLVOLDIM", volumeDownWork),
    computed('I', "KLFADEIN", "KLFADEINA", fadeInToCursor),
    computed('O', "KLFADEOU", "KLFADEOUT", fadeOutFromCursor),
    {'P', "KLCODSEN", {}, askPassword, codeWithPassword, {}, false, false, false},
    computed('E', "KLOPECO", "KLECO", echoFromSettings),
    bySox('X', "KLOPCXE", "echo", askSoxEcho),
    computed('R', "KLOPREV", "KLREV", reverbFromSettings),
    bySox('S', "KLOPSREV", "gain -3 pad 0 3 reverb"),
    bySox('T', "KLVOLTSO", "reverse", nullptr, true),
    bySox('A', "KLTREBL", "treble", askSoxGain),
    bySox('G', "KL_BASS", "bass", askSoxGain),
    bySox('V', "KLSPEED", "speed", askSoxSpeed),
    bySox('F', "KLPITCH", "pitch", askSoxPitch),
    // Each band brings its own words.
    bySox('Q', "KLOPCEQ", "", askSoxEqualizer),
    bySox('N', "KL_NORM", "gain -n"),
    fromLevels('L', "KLOPLOUD", askLoudnessTarget, loudnessWork),
    fromLevels('C', "KLOPAPAR", nullptr, silenceTrimWork),
    fromLevels('U', "KLOPPAUS", askLongestPause, pauseShorteningWork),
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

}  // namespace

std::span<const EffectRow> effectRows() { return kEffects; }

const EffectRow* effectForKey(uint8_t key) {
  for (const EffectRow& row : kEffects)
    if (static_cast<uint8_t>(row.key) == key) return &row;
  return nullptr;
}

// ---- Shared with the effects' work ------------------------------------------------------

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

// After an effect the screen is cleared from the row under the effects
// menu's header, so that the next question comes back at the same place.
constexpr int kRowAfterEffect = 8;

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

// The one way a result is offered: the work runs while the result is said
// and demonstrated; the user then keeps it or has the sound back.
void demonstrateAndKeep(const EffectRow& row, EffectJob job) {
  std::optional<EffectWorker> worker;
  if (job.pieces) worker.emplace(std::move(*job.pieces));
  if (!row.resultKey.empty()) sayMessage(row.resultKey, 1);
  if (job.tellStart) job.tellStart();
  if (!worker) tellClipping(0, sound().count());
  sayMessage("KLDEMONS", 0);
  waitSpeechEnd();
  if (worker) {
    sound().playAll([&worker](int64_t end) { worker->waitUntilWorked(end); });
    takeKeysThatEndedTheDemonstration();
    // The history and the levels read the sound while the answer is awaited.
    worker->finish();
    if (job.whenWorked) job.whenWorked();
    // Known only now that the whole result is there.
    tellClipping(0, sound().count());
  } else {
    sound().playAll();
    takeKeysThatEndedTheDemonstration();
    // A result made whole before it is heard is asked about two lines lower.
    crtWriteln();
    crtWriteln();
  }
  const bool kept = askKeepEffect();
  if (!kept) restoreSoundBeforeEffect();
  clearToEndOfScreen(kRowAfterEffect);
  if (kept && job.whenKept) job.whenKept();
}

// Ask, work, demonstrate, keep.
void runEffect(const EffectRow& row) {
  if (row.readsScratchFile && effectScratchFile().empty()) {
    sayMessage("KLPRECPT", 2);
    return;
  }
  const std::optional<EffectParameters> parameters = row.ask ? row.ask() : EffectParameters{};
  if (!parameters) return;
  std::optional<EffectJob> job = row.work(row, *parameters);
  if (job) demonstrateAndKeep(row, std::move(*job));
}

// The effects menu's options: the table's keys and list texts.
constexpr auto kEffectOptions = [] {
  std::array<MenuOption, std::size(kEffects)> options{};
  for (size_t i = 0; i < std::size(kEffects); ++i)
    options[i] = {static_cast<uint8_t>(kEffects[i].key), kEffects[i].listKey};
  return options;
}();

constexpr Menu kEffectsMenu{
    .questionKey = "KLOPEF",
    .options = kEffectOptions,
    .listWidth = 27,
    .helpTitleLineEnds = 2,
    // The question comes back where the effect left the screen.
    .beforeQuestion = [] { clearToEndOfScreen(whereY()); },
    .whileWaiting =
        [] {
          startScratchCopy();
          writeScratchUntilKey();
        },
};

}  // namespace

void effectsCommand() {
  const ScratchForThisRun scratchForThisRun;
  for (;;) {
    const MenuKey chosen = askMenu(kEffectsMenu);
    // Extended keys other than the menu's own do nothing here.
    if (chosen.key == 0) continue;
    if (chosen.key == kEsc) return;
    const EffectRow& row = *effectForKey(chosen.key);
    if (row.mayBeDiscarded && !saveSoundBeforeEffect()) {
      sayMessage("KLFALMEM", 1);
      return;
    }
    // From here on only a reload from the file makes the two alike again.
    soundWillChange();
    // Each effect kept is a step of its own.
    const HistoryStepScope step("KLPEFEIT");
    runEffect(row);
  }
}

}  // namespace kalimbro
