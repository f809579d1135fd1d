// The editing commands end to end, typed as a user types them: effects
// (E) built in and through the real SoX, kept and dropped; removing
// everything (R) and undo (D); dividing and extracting files (X); mixing a
// second file in (M). The sound played goes to the "arquivo" device, so the
// demonstrations are heard in a WAV file of the test, and the results are
// read back from the working file after F2.
#include <ebur128.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#include "tests/e2e/harness.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kWhichEffect = "Qual efeito? ";
constexpr std::string_view kKeepEffect = "Deseja manter o efeito?(S/N)";
constexpr std::string_view kSaved = "OK, arquivo salvo";
constexpr std::string_view kConfirmEnd = "Confirma o fim do programa? ";
constexpr std::string_view kSaveQuestion = "Quer salvar o arquivo? ";
// Speech plays at its real rate even on a silent device.
constexpr milliseconds kLong{60000};

constexpr uint32_t kRate = 8000;

// True when `part` stands somewhere in `whole`, value for value.
bool containsRun(const std::vector<int16_t>& whole, const std::vector<int16_t>& part) {
  return std::search(whole.begin(), whole.end(), part.begin(), part.end()) != whole.end();
}

// Half a second of values chosen to show the arithmetic of the volume
// effects: near and past the 16-bit limits, and small odd values whose
// products are truncated toward zero.
std::vector<int16_t> loudSound() {
  constexpr int16_t kCycle[] = {1000, -2000, 30000, -30000, 3, -3, 26213, -26214, 32767, -32768, 0, 7};
  std::vector<int16_t> v(4000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = kCycle[i % std::size(kCycle)];
  return v;
}

// Every value times `numerator` / 4, truncated toward zero and clipped.
std::vector<int16_t> scaledByQuarters(const std::vector<int16_t>& in, int numerator) {
  std::vector<int16_t> out;
  for (const int16_t x : in)
    out.push_back(static_cast<int16_t>(std::clamp<int32_t>(x * numerator / 4, -32768, 32767)));
  return out;
}

// The children of `parent` whose command is `command`, from /proc.
std::vector<pid_t> childrenRunning(pid_t parent, std::string_view command) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (command) state ppid ...": the command may hold blanks.
    const std::optional<std::string> stat = readFile(entry.path() / "stat");
    if (!stat) continue;
    const size_t open = stat->find('('), close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > stat->size()) continue;
    char state = 0;
    pid_t ppid = 0;
    std::istringstream(stat->substr(close + 2)) >> state >> ppid;
    if (ppid == parent && stat->substr(open + 1, close - open - 1) == command) found.push_back(std::stoi(name));
  }
  return found;
}

// True while `pid` runs: a process that has ended but was not collected yet
// (a zombie, when its parent is gone before it and nobody reaps it at
// once) is not running.
bool stillRunning(pid_t pid) {
  const std::optional<std::string> stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  const size_t close = stat->rfind(')');
  return close != std::string::npos && close + 2 < stat->size() && (*stat)[close + 2] != 'Z' &&
         (*stat)[close + 2] != 'X';
}

// A sound in which no two frames are alike.
std::vector<int16_t> rampSound(size_t frames, int16_t first, int16_t step) {
  std::vector<int16_t> v(frames);
  for (size_t i = 0; i < frames; ++i) v[i] = static_cast<int16_t>(first + static_cast<int>(i) * step);
  return v;
}

class Editing : public testing::Test {
 protected:
  // The program opens voz.wav from the command line; what it plays is
  // appended to saida.wav. The speech of these sessions is sped up, but
  // the user's sound always plays at its true rate: the 8000 Hz
  // demonstrations reach the device at 8000 Hz, saida.wav is made at that
  // rate, and they land there value for value.
  void startWith(const std::string& voz, std::vector<std::pair<std::string, std::string>> files = {},
                 std::vector<Setting> settings = {}, std::vector<std::pair<std::string, std::string>> env = {}) {
    Options o;
    o.env = std::move(env);
    o.args = {"voz.wav"};
    o.files = std::move(files);
    o.files.emplace_back("voz.wav", voz);
    o.files.emplace_back("saida.wav", wavBytes(kRate, 16, 1, {}));
    o.settings = std::move(settings);
    o.settings.push_back({"SOM", "SAIDA", "arquivo:saida.wav"});
    std::string error;
    s = Session::start(o, &error);
    ASSERT_NE(s, nullptr) << error;
    ASSERT_TRUE(waitForPrompt());
  }

  fs::path work(std::string_view name) const { return s->workDir() / name; }

  testing::AssertionResult waitForPrompt(std::string_view below = {}) {
    return s->waitForPrompt(kPrompt, below, kLong);
  }

