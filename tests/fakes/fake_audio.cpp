// The fake audio device.
#include "tests/fakes/fake_audio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/worker_thread.h"

namespace kalimbro {
namespace {

std::string describe(const AudioFormat& f) {
  return std::to_string(f.sampleRate) + "/" + std::to_string(f.bitsPerSample) + "/" + std::to_string(f.channels);
}

class FakeOutput final : public AudioOutput {
 public:
  explicit FakeOutput(FakeAudio& fake) : fake_(fake) {}
  ~FakeOutput() override { close(); }

  int open(const AudioFormat& format, DoneHandler onDone) override {
    std::lock_guard lock(fake_.mutex);
    fake_.opens.push_back(format);
    fake_.events.push_back("open " + describe(format));
    if (fake_.openResult != 0) return fake_.openResult;
    format_ = format;
    done_ = std::make_unique<AudioDoneQueue>(std::move(onDone));
    if (fake_.blockMs > 0) {
      playing_ = true;
      thread_ = startWorkerThread([this] { play(); });
      if (!thread_.joinable()) {
        playing_ = false;
        done_.reset();
        return EAGAIN;
      }
    }
    return 0;
  }

  int queue(int block, std::span<const uint8_t> bytes) override {
    std::lock_guard lock(fake_.mutex);
    if (!done_) return EBADF;
    fake_.blocks.push_back({block, std::vector<uint8_t>(bytes.begin(), bytes.end()), format_});
    fake_.events.push_back("queue " + std::to_string(block));
    fake_.pending().push_back({this, done_.get(), block});
    fake_.mostPending = std::max(fake_.mostPending, static_cast<int>(fake_.pendingCount()));
    if (fake_.autoComplete) fake_.complete();
    return 0;
  }

  void reset() override {
    std::lock_guard lock(fake_.mutex);
    if (!done_) return;
    ++fake_.resets;
    fake_.events.push_back("reset");
    dropPending();
  }

  void close() override {
    if (thread_.joinable()) {
      playing_ = false;
      thread_.join();
    }
    std::lock_guard lock(fake_.mutex);
    if (!done_) return;
    dropPending();
    ++fake_.closes;
    fake_.events.push_back("close");
    done_.reset();
  }

 private:
  // Every block of this device is reported done, as a real reset does.
  void dropPending() {
    auto& pending = fake_.pending();
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->device == this) {
        done_->post(it->number, kBlockDone);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }

  void play() {
    while (playing_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(fake_.blockMs));
      std::lock_guard lock(fake_.mutex);
      auto& pending = fake_.pending();
      auto it = std::find_if(pending.begin(), pending.end(), [this](const auto& p) { return p.device == this; });
      if (it == pending.end()) continue;
      fake_.events.push_back("done " + std::to_string(it->number));
      done_->post(it->number, kBlockDone);
      pending.erase(it);
    }
  }

  FakeAudio& fake_;
  AudioFormat format_;
  std::unique_ptr<AudioDoneQueue> done_;
  std::thread thread_;
  std::atomic<bool> playing_ = false;
};

class FakeInput final : public AudioInput {
 public:
  explicit FakeInput(FakeAudio& fake) : fake_(fake) {}
  ~FakeInput() override { close(); }

  int open(const AudioFormat& format, size_t ringBytes) override {
    fake_.inputOpens.push_back(format);
    fake_.ringBytes = ringBytes;
    if (fake_.inputOpenResult != 0) return fake_.inputOpenResult;
    frameBytes_ = static_cast<size_t>(format.frameBytes());
    open_ = true;
    return 0;
  }
  int start() override {
    ++fake_.starts;
    fake_.inputRunning = true;
    return 0;
  }
  int64_t read(std::span<uint8_t> into) override {
    auto& captured = fake_.captured();
    if (captured.empty() && fake_.inputFailure < 0) return fake_.inputFailure;
    size_t n = std::min(into.size(), captured.size());
    n -= n % frameBytes_;
    std::copy_n(captured.begin(), n, into.begin());
    captured.erase(captured.begin(), captured.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int64_t>(n);
  }
  void stop() override {
    if (!fake_.inputRunning) return;
    ++fake_.stops;
    fake_.inputRunning = false;
  }
  void close() override {
    if (!open_) return;
    ++fake_.inputCloses;
    fake_.inputRunning = false;
    open_ = false;
  }

 private:
  FakeAudio& fake_;
  size_t frameBytes_ = 1;
  bool open_ = false;
};

}  // namespace

FakeAudio::FakeAudio() {
  setAudioOutputFactory([this](std::string_view name) -> std::unique_ptr<AudioOutput> {
    outputNames.emplace_back(name);
    return std::make_unique<FakeOutput>(*this);
  });
  setAudioInputFactory([this](std::string_view name) -> std::unique_ptr<AudioInput> {
    inputNames.emplace_back(name);
    return std::make_unique<FakeInput>(*this);
  });
}

FakeAudio::~FakeAudio() {
  setAudioOutputFactory({});
  setAudioInputFactory({});
}

void FakeAudio::complete(size_t count, int status) {
  std::lock_guard lock(mutex);
  for (size_t i = 0; i < count && !pending_.empty(); ++i) {
    const Pending p = pending_.front();
    pending_.pop_front();
    events.push_back("done " + std::to_string(p.number));
    p.done->post(p.number, status);
  }
}

void FakeAudio::capture(std::span<const uint8_t> bytes) {
  if (!inputRunning) return;
  captured_.insert(captured_.end(), bytes.begin(), bytes.end());
}

}  // namespace kalimbro
