// The program-wide state that the commands share: the working file, the
// sound being edited with its history, levels and pauses, the play cursor
// and mark, the directories read at start-up and the settings of the
// "KALIMBRO" section. One instance, owned
// by the main program and reached through program().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "formats/soundFiles.h"
#include "history/editHistory.h"
#include "levels/soundLevels.h"
#include "levels/soundPauses.h"
#include "sound/gramost.h"

namespace kalimbro {

// The settings kept in section "KALIMBRO" of Varelu.ini. Echo and
// reverberation delays are held ten times the value the user sees.
struct Settings {
  int32_t EchoUnits = 3000;
  int32_t echoPercent = 75;
  int32_t ReverbUnits = 2000;
  int32_t reverbPercent = 80;
  int32_t maxMemoryMb = 0;
  int32_t playBuffers = 4;
  int32_t recordBuffers = 4;
  std::string lameProgram;
  std::string lameEncodeOptions;
  std::string lameDecodeOptions;
  std::string ffmpegProgram = "ffmpeg";  // for AAC (M4A, MP4)
  int32_t historyMb = 4096;              // the disk the edit history may take
  bool timesInHours = false;             // "1:02:08,4" instead of "3728:4"
};

struct ProgramState {
  std::string workingFileName;  // empty: no working file
  SoundFileFormat workingFormat;  // what the working file was read as, and is saved back as
  std::string tempSoundFile;    // scratch copy of the sound, in the temporary directory
  std::unique_ptr<TAmostras> soundBuffer;
  // What is known of the working sound beside its frames: the history of
  // its changes (which watches it, so it goes first at the end), and its
  // levels and pauses, measured while the program waits for keys.
  EditHistory history;
  LevelsCache levels;
  PauseFinder pauses;
  int32_t currentPosition = 0;
  int32_t markedPosition = 0;
  std::string messageSoundDir;
  std::string soxProgram;
  Settings settings;
};

ProgramState& program();

// The memory limit of a sound, in 16-bit values, from MAX_MEMORIA
// (megabytes of values); 0 means none.
int64_t memoryLimitFromSettings();

// The scratch copy of the sound that goes with a working file: its
// file-name part in the program's temporary directory, or "kalimbro.wav"
// there when there is no working file; empty when there is no temporary
// directory. The main program sets tempSoundFile from it; the effects fall
// back on it.
std::string scratchSoundFileFor(std::string_view workingFileName);

}  // namespace kalimbro
