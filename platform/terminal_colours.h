// terminal_colours: how the console's colours reach a terminal. A terminal
// that takes 24-bit colours gets them exactly; a 256-colour one the nearest
// of its cube and grey ramp; a 16-colour one the nearest ANSI colour, with
// every pair kept readable as those colours usually look (a pair that
// would be too faint, such as bright yellow on the ANSI colour that
// terminals show as dark yellow, gets a black or white part instead).
#pragma once

#include <string>

#include "platform/terminal.h"

namespace kalimbro {

enum class ColourDepth { ansi16, palette256, trueColour };

// From COLORTERM ("truecolor", "24bit") and TERM (a name with "256color").
ColourDepth colourDepthFromEnvironment();

// The ANSI colour (0-7 normal, 8-15 bright) nearest to `colour`. The
// reference colours are the console palette's own, so each of the
// program's sixteen colours keeps its place (brown stays brown, dark grey
// stays dark grey) and any other colour takes the nearest.
int nearestAnsiColour(Rgb colour);

// The SGR parameters that set `fg` on `bg` ("38;...;48;...").
std::string sgrColours(ColourDepth depth, Rgb fg, Rgb bg);

// The contrast of two colours as the accessibility guidelines measure it,
// from 1 (the same) to 21 (black and white).
double contrastRatio(Rgb a, Rgb b);

}  // namespace kalimbro
