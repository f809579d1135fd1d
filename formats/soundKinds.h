// soundKinds: the one table of the kinds of sound file the program opens and
// saves, one row per kind: its name, its extensions, the test of its first
// bytes, who reads and writes it (libsndfile in the program, or another
// program), whether it keeps every sample, where it keeps the markers.
// Everything that depends on a file's kind asks this table; a command never
// tests an extension. Used by soundFiles (the engines' reading and writing),
// chapterTags, and openSave and the working-file commands (the kinds another
// program converts).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kalimbro {

enum class SoundKind { wav, flac, vorbis, opus, aiff, aac, mp3 };

// The program another program's run stands in for, where the program does
// not read or write a kind itself.
enum class ExternalProgram {
  none,    // read and written in the program, through libsndfile
  lame,    // LAME (setting PROGLAME), file to file
  ffmpeg,  // ffmpeg (setting PROGFFMPEG), through pipes
};

// Where a kind's files keep the sound's markers.
enum class MarkerPlace {
  none,
  wavCues,      // cue points, whose labels the program writes after libsndfile's file
  sndfileCues,  // markers libsndfile writes whole (AIFF)
  chapterTags,  // chapters in the tags TagLib reads and writes (Vorbis comments, ID3v2)
  mp4Chapters,  // an MP4's chapter track, through ffmpeg (raw ADTS holds none)
};

struct SoundKindRow {
  SoundKind kind;
  std::string_view name;  // as the user knows it
  // Lower case, as the file selector lists them; empty ones unused.
  std::array<std::string_view, 3> extensions;
  // True when a file's first bytes (kKindBytes of them, fewer for a short
  // file) say it is of this kind; the tests of two rows never both hold.
  bool (*firstBytesAre)(std::span<const uint8_t> bytes) = nullptr;
  // Files of this kind are found behind an ID3 tag: a tag in front of a
  // file so named leaves the name's kind.
  bool taggedWithId3 = false;
  // libsndfile's major format (with the encoding of a lossy kind); 0 for a
  // kind libsndfile neither reads nor writes.
  int sndfileFormat = 0;
  ExternalProgram program = ExternalProgram::none;
  // The program's WAV copy of the file ("x.mp3.wav") is edited in its
  // place and converted back when saved.
  bool editedThroughTwin = false;
  bool keepsEverySample = false;  // PCM (WAV, FLAC, AIFF); a lossy kind has a bit rate instead
  int32_t deepestBits = 0;        // of a PCM kind: the deepest samples it holds
  bool holdsFloat = false;        // of a PCM kind: it holds floating-point samples
  bool sizesIn32Bits = false;     // the data's size is a 32-bit field
  MarkerPlace markers = MarkerPlace::none;
};

// The rows, in the order their extensions are listed.
std::span<const SoundKindRow> soundKindRows();
const SoundKindRow& soundKindRow(SoundKind kind);

// By the extension, any case, as the rows list them: .wav; .flac; .ogg
// .oga -> vorbis; .opus -> opus; .aif .aiff .aifc -> aiff; .m4a .mp4 .aac
// -> aac; .mp3 -> mp3. Nothing for any other name.
std::optional<SoundKind> kindOfName(std::string_view name);
// Those extensions, in lower case, WAV's first.
std::vector<std::string_view> soundFileExtensions();
// True when `name` names a kind whose WAV twin is edited in its place.
bool isEditedThroughTwin(std::string_view name);
// An existing file: its first bytes win where they name a format (RIFF or
// RF64 with WAVE, in any case of letters; FORM with AIFF or AIFC; fLaC;
// OggS whose first packet is OpusHead or \x01vorbis; ....ftyp of MP4/M4A;
// an ADTS header; an ID3 tag or an MPEG audio frame header), else the
// name's kind; nothing when neither says. An ID3 tag in front of a file
// named .aac or .flac leaves the name's kind (both are found tagged so).
// Some hundreds of bytes are enough.
std::optional<SoundKind> kindOfFile(std::string_view name, std::span<const uint8_t> firstBytes);
// Reads the first bytes of the file (a Windows-1252 name) and calls the
// above; nothing when it cannot be read.
std::optional<SoundKind> kindOfFile(std::string_view fileName);
// How many first bytes kindOfFile looks at.
inline constexpr size_t kKindBytes = 512;

// True for the kinds whose samples are kept exactly (WAV, FLAC, AIFF).
bool isPcmKind(SoundKind kind);

}  // namespace kalimbro
