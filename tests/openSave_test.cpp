#include "app/openSave.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <map>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/file_names.h"
#include "formats/chapters.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro {
namespace {

TEST(SoundFilePatterns, TheSelectorListsEveryKindOnceAndMp3OnlyWhereItIsRead) {
  const std::vector<std::string> names = {"a.wav",  "b.mp3", "c.ogg", "d.oga", "e.opus", "f.m4a", "g.mp4",
                                          "h.aac",  "i.flac", "j.aif", "k.AIFF", "l.aifc", "m.txt"};
  std::vector<DirectoryEntry> entries;
  for (const std::string& n : names) entries.push_back({n});
  for (const bool withMp3 : {true, false}) {
    std::map<std::string, int> listed;
    for (const FileEntry& e : matchingFiles(entries, soundFilePatterns(withMp3), kAttrArchive)) ++listed[e.name];
    for (const std::string& n : names) {
      const int expected = n == "m.txt" || (n == "b.mp3" && !withMp3) ? 0 : 1;
      EXPECT_EQ(listed[n], expected) << n << (withMp3 ? " with MP3" : "");
    }
  }
}

class SavingFormat : public CommandTest {};

TEST_F(SavingFormat, TheWorkingFileKeepsItsOwnAndOtherNamesGetTheirExtensionsKind) {
  TAmostras sound;
  fillMono(sound, {1, 2, 3});
  program().workingFileName = "campo.wav";
  program().workingFormat = {SoundKind::wav, 24, false};
  EXPECT_EQ(savingFormat("campo.wav", sound), program().workingFormat);
  // Brought to 8 bits by save-as, the sound is written at 8.
  sound.setBitsPerSample(8);
  EXPECT_EQ(savingFormat("campo.wav", sound), newFileFormat(SoundKind::wav, 8));
  sound.setBitsPerSample(16);
  EXPECT_EQ(savingFormat("b.opus", sound).kind, SoundKind::opus);
  EXPECT_EQ(savingFormat("b.aifc", sound), newFileFormat(SoundKind::aiff, 16));
  EXPECT_EQ(savingFormat("b.snd", sound), newFileFormat(SoundKind::wav, 16));
  // What a FLAC holds under a WAV name is written back as FLAC.
  program().workingFormat = newFileFormat(SoundKind::flac, 16);
  EXPECT_EQ(savingFormat("campo.wav", sound).kind, SoundKind::flac);

  // A lossy file is saved back at the bit rate it takes; one that holds no
  // sound takes none, and is saved at a new file's.
  TAmostras empty;
  empty.createSized(1, 8000, 16, 0);
  ASSERT_TRUE(saveSound(file("vazio.ogg"), empty, newFileFormat(SoundKind::vorbis, 16)));
  const std::optional<SoundFileFormat> opened = readSoundFile(file("vazio.ogg"), sound);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(sound.count(), 0);
  EXPECT_EQ(opened->bitRate, 0);

  // A deeper file saved as another kind keeps its depth where that kind
  // holds it: FLAC holds no floating point and at most 24 bits.
  const SoundFileFormat float32{SoundKind::wav, 32, true};
  EXPECT_EQ(formatKeepingDepth(SoundKind::flac, float32, 16), (SoundFileFormat{SoundKind::flac, 24, false}));
  EXPECT_EQ(formatKeepingDepth(SoundKind::flac, {SoundKind::aiff, 32, false}, 16),
            (SoundFileFormat{SoundKind::flac, 24, false}));
  EXPECT_EQ(formatKeepingDepth(SoundKind::aiff, float32, 16), (SoundFileFormat{SoundKind::aiff, 32, true}));
  EXPECT_EQ(formatKeepingDepth(SoundKind::wav, {SoundKind::flac, 24, false}, 16),
            (SoundFileFormat{SoundKind::wav, 24, false}));
  EXPECT_EQ(formatKeepingDepth(SoundKind::wav, float32, 8), newFileFormat(SoundKind::wav, 8));
  const SoundFileFormat opus{SoundKind::opus, 0, false, 96000};
  EXPECT_EQ(formatKeepingDepth(SoundKind::opus, opus, 16), opus);  // a lossy kind keeps its rate
}

TEST(KeepsItsName, SoundKindsButMp3) {
  for (const char* kept : {"x.wav", "x.WAV", "x.flac", "x.opus", "x.OGG", "x.m4a", "x.aiff"})
    EXPECT_TRUE(keepsItsName(kept)) << kept;
  for (const char* extended : {"x.mp3", "x.txt", "x", "x.wav.bak"}) EXPECT_FALSE(keepsItsName(extended)) << extended;
}

// ffmpeg stood in for by a script that writes `output` for a decoding (and
// nothing for the chapters) and ends with `status`.
class AacOpening : public CommandTest {
 protected:
  void fakeFfmpeg(const std::string& output, int status) {
    writeFileBytes(file("decoded"), {output.begin(), output.end()});
    const std::string script = "#!/bin/sh\ncase \"$*\" in *ffmetadata*) exit 1;; esac\ncat '" + file("decoded") +
                               "'\nexit " + std::to_string(status) + "\n";
    writeFileBytes(file("ffmpeg"), {script.begin(), script.end()});
    std::filesystem::permissions(file("ffmpeg"), std::filesystem::perms::owner_all);
    program().settings.ffmpegProgram = file("ffmpeg");
  }
};

TEST_F(AacOpening, ADecodingWithoutASoundFailsAndKeepsTheOneInMemoryAndACutOneIsTold) {
  std::string floats;
  for (int i = 0; i < 800; ++i) floats += le32(std::bit_cast<uint32_t>(0.25f));
  const std::string decoded = riff(chunk("fmt ", pcmFormat(1, 8000, 32, kWavFormatFloat)) + "data" +
                                   le32(0xFFFFFFFF) + floats);
  writeFileBytes(file("nota.m4a"), {'m', '4', 'a'});
  // Ended as a success with nothing, or with a header cut short.
  for (const std::string& output : {std::string(), decoded.substr(0, 30)}) {
    fillMono(sound(), {1, 2, 3});
    fakeFfmpeg(output, 0);
    EXPECT_FALSE(readSoundFile(file("nota.m4a"), sound()).has_value()) << output.size();
    EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2, 3}));
    EXPECT_EQ(sound().sampleRate(), 22050);
    EXPECT_TRUE(shown("A convers\xE3o pelo ffmpeg foi mal sucedida"));
    clearScreen();
  }
  // Failing on a damaged file after what came before the damage: that much
  // opens, and the user hears so.
  fakeFfmpeg(decoded, 1);
  ASSERT_TRUE(readSoundFile(file("nota.m4a"), sound()).has_value());
  EXPECT_EQ(sound().count(), 800);
  EXPECT_EQ(sound().sampleRate(), 8000);
  EXPECT_NEAR(leftValues(sound())[400], 8192, 2);
  EXPECT_TRUE(shown("O arquivo termina antes do esperado; abri 0,1 segundos"));
  // The same sound from a decoding that ends well is no cut one.
  clearScreen();
  fakeFfmpeg(decoded, 0);
  ASSERT_TRUE(readSoundFile(file("nota.m4a"), sound()).has_value());
  EXPECT_EQ(sound().count(), 800);
  EXPECT_FALSE(shown("O arquivo termina antes do esperado"));
}

