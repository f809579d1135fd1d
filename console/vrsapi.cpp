// The speech engines. speech-dispatcher speaks on its own and tells of the
// start, end and cancelling of every message through callbacks that run on
// the library's listener thread; those only queue the notice and post its
// delivery to the main thread, and the busy state changes when the event
// loop runs it.
#include "console/vrsapi.h"

#include <speech-dispatcher/libspeechd.h>

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

class DispatcherEngine;

// The notices handed from the listener thread to the main thread. There is
// one connection at a time: the callbacks carry no pointer of their own.
struct Notices {
  std::mutex lock;
  std::vector<std::pair<size_t, SPDNotificationType>> pending;
  DispatcherEngine* engine = nullptr;  // main thread only
};

Notices& notices() {
  static Notices n;
  return n;
}

void deliverNotices();

void onNotice(size_t messageId, size_t, SPDNotificationType type) {
  {
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    n.pending.emplace_back(messageId, type);
  }
  eventLoop().post(deliverNotices);
}

class DispatcherEngine final : public SpeechEngine {
 public:
  explicit DispatcherEngine(SPDConnection* connection) : connection_(connection) {
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    n.pending.clear();
    n.engine = this;
  }

  ~DispatcherEngine() override {
    spd_cancel(connection_);
    // Closing joins the listener thread: no callback runs after it, and a
    // delivery still posted finds no engine.
    spd_close(connection_);
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    n.engine = nullptr;
    n.pending.clear();
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
  friend void deliverNotices();

  void take(const std::vector<std::pair<size_t, SPDNotificationType>>& taken) {
    for (const auto& [id, type] : taken) {
      if (type == SPD_EVENT_BEGIN && id == said_) begun_ = true;
      if (type == SPD_EVENT_END || type == SPD_EVENT_CANCEL) finished_ = std::max(finished_, id);
    }
  }

  SPDConnection* connection_;
  size_t said_ = 0;      // id of the last message handed over
  size_t finished_ = 0;  // highest id that ended or was cancelled
  bool begun_ = false;
  int64_t saidAtMs_ = 0;
};

void deliverNotices() {
  std::vector<std::pair<size_t, SPDNotificationType>> taken;
  DispatcherEngine* engine;
  {
    Notices& n = notices();
    const std::lock_guard guard(n.lock);
    taken.swap(n.pending);
    engine = n.engine;
  }
  if (engine != nullptr) engine->take(taken);
}

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

  // The engine owns the connection from here on.
  auto engine = std::make_unique<DispatcherEngine>(connection);
  connection->callback_begin = onNotice;
  connection->callback_end = onNotice;
  connection->callback_cancel = onNotice;
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