  // The cursor right after the last occurrence of `question`: the program
  // reads the answer on that line.
  testing::AssertionResult waitForQuestion(std::string_view question) {
    return s->waitUntil(
        [&] {
          std::vector<Pos> found = s->findAll(question);
          if (found.empty()) return false;
          return s->cursor() == Pos{found.back().row, found.back().col + columns(question)};
        },
        "the question \"" + std::string(question) + "\"", kLong);
  }
  // A question said with a line end: the answer is read at the start of
  // the line below it.
  testing::AssertionResult waitForQuestionAbove(std::string_view question) {
    return s->waitUntil(
        [&] {
          std::vector<Pos> found = s->findAll(question);
          if (found.empty()) return false;
          return s->cursor() == Pos{found.back().row + 1, 0};
        },
        "the question \"" + std::string(question) + "\" and the line under it", kLong);
  }
  // `text` on a row under the last occurrence of `mark`.
  testing::AssertionResult waitForTextBelow(std::string_view text, std::string_view mark) {
    return s->waitUntil(
        [&] {
          std::vector<Pos> marks = s->findAll(mark);
          std::vector<Pos> found = s->findAll(text);
          return !marks.empty() && !found.empty() && found.back().row > marks.back().row;
        },
        "\"" + std::string(text) + "\" below \"" + std::string(mark) + "\"", kLong);
  }
  // Under `question`, the name as typed in the selector and then the
  // chosen name on a line of its own.
  void expectNameTwiceUnder(std::string_view question, std::string_view name) {
    const std::optional<Pos> asked = s->find(question);
    ASSERT_TRUE(asked.has_value()) << s->dump();
    EXPECT_EQ(s->row(asked->row + 1), name) << s->dump();
    EXPECT_EQ(s->row(asked->row + 2), name) << s->dump();
  }
  static int columns(std::string_view utf8) {
    int n = 0;
    for (const char c : utf8)
      if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++n;
    return n;
  }

  // E, the effect's key, the keep question answered with `answer`, and ESC
  // out of the effects loop back to the main prompt.
  // `told`, when given, stands on the screen when the keep question comes.
  void runEffect(std::string_view effectKey, std::string_view answer, std::string_view told = {}) {
    ASSERT_TRUE(s->type("e"));
    ASSERT_TRUE(waitForQuestion(kWhichEffect));
    ASSERT_TRUE(s->type(effectKey));
    ASSERT_TRUE(waitForQuestionAbove(kKeepEffect));
    if (!told.empty()) {
      EXPECT_TRUE(s->find(told).has_value()) << s->dump();
    }
    ASSERT_TRUE(s->type(answer));
    // The loop asks again, on the eighth row after every effect (the
    // screen is cleared from there): only ESC leaves it.
    ASSERT_TRUE(waitForQuestion(kWhichEffect));
    EXPECT_EQ(s->findAll(kWhichEffect).back().row, 7) << s->dump();
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForPrompt());
  }

  // F1 at `question` says `help` and asks again; ESC then gives up.
  void explainThenGiveUp(std::string_view question, std::string_view help) {
    ASSERT_TRUE(s->waitForText(question, kLong));
    ASSERT_TRUE(s->sendKey(Key::F1));
    ASSERT_TRUE(waitForTextBelow(question, help));
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForTextBelow("Desistiu...", help));
  }

  void saveWithF2() {
    ASSERT_TRUE(s->sendKey(Key::F2));
    ASSERT_TRUE(waitForPrompt(kSaved));
  }

  // ESC, S, and N to the save question: the program ends cleanly and
  // leaves no scratch copy or SoX output behind.
  void endWithoutSaving() {
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForQuestion(kConfirmEnd));
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(waitForQuestion(kSaveQuestion));
    ASSERT_TRUE(s->type("n"));
    auto status = s->waitForExit(kLong);
    ASSERT_TRUE(status.has_value()) << "still running\n" << s->dump();
    EXPECT_TRUE(status->exitedWith(0)) << *status << "\n" << s->dump();
    EXPECT_TRUE(fs::is_empty(s->tempDir())) << "temporary files were left behind";
  }

  // What the output device received, in the sound's format.
  std::vector<int16_t> heard() {
    const std::optional<WavContents> out = readWav(work("saida.wav"));
    return out ? out->samples : std::vector<int16_t>{};
  }

  std::unique_ptr<Session> s;
};

// ---- Effects ----------------------------------------------------------------------------

TEST_F(Editing, VolumeUpKeptIsHeardAndSavedClipped) {
  const std::vector<int16_t> original = loudSound();
  ASSERT_NO_FATAL_FAILURE(startWith(wavBytes(kRate, 16, 1, original)));
  // The clipped places are counted as F7 counts them below.
  ASSERT_NO_FATAL_FAILURE(runEffect("+", "s", "O resultado satura em 667 trechos"));
  const std::vector<int16_t> louder = scaledByQuarters(original, 5);
  // The hand-checked corners: clipped at both ends, truncated toward zero.
  ASSERT_EQ(louder[2], 32767);
  ASSERT_EQ(louder[3], -32768);
  ASSERT_EQ(louder[4], 3);
  ASSERT_EQ(louder[5], -3);
  ASSERT_EQ(louder[6], 32766);
  ASSERT_EQ(louder[7], -32767);
  EXPECT_TRUE(containsRun(heard(), louder)) << "the demonstration did not play the louder sound";

  // F7 in the play command: full scale, and two clipped places in each
  // twelve frames (values 2-3 and 8-9), 667 in all.
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestionAbove("Use espaço para tocar, F1 ajuda"));
  ASSERT_TRUE(s->sendKey(Key::F7));
  ASSERT_TRUE(waitForTextBelow("Pico 0,0 dB, sonoridade 0 LUFS, 667 trechos saturados", "Use espaço para tocar"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("trechos saturados"));

  // Still only in memory until F2.
  EXPECT_EQ(readWav(work("voz.wav"))->samples, original);
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  const std::optional<WavContents> saved = readWav(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->sampleRate, kRate);
  EXPECT_EQ(saved->channels, 1);
  EXPECT_EQ(saved->bits, 16);
  EXPECT_EQ(saved->samples, louder);
}

