// Real-time pacing for the pseudo devices.
#include "platform/paced_audio.h"

#include <algorithm>
#include <cerrno>

#include "platform/worker_thread.h"

namespace kalimbro {
namespace {

using Clock = std::chrono::steady_clock;

// Frames of `rate` that fit in `elapsed`, without overflowing for any run
// time: whole seconds and the rest are scaled apart.
int64_t framesIn(Clock::duration elapsed, int rate) {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  if (ns <= 0) return 0;
  constexpr int64_t kNsPerSecond = 1'000'000'000;
  return ns / kNsPerSecond * rate + ns % kNsPerSecond * rate / kNsPerSecond;
}

}  // namespace

int PacedOutput::open(const AudioFormat& format, DoneHandler onDone) {
  close();
  if (!isSupportedAudioFormat(format)) return EINVAL;
  if (const int rc = openSink(format); rc != 0) return rc;
  done_ = std::make_unique<AudioDoneQueue>(std::move(onDone));
  format_ = format;
  quit_ = false;
  thread_ = startWorkerThread([this] { feed(); });
  if (!thread_.joinable()) {
    done_.reset();
    closeSink();
    return EAGAIN;
  }
  open_ = true;
  return 0;
}

int PacedOutput::queue(int block, std::span<const uint8_t> bytes) {
  if (!open_) return EBADF;
  {
    std::lock_guard lock(mutex_);
    queued_.push_back({block, bytes});
  }
  wake_.notify_one();
  return 0;
}

void PacedOutput::reportAllLocked() {
  for (const Queued& q : queued_) done_->post(q.block, kBlockDone);
  queued_.clear();
}

void PacedOutput::reset() {
  if (!open_) return;
  // The feeding thread consumes only while holding the lock, so once the
  // queue is emptied here no block is read any more.
  std::lock_guard lock(mutex_);
  reportAllLocked();
}

void PacedOutput::close() {
  if (!open_) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    reportAllLocked();
  }
  wake_.notify_one();
  thread_.join();
  closeSink();
  done_.reset();
  open_ = false;
}

void PacedOutput::feed() {
  const int frameBytes = format_.frameBytes();
  const int rate = format_.sampleRate;
  bool clockRunning = false;
  Clock::time_point base;
  int64_t framesPlayed = 0;

  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (queued_.empty()) {
      // Nothing to play: the device idles and its clock starts again with
      // the next block.
      clockRunning = false;
      wake_.wait(lock, [this] { return quit_ || !queued_.empty(); });
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (!clockRunning) {
      base = now;
      framesPlayed = 0;
      clockRunning = true;
    }
    int64_t toPlay = framesIn(now - base, rate) - framesPlayed;
    while (toPlay > 0 && !queued_.empty()) {
      Queued& q = queued_.front();
      const size_t leftBytes = q.bytes.size() - q.consumed;
      const int64_t leftFrames = static_cast<int64_t>((leftBytes + frameBytes - 1) / frameBytes);
      const int64_t frames = std::min(toPlay, leftFrames);
      const size_t bytes = std::min(leftBytes, static_cast<size_t>(frames) * frameBytes);
      if (bytes > 0) consume(q.bytes.subspan(q.consumed, bytes));
      q.consumed += bytes;
      framesPlayed += frames;
      toPlay -= frames;
      if (q.consumed == q.bytes.size()) {
        done_->post(q.block, kBlockDone);
        queued_.pop_front();
      }
    }
    if (queued_.empty()) continue;
    // Wake when the head block ends, and at least every 20 ms so that the
    // sink receives the sound as it goes.
    const Queued& head = queued_.front();
    const int64_t headFrames =
        static_cast<int64_t>((head.bytes.size() - head.consumed + frameBytes - 1) / frameBytes);
    const int64_t headMs = headFrames * 1000 / rate + 1;
    wake_.wait_for(lock, std::chrono::milliseconds(std::clamp<int64_t>(headMs, 1, 20)));
  }
}

int PacedInput::open(const AudioFormat& format, size_t) {
  close();
  if (!isSupportedAudioFormat(format)) return EINVAL;
  if (const int rc = openSource(format); rc != 0) return rc;
  format_ = format;
  open_ = true;
  running_ = false;
  stopped_ = false;
  delivered_ = 0;
  return 0;
}

int PacedInput::start() {
  if (!open_) return EBADF;
  startedAt_ = Clock::now();
  running_ = true;
  stopped_ = false;
  delivered_ = 0;
  return 0;
}

int64_t PacedInput::framesDue() const {
  if (running_) return framesIn(Clock::now() - startedAt_, format_.sampleRate);
  if (stopped_) return framesIn(stoppedAt_ - startedAt_, format_.sampleRate);
  return 0;
}

int64_t PacedInput::read(std::span<uint8_t> into) {
  if (!open_) return -EBADF;
  const int frameBytes = format_.frameBytes();
  const int64_t frames =
      std::min(framesDue() - delivered_, static_cast<int64_t>(into.size() / frameBytes));
  if (frames <= 0) return 0;
  const size_t bytes = static_cast<size_t>(frames) * frameBytes;
  produce(into.first(bytes));
  delivered_ += frames;
  return static_cast<int64_t>(bytes);
}

void PacedInput::stop() {
  if (!running_) return;
  stoppedAt_ = Clock::now();
  running_ = false;
  stopped_ = true;
}

void PacedInput::close() {
  if (!open_) return;
  closeSource();
  open_ = false;
  running_ = false;
  stopped_ = false;
}

}  // namespace kalimbro
