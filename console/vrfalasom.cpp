// The speech player the program links at start, and the silent one that
// stands in until then.
#include "console/vrfalasom.h"

namespace kalimbro {
namespace {

class SilentSpeechPlayer final : public SpeechPlayer {
 public:
  int startWords(int) override { return 0; }
  void releaseWords() override {}
  std::string wordsVoiceName() override { return {}; }

  int playFile(std::string_view) override { return 0; }
  void playImage(std::span<const uint8_t>) override {}
  void playWords(std::string_view) override {}

  bool isPlaying() override { return false; }
  void stop() override {}

  // Nothing plays, so no switch changes anything.
  bool speedUp() override { return false; }
  void setSpeedUp(bool) override {}
  bool fastMode() override { return false; }
  void setFastMode(bool) override {}
  bool playAsync() override { return false; }
  void setPlayAsync(bool) override {}
};

SpeechPlayer* linked = nullptr;

}  // namespace

void setProgramSpeechPlayer(SpeechPlayer* player) { linked = player; }

SpeechPlayer& programSpeechPlayer() {
  static SilentSpeechPlayer silent;
  return linked ? *linked : silent;
}

}  // namespace kalimbro
