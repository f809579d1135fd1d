// kalimbro with the system's speech server: a private speech-dispatcher of
// the test's own (its own directory, socket and settings, nothing
// system-wide) whose output module writes each text it is given to a file,
// takes a second to "speak" it and writes "fim" when it has. Sound cards
// play no part: the file shows what reached the server, in what order, and
// whether a message was cut before its end.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/kalimbro.h"
#include "tests/e2e/harness.h"

extern char** environ;

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr const char* kModules = "/usr/lib/speech-dispatcher-modules";
constexpr std::string_view kSpokenToTheEnd = "fim";

class SpeechServer : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kalimbro-spd-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "conf" / "modules");
    fs::create_directories(dir_ / "log");
    spoken_ = dir_ / "falado.txt";
    // The generic module runs this for every message; a cancel ends it.
    writeFile(dir_ / "conf" / "modules" / "gravador.conf",
              "GenericExecuteSynth \"echo \\'$DATA\\' >> " + spoken_.string() + "; sleep 1; echo " +
                  std::string(kSpokenToTheEnd) + " >> " + spoken_.string() + "\"\n"
                  "AddVoice \"pt\" \"MALE1\" \"pt\"\n"
                  "GenericLanguage \"pt\" \"pt\" \"utf-8\"\n");
    writeFile(dir_ / "conf" / "speechd.conf",
              "LogLevel 4\n"
              "LogDir \"" + (dir_ / "log").string() + "\"\n"
              "AudioOutputMethod \"alsa\"\n"
              "AudioALSADevice \"null\"\n"
              "AddModule \"gravador\" \"sd_generic\" \"gravador.conf\"\n"
              "DefaultModule gravador\n"
              "DefaultLanguage \"pt\"\n");
    socket_ = dir_ / "speechd.sock";
    const std::vector<std::string> args = {
        "speech-dispatcher", "--run-single", "--timeout", "0",
        "--config-dir", (dir_ / "conf").string(), "--module-dir", kModules,
        "--communication-method", "unix_socket", "--socket-path", socket_.string(),
        "--pid-file", (dir_ / "speechd.pid").string(), "--log-dir", (dir_ / "log").string()};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // A group of its own, so that its output modules end with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawnp(&server_, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    ASSERT_EQ(spawned, 0) << "speech-dispatcher is not installed";
    for (int i = 0; i < 100 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(milliseconds(100));
    ASSERT_TRUE(fs::exists(socket_)) << "the speech server did not start; see " << dir_ / "log";
  }

  void TearDown() override {
    s.reset();
    // The server sometimes lets SIGTERM pass while a module is speaking.
    if (server_ > 0) {
      kill(-server_, SIGTERM);
      int status;
      for (int i = 0; i < 50 && waitpid(server_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(milliseconds(100));
      if (kill(-server_, SIGKILL) == 0) waitpid(server_, &status, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void start(Options options = {}) {
    options.settings = {{"TRADUTOR", "SAPI", "S"}, {"SERVFALA", "TIPOSAPI", "0"}};
    options.env = {{"SPEECHD_ADDRESS", "unix_socket:" + socket_.string()}};
    std::string error;
    s = Session::start(options, &error);
    ASSERT_NE(s, nullptr) << error;
  }

  // Every line the output module wrote: texts, each followed by "fim" when
  // it was spoken to its end.
  std::vector<std::string> spoken() const {
    std::ifstream in(spoken_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static bool holds(const std::vector<std::string>& lines, std::string_view text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  // The line after `text`, or "" when it is the last.
  static std::string after(const std::vector<std::string>& lines, std::string_view text) {
    auto it = std::find(lines.begin(), lines.end(), text);
    return it == lines.end() || it + 1 == lines.end() ? std::string() : *(it + 1);
  }
  testing::AssertionResult waitUntilSpoken(std::string_view text) {
    return s->waitUntil([&] { return holds(spoken(), text); }, "the server to get \"" + std::string(text) + "\"",
                        milliseconds(30000));
  }
  std::string spokenText() const {
    std::ostringstream out;
    for (const std::string& line : spoken()) out << line << "\n";
    return out.str();
  }

  std::unique_ptr<Session> s;

 private:
  fs::path dir_;
  fs::path spoken_;
  fs::path socket_;
  pid_t server_ = -1;
};

TEST_F(SpeechServer, MessagesGoOneAfterAnotherAndAKeyCutsThemOnTheServer) {
  ASSERT_NO_FATAL_FAILURE(start());
  // A key during the title cuts it on the server and is kept: the file
  // selector takes it as typed text.
  // The title and the version are one line on the screen: one message.
  const std::string title = "Gravador de Som Varelu " + std::string(kProgramVersion);
  ASSERT_TRUE(waitUntilSpoken(title));
  ASSERT_TRUE(s->type("x"));
  ASSERT_TRUE(s->waitForText("Informe o nome do arquivo"));
  ASSERT_TRUE(s->waitUntil(
      [&] {
        for (int row = 0; row < 25; ++row)
          if (s->row(row) == "x") return true;
        return false;
      },
      "the key in the selector's field"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, {}, milliseconds(30000)));
  std::vector<std::string> lines = spoken();
  EXPECT_NE(after(lines, title), kSpokenToTheEnd) << spokenText();
  EXPECT_FALSE(holds(lines, "Informe o nome do arquivo")) << spokenText();

  // The spoken help: its opening sound (played by the program, 0.65 s
  // sped up to 0.43 s in these settings) is heard before the first line
  // goes to the server, and each line reaches the server when the one
  // before it has been spoken, not all at once.
  ASSERT_TRUE(waitUntilSpoken(kPrompt));
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(waitUntilSpoken("As opções são :"));
  EXPECT_GE(std::chrono::steady_clock::now() - pressed, milliseconds(400)) << spokenText();
  ASSERT_TRUE(waitUntilSpoken("G - Grava mais"));
  EXPECT_FALSE(s->find("R - Remove").has_value()) << s->dump();
  EXPECT_FALSE(holds(spoken(), "N - Novo som")) << spokenText();
  // A key cuts the line being spoken, and the rest are only written.
  ASSERT_TRUE(s->type("z"));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "I - Informações", milliseconds(30000)));
  ASSERT_TRUE(s->waitUntil([&] { return spoken().back() == kSpokenToTheEnd; }, "the prompt spoken"));
  lines = spoken();
  EXPECT_EQ(lines.end()[-2], kPrompt) << spokenText();
  EXPECT_NE(after(lines, "G - Grava mais"), kSpokenToTheEnd) << spokenText();
  EXPECT_FALSE(holds(lines, "R - Remove")) << spokenText();
}

// A line written in pieces (the times of F6, a pause and its length) goes
// to the server as one message: each message costs the server its start-up
// silence. Lines said after a cut demonstration reach it too.
TEST_F(SpeechServer, ALineWrittenInPiecesGoesAsOneMessage) {
  constexpr int kRate = 22050;
  std::vector<int16_t> samples(4 * kRate, 0);
  for (int i = 0; i < kRate; ++i) samples[i] = samples[3 * kRate + i] = static_cast<int16_t>(i % 50 * 400 - 10000);
  Options options;
  options.args = {"pausa.wav"};
  options.files = {{"pausa.wav", wavBytes(kRate, 16, 1, samples)}};
  ASSERT_NO_FATAL_FAILURE(start(std::move(options)));
  ASSERT_TRUE(waitUntilSpoken(kPrompt));
  EXPECT_TRUE(holds(spoken(), "pausa.wav")) << spokenText();  // the file's name, said at start
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText("Use espaço para tocar, F1 ajuda", milliseconds(30000)));
  ASSERT_TRUE(s->sendKey(Key::F6));
  ASSERT_TRUE(waitUntilSpoken("Tempo total: 4:0 posição do cursor: 0:0 percentual: 0")) << spokenText();
  ASSERT_TRUE(s->sendKey(Input(Key::PageDown, mod::Ctrl)));
  ASSERT_TRUE(waitUntilSpoken("Pausa em 1:0, 2,0 segundos")) << spokenText();
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Pausa em", milliseconds(30000)));

  // A key that cuts the demonstration short leaves the question heard.
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(s->waitForText("Qual efeito", milliseconds(30000)));
  ASSERT_TRUE(s->type("+"));
  ASSERT_TRUE(waitUntilSpoken("Demonstração: ")) << spokenText();
  ASSERT_TRUE(s->type(" "));
  ASSERT_TRUE(waitUntilSpoken("Deseja manter o efeito?(S/N)")) << spokenText();
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(s->waitForText("Não", milliseconds(30000)));
}

}  // namespace
}  // namespace kalimbro::e2e
