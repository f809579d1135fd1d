// ALSA backend of the audio seams.
#include "platform/alsa_audio.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/codec.h"
#include "platform/worker_thread.h"

namespace kalimbro {
namespace {

// How much sound the device itself holds ahead of what is heard.
constexpr unsigned kOutputLatencyUs = 100'000;

// Underruns or overruns mended in a row without one frame getting through
// before the device counts as lost. On output the pauses between the tries
// grow from none (a device that ran dry between two sounds underruns once
// at every new sound) to 10, 20, 40 ms; capture is paced by its polls.
constexpr int kMostRecoveries = 5;
constexpr std::chrono::milliseconds kFirstRecoveryPause{10};
// A device that neither takes nor plays nor delivers anything for this
// long, while it should, is lost: a server that stopped answering.
constexpr std::chrono::milliseconds kStallLimit{2000};

// Added to the time a block's delay promises, so that a block is never
// reported before it was heard.
constexpr std::chrono::milliseconds kHearingSlack{20};

using SteadyClock = std::chrono::steady_clock;

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
  static const bool once = [] {
    snd_lib_error_set_handler(ignoreAlsaError);
    return true;
  }();
  (void)once;
}

snd_pcm_format_t pcmFormat(const AudioFormat& f) {
  return f.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

// Opens and configures a PCM; 0 or a positive error code.
int openPcm(const std::string& name, snd_pcm_stream_t stream, const AudioFormat& format, unsigned latencyUs,
            snd_pcm_t*& pcm) {
  silenceAlsa();
  pcm = nullptr;
  int rc = snd_pcm_open(&pcm, toUtf8(name).c_str(), stream, SND_PCM_NONBLOCK);
  if (rc < 0) {
    pcm = nullptr;
    return -rc;
  }
  rc = snd_pcm_set_params(pcm, pcmFormat(format), SND_PCM_ACCESS_RW_INTERLEAVED,
                          static_cast<unsigned>(format.channels), static_cast<unsigned>(format.sampleRate),
                          1, latencyUs);
  if (rc < 0) {
    snd_pcm_close(pcm);
    pcm = nullptr;
    return -rc;
  }
  return 0;
}

}  // namespace

int AlsaOutput::open(const AudioFormat& format, DoneHandler onDone) {
  close();
  if (!isSupportedAudioFormat(format)) return EINVAL;
  snd_pcm_t* pcm = nullptr;
  if (const int rc = openPcm(name_, SND_PCM_STREAM_PLAYBACK, format, kOutputLatencyUs, pcm); rc != 0) return rc;
  // Start with the first frame written: a block is heard as soon as it is
  // queued, however short.
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm, sw) == 0 && snd_pcm_sw_params_set_start_threshold(pcm, sw, 1) == 0) {
    snd_pcm_sw_params(pcm, sw);
  }
  done_ = std::make_unique<AudioDoneQueue>(std::move(onDone));
  pcm_ = pcm;
  format_ = format;
  framesWritten_ = 0;
  recoveries_ = 0;
  lastPlayed_ = 0;
  resetRequested_ = quit_ = broken_ = false;
  thread_ = startWorkerThread([this] { feed(); });
  if (!thread_.joinable()) {
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
    done_.reset();
    return EAGAIN;
  }
  open_ = true;
  return 0;
}

int AlsaOutput::queue(int block, std::span<const uint8_t> bytes) {
  if (!open_) return EBADF;
  {
    std::lock_guard lock(mutex_);
    if (broken_) return ENODEV;
    toWrite_.push_back({block, bytes});
  }
  wake_.notify_one();
  return 0;
}

void AlsaOutput::reset() {
  if (!open_) return;
  // The feeding thread owns the PCM; it drops and reports, then answers.
  std::unique_lock lock(mutex_);
  resetRequested_ = true;
  wake_.notify_one();
  resetDone_.wait(lock, [this] { return !resetRequested_; });
}

void AlsaOutput::close() {
  if (!open_) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  thread_.join();
  if (pcm_ != nullptr) snd_pcm_close(pcm_);
  pcm_ = nullptr;
  done_.reset();
  open_ = false;
}

void AlsaOutput::reportEverythingLocked(int status) {
  for (const InDevice& b : inDevice_) done_->post(b.block, status);
  for (const Pending& b : toWrite_) done_->post(b.block, status);
  inDevice_.clear();
  toWrite_.clear();
}

// The frames the device holds ahead of what is heard; 0 after an error,
// which means it ran dry and stopped.
// An error means the device ran dry and stopped: all was played. The room
// left is asked first because only that notices the running dry on
// PipeWire, whose plugin goes on giving its graph's latency as the delay
// after the last frame was taken.
static snd_pcm_sframes_t pcmDelay(snd_pcm_t* pcm) {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_avail(pcm) < 0 || snd_pcm_delay(pcm, &delay) < 0 || delay < 0) delay = 0;
  return delay;
}