// Quiet words (quarter seconds of a 400 Hz square wave, 30 dB under full
// scale) between known pauses: half a second before them, two seconds and
// 0,7 seconds between, a quarter of a second after.
std::vector<int16_t> talkWithPauses() {
  std::vector<int16_t> v;
  const auto talk = [&] {
    for (int i = 0; i < 2000; ++i) v.push_back(static_cast<int16_t>((i / 10) % 2 ? 1000 : -1000));
  };
  const auto pause = [&](size_t frames) { v.insert(v.end(), frames, 0); };
  pause(4000);
  talk();
  pause(16000);
  talk();
  pause(5600);
  talk();
  pause(2000);
  return v;
}

double integratedLufs(const std::vector<int16_t>& v) {
  ebur128_state* meter = ebur128_init(1, kRate, EBUR128_MODE_I);
  ebur128_add_frames_short(meter, v.data(), v.size());
  double lufs = 0;
  ebur128_loudness_global(meter, &lufs);
  ebur128_destroy(&meter);
  return lufs;
}

TEST_F(Editing, PausesAreJumpedToTrimmedAndShortenedAndTheTalkMadeAsLoudAsAsked) {
  const std::vector<int16_t> original = talkWithPauses();
  ASSERT_NO_FATAL_FAILURE(startWith(wavBytes(kRate, 16, 1, original)));
  // Control+Page Down from the start: the pauses of half a second or more
  // after the cursor (the quarter second at the end is none), then back.
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestionAbove("Use espaço para tocar, F1 ajuda"));
  ASSERT_TRUE(s->sendKey(Input(Key::PageDown, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Pausa em 0:7, 2,0 segundos", "Use espaço para tocar"));
  ASSERT_TRUE(s->sendKey(Input(Key::PageDown, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Pausa em 3:0, 0,7 segundos", "2,0 segundos"));
  ASSERT_TRUE(s->sendKey(Input(Key::PageDown, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Nenhuma pausa adiante", "0,7 segundos"));
  ASSERT_TRUE(s->sendKey(Input(Key::PageUp, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Pausa em 0:7, 2,0 segundos", "Nenhuma pausa adiante"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("Nenhuma pausa adiante"));

  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("c"));
  ASSERT_TRUE(waitForTextBelow("Silêncio removido: 0,5 segundos no início e 0,3 segundos no fim", kWhichEffect));
  ASSERT_TRUE(waitForQuestionAbove(kKeepEffect));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  // Pauses over a second become a second: the two seconds lose one.
  // F1 says what to type and asks again; it is no answer.
  constexpr std::string_view kPauseQuestion = "Encurtar as pausas mais longas que quantos segundos? Enter para 1: ";
  ASSERT_TRUE(s->type("u"));
  ASSERT_TRUE(waitForQuestion(kPauseQuestion));
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(waitForTextBelow("Em segundos, por exemplo 0,5: as pausas mais longas ficam assim; ESC desiste",
                               "Enter para 1"));
  ASSERT_TRUE(waitForQuestion(kPauseQuestion));
  EXPECT_EQ(s->findAll(kPauseQuestion).size(), 2u) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(waitForTextBelow("Pausas encurtadas: 1, 1,0 segundos removidos", "Enter para 1"));
  ASSERT_TRUE(waitForQuestionAbove(kKeepEffect));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("l"));
  ASSERT_TRUE(waitForQuestion("Sonoridade desejada em LUFS, Enter para -16: "));
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(waitForTextBelow("LUFS levada a -16,0 LUFS", "Enter para -16"));
  ASSERT_TRUE(waitForQuestionAbove(kKeepEffect));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(saveWithF2());

  const std::optional<WavContents> saved = readWav(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  const std::vector<int16_t>& v = saved->samples;
  ASSERT_EQ(v.size(), 2000u + 8000 + 2000 + 5600 + 2000);
  // Words, a second of pause, words, 0,7 seconds, words.
  const auto silences = [&](size_t first, size_t end) {
    return std::count(v.begin() + static_cast<ptrdiff_t>(first), v.begin() + static_cast<ptrdiff_t>(end), 0);
  };
  EXPECT_EQ(silences(0, 2000), 0);
  EXPECT_EQ(silences(2000, 10000), 8000);
  EXPECT_EQ(silences(10000, 12000), 0);
  EXPECT_EQ(silences(12000, 17600), 5600);
  EXPECT_EQ(silences(17600, 19600), 0);
  EXPECT_NEAR(integratedLufs(v), -16.0, 0.5);
}

TEST_F(Editing, MarkersArePlacedHeardJumpedToRemovedAndComeBackFromTheSavedFile) {
  const std::vector<int16_t> ramp = rampSound(16000, -8000, 1);
  ASSERT_NO_FATAL_FAILURE(startWith(wavBytes(kRate, 16, 1, ramp)));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestionAbove("Use espaço para tocar, F1 ajuda"));
  // The play command drops keys typed ahead: each waits for the one before.
  const auto moveTo = [&](const Input& key, std::string_view time) {
    ASSERT_TRUE(s->sendKey(key));
    ASSERT_TRUE(s->waitUntil([&] { return s->row(s->cursor().row).starts_with(time); }, std::string(time), kLong));
  };
  ASSERT_NO_FATAL_FAILURE(moveTo(Key::PageDown, "1:0"));
  ASSERT_TRUE(s->sendKey(Key::Insert));
  ASSERT_TRUE(waitForTextBelow("Marcador 1 em 1:0", "Use espaço para tocar"));
  for (const std::string_view time : {"1:1", "1:2", "1:3", "1:4", "1:5"}) ASSERT_NO_FATAL_FAILURE(moveTo(Key::Right, time));
  ASSERT_TRUE(s->sendKey(Key::Insert));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 em 1:5", "Marcador 1 em 1:0"));
  // Played from the start, each marker passed ticks: five milliseconds of a
  // square wave over the sound.
  std::vector<int16_t> tick;
  for (int k = 0; k < 40; ++k) tick.push_back(static_cast<int16_t>(ramp[8000 + k] + ((k / 2) % 2 ? -6000 : 6000)));
  ASSERT_TRUE(s->sendKey(Key::Home));
  ASSERT_TRUE(waitForTextBelow("Início do som", "Marcador 2 em 1:5"));
  ASSERT_TRUE(s->type(" "));
  ASSERT_TRUE(s->waitUntil([&] { return containsRun(heard(), tick); }, "the tick of marker 1", kLong));
  ASSERT_TRUE(s->waitUntil([&] { return s->row(s->cursor().row - 1).starts_with("2:"); }, "the end", kLong));
  ASSERT_TRUE(s->sendKey(Key::Home));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll("Início do som").size() == 2; }, "the start again", kLong));
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Marcador 1 em 1:0", "Marcador 2 em 1:5"));
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 em 1:5", "Marcador 1 em 1:0"));
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Nenhum marcador adiante", "Marcador 2 em 1:5"));
  ASSERT_TRUE(s->sendKey(Key::Delete));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 removido", "Nenhum marcador adiante"));
  ASSERT_TRUE(s->sendKey(Input(Key::Up, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Marcador 1 em 1:0", "Marcador 2 removido"));
  ASSERT_NO_FATAL_FAILURE(moveTo(Key::PageUp, "0:0"));
  ASSERT_TRUE(s->sendKey(Key::Insert));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 em 0:0", "Marcador 2 removido"));
  // Named, its label is of odd length: a pad byte follows it.
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForTextBelow("Nome do marcador: ", "Marcador 2 em 0:0"));
  ASSERT_TRUE(s->sendKeys({"Entrevista", Key::Enter}));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 em 0:0, Entrevista", "Nome do marcador: "));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("Marcador 2 em 0:0, Entrevista"));
  ASSERT_NO_FATAL_FAILURE(saveWithF2());

  // Another reader sees them as cue points with their labels.
  EXPECT_EQ(cuePointsSeenBySndfile(work("voz.wav")),
            (std::vector<WavCuePoint>{{2, 0, "Entrevista"}, {1, 8000, "Marcador 1"}}));
  EXPECT_EQ(readWav(work("voz.wav"))->samples, ramp);

  // Opened again, the markers are there.
  const std::optional<std::string> saved = readFile(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving());
  ASSERT_NO_FATAL_FAILURE(startWith(*saved));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestionAbove("Use espaço para tocar, F1 ajuda"));
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Marcador 1 em 1:0", "Use espaço para tocar"));
  ASSERT_TRUE(s->sendKey(Input(Key::Up, mod::Ctrl)));
  ASSERT_TRUE(waitForTextBelow("Marcador 2 em 0:0, Entrevista", "Marcador 1 em 1:0"));
}

TEST_F(Editing, ReverseThroughSoxKeptIsSavedReversed) {
  const std::vector<int16_t> original = rampSound(4000, -12000, 5);
  ASSERT_NO_FATAL_FAILURE(startWith(wavBytes(kRate, 16, 1, original)));
  ASSERT_NO_FATAL_FAILURE(runEffect("t", "s"));
  std::vector<int16_t> reversed(original.rbegin(), original.rend());
  EXPECT_TRUE(containsRun(heard(), reversed)) << "the demonstration did not play the reversed sound";
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  const std::optional<WavContents> saved = readWav(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->sampleRate, kRate);
  EXPECT_EQ(saved->channels, 1);
  EXPECT_EQ(saved->samples, reversed);
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving());
}

TEST_F(Editing, AHangingSoxIsGivenUpWithEscAndTheSoundStays) {
  const std::string bytes = wavBytes(kRate, 16, 1, rampSound(4000, -12000, 5));
  ASSERT_NO_FATAL_FAILURE(startWith(bytes, {{"sox-parado", "#!/bin/sh\nexec sleep 60\n"}},
                                    {{"KALIMBRO", "DIRSOX", "./sox-parado"}}));
  fs::permissions(work("sox-parado"), fs::perms::owner_all);
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForTextBelow("Fim da edição", kWhichEffect));
  std::vector<pid_t> helper;
  ASSERT_TRUE(s->waitUntil([&] { return !(helper = childrenRunning(s->pid(), "sleep")).empty(); },
                           "the helper running"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForTextBelow("Desistiu...", "Fim da edição"));
  // The effects loop asks again, and answers.
  ASSERT_TRUE(waitForTextBelow(kWhichEffect, "Desistiu..."));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  for (const pid_t pid : helper) EXPECT_FALSE(stillRunning(pid)) << "the helper " << pid << " is still there";
  EXPECT_TRUE(childrenRunning(s->pid(), "sleep").empty());
  EXPECT_FALSE(s->find(kKeepEffect).has_value()) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  EXPECT_EQ(*readFile(work("voz.wav")), bytes);

  // A hang-up while the helper runs ends it with the program.
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitUntil([&] { return !(helper = childrenRunning(s->pid(), "sleep")).empty(); },
                           "the helper running again"));
  ASSERT_EQ(kill(s->pid(), SIGHUP), 0);
  ASSERT_TRUE(s->waitForExit(kLong).has_value()) << s->dump();
  for (const pid_t pid : helper) EXPECT_FALSE(stillRunning(pid)) << "the helper " << pid << " outlived the program";
  EXPECT_TRUE(fs::is_empty(s->tempDir())) << "temporary files were left behind";
}

// A $TMPDIR that does not exist is no reason to write scratch copies
// beside the user's file, nor to remove that file at the end: the program
// makes its temporary directory in the system's place instead, where the
// effects, SoX's too, work as usual.
TEST_F(Editing, AnUnusableTmpdirLeavesTheWorkingFileWhereItIs) {
  const std::string bytes = wavBytes(kRate, 16, 1, rampSound(2000, -12000, 7));
  ASSERT_NO_FATAL_FAILURE(startWith(bytes, {}, {}, {{"TMPDIR", "/nonexistent-kalimbro"}}));
  ASSERT_NO_FATAL_FAILURE(runEffect("t", "n"));
  ASSERT_NO_FATAL_FAILURE(runEffect("+", "n"));
  EXPECT_FALSE(s->find("Sem pasta").has_value()) << s->dump();
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving());
  EXPECT_TRUE(readFile(work("voz.wav")) == bytes) << "the working file is gone or changed";
  EXPECT_EQ(std::distance(fs::directory_iterator(s->workDir()), {}), 2) << "voz.wav and saida.wav only";
}

// Every kind of question says what its answers are on F1 and asks again,
// and ESC gives it up with "Desistiu..." and changes nothing: the file
// saved at the end is the one opened.
TEST_F(Editing, VolumeDownDroppedAndEveryQuestionGivenUpLeaveTheSoundAsItWas) {
  const std::vector<int16_t> original = loudSound();
  const std::string bytes = wavBytes(kRate, 16, 1, original);
  ASSERT_NO_FATAL_FAILURE(startWith(bytes, {{"b.wav", bytes}}));
  ASSERT_NO_FATAL_FAILURE(runEffect("-", "n"));
  // The effect was applied and heard before it was dropped.
  const std::vector<int16_t> softer = scaledByQuarters(original, 3);
  ASSERT_EQ(softer[9], -24576);
  EXPECT_TRUE(containsRun(heard(), softer)) << "the demonstration did not play the softer sound";

  // The values an effect asks for: nothing is worked or offered to keep.
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("l"));
  ASSERT_NO_FATAL_FAILURE(explainThenGiveUp("Sonoridade desejada em LUFS, Enter para -16: ",
                                            "De -70 a -5 LUFS: -16 para voz e podcast, -23 para rádio; ESC desiste"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("u"));
  ASSERT_NO_FATAL_FAILURE(
      explainThenGiveUp("Encurtar as pausas mais longas que quantos segundos? Enter para 1: ",
                        "Em segundos, por exemplo 0,5: as pausas mais longas ficam assim; ESC desiste"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  EXPECT_FALSE(s->find(kKeepEffect).has_value()) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt());

  // The main menu's commands, one question of each kind.
  struct Asked {
    std::vector<Input> keys;
    std::string_view question, help;
  };
  const Asked asked[] = {
      {{"r"}, "M remove entre cursor e ponto memorizado: ",
       "A antes do cursor, D depois, T tudo, M até o ponto memorizado; ESC desiste"},
      {{"m"}, "Qual o arquivo de som a misturar? ",
       "Digite o nome e Enter, ou seta abaixo para escolher na lista; ESC desiste"},
      {{"m", "b.wav", Key::Enter}, "Adição, Mistura ou Fundo sonoro? ",
       "A acrescenta, M mistura por cima, F fundo sonoro com percentuais; ESC desiste"},
      {{"d"}, "Vou recuperar a última versão salva, confirma? ", "S responde sim, N responde não, ESC desiste"},
      {{"s"}, "Mantenho parâmetros originais da gravação? ",
       "S salva como está; N pede novo nome, qualidade e canais; ESC desiste"},
      {{"x", "voz.wav", Key::Enter}, "Posso dividir em trechos iguais? ",
       "N extrai um trecho; ESC desiste; outra tecla divide em trechos iguais"},
      {{"c"}, "Deseja retornar os valores padrões? ",
       "S põe os valores padrões no formulário, N os de agora; ESC desiste"},
  };
  for (const Asked& a : asked) {
    SCOPED_TRACE(std::string(a.question));
    for (const Input& key : a.keys) ASSERT_TRUE(s->sendKey(key));
    ASSERT_NO_FATAL_FAILURE(explainThenGiveUp(a.question, a.help));
    ASSERT_TRUE(waitForPrompt("Desistiu..."));
  }
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->sendKey(Key::F5));
  ASSERT_NO_FATAL_FAILURE(
      explainThenGiveUp("Informe a posição em segundos: ", "Um número inteiro de segundos; ESC desiste"));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("Desistiu..."));
  // The end's question: F1, then any key but S goes back.
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForQuestion(kConfirmEnd));
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(waitForTextBelow(kConfirmEnd, "S termina o programa; outra tecla volta ao menu"));
  ASSERT_TRUE(s->type("x"));
  ASSERT_TRUE(waitForPrompt(kConfirmEnd));
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  EXPECT_EQ(*readFile(work("voz.wav")), bytes);

  // A new sound: the save question, then up to the moment of recording.
  ASSERT_TRUE(s->type("n"));
  ASSERT_NO_FATAL_FAILURE(explainThenGiveUp(kSaveQuestion, "S responde sim, N responde não, ESC desiste"));
  ASSERT_TRUE(waitForPrompt("Desistiu..."));
  ASSERT_TRUE(s->sendKeys({"n", "n"}));
  ASSERT_TRUE(s->waitForText("Informe o nome do arquivo", kLong));
  ASSERT_TRUE(s->sendKeys({"novo.wav", Key::Enter}));
  ASSERT_TRUE(waitForQuestion("Qualidade CD, rádio ou telefone? "));
  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(waitForTextBelow("Qualidade CD, rádio ou telefone? ", "C qualidade de CD, R de rádio, T de telefone; ESC desiste"));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestion("Estéreo ou Mono? "));
  ASSERT_TRUE(s->type("m"));
  ASSERT_NO_FATAL_FAILURE(explainThenGiveUp("Tecle Enter para gravar, ESC termina",
                                            "Enter começa a gravar e ESC termina a gravação; ESC agora desiste"));
  ASSERT_TRUE(waitForPrompt("Desistiu..."));
  EXPECT_FALSE(fs::exists(work("novo.wav")));
}

// ---- Remove and undo ----------------------------------------------------------------------

// A history past its disk limit is told once the effect is kept, on the
// effects screen above the next question (every line is spoken before the
// next is written), and it is still there back at the prompt.
TEST_F(Editing, AHistoryPastItsLimitIsToldOnTheEffectsScreen) {
  // A step keeps the frames before and after: 8 bytes a stereo frame, over 1 MB.
  const std::vector<int16_t> stereo(2 * 140000, 1000);
  ASSERT_NO_FATAL_FAILURE(startWith(wavBytes(44100, 16, 2, stereo), {}, {{"KALIMBRO", "MAX_HISTORICO", "1"}}));
  constexpr std::string_view kPastLimit = "O histórico de mudanças passou do limite de disco";
  ASSERT_TRUE(s->type("e"));
  ASSERT_TRUE(waitForQuestion(kWhichEffect));
  ASSERT_TRUE(s->type("+"));
  ASSERT_TRUE(waitForQuestionAbove(kKeepEffect));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForTextBelow(kWhichEffect, kPastLimit));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt(kPastLimit));
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving());
}

