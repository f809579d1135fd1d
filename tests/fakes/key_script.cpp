#include "tests/fakes/key_script.h"

#include "console/VrCrt.h"
#include "platform/eventloop.h"

namespace kalimbro {

KeyScript::KeyScript() {
  eventLoop().setIdleHook([this] { return feedOne(); });
}

KeyScript::~KeyScript() { eventLoop().setIdleHook(nullptr); }

KeyScript& KeyScript::event(InputEvent ev) {
  steps_.emplace_back(std::move(ev));
  return *this;
}

KeyScript& KeyScript::key(std::string_view bytes, Modifiers mods) {
  steps_.emplace_back(RawKey{std::string(bytes), mods});
  return *this;
}

KeyScript& KeyScript::type(std::string_view text) {
  for (char c : text) key(std::string_view(&c, 1));
  return *this;
}

bool KeyScript::feedOne() {
  if (steps_.empty()) throw KeyScriptExhausted();
  cursors_.emplace_back(whereX(), whereY());
  auto step = std::move(steps_.front());
  steps_.pop_front();
  ++fed_;
  if (auto* ev = std::get_if<InputEvent>(&step)) {
    crtHandleInput(*ev);
  } else {
    const auto& raw = std::get<RawKey>(step);
    crtQueueKey(raw.bytes, raw.mods);
  }
  return true;
}

}  // namespace kalimbro
