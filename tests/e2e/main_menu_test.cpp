// kalimbro's start-up and main option loop, driven as a user drives them:
// the title, the file selector given up with ESC, the prompt, an invalid
// option, the spoken help (F1) and the end of the program with ESC.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <filesystem>

#include "tests/e2e/harness.h"

namespace kalimbro::e2e {
namespace {

constexpr std::string_view kTitle = "Gravador de Som Varelu - v.3.1";
constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kInvalid = "Opção inválida, F1 ajuda";
constexpr std::string_view kConfirmEnd = "Confirma o fim do programa? ";
constexpr std::string_view kSaveQuestion = "Quer salvar o arquivo? ";
constexpr std::string_view kAskFile = "Informe o nome do arquivo";
// Speech plays at its real rate even on the silent device, and every
// line of a list is spoken before the next is written.
constexpr milliseconds kLongSpeech{60000};

class MainMenu : public testing::Test {
 protected:
  // Started without a file, the program asks for one with the file
  // selector; ESC there gives up and leads to the prompt with no file.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start(Options{}));
    ASSERT_TRUE(s->waitForText(kAskFile));
    ASSERT_TRUE(s->sendKey(Key::Esc));
  }

  void start(const Options& options) {
    std::string error;
    s = Session::start(options, &error);
    ASSERT_NE(s, nullptr) << error;
  }

  testing::AssertionResult waitForPrompt(std::string_view below = {}, milliseconds timeout = kDefaultTimeout) {
    return s->waitForPrompt(kPrompt, below, timeout);
  }

  // The end of the program leaves the user's terminal as it found it and
  // removes the program's temporary directory; `signal` is the one that
  // ended it, if any.
  void expectCleanEnd(int signal = 0) {
    auto status = s->waitForExit(milliseconds(20000));
    ASSERT_TRUE(status.has_value()) << "still running\n" << s->dump();
    if (signal == 0) {
      EXPECT_TRUE(status->exitedWith(0)) << *status << "\n" << s->dump();
    } else {
      EXPECT_EQ(status->signal, signal) << *status;
    }
    EXPECT_FALSE(s->altScreenActive()) << "the alternate screen is still on";
    EXPECT_TRUE(s->cursorVisible()) << "the cursor was left hidden";
    EXPECT_FALSE(s->mouseReporting()) << "mouse reporting was left on";
    EXPECT_TRUE(std::filesystem::is_empty(s->tempDir())) << "temporary files were left behind";
  }

  std::unique_ptr<Session> s;
};

TEST_F(MainMenu, StartUpShowsTheTitleAndWaitsAtThePrompt) {
  ASSERT_TRUE(s->waitForTextAt(0, kTitle));
  ASSERT_TRUE(waitForPrompt(kAskFile));
  EXPECT_TRUE(s->altScreenActive());
  // No file was chosen: the window keeps the program's title.
  EXPECT_EQ(s->title(), "GRAVADOR DE SOM");
  EXPECT_FALSE(s->find("Nenhum arquivo foi selecionado").has_value()) << s->dump();
}

TEST_F(MainMenu, ALetterThatNamesNoCommandIsAnInvalidOption) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->type("z"));
  ASSERT_TRUE(s->waitForText(kInvalid));
  EXPECT_TRUE(s->find(std::string(kPrompt) + "z").has_value()) << "the key is echoed after the prompt\n"
                                                               << s->dump();
  ASSERT_TRUE(waitForPrompt(kInvalid));

  // Accented letters are no command letters either.
  ASSERT_TRUE(s->type("ç"));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll(kInvalid).size() == 2; }, "a second invalid option"));
  EXPECT_TRUE(s->isRunning());
}

