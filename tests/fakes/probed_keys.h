// Scripted keys with a look at the program before each one. Every time the
// program waits for a message, the next step runs its check (seeing the
// screen and the cursor as they are while the program waits for that key)
// and then queues the key. A wait after the last step fails the test with
// KeyScriptExhausted, as KeyScript does.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "console/VrCrt.h"
#include "platform/eventloop.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {

class ProbedKeys {
 public:
  using Check = std::function<void()>;

  ProbedKeys() {
    eventLoop().setIdleHook([this] {
      if (steps_.empty()) throw KeyScriptExhausted();
      Step step = std::move(steps_.front());
      steps_.pop_front();
      if (step.check) step.check();
      crtQueueKey(step.bytes, step.mods);
      return true;
    });
  }
  ~ProbedKeys() { eventLoop().setIdleHook(nullptr); }
  ProbedKeys(const ProbedKeys&) = delete;
  ProbedKeys& operator=(const ProbedKeys&) = delete;

  // One key as its bytes.
  ProbedKeys& key(std::string_view bytes, Modifiers mods = {}, Check check = {}) {
    steps_.push_back({std::string(bytes), mods, std::move(check)});
    return *this;
  }
  ProbedKeys& key(char c, Modifiers mods = {}, Check check = {}) { return key(std::string(1, c), mods, std::move(check)); }
  // An extended key: 0 and its code.
  ProbedKeys& ext(uint8_t code, Modifiers mods = {}, Check check = {}) {
    return key(std::string{'\0', static_cast<char>(code)}, mods, std::move(check));
  }
  // Each byte of `text` as a key of its own.
  ProbedKeys& type(std::string_view text) {
    for (char c : text) key(c);
    return *this;
  }
  size_t remaining() const { return steps_.size(); }

 private:
  struct Step {
    std::string bytes;
    Modifiers mods;
    Check check;
  };
  std::deque<Step> steps_;
};

}  // namespace kalimbro
