// The working file end to end: a sound opened from the command line, a new
// one recorded at start-up or with N, takes recorded with G and saved with
// F2, save-as to MP3 through the real LAME, undo, and the save at the end.
// Sound comes in and goes out through the program's "arquivo" devices, so
// what is recorded is a WAV file of the test and what is played lands in
// another.
#include <signal.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "tests/e2e/harness.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kConfirmEnd = "Confirma o fim do programa? ";
constexpr std::string_view kSaveQuestion = "Quer salvar o arquivo? ";
constexpr std::string_view kNextTake = "Aperte enter para continuar gravação, ESC termina";
// Said with a line end: the answer is read on the line below.
constexpr std::string_view kStoreQuestion = "Já posso armazenar em disco?";
constexpr std::string_view kQuality = "Qualidade CD, rádio ou telefone? ";
constexpr std::string_view kChannels = "Estéreo ou Mono? ";
constexpr std::string_view kPressEnter = "Tecle Enter para gravar, ESC termina";
constexpr std::string_view kSaved = "OK, arquivo salvo";
constexpr std::string_view kBadFile = "Arquivo incompatível com este programa";
constexpr std::string_view kBadMp3 = "Conversão MP3 foi mal sucedida";
constexpr std::string_view kRecordingError = "Erro de gravação";
constexpr std::string_view kDecoding = "Vou converter de MP3 para WAV, aguarde";
constexpr std::string_view kEncoding = "Vou converter de WAV para MP3, aguarde";
// Followed by the name the old copy of an MP3 was moved to, or the name
// of the copy that holds the edits.
constexpr std::string_view kKeptAs = "O WAV antigo deste MP3 foi guardado como ";
constexpr std::string_view kEditsIn = "As alterações continuam no arquivo ";
constexpr std::string_view kNoInputDevice = "Não foi possível abrir o dispositivo de entrada de som";
// The information command's quality line, under which its last line and
// then the prompt follow.
constexpr std::string_view kInformationQuality = "Qualidade: ";
// Waits that may include speech, which plays at its real rate.
constexpr milliseconds kLong{60000};

constexpr uint32_t kInputRate = 8000;
constexpr int kInputFrames = 8000;  // one second

// The one-second sound the input device reads: a ramp that never repeats
// a value and is never silent.
std::vector<int16_t> inputSamples() {
  std::vector<int16_t> v(kInputFrames);
  for (int i = 0; i < kInputFrames; ++i) v[static_cast<size_t>(i)] = static_cast<int16_t>(i + 1);
  return v;
}

// The mean magnitude of `samples` from `first` to `end`.
double meanLevel(const std::vector<int16_t>& samples, size_t first, size_t end) {
  double sum = 0;
  for (size_t i = first; i < end && i < samples.size(); ++i) sum += std::abs(samples[i]);
  return end > first ? sum / static_cast<double>(end - first) : 0;
}

// An MP3 decoded by the real LAME, as any other player would hear it.
std::optional<WavContents> decodedByLame(const fs::path& mp3) {
  const fs::path wav = mp3.string() + ".lame.wav";
  const std::string command = "lame --quiet --decode '" + mp3.string() + "' '" + wav.string() + "'";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  std::optional<WavContents> decoded = readWav(wav);
  fs::remove(wav);
  return decoded;
}

class WorkFile : public testing::Test {
 protected:
  // The devices read entrada.wav and write saida.wav of the working
  // directory; LAME is the real one unless `lame` says otherwise.
  static Options options(std::vector<std::string> args, std::vector<std::pair<std::string, std::string>> files,
                         std::string lame = "lame", std::string input = "arquivo:entrada.wav") {
    Options o;
    o.args = std::move(args);
    o.files = std::move(files);
    o.files.emplace_back("entrada.wav", wavBytes(kInputRate, 16, 1, inputSamples()));
    o.settings = {
        {"SOM", "SAIDA", "arquivo:saida.wav"},
        {"SOM", "ENTRADA", input},
        {"KALIMBRO", "MILI_ECO", "300"},
        {"KALIMBRO", "PROGLAME", lame},
        {"KALIMBRO", "LAME_IN_CMD", "-h"},
        {"KALIMBRO", "LAME_OUT_CMD", "--decode"},
    };
    return o;
  }

  void start(const Options& o) {
    std::string error;
    s = Session::start(o, &error);
    ASSERT_NE(s, nullptr) << error;
  }

  fs::path work(std::string_view name) const { return s->workDir() / name; }

  testing::AssertionResult waitForPrompt(std::string_view below = {}, milliseconds timeout = kLong) {
    return s->waitForPrompt(kPrompt, below, timeout);
  }

  testing::AssertionResult waitForText(std::string_view text) { return s->waitForText(text, kLong); }

  // The cursor right after the last occurrence of `question`.
  testing::AssertionResult waitForQuestion(std::string_view question, milliseconds timeout = kLong) {
    return s->waitUntil(
        [&] {
          std::vector<Pos> found = s->findAll(question);
          if (found.empty()) return false;
          const int columns = static_cast<int>(fromUtf8Length(question));
          return s->cursor() == Pos{found.back().row, found.back().col + columns};
        },
        "the question \"" + std::string(question) + "\"", timeout);
  }
  static size_t fromUtf8Length(std::string_view text) {
    size_t n = 0;
    for (const char c : text)
      if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++n;
    return n;
  }

  // Waits until the file holds at least `bytes` bytes: a recording has
  // taken in at least that much.
  testing::AssertionResult waitForSize(const fs::path& path, uintmax_t bytes) {
    return s->waitUntil(
        [&] {
          std::error_code ec;
          const uintmax_t size = fs::file_size(path, ec);
          return !ec && size >= bytes;
        },
        path.string() + " of " + std::to_string(bytes) + " bytes", kLong);
  }
  // The recording file of the last take: a WAV file in the program's
  // state folder, where it outlives the program.
  std::optional<fs::path> takeFile() {
    std::optional<fs::path> last;
    std::error_code ec;
    for (auto e = fs::recursive_directory_iterator(s->stateHome(), ec); !ec && e != fs::end(e); e.increment(ec))
      if (e->is_regular_file() && e->path().extension() == ".wav" && (!last || *last < e->path())) last = e->path();
    return last;
  }

  // G at the prompt and Enter: a take that goes on until the whole input
  // (and more: the device gives silence after its end) is in its file.
  void recordTheWholeInputInATake() {
    ASSERT_TRUE(s->type("g"));
    ASSERT_TRUE(waitForText(kNextTake));
    ASSERT_TRUE(s->sendKey(Key::Enter));
    ASSERT_TRUE(s->waitUntil([&] { return takeFile().has_value(); }, "the take's file"));
    ASSERT_TRUE(waitForSize(*takeFile(), 44 + 2 * kInputFrames));
  }

