// Colours for 24-bit, 256-colour and 16-colour terminals.
#include "platform/terminal_colours.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kalimbro {
namespace {

// Reference colours of the ANSI colours 0-15: the console palette's colour
// for each (ANSI orders red, green, blue where the palette orders blue,
// green, red).
constexpr std::array<Rgb, 16> kAnsiReference = {{
    {0, 0, 0},       {255, 0, 0},     {0, 255, 0},     {68, 34, 34},
    {0, 0, 255},     {142, 0, 142},   {0, 255, 255},   {192, 192, 192},
    {40, 40, 40},    {255, 128, 128}, {128, 255, 128}, {255, 255, 0},
    {128, 128, 255}, {255, 128, 255}, {128, 255, 255}, {255, 255, 255},
}};

// How terminals commonly show the ANSI colours (xterm's defaults): what the
// user sees, and so what readability is judged on.
constexpr std::array<Rgb, 16> kAnsiShown = {{
    {0, 0, 0},       {205, 0, 0},     {0, 205, 0},     {205, 205, 0},
    {0, 0, 238},     {205, 0, 205},   {0, 205, 205},   {229, 229, 229},
    {127, 127, 127}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
    {92, 92, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
}};

constexpr int kBlack = 0, kWhite = 15;
// Normal text needs this contrast to be read with low vision.
constexpr double kReadableContrast = 4.5;

long squaredDistance(Rgb a, Rgb b) {
  const long dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

double luminance(Rgb c) {
  const auto linear = [](uint8_t v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

// Black and white carry no information of their own: they are what gives
// way when a pair is unreadable, so that a coloured part (a highlighted
// entry, a selection) stays told apart.
bool isNeutral(int ansi) { return ansi == kBlack || ansi == kWhite || ansi == 7 || ansi == 8; }

// Of black and white, the one that stands out more against `other`.
int strongerAgainst(int other) {
  return contrastRatio(kAnsiShown[kBlack], kAnsiShown[other]) >= contrastRatio(kAnsiShown[kWhite], kAnsiShown[other])
             ? kBlack
             : kWhite;
}

std::string ansiColour(bool background, int ansi) {
  return std::to_string((background ? 40 : 30) + (ansi >= 8 ? 60 : 0) + ansi % 8);
}

// The nearest of the 6x6x6 cube (16-231) and the grey ramp (232-255).
int nearest256(Rgb c) {
  static constexpr int kLevels[6] = {0, 95, 135, 175, 215, 255};
  const auto level = [](uint8_t v) {
    int best = 0;
    for (int i = 1; i < 6; ++i)
      if (std::abs(kLevels[i] - v) < std::abs(kLevels[best] - v)) best = i;
    return best;
  };
  const int r = level(c.r), g = level(c.g), b = level(c.b);
  const Rgb cube{static_cast<uint8_t>(kLevels[r]), static_cast<uint8_t>(kLevels[g]), static_cast<uint8_t>(kLevels[b])};
  const int grey = std::clamp((c.r + c.g + c.b) / 3 - 8, 0, 239) / 10;  // 0..23
  const uint8_t g8 = static_cast<uint8_t>(8 + 10 * std::min(grey, 23));
  const Rgb ramp{g8, g8, g8};
  return squaredDistance(c, ramp) < squaredDistance(c, cube) ? 232 + std::min(grey, 23) : 16 + 36 * r + 6 * g + b;
}

}  // namespace

ColourDepth colourDepthFromEnvironment() {
  const char* colorterm = std::getenv("COLORTERM");
  if (colorterm != nullptr) {
    const std::string_view v = colorterm;
    if (v == "truecolor" || v == "24bit") return ColourDepth::trueColour;
  }
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::string_view(term).find("256color") != std::string_view::npos)
    return ColourDepth::palette256;
  return ColourDepth::ansi16;
}

int nearestAnsiColour(Rgb colour) {
  int best = 0;
  for (int i = 1; i < 16; ++i)
    if (squaredDistance(colour, kAnsiReference[i]) < squaredDistance(colour, kAnsiReference[best])) best = i;
  return best;
}

double contrastRatio(Rgb a, Rgb b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::string sgrColours(ColourDepth depth, Rgb fg, Rgb bg) {
  switch (depth) {
    case ColourDepth::trueColour:
      return "38;2;" + std::to_string(fg.r) + ';' + std::to_string(fg.g) + ';' + std::to_string(fg.b) + ";48;2;" +
             std::to_string(bg.r) + ';' + std::to_string(bg.g) + ';' + std::to_string(bg.b);
    case ColourDepth::palette256:
      return "38;5;" + std::to_string(nearest256(fg)) + ";48;5;" + std::to_string(nearest256(bg));
    case ColourDepth::ansi16:
      break;
  }
  int f = nearestAnsiColour(fg), b = nearestAnsiColour(bg);
  if (f != b && contrastRatio(kAnsiShown[f], kAnsiShown[b]) < kReadableContrast) {
    if (isNeutral(f)) {
      f = strongerAgainst(b);
    } else {
      b = strongerAgainst(f);
    }
  }
  return ansiColour(false, f) + ';' + ansiColour(true, b);
}

}  // namespace kalimbro
