// The one instance of the program-wide state.
#include "app/programState.h"

#include "platform/paths.h"

namespace kalimbro {

ProgramState& program() {
  static ProgramState state;
  return state;
}

int64_t memoryLimitFromSettings() {
  constexpr int64_t kValuesPerMegabyte = 1048576;
  return int64_t{program().settings.maxMemoryMb} * kValuesPerMegabyte;
}

std::string scratchSoundFileFor(std::string_view workingFileName) {
  // Without the private directory the bare name would be a file of the
  // current directory, perhaps the user's own.
  const std::string dir = tempDirectory();
  if (dir.empty()) return {};
  std::string name = fileNamePart(workingFileName);
  if (name.find_first_not_of(' ') == std::string::npos) name = "kalimbro.wav";
  return dir + name;
}

}  // namespace kalimbro
