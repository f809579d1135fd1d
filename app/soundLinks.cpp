// The console and the sound engines, linked (see soundLinks.h).
#include "app/soundLinks.h"

#include <algorithm>
#include <vector>

#include "app/programState.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrsintese.h"
#include "edit/klHistorico.h"
#include "history/editHistory.h"
#include "levels/soundLevels.h"
#include "levels/soundPauses.h"
#include "platform/wav_header.h"
#include "sound/vrwav.h"

namespace kalimbro {
namespace {

class EngineTonePlayer final : public TonePlayer {
 public:
  void playLooping(const std::vector<uint8_t>& wavImage) override { kalimbro::playLooping(wavImage); }
  void stop() override { stopLooping(); }
};

class EngineSpeechPlayer final : public SpeechPlayer {
 public:
  int startWords(int speedLevel) override {
    const int error = synthStart();
    if (error == 0) synthSetSpeedLevel(speedLevel);
    return error;
  }
  void releaseWords() override { synthRelease(); }
  std::string wordsVoiceName() override { return synthVoiceName(); }

  int playFile(std::string_view path) override { return playWavFile(path); }
  void playImage(std::span<const uint8_t> image) override { playWavImage(image); }

  void playWords(std::string_view text) override {
    const std::vector<uint8_t> samples = synthesizeWord(text, [] { return keyPressed(); });
    if (samples.empty()) return;
    std::vector<uint8_t> image(kWavHeaderBytes + samples.size());
    fillWavHeader(std::span<uint8_t, kWavHeaderBytes>(image.data(), kWavHeaderBytes),
                  static_cast<uint32_t>(samples.size()), kSynthSampleRate, 1, 8);
    std::copy(samples.begin(), samples.end(), image.begin() + kWavHeaderBytes);
    playWavImage(image);
  }

  bool isPlaying() override { return kalimbro::isPlaying(); }
  void stop() override { stopPlayback(); }

  bool speedUp() override { return kalimbro::speedUp(); }
  void setSpeedUp(bool on) override { kalimbro::setSpeedUp(on); }
  bool fastMode() override { return kalimbro::fastMode(); }
  void setFastMode(bool on) override { kalimbro::setFastMode(on); }
  bool playAsync() override { return kalimbro::playAsync(); }
  void setPlayAsync(bool on) override { kalimbro::setPlayAsync(on); }
};

class ConsoleUserSide final : public UserSide {
 public:
  bool keyPressed() override { return kalimbro::keyPressed(); }
  // Any other key is taken and goes unanswered, as a recording only ends.
  bool recordingEndAsked() override { return kalimbro::keyPressed() && kalimbro::readKey() == kEsc; }
  void delay(int ms) override { kalimbro::delay(ms); }
  void click() override { clickSound(); }
  void toneOff() override { kalimbro::toneOff(); }
};

}  // namespace

TonePlayer& engineTonePlayer() {
  static EngineTonePlayer player;
  return player;
}

SpeechPlayer& engineSpeechPlayer() {
  static EngineSpeechPlayer player;
  return player;
}

UserSide& consoleUserSide() {
  static ConsoleUserSide side;
  return side;
}

void linkConsoleAndSound() {
  crtSetTonePlayer(&engineTonePlayer());
  setProgramSpeechPlayer(&engineSpeechPlayer());
  setUserSide(&consoleUserSide());
  // The edit history writes what a change made while the user listens and
  // answers; then the pauses and the levels of the sound are measured
  // ahead of the pause effects, the play command's jumps and F7.
  setIdleWork([] {
    if (soundHistory().writeAhead()) return true;
    const std::unique_ptr<TAmostras>& sound = program().soundBuffer;
    return sound && (program().pauses.measureSome(*sound) || program().levels.measureSome(*sound));
  });
}

}  // namespace kalimbro
