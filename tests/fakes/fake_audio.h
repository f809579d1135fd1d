// A fake audio device for the engines' tests. While a FakeAudio exists,
// every output and input device the program opens is a fake one that
// records what it is asked; the test reports queued blocks done (they reach
// the engine through the same event descriptor as a real device's) and
// feeds captured bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/audio.h"

namespace kalimbro {

class FakeAudio {
 public:
  FakeAudio();
  ~FakeAudio();
  FakeAudio(const FakeAudio&) = delete;
  FakeAudio& operator=(const FakeAudio&) = delete;

  struct Block {
    int number;
    std::vector<uint8_t> bytes;
    AudioFormat format;
  };

  // Output. What open() returns. With autoComplete every block is reported
  // done as soon as it is queued (a device that plays instantly); with
  // blockMs > 0 a thread of the device reports the oldest block done every
  // blockMs milliseconds (a device that plays in time). Read the records
  // below once the device is closed.
  int openResult = 0;
  bool autoComplete = false;
  int blockMs = 0;
  std::vector<std::string> outputNames;  // device names asked of the factory
  std::vector<AudioFormat> opens;
  int closes = 0;
  int resets = 0;
  std::vector<Block> blocks;  // every block queued, in order
  int mostPending = 0;        // most blocks queued at once
  // "open R/B/C", "queue N", "done N", "reset", "close", in order.
  std::vector<std::string> events;

  size_t pendingCount() {
    std::lock_guard lock(mutex);
    return pending_.size();
  }
  // Reports the `count` oldest pending blocks done with `status`.
  void complete(size_t count = 1, int status = kBlockDone);
  void completeAll() { complete(pendingCount()); }

  // Input. Once inputFailure is set (a negative error), every read that
  // finds nothing captured waiting returns it: a device that went away.
  int inputOpenResult = 0;
  int64_t inputFailure = 0;
  std::vector<std::string> inputNames;
  std::vector<AudioFormat> inputOpens;
  size_t ringBytes = 0;
  int starts = 0;
  int stops = 0;
  int inputCloses = 0;
  // Bytes the device has captured; ignored once it is stopped.
  void capture(std::span<const uint8_t> bytes);
  size_t capturedWaiting() const { return captured_.size(); }

  // Used by the fake devices.
  struct Pending {
    const void* device;
    AudioDoneQueue* done;
    int number;
  };
  std::deque<Pending>& pending() { return pending_; }
  std::deque<uint8_t>& captured() { return captured_; }
  bool inputRunning = false;
  std::recursive_mutex mutex;  // the output records, against the playing thread

 private:
  std::deque<Pending> pending_;
  std::deque<uint8_t> captured_;
};

}  // namespace kalimbro