TEST_F(Editing, RemovingEverythingEmptiesTheSoundAndUndoBringsTheSavedOneBack) {
  const std::string bytes = wavBytes(kRate, 16, 1, rampSound(kRate, 1, 3));  // one second
  ASSERT_NO_FATAL_FAILURE(startWith(bytes));
  // What lies between the mark (the start) and the cursor at the end.
  ASSERT_TRUE(s->sendKeys({"t", Key::End}));
  ASSERT_TRUE(s->waitForText("Fim do som", kLong));
  ASSERT_TRUE(s->waitForQuiet());
  ASSERT_TRUE(s->type("d"));
  ASSERT_TRUE(s->waitForText("Trecho de 1,0 segundos", kLong));
  // Removing everything leaves the cursor where it was: at the start.
  ASSERT_TRUE(s->sendKey(Key::Home));
  ASSERT_TRUE(s->waitForText("Início do som", kLong));
  ASSERT_TRUE(s->waitForQuiet());
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("Trecho de"));
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForPrompt("Ok, toda gravação foi removida. 1,0 segundos"));

  // The play command's information tells an empty sound.
  constexpr std::string_view kHowToPlay = "Use espaço para tocar, F1 ajuda";
  const auto timeInPlay = [&](std::string_view expected) {
    ASSERT_TRUE(s->type("t"));
    ASSERT_TRUE(waitForQuestionAbove(kHowToPlay));
    ASSERT_TRUE(s->sendKey(Key::F6));
    // ESC once the line has begun: it cuts the speech short and is read
    // when the line is done.
    ASSERT_TRUE(waitForTextBelow("Tempo total: ", kHowToPlay));
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForTextBelow(expected, kHowToPlay));
    ASSERT_TRUE(waitForPrompt(expected));
  };
  ASSERT_NO_FATAL_FAILURE(timeInPlay("Tempo total: 0:0  posição do cursor: 0:0  percentual: 0"));

  ASSERT_TRUE(s->type("d"));
  ASSERT_TRUE(waitForQuestion("Vou recuperar a última versão salva, confirma? "));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForPrompt("Retornei ao último som gravado"));
  ASSERT_NO_FATAL_FAILURE(timeInPlay("Tempo total: 1:0  posição do cursor: 0:0  percentual: 0"));

  // Emptied again and saved: a file with a header and no data.
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForPrompt("Ok, toda gravação foi removida."));
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  const std::optional<std::string> empty = readFile(work("voz.wav"));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, wavBytes(kRate, 16, 1, {}));
}

