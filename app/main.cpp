// Entry point: takes over the user's terminal, attaches the console to it
// and runs the program. The console ends the process (closeConsole).
#include <cstdio>

#include "app/kalimbro.h"
#include "console/VrCrt.h"
#include "platform/paths.h"
#include "platform/tty_terminal.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"

int main(int argc, char** argv) {
  using namespace kalimbro;
  auto terminal = TtyTerminal::open(0, 1, crtHandleInput, crtRepaint);
  if (!terminal) {
    std::fprintf(stderr, "kalimbro: the standard input must be a terminal\n");
    return 1;
  }
  crtInit(terminal.get());
  initPlayback();
  initRecording();
  crtSetTonePlayer(&playbackTonePlayer());
  crtAtClose([] { removeTempDirectory(); });
  crtAtClose([] { endPlayback(); });
  crtAtClose([&terminal] { terminal->restore(); });
  runProgram(argc, argv);
}
