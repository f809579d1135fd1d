// BrailleDisplay: the braille display seam. The console shows the cursor's
// row on it and queues the keys pressed on it. The real backend reaches a
// BRLTTY server through BrlAPI; where none answers there is no display and
// the program runs as it would without one, saying nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace kalimbro {

// A key pressed on the display, as the console queues it: a character
// (Windows-1252), an extended key (0 and its code), or a braille cell
// typed on the display's keys (dots 1-8 as bits 0-7, the space bar as
// kSpaceBar) that the console reads through its braille table.
struct BrailleKey {
  enum class Kind : uint8_t { Character, Extended, Dots };
  static constexpr uint16_t kSpaceBar = 0x100;
  Kind kind = Kind::Character;
  uint16_t value = 0;
  bool operator==(const BrailleKey&) const = default;
};
using BrailleKeySink = std::function<void(const BrailleKey&)>;

class BrailleDisplay {
 public:
  virtual ~BrailleDisplay() = default;
  // Cells of the display's line.
  virtual int width() const = 0;
  // Shows `cp1252` (cut to width(), padded with blanks) with the cursor on
  // cell `cursor` (0-based; negative: no cursor).
  virtual void show(std::string_view cp1252, int cursor) = 0;
};

// The display of the BRLTTY server that BRLAPI_HOST names (else the local
// one), with its keys handed to `sink` from the event loop; nullptr when no
// server answers or it has no display.
std::unique_ptr<BrailleDisplay> openBrlttyDisplay(BrailleKeySink sink);

}  // namespace kalimbro
