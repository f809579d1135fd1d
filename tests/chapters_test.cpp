// Markers as chapters: ffmpeg's metadata text both ways, and the markers
// that chapters read from another writer's file give.
#include "formats/chapters.h"

#include <gtest/gtest.h>

namespace kalimbro {
namespace {

TEST(Chapters, MetadataTextKeepsAwkwardTitlesAndChaptersFromOtherWritersBecomeMarkers) {
  // Characters the text escapes, and an accented name in Windows-1252.
  const std::vector<Chapter> chapters = {{0, 1000, " "},
                                         {1000, 2500, "a=b;c#d\\e\nf"},
                                         {2500, 3000, "Marcador 7"},
                                         {3000, 4000, "Entrevista \xE0 tarde"}};
  EXPECT_EQ(chaptersOfFfmetadata(ffmetadataText(chapters)), chapters);

  // Another time base and global tags around the chapters.
  const std::string other =
      ";FFMETADATA1\ntitle=Disco\n[CHAPTER]\nTIMEBASE=1/10000000\nSTART=15000000\nEND=20000000\n"
      "title=Marcador 2\n[STREAM]\ntitle=Faixa\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=2500\n"
      "title=Marcador 2\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=2500\nEND=3000\ntitle=Fim\n";
  const std::vector<Chapter> read = chaptersOfFfmetadata(other);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0], (Chapter{1500, 2000, "Marcador 2"}));
  // At 22050 Hz each lies on the frame nearest its millisecond; "Marcador 2"
  // given twice is the second time a name; a named marker takes the number
  // of its place unless an unnamed one holds it.
  EXPECT_EQ(markersOfChapters(read, 22050),
            (std::vector<SoundMarker>{{2, 33075}, {1, 44100, "Marcador 2"}, {3, 55125, "Fim"}}));

  // The program's own markers come back on their frames: each chapter
  // starts at its marker's nearest millisecond.
  const std::vector<SoundMarker> ours = {{1, 441}, {2, 66150, "Meio"}};
  const std::vector<Chapter> written = chaptersOf(ours, 44100, 441000);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back().startMs, 1500);
  EXPECT_EQ(markersOfChapters(written, 44100), ours);
}

}  // namespace
}  // namespace kalimbro