  // Starts on a name that does not exist and begins to record it with the
  // quality and channels answered.
  void startRecordingNewFile(const Options& o, std::string_view quality, std::string_view channels) {
    ASSERT_NO_FATAL_FAILURE(start(o));
    ASSERT_TRUE(waitForQuestion(kQuality));
    ASSERT_TRUE(s->type(quality));
    ASSERT_TRUE(waitForQuestion(kChannels));
    ASSERT_TRUE(s->type(channels));
    ASSERT_TRUE(waitForText(kPressEnter));
    ASSERT_TRUE(s->sendKey(Key::Enter));
  }

  // S at the prompt, not keeping the parameters, and a new name.
  void saveAsNewName(std::string_view name) {
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(waitForQuestion("Mantenho parâmetros originais da gravação? "));
    ASSERT_TRUE(s->type("n"));
    ASSERT_TRUE(waitForText("Informe o novo nome do arquivo:"));
    ASSERT_TRUE(s->sendKeys({name, Key::Enter}));
  }

  // S at the prompt under a new MP3 name, not keeping the parameters:
  // radio quality, mono, the bit rate offered.
  void saveAsRadioMono(std::string_view mp3Name) {
    ASSERT_NO_FATAL_FAILURE(saveAsNewName(mp3Name));
    ASSERT_TRUE(waitForQuestion(kQuality));
    ASSERT_TRUE(s->type("r"));
    ASSERT_TRUE(waitForQuestion(kChannels));
    ASSERT_TRUE(s->type("m"));
    ASSERT_TRUE(waitForQuestion("Taxa de bits em kb/s, Enter para 128: "));
    ASSERT_TRUE(s->sendKey(Key::Enter));
  }

  // E, +, kept: the volume up by a quarter, back at the prompt.
  void keepVolumeUp() {
    ASSERT_TRUE(s->type("e"));
    ASSERT_TRUE(waitForQuestion("Qual efeito? "));
    ASSERT_TRUE(s->type("+"));
    ASSERT_TRUE(waitForQuestion("Deseja manter o efeito?(S/N)"));
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(waitForQuestion("Qual efeito? "));
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForPrompt("Qual efeito? "));
  }

  // ESC, S at the end question, then `answer` to the save question; the
  // program says `heard` (if given) on its way out, ends with status 0 and
  // removes its temporary files.
  void endSaying(const Input& answer, std::string_view heard = {}) {
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForQuestion(kConfirmEnd));
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(waitForQuestion(kSaveQuestion));
    ASSERT_TRUE(s->sendKey(answer));
    if (!heard.empty()) {
      ASSERT_TRUE(waitForText(heard));
    }
    auto status = s->waitForExit(kLong);
    ASSERT_TRUE(status.has_value()) << "still running\n" << s->dump();
    EXPECT_TRUE(status->exitedWith(0)) << *status << "\n" << s->dump();
    EXPECT_TRUE(fs::is_empty(s->tempDir())) << "temporary files were left behind";
  }

  // The same working directory and state folder for every session that
  // goes through here, as for one user running the program again and again.
  Options keptBetweenRuns(Options o) {
    if (kept_.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kalimbro-runs-XXXXXX";
      if (mkdtemp(pattern.data()) != nullptr) kept_ = pattern;
    }
    o.workDir = kept_ / "work";
    o.env.emplace_back("XDG_STATE_HOME", (kept_ / "state").string());
    return o;
  }
  void TearDown() override {
    s.reset();
    std::error_code ec;
    if (!kept_.empty()) fs::remove_all(kept_, ec);
  }

  std::unique_ptr<Session> s;
  fs::path kept_;
};

TEST_F(WorkFile, AQuotedNameWithBlanksOpensAndInformationDescribesIt) {
  std::vector<int16_t> stereo(2 * 20000, 0);  // 2,5 seconds
  // Times as minutes, seconds and tenths, as set for long sounds.
  Options o = options({"meu som.wav"}, {{"meu som.wav", wavBytes(8000, 8, 2, stereo)}});
  o.settings.push_back({"KALIMBRO", "TEMPO_HORAS", "S"});
  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_EQ(s->title(), "KALIMBRO meu som.wav");
  EXPECT_FALSE(s->find("Informe o nome do arquivo").has_value()) << s->dump();
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Arquivo de trabalho: meu som.wav").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Duração: 0:02,5").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Velocidade: 8000").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Qualidade: 8 Bits").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Stereo").has_value()) << s->dump();
  const std::string before = *readFile(work("meu som.wav"));
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  EXPECT_EQ(*readFile(work("meu som.wav")), before);
}

TEST_F(WorkFile, GRecordsATakeThatF2SavesAfterTheOldSound) {
  const std::vector<int16_t> old(800, 1234);
  ASSERT_NO_FATAL_FAILURE(start(options({"voz.wav"}, {{"voz.wav", wavBytes(kInputRate, 16, 1, old)}})));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(recordTheWholeInputInATake());
  EXPECT_EQ(s->title(), "KALIMBRO Gravando... voz.wav");
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll(kNextTake).size() == 2; }, "the next take's prompt", kLong));

  // Page Up plays the last ten seconds: here all of it, into saida.wav.
  ASSERT_TRUE(s->sendKey(Key::PageUp));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll(kNextTake).size() == 3; }, "the prompt after Page Up", kLong));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForText(kStoreQuestion));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kStoreQuestion));
  EXPECT_FALSE(takeFile().has_value()) << "the take's file outlived the command";
  EXPECT_EQ(readWav(work("voz.wav"))->samples, old) << "answered N: nothing saved yet";

  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  const std::optional<WavContents> saved = readWav(work("voz.wav"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->sampleRate, kInputRate);
  EXPECT_EQ(saved->channels, 1);
  const std::vector<int16_t> input = inputSamples();
  ASSERT_GE(saved->samples.size(), old.size() + input.size());
  EXPECT_EQ(std::vector<int16_t>(saved->samples.begin(), saved->samples.begin() + 800), old);
  EXPECT_EQ(std::vector<int16_t>(saved->samples.begin() + 800, saved->samples.begin() + 800 + kInputFrames), input);
  for (size_t i = 800 + kInputFrames; i < saved->samples.size(); ++i)
    ASSERT_EQ(saved->samples[i], 0) << "after the input, silence; frame " << i;

  // What Page Up played reached the output device: a run of the old
  // sound's value, in whatever format the output file took from the first
  // sound played into it.
  EXPECT_TRUE(s->waitUntil(
      [&] {
        const std::optional<WavContents> out = readWav(work("saida.wav"));
        if (!out || out->channels == 0) return false;
        const int16_t value = out->bits == 16 ? 1234 : static_cast<int16_t>((1234 >> 8) * 256);
        size_t run = 0;
        for (size_t i = 0; i < out->samples.size(); i += out->channels) {
          run = out->samples[i] == value ? run + 1 : 0;
          if (run >= 100) return true;
        }
        return false;
      },
      "the replayed sound in saida.wav", kLong));
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
}

