// Sound files of other kinds end to end, as a newcomer meets them: a voice
// note or a FLAC from somewhere else opened from the command line, its
// first second removed, saved with F2 and played by another program
// (ffmpeg stands for it), which must find the same kind of file, shorter by
// that second. The test makes its files with ffmpeg.
#include <stdlib.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <filesystem>
#include <optional>
#include <sstream>

#include <taglib/chapterframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>

#include "platform/wav_header.h"
#include "tests/e2e/harness.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kSaved = "OK, arquivo salvo";
constexpr std::string_view kDeeper = "Este som tem mais de 16 bits; ele é editado com 16 bits";
constexpr std::string_view kFloat = "Este som tem amostras de ponto flutuante; ele é editado com 16 bits";
constexpr std::string_view kBadFile = "Arquivo incompatível com este programa";
constexpr milliseconds kLong{60000};

constexpr uint32_t kRate = 16000;  // a voice note's

// A second of silence, then two of a tone: what is left after removing
// the first second starts loud.
std::vector<int16_t> silenceThenTone() {
  std::vector<int16_t> v(3 * kRate, 0);
  for (size_t i = kRate; i < v.size(); ++i)
    v[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / kRate));
  return v;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// What another player finds in the file: its codec and sample format, and
// the sound as 16-bit mono at the test's rate.
struct Played {
  std::string codec;
  std::vector<int16_t> samples;
};
std::optional<Played> playElsewhere(const fs::path& file) {
  const fs::path info = file.string() + ".probe", raw = file.string() + ".raw";
  if (!run("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 " + quoted(file) +
           " > " + quoted(info)) ||
      !run("ffmpeg -nostdin -v error -y -i " + quoted(file) + " -ac 1 -ar 16000 -f s16le " + quoted(raw)))
    return std::nullopt;
  Played played;
  played.codec = readFile(info).value_or("");
  while (!played.codec.empty() && std::isspace(static_cast<unsigned char>(played.codec.back())))
    played.codec.pop_back();
  const std::string bytes = readFile(raw).value_or("");
  played.samples.resize(bytes.size() / 2);
  std::memcpy(played.samples.data(), bytes.data(), played.samples.size() * 2);
  return played;
}

double rms(std::span<const int16_t> v) {
  double sum = 0;
  for (const int16_t x : v) sum += static_cast<double>(x) * x;
  return v.empty() ? 0 : std::sqrt(sum / static_cast<double>(v.size()));
}

// ESC, S, and N to the save question if there is a working file: the
// program ends cleanly, and no converted copy is left in its temporary
// folder.
void endWithoutSaving(Session& s, bool workingFile = true) {
  ASSERT_TRUE(s.sendKey(Key::Esc));
  ASSERT_TRUE(s.waitForText("Confirma o fim do programa? ", kLong)) << s.dump();
  ASSERT_TRUE(s.type("s"));
  if (workingFile) {
    ASSERT_TRUE(s.waitForText("Quer salvar o arquivo? ", kLong)) << s.dump();
    ASSERT_TRUE(s.type("n"));
  }
  const auto status = s.waitForExit(kLong);
  ASSERT_TRUE(status.has_value()) << "still running\n" << s.dump();
  EXPECT_TRUE(status->exitedWith(0)) << *status;
  EXPECT_TRUE(fs::is_empty(s.tempDir())) << "temporary files were left behind";
}

// The cursor a second on and what is before it removed (T, Page Down, ESC,
// R, A), then F2, until the file is said saved once more.
void removeTheFirstSecondAndSave(Session& s) {
  ASSERT_TRUE(s.type("t"));
  ASSERT_TRUE(s.waitForText("Use espaço para tocar, F1 ajuda", kLong)) << s.dump();
  ASSERT_TRUE(s.sendKey(Key::PageDown));
  ASSERT_TRUE(s.waitForText("1:0", kLong)) << s.dump();
  ASSERT_TRUE(s.sendKey(Key::Esc));
  ASSERT_TRUE(s.waitForPrompt(kPrompt, "1:0", kLong)) << s.dump();
  ASSERT_TRUE(s.type("r"));
  ASSERT_TRUE(s.waitForText("M remove entre cursor e ponto memorizado: ", kLong)) << s.dump();
  ASSERT_TRUE(s.type("a"));
  ASSERT_TRUE(s.waitForPrompt(kPrompt, "Trecho anterior removido", kLong)) << s.dump();
  const size_t saves = s.findAll(kSaved).size();
  ASSERT_TRUE(s.sendKey(Key::F2));
  ASSERT_TRUE(s.waitUntil([&] { return s.findAll(kSaved).size() > saves; }, "the save", kLong)) << s.dump();
  ASSERT_TRUE(s.waitForPrompt(kPrompt, kSaved, kLong)) << s.dump();
}

