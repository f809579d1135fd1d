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
    ASSERT_EQ(posix_spawnp(&server_, argv[0], nullptr, nullptr, argv.data(), environ), 0)
        << "speech-dispatcher is not installed";
    for (int i = 0; i < 100 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(milliseconds(100));
    ASSERT_TRUE(fs::exists(socket_)) << "the speech server did not start; see " << dir_ / "log";
  }

  void TearDown() override {
    s.reset();
    if (server_ > 0) {
      kill(server_, SIGTERM);
      int status;
      waitpid(server_, &status, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void start() {
    Options options;
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
  ASSERT_TRUE(waitUntilSpoken("Gravador de Som Varelu"));
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
  EXPECT_NE(after(lines, "Gravador de Som Varelu"), kSpokenToTheEnd) << spokenText();
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

}  // namespace
}  // namespace kalimbro::e2e