// Saved as AAC, the sound goes to ffmpeg in the container its name asks
// for, with its markers as chapters where the container keeps them: a blank
// one leads in to the first marker when that is not at the start.
TEST_F(AacOpening, SavingTakesTheContainerOfTheNameAndLeadsInToTheFirstMarker) {
  // The script keeps its arguments and the chapters' file it is given,
  // and writes something where the sound goes (its last argument).
  const std::string script = R"(#!/bin/sh
cat >/dev/null
cd ')" + file("") + R"('
printf '%s\n' "$@" > arguments
rm -f chapters
for a; do
  [ "$before" = -i ] && [ "$a" != pipe:0 ] && cp "${a#file:}" chapters
  before=$a
done
printf x > "${a#file:}"
)";
  writeFileBytes(file("ffmpeg"), {script.begin(), script.end()});
  std::filesystem::permissions(file("ffmpeg"), std::filesystem::perms::owner_all);
  program().settings.ffmpegProgram = file("ffmpeg");
  const auto textOf = [&](const std::string& name) {
    const std::vector<uint8_t> bytes = readFileBytes(file(name));
    return std::string(bytes.begin(), bytes.end());
  };
  const auto containerOf = [&] {
    const std::string args = textOf("arguments");
    const size_t format = args.rfind("\n-f\n");
    return format == std::string::npos ? std::string() : args.substr(format + 4, args.find('\n', format + 4) - format - 4);
  };
  TAmostras sound;
  fillMono(sound, std::vector<int16_t>(16000, 100));
  for (const auto& [name, container] : {std::pair{"a.m4a", "ipod"}, {"a.mp4", "mp4"}, {"a.aac", "adts"}}) {
    ASSERT_TRUE(writeSoundFile(file(name), sound, newFileFormat(SoundKind::aac, 16))) << name;
    EXPECT_EQ(containerOf(), container) << name;
  }
  for (const int64_t first : {0, 8000}) {
    sound.setMarkers({{1, first, "Abertura"}, {2, 12000, ""}});
    ASSERT_TRUE(writeSoundFile(file("a.m4a"), sound, newFileFormat(SoundKind::aac, 16)));
    const std::vector<Chapter> chapters = chaptersOfFfmetadata(textOf("chapters"));
    ASSERT_EQ(chapters.size(), first == 0 ? 2u : 3u) << first;
    EXPECT_EQ(chapters.front().startMs, 0);
    EXPECT_EQ(chapters.back().title, "Marcador 2");
  }
}

}  // namespace
}  // namespace kalimbro
