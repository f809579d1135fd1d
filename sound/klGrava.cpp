// The record commands.
#include "sound/klGrava.h"

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>

#include "app/klArquivo.h"
#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "edit/klHistorico.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/take_store.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr int64_t kReplaySeconds = 10;

void setFileTitle(bool recording) { setWindowTitle(fileWindowTitle(program().workingFileName, recording)); }

// One take, added to the sound, then the beep. A take that fails keeps
// what was recorded of it, and the user hears why it ended; so does one the
// sound could not grow to hold whole.
void recordTake(TAmostras& take, const std::string& takeFileName, TAmostras& sound) {
  const bool recorded = take.recordFromDevice(takeFileName);
  const int64_t wanted = int64_t{sound.count()} + take.count();
  sound.append(take);
  const bool appended = sound.count() == wanted;
  const std::string_view failure = recordingFailureKey(take);
  take.clear();
  beepSound();
  if (!recorded) {
    sayMessage(failure, 1);
  } else if (!appended) {
    sayMessage("KLFALMEM", 1);
  }
}

// Takes until ESC, each appended to the sound.
void recordTakes(TakeRun& takes) {
  ProgramState& p = program();
  TAmostras& sound = *p.soundBuffer;
  TAmostras take;
  take.createSized(sound.channels(), sound.sampleRate(), sound.bitsPerSample(), 0);
  take.setCaptureBuffers(p.settings.recordBuffers);

  p.currentPosition = sound.count();
  const int64_t tenSeconds = kReplaySeconds * sound.sampleRate();
  for (uint8_t key = 0; key != kEsc;) {
    setFileTitle(false);
    sayMessage("KLCONTGR", 1);
    key = readKey();
    if (isSpeaking()) stopSpeech();
    if (key == kEnter) {
      setFileTitle(true);
      recordTake(take, takes.nextTakeFile(), sound);
    } else if (key == 0) {
      const uint8_t ext = readKey();
      if (ext == kF1) sayMessage("KLAJCONG", 1);
      if (ext == kPageUp) {
        clickSound();
        const int64_t from = std::max<int64_t>(0, int64_t{p.currentPosition} - tenSeconds);
        p.currentPosition = static_cast<int32_t>(from);
        sound.playRange(from, sound.count() - from);
        beepSound();
      }
    }
    p.currentPosition = sound.count();
  }
  crtWriteln();
}

// ---- Takes left by a program that was ended ----------------------------------

// `other` at the end of `sound`, resampled to its rate when they differ;
// false when memory ran out before all of it was added.
bool appendAtSoundRate(TAmostras& sound, const TAmostras& other) {
  if (other.sampleRate() != sound.sampleRate()) {
    TAmostras resampled;
    resampled.setMemoryLimit(sound.memoryLimit());
    resampled.convertFrom(other, sound.sampleRate());
    return !resampled.outOfMemory() && appendAtSoundRate(sound, resampled);
  }
  const int64_t wanted = int64_t{sound.count()} + other.count();
  sound.append(other);
  return sound.count() == wanted;
}

// Every take of a run, one after the other, in one sound of the first
// take's format. False when memory ran out.
bool loadTakes(const LeftTakeRun& run, TAmostras& takes) {
  TAmostras take;
  take.setMemoryLimit(takes.memoryLimit());
  for (const std::string& file : run.takeFiles) {
    if (!take.loadWav(file)) {
      if (take.outOfMemory()) return false;
      continue;  // a take cut off before its header: nothing was captured
    }
    if (take.count() == 0) continue;
    if (takes.count() == 0) takes.createSized(take.channels(), take.sampleRate(), take.bitsPerSample(), 0);
    if (!appendAtSoundRate(takes, take)) return false;
  }
  return true;
}

// A new file name beside the run's sound (in the current folder for a sound
// without a name) for takes the user did not want added.
std::string setAsideName(const LeftTakeRun& run) {
  std::string stem = "gravacao";
  std::string folder;
  if (!run.soundFile.empty()) {
    folder = directoryPart(run.soundFile);
    stem = fileNamePart(run.soundFile);
    if (upperCaseAccented(stem).ends_with(".WAV")) stem.resize(stem.size() - 4);
    stem += "-gravacao";
  }
  stem += "-" + localTimeText(run.lastWritten, "%Y%m%d-%H%M%S");
  std::string name = folder + stem + ".wav";
  for (int n = 2; fileExists(name) && n < 1000; ++n) name = folder + stem + "-" + std::to_string(n) + ".wav";
  return name;
}

// "Gravação interrompida de NAME, DATE."
void tellRun(const LeftTakeRun& run, std::string_view name) {
  sayMessage("KLGRVINT", 0);
  writeSpeak(name);
  writelnSpeak(", " + localTimeText(run.lastWritten, "%d/%m/%Y %H:%M") + ".");
}