struct Kind;
void PrintTo(const Kind& kind, std::ostream* os);

struct Kind {
  std::string name;          // the file's name, its extension the kind
  std::string ffmpegCodec;   // how the test makes it
  std::string codec;         // what a player finds in it, before and after the edit
  std::string_view notice;   // what the program says when it opens, if anything
  bool lossy = false;
};

void PrintTo(const Kind& kind, std::ostream* os) { *os << kind.name; }

// The test's sound as a file of `kind`, made by ffmpeg.
std::optional<std::string> madeByFfmpeg(const Kind& kind) {
  std::string pattern = (fs::temp_directory_path() / "kalimbro-formats-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  const fs::path dir = pattern;
  std::optional<std::string> made;
  if (writeFile(dir / "fonte.wav", wavBytes(kRate, 16, 1, silenceThenTone())) &&
      run("ffmpeg -nostdin -v error -y -i " + quoted(dir / "fonte.wav") + " -c:a " + kind.ffmpegCodec + " " +
          quoted(dir / kind.name)))
    made = readFile(dir / kind.name);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return made;
}

class Formats : public testing::TestWithParam<Kind> {
 protected:
  std::unique_ptr<Session> s;
};

TEST_P(Formats, OpenedEditedAndSavedBackInTheirOwnKind) {
  const Kind& kind = GetParam();
  const std::optional<std::string> file = madeByFfmpeg(kind);
  ASSERT_TRUE(file.has_value());
  Options o;
  o.args = {kind.name};
  o.files = {{kind.name, *file}, {"saida.wav", wavBytes(kRate, 16, 1, {})}};
  o.settings = {{"SOM", "SAIDA", "arquivo:saida.wav"}};
  std::string error;
  s = Session::start(o, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForPrompt(kPrompt, {}, kLong)) << s->dump();
  if (!kind.notice.empty()) {
    EXPECT_TRUE(s->find(kind.notice).has_value()) << s->dump();
  }
  EXPECT_FALSE(s->find(kBadFile).has_value()) << s->dump();
  // Saved unchanged, the file stays as it was: no lossy coding once more,
  // nothing that opening reduced is lost.
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kSaved, kLong)) << s->dump();
  EXPECT_EQ(readFile(s->workDir() / kind.name), file);

  ASSERT_NO_FATAL_FAILURE(removeTheFirstSecondAndSave(*s));

  const std::optional<Played> played = playElsewhere(s->workDir() / kind.name);
  ASSERT_TRUE(played.has_value());
  EXPECT_EQ(played->codec, kind.codec);
  // Two seconds of the tone are left (lossy coders add a little padding),
  // loud from the start.
  EXPECT_GT(played->samples.size(), 2 * kRate - kRate / 20);
  EXPECT_LT(played->samples.size(), 2 * kRate + kRate / 10);
  EXPECT_GT(rms(std::span(played->samples).subspan(kRate / 20, kRate / 5)), 5000);
  // A lossy file keeps its own rate: two seconds of the tone take a little
  // more than two thirds of the three seconds the file had (its silent
  // second took less), not the half of a lower rate fixed for new files,
  // nor the whole of a higher one.
  if (kind.lossy) {
    const double kept =
        static_cast<double>(fs::file_size(s->workDir() / kind.name)) / static_cast<double>(file->size());
    EXPECT_GT(kept, 0.55);
    EXPECT_LT(kept, 0.95);
  }
  // Nothing is left beside the file.
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));
}

