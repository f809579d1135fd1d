// Undo, redo and the steps of the working sound's history.
#include "edit/klHistorico.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/klArquivo.h"
#include "app/klMsg.h"
#include "app/openSave.h"
#include "app/programState.h"
#include "console/vrfala.h"
#include "history/editHistory.h"
#include "platform/clock.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// The names of the steps open, innermost last: a command may open a step
// of its own inside the main program's (each effect kept is one).
std::vector<std::string>& openSteps() {
  static std::vector<std::string> names;
  return names;
}

SoundPlace currentPlace() {
  const ProgramState& p = program();
  return {p.currentPosition, p.markedPosition};
}

void endOpenStep() {
  if (soundHistory().endStep(currentPlace()) == EditHistory::Ended::failed) sayMessage("KLHISFAL", 1);
}

// Once each time the history outgrows its disk; told where a step scope
// opens or ends, not between a change and the word that it is done.
void tellOverBudget() {
  static bool toldOverBudget = false;
  if (soundHistory().overBudget() && !toldOverBudget) sayMessage("KLHISCHE", 1);
  toldOverBudget = soundHistory().overBudget();
}

// The markers of the sound as the working file last held them: a marker
// placed or removed is no step of the history.
std::vector<SoundMarker>& markersInFile() {
  static std::vector<SoundMarker> markers;
  return markers;
}

// A history's files and folder go, and its sound's state folder when
// nothing else is kept there.
void dropHistoryFolder(const std::string& folder) {
  if (folder.empty()) return;
  forgetHistory(folder);
  removeUnusedSoundStateDirectory(directoryPart(folder.substr(0, folder.size() - 1)));
}

std::string historyFolder() {
  const std::string sound = soundStateDirectory(program().workingFileName);
  return sound.empty() ? std::string() : sound + "historia/";
}

// "Desfeito: remoção de 3,2 segundos"
void tellStep(std::string_view done, const HistoryStep& step) {
  sayMessage(done, 0);
  const bool longer = step.newLength > step.oldLength;
  const int64_t frames = longer ? step.newLength : step.oldLength;
  if (frames == 0) {
    sayMessage(step.name, 1);
    return;
  }
  sayMessage(step.name, 0);
  sayMessage("KLHDE", 0);
  const int64_t rate = longer ? step.after.sampleRate : step.before.sampleRate;
  writeSpeak(secondsText(frames, rate));
  sayMessage("KLSEGUND", 1);
}

void moveTo(const SoundPlace& place) {
  ProgramState& p = program();
  const int32_t count = p.soundBuffer->count();
  p.currentPosition = std::clamp(place.cursor, 0, count);
  p.markedPosition = std::clamp(place.mark, 0, count);
}

// Undo (back) or redo, and what the user hears of it.
void travel(bool forward) {
  HistoryStep step;
  EditHistory& history = soundHistory();
  switch (forward ? history.redo(step) : history.undo(step)) {
    case EditHistory::Travel::nothingThere:
      sayMessage(!history.active() ? "KLHISSEM" : forward ? "KLNAREFA" : "KLNADESF", 1);
      return;
    case EditHistory::Travel::failed: sayMessage("KLHISERR", 1); return;
    case EditHistory::Travel::done: break;
  }
  moveTo(forward ? step.placeAfter : step.placeBefore);
  tellStep(forward ? "KLREFEIT" : "KLDESFEI", step);
}

void setAside(const std::string& folder) {
  const std::string aside = setHistoryAside(folder);
  sayMessage(aside.empty() ? "KLRECFIC" : "KLRECGRD", 0);
  writelnSpeak(aside.empty() ? folder : aside);
}

// "Recuperei 3 de 5 mudanças; as que faltam foram guardadas em PASTA"
void tellPartRecovered(const Resumed& resumed) {
  sayMessage("KLRECPAR", 0);
  writeSpeakInt(static_cast<int64_t>(resumed.brought));
  if (!resumed.damagedEnd) {
    sayMessage("KLHDE", 0);
    writeSpeakInt(static_cast<int64_t>(resumed.left));
  }
  sayMessage("KLRECMDS", 0);
  if (resumed.damagedEnd) sayMessage("KLRECDAN", 0);
  sayMessage("KLRECFAL", 0);
  writelnSpeak(resumed.aside);
}