TEST_F(WorkFile, ANameThatDoesNotExistIsRecordedAtStartUp) {
  ASSERT_NO_FATAL_FAILURE(startRecordingNewFile(options({"gravado"}, {}), "c", "e"));
  // One second at 44100 Hz, 16-bit stereo.
  ASSERT_TRUE(waitForSize(work("gravado.wav"), 44 + 44100 * 4));
  EXPECT_EQ(s->title(), "KALIMBRO Gravando... gravado.wav");
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_EQ(s->title(), "KALIMBRO gravado.wav");
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Velocidade: 44100").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Qualidade: 16 Bits").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Stereo").has_value()) << s->dump();
  const std::optional<WavContents> recorded = readWav(work("gravado.wav"));
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(recorded->sampleRate, 44100u);
  EXPECT_EQ(recorded->channels, 2);
  ASSERT_NO_FATAL_FAILURE(endSaying(Key::Enter));
  EXPECT_EQ(readWav(work("gravado.wav"))->dataBytes, recorded->dataBytes);
}

TEST_F(WorkFile, ANewFlacIsRecordedAsWavAsideAndWrittenAsFlac) {
  ASSERT_NO_FATAL_FAILURE(startRecordingNewFile(options({"nova.flac"}, {}), "t", "m"));
  // The take goes to a WAV file in the temporary folder: a second of it.
  const auto take = [&]() -> std::optional<fs::path> {
    std::error_code ec;
    for (auto e = fs::recursive_directory_iterator(s->tempDir(), ec); !ec && e != fs::end(e); e.increment(ec))
      if (e->is_regular_file() && e->file_size() >= 44 + 11025) return e->path();
    return std::nullopt;
  };
  ASSERT_TRUE(s->waitUntil([&] { return take().has_value(); }, "a second in the take", kLong));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_EQ(s->title(), "KALIMBRO nova.flac");
  const std::optional<std::string> flac = readFile(work("nova.flac"));
  ASSERT_TRUE(flac.has_value());
  EXPECT_EQ(flac->substr(0, 4), "fLaC");
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Qualidade: 8 Bits").has_value()) << s->dump();
  ASSERT_NO_FATAL_FAILURE(endSaying(Key::Enter));
  EXPECT_EQ(readFile(work("nova.flac"))->substr(0, 4), "fLaC");
  EXPECT_FALSE(fs::exists(work("nova.flac.wav")));
}

TEST_F(WorkFile, NRecordsANewFileAfterOfferingToSave) {
  ASSERT_NO_FATAL_FAILURE(start(options({"voz.wav"}, {{"voz.wav", wavBytes(22050, 16, 1, {1, 2, 3})}})));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForQuestion(kSaveQuestion));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForText("Novo som criado"));
  ASSERT_TRUE(waitForText("Informe o nome do arquivo"));
  ASSERT_TRUE(s->sendKeys({"novo", Key::Enter}));
  ASSERT_TRUE(waitForQuestion(kQuality));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForQuestion(kChannels));
  ASSERT_TRUE(s->type("m"));
  ASSERT_TRUE(waitForText(kPressEnter));
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(waitForSize(work("novo.wav"), 44 + 11025));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("Carregando som"));
  EXPECT_EQ(s->title(), "KALIMBRO novo.wav");
  // The typed name, then the chosen name on a line of its own.
  const std::optional<Pos> asked = s->find("Informe o nome do arquivo");
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(s->row(asked->row + 1), "novo") << s->dump();
  EXPECT_EQ(s->row(asked->row + 2), "novo") << s->dump();
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Arquivo de trabalho: novo.wav").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Velocidade: 11025").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Qualidade: 8 Bits").has_value()) << s->dump();
  const std::optional<WavContents> recorded = readWav(work("novo.wav"));
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(recorded->bits, 8);
  EXPECT_GE(recorded->dataBytes, 11025u);
  EXPECT_EQ(readWav(work("voz.wav"))->samples, (std::vector<int16_t>{1, 2, 3}));
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
}

TEST_F(WorkFile, AHangUpWhileRecordingKeepsTheRecordingAndATakeWithoutAnInputDeviceIsTold) {
  ASSERT_NO_FATAL_FAILURE(startRecordingNewFile(options({"novo"}, {}), "t", "m"));
  // More than a second at 11025 Hz, 8-bit mono; then the terminal closes.
  ASSERT_TRUE(waitForSize(work("novo.wav"), 44 + 11025 + 2000));
  ASSERT_EQ(kill(s->pid(), SIGHUP), 0);
  const std::optional<ExitStatus> status = s->waitForExit(kLong);
  ASSERT_TRUE(status.has_value()) << s->dump();
  EXPECT_FALSE(status->exited) << *status;

  // The header holds every byte that reached the file.
  const std::optional<std::string> file = readFile(work("novo.wav"));
  ASSERT_TRUE(file.has_value());
  ASSERT_GE(file->size(), 44u + 11025);
  EXPECT_EQ(file->substr(4, 4), le32(uint32_t(file->size() - 8)));
  EXPECT_EQ(file->substr(40, 4), le32(uint32_t(file->size() - 44)));
  const std::optional<WavContents> recorded = readWav(work("novo.wav"));
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(recorded->sampleRate, 11025u);
  EXPECT_EQ(recorded->bits, 8);

  // Opened again (with an input device that cannot open), it is the sound.
  ASSERT_NO_FATAL_FAILURE(start(options({"novo.wav"}, {{"novo.wav", *file}}, "lame", "arquivo:/nonexistent/x.wav")));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_FALSE(s->find(kBadFile).has_value()) << s->dump();
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Velocidade: 11025").has_value()) << s->dump();
  EXPECT_TRUE(s->find("Qualidade: 8 Bits").has_value()) << s->dump();
  // A take that cannot be recorded is told why, and adds nothing.
  ASSERT_TRUE(s->type("g"));
  ASSERT_TRUE(waitForText(kNextTake));
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(waitForText(kNoInputDevice));
  ASSERT_TRUE(s->waitUntil([&] { return s->findAll(kNextTake).size() == 2; }, "the next take's prompt", kLong));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForText(kStoreQuestion));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kStoreQuestion));
  ASSERT_NO_FATAL_FAILURE(endSaying("s"));
  const std::optional<WavContents> saved = readWav(work("novo.wav"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->dataBytes, recorded->dataBytes);
  EXPECT_EQ(saved->samples, recorded->samples);
}