// ---- Divide and extract ------------------------------------------------------------------

class DivideE2e : public Editing {
 protected:
  // 25 seconds at 8000 Hz, 8-bit mono; each byte tells its second and its
  // place in it, so a part taken from the wrong place shows.
  static std::vector<int16_t> longSound() {
    std::vector<int16_t> v(25 * kRate);
    for (size_t i = 0; i < v.size(); ++i) {
      const int byte = static_cast<int>(i / kRate) * 9 + static_cast<int>(i % 7) + 10;
      v[i] = static_cast<int16_t>((byte - 128) * 256);
    }
    return v;
  }
  static std::string slice(const std::vector<int16_t>& v, size_t fromSecond, size_t toSecond) {
    return wavBytes(kRate, 8, 1,
                    std::vector<int16_t>(v.begin() + static_cast<ptrdiff_t>(fromSecond * kRate),
                                         v.begin() + static_cast<ptrdiff_t>(toSecond * kRate)));
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        startWith(wavBytes(kRate, 16, 1, {5, 6, 7}), {{"longo.wav", wavBytes(kRate, 8, 1, longSound())}}));
    ASSERT_TRUE(s->type("x"));
    ASSERT_TRUE(waitForQuestionAbove("Informe o nome do arquivo original"));
    ASSERT_TRUE(s->sendKeys({"longo", Key::Enter}));
    ASSERT_TRUE(waitForQuestion("Posso dividir em trechos iguais? "));
    ASSERT_NO_FATAL_FAILURE(expectNameTwiceUnder("Informe o nome do arquivo original", "longo"));
  }
};

