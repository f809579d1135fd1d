// ALSA backend of the audio seams: playback and capture on an ALSA PCM
// (which also reaches PipeWire and PulseAudio through their ALSA plugins).
// Output runs one feeding thread per open device: it writes the queued
// blocks without blocking and reports each one done once the device has
// played it, judged by snd_pcm_delay. Capture is read without blocking on
// the caller's thread; an overrun is recovered with snd_pcm_prepare and
// capture goes on. ALSA's own error printing is silenced: it would land in
// the middle of the terminal screen.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/audio.h"

struct _snd_pcm;  // snd_pcm_t of <alsa/asoundlib.h>

namespace kalimbro {

class AlsaOutput final : public AudioOutput {
 public:
  // `pcmName` in Windows-1252, e.g. "default", "hw:0,0", "pulse".
  explicit AlsaOutput(std::string_view pcmName) : name_(pcmName) {}
  ~AlsaOutput() override { close(); }

  int open(const AudioFormat& format, DoneHandler onDone) override;
  int queue(int block, std::span<const uint8_t> bytes) override;
  void reset() override;
  void close() override;

 private:
  struct Pending {
    int block;
    std::span<const uint8_t> bytes;
    size_t written = 0;
  };
  struct InDevice {
    int block;
    int64_t endFrame;  // frames written when its last frame went in
  };
  void feed();
  void reportWrittenAndPlayedLocked();
  void reportEverythingLocked();

  std::string name_;
  _snd_pcm* pcm_ = nullptr;
  AudioFormat format_;
  std::unique_ptr<AudioDoneQueue> done_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable resetDone_;
  std::deque<Pending> toWrite_;
  std::deque<InDevice> inDevice_;
  int64_t framesWritten_ = 0;
  bool resetRequested_ = false;
  bool quit_ = false;
  bool broken_ = false;
  bool open_ = false;
};

class AlsaInput final : public AudioInput {
 public:
  explicit AlsaInput(std::string_view pcmName) : name_(pcmName) {}
  ~AlsaInput() override { close(); }

  int open(const AudioFormat& format, size_t ringBytes) override;
  int start() override;
  int64_t read(std::span<uint8_t> into) override;
  void stop() override;
  void close() override;

 private:
  std::string name_;
  _snd_pcm* pcm_ = nullptr;
  AudioFormat format_;
  long bufferFrames_ = 0;
  bool running_ = false;
  std::vector<uint8_t> residue_;  // captured before stop(), not read yet
  size_t residueRead_ = 0;
};

// The output-capable PCMs of ALSA's PCM hints, Windows-1252.
std::vector<std::string> alsaOutputDeviceNames();

}  // namespace kalimbro