// Takes cut off by the end of the program are offered when their own sound
// opens again, never for another of the same name; at a start without a
// file, by their sound's full name. Added to the sound, or kept in a file
// beside it; a normal end leaves nothing in the state folder.
TEST_F(WorkFile, TakesCutOffBySignalsComeBackAtTheNextStart) {
  std::string root = (fs::temp_directory_path() / "kalimbro-takes-XXXXXX").string();
  ASSERT_NE(mkdtemp(root.data()), nullptr);
  const fs::path shared = fs::canonical(root);
  const std::vector<int16_t> old(800, 1234);
  Options o = options({"voz.wav"}, {{"voz.wav", wavBytes(kInputRate, 16, 1, old)}});
  o.workDir = shared / "work";
  o.env = {{"XDG_STATE_HOME", (shared / "state").string()}};
  const fs::path state = shared / "state" / "kalimbro";
  const std::vector<int16_t> input = inputSamples();
  // G, a take, and `signal` once the whole input is in the take's file.
  const auto recordTakeThenEnd = [&](int signal) {
    ASSERT_TRUE(waitForPrompt());
    ASSERT_NO_FATAL_FAILURE(recordTheWholeInputInATake());
    ASSERT_EQ(kill(s->pid(), signal), 0);
    ASSERT_TRUE(s->waitForExit(kLong).has_value()) << s->dump();
  };
  constexpr std::string_view kFound = "Gravação interrompida de voz.wav, ";
  constexpr std::string_view kAdd = "Acrescento ao fim deste som? ";
  constexpr std::string_view kOpen = "Abro este som? ";
  // No name given, the selector given up: the take is told by its sound's
  // full name.
  const auto startWithoutFile = [&] {
    Options none = o;
    none.args.clear();
    ASSERT_NO_FATAL_FAILURE(start(none));
    ASSERT_TRUE(waitForText("Informe o nome do arquivo"));
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForQuestion(kOpen));
    EXPECT_TRUE(s->find("Gravação interrompida de " + (shared / "work" / "voz.wav").string() + ", ").has_value())
        << s->dump();
  };

  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_NO_FATAL_FAILURE(recordTakeThenEnd(SIGTERM));
  o.files.clear();

  // Another folder's voz.wav is another sound: not offered, and saved as it was.
  Options other = o;
  other.workDir = shared / "outra";
  const std::string otherBytes = wavBytes(kInputRate, 16, 1, std::vector<int16_t>(600, -777));
  other.files = {{"voz.wav", otherBytes}};
  ASSERT_NO_FATAL_FAILURE(start(other));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_FALSE(s->find("Gravação interrompida").has_value()) << s->dump();
  ASSERT_NO_FATAL_FAILURE(endSaying("s"));
  EXPECT_EQ(readFile(shared / "outra" / "voz.wav"), otherBytes);
  ASSERT_TRUE(takeFile().has_value()) << "the take was lost";
  EXPECT_EQ(std::distance(fs::directory_iterator(state), fs::directory_iterator()), 1)
      << "a normal end left the other sound's state folder";

  // Declined at a start without a file, it stays for another time.
  ASSERT_NO_FATAL_FAILURE(startWithoutFile());
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kOpen));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForQuestion(kConfirmEnd));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(s->waitForExit(kLong).has_value()) << s->dump();
  ASSERT_TRUE(takeFile().has_value()) << "the take was lost";
  EXPECT_EQ(readWav(shared / "work" / "voz.wav")->samples, old);

  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForQuestion(kAdd));
  EXPECT_TRUE(s->find(kFound).has_value()) << s->dump();
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForPrompt(kAdd));
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  std::optional<WavContents> saved = readWav(shared / "work" / "voz.wav");
  ASSERT_TRUE(saved.has_value());
  ASSERT_GE(saved->samples.size(), old.size() + input.size());
  EXPECT_EQ(std::vector<int16_t>(saved->samples.begin(), saved->samples.begin() + 800), old);
  EXPECT_EQ(std::vector<int16_t>(saved->samples.begin() + 800, saved->samples.begin() + 800 + kInputFrames), input);
  const size_t savedFrames = saved->samples.size();

  // Opened from a start without a file and declined there, a take is kept
  // beside its sound, and the sound stays as saved.
  ASSERT_NO_FATAL_FAILURE(recordTakeThenEnd(SIGHUP));
  ASSERT_NO_FATAL_FAILURE(startWithoutFile());
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForQuestion(kAdd));
  EXPECT_EQ(s->title(), "KALIMBRO " + (shared / "work" / "voz.wav").string());
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt(kAdd));
  std::optional<fs::path> kept;
  for (const auto& e : fs::directory_iterator(shared / "work"))
    if (e.path().filename().string().starts_with("voz-gravacao-")) kept = e.path();
  ASSERT_TRUE(kept.has_value()) << s->dump();
  EXPECT_TRUE(s->find("A gravação foi guardada em " + shared.string()).has_value()) << s->dump();
  const std::optional<WavContents> take = readWav(*kept);
  ASSERT_TRUE(take.has_value());
  ASSERT_GE(take->samples.size(), input.size());
  EXPECT_EQ(std::vector<int16_t>(take->samples.begin(), take->samples.begin() + kInputFrames), input);
  EXPECT_FALSE(takeFile().has_value()) << "the take stayed in the state folder too";
  ASSERT_NO_FATAL_FAILURE(endSaying("s"));
  EXPECT_EQ(readWav(shared / "work" / "voz.wav")->samples.size(), savedFrames);
  EXPECT_TRUE(fs::is_empty(state)) << "a normal end left state behind";
  s.reset();
  fs::remove_all(shared);
}

