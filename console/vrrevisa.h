// vrrevisa: the screen review mode. From a field or a list (Alt+Control+F9)
// the user moves a review position over the 80 x 25 screen without changing
// it and hears characters, words, rows, blocks of one colour or the whole
// screen; ESC goes back to where the cursor was.
#pragma once

namespace kalimbro {

// Runs the review mode until ESC.
void reviewScreen();

}  // namespace kalimbro
