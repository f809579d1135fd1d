// klHistorico: undo and redo (main menu Control+Z and Control+Y) over the
// history of the working sound. The main program opens a step around each
// command that may change the sound, so that the commands themselves know
// nothing of the history; the working file starts the history when a sound
// is loaded and tells it of each save.
#pragma once

#include <string>
#include <string_view>

namespace kalimbro {

class EditHistory;

// The working sound's history.
EditHistory& soundHistory();

// How the sound in memory came to be the working sound.
enum class SoundArrived {
  loaded,  // from the working file: changes a run left unsaved are offered back
  saved,   // saved as a new working file
  other,   // anything else: no file holds it
};
// A new history of the working sound as it is now, kept in the state folder
// of the working file. Changes an earlier run left there unsaved are
// offered back after a load (S brings them back, N sets them aside); at
// any other start they are set aside. Nothing is ever deleted unasked.
void startWorkingSoundHistory(SoundArrived how);
// Starts a history of the sound in memory unless one is kept already (a
// load that failed or was given up leaves the sound as it was).
void keepWorkingSoundHistory();
// Stops watching the sound; with `forget`, the history's files go too (the
// user left the changes unsaved on purpose).
void stopWorkingSoundHistory(bool forget);
// The sound in memory is the working file as it is on disk now: saved into
// it, or read again from it.
void noteWorkingSoundSaved();
// The sound in memory was saved under a new working file name: its history
// goes on there (a new one starts where it cannot).
void noteWorkingSoundSavedAs();
// True when the working file, as it is on disk now, holds the sound in
// memory with its markers: opened or saved, and not changed since. False
// whenever that is not known.
bool workingFileHoldsSound();

// Whatever the sound goes through while it lives is one step, which undo
// knows by `name` (a catalogue key naming the change).
class HistoryStepScope {
 public:
  explicit HistoryStepScope(std::string_view name);
  ~HistoryStepScope();
  HistoryStepScope(const HistoryStepScope&) = delete;
  HistoryStepScope& operator=(const HistoryStepScope&) = delete;
};

// The command's change is whole and is about to be told done: its step is
// written down now, so that a crash right after the word loses nothing.
// What the command changes afterwards is a step of its own.
void commitStep();

// A command that changed the sound puts it back as it was when its step
// began, by `putBack`; the step is then no step. What putBack returns.
bool putBackWithoutStep(bool (*putBack)());

// `wavFile` is a canonical 16-bit WAV copy of the sound as it is now (the
// effects' scratch copy): a change to much of the sound keeps it instead of
// writing the sound again.
void noteSoundCopy(const std::string& wavFile);

void undoCommand();
void redoCommand();

}  // namespace kalimbro