// A block is done once the device's delay says its last frame was played,
// or once the time that delay promised when it went in has passed: after
// the last block PipeWire's plugin keeps counting its own latency in the
// delay, which then never drains.
void AlsaOutput::reportWrittenAndPlayedLocked() {
  if (inDevice_.empty()) return;
  const SteadyClock::time_point now = SteadyClock::now();
  const int64_t played = framesWritten_ - pcmDelay(pcm_);
  if (played > lastPlayed_) {
    lastPlayed_ = played;
    lastProgress_ = now;
  }
  while (!inDevice_.empty() && (inDevice_.front().endFrame <= played || inDevice_.front().endTime <= now)) {
    done_->post(inDevice_.front().block, kBlockDone);
    inDevice_.pop_front();
  }
}

// The PCM is closed here, on the thread that owns it; nothing is played
// any more and nothing waits for it.
void AlsaOutput::loseDeviceLocked() {
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  broken_ = true;
  reportEverythingLocked(kBlockNoDriver);
  framesWritten_ = 0;
  lastPlayed_ = 0;
}

bool AlsaOutput::pauseLocked(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds pause) {
  return wake_.wait_for(lock, pause, [this] { return resetRequested_ || quit_; });
}

void AlsaOutput::feed() {
  const size_t frameBytes = static_cast<size_t>(format_.frameBytes());
  std::unique_lock lock(mutex_);
  lastProgress_ = SteadyClock::now();
  for (;;) {
    if (resetRequested_ || quit_) {
      if (pcm_ != nullptr) snd_pcm_drop(pcm_);
      reportEverythingLocked(kBlockDone);
      framesWritten_ = 0;
      lastPlayed_ = 0;
      recoveries_ = 0;
      lastProgress_ = SteadyClock::now();
      if (quit_) return;
      if (pcm_ != nullptr) snd_pcm_prepare(pcm_);
      resetRequested_ = false;
      resetDone_.notify_all();
      continue;
    }
    bool progressed = false;
    // A lost device has nothing queued (queue() refuses): it only waits
    // for its close.
    if (!broken_ && !toWrite_.empty()) {
      const Pending head = toWrite_.front();
      const snd_pcm_uframes_t frames = (head.bytes.size() - head.written) / frameBytes;
      snd_pcm_sframes_t n = 0;
      if (frames > 0) {
        // Only this thread takes blocks off the queue, so `head` stays the
        // front while the lock is released.
        lock.unlock();
        n = snd_pcm_writei(pcm_, head.bytes.data() + head.written, frames);
        lock.lock();
        if (resetRequested_ || quit_) continue;
      }
      Pending& front = toWrite_.front();
      if (n > 0) {
        front.written += static_cast<size_t>(n) * frameBytes;
        framesWritten_ += n;
        recoveries_ = 0;
        lastProgress_ = SteadyClock::now();
        progressed = true;
      } else if (n == -EPIPE || n == -ESTRPIPE || n == -EINTR) {
        // Underrun or suspend: what was in the device has been played or
        // lost; start over and write again, a few times at most.
        for (const InDevice& b : inDevice_) done_->post(b.block, kBlockDone);
        inDevice_.clear();
        framesWritten_ = 0;
        lastPlayed_ = 0;
        if (++recoveries_ > kMostRecoveries) {
          loseDeviceLocked();
          continue;
        }
        if (recoveries_ > 1 && pauseLocked(lock, kFirstRecoveryPause * (1 << (recoveries_ - 2)))) continue;
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
          loseDeviceLocked();
          continue;
        }
        progressed = true;
      } else if (n < 0 && n != -EAGAIN) {
        loseDeviceLocked();
        continue;
      }
      if (!toWrite_.empty() && toWrite_.front().bytes.size() - toWrite_.front().written < frameBytes) {
        const auto heardIn = std::chrono::microseconds(pcmDelay(pcm_) * 1'000'000 / format_.sampleRate);
        inDevice_.push_back({toWrite_.front().block, framesWritten_, SteadyClock::now() + heardIn + kHearingSlack});
        toWrite_.pop_front();
        progressed = true;
      }
    }
    if (!broken_) {
      reportWrittenAndPlayedLocked();
      const bool waiting = !toWrite_.empty() || !inDevice_.empty();
      if (waiting && SteadyClock::now() - lastProgress_ > kStallLimit) {
        loseDeviceLocked();
        continue;
      }
    }
    if (progressed) continue;
    if (toWrite_.empty() && inDevice_.empty()) {
      wake_.wait(lock, [this] { return resetRequested_ || quit_ || !toWrite_.empty(); });
      // Time without anything to play is no stall.
      lastProgress_ = SteadyClock::now();
    } else {
      wake_.wait_for(lock, std::chrono::milliseconds(5));
    }
  }
}