// A damaged voice note, and an M4A without ffmpeg: each is told, the file
// stays as it was, and the program goes on with no working file.
TEST(FormatsRefused, ADamagedFileAndAMissingFfmpegAreToldAndTouchNothing) {
  const std::optional<std::string> m4a = madeByFfmpeg(Kind{"nota.m4a", "aac", "aac", {}});
  ASSERT_TRUE(m4a.has_value());
  const std::string damaged = "OggS" + std::string(300, '\x11');
  const struct {
    std::string name, bytes;
    std::string_view heard;
  } cases[] = {
      {"ruim.opus", damaged, kBadFile},
      {"nota.m4a", *m4a, "O programa ffmpeg não foi encontrado; instale o pacote ffmpeg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Options o;
    o.args = {c.name};
    o.files = {{c.name, c.bytes}};
    o.settings = {{"SOM", "SAIDA", "arquivo:saida.wav"}, {"KALIMBRO", "PROGFFMPEG", "/nonexistent/ffmpeg"}};
    std::string error;
    std::unique_ptr<Session> s = Session::start(o, &error);
    ASSERT_NE(s, nullptr) << error;
    ASSERT_TRUE(s->waitForPrompt(kPrompt, c.heard, kLong)) << s->dump();
    ASSERT_TRUE(s->sendKey(Key::F2));
    // No working file: F2 asks for a name.
    ASSERT_TRUE(s->waitForText("Informe o nome do arquivo", kLong)) << s->dump();
    ASSERT_TRUE(s->sendKey(Key::Esc));
    ASSERT_TRUE(s->waitForPrompt(kPrompt, "Desistiu", kLong)) << s->dump();
    EXPECT_EQ(readFile(s->workDir() / c.name), c.bytes);
    ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s, false));
  }
}

// A FLAC file's STREAMINFO with the frame count left out, as a writer on a
// pipe leaves it.
std::string withoutLength(std::string flac) {
  flac[21] = char(flac[21] & 0xF0);
  for (int i = 22; i < 26; ++i) flac[i] = 0;
  return flac;
}

// Starts the program on `name`, holding `bytes`, with `more` files beside
// it; waits for the main prompt under `heard` (when given).
std::unique_ptr<Session> openedAlone(const std::string& name, const std::string& bytes,
                                     std::vector<std::pair<std::string, std::string>> more, std::string_view heard) {
  Options o;
  o.args = {"--", name};
  o.files = {{name, bytes}};
  for (auto& file : more) o.files.push_back(std::move(file));
  o.settings = {{"SOM", "SAIDA", "arquivo:saida.wav"}};
  std::string error;
  std::unique_ptr<Session> s = Session::start(o, &error);
  EXPECT_NE(s, nullptr) << error;
  if (s != nullptr) {
    EXPECT_TRUE(s->waitForPrompt(kPrompt, heard, kLong)) << s->dump();
  }
  return s;
}

// A download cut short opens as far as it goes and the user hears how far;
// a FLAC written through a pipe, without its length, opens whole without a
// word. F2 leaves the file as it is until the sound changes; then it
// writes what was opened, whole but for the second removed, for another
// player.
TEST(FormatsCutShort, OpenAsFarAsTheyGoAndSaySo) {
  const std::optional<std::string> m4a = madeByFfmpeg(Kind{"nota.m4a", "aac -movflags +faststart", "aac", {}});
  const std::optional<std::string> flac = madeByFfmpeg(Kind{"musica.flac", "flac", "flac", {}});
  ASSERT_TRUE(m4a.has_value() && flac.has_value());
  const std::string wav = wavBytes(kRate, 16, 1, silenceThenTone());
  const struct {
    std::string name, bytes;
    std::string_view heard;
    size_t least, most;  // samples opened
  } cases[] = {
      {"nota.m4a", m4a->substr(0, m4a->size() * 2 / 3), "O arquivo termina antes do esperado; abri ", kRate,
       5 * kRate / 2},
      {"fala.wav", wav.substr(0, 44 + 2 * (kRate * 21 / 10) + 1),
       "O arquivo termina antes do esperado; abri 2,1 segundos", kRate * 21 / 10, kRate * 21 / 10},
      {"musica.flac", withoutLength(*flac), {}, 3 * kRate, 3 * kRate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Session> s = openedAlone(c.name, c.bytes, {}, c.heard);
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->find(kBadFile).has_value()) << s->dump();
    EXPECT_FALSE(s->find("Não há memória").has_value()) << s->dump();
    if (c.heard.empty()) {
      EXPECT_FALSE(s->find("termina antes").has_value()) << s->dump();
    }
    ASSERT_TRUE(s->sendKey(Key::F2));
    ASSERT_TRUE(s->waitForPrompt(kPrompt, kSaved, kLong)) << s->dump();
    EXPECT_EQ(readFile(s->workDir() / c.name), c.bytes);
    ASSERT_NO_FATAL_FAILURE(removeTheFirstSecondAndSave(*s));
    const std::optional<Played> played = playElsewhere(s->workDir() / c.name);
    ASSERT_TRUE(played.has_value());
    EXPECT_GE(played->samples.size() + kRate, c.least);
    EXPECT_LE(played->samples.size() + kRate, c.most);
    ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));
  }
}