TEST_F(WorkFile, FilesOfOtherWritersOpenAndSaveAsCanonicalWav) {
  const std::vector<int16_t> samples = {1000, -1000, 300, -300, 32767, -32768, 5, 6};
  const std::string canonical = wavBytes(22050, 16, 2, samples);
  const std::string frames = canonical.substr(44);
  const std::string upToSize = canonical.substr(0, 40);
  const std::vector<std::pair<std::string, std::string>> variants = {
      {"extensible PCM, chunks before the format, an odd chunk and its pad",
       riff(chunk("JUNK", std::string(28, '\0')) + chunk("bext", "abc") + '\0' +
            chunk("fmt ", extensibleFormat(2, 22050, 16)) + chunk("LIST", "INFOa") + '\0' + chunk("data", frames))},
      {"size of a stream", upToSize + le32(0xFFFFFFFF) + frames},
      {"size never written", upToSize + le32(0) + frames},
      {"size past the end", upToSize + le32(1000000) + frames + "\x01"},
  };
  for (const auto& [what, bytes] : variants) {
    SCOPED_TRACE(what);
    ASSERT_NO_FATAL_FAILURE(start(options({"outro.wav"}, {{"outro.wav", bytes}})));
    ASSERT_TRUE(waitForPrompt());
    EXPECT_FALSE(s->find(kBadFile).has_value()) << s->dump();
    // Saved unchanged, the file stays as its writer left it; saved as it
    // is (O) under another name, the sound is the canonical file.
    ASSERT_TRUE(s->sendKey(Key::F2));
    ASSERT_TRUE(waitForPrompt(kSaved));
    EXPECT_EQ(readFile(work("outro.wav")), bytes);
    ASSERT_NO_FATAL_FAILURE(saveAsNewName("copia.wav"));
    ASSERT_TRUE(waitForQuestion(kQuality));
    ASSERT_TRUE(s->type("o"));
    ASSERT_TRUE(waitForPrompt(kQuality));
    EXPECT_EQ(readFile(work("copia.wav")), canonical);
    ASSERT_NO_FATAL_FAILURE(endSaying("n"));
    fs::remove(work("copia.wav"));
  }
}

// An ID3 tag or an MPEG frame sync, and more than a few bytes.
bool looksLikeMp3(const std::optional<std::string>& bytes) {
  return bytes.has_value() && bytes->size() > 1000 &&
         (bytes->compare(0, 3, "ID3") == 0 ||
          (static_cast<uint8_t>((*bytes)[0]) == 0xFF && (static_cast<uint8_t>((*bytes)[1]) & 0xE0) == 0xE0));
}

TEST_F(WorkFile, F2UnderAnMp3NameAndSaveAsMp3LeaveRealMp3sAndNoWavTwin) {
  std::vector<int16_t> tone(22050);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>((i % 50) * 400 - 10000);
  const std::string leftOver = wavBytes(8000, 16, 1, std::vector<int16_t>(100, 77));
  ASSERT_NO_FATAL_FAILURE(
      start(options({"voz.wav"}, {{"voz.wav", wavBytes(22050, 16, 1, tone)}, {"y.mp3.wav", leftOver}})));
  ASSERT_TRUE(waitForPrompt());
  // F3 forgets the name; F2 then asks for one. Given an MP3 name it writes
  // that MP3 before it says the file is saved; the WAV found under the
  // twin's name is kept under another.
  ASSERT_TRUE(s->sendKey(Key::F3));
  ASSERT_TRUE(waitForQuestion(kSaveQuestion));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt("Ok"));
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForText("Informe o nome do arquivo"));
  ASSERT_TRUE(s->sendKeys({"y.mp3", Key::Enter}));
  ASSERT_TRUE(waitForPrompt(kSaved));
  EXPECT_TRUE(s->find(std::string(kKeptAs) + "y.mp3.anterior.wav").has_value()) << s->dump();
  EXPECT_TRUE(s->find(kEncoding).has_value()) << s->dump();
  EXPECT_TRUE(looksLikeMp3(readFile(work("y.mp3"))));
  EXPECT_FALSE(fs::exists(work("y.mp3.wav")));
  EXPECT_EQ(readFile(work("y.mp3.anterior.wav")), leftOver);

  // Save-as onto another existing file asks first; N writes nothing.
  const std::optional<std::string> voz = readFile(work("voz.wav"));
  ASSERT_NO_FATAL_FAILURE(saveAsNewName("voz.wav"));
  ASSERT_TRUE(waitForQuestion("O arquivo voz.wav já existe. Substituo? "));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt("Desistiu..."));
  EXPECT_EQ(readFile(work("voz.wav")), voz);

  ASSERT_NO_FATAL_FAILURE(saveAsRadioMono("b.mp3"));
  ASSERT_TRUE(waitForText(kEncoding));
  ASSERT_TRUE(waitForPrompt(kEncoding));
  EXPECT_FALSE(s->find(kBadMp3).has_value()) << s->dump();
  EXPECT_EQ(s->title(), "KALIMBRO b.mp3.wav");
  const std::optional<std::string> encoded = readFile(work("b.mp3"));
  ASSERT_TRUE(encoded.has_value());
  EXPECT_TRUE(looksLikeMp3(*encoded));
  EXPECT_FALSE(fs::exists(work("b.mp3.wav")));
  EXPECT_FALSE(fs::exists(work("b.mp3.wav.wav")));
  // Saved at the end with nothing changed since: the MP3 is not encoded
  // once more.
  ASSERT_NO_FATAL_FAILURE(endSaying(Key::Enter, kSaved));
  EXPECT_FALSE(fs::exists(work("b.mp3.wav")));
  EXPECT_EQ(readFile(work("b.mp3")), encoded);
}

TEST_F(WorkFile, AMissingLameKeepsTheWav) {
  ASSERT_NO_FATAL_FAILURE(
      start(options({"voz.wav"}, {{"voz.wav", wavBytes(22050, 16, 1, std::vector<int16_t>(2205, 700))}},
                    "/nonexistent/lame")));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(saveAsRadioMono("b.mp3"));
  ASSERT_TRUE(waitForText(kBadMp3));
  ASSERT_TRUE(waitForPrompt(kBadMp3));
  EXPECT_FALSE(fs::exists(work("b.mp3")));
  const std::optional<WavContents> kept = readWav(work("b.mp3.wav"));
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->samples, std::vector<int16_t>(2205, 700));
  // Saved at the end, the sound cannot become the MP3 either: the user
  // hears where it is before the program ends.
  // The old prompt stays on the screen until Delete clears it; a key sent
  // before the new prompt would be emptied from the queue with the others.
  ASSERT_TRUE(s->sendKey(Key::Delete));
  // The prompt on the cleared screen, not the one before it: a key sent
  // earlier would be flushed with the keys typed ahead.
  ASSERT_TRUE(s->waitUntil([&] { return s->cursor() == Pos{0, static_cast<int>(fromUtf8Length(kPrompt))}; },
                           "the prompt on a cleared screen", kLong));
  ASSERT_NO_FATAL_FAILURE(endSaying(Key::Enter, std::string(kEditsIn) + "b.mp3.wav"));
  EXPECT_FALSE(fs::exists(work("b.mp3")));
  EXPECT_EQ(readWav(work("b.mp3.wav"))->samples, kept->samples);
}