// Tells of the changes left unsaved and asks whether they come back;
// true when they did.
bool bringBack(const LeftChanges& left, const std::string& folder) {
  sayMessage("KLRECACH", 0);
  writelnSpeak(localTimeText(left.log.lastChange, "%d/%m/%Y %H:%M") + ".");
  if (!left.madeOnThisFile) {
    sayMessage("KLRECMUD", 1);
    return false;
  }
  if (upperAscii(askKey("KLRECPER", "KLAJSIMN")) != 'S') return false;
  ProgramState& p = program();
  const std::optional<Resumed> resumed = soundHistory().resume(*p.soundBuffer, folder);
  if (!resumed) {
    // Half brought back is neither: the file again.
    sayMessage("KLRECERR", 1);
    readSoundFile(p.workingFileName, *p.soundBuffer);
    return false;
  }
  moveTo(resumed->place);
  if (resumed->all()) {
    sayMessage("KLRECOK", 1);
  } else {
    tellPartRecovered(*resumed);
  }
  return true;
}

}  // namespace

EditHistory& soundHistory() { return program().history; }

void startWorkingSoundHistory(SoundArrived how) {
  ProgramState& p = program();
  const std::string previous = soundHistory().folder();
  soundHistory().close();
  markersInFile() = p.soundBuffer->markers();
  const std::string folder = historyFolder();
  // The sound before was saved, or left unsaved on purpose.
  if (previous != folder) dropHistoryFolder(previous);
  std::optional<FileStamp> file;
  if (how != SoundArrived::other && !p.workingFileName.empty()) file = fileStamp(p.workingFileName);
  const std::optional<LeftChanges> left = folder.empty() ? std::nullopt : findLeftChanges(folder, file);
  if (left && !(how == SoundArrived::loaded && bringBack(*left, folder))) setAside(folder);
  soundHistory().setBudget(uint64_t{static_cast<uint32_t>(p.settings.historyMb)} << 20);
  if (soundHistory().active()) return;  // brought back
  if (folder.empty() || !soundHistory().start(*p.soundBuffer, folder, file)) {
    soundHistory().close();
    // Another run has this sound open: changes made here cannot be undone
    // nor found again after a crash, and the user must know it.
    if (!folder.empty() && historyInUse(folder)) sayMessage("KLHISUSO", 1);
  }
  // A step open when the sound changed hands goes on in the new history.
  if (!openSteps().empty()) soundHistory().beginStep(openSteps().back(), currentPlace());
}

void keepWorkingSoundHistory() {
  if (!soundHistory().active()) startWorkingSoundHistory(SoundArrived::other);
}

void stopWorkingSoundHistory(bool forget) {
  const std::string folder = soundHistory().folder();
  soundHistory().close();
  if (forget) dropHistoryFolder(folder);
}

void noteWorkingSoundSaved() {
  const std::optional<FileStamp> file = fileStamp(fileHoldingWorkingSound());
  markersInFile() = program().soundBuffer->markers();
  if (file && soundHistory().saved(*file, currentPlace()) == EditHistory::Ended::failed) sayMessage("KLHISFAL", 1);
}

void noteWorkingSoundSavedAs() {
  const std::string previous = soundHistory().folder();
  const std::string folder = historyFolder();
  if (folder.empty() || !soundHistory().moveTo(folder)) return startWorkingSoundHistory(SoundArrived::saved);
  // What the old name kept of the sound is gone with the history.
  if (previous != folder) dropHistoryFolder(previous);
  noteWorkingSoundSaved();
}

bool workingFileHoldsSound() {
  const ProgramState& p = program();
  if (p.workingFileName.empty()) return false;
  const std::optional<FileStamp> file = fileStamp(fileHoldingWorkingSound());
  return file && soundHistory().holdsSavedFile(*file) && p.soundBuffer->markers() == markersInFile();
}

HistoryStepScope::HistoryStepScope(std::string_view name) {
  if (!openSteps().empty()) {
    endOpenStep();
    tellOverBudget();
  }
  openSteps().emplace_back(name);
  soundHistory().beginStep(name, currentPlace());
}

HistoryStepScope::~HistoryStepScope() {
  endOpenStep();
  tellOverBudget();
  openSteps().pop_back();
  if (!openSteps().empty()) soundHistory().beginStep(openSteps().back(), currentPlace());
}

void commitStep() {
  if (openSteps().empty()) return;
  endOpenStep();
  soundHistory().beginStep(openSteps().back(), currentPlace());
}

void noteSoundCopy(const std::string& wavFile) { soundHistory().soundIsInFile(wavFile, kWavHeaderBytes); }

bool putBackWithoutStep(bool (*putBack)()) { return soundHistory().dropStep(putBack); }

void undoCommand() { travel(false); }

void redoCommand() { travel(true); }

}  // namespace kalimbro
