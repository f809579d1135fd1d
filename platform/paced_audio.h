// Real-time pacing for the program's own pseudo devices (nulo, arquivo).
// ALSA's null and file plugins take data instantly; these devices instead
// consume output and produce input at the real rate of the sound, measured
// with the monotonic clock, so a second of sound takes a second.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "platform/audio.h"

namespace kalimbro {

// An output device that hands the queued bytes to `consume` on its own
// thread as the frames come due, and reports a block done once its last
// frame has been consumed. A backend derived from it must call close() in
// its destructor.
class PacedOutput : public AudioOutput {
 public:
  int open(const AudioFormat& format, DoneHandler onDone) final;
  int queue(int block, std::span<const uint8_t> bytes) final;
  void reset() final;
  void close() final;

 protected:
  virtual int openSink(const AudioFormat& format) = 0;
  // Runs on the feeding thread with whole frames, in order.
  virtual void consume(std::span<const uint8_t> bytes) = 0;
  virtual void closeSink() = 0;

 private:
  struct Queued {
    int block;
    std::span<const uint8_t> bytes;
    size_t consumed = 0;
  };
  void feed();
  void reportAllLocked();

  AudioFormat format_;
  std::unique_ptr<AudioDoneQueue> done_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queued_;
  bool quit_ = false;
  bool open_ = false;
};

// An input device whose frames come due at the real rate from start();
// `produce` makes the next frames when they are read.
class PacedInput : public AudioInput {
 public:
  int open(const AudioFormat& format, size_t ringBytes) final;
  int start() final;
  int64_t read(std::span<uint8_t> into) final;
  void stop() final;
  void close() final;

 protected:
  virtual int openSource(const AudioFormat& format) = 0;
  // Fills `out` (whole frames) with the next frames of the source.
  virtual void produce(std::span<uint8_t> out) = 0;
  virtual void closeSource() = 0;

 private:
  int64_t framesDue() const;

  AudioFormat format_;
  bool open_ = false;
  bool running_ = false;
  bool stopped_ = false;
  std::chrono::steady_clock::time_point startedAt_;
  std::chrono::steady_clock::time_point stoppedAt_;
  int64_t delivered_ = 0;
};

}  // namespace kalimbro