TEST_F(DivideE2e, TwentyFiveSecondsInTenSecondPartsGiveThreeFiles) {
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForQuestion("Informe em segundos o tamanho dos trechos: "));
  ASSERT_TRUE(s->sendKeys({"10", Key::Enter}));
  ASSERT_TRUE(waitForQuestionAbove("Informe iniciais dos arquivos de destino"));
  ASSERT_TRUE(s->sendKeys({"parte", Key::Enter}));
  ASSERT_TRUE(s->waitForText("Arquivo foi dividido.", kLong));
  ASSERT_TRUE(s->waitForText("Número de partes: 3", kLong));
  ASSERT_TRUE(waitForPrompt("Número de partes: 3"));

  const std::vector<int16_t> source = longSound();
  EXPECT_EQ(readFile(work("parte1.wav")), slice(source, 0, 10));
  EXPECT_EQ(readFile(work("parte2.wav")), slice(source, 10, 20));
  EXPECT_EQ(readFile(work("parte3.wav")), slice(source, 20, 25));
  EXPECT_FALSE(fs::exists(work("parte4.wav")));
  EXPECT_EQ(readFile(work("longo.wav")), wavBytes(kRate, 8, 1, source)) << "the source was changed";
}

TEST_F(DivideE2e, AStretchIsExtractedIntoANewFile) {
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForQuestion("Informe em segundos o ponto inicial: "));
  ASSERT_TRUE(s->sendKeys({"3", Key::Enter}));
  ASSERT_TRUE(waitForQuestion("Informe em segundos o ponto final  : "));
  ASSERT_TRUE(s->sendKeys({"5", Key::Enter}));
  ASSERT_TRUE(waitForQuestionAbove("Informe nome do arquivo de destino: "));
  ASSERT_TRUE(s->sendKeys({"trecho", Key::Enter}));
  ASSERT_TRUE(waitForPrompt("Trecho do arquivo foi extraido."));
  ASSERT_NO_FATAL_FAILURE(expectNameTwiceUnder("Informe nome do arquivo de destino", "trecho"));
  // A name without an extension is given ".wav".
  EXPECT_EQ(readFile(work("trecho.wav")), slice(longSound(), 3, 5));
  // The working sound is not touched.
  ASSERT_NO_FATAL_FAILURE(saveWithF2());
  EXPECT_EQ(readWav(work("voz.wav"))->samples, (std::vector<int16_t>{5, 6, 7}));
}