TEST_F(MainMenu, F1ListsTheTenOptionsInOrderWithoutExtract) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(s->waitForText("I - Informações", kLongSpeech));

  const std::optional<Pos> heading = s->find("As opções são :");
  ASSERT_TRUE(heading.has_value()) << s->dump();
  const std::vector<std::string_view> options = {
      "T - Toca",   "G - Grava mais", "N - Novo som",  "R - Remove",    "M - Mistura",
      "E - Efeito", "D - Desfaz",     "S - Salva",     "C - Configura", "I - Informações",
  };
  // A blank line under the heading, then one option a line.
  for (size_t i = 0; i < options.size(); ++i) {
    EXPECT_EQ(s->find(options[i]), (Pos{heading->row + 2 + static_cast<int>(i), 0})) << options[i] << "\n"
                                                                                      << s->dump();
  }
  EXPECT_FALSE(s->find("X - Extrai").has_value()) << s->dump();
  EXPECT_TRUE(waitForPrompt("I - Informações", kLongSpeech));
}

TEST_F(MainMenu, EscThenSEndsTheProgramAndRestoresTheTerminal) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForText(kConfirmEnd));
  ASSERT_TRUE(s->type("s"));
  // No working file and no sound: the program ends without asking to save
  // (a question would keep it waiting for an answer).
  expectCleanEnd();
}

TEST_F(MainMenu, AHangUpRestoresTheTerminalAndLeavesNoTemporaryFiles) {
  ASSERT_TRUE(waitForPrompt());
  // The effects command keeps a scratch copy of the sound in the temporary
  // directory.
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(s->waitForText("Qual efeito? "));
  // Beside the mark the program keeps in its directory for its whole run.
  ASSERT_TRUE(s->waitUntil(
      [&] {
        for (const auto& e : std::filesystem::recursive_directory_iterator(s->tempDir()))
          if (e.is_regular_file() && e.path().filename() != ".kalimbro-em-uso") return true;
        return false;
      },
      "the scratch copy"));
  ASSERT_EQ(kill(s->pid(), SIGHUP), 0);
  expectCleanEnd(SIGHUP);
}

// Run from a script or another program: the answers need no terminal, and
// an option the program does not know creates nothing.
TEST(CommandLineE2e, HelpVersionAndUnknownOptionsNeedNoTerminal) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kalimbro-cli-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  struct Answer {
    std::string output;
    int status;
  };
  const auto run = [&dir](const std::string& words) {
    const std::string command = "cd '" + dir.string() + "' && '" KALIMBRO_BINARY "' " + words + " </dev/null 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Answer answer{"", -1};
    if (pipe == nullptr) return answer;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) answer.output.append(buffer, n);
    const int raw = pclose(pipe);
    answer.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return answer;
  };
  const Answer help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Uso: kalimbro"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("man kalimbro"), std::string::npos) << help.output;
  for (const char* kind : {"FLAC", "Opus", "Vorbis", "AIFF", "M4A", "MP3"})
    EXPECT_NE(help.output.find(kind), std::string::npos) << kind << " not named in\n" << help.output;
  EXPECT_EQ(run("-h").output, help.output);
  const Answer version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "kalimbro 3.1\n");
  const Answer typo = run("--hlep");
  EXPECT_EQ(typo.status, 2);
  EXPECT_NE(typo.output.find("opção desconhecida: --hlep"), std::string::npos) << typo.output;
  const Answer twoNames = run("a.wav b.wav");
  EXPECT_EQ(twoNames.status, 2);
  EXPECT_NE(twoNames.output.find("argumentos demais"), std::string::npos) << twoNames.output;

  const Answer noTerminal = run("voz.wav");
  EXPECT_EQ(noTerminal.status, 1);
  EXPECT_NE(noTerminal.output.find("precisa ser um terminal"), std::string::npos) << noTerminal.output;
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "an answer created a file";
  std::filesystem::remove_all(dir);
}

// A folder is where the file is asked for, never a name to record into.
TEST(CommandLineE2e, AFolderOpensTheSelectorThere) {
  std::string error;
  Options options;
  options.args = {"sons"};
  options.files = {{"sons/voz.wav", wavBytes(22050, 16, 1, std::vector<int16_t>(100, 5))}};
  auto s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForText(kAskFile));
  EXPECT_FALSE(s->find("Qualidade").has_value()) << s->dump();
  ASSERT_TRUE(s->sendKeys({"voz.wav", Key::Enter}));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som"));
  EXPECT_FALSE(s->find("incompatível").has_value()) << s->dump();
  EXPECT_FALSE(std::filesystem::exists(s->workDir() / "sons.wav"));
}

