// The braille display, end to end: a real BRLTTY with its TTY braille
// driver on a pseudo-terminal of the test's own stands for the display, so
// the test reads the cells BRLTTY shows and types on the display's keys;
// kalimbro reaches that BRLTTY through BrlAPI.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

extern char** environ;

namespace kalimbro::e2e {
namespace {

constexpr const char* kBrltty = "/usr/sbin/brltty";
constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kAskFile = "Informe o nome do arquivo";

// A BRLTTY server on a local BrlAPI socket of its own, without a screen
// or speech, whose 40-cell display is a pseudo-terminal.
class BrlttyDisplay {
 public:
  ~BrlttyDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    std::filesystem::remove_all(dir_);
  }

  testing::AssertionResult start() {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return testing::AssertionFailure() << "openpty";
    fcntl(master_, F_SETFL, O_NONBLOCK);
    host_ = ":" + std::to_string(100 + getpid() % 10000);
    dir_ = std::filesystem::temp_directory_path() / ("kalimbro-brltty-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    const std::vector<std::string> args = {
        kBrltty, "-n", "-q", "-b", "tt", "-d", std::string("serial:") + ttyname(slave_), "-B", "lines=1",
        "-x", "no", "-s", "no", "-f", "/dev/null", "-F", "/dev/null", "-W", dir_.string(), "-U", dir_.string(),
        "-A", "host=" + host_ + ",auth=none", "-L", (dir_ / "log").string()};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Its complaints about kernel modules it cannot load go to its log.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid_, kBrltty, &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return testing::AssertionFailure() << "cannot start " << kBrltty;
    // Ready once its API socket is there and the display shows something.
    const std::string socket = "/var/lib/BrlAPI/" + host_.substr(1);
    return waitForDisplay([&] { return std::filesystem::exists(socket) && !shown_.empty(); }, "BRLTTY ready");
  }

  const std::string& host() const { return host_; }

  // What the display shows now: the text line of the TTY driver's last
  // picture (it clears and writes the text, then the dots below it).
  std::string text() {
    readOutput();
    return shown_;
  }

  testing::AssertionResult waitForText(std::string_view wanted) {
    return waitForDisplay([&] { return shown_.find(wanted) != std::string::npos; },
                          "the display to show " + std::string(wanted));
  }

  // Typed on the display's keyboard.
  void type(std::string_view bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

 private:
  void readOutput() {
    char buffer[4096];
    ssize_t n;
    while ((n = read(master_, buffer, sizeof buffer)) > 0) output_.append(buffer, static_cast<size_t>(n));
    constexpr std::string_view kNewPicture = "\x1b[H\x1b[J";
    const size_t at = output_.rfind(kNewPicture);
    if (at == std::string::npos) return;
    const size_t end = output_.find('\r', at);
    if (end == std::string::npos) return;
    shown_ = output_.substr(at + kNewPicture.size(), end - at - kNewPicture.size());
  }

  template <typename Condition>
  testing::AssertionResult waitForDisplay(Condition condition, const std::string& what) {
    for (int i = 0; i < 200; ++i) {
      readOutput();
      if (condition()) return testing::AssertionSuccess();
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, 50);
    }
    return testing::AssertionFailure() << "no " << what << "; the display shows \"" << shown_ << "\"";
  }

  int master_ = -1, slave_ = -1;
  pid_t pid_ = -1;
  std::string host_;
  std::filesystem::path dir_;
  std::string output_;
  std::string shown_;
};

TEST(BrailleDisplayE2e, ShowsTheCursorsRowAndTakesTheDisplaysKeys) {
  if (access(kBrltty, X_OK) != 0) GTEST_SKIP() << kBrltty << " is not installed";
  BrlttyDisplay display;
  ASSERT_TRUE(display.start());

  Options options;
  options.env = {{"BRLAPI_HOST", display.host()}, {"BRLAPI_AUTH", "none"}};
  std::string error;
  auto s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForText(kAskFile));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kAskFile));
  ASSERT_TRUE(display.waitForText("Gravador, qual sua opção?"));

  // A letter typed on the display is an option like one typed on the
  // keyboard; the display follows the cursor to the next prompt.
  display.type("z");
  ASSERT_TRUE(s->waitForText("Opção inválida, F1 ajuda"));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Opção inválida"));
  ASSERT_TRUE(display.waitForText("Gravador, qual sua opção?"));
  EXPECT_EQ(display.text().find('z'), std::string::npos) << display.text();

  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForText("Confirma o fim do programa? "));
  ASSERT_TRUE(display.waitForText("Confirma o fim do programa?"));
  display.type("s");
  const auto status = s->waitForExit(milliseconds(20000));
  ASSERT_TRUE(status.has_value()) << s->dump();
  EXPECT_TRUE(status->exitedWith(0)) << *status;
}

}  // namespace
}  // namespace kalimbro::e2e
