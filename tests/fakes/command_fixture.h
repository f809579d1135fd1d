// A base for tests that run a command: a fake terminal and clock, speech
// that is recorded rather than played, a private settings home, a fresh program-wide state with an empty sound,
// and a private directory for the files a test makes. Helpers build sounds
// and read the screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sound/gramost.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_speech_player.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TAmostras& sound();
  // The 25 rows of the console, each followed by '\n', trailing blanks cut.
  static std::string screenText();
  static bool shown(std::string_view text) { return screenText().find(text) != std::string::npos; }
  // How many times `text` stands on the screen.
  static int occurrences(std::string_view text) {
    const std::string screen = screenText();
    int n = 0;
    for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++n;
    return n;
  }
  // A file name inside the test's own directory.
  std::string file(std::string_view name) const { return dir_ + "/" + std::string(name); }
  const std::string& dir() const { return dir_; }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
  ScopedFakeSpeechPlayer speech;

 private:
  std::string dir_;
};

// A mono sound of these values.
void fillMono(TAmostras& s, const std::vector<int16_t>& values, int32_t rate = 22050);
// A stereo sound of these (left, right) pairs.
void fillStereo(TAmostras& s, const std::vector<std::pair<int16_t, int16_t>>& frames, int32_t rate = 22050);
// Left values of every frame.
std::vector<int16_t> leftValues(const TAmostras& s);
std::vector<uint8_t> readFileBytes(const std::string& name);
void writeFileBytes(const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace kalimbro
