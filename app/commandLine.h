// commandLine: the options of the program's command line, read before the
// terminal is taken over: --help and -h, --version, "--" to end the options,
// and the words that name the sound file. The entry point uses it; the rest
// of the program sees only the file words.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

struct CommandLineRequest {
  enum class Kind { run, help, version, badOption, tooManyNames };
  Kind kind = Kind::run;
  // For `run`: the program path followed by the words that name the file,
  // without the options and without "--".
  std::vector<std::string> args;
  // For `badOption`: the option as typed.
  std::string option;
};

// Options come before the file name; "--" ends them, so a name that
// begins with "-" can still be given. A lone "-" is a name. More than one
// name is refused: a shell's "*.wav" or a name with blanks left unquoted
// would otherwise become one strange name to record into.
CommandLineRequest parseCommandLine(std::span<const std::string> argv);

// A name that is a folder: the program starts in that folder and asks for
// the file there, instead of recording into a file named after the folder.
// False when the folder cannot be entered.
bool startInNamedFolder(CommandLineRequest& request);

// What the program prints (UTF-8): the usage for --help, the name and
// version for --version, and the one line for an unknown option.
std::string usageText();
std::string versionText();
std::string badOptionText(std::string_view option);
std::string tooManyNamesText();
std::string folderNotEnteredText(std::string_view folder);
// The message when standard input is not a terminal.
std::string notATerminalText();

}  // namespace kalimbro