TEST_F(WorkFile, AnMp3IsEditedInItsWavTwinWhichIsOpenedAgainOnlyOverThatVeryMp3) {
  // Make two MP3s with the program itself: som.mp3 from a second of one
  // sound, outro.mp3 from half a second of another (opened with N).
  const std::string voice = wavBytes(22050, 16, 1, std::vector<int16_t>(22050, 900));
  const std::string other = wavBytes(22050, 16, 1, std::vector<int16_t>(11025, -3000));
  ASSERT_NO_FATAL_FAILURE(start(options({"voz.wav"}, {{"voz.wav", voice}, {"outra.wav", other}})));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(saveAsRadioMono("som.mp3"));
  ASSERT_TRUE(waitForPrompt(kEncoding));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForQuestion(kSaveQuestion));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForText("Informe o nome do arquivo"));
  ASSERT_TRUE(s->sendKeys({"outra.wav", Key::Enter}));
  ASSERT_TRUE(waitForPrompt("Carregando som"));
  ASSERT_NO_FATAL_FAILURE(saveAsRadioMono("outro.mp3"));
  ASSERT_TRUE(waitForPrompt(kEncoding));
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  const std::optional<std::string> mp3 = readFile(work("som.mp3"));
  const std::optional<std::string> otherMp3 = readFile(work("outro.mp3"));
  ASSERT_TRUE(mp3.has_value() && otherMp3.has_value());

  // A fresh install: no section of the program's own in the settings. A
  // WAV twin left beside the MP3 by an older version is not known to come
  // from it: it is kept under a new name, said, and the MP3 is decoded.
  const std::string leftOver = wavBytes(8000, 16, 1, std::vector<int16_t>(100, 77));
  Options fresh = keptBetweenRuns(options({"som.mp3"}, {{"som.mp3", *mp3}, {"som.mp3.wav", leftOver}}));
  std::erase_if(fresh.settings, [](const Setting& e) { return e.section == "KALIMBRO"; });
  ASSERT_NO_FATAL_FAILURE(start(fresh));
  ASSERT_TRUE(waitForText(kDecoding));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_TRUE(s->find(std::string(kKeptAs) + "som.mp3.anterior.wav").has_value()) << s->dump();
  EXPECT_EQ(readFile(work("som.mp3.anterior.wav")), leftOver);
  EXPECT_FALSE(s->find(kBadMp3).has_value()) << s->dump();
  const std::optional<WavContents> decoded = readWav(work("som.mp3.wav"));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->sampleRate, 22050u);
  EXPECT_EQ(s->title(), "KALIMBRO som.mp3");
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Arquivo de trabalho: som.mp3").has_value()) << s->dump();
  EXPECT_FALSE(s->find("Arquivo de trabalho: som.mp3.wav").has_value()) << s->dump();
  // An edit saved with F2 goes into the WAV twin and, encoded, into the MP3:
  // "saved" is true of the file the user opened.
  ASSERT_NO_FATAL_FAILURE(keepVolumeUp());
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  EXPECT_TRUE(s->find(kEncoding).has_value()) << s->dump();
  const std::optional<WavContents> edited = readWav(work("som.mp3.wav"));
  ASSERT_TRUE(edited.has_value());
  ASSERT_EQ(edited->samples.size(), decoded->samples.size());
  EXPECT_EQ(edited->samples[10000], decoded->samples[10000] * 5 / 4) << "the edit is in the twin";
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  const std::optional<std::string> encoded = readFile(work("som.mp3"));
  EXPECT_NE(encoded, mp3) << "the edit is in the MP3";
  // Heard through another decoder, the MP3 is about as much louder as the
  // edit (a second lossy coding of this steady sound loses a few percent).
  const std::optional<WavContents> heard = decodedByLame(work("som.mp3"));
  ASSERT_TRUE(heard.has_value());
  EXPECT_NEAR(meanLevel(heard->samples, 5000, 15000) / meanLevel(decoded->samples, 5000, 15000), 1.25, 0.1);
  EXPECT_FALSE(fs::exists(work("som.mp3.wav"))) << "a plain copy of the MP3 does not outlive the session";

  // Where LAME cannot encode, the edit saved with F2 stays in the twin, and
  // the user hears where.
  Options noEncoding = fresh;
  noEncoding.files.clear();
  noEncoding.settings.push_back({"KALIMBRO", "LAME_IN_CMD", "--nao-existe"});
  ASSERT_NO_FATAL_FAILURE(start(noEncoding));
  ASSERT_TRUE(waitForText(kDecoding));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(keepVolumeUp());
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(std::string(kEditsIn) + "som.mp3.wav"));
  const std::optional<WavContents> twiceEdited = readWav(work("som.mp3.wav"));
  ASSERT_TRUE(twiceEdited.has_value());
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  EXPECT_EQ(readWav(work("som.mp3.wav"))->samples, twiceEdited->samples) << "the edits outlive the session";
  EXPECT_EQ(readFile(work("som.mp3")), encoded);

  // Opened again over the same MP3, the twin holds the user's edits of it:
  // it is the sound, not decoded over.
  ASSERT_NO_FATAL_FAILURE(start(noEncoding));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_FALSE(s->find(kDecoding).has_value()) << s->dump();
  EXPECT_FALSE(s->find(kKeptAs).has_value()) << s->dump();
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  EXPECT_EQ(readWav(work("som.mp3.wav"))->samples, twiceEdited->samples);
  EXPECT_EQ(readFile(work("som.mp3")), encoded);

  // Another MP3 put in its place with an older time (cp -p, a restored
  // backup): the edits of the first one are not taken for this one's. They
  // are kept under a new name, and this MP3 is decoded.
  ASSERT_TRUE(writeFile(work("som.mp3"), *otherMp3));
  fs::last_write_time(work("som.mp3"), fs::last_write_time(work("som.mp3.wav")) - std::chrono::hours(24));
  ASSERT_NO_FATAL_FAILURE(start(noEncoding));
  ASSERT_TRUE(waitForText(kDecoding));
  ASSERT_TRUE(waitForPrompt());
  EXPECT_TRUE(s->find(std::string(kKeptAs) + "som.mp3.anterior2.wav").has_value()) << s->dump();
  EXPECT_EQ(readWav(work("som.mp3.anterior2.wav"))->samples, twiceEdited->samples);
  EXPECT_EQ(readFile(work("som.mp3.anterior.wav")), leftOver);
  const std::optional<WavContents> otherDecoded = readWav(work("som.mp3.wav"));
  ASSERT_TRUE(otherDecoded.has_value());
  EXPECT_LT(otherDecoded->samples.size(), twiceEdited->samples.size()) << "half a second, not the old second";
  // Ended without saving, a copy with nothing of the user's in it goes; the
  // MP3 stays as it was.
  ASSERT_NO_FATAL_FAILURE(endSaying("n"));
  EXPECT_FALSE(fs::exists(work("som.mp3.wav")));
  EXPECT_EQ(readFile(work("som.mp3")), otherMp3);
}

