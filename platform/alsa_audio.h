// ALSA backend of the audio seams: playback and capture on an ALSA PCM
// (which also reaches PipeWire and PulseAudio through their ALSA plugins).
// Output runs one feeding thread per open device: it writes the queued
// blocks without blocking and reports each one done once the device has
// played it, judged by snd_pcm_delay. Capture is read without blocking on
// the caller's thread; an overrun is recovered with snd_pcm_prepare and
// capture goes on. ALSA's own error printing is silenced: it would land in
// the middle of the terminal screen.
//
// A sound server can go away under an open PCM (PipeWire restarted, a
// crash): its plugin then fails every write or read with an underrun that
// snd_pcm_recover "mends" at once. Recovery is therefore bounded: a few
// tries in a row without one frame getting through, or a device that takes
// nothing for a while, and the PCM is closed and the device counts as
// lost. Output then reports every block kBlockNoDriver and refuses new
// ones; capture returns -ENODEV. The owner opens a new device to try again.
#pragma once

#include <chrono>
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
    // When it must have been heard: the device's delay then, from now.
    std::chrono::steady_clock::time_point endTime;
  };
  void feed();
  void reportWrittenAndPlayedLocked();
  void reportEverythingLocked(int status);
  void loseDeviceLocked();
  // Waits up to `pause` unless a reset or the close is asked for; true
  // when one is.
  bool pauseLocked(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds pause);

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
  // Progress of the feeding thread: recoveries since a frame last went in,
  // and when the device last took or played anything.
  int recoveries_ = 0;
  int64_t lastPlayed_ = 0;
  std::chrono::steady_clock::time_point lastProgress_;
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
  int64_t loseDevice();

  std::string name_;
  _snd_pcm* pcm_ = nullptr;
  AudioFormat format_;
  long bufferFrames_ = 0;
  bool running_ = false;
  bool lost_ = false;  // the device stopped working and was closed
  int recoveries_ = 0;
  std::chrono::steady_clock::time_point lastData_;
  std::vector<uint8_t> residue_;  // captured before stop(), not read yet
  size_t residueRead_ = 0;
};

// The output-capable PCMs of ALSA's PCM hints, Windows-1252.
std::vector<std::string> alsaOutputDeviceNames();

}  // namespace kalimbro
