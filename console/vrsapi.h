// vrsapi: the speech engines, the voices that speak whole texts when the
// settings ask for one ("TRADUTOR"/"SAPI"). Every engine speaks
// asynchronously, reports whether it is busy, stops at once and is released
// when its object goes. Type 3 is espeak-ng driven by the program itself:
// the text is synthesized into memory and played through the speech player,
// so it reaches the same output device as every other sound. Every other
// type is the system's speech service, speech-dispatcher.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

namespace kalimbro {

class SpeechPlayer;

// Section "SERVFALA" of the settings.
struct SpeechEngineSettings {
  int voice = 0;  // 1-based number of a voice of the service; 0: its default
  // -10..10; none when the setting is empty: the service keeps the rate and
  // pitch its own settings give (those its user chose for every program).
  std::optional<int> rate;
  std::optional<int> pitch;
  int type = 0;
};

constexpr int kEspeakEngineType = 3;

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  // Hands the text (Windows-1252) over and returns at once.
  virtual void speak(std::string_view text) = 0;
  // Processes pending messages first; true while the engine is speaking.
  virtual bool busy() = 0;
  virtual void stop() = 0;
};

// The engine of `settings.type`, started; nullptr when it cannot start.
std::unique_ptr<SpeechEngine> startSpeechEngine(const SpeechEngineSettings& settings,
                                                SpeechPlayer& player);

}  // namespace kalimbro
