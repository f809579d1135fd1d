// take_store: where the takes of a recording command live while it runs.
// Each command's takes go to a folder of their own in the sound's state
// folder, not in the temporary directory, which a fatal signal empties:
// what was captured outlives a closed terminal, SIGTERM, a crash or kill -9.
// The command holds a lock on its folder while it lives, so that a later
// start tells the folders of a command that is gone from those of a program
// still running.
//
//   <state>/<sound folder>/gravacoes/20261208-091200-4242/em-uso, 001.wav ...
//   <state>/sem-nome/gravacoes/...   (a sound without a file name)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fd.h"

namespace kalimbro {

// The takes of one running command; the folder and its takes go when the
// object does.
class TakeRun {
 public:
  // A run for the sound `soundFile` (Windows-1252; empty: no name yet).
  // Without a usable state folder the takes go to the private temporary
  // directory, as a last resort.
  explicit TakeRun(std::string_view soundFile);
  ~TakeRun();
  TakeRun(const TakeRun&) = delete;
  TakeRun& operator=(const TakeRun&) = delete;

  // False when there is nowhere to keep takes at all.
  bool ok() const { return !folder_.empty(); }
  // A new empty file for the next take (Windows-1252), its name on the
  // disk; empty on failure.
  std::string nextTakeFile();

 private:
  bool namesOnDisk(bool firstTake) const;

  std::string folder_;  // native, with a trailing '/'; empty: none
  bool inState_ = false;  // in the sound's state folder, not the temporary directory
  UniqueFd lock_;
  int takes_ = 0;
};

// A run whose command is gone, with the takes it kept. It stays locked by
// this process while the object lives.
struct LeftTakeRun {
  std::string folder;                  // Windows-1252, with a trailing '/'
  std::string soundFile;               // the sound it belongs to; empty: none named
  std::vector<std::string> takeFiles;  // Windows-1252, in recording order
  int64_t lastWritten = 0;             // when its last take was written, seconds since the epoch
  UniqueFd lock;
};

// The runs left by commands that are gone, oldest first. Runs that kept no
// take are removed on the way.
std::vector<LeftTakeRun> findLeftTakeRuns();
// True when the run's takes were recorded into the sound `soundFile`: the
// same file by its real path, not one of the same name elsewhere.
bool isTakeRunOf(const LeftTakeRun& run, std::string_view soundFile);
// Removes a left run's folder with its takes.
void removeTakeRun(LeftTakeRun& run);

}  // namespace kalimbro
