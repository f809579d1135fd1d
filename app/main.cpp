// Entry point: answers the command-line options, then takes over the
// user's terminal, attaches the console to it and runs the program. The
// console ends the process (closeConsole).
#include <cstdio>
#include <string>
#include <vector>

#include "app/commandLine.h"
#include "app/kalimbro.h"
#include "app/soundLinks.h"
#include "console/VrCrt.h"
#include "console/vrini.h"
#include "platform/braille_display.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tty_terminal.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"

namespace {

int print(std::FILE* stream, const std::string& text, int status) {
  std::fputs(text.c_str(), stream);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kalimbro;
  const std::vector<std::string> words(argv, argv + argc);
  CommandLineRequest request = parseCommandLine(words);
  switch (request.kind) {
    case CommandLineRequest::Kind::help: return print(stdout, usageText(), 0);
    case CommandLineRequest::Kind::version: return print(stdout, versionText(), 0);
    case CommandLineRequest::Kind::badOption: return print(stderr, badOptionText(request.option), 2);
    case CommandLineRequest::Kind::tooManyNames: return print(stderr, tooManyNamesText(), 2);
    case CommandLineRequest::Kind::run: break;
  }
  if (!startInNamedFolder(request)) return print(stderr, folderNotEnteredText(request.args[1]), 2);

  auto terminal = TtyTerminal::open(0, 1, crtHandleInput, crtRepaint);
  if (!terminal) return print(stderr, notATerminalText(), 1);
  crtInit(terminal.get());
  const auto brailleDisplay = openBrlttyDisplay(crtHandleBrailleKey);
  crtSetBrailleDisplay(brailleDisplay.get());
  initPlayback(trimmed(iniRead("SOM", "SAIDA")));
  setOutputTroubleHandler(tellOutputTrouble);
  initRecording(trimmed(iniRead("SOM", "ENTRADA")));
  linkConsoleAndSound();
  crtAtClose([] { removeTempDirectory(); });
  crtAtClose([] { endPlayback(); });
  crtAtClose([&terminal] { terminal->restore(); });
  runProgram(request.args);
}