int AlsaInput::open(const AudioFormat& format, size_t ringBytes) {
  close();
  if (!isSupportedAudioFormat(format)) return EINVAL;
  const size_t ringFrames = ringBytes / static_cast<size_t>(format.frameBytes());
  const unsigned latencyUs = static_cast<unsigned>(
      std::clamp<uint64_t>(ringFrames * 1'000'000ULL / static_cast<uint64_t>(format.sampleRate), 50'000, 2'000'000));
  snd_pcm_t* pcm = nullptr;
  if (const int rc = openPcm(name_, SND_PCM_STREAM_CAPTURE, format, latencyUs, pcm); rc != 0) return rc;
  snd_pcm_uframes_t bufferSize = 0, periodSize = 0;
  if (snd_pcm_get_params(pcm, &bufferSize, &periodSize) < 0 || bufferSize == 0) bufferSize = ringFrames;
  pcm_ = pcm;
  format_ = format;
  bufferFrames_ = static_cast<long>(bufferSize);
  running_ = false;
  lost_ = false;
  recoveries_ = 0;
  residue_.clear();
  residueRead_ = 0;
  return 0;
}

int AlsaInput::start() {
  if (pcm_ == nullptr) return EBADF;
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) snd_pcm_prepare(pcm_);
  const int rc = snd_pcm_start(pcm_);
  if (rc < 0) return -rc;
  running_ = true;
  recoveries_ = 0;
  lastData_ = SteadyClock::now();
  return 0;
}

int64_t AlsaInput::loseDevice() {
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  running_ = false;
  lost_ = true;
  return -ENODEV;
}

int64_t AlsaInput::read(std::span<uint8_t> into) {
  if (pcm_ == nullptr) return lost_ ? -ENODEV : -EBADF;
  const size_t frameBytes = static_cast<size_t>(format_.frameBytes());
  if (residueRead_ < residue_.size()) {
    size_t bytes = std::min(into.size(), residue_.size() - residueRead_);
    bytes -= bytes % frameBytes;
    std::copy_n(residue_.begin() + static_cast<std::ptrdiff_t>(residueRead_), bytes, into.begin());
    residueRead_ += bytes;
    return static_cast<int64_t>(bytes);
  }
  if (!running_) return 0;
  // Never more than the device's buffer at once.
  const snd_pcm_uframes_t frames = std::min<snd_pcm_uframes_t>(into.size() / frameBytes, bufferFrames_);
  if (frames == 0) return 0;
  const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, into.data(), frames);
  const SteadyClock::time_point now = SteadyClock::now();
  if (n > 0) {
    recoveries_ = 0;
    lastData_ = now;
    return n * static_cast<int64_t>(frameBytes);
  }
  if (n == 0 || n == -EAGAIN) return now - lastData_ > kStallLimit ? loseDevice() : 0;
  if (n == -EPIPE || n == -ESTRPIPE) {
    // Overrun: the device could not keep what was not read in time. That
    // stretch is gone; what was read stays, and capture starts again. A
    // device that overruns again at once, time after time, is gone.
    if (++recoveries_ > kMostRecoveries || snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return loseDevice();
    snd_pcm_start(pcm_);
    lastData_ = now;
    return 0;
  }
  return loseDevice();
}

void AlsaInput::stop() {
  if (pcm_ == nullptr || !running_) return;
  // Keep what was captured and not yet read, at most one buffer (some
  // plugins always say a whole buffer is waiting).
  residue_.clear();
  residueRead_ = 0;
  const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
  if (avail > 0) {
    const snd_pcm_uframes_t frames = std::min<snd_pcm_uframes_t>(avail, bufferFrames_);
    residue_.resize(frames * static_cast<size_t>(format_.frameBytes()));
    const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, residue_.data(), frames);
    residue_.resize(n > 0 ? static_cast<size_t>(n) * format_.frameBytes() : 0);
  }
  snd_pcm_drop(pcm_);
  running_ = false;
}

void AlsaInput::close() {
  lost_ = false;
  if (pcm_ == nullptr) return;
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  running_ = false;
  residue_.clear();
  residueRead_ = 0;
}

std::vector<std::string> alsaOutputDeviceNames() {
  silenceAlsa();
  std::vector<std::string> names;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return names;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* io = snd_device_name_get_hint(*hint, "IOID");
    // No IOID means both directions.
    if (name != nullptr && (io == nullptr || std::string_view(io) == "Output")) names.push_back(fromUtf8(name));
    std::free(name);
    std::free(io);
  }
  snd_device_name_free_hint(hints);
  return names;
}

}  // namespace kalimbro
