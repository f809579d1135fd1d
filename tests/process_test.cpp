#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "tests/fakes/command_fixture.h"

namespace kalimbro {
namespace {

using Words = std::vector<std::string>;

TEST(SplitWords, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(splitWords("-V 2  --preset\tstandard"), (Words{"-V", "2", "--preset", "standard"}));
  EXPECT_EQ(splitWords("  "), Words{});
  EXPECT_EQ(splitWords("--tt \"a b\" x\"y z\"w"), (Words{"--tt", "a b", "xy zw"}));
  EXPECT_EQ(splitWords("a \"\" b"), (Words{"a", "", "b"}));
  EXPECT_EQ(splitWords("\"open quote"), (Words{"open quote"}));
}

class Process : public CommandTest {};

TEST_F(Process, ExitStatusAndMissingProgram) {
  const Words ok{"true"}, bad{"false"}, missing{"/nonexistent/program"}, unknown{"kalimbro-no-such-program"};
  EXPECT_TRUE(runProgram(ok).succeeded());
  const ProcessResult failed = runProgram(bad);
  EXPECT_EQ(failed.kind, ProcessResult::Kind::exited);
  EXPECT_EQ(failed.code, 1);
  EXPECT_FALSE(failed.succeeded());
  EXPECT_EQ(runProgram(missing).kind, ProcessResult::Kind::notFound);
  EXPECT_EQ(runProgram(unknown).kind, ProcessResult::Kind::notFound);
  EXPECT_FALSE(runProgram(unknown).started());
}

TEST_F(Process, ArgumentsArriveWholeAndInUtf8) {
  // A name with a blank, a quote and a Windows-1252 letter, as one word.
  const std::string name = file("a b \"\xE7\".txt");
  const Words args{"touch", name};
  ASSERT_TRUE(runProgram(args).succeeded());
  EXPECT_TRUE(std::filesystem::exists(dir() + "/a b \"\xC3\xA7\".txt"));
}

// A name is never an option, standard input or an address: "-n.wav" would
// be sox's null file, "file:nota.m4a" ffmpeg's nota.m4a and "pipe:0.m4a"
// its standard input.
TEST_F(Process, FileNamesAreAbsolutePathsAndFfmpegIsToldTheyAreFiles) {
  namespace fs = std::filesystem;
  struct BackHere {
    fs::path previous = fs::current_path();
    ~BackHere() { fs::current_path(previous); }
  } backHere;
  fs::current_path(dir());
  const std::string here = fs::current_path().string();
  EXPECT_EQ(fileArgument("-n.wav"), here + "/-n.wav");
  EXPECT_EQ(fileArgument("sub/-"), here + "/sub/-");
  EXPECT_EQ(fileArgument("/t/-a.wav"), "/t/-a.wav");
  EXPECT_EQ(ffmpegFileArgument("pipe:0.m4a"), "file:" + here + "/pipe:0.m4a");
  EXPECT_EQ(ffmpegFileArgument("/t/file:nota.m4a"), "file:/t/file:nota.m4a");
  // A current directory that has no Windows-1252 form is not named.
  fs::create_directory("\xE6\x97\xA5");
  fs::current_path("\xE6\x97\xA5");
  EXPECT_EQ(fileArgument("-n.wav"), "./-n.wav");
  EXPECT_EQ(ffmpegFileArgument("pipe:0.m4a"), "file:./pipe:0.m4a");
}

TEST_F(Process, StartedOnceAndTicksWhileWaiting) {
  int started = 0, ticks = 0;
  const Words args{"sleep", "1.3"};
  const ProcessResult r = runProgram(args, {.started = [&] { ++started; }, .everySecond = [&] { ++ticks; }, .giveUp = {}});
  EXPECT_TRUE(r.succeeded());
  EXPECT_EQ(started, 1);
  EXPECT_EQ(ticks, 1);
}

TEST_F(Process, GivingUpEndsAndReapsEvenAProgramThatIgnoresSigterm) {
  // The shell notes its pid, then becomes a sleep that ignores SIGTERM.
  const std::string pidFile = file("pid");
  const Words args{"sh", "-c", "trap '' TERM; echo $$ > \"$0\"; exec sleep 60", pidFile};
  const auto begin = std::chrono::steady_clock::now();
  const ProcessResult r = runProgram(args, {.started = {}, .everySecond = {}, .giveUp = [&] {
                                              const auto size = fileSize(pidFile);
                                              return size && *size > 0;
                                            }});
  EXPECT_EQ(r.kind, ProcessResult::Kind::gaveUp);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  pid_t pid = 0;
  std::ifstream(pidFile) >> pid;
  ASSERT_GT(pid, 0);
  // Neither running nor a zombie.
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(Process, StandardInputAndOutputArriveWholeAndInOrderAndRefusingOutputGivesTheProgramUp) {
  // Three megabytes, more than a pipe holds, then a last line written after
  // a pause, so that some of it is read only once the program has ended.
  const Words writer{"sh", "-c", "head -c 3000000 /dev/zero | tr '\\0' x; sleep 0.2; echo end"};
  std::string received;
  const ProcessResult whole = runProgram(writer, {.output = [&](std::span<const uint8_t> bytes) {
                                           received.append(bytes.begin(), bytes.end());
                                           return true;
                                         }});
  EXPECT_TRUE(whole.succeeded());
  EXPECT_EQ(received, std::string(3000000, 'x') + "end\n");

  const Words endless{"sh", "-c", "exec yes"};
  size_t taken = 0;
  const ProcessResult refused = runProgram(endless, {.output = [&](std::span<const uint8_t> bytes) {
                                             taken += bytes.size();
                                             return taken < 100000;
                                           }});
  EXPECT_EQ(refused.kind, ProcessResult::Kind::gaveUp);
  EXPECT_GE(taken, 100000u);

  // Fed in two pieces, more than the socket holds, cat gives back the whole
  // input; a program that reads none of it ends without harm to this one.
  const std::string first(3000000, 'a'), second = "end\n";
  const auto feeder = [&] {
    return [&, given = 0]() mutable -> std::span<const uint8_t> {
      const std::string* pieces[] = {&first, &second};
      if (given == 2) return {};
      const std::string& piece = *pieces[given++];
      return {reinterpret_cast<const uint8_t*>(piece.data()), piece.size()};
    };
  };
  const Words cat{"cat"}, ignoring{"true"};
  received.clear();
  const ProcessResult echoed = runProgram(cat, {.output =
                                                    [&](std::span<const uint8_t> bytes) {
                                                      received.append(bytes.begin(), bytes.end());
                                                      return true;
                                                    },
                                                .input = feeder()});
  EXPECT_TRUE(echoed.succeeded());
  EXPECT_EQ(received, first + second);
  EXPECT_TRUE(runProgram(ignoring, {.input = feeder()}).succeeded());
}

TEST_F(Process, TheChildWritesNothingOnTheTerminalAndReadsNothing) {
  // Standard output and error of this process point at a file for the run.
  const std::string captured = file("captured");
  const int saved1 = dup(1), saved2 = dup(2);
  FILE* sink = fopen(captured.c_str(), "w");
  ASSERT_NE(sink, nullptr);
  dup2(fileno(sink), 1);
  dup2(fileno(sink), 2);
  const Words echo{"echo", "hello"}, cat{"cat"}, ls{"ls", "/nonexistent"};
  const bool echoed = runProgram(echo).succeeded();
  const bool catEnded = runProgram(cat).succeeded();  // stdin is empty: cat ends at once
  const ProcessResult listed = runProgram(ls);
  dup2(saved1, 1);
  dup2(saved2, 2);
  close(saved1);
  close(saved2);
  fclose(sink);
  EXPECT_TRUE(echoed);
  EXPECT_TRUE(catEnded);
  EXPECT_EQ(listed.kind, ProcessResult::Kind::exited);
  EXPECT_NE(listed.code, 0);
  EXPECT_EQ(std::filesystem::file_size(captured), 0u);
}

}  // namespace
}  // namespace kalimbro
