// MP3 conversion with LAME.
#include "app/klmp3.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "platform/codec.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/signal_cleanup.h"

namespace kalimbro {
namespace {

// The permissions a new version of `nativeTarget` gets: those of the file
// it replaces, or those a new file would have.
mode_t replacementMode(const std::string& nativeTarget) {
  struct stat st;
  if (stat(nativeTarget.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The file LAME writes into: a hidden new file beside the file the output
// replaces, renamed over it only when LAME has succeeded, and removed
// otherwise (a signal that ends the program removes it too; a start after
// a kill finds it unlocked and removes it).
class PendingOutput {
 public:
  explicit PendingOutput(std::string_view outputFile) : target_(replacedFile(nativePath(outputFile))) {
    if (target_.empty()) return;
    HiddenSibling sibling = createHiddenSibling(target_);
    if (sibling.name.empty()) return;
    hidden_ = std::move(sibling.name);
    lock_ = std::move(sibling.lock);
    onSignal_.set(hidden_);
    fchmod(sibling.fd.get(), replacementMode(target_));
    // LAME is given a Windows-1252 name like every argument: a hidden file
    // whose path has no such form (beside the target of an alias) is reached
    // through an alias of its own, left in the temporary directory.
    name_ = utf8FitsCp1252(hidden_) ? fromUtf8(hidden_) : aliasFor(hidden_, fileNamePart(outputFile));
  }
  ~PendingOutput() {
    if (!hidden_.empty()) unlink(hidden_.c_str());
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  bool ok() const { return !name_.empty(); }
  // The name to hand to LAME.
  const std::string& name() const { return name_; }
  bool written() const {
    struct stat st;
    return stat(hidden_.c_str(), &st) == 0 && st.st_size > 0;
  }
  bool commit() {
    if (std::rename(hidden_.c_str(), target_.c_str()) != 0) return false;
    hidden_.clear();
    onSignal_.clear();
    lock_.reset();
    return true;
  }

 private:
  std::string target_;  // native names
  std::string hidden_;
  UniqueFd lock_;  // held until the file has its place or is gone
  SignalRemovedFile onSignal_;
  std::string name_;
};

}  // namespace

Mp3Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile) {
  PendingOutput output(outputFile);
  if (!output.ok()) return Mp3Conversion::failed;
  std::vector<std::string> args{program().settings.lameProgram};
  for (std::string& word : splitWords(options)) args.push_back(std::move(word));
  args.push_back(fileArgument(inputFile));
  args.push_back(fileArgument(output.name()));

  const ProcessResult result =
      runProgram(args, {.started = {}, .everySecond = [] { clickSound(); }, .giveUp = escapeTyped});
  if (result.kind == ProcessResult::Kind::gaveUp) return Mp3Conversion::gaveUp;
  // LAME says nothing useful on failure (it exits 255 and may leave an empty
  // file); only a clean end with something written counts.
  if (!result.succeeded() || !output.written()) return Mp3Conversion::failed;
  return output.commit() ? Mp3Conversion::done : Mp3Conversion::failed;
}

Mp3Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile) {
  return runAndWait(program().settings.lameDecodeOptions, mp3File, wavFile);
}

Mp3Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File) {
  return runAndWait(program().settings.lameEncodeOptions, wavFile, mp3File);
}

std::string_view conversionFailureMessage(Mp3Conversion conversion) {
  return conversion == Mp3Conversion::gaveUp ? "KLDESIST" : "KLERRCNV";
}

}  // namespace kalimbro