TEST(CommandLineE2e, AfterTwoDashesANameMayBeginWithADash) {
  std::string error;
  Options options;
  options.args = {"--", "-voz.wav"};
  options.files = {{"-voz.wav", wavBytes(22050, 16, 1, std::vector<int16_t>(100, 5))}};
  auto s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som"));
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(s->waitForText("Arquivo de trabalho: -voz.wav"));
  EXPECT_FALSE(s->find("incompatível").has_value()) << s->dump();
}

// A terminal smaller than 80 x 25 is told once and follows the cursor: what
// was just said stays in view however far down the program writes.
TEST(SmallTerminalE2e, ShowsTheCursorsRowAndTheNewestLines) {
  Options options;
  options.rows = 20;
  options.cols = 70;
  std::string error;
  auto s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForText("Terminal menor que 80 por 25: a tela acompanha o cursor"));
  ASSERT_TRUE(s->waitForText(kAskFile));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  // Invalid options, each three rows with the prompt, until the prompt is
  // past the terminal's last row (and the first message still in view).
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(s->waitForPrompt(kPrompt, i == 0 ? kAskFile : kInvalid));
    // Each key once its echo has left this prompt: a key typed while the
    // answer is still spoken is dropped with the keys flushed before the
    // next prompt.
    const Pos atPrompt = s->cursor();
    ASSERT_TRUE(s->type("z"));
    ASSERT_TRUE(s->waitUntil([&] { return s->cursor() != atPrompt; }, "the key echoed"));
  }
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kInvalid));
  EXPECT_EQ(s->cursor().row, 19) << s->dump();
  EXPECT_TRUE(s->row(17).starts_with(kInvalid)) << s->dump();
  EXPECT_EQ(s->findAll("Terminal menor que 80").size(), 1u);
}

// The braille keyboard switched on in the settings.
class BrailleKeyboard : public MainMenu {
 protected:
  void SetUp() override {
    Options options;
    options.settings = {{"BRAILLE", "MODO", "1"}};
    ASSERT_NO_FATAL_FAILURE(start(options));
    ASSERT_TRUE(s->waitForText(kAskFile));
    ASSERT_TRUE(s->sendKey(Key::Esc));
  }
  // The keys of a chord pressed together and released, as a terminal that
  // reports every key with the kitty protocol sends them.
  static Input chord(std::string_view letters) {
    std::string bytes;
    for (char c : letters) bytes += "\x1b[" + std::to_string(c) + ";;" + std::to_string(c) + "u";
    for (char c : letters) bytes += "\x1b[" + std::to_string(c) + ";1:3u";
    return Input::raw(bytes);
  }
};

TEST_F(BrailleKeyboard, PlainTypingWithoutKeyReleasesChordsWithThem) {
  // This terminal has said nothing of key releases: letters type.
  ASSERT_TRUE(waitForPrompt(kAskFile));
  ASSERT_TRUE(s->type("z"));
  ASSERT_TRUE(s->waitForText(kInvalid));
  ASSERT_TRUE(waitForPrompt(kInvalid));
  // Now it says it reports every key: z is typed as dots 1 3 5 6.
  ASSERT_TRUE(s->sendKeys({Input::raw("\x1b[?27u"), chord("fskl")}));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll(kInvalid).size() == 2; }, "a second invalid option"));
  ASSERT_TRUE(waitForPrompt(kInvalid));
  ASSERT_TRUE(s->sendKeys({Key::Esc}));
  ASSERT_TRUE(s->waitForText(kConfirmEnd));
  ASSERT_TRUE(s->sendKeys({chord("dsj")}));  // s: dots 2 3 4
  expectCleanEnd();
}