// Names that look like ffmpeg's addresses ("file:nota.m4a" would be
// nota.m4a, "pipe:0.m4a" the standard input) or like an option are files
// like any other: each opens its own sound, at 16000 Hz, not nota.m4a's at
// 22050, and F2 writes it back there once changed, nota.m4a untouched.
TEST(FormatsNames, NamesLikeAddressesOrOptionsAreTheirOwnFiles) {
  const std::optional<std::string> own = madeByFfmpeg(Kind{"a.m4a", "aac", "aac", {}});
  const std::optional<std::string> other = madeByFfmpeg(Kind{"b.m4a", "aac -ar 22050", "aac", {}});
  ASSERT_TRUE(own.has_value() && other.has_value());
  for (const std::string name : {"file:nota.m4a", "pipe:0.m4a", "-nota.m4a"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<Session> s = openedAlone(name, *own, {{"nota.m4a", *other}}, {});
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->type("i"));
    ASSERT_TRUE(s->waitForPrompt(kPrompt, "Velocidade: 16000", kLong)) << s->dump();
    ASSERT_NO_FATAL_FAILURE(removeTheFirstSecondAndSave(*s));
    EXPECT_NE(readFile(s->workDir() / name), own);
    const std::optional<Played> played = playElsewhere(s->workDir() / name);
    ASSERT_TRUE(played.has_value());
    EXPECT_EQ(played->codec, "aac");
    EXPECT_EQ(readFile(s->workDir() / "nota.m4a"), other);
    ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));
  }
}

// The titled chapters another player finds in a file: start (seconds) and
// title. (An M4A's list starts with a lead-in titled with a blank.)
std::vector<std::pair<double, std::string>> chaptersElsewhere(const fs::path& file) {
  const fs::path listed = file.string() + ".chapters";
  if (!run("ffprobe -v error -show_chapters -of compact=p=0 " + quoted(file) + " > " + quoted(listed))) return {};
  std::vector<std::pair<double, std::string>> chapters;
  std::istringstream lines(readFile(listed).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const size_t start = line.find("start_time="), title = line.find("tag:title=");
    if (start == std::string::npos || title == std::string::npos || line.substr(title + 10) == " ") continue;
    chapters.emplace_back(std::stod(line.substr(start + 11)), line.substr(title + 10));
  }
  return chapters;
}

// The chapters an MP3's top-level, ordered table of contents lists, as
// players that go by it find them.
std::vector<std::string> mp3TableOfContents(const fs::path& file) {
  TagLib::MPEG::File mp3(file.c_str(), false);
  std::vector<std::string> listed;
  if (mp3.ID3v2Tag() == nullptr) return listed;
  for (TagLib::ID3v2::Frame* frame : mp3.ID3v2Tag()->frameList("CTOC")) {
    const auto* contents = dynamic_cast<TagLib::ID3v2::TableOfContentsFrame*>(frame);
    if (contents == nullptr || !contents->isTopLevel() || !contents->isOrdered()) continue;
    for (const TagLib::ByteVector& id : contents->childElements()) {
      const auto* chapter = dynamic_cast<TagLib::ID3v2::ChapterFrame*>(
          TagLib::ID3v2::ChapterFrame::findByElementID(mp3.ID3v2Tag(), id));
      if (chapter != nullptr) listed.push_back(chapter->embeddedFrameList("TIT2").front()->toString().to8Bit(true));
    }
  }
  return listed;
}

