// Failures of a full or broken disk, put into FileReplacer's writes, flushes
// and renames one at a time, the way SQLite tests its I/O errors: a save is
// run again and again, each time with the next step failing, until it runs
// through. Every save path of the program is tested so.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fakes/recording_disk.h"

namespace kalimbro {

// The steps of a replacement (platform/file_replacer.h) that a full or
// failing disk can refuse: each piece written, the flush of a durable file,
// the rename. The disk's other calls, and those of the journal, are not
// counted here.
enum class ReplaceStep { write, flush, rename };

// While it lives, the `nth` step of kind `step` from its creation on
// (counting from 1) fails with EIO, and no other. One at a time.
class ReplaceFault {
 public:
  ReplaceFault(ReplaceStep step, int nth);
  ~ReplaceFault();
  ReplaceFault(const ReplaceFault&) = delete;
  ReplaceFault& operator=(const ReplaceFault&) = delete;

  // True once the chosen step was reached, and so failed.
  bool hit() const;
  ReplaceStep step() const { return step_; }
  int nth() const { return nth_; }

 private:
  ReplaceStep step_;
  int nth_;
  RecordingDisk disk_;
};
// "write 2", "flush 1" ...: which run of a loop went wrong.
std::ostream& operator<<(std::ostream& out, const ReplaceFault& fault);

// How many runs failed on a step of each kind: how many steps of that kind
// one save takes.
struct ReplaceFaultRuns {
  int writes = 0;
  int flushes = 0;
  int renames = 0;
};

// For each kind of step, calls `run` with the first, then the second, ...
// step of that kind failing, until a run no longer reaches the chosen step.
// `run` does the work and checks what follows from `fault.hit()`.
ReplaceFaultRuns failEachReplaceStep(const std::function<void(const ReplaceFault& fault)>& run);

// failEachReplaceStep for a save that tells whether it succeeded: every run
// that hit its fault must report failure and leave everything below
// `directories` as it was (the same files with the same bytes, nothing
// added: no half-written new file); every other run must succeed.
ReplaceFaultRuns expectFailedSavesChangeNothing(const std::vector<std::string>& directories,
                                                const std::function<bool()>& save);

// Every file below a native directory with its bytes (more than 64 of them:
// their count and a hash; a link: where it points), by name relative to
// that directory.
std::map<std::string, std::string> filesBelow(const std::string& directory);

}  // namespace kalimbro
