// The speech engines. speech-dispatcher speaks on its own and tells of the
// start, end and cancelling of every message through callbacks that run on
// the library's listener thread; those only queue the notice and wake the
// main thread through an eventfd, and the busy state changes when the event
// loop hands the notices over.
#include "console/vrsapi.h"

#include <speech-dispatcher/libspeechd.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "console/vrfalasom.h"
#include "platform/codec.h"
#include "platform/eventloop.h"

namespace kalimbro {
namespace {

// A message that has not begun after this long is taken as lost, so that
// a service that went away never holds the program up.
constexpr int64_t kBeginTimeoutMs = 10000;
// Settings run -10..10; the service's scale runs -100..100.
constexpr int kSettingScale = 10;
constexpr const char* kLanguage = "pt-BR";

// The notices handed from the listener thread to the main thread. There is
// one connection at a time: the callbacks carry no pointer of their own.
struct Notices {
  std::mutex lock;
  std::vector<std::pair<size_t, SPDNotificationType>> pending;
  int fd = -1;
};

Notices& notices() {
  static Notices n;
  return n;
}

void onNotice(size_t messageId, size_t, SPDNotificationType type) {
  Notices& n = notices();
  const std::lock_guard guard(n.lock);
  n.pending.emplace_back(messageId, type);
  if (n.fd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(n.fd, &one, sizeof one);
  }
}

class DispatcherEngine final : public SpeechEngine {
 public:
  DispatcherEngine(SPDConnection* connection, int fd) : connection_(connection), fd_(fd) {
    watchId_ = eventLoop().watch(fd_, [this] { takeNotices(); });
  }

  ~DispatcherEngine() override {
    spd_cancel(connection_);
    // Closing joins the listener thread: no callback runs after it.
    spd_close(connection_);
    eventLoop().unwatch(watchId_);
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    n.fd = -1;
    n.pending.clear();
    ::close(fd_);
  }

  DispatcherEngine(const DispatcherEngine&) = delete;
  DispatcherEngine& operator=(const DispatcherEngine&) = delete;

  void speak(std::string_view text) override {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
    const std::string utf8 = toUtf8(text);
    const int id = spd_say(connection_, SPD_TEXT, utf8.c_str());
    if (id <= 0) return;
    said_ = static_cast<size_t>(id);
    begun_ = false;
    saidAtMs_ = eventLoop().clock().nowMs();
  }

  bool busy() override {
    eventLoop().processPending();
    if (said_ == 0 || finished_ >= said_) return false;
    if (!begun_ && eventLoop().clock().nowMs() - saidAtMs_ > kBeginTimeoutMs) {
      finished_ = said_;
      return false;
    }
    return true;
  }

  void stop() override {
    spd_cancel(connection_);
    finished_ = said_;
  }

 private:
  void takeNotices() {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    std::vector<std::pair<size_t, SPDNotificationType>> taken;
    {
      Notices& box = notices();
      const std::lock_guard guard(box.lock);
      taken.swap(box.pending);
    }
    for (const auto& [id, type] : taken) {
      if (type == SPD_EVENT_BEGIN && id == said_) begun_ = true;
      if (type == SPD_EVENT_END || type == SPD_EVENT_CANCEL) finished_ = std::max(finished_, id);
    }
  }

  SPDConnection* connection_;
  int fd_;
  int watchId_ = 0;
  size_t said_ = 0;      // id of the last message handed over
  size_t finished_ = 0;  // highest id that ended or was cancelled
  bool begun_ = false;
  int64_t saidAtMs_ = 0;
};

void chooseVoice(SPDConnection* connection, int number) {
  if (number <= 0) return;
  SPDVoice** voices = spd_list_synthesis_voices(connection);
  if (!voices) return;
  int count = 0;
  while (voices[count]) ++count;
  if (number <= count) spd_set_synthesis_voice(connection, voices[number - 1]->name);
  free_spd_voices(voices);
}

std::unique_ptr<SpeechEngine> startDispatcher(const SpeechEngineSettings& settings) {
  char* error = nullptr;
  SPDConnection* connection =
      spd_open2("kalimbro", "main", nullptr, SPD_MODE_THREADED, nullptr, 1, &error);
  std::free(error);
  if (!connection) return nullptr;

  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    spd_close(connection);
    return nullptr;
  }
  {
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    n.pending.clear();
    n.fd = fd;
  }
  connection->callback_begin = onNotice;
  connection->callback_end = onNotice;
  connection->callback_cancel = onNotice;
  // The engine owns the connection and the descriptor from here on.
  auto engine = std::make_unique<DispatcherEngine>(connection, fd);
  if (spd_set_notification_on(connection, SPD_BEGIN) != 0 ||
      spd_set_notification_on(connection, SPD_END) != 0 ||
      spd_set_notification_on(connection, SPD_CANCEL) != 0) {
    return nullptr;
  }
  spd_set_language(connection, kLanguage);
  chooseVoice(connection, settings.voice);
  if (settings.rate) spd_set_voice_rate(connection, std::clamp(*settings.rate * kSettingScale, -100, 100));
  if (settings.pitch) spd_set_voice_pitch(connection, std::clamp(*settings.pitch * kSettingScale, -100, 100));
  return engine;
}

// espeak-ng as the engine: the whole text is synthesized by the family's
// word synthesizer and played like any other sound.
class EspeakEngine final : public SpeechEngine {
 public:
  explicit EspeakEngine(SpeechPlayer& player) : player_(player) {}
  void speak(std::string_view text) override { player_.playWords(text); }
  bool busy() override {
    eventLoop().processPending();
    return player_.isPlaying();
  }
  void stop() override { player_.stop(); }

 private:
  SpeechPlayer& player_;
};

}  // namespace

std::unique_ptr<SpeechEngine> startSpeechEngine(const SpeechEngineSettings& settings,
                                                SpeechPlayer& player) {
  if (settings.type == kEspeakEngineType) return std::make_unique<EspeakEngine>(player);
  return startDispatcher(settings);
}

}  // namespace kalimbro