// Markers placed at 1:0 and 2:0 in a file of a kind that keeps chapters,
// the second named, are saved as chapters another player lists; the file
// opened again has them, names and all. An MP3 goes through its WAV twin
// both ways.
class FormatsChapters : public testing::TestWithParam<Kind> {};

TEST_P(FormatsChapters, MarkersAreSavedAsChaptersAndOpenedFromThem) {
  const Kind& kind = GetParam();
  const std::optional<std::string> file = madeByFfmpeg(kind);
  ASSERT_TRUE(file.has_value());
  std::unique_ptr<Session> s = openedAlone(kind.name, *file, {}, {});
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText("Use espaço para tocar, F1 ajuda", kLong)) << s->dump();
  for (const std::string_view time : {"1:0", "2:0"}) {
    ASSERT_TRUE(s->sendKey(Key::PageDown));
    ASSERT_TRUE(s->waitForText(time, kLong)) << s->dump();
    ASSERT_TRUE(s->sendKey(Key::Insert));
    ASSERT_TRUE(s->waitForText("em " + std::string(time), kLong)) << s->dump();
  }
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(s->waitForText("Nome do marcador: ", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKeys({"Entrevista", Key::Enter}));
  ASSERT_TRUE(s->waitForText("Marcador 2 em 2:0, Entrevista", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Entrevista", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::F2));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kSaved, kLong)) << s->dump();
  EXPECT_FALSE(s->find("Os marcadores não são guardados").has_value()) << s->dump();

  const fs::path saved = s->workDir() / kind.name;
  const std::vector<std::pair<double, std::string>> chapters = chaptersElsewhere(saved);
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_NEAR(chapters[0].first, 1.0, 0.010);
  EXPECT_EQ(chapters[0].second, "Marcador 1");
  EXPECT_NEAR(chapters[1].first, 2.0, 0.010);
  EXPECT_EQ(chapters[1].second, "Entrevista");
  if (kind.codec == "mp3") {
    EXPECT_EQ(mp3TableOfContents(saved), (std::vector<std::string>{"Marcador 1", "Entrevista"}));
  }
  const std::optional<std::string> bytes = readFile(saved);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));

  // Alone in another folder: an MP3 has no twin there.
  s = openedAlone(kind.name, *bytes, {}, {});
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText("Use espaço para tocar, F1 ajuda", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(s->waitForText("Marcador 1 em 1:0", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKey(Input(Key::Down, mod::Ctrl)));
  ASSERT_TRUE(s->waitForText("Marcador 2 em 2:0, Entrevista", kLong)) << s->dump();
  if (kind.codec == "mp3") {
    // The twin LAME decoded holds them as cue points, its RIFF size grown
    // to take them in.
    const fs::path twin = s->workDir() / (kind.name + ".wav");
    EXPECT_EQ(cuePointsSeenBySndfile(twin.string()),
              (std::vector<WavCuePoint>{{1, kRate, "Marcador 1"}, {2, 2 * kRate, "Entrevista"}}));
    const std::string twinBytes = readFile(twin).value_or("");
    ASSERT_GT(twinBytes.size(), 8u);
    EXPECT_EQ(readLe32(reinterpret_cast<const uint8_t*>(twinBytes.data()) + 4), twinBytes.size() - 8);
  }
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Entrevista", kLong)) << s->dump();
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));
}

