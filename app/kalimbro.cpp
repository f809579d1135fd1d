// The main program and its option loop.
#include "app/kalimbro.h"

#include <array>
#include <iterator>
#include <string>
#include <string_view>

#include "app/klArquivo.h"
#include "app/klMsg.h"
#include "app/klconfig.h"
#include "app/mp3Twin.h"
#include "app/openSave.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrini.h"
#include "edit/klEfeito.h"
#include "edit/klHistorico.h"
#include "edit/klMistura.h"
#include "edit/kldivide.h"
#include "edit/klremove.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sound/klGrava.h"
#include "sound/klToca.h"

namespace kalimbro {
namespace {

std::string iniReadOr(std::string_view key, std::string_view fallback) {
  std::string value = iniRead("KALIMBRO", key);
  return value.empty() ? std::string(fallback) : value;
}

void saveAsCommand() { saveAs(program().workingFileName); }

// F3: saves if wanted, then forgets the working file's name; the sound
// stays in memory, and the next save asks for a name.
void forgetWorkingFile() {
  const uint8_t answer = askKey("KLQUERSV", "KLAJSIMN");
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

// One row per command of the loop: a letter, a Control key or an extended
// key, and what it runs. The lettered commands make the pop-up option list
// in this order, each under its catalogue text; F1's help reads the lines
// of the rows that have one, but for X. A command that may change the
// sound runs as one step of its history, under the step's name.
struct MenuCommand {
  uint8_t letter;    // upper case, or a Control key's byte; 0 for an extended key
  uint8_t extended;  // the key's code after the 0
  void (*run)();
  std::string_view text;
  bool inSpokenHelp;
  std::string_view step;  // empty: no step (the command changes no sound, or brings in another)
};

constexpr MenuCommand letterCommand(char letter, void (*run)(), std::string_view text, std::string_view step = {},
                                    bool inSpokenHelp = true) {
  return {static_cast<uint8_t>(letter), 0, run, text, inSpokenHelp, step};
}
constexpr MenuCommand controlCommand(uint8_t key, void (*run)(), std::string_view text) {
  return {key, 0, run, text, true, {}};
}
constexpr MenuCommand extendedCommand(uint8_t code, void (*run)()) { return {0, code, run, {}, false, {}}; }

constexpr bool isLetter(uint8_t key) { return key >= 'A' && key <= 'Z'; }

constexpr MenuCommand kCommands[] = {
    letterCommand('T', playCommand, "KLTOCA", "KLPMUDAN"),
    letterCommand('G', recordMoreCommand, "KLGRAVA", "KLPGRAVA"),
    letterCommand('N', newSoundCommand, "KLNOVO"),
    letterCommand('R', removeCommand, "KLREMOVE", "KLPREMOV"),
    letterCommand('M', mixCommand, "KLMIXA", "KLPMIXA"),
    letterCommand('E', effectsCommand, "KLEFEIT", "KLPEFEIT"),
    letterCommand('D', undoToSaved, "KLDESFAZ", "KLPVOLTA"),
    letterCommand('S', saveAsCommand, "KLSALVA"),
    letterCommand('X', divideCommand, "KLEXTRAI", "KLPMUDAN", false),
    letterCommand('C', configure, "KLCONFIG"),
    letterCommand('I', showInformation, "KLINFO"),
    controlCommand(kCtrlZ, undoCommand, "KLOPDESF"),
    controlCommand(kCtrlY, redoCommand, "KLOPREFA"),
    extendedCommand(kDelete, clearScreen),
    extendedCommand(kF2, [] { saveWorkingFile(); }),
    extendedCommand(kF3, forgetWorkingFile),
};

// Each key runs one command; F1, Up, Down and ESC stay the menu's own. The
// loop looks letters up in upper case.
constexpr bool eachKeyOnce() {
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    const MenuCommand& a = kCommands[i];
    if (a.letter != 0 && !isLetter(a.letter) && (a.letter >= 32 || a.letter == kEsc || a.letter == kEnter))
      return false;
    if (a.letter == 0 && (a.extended == kF1 || a.extended == kUp || a.extended == kDown)) return false;
    for (size_t j = i + 1; j < std::size(kCommands); ++j)
      if (a.letter == kCommands[j].letter && a.extended == kCommands[j].extended) return false;
  }
  return true;
}
static_assert(eachKeyOnce());

// The menu's options: the commands with a letter or a Control key.
constexpr size_t kOptionCount = [] {
  size_t n = 0;
  for (const MenuCommand& c : kCommands) n += c.letter != 0;
  return n;
}();

constexpr auto kOptions = [] {
  std::array<MenuOption, kOptionCount> options{};
  size_t n = 0;
  for (const MenuCommand& c : kCommands)
    if (c.letter != 0) options[n++] = {c.letter, c.text, isLetter(c.letter), c.inSpokenHelp};
  return options;
}();

constexpr Menu kMainMenu{
    .questionKey = "KLOPMG",
    .options = kOptions,
    .listWidth = 18,
    .menuSound = true,
};

// The command of an upper-case letter, or (letter 0) of an extended key.
const MenuCommand* commandFor(uint8_t letter, uint8_t extended) {
  for (const MenuCommand& c : kCommands)
    if (c.letter == letter && c.extended == extended) return &c;
  return nullptr;
}

void run(const MenuCommand& command) {
  if (command.step.empty()) return command.run();
  const HistoryStepScope step(command.step);
  command.run();
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
    const MenuKey chosen = askMenu(kMainMenu);
    if (chosen.key == kEsc) {
      if (confirmEnd()) return;
      continue;
    }
    // Extended keys without a command do nothing.
    if (const MenuCommand* command = commandFor(chosen.key, chosen.extended)) run(*command);
  }
}

void undoToSaved() {
  ProgramState& p = program();
  const uint8_t answer = askKey("KLCNFUND", "KLAJSIMN");
  if (answer == kEsc) sayMessage("KLDESIST", 1);
  if (upperAscii(answer) != 'S') return;
  if (p.workingFileName.empty()) {
    sayMessage("KLERRO_N", 1);
    return;
  }
  // A reload that fails keeps the sound in memory; the user has heard why.
  if (!readSoundFile(p.workingFileName, *p.soundBuffer)) return;
  // The sound is the file again: F2 leaves the file as it is.
  noteWorkingSoundSaved();
  sayMessage("KLUNDO", 1);
}

void showInformation() {
  const ProgramState& p = program();
  sayMessage("KLARQTRB", 0);
  // A decoded MP3 is edited as "NAME.MP3.wav": the user knows it by the MP3 name.
  const std::string& name = p.workingFileName;
  writelnSpeak(isMp3Twin(name) ? mp3OfTwin(name) : name);
  sayMessage("KLIDURAC", 0);
  writelnSpeak(formatPosition(p.soundBuffer->count(), p.soundBuffer->sampleRate()));
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
  const uint8_t answer = readAnswer("KLCONFIM", "KLAJFIM", AnswerEcho::spoken);
  crtWriteln();
  if (upperAscii(answer) != 'S') return false;
  if (!p.workingFileName.empty() || p.soundBuffer->count() != 0) {
    const uint8_t save = askKey("KLQUERSV", "KLAJSIMN");
    if (save == kEsc) return false;
    if (upperAscii(save) != 'N') {
      // A sound the user wanted saved and that was not is not thrown away:
      // the program goes on.
      if (saveWorkingFile() != SaveResult::saved) return false;
    }
  }
  // A decoded MP3 copy holding nothing of the user's does not outlive the
  // session.
  dropUneditedTwin(p.workingFileName);
  // What was left unsaved was left on purpose: nothing to recover.
  stopWorkingSoundHistory(true);
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
  removeIniLeftovers();
  setCommandLine(args);
  initProgram();
  if (tempDirectory().empty()) sayMessage("KLSEMPTM", 2);
  ProgramState& p = program();
  chooseWorkingFile(true);
  if (!p.workingFileName.empty()) {
    removeLeftoversBeside(p.workingFileName);
    recordOrLoadWorkingSound();
  }
  // Left takes may bring in the sound they belong to.
  offerInterruptedTakes(true);
  p.tempSoundFile = scratchSoundFileFor(p.workingFileName);
  crtWriteln();
  mainMenu();
  endProgram();
}

}  // namespace kalimbro
