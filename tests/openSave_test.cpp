#include "app/openSave.h"

#include <gtest/gtest.h>

#include <map>

#include "app/programState.h"
#include "console/file_names.h"
#include "tests/fakes/command_fixture.h"

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
}

TEST(KeepsItsName, SoundKindsButMp3) {
  for (const char* kept : {"x.wav", "x.WAV", "x.flac", "x.opus", "x.OGG", "x.m4a", "x.aiff"})
    EXPECT_TRUE(keepsItsName(kept)) << kept;
  for (const char* extended : {"x.mp3", "x.txt", "x", "x.wav.bak"}) EXPECT_FALSE(keepsItsName(extended)) << extended;
}

}  // namespace
}  // namespace kalimbro