std::string kindTestName(const testing::TestParamInfo<Kind>& info) {
  std::string name;
  for (const char c : info.param.name + info.param.codec)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(Kinds, FormatsChapters,
                         testing::Values(Kind{"musica.flac", "flac", "flac", {}},
                                         Kind{"nota.opus", "libopus", "opus", {}, true},
                                         Kind{"nota.mp3", "libmp3lame", "mp3", {}, true},
                                         Kind{"nota.m4a", "aac", "aac", {}, true}),
                         kindTestName);


// The bits a second of a file `seconds` long take on the disk.
double bitsPerSecond(const fs::path& file, double seconds) {
  std::error_code ec;
  return static_cast<double>(fs::file_size(file, ec)) * 8 / seconds;
}

// Save-as to a lossy kind asks the bit rate, held to the kind's range; the
// file is written near the rate typed, and the next save-as offers that
// rate on Enter.
TEST(FormatsSaveAs, ALossyFileGetsTheRateTypedWhichTheNextSaveAsOffers) {
  // Noise, which an encoder cannot make smaller than the rate allows.
  constexpr double kSeconds = 4;
  std::vector<int16_t> noise(static_cast<size_t>(kSeconds * kRate));
  uint32_t seed = 1;
  for (int16_t& v : noise) {
    seed = seed * 1664525 + 1013904223;
    v = static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768) / 4;
  }
  Options o;
  o.args = {"voz.wav"};
  o.files = {{"voz.wav", wavBytes(kRate, 16, 1, noise)}};
  std::string error;
  std::unique_ptr<Session> s = Session::start(o, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForPrompt(kPrompt, {}, kLong)) << s->dump();
  const auto saveAs = [&](std::string_view name, std::string_view offered, std::initializer_list<Input> rate) {
    ASSERT_TRUE(s->type("s"));
    ASSERT_TRUE(s->waitForPrompt("Mantenho parâmetros originais da gravação? ", {}, kLong)) << s->dump();
    ASSERT_TRUE(s->type("n"));
    ASSERT_TRUE(s->waitForText("Informe o novo nome do arquivo:", kLong)) << s->dump();
    ASSERT_TRUE(s->sendKeys({name, Key::Enter}));  // the first key typed replaces the name shown
    ASSERT_TRUE(s->waitForPrompt("Qualidade CD, rádio ou telefone? ", {}, kLong)) << s->dump();
    ASSERT_TRUE(s->type("o"));
    ASSERT_TRUE(s->waitForPrompt("Taxa de bits em kb/s, Enter para " + std::string(offered) + ": ", {}, kLong))
        << s->dump();
    ASSERT_TRUE(s->sendKeys(rate));
  };
  // Above Opus's 256 kb/s a channel: the range is said and the rate asked
  // again.
  ASSERT_NO_FATAL_FAILURE(saveAs("alta.opus", "32", {"300", Key::Enter}));
  ASSERT_TRUE(s->waitForText("Este tipo de arquivo vai de 6 a 256 kb/s", kLong)) << s->dump();
  ASSERT_TRUE(s->waitForPrompt("Taxa de bits em kb/s, Enter para 32: ", "a 256 kb/s", kLong)) << s->dump();
  ASSERT_TRUE(s->sendKeys({"96", Key::Enter}));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kSaved, kLong)) << s->dump();
  EXPECT_NEAR(bitsPerSecond(s->workDir() / "alta.opus", kSeconds), 96000, 20000);
  // Enter takes the rate chosen last.
  ASSERT_NO_FATAL_FAILURE(saveAs("outra.opus", "96", {Key::Enter}));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Enter para 96", kLong)) << s->dump();
  EXPECT_NEAR(bitsPerSecond(s->workDir() / "outra.opus", kSeconds), 96000, 20000);
  const std::optional<Played> played = playElsewhere(s->workDir() / "outra.opus");
  ASSERT_TRUE(played.has_value());
  EXPECT_EQ(played->codec, "opus");
  ASSERT_NO_FATAL_FAILURE(endWithoutSaving(*s));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Formats,
    testing::Values(Kind{"nota.opus", "libopus", "opus", {}, true},
                    Kind{"nota.ogg", "libvorbis", "vorbis", {}, true}, Kind{"nota.m4a", "aac", "aac", {}, true},
                    Kind{"musica.flac", "flac", "flac", {}},
                    Kind{"mac.aiff", "pcm_s16be", "pcm_s16be", {}},
                    Kind{"campo.wav", "pcm_s24le", "pcm_s24le", kDeeper},
                    Kind{"outro.wav", "pcm_f32le", "pcm_f32le", kFloat}),
    kindTestName);

}  // namespace
}  // namespace kalimbro::e2e
