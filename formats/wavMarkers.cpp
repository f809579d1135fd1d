// Markers of WAV files on disk.
#include "formats/wavMarkers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/fd.h"

namespace kalimbro {

std::vector<SoundMarker> markersAfterData(ByteSource& source, WavLayout& layout) {
  readCuesAfterData(source, layout);
  std::vector<SoundMarker> markers;
  for (const WavCuePoint& cue : labelledCues(layout))
    markers.push_back({cue.id, cue.frame, markerNameFrom(cue.label, cue.id)});
  return markers;
}

std::optional<WavMarkers> readWavMarkers(std::string_view fileName) {
  const UniqueFd file = openRegularFile(fileName);
  if (!file.valid()) return std::nullopt;
  FdSource source(file.get());
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok || layout.format.blockAlign == 0) return std::nullopt;
  if (!source.skipExact(layout.dataBytes)) return std::nullopt;
  WavMarkers read;
  read.sampleRate = static_cast<int32_t>(layout.format.sampleRate);
  read.frames = static_cast<int64_t>(layout.dataBytes / layout.format.blockAlign);
  read.markers = markersAfterData(source, layout);
  return read;
}

namespace {

// Adds cue points for the markers `markersAt` gives at the file's rate
// after the last chunk of the WAV file at the native path `nativeName`,
// and grows its RIFF size to match.
bool addCuePoints(const std::string& nativeName,
                  const std::function<std::vector<SoundMarker>(int32_t sampleRate)>& markersAt) {
  const UniqueFd file(::open(nativeName.c_str(), O_RDWR | O_CLOEXEC));
  struct stat st;
  if (!file.valid() || fstat(file.get(), &st) != 0) return false;
  const auto fileBytes = static_cast<uint64_t>(st.st_size);
  FdSource source(file.get());
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok || layout.format.sampleRate == 0) return false;
  // Only sizes that were filled in say where the chunks end.
  uint8_t stored[4];
  if (::pread(file.get(), stored, sizeof stored, static_cast<off_t>(layout.dataOffset - 4)) != sizeof stored)
    return false;
  const uint32_t dataBytes = readLe32(stored);
  if (dataBytes == 0 || dataBytes == 0xFFFFFFFF || layout.dataOffset + dataBytes > fileBytes) return false;

  std::vector<WavCuePoint> cues;
  for (const SoundMarker& m : markersAt(static_cast<int32_t>(layout.format.sampleRate)))
    cues.push_back({m.number, static_cast<uint32_t>(m.frame), markerTitle(m)});
  const std::vector<uint8_t> chunks = cueChunks(cues, fileBytes);
  const uint64_t riffSize = fileBytes + chunks.size() - 8;
  if (riffSize > UINT32_MAX) return false;
  uint8_t size[4];
  writeLe32(size, static_cast<uint32_t>(riffSize));
  return ::pwrite(file.get(), chunks.data(), chunks.size(), static_cast<off_t>(fileBytes)) ==
             static_cast<ssize_t>(chunks.size()) &&
         ::pwrite(file.get(), size, sizeof size, 4) == static_cast<ssize_t>(sizeof size);
}

}  // namespace

bool addWavCuePoints(const std::string& nativeName, const std::vector<SoundMarker>& markers) {
  return addCuePoints(nativeName, [&](int32_t) { return markers; });
}

bool addChapterCuePoints(const std::string& nativeName, const std::vector<Chapter>& chapters) {
  return addCuePoints(nativeName, [&](int32_t sampleRate) { return markersOfChapters(chapters, sampleRate); });
}

}  // namespace kalimbro