// With `mayAppend`, asks whether the run's takes go at the end of the sound
// in memory, which is theirs; those not added are kept in a WAV file of
// their own and the user hears where.
void offerTakes(LeftTakeRun& run, bool mayAppend) {
  TAmostras& sound = *program().soundBuffer;
  TAmostras takes;
  takes.setMemoryLimit(memoryLimitFromSettings());
  const bool loaded = loadTakes(run, takes);
  if (loaded && takes.count() == 0) {
    removeTakeRun(run);
    return;
  }
  if (loaded) {
    uint8_t answer = 'N';
    if (mayAppend) {
      tellRun(run, run.soundFile.empty() ? messageText("KLSEMNOM") : fileNamePart(run.soundFile));
      answer = askKey("KLGRVACR", "KLAJSIMN");
    }
    if (answer == kEsc) {
      sayMessage("KLDESIST", 1);
      return;
    }
    if (upperCaseAccented(answer) == 'S') {
      if (sound.count() == 0) sound.createSized(takes.channels(), takes.sampleRate(), takes.bitsPerSample(), 0);
      const int32_t before = sound.count();
      if (appendAtSoundRate(sound, takes)) {
        // The takes' files go only once the history holds them.
        commitStep();
        removeTakeRun(run);
        sayMessage("KLOK", 1);
        return;
      }
      // Half of it added would leave the rest nowhere: the sound goes back.
      sound.deleteRange(before, int64_t{sound.count()} - before);
      sayMessage("KLFALMEM", 1);
    }
    const std::string name = setAsideName(run);
    if (takes.saveWav(name)) {
      removeTakeRun(run);
      sayMessage("KLGRVGRD", 0);
      writelnSpeak(name);
      return;
    }
  }
  sayMessage("KLGRVFIC", 0);
  writelnSpeak(run.folder);
}

// The run's sound as the working file; false when it could not be loaded
// (the user heard why).
bool openSoundOf(const LeftTakeRun& run) {
  ProgramState& p = program();
  p.workingFileName = run.soundFile;
  setFileTitle(false);
  removeLeftoversBeside(p.workingFileName);
  loadWorkingSound();
  return !p.workingFileName.empty();
}

// A run of a sound that is not open, told by its full name: S opens that
// sound and offers the takes for its end; any other answer leaves them
// where they are, for another time.
void offerToOpenSoundOf(LeftTakeRun& run) {
  tellRun(run, run.soundFile);
  const uint8_t answer = askKey("KLGRVABR", "KLAJSIMN");
  if (answer == kEsc) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (upperCaseAccented(answer) == 'S') offerTakes(run, openSoundOf(run));
}

}  // namespace

void offerInterruptedTakes(bool atStartUp) {
  ProgramState& p = program();
  if (!atStartUp && p.workingFileName.empty()) return;
  // Takes added are one change, which undo takes back as it does a recording.
  const HistoryStepScope step("KLPGRAVA");
  for (LeftTakeRun& run : findLeftTakeRuns()) {
    if (!p.workingFileName.empty()) {
      if (isTakeRunOf(run, p.workingFileName)) offerTakes(run, true);
    } else if (p.soundBuffer->count() == 0) {
      // A start without a sound: a named run may bring its sound in, a run
      // of a sound without a name becomes the sound. Once something is in
      // memory nothing else comes in: takes of two sounds are never mixed.
      if (run.soundFile.empty()) {
        offerTakes(run, true);
      } else {
        offerToOpenSoundOf(run);
      }
    }
  }
}

void newSoundCommand() {
  ProgramState& p = program();
  const uint8_t answer = askKey("KLQUERSV", "KLAJSIMN");
  if (answer == kEsc) {
    sayMessage("KLDESIST", 2);
    return;
  }
  if (upperCaseAccented(answer) != 'N') {
    // A sound that was to be saved and was not stays in memory: the user
    // has heard why and decides again.
    if (saveWorkingFile() != SaveResult::saved) return;
  }
  dropUneditedWorkingTwin();
  p.soundBuffer->clear();
  sayMessage("KLNOVSOM", 1);
  chooseWorkingFile(false);
  recordOrLoadWorkingSound();
  offerInterruptedTakes(false);
}

void recordMoreCommand() {
  // Each take's file is kept until the save question is answered, so that
  // a signal that ends the program meanwhile loses nothing that was
  // captured: the next start offers it back.
  TakeRun takes(program().workingFileName);
  if (!takes.ok()) {
    sayMessage("KLPRECPT", 2);
    return;
  }
  recordTakes(takes);
  setFileTitle(false);
  sayMessage("KLSALVAG", 1);
  const uint8_t answer = readAnswer("KLSALVAG", "KLAJSIMN", AnswerEcho::shown);
  crtWriteln();
  if (answer != kEsc && upperCaseAccented(answer) != 'N') saveWorkingFile();
}

}  // namespace kalimbro
