// A speech player for tests: nothing sounds, every request is recorded in
// order. Files are recorded by path, images by their data (the bytes after
// the 44-byte header, with the header kept apart), words by their text.
// isPlaying answers true for a set number of checks after each sound, as a
// sound that takes a while would. A speech engine fake records the texts
// handed to it the same way. The Scoped versions install themselves for
// their life.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/vrfala.h"

namespace kalimbro {

class FakeSpeechPlayer : public SpeechPlayer {
 public:
  struct Played {
    enum class Kind { File, Image, Words };
    Kind kind;
    std::string what;         // path, image data or words
    std::string header;       // images: their first 44 bytes
    bool fastModeWhenPlayed;  // the fastMode switch at that moment
  };

  int startWords(int speedLevel) override;
  void releaseWords() override { ++releases; }
  std::string wordsVoiceName() override { return "voz-teste"; }
  int playFile(std::string_view path) override;
  void playImage(std::span<const uint8_t> image) override;
  void playWords(std::string_view text) override;
  bool isPlaying() override;
  void stop() override;
  bool speedUp() override { return speedUp_; }
  void setSpeedUp(bool on) override { speedUp_ = on; }
  bool fastMode() override { return fastMode_; }
  void setFastMode(bool on) override { fastMode_ = on; }
  bool playAsync() override { return playAsync_; }
  void setPlayAsync(bool on) override { playAsync_ = on; }

  // What was played, short: a file as its name without directory and
  // ".wav" ("_zero"), an image as "image:" and its data, words as
  // "words:" and their text.
  std::vector<std::string> heard() const;
  void clear() { played.clear(); }

  std::vector<Played> played;
  int playingChecksPerSound = 0;  // isPlaying answers true this often per sound
  int playingChecksLeft = 0;
  int isPlayingCalls = 0;
  int stops = 0;
  int startError = 0;  // what startWords answers
  int startedLevel = 0;
  int releases = 0;

 private:
  void sounded();
  bool speedUp_ = false, fastMode_ = false, playAsync_ = false;
};

class ScopedFakeSpeechPlayer : public FakeSpeechPlayer {
 public:
  ScopedFakeSpeechPlayer() { setSpeechPlayer(this); }
  ~ScopedFakeSpeechPlayer() override { setSpeechPlayer(nullptr); }
  ScopedFakeSpeechPlayer(const ScopedFakeSpeechPlayer&) = delete;
  ScopedFakeSpeechPlayer& operator=(const ScopedFakeSpeechPlayer&) = delete;
};

class FakeSpeechEngine : public SpeechEngine {
 public:
  void speak(std::string_view text) override;
  bool busy() override;
  void stop() override;

  std::vector<std::string> spoken;
  int busyChecksPerText = 0;  // busy answers true this often per text
  int busyChecksLeft = 0;
  int stops = 0;
};

// Installs a starter that hands out `engine` (not owned; nullptr: the
// engine fails to start) and records the settings it was started with.
class ScopedFakeEngineStarter {
 public:
  explicit ScopedFakeEngineStarter(FakeSpeechEngine* engine);
  ~ScopedFakeEngineStarter();
  ScopedFakeEngineStarter(const ScopedFakeEngineStarter&) = delete;
  ScopedFakeEngineStarter& operator=(const ScopedFakeEngineStarter&) = delete;

  std::vector<SpeechEngineSettings> starts;
};

}  // namespace kalimbro
