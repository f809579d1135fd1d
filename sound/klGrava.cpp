// The record commands.
#include "sound/klGrava.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/klArquivo.h"
#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr uint8_t kEnter = 13, kEsc = 27;
constexpr uint8_t kPageUp = 73;
constexpr int64_t kReplaySeconds = 10;

// The temporary file the takes of one G command are recorded into; removed
// when the command ends.
class TakeFile {
 public:
  TakeFile() : name_(makeTempFile("WAV")) {}
  ~TakeFile() {
    if (!name_.empty()) removeFile(name_);
  }
  TakeFile(const TakeFile&) = delete;
  TakeFile& operator=(const TakeFile&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

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

// Takes until ESC, each appended to the sound; the take and its file live
// only as long as this loop.
void recordTakes() {
  ProgramState& p = program();
  TAmostras& sound = *p.soundBuffer;
  const TakeFile takeFile;
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
      recordTake(take, takeFile.name(), sound);
    } else if (key == 0 && readKey() == kPageUp) {
      clickSound();
      const int64_t from = std::max<int64_t>(0, int64_t{p.currentPosition} - tenSeconds);
      p.currentPosition = static_cast<int32_t>(from);
      sound.playRange(from, sound.count() - from);
      beepSound();
    }
    p.currentPosition = sound.count();
  }
  crtWriteln();
}

}  // namespace

void newSoundCommand() {
  ProgramState& p = program();
  const uint8_t answer = askKey("KLQUERSV");
  if (answer == kEsc) {
    sayMessage("KLDESIST", 2);
    return;
  }
  if (upperCaseAccented(answer) != 'N') {
    // A sound that was to be saved and was not stays in memory: the user
    // has heard why and decides again.
    if (saveWorkingFile() != SaveResult::saved) return;
    convertBackToMp3(p.workingFileName);
  }
  p.soundBuffer->clear();
  sayMessage("KLNOVSOM", 1);
  chooseWorkingFile(false);
  recordOrLoadWorkingSound();
}

void recordMoreCommand() {
  recordTakes();
  setFileTitle(false);
  sayMessage("KLSALVAG", 1);
  const uint8_t answer = readAnswerEchoed();
  crtWriteln();
  if (answer != kEsc && upperCaseAccented(answer) != 'N') saveWorkingFile();
}

}  // namespace kalimbro
