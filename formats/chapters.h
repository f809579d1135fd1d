// chapters: the sound's markers as the chapters of the kinds of file that
// list chapters instead of cue points (FLAC, Vorbis, Opus, MP3, M4A): a
// start and an end in milliseconds and a title, which is the marker's name
// or "Marcador N". Also the text in which ffmpeg reads and writes an M4A's
// chapters (FFMETADATA1). Used by chapterTags, soundFiles and openSave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sound/gramost.h"

namespace kalimbro {

struct Chapter {
  int64_t startMs = 0;
  int64_t endMs = 0;
  std::string title = {};  // Windows-1252
  bool operator==(const Chapter&) const = default;
};

// Each marker (in the order of their frames) a chapter from its time to
// the next one's, the last to the end of the sound (`frames` long).
std::vector<Chapter> chaptersOf(const std::vector<SoundMarker>& markers, int32_t sampleRate, int64_t frames);
// Chapters as markers of a sound at `sampleRate`, each on the frame nearest
// its start. "Marcador N" gives an unnamed marker N; any other title names
// a marker numbered by its place among the chapters, or after every number
// taken where that one is. A chapter titled with blanks or nothing is
// none (an MP4's lead-in).
std::vector<SoundMarker> markersOfChapters(const std::vector<Chapter>& chapters, int32_t sampleRate);

// FFMETADATA1 text holding the chapters (titles in UTF-8, escaped).
std::string ffmetadataText(const std::vector<Chapter>& chapters);
// The chapters of an FFMETADATA1 text, of any time base; the rest of it is
// passed over.
std::vector<Chapter> chaptersOfFfmetadata(std::string_view text);

}  // namespace kalimbro
