#include "tests/fakes/command_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrini.h"

namespace kalimbro {

void CommandTest::SetUp() {
  setIniLegacy(false);
  crtInit(&term);
  ProgramState& p = program();
  p.workingFileName.clear();
  p.tempSoundFile.clear();
  p.soundBuffer = std::make_unique<TAmostras>();
  p.currentPosition = 0;
  p.markedPosition = 0;
  p.soxProgram = "sox";
  p.settings = Settings{};
  p.settings.lameProgram = "lame";
  p.settings.lameEncodeOptions = "-h";
  p.settings.lameDecodeOptions = "--decode";
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kalimbro-cmd.XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  // What the program keeps between runs stays inside the test's directory.
  setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
}

void CommandTest::TearDown() {
  program().soundBuffer.reset();
  crtInit(nullptr);
  setIniLegacy(true);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

TAmostras& CommandTest::sound() { return *program().soundBuffer; }

std::string CommandTest::screenText() {
  std::string text;
  for (int y = 1; y <= kScreenRows; ++y) {
    std::string row;
    for (int x = 1; x <= kScreenColumns; ++x) row += static_cast<char>(screenCharAt(x, y));
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + '\n';
  }
  return text;
}

void fillMono(TAmostras& s, const std::vector<int16_t>& values, int32_t rate) {
  s.createSized(1, rate, 16, static_cast<int64_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) s.setFrame(static_cast<int64_t>(i), packFrame(values[i], values[i]));
}

void fillStereo(TAmostras& s, const std::vector<std::pair<int16_t, int16_t>>& frames, int32_t rate) {
  s.createSized(2, rate, 16, static_cast<int64_t>(frames.size()));
  for (size_t i = 0; i < frames.size(); ++i)
    s.setFrame(static_cast<int64_t>(i), packFrame(frames[i].first, frames[i].second));
}

std::vector<int16_t> leftValues(const TAmostras& s) {
  std::vector<int16_t> v;
  for (int64_t i = 0; i < s.count(); ++i) v.push_back(unpackFrame(s.getFrame(i)).left);
  return v;
}

std::vector<uint8_t> readFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kalimbro
