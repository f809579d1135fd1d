// The main program and its option loop.
#include "app/kalimbro.h"

#include <array>
#include <string>
#include <string_view>

#include "app/klArquivo.h"
#include "app/klMsg.h"
#include "app/klconfig.h"
#include "app/mp3Twin.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "console/vrini.h"
#include "edit/klEfeito.h"
#include "edit/klMistura.h"
#include "edit/kldivide.h"
#include "edit/klremove.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sound/klGrava.h"
#include "sound/klToca.h"

namespace kalimbro {
namespace {

constexpr uint8_t kEsc = 27;

// Extended key codes the loop answers.
constexpr uint8_t kF1 = 59, kF2 = 60, kF3 = 61, kUp = 72, kDown = 80, kDel = 83;

std::string iniReadOr(std::string_view key, std::string_view fallback) {
  std::string value = iniRead("KALIMBRO", key);
  return value.empty() ? std::string(fallback) : value;
}

void saveAsCommand() { saveAs(program().workingFileName); }

// The one-letter commands of the loop, by upper-case letter.
struct Command {
  char letter;
  void (*run)();
};
constexpr std::array kCommands = {
    Command{'T', playCommand},   Command{'G', recordMoreCommand}, Command{'N', newSoundCommand},
    Command{'R', removeCommand}, Command{'M', mixCommand},        Command{'E', effectsCommand},
    Command{'D', undoToSaved},   Command{'S', saveAsCommand},     Command{'X', divideCommand},
    Command{'C', configure},
    Command{'I', showInformation},
};

bool runCommand(uint8_t key) {
  const uint8_t letter = upperAscii(key);
  for (const Command& c : kCommands) {
    if (c.letter == letter) {
      c.run();
      return true;
    }
  }
  return false;
}

// F3: saves if wanted, then forgets the working file's name; the sound
// stays in memory, and the next save asks for a name.
void forgetWorkingFile() {
  const uint8_t answer = askKey("KLQUERSV");
  if (answer == kEsc) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (upperAscii(answer) != 'N') saveWorkingFile();
  dropUneditedTwin(program().workingFileName);
  program().workingFileName.clear();
  loadWorkingSound();
  sayMessage("KLOK", 1);
}

}  // namespace

void initProgram() {
  ProgramState& p = program();
  clearScreen();
  setWindowTitle("GRAVADOR DE SOM");
  p.messageSoundDir = iniReadOr("DIRKALIMBRO", programDirectory() + "/../share/varelu/som/kalimbro");
  p.soxProgram = iniReadOr("DIRSOX", "sox");
  initSpeech(0, p.messageSoundDir);
  sayMessage("KLINIC", 0);
  crtWrite(" - v.");
  writeSpeak(kProgramVersion);
  crtWriteln();
  crtWriteln();
  if (crtTerminalSmallerThanGrid()) sayMessage("KLTELPEQ", 1);
  waitSpeechEnd();

  p.workingFileName.clear();
  p.soundBuffer = std::make_unique<TAmostras>();
  p.currentPosition = 0;
  p.markedPosition = 0;
  setDefaultConfig(p.settings);
  readConfig(p.settings);
  p.soundBuffer->setMemoryLimit(memoryLimitFromSettings());
}

void mainMenu() {
  for (;;) {
    flushKeyboard();
    textBackground(1);
    sayMessage("KLOPMG", 0);
    textBackground(0);
    uint8_t key, ext;
    readKeyEchoed(key, ext);
    crtWriteln();

    if (key == 0) {
      if (ext == kUp || ext == kDown) {
        key = chooseOption();
      } else {
        if (ext == kDel) clearScreen();
        else if (ext == kF1) listOptions();
        else if (ext == kF2) saveWorkingFile();
        else if (ext == kF3) forgetWorkingFile();
        continue;
      }
    }
    if (key == kEsc) {
      if (confirmEnd()) return;
      continue;
    }
    if (!runCommand(key)) sayMessage("KLOPINV", 2);
  }
}

void listOptions() {
  static constexpr std::array<std::string_view, 10> kHelpLines = {
      "KLTOCA", "KLGRAVA", "KLNOVO", "KLREMOVE", "KLMIXA",
      "KLEFEIT", "KLDESFAZ", "KLSALVA", "KLCONFIG", "KLINFO"};
  speakSound("KLMENU");
  textBackground(4);
  sayMessage("KLASOPC", 1);
  textBackground(0);
  crtWriteln();
  for (std::string_view key : kHelpLines) sayMessage(key, 1);
}

uint8_t chooseOption() {
  static constexpr std::string_view kOptionLetters = "tgnrmedsxci";
  static constexpr std::array<std::string_view, kOptionLetters.size()> kOptionKeys = {
      "KLTOCA", "KLGRAVA", "KLNOVO",  "KLREMOVE", "KLMIXA", "KLEFEIT",
      "KLDESFAZ", "KLSALVA", "KLEXTRAI", "KLCONFIG", "KLINFO"};
  constexpr int kListWidth = 18, kListColour = 5;
  const int rows = static_cast<int>(kOptionLetters.size());
  speakSound("KLMENU");
  reserveLines(rows);
  menuOpen(whereX(), whereY(), kListWidth, kListColour, rows);
  for (std::string_view key : kOptionKeys) menuAddItem(key, messageText(key));
  const int chosen = menuRun();
  if (chosen < 1 || chosen > rows) return kEsc;
  return static_cast<uint8_t>(kOptionLetters[chosen - 1]);
}

void undoToSaved() {
  ProgramState& p = program();
  if (upperAscii(askKey("KLCNFUND")) != 'S') return;
  if (p.workingFileName.empty()) {
    sayMessage("KLERRO_N", 1);
    return;
  }
  // A reload that fails keeps the sound in memory.
  if (!p.soundBuffer->loadWav(p.workingFileName)) {
    sayMessage(p.soundBuffer->outOfMemory() ? "KLFALMEM" : "KLARQERR", 1);
    return;
  }
  sayMessage("KLUNDO", 1);
}

void showInformation() {
  const ProgramState& p = program();
  sayMessage("KLARQTRB", 0);
  std::string name = p.workingFileName;
  // A decoded MP3 is edited as "NAME.MP3.wav": the user knows it by the MP3 name.
  if (name.size() >= 8 && upperCaseAccented(name.substr(name.size() - 8)) == ".MP3.WAV")
    name.resize(name.size() - 4);
  writelnSpeak(name);
  sayMessage("KLIVEL", 0);
  writeSpeakInt(p.soundBuffer->sampleRate());
  crtWriteln();
  sayMessage("KLIQUALI", 0);
  sayMessage(p.soundBuffer->bitsPerSample() == 8 ? "KLI8BIT" : "KLI16BIT", 1);
  sayMessage(p.soundBuffer->channels() == 1 ? "KLIMONO" : "KLISTERE", 1);
  waitSpeechEnd();
  crtWriteln();
}

bool confirmEnd() {
  ProgramState& p = program();
  sayMessage("KLCONFIM", 0);
  const uint8_t answer = readAnswerSpoken();
  crtWriteln();
  if (upperAscii(answer) != 'S') return false;
  if (!p.workingFileName.empty() || p.soundBuffer->count() != 0) {
    const uint8_t save = askKey("KLQUERSV");
    if (save == kEsc) return false;
    if (upperAscii(save) != 'N') {
      // A sound the user wanted saved and that was not is not thrown away:
      // the program goes on.
      if (saveAndConvertBack() != SaveResult::saved) return false;
    }
  }
  // A decoded MP3 copy holding nothing of the user's does not outlive the
  // session.
  dropUneditedTwin(p.workingFileName);
  p.soundBuffer.reset();
  if (!p.tempSoundFile.empty()) removeFile(p.tempSoundFile);
  return true;
}

void tellOutputTrouble(OutputTrouble trouble) {
  // Whatever was being written, the message stands on its own line, where
  // a braille display or a sighted helper finds it.
  if (whereX() > 1) crtWriteln();
  sayMessage(trouble == OutputTrouble::cannotOpen ? "KLSOMNAO" : "KLSOMPAR", 1);
}

void endProgram() {
  sayMessage("KLFIM", 1);
  endSpeech();
  closeConsole();
}

void runProgram(std::span<const std::string> args) {
  // What killed runs left goes before this run makes its own.
  removeLeftoverTempDirectories();
  setCommandLine(args);
  initProgram();
  if (tempDirectory().empty()) sayMessage("KLSEMPTM", 2);
  ProgramState& p = program();
  chooseWorkingFile(true);
  if (!p.workingFileName.empty()) {
    removeLeftoversBeside(p.workingFileName);
    recordOrLoadWorkingSound();
  }
  p.tempSoundFile = scratchSoundFileFor(p.workingFileName);
  offerInterruptedTakes();
  crtWriteln();
  mainMenu();
  endProgram();
}

}  // namespace kalimbro
