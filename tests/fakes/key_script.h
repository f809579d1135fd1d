// Scripted typing for tests that read keys. While a KeyScript lives, every
// time the program waits for a message one step of the script is fed to
// the console: an input event (as the terminal would decode it) or the
// bytes of one key queued as they are. A program that waits after the
// script has run out fails the test with KeyScriptExhausted instead of
// hanging.
#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/terminal.h"

namespace kalimbro {

struct KeyScriptExhausted : std::runtime_error {
  KeyScriptExhausted() : std::runtime_error("the program waited for a key after the key script ran out") {}
};

class KeyScript {
 public:
  KeyScript();
  ~KeyScript();
  KeyScript(const KeyScript&) = delete;
  KeyScript& operator=(const KeyScript&) = delete;

  KeyScript& event(InputEvent ev);
  // One key, queued as its bytes ("\0\x3B" is F1).
  KeyScript& key(std::string_view bytes, Modifiers mods = {});
  // Each byte of `text` as a key of its own.
  KeyScript& type(std::string_view text);

  size_t remaining() const { return steps_.size(); }
  // Steps fed so far.
  int fed() const { return fed_; }
  // Where the console cursor stood (column, row) when each step was fed:
  // what the user saw while the program waited for that key.
  const std::vector<std::pair<int, int>>& cursorAtSteps() const { return cursors_; }

 private:
  struct RawKey {
    std::string bytes;
    Modifiers mods;
  };
  bool feedOne();

  std::deque<std::variant<InputEvent, RawKey>> steps_;
  int fed_ = 0;
  std::vector<std::pair<int, int>> cursors_;
};

// Modifier sets for the events of platform/terminal.h.
constexpr Modifiers kShift{.shift = true};
constexpr Modifiers kCtrl{.ctrl = true};
constexpr Modifiers kAlt{.alt = true};
constexpr Modifiers kCtrlAlt{.ctrl = true, .alt = true};

}  // namespace kalimbro