// Control+Alt+F9 rarely reaches a terminal program; Control+Alt+R, as a
// terminal sends it (ESC and Control+R), opens the screen review from the
// file name field just the same.
TEST(ScreenReviewE2e, ControlAltRReviewsTheScreenFromAField) {
  std::string error;
  auto s = Session::start({}, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForText(kAskFile));
  ASSERT_TRUE(s->waitForQuiet());
  const Pos field = s->cursor();
  ASSERT_TRUE(s->sendKey(Input::raw("\x1b\x12")));
  ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));  // the review's beep
  ASSERT_TRUE(s->sendKey(Key::PageUp));
  ASSERT_TRUE(s->waitUntil([&] { return s->cursor() == Pos{0, 0}; }, "the review on the first row"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitUntil([&] { return s->cursor() == field; }, "the cursor back in the field"));

  // An accented word is one word for the review: F1 from its start moves
  // past the whole of it.
  ASSERT_TRUE(s->type("ação x"));
  ASSERT_TRUE(s->waitForText("ação x"));
  ASSERT_TRUE(s->sendKey(Input::raw("\x1b\x12")));
  ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));
  ASSERT_TRUE(s->sendKey(Key::Home));
  ASSERT_TRUE(s->waitUntil([&] { return s->cursor() == Pos{field.row, 0}; }, "the review at the row's start"));
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(s->waitUntil([&] { return s->cursor() == Pos{field.row, 4}; }, "the review past \"ação\""));
}

TEST_F(MainMenu, EscThenNKeepsTheProgramRunning) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKeys({Key::Esc}));
  ASSERT_TRUE(s->waitForText(kConfirmEnd));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kConfirmEnd));
  EXPECT_FALSE(s->find(kSaveQuestion).has_value()) << s->dump();
  EXPECT_TRUE(s->isRunning());
}

TEST_F(MainMenu, UpOpensTheElevenOptionsAndEnterRunsTheChosenOne) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKey(Key::Up));
  ASSERT_TRUE(s->waitForText("X - Extrai"));
  for (std::string_view option : {"T - Toca", "G - Grava mais", "N - Novo som", "R - Remove", "M - Mistura",
                                  "E - Efeito", "D - Desfaz", "S - Salva", "C - Configura", "I - Informações"})
    EXPECT_TRUE(s->find(option).has_value()) << option << "\n" << s->dump();
  // The last option, information, runs as if its letter had been typed.
  ASSERT_TRUE(s->sendKeys({Key::End, Key::Enter}));
  ASSERT_TRUE(s->waitForText("Arquivo de trabalho: "));
  ASSERT_TRUE(s->waitForText("Velocidade: 22050"));
  ASSERT_TRUE(waitForPrompt("Velocidade: 22050"));
}

TEST_F(MainMenu, DownTwiceInTheOptionListRunsTheNewSoundCommand) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKey(Key::Up));
  ASSERT_TRUE(s->waitForText("I - Informações"));
  // Eleven rows, one under the other, in the order of the command letters.
  const std::vector<std::string_view> options = {
      "T - Toca",   "G - Grava mais", "N - Novo som", "R - Remove",    "M - Mistura",    "E - Efeito",
      "D - Desfaz", "S - Salva",      "X - Extrai",   "C - Configura", "I - Informações",
  };
  const std::optional<Pos> first = s->find(options[0]);
  ASSERT_TRUE(first.has_value()) << s->dump();
  for (size_t i = 1; i < options.size(); ++i)
    EXPECT_EQ(s->find(options[i]), (Pos{first->row + static_cast<int>(i), first->col})) << options[i] << "\n"
                                                                                       << s->dump();
  // The list starts on its first row: two rows down is "N - Novo som".
  ASSERT_TRUE(s->sendKeys({Key::Down, Key::Down, Key::Enter}));
  // The new-sound command first offers to save the sound there is; ESC
  // there gives up and changes nothing.
  ASSERT_TRUE(s->waitForText(kSaveQuestion));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForText("Desistiu..."));
  ASSERT_TRUE(waitForPrompt("Desistiu..."));
  EXPECT_FALSE(s->find("Novo som criado").has_value()) << s->dump();
  EXPECT_FALSE(s->find(kConfirmEnd).has_value()) << s->dump();
}

TEST_F(MainMenu, EscInTheOptionListLeadsToTheEndQuestion) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->sendKey(Key::Down));
  ASSERT_TRUE(s->waitForText("X - Extrai"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForText(kConfirmEnd));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kConfirmEnd));
}

}  // namespace
}  // namespace kalimbro::e2e