// ---- Mixing -----------------------------------------------------------------------------

TEST_F(Editing, AdditionAtTheStartPutsTheSecondSoundFirst) {
  const std::vector<int16_t> working = rampSound(2000, 100, 2);
  // Stereo: made mono by averaging the channels before it goes in.
  std::vector<int16_t> second;
  for (int i = 0; i < 800; ++i) {
    second.push_back(static_cast<int16_t>(-4000 + 4 * i));  // left
    second.push_back(static_cast<int16_t>(2000 + 8 * i));   // right
  }
  ASSERT_NO_FATAL_FAILURE(
      startWith(wavBytes(kRate, 16, 1, working), {{"outro.wav", wavBytes(kRate, 16, 2, second)}}));
  ASSERT_TRUE(s->type("m"));
  ASSERT_TRUE(waitForQuestionAbove("Qual o arquivo de som a misturar? "));
  ASSERT_TRUE(s->sendKeys({"outro.wav", Key::Enter}));
  ASSERT_TRUE(waitForQuestion("Adição, Mistura ou Fundo sonoro? "));
  ASSERT_NO_FATAL_FAILURE(expectNameTwiceUnder("Qual o arquivo de som a misturar?", "outro.wav"));
  ASSERT_TRUE(s->type("a"));
  ASSERT_TRUE(waitForQuestion("Mistura no início, no cursor ou no final? "));
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt("Sons misturados"));
  ASSERT_NO_FATAL_FAILURE(saveWithF2());

  const std::optional<WavContents> saved = readWav(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->channels, 1);
  ASSERT_EQ(saved->samples.size(), 2800u);
  EXPECT_EQ(saved->samples[0], -1000);  // (-4000 + 2000) / 2
  EXPECT_EQ(saved->samples[1], -994);
  EXPECT_EQ(saved->samples[799], -1000 + 6 * 799);
  EXPECT_EQ(saved->samples[800], 100);  // the working sound follows, unchanged
  EXPECT_EQ(std::vector<int16_t>(saved->samples.begin() + 800, saved->samples.end()), working);
  EXPECT_EQ(readFile(work("outro.wav")), wavBytes(kRate, 16, 2, second));
}