TEST_F(WorkFile, ACorruptWavIsReportedAndTheProgramGoesOn) {
  const std::string corrupt("RIFF\x10\0\0\0WAVEjunkjunk", 20);
  ASSERT_NO_FATAL_FAILURE(start(options({"ruim.wav"}, {{"ruim.wav", corrupt}})));
  ASSERT_TRUE(waitForText(kBadFile));
  ASSERT_TRUE(waitForPrompt(kBadFile));
  ASSERT_TRUE(s->type("i"));
  ASSERT_TRUE(waitForPrompt(kInformationQuality));
  EXPECT_TRUE(s->find("Velocidade: 22050").has_value()) << s->dump();
  // No file and no sound: the end asks nothing more.
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForQuestion(kConfirmEnd));
  ASSERT_TRUE(s->type("s"));
  auto status = s->waitForExit(kLong);
  ASSERT_TRUE(status.has_value()) << s->dump();
  EXPECT_TRUE(status->exitedWith(0)) << *status;
  EXPECT_EQ(*readFile(work("ruim.wav")), corrupt);
}

TEST_F(WorkFile, UndoAfterRemovingEverythingBringsTheSavedSoundBack) {
  const std::string original = wavBytes(22050, 16, 1, {100, 200, 300, 400});
  ASSERT_NO_FATAL_FAILURE(start(options({"voz.wav"}, {{"voz.wav", original}})));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForPrompt("Ok, toda gravação foi removida."));
  ASSERT_TRUE(s->type("d"));
  ASSERT_TRUE(waitForQuestion("Vou recuperar a última versão salva, confirma? "));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForPrompt("Retornei ao último som gravado"));
  // Saving now writes the file back as it was.
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  EXPECT_EQ(*readFile(work("voz.wav")), original);
  ASSERT_NO_FATAL_FAILURE(endSaying(Key::Enter));
  EXPECT_EQ(*readFile(work("voz.wav")), original);
}

// The names in `dir` that begin with `prefix`.
std::set<std::string> namesIn(const fs::path& dir, std::string_view prefix) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(prefix)) names.insert(name);
  }
  return names;
}

// A run killed while LAME decodes an MP3 leaves the hidden file LAME was
// writing beside the MP3, and its temporary directory. The next start in
// that place removes both, and leaves alone what a running session is
// using and what only looks like such a leftover.
TEST_F(WorkFile, AStartRemovesWhatAKilledRunLeftAndNothingElse) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kalimbro-sobras-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path shared = pattern, work = shared / "work", tmp = shared / "tmp";
  fs::create_directories(work);
  fs::create_directories(tmp);
  const fs::path waiting = shared / "espera";
  ASSERT_TRUE(writeFile(waiting, ""));
  // Removing it all ends the waiting decoders too.
  struct Cleanup {
    fs::path shared;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(shared, ec);
    }
  } cleanup{shared};

  // A "LAME" that writes nothing and waits as long as the test does.
  auto decoding = [&](const std::string& mp3) {
    Options o = options({mp3}, {{mp3, "ID3"}}, "sh");
    for (Setting& e : o.settings)
      if (e.key == "LAME_OUT_CMD")
        e.value = "-c \"i=0; while [ -e " + waiting.string() + " ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\"";
    o.workDir = work;
    o.env = {{"TMPDIR", tmp.string()}};
    return o;
  };
  auto startDecoding = [&](const std::string& mp3, std::unique_ptr<Session>& session) {
    std::string error;
    session = Session::start(decoding(mp3), &error);
    ASSERT_NE(session, nullptr) << error;
    ASSERT_TRUE(session->waitForText("Vou converter de MP3 para WAV, aguarde", kLong));
    ASSERT_TRUE(session->waitUntil([&] { return !namesIn(work, "." + mp3 + ".wav.").empty(); },
                                   "the hidden file LAME writes"));
  };
  std::unique_ptr<Session> running, killed;
  ASSERT_NO_FATAL_FAILURE(startDecoding("a.mp3", running));
  const std::set<std::string> runningDirs = namesIn(tmp, "kalimbro.");
  ASSERT_NO_FATAL_FAILURE(startDecoding("b.mp3", killed));
  ASSERT_EQ(kill(killed->pid(), SIGKILL), 0);
  ASSERT_TRUE(killed->waitForExit(kLong).has_value());
  const std::set<std::string> killedHidden = namesIn(work, ".b.mp3.wav.");
  const std::set<std::string> runningHidden = namesIn(work, ".a.mp3.wav.");
  std::set<std::string> killedDirs = namesIn(tmp, "kalimbro.");
  for (const std::string& name : runningDirs) killedDirs.erase(name);
  EXPECT_EQ(runningDirs.size(), 1u) << "made at start";
  EXPECT_EQ(killedDirs.size(), 1u) << "made at start, left by the kill";

  // The user's own files of such names.
  for (const char* name : {".b.mp3.wav.backup", ".bashrc.backup", ".b.mp3.wav.kalimbro-copia"})
    ASSERT_TRUE(writeFile(work / name, "the user's"));
  fs::create_directories(tmp / "kalimbro.minha");
  ASSERT_TRUE(writeFile(tmp / "kalimbro.minha" / "nota.txt", "the user's"));

  ASSERT_NO_FATAL_FAILURE(start([&] {
    Options o = options({"voz.wav"}, {{"voz.wav", wavBytes(22050, 16, 1, {1, 2, 3})}});
    o.workDir = work;
    o.env = {{"TMPDIR", tmp.string()}};
    return o;
  }()));
  ASSERT_TRUE(waitForPrompt());
  for (const std::string& name : killedHidden) EXPECT_FALSE(fs::exists(work / name)) << name;
  for (const std::string& name : runningHidden) EXPECT_TRUE(fs::exists(work / name)) << name;
  const std::set<std::string> dirs = namesIn(tmp, "kalimbro.");
  for (const std::string& name : runningDirs) EXPECT_TRUE(dirs.contains(name)) << name;
  for (const std::string& name : killedDirs) EXPECT_FALSE(dirs.contains(name)) << name;
  EXPECT_TRUE(dirs.contains("kalimbro.minha"));
  EXPECT_EQ(dirs.size(), runningDirs.size() + 2) << "the running one's, the user's and this run's own";
  for (const char* name : {".b.mp3.wav.backup", ".bashrc.backup", ".b.mp3.wav.kalimbro-copia"})
    EXPECT_EQ(readFile(work / name), "the user's") << name;
  EXPECT_EQ(readFile(tmp / "kalimbro.minha" / "nota.txt"), "the user's");
  s.reset();  // before its directories go
}

}  // namespace
}  // namespace kalimbro::e2e

