// The table of sound file kinds and the lookups by name and first bytes.
#include "formats/soundKinds.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fd.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

bool bytesAre(std::span<const uint8_t> bytes, size_t at, std::string_view expected) {
  return bytes.size() >= at + expected.size() &&
         std::memcmp(bytes.data() + at, expected.data(), expected.size()) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(x) == lower(y);
         });
}

// ---- First bytes ---------------------------------------------------------------------------

// In any case of letters, as the WAV reader takes them.
bool isWav(std::span<const uint8_t> b) {
  return b.size() >= 12 && (chunkIdIs(b.data(), "RIFF") || chunkIdIs(b.data(), "RF64")) &&
         chunkIdIs(b.data() + 8, "WAVE");
}

bool isAiff(std::span<const uint8_t> b) {
  return bytesAre(b, 0, "FORM") && (bytesAre(b, 8, "AIFF") || bytesAre(b, 8, "AIFC"));
}

bool isFlac(std::span<const uint8_t> b) { return bytesAre(b, 0, "fLaC"); }

// An Ogg file whose first page's first packet begins with `codec`.
bool isOggOf(std::span<const uint8_t> b, std::string_view codec) {
  constexpr size_t kPageHeader = 27;
  if (!bytesAre(b, 0, "OggS") || b.size() <= kPageHeader) return false;
  return bytesAre(b, kPageHeader + b[kPageHeader - 1], codec);  // after the segment table
}
bool isVorbis(std::span<const uint8_t> b) { return isOggOf(b, "\x01vorbis"); }
bool isOpus(std::span<const uint8_t> b) { return isOggOf(b, "OpusHead"); }

// An ADTS header: twelve bits of sync and the layer bits 00.
bool isAdtsHeader(std::span<const uint8_t> b) {
  return b.size() >= 2 && b[0] == 0xFF && (b[1] & 0xF6) == 0xF0;
}
// An MP4 (M4A) box "ftyp", or raw AAC.
bool isAac(std::span<const uint8_t> b) { return bytesAre(b, 4, "ftyp") || isAdtsHeader(b); }

bool isId3Tag(std::span<const uint8_t> b) { return bytesAre(b, 0, "ID3"); }

// An MPEG audio frame header: eleven bits of sync, a version, a layer, a
// bit rate and a sampling rate that are not the reserved values (so never
// an ADTS header, whose layer is 0).
bool isMpegAudioHeader(std::span<const uint8_t> b) {
  if (b.size() < 3 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  const int version = (b[1] >> 3) & 3, layer = (b[1] >> 1) & 3;
  const int bitRate = b[2] >> 4, samplingRate = (b[2] >> 2) & 3;
  return version != 1 && layer != 0 && bitRate != 15 && samplingRate != 3;
}
// An ID3 tag in front of any other kind says nothing of it: see taggedWithId3.
bool isMp3(std::span<const uint8_t> b) { return isId3Tag(b) || isMpegAudioHeader(b); }

// ---- The table ---------------------------------------------------------------------------

// Fields left out are false, 0, none.
constexpr SoundKindRow kRows[] = {
    {.kind = SoundKind::wav, .name = "WAV", .extensions = {"wav"}, .firstBytesAre = isWav,
     .sndfileFormat = SF_FORMAT_WAV, .keepsEverySample = true, .deepestBits = 64, .holdsFloat = true,
     .sizesIn32Bits = true, .markers = MarkerPlace::wavCues},
    {.kind = SoundKind::flac, .name = "FLAC", .extensions = {"flac"}, .firstBytesAre = isFlac, .taggedWithId3 = true,
     .sndfileFormat = SF_FORMAT_FLAC, .keepsEverySample = true, .deepestBits = 24,
     .markers = MarkerPlace::chapterTags},
    {.kind = SoundKind::vorbis, .name = "Ogg Vorbis", .extensions = {"ogg", "oga"}, .firstBytesAre = isVorbis,
     .sndfileFormat = SF_FORMAT_OGG | SF_FORMAT_VORBIS, .markers = MarkerPlace::chapterTags},
    {.kind = SoundKind::opus, .name = "Opus", .extensions = {"opus"}, .firstBytesAre = isOpus,
     .sndfileFormat = SF_FORMAT_OGG | SF_FORMAT_OPUS, .markers = MarkerPlace::chapterTags},
    {.kind = SoundKind::aiff, .name = "AIFF", .extensions = {"aif", "aiff", "aifc"}, .firstBytesAre = isAiff,
     .sndfileFormat = SF_FORMAT_AIFF, .keepsEverySample = true, .deepestBits = 64, .holdsFloat = true,
     .sizesIn32Bits = true, .markers = MarkerPlace::sndfileCues},
    {.kind = SoundKind::aac, .name = "M4A", .extensions = {"m4a", "mp4", "aac"}, .firstBytesAre = isAac,
     .taggedWithId3 = true, .program = ExternalProgram::ffmpeg, .markers = MarkerPlace::mp4Chapters},
    {.kind = SoundKind::mp3, .name = "MP3", .extensions = {"mp3"}, .firstBytesAre = isMp3, .taggedWithId3 = true,
     .program = ExternalProgram::lame, .editedThroughTwin = true, .markers = MarkerPlace::chapterTags},
};

consteval bool rowsInKindOrder() {
  for (size_t i = 0; i < std::size(kRows); ++i)
    if (static_cast<size_t>(kRows[i].kind) != i) return false;
  return true;
}
static_assert(rowsInKindOrder(), "soundKindRow finds a kind's row at its number");

}  // namespace

std::span<const SoundKindRow> soundKindRows() { return kRows; }

const SoundKindRow& soundKindRow(SoundKind kind) { return kRows[static_cast<size_t>(kind)]; }

std::optional<SoundKind> kindOfName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || name.find_first_of("/\\", dot) != std::string_view::npos)
    return std::nullopt;
  const std::string_view extension = name.substr(dot + 1);
  for (const SoundKindRow& row : kRows)
    for (const std::string_view e : row.extensions)
      if (!e.empty() && equalsIgnoringCase(extension, e)) return row.kind;
  return std::nullopt;
}

std::vector<std::string_view> soundFileExtensions() {
  std::vector<std::string_view> names;
  for (const SoundKindRow& row : kRows)
    for (const std::string_view e : row.extensions)
      if (!e.empty()) names.push_back(e);
  return names;
}

bool isEditedThroughTwin(std::string_view name) {
  const std::optional<SoundKind> kind = kindOfName(name);
  return kind && soundKindRow(*kind).editedThroughTwin;
}

std::optional<SoundKind> kindOfFile(std::string_view name, std::span<const uint8_t> b) {
  const std::optional<SoundKind> byName = kindOfName(name);
  if (isId3Tag(b) && byName && soundKindRow(*byName).taggedWithId3) return byName;
  for (const SoundKindRow& row : kRows)
    if (row.firstBytesAre && row.firstBytesAre(b)) return row.kind;
  return byName;
}

std::optional<SoundKind> kindOfFile(std::string_view fileName) {
  const UniqueFd file = openRegularFile(fileName);
  if (!file.valid()) return std::nullopt;
  std::array<uint8_t, kKindBytes> bytes;
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(file.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return kindOfFile(fileName, std::span<const uint8_t>(bytes.data(), got));
}

bool isPcmKind(SoundKind kind) { return soundKindRow(kind).keepsEverySample; }

}  // namespace kalimbro
