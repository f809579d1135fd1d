#include "tests/fakes/fake_speech_player.h"

#include "platform/wav_header.h"

namespace kalimbro {

int FakeSpeechPlayer::startWords(int speedLevel) {
  startedLevel = speedLevel;
  return startError;
}

void FakeSpeechPlayer::sounded() { playingChecksLeft = playingChecksPerSound; }

int FakeSpeechPlayer::playFile(std::string_view path) {
  played.push_back({Played::Kind::File, std::string(path), {}, fastMode_});
  sounded();
  return 0;
}

void FakeSpeechPlayer::playImage(std::span<const uint8_t> image) {
  const size_t header = std::min(image.size(), kWavHeaderBytes);
  played.push_back({Played::Kind::Image,
                    std::string(image.begin() + static_cast<std::ptrdiff_t>(header), image.end()),
                    std::string(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(header)),
                    fastMode_});
  sounded();
}

void FakeSpeechPlayer::playWords(std::string_view text) {
  played.push_back({Played::Kind::Words, std::string(text), {}, fastMode_});
  sounded();
}

bool FakeSpeechPlayer::isPlaying() {
  ++isPlayingCalls;
  if (playingChecksLeft <= 0) return false;
  --playingChecksLeft;
  return true;
}

void FakeSpeechPlayer::stop() {
  ++stops;
  playingChecksLeft = 0;
}

std::vector<std::string> FakeSpeechPlayer::heard() const {
  std::vector<std::string> out;
  for (const Played& p : played) {
    switch (p.kind) {
      case Played::Kind::File: {
        std::string name = p.what.substr(p.what.rfind('/') + 1);
        if (name.ends_with(".wav")) name.resize(name.size() - 4);
        out.push_back(name);
        break;
      }
      case Played::Kind::Image:
        out.push_back("image:" + p.what);
        break;
      case Played::Kind::Words:
        out.push_back("words:" + p.what);
        break;
    }
  }
  return out;
}

void FakeSpeechEngine::speak(std::string_view text) {
  spoken.emplace_back(text);
  busyChecksLeft = busyChecksPerText;
}

bool FakeSpeechEngine::busy() {
  if (busyChecksLeft <= 0) return false;
  --busyChecksLeft;
  return true;
}

void FakeSpeechEngine::stop() {
  ++stops;
  busyChecksLeft = 0;
}

ScopedFakeEngineStarter::ScopedFakeEngineStarter(FakeSpeechEngine* engine) {
  setSpeechEngineStarter([this, engine](const SpeechEngineSettings& settings,
                                        SpeechPlayer&) -> std::unique_ptr<SpeechEngine> {
    starts.push_back(settings);
    if (!engine) return nullptr;
    // The speech unit owns what it is given: hand it a forwarder.
    struct Forwarder : SpeechEngine {
      explicit Forwarder(FakeSpeechEngine& e) : target(e) {}
      void speak(std::string_view text) override { target.speak(text); }
      bool busy() override { return target.busy(); }
      void stop() override { target.stop(); }
      FakeSpeechEngine& target;
    };
    return std::make_unique<Forwarder>(*engine);
  });
}

ScopedFakeEngineStarter::~ScopedFakeEngineStarter() { setSpeechEngineStarter({}); }

}  // namespace kalimbro
