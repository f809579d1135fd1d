// The main program: start-up, the main option loop with its one-letter
// commands, and the commands that belong to no other unit (undo,
// information, spoken help, the end of the program).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sound/vrwav.h"

namespace kalimbro {

inline constexpr std::string_view kProgramVersion = "3.1";

// Runs the whole program on the command line's file words (args[0] is the
// program's path): start-up, the option loop, the end.
[[noreturn]] void runProgram(std::span<const std::string> args);

void initProgram();
// The option loop; returns when the end of the program is confirmed.
void mainMenu();
// D: back to the working file as last saved.
void undoToSaved();
void showInformation();
bool confirmEnd();
[[noreturn]] void endProgram();
// The playback engine's trouble handler: says on a line of its own that
// the sound device could not be opened or stopped working.
void tellOutputTrouble(OutputTrouble trouble);

}  // namespace kalimbro
