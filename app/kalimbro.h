// The main program: start-up, the main option loop with its one-letter
// commands, and the commands that belong to no other unit (undo,
// information, spoken help, the end of the program).
#pragma once

#include <cstdint>

namespace kalimbro {

// Runs the whole program: start-up, the option loop, the end.
[[noreturn]] void runProgram(int argc, char** argv);

void initProgram();
// The option loop; returns when the end of the program is confirmed.
void mainMenu();
void listOptions();
// The options as a pop-up list: the chosen letter (lower case) or ESC.
uint8_t chooseOption();
// D: back to the working file as last saved.
void undoToSaved();
void showInformation();
bool confirmEnd();
[[noreturn]] void endProgram();

}  // namespace kalimbro