namespace kalimbro::e2e {
namespace {

// Changes not saved when the program was killed come back at the next start
// on the same sound, even when the kill came the moment the last one was
// told done; undo goes on over them to the right frames, and a record the
// kill cut in half is left out. Declined, they are set aside and the file
// stays.
TEST_F(WorkFile, ChangesKilledBeforeSavingComeBackAtTheNextStart) {
  std::vector<int16_t> original(4000);
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<int16_t>(i * 3 - 6000);
  const auto quarters = [&](int numerator) {
    std::vector<int16_t> out;
    for (const int16_t v : original) out.push_back(static_cast<int16_t>(v * numerator / 4));
    return out;
  };
  Options o = keptBetweenRuns(options({"voz.wav"}, {{"voz.wav", wavBytes(kInputRate, 16, 1, original)}}));
  const auto effect = [&](std::string_view key) {
    ASSERT_TRUE(s->type("e"));
    ASSERT_TRUE(waitForQuestion("Qual efeito? "));
    ASSERT_TRUE(s->type(key));
    ASSERT_TRUE(waitForText("Deseja manter o efeito?(S/N)"));
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(waitForQuestion("Qual efeito? "));
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(waitForPrompt());
  };
  const auto killIt = [&] {
    ASSERT_EQ(kill(s->pid(), SIGKILL), 0);
    ASSERT_TRUE(s->waitForExit(kLong).has_value());
  };
  constexpr std::string_view kFound = "Há mudanças não salvas deste som, de ";
  constexpr std::string_view kRecover = "Quer recuperar as mudanças? ";

  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForPrompt());
  ASSERT_NO_FATAL_FAILURE(effect("+"));
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForText("Ok, toda gravação foi removida."));
  ASSERT_NO_FATAL_FAILURE(killIt());
  std::optional<fs::path> journal;
  for (const auto& e : fs::recursive_directory_iterator(s->stateHome()))
    if (e.path().filename() == "diario") journal = e.path();
  ASSERT_TRUE(journal.has_value());
  // Half a record: its length, and less than that after it.
  std::ofstream(*journal, std::ios::binary | std::ios::app) << std::string("\x40\0\0\0PU", 6);

  o.files.clear();
  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForQuestion(kRecover));
  EXPECT_TRUE(s->find(kFound).has_value()) << s->dump();
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForPrompt("Mudanças recuperadas; Control+Z desfaz cada uma"));
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  EXPECT_TRUE(readWav(work("voz.wav"))->samples.empty());
  // Del clears the screen, so that the words awaited next are new ones.
  const auto cleanScreen = [&] {
    ASSERT_TRUE(s->sendKey(Key::Delete));
    ASSERT_TRUE(s->waitUntil([&] { return !s->find(kSaved).has_value(); }, "a clean screen"));
    ASSERT_TRUE(waitForPrompt());
  };
  ASSERT_NO_FATAL_FAILURE(cleanScreen());
  // The frames removed come back from where the journal holds them.
  ASSERT_TRUE(s->sendRaw("\x1a"));
  ASSERT_TRUE(waitForPrompt("Desfeito: remoção de 0,5 segundos"));
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(waitForPrompt(kSaved));
  EXPECT_EQ(readWav(work("voz.wav"))->samples, quarters(5));
  ASSERT_NO_FATAL_FAILURE(cleanScreen());
  // The removal undone is still there to redo.
  ASSERT_TRUE(s->sendRaw("\x19"));
  ASSERT_TRUE(waitForPrompt("Refeito: remoção de 0,5 segundos"));
  ASSERT_TRUE(s->sendRaw("\x1a"));
  ASSERT_TRUE(waitForPrompt("Desfeito: remoção de 0,5 segundos"));
  ASSERT_TRUE(s->sendRaw("\x1a"));
  ASSERT_TRUE(waitForPrompt("Desfeito: efeito de 0,5 segundos"));

  // The frames the effect replaced, damaged where their size does not show:
  // the recovery, which undoes the effect, stops short of it and says so,
  // and the history as found is kept aside.
  ASSERT_NO_FATAL_FAILURE(killIt());
  const fs::path effectBefore = journal->parent_path() / "1-antes-0";
  ASSERT_TRUE(fs::exists(effectBefore));
  {
    std::fstream f(effectBefore, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(-5, std::ios::end);
    f.put('\x55');
  }
  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForQuestion(kRecover));
  ASSERT_TRUE(s->type("s"));
  ASSERT_TRUE(waitForPrompt("Recuperei 0 de 1 mudanças; as que faltam foram guardadas em "));
  EXPECT_FALSE(s->find("Mudanças recuperadas").has_value());
  // A change made now is the one the next start offers.
  ASSERT_TRUE(s->type("r"));
  ASSERT_TRUE(waitForQuestion("M remove entre cursor e ponto memorizado: "));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(waitForText("Ok, toda gravação foi removida."));

  // Declined: the file as saved, and the changes kept aside.
  ASSERT_NO_FATAL_FAILURE(killIt());
  ASSERT_NO_FATAL_FAILURE(start(o));
  ASSERT_TRUE(waitForQuestion(kRecover));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(waitForPrompt("As mudanças não salvas foram guardadas em "));
  ASSERT_NO_FATAL_FAILURE(endSaying("s"));
  EXPECT_EQ(readWav(work("voz.wav"))->samples, quarters(5));
  size_t setAside = 0;
  for (const auto& e : fs::recursive_directory_iterator(s->stateHome())) {
    setAside += e.path().filename().string().starts_with("historia-") && fs::is_regular_file(e.path() / "diario");
    EXPECT_NE(e.path().filename(), "historia") << "a normal end left the history behind";
  }
  EXPECT_EQ(setAside, 2u) << "the copy kept when not all came back, and the changes declined";
}

}  // namespace
}  // namespace kalimbro::e2e
