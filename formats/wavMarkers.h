// wavMarkers: the markers of a WAV file on disk, read and added without
// loading its sound: cue points, named by the labels of a LIST "adtl"
// chunk ("Marcador N" for an unnamed one). The sample buffer reads them
// with the frames; soundFiles adds them to the wide WAV files libsndfile
// writes; the MP3 conversion hands them to LAME's output as chapters and
// puts an MP3's chapters into the WAV that LAME decodes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/chapters.h"
#include "platform/wav_header.h"
#include "sound/gramost.h"

namespace kalimbro {

// The markers of the cue points in `layout` and in the chunks after its
// data, `source` standing right after them.
std::vector<SoundMarker> markersAfterData(ByteSource& source, WavLayout& layout);

struct WavMarkers {
  std::vector<SoundMarker> markers;
  int32_t sampleRate = 0;
  int64_t frames = 0;
};
// The markers of the WAV file `fileName` (Windows-1252), with its rate and
// length; nothing when it is no WAV file.
std::optional<WavMarkers> readWavMarkers(std::string_view fileName);

// Adds `markers` as cue points after the last chunk of the WAV file at the
// native path `nativeName`, and grows its RIFF size to match. False when
// it is no WAV file with its sizes filled in, or it cannot be written.
bool addWavCuePoints(const std::string& nativeName, const std::vector<SoundMarker>& markers);
// The same for `chapters`, each on the frame nearest its start.
bool addChapterCuePoints(const std::string& nativeName, const std::vector<Chapter>& chapters);

}  // namespace kalimbro