// ---- Undo and redo (Control+Z, Control+Y) ---------------------------------------------------

TEST_F(Editing, UndoAndRedoWalkBackAndForthThroughMixEffectAndRemoval) {
  const std::vector<int16_t> working = rampSound(2000, 100, 2);
  const std::vector<int16_t> second = rampSound(800, -4000, 4);
  ASSERT_NO_FATAL_FAILURE(
      startWith(wavBytes(kRate, 16, 1, working), {{"outro.wav", wavBytes(kRate, 16, 1, second)}}));
  // Delete clears the screen first: each answer is then the only one.
  const auto clearScreen = [&] {
    ASSERT_TRUE(s->sendKey(Key::Delete));
    ASSERT_TRUE(s->waitUntil([&] { return s->cursor().row == 0 && s->findAll(kPrompt).size() == 1; },
                             "the screen cleared", kLong));
  };
  const auto savedSamples = [&] {
    clearScreen();
    saveWithF2();
    const std::optional<WavContents> saved = readWav(work("voz.wav"));
    return saved ? saved->samples : std::vector<int16_t>{1};
  };
  const auto press = [&](std::string_view key, std::string_view said) {
    clearScreen();
    ASSERT_TRUE(s->sendRaw(key));
    ASSERT_TRUE(waitForPrompt(said));
  };
  constexpr std::string_view kUndo = "\x1a", kRedo = "\x19";

  ASSERT_TRUE(s->type("m"));
  ASSERT_TRUE(waitForQuestionAbove("Qual o arquivo de som a misturar? "));
  ASSERT_TRUE(s->sendKeys({"outro.wav", Key::Enter}));
  ASSERT_TRUE(waitForQuestion("Adição, Mistura ou Fundo sonoro? "));
  ASSERT_TRUE(s->type("a"));
  ASSERT_TRUE(waitForQuestion("Mistura no início, no cursor ou no final? "));
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt("Sons misturados"));
  std::vector<int16_t> mixed = second;
  mixed.insert(mixed.end(), working.begin(), working.end());
  // Saved in between: undo goes on past a save.
  EXPECT_EQ(savedSamples(), mixed);
  ASSERT_NO_FATAL_FAILURE(runEffect("+", "s"));
  const std::vector<int16_t> louder = scaledByQuarters(mixed, 5);
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForPrompt("Ok, toda gravação foi removida."));

  ASSERT_NO_FATAL_FAILURE(press(kUndo, "Desfeito: remoção de 0,4 segundos"));
  EXPECT_EQ(savedSamples(), louder);
  ASSERT_NO_FATAL_FAILURE(press(kUndo, "Desfeito: efeito de 0,4 segundos"));
  EXPECT_EQ(savedSamples(), mixed);
  ASSERT_NO_FATAL_FAILURE(press(kUndo, "Desfeito: mistura de 0,1 segundos"));
  EXPECT_EQ(savedSamples(), working);
  ASSERT_NO_FATAL_FAILURE(press(kUndo, "Nada a desfazer"));

  ASSERT_NO_FATAL_FAILURE(press(kRedo, "Refeito: mistura de 0,1 segundos"));
  ASSERT_NO_FATAL_FAILURE(press(kRedo, "Refeito: efeito de 0,4 segundos"));
  EXPECT_EQ(savedSamples(), louder);
  // A new change after an undo leaves nothing to redo.
  ASSERT_NO_FATAL_FAILURE(press(kUndo, "Desfeito: efeito de 0,4 segundos"));
  ASSERT_NO_FATAL_FAILURE(runEffect("-", "s"));
  ASSERT_NO_FATAL_FAILURE(press(kRedo, "Nada a refazer"));
  EXPECT_EQ(savedSamples(), scaledByQuarters(mixed, 3));
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving());
}

}  // namespace
}  // namespace kalimbro::e2e
