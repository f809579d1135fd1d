// soundFiles: reads and writes the sound files the program reads itself:
// the kinds of the table in soundKinds that libsndfile reads and writes
// (the 8- and 16-bit PCM WAV files the program always read go through
// TAmostras::loadWav and saveWav unchanged); the kinds another program
// converts are openSave's. Used by the working file for opening, saving,
// the second sound of a mix and the source of divide and extract.
//
// Memory holds 16-bit values, 8 or 16 bits declared. On the way in, more
// than 16 bits or floating point is dithered to 16 bits and more than two
// channels are mixed to stereo (see sampleReduction); 8-bit PCM stays 8 bits
// declared, every other file 16 bits; the rate is kept as it is (any
// positive rate). Lossy files (Vorbis, Opus) are decoded to floating point
// and reduced alike; that is no reduction the user is told of.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/soundKinds.h"
#include "platform/file_replacer.h"
#include "sound/gramost.h"

namespace kalimbro {

// How a file is written: its kind and, within it, the sample encoding.
struct SoundFileFormat {
  SoundKind kind = SoundKind::wav;
  int32_t bitsPerSample = 16;  // PCM depth in the file (8, 16, 24, 32) or float width (32, 64); 0 for lossy
  bool floatingPoint = false;  // float WAV/AIFF-C
  int32_t bitRate = 0;         // bits per second of a lossy kind; 0: the rate a new file gets
  int32_t mixedChannels = 0;   // the file's channels, where opening mixed them to stereo; else 0
  bool operator==(const SoundFileFormat&) const = default;
};
// The format a new file of `kind` gets for a sound of `bitsPerSample` (8 or
// 16): PCM kinds at those bits, lossy kinds 0.
SoundFileFormat newFileFormat(SoundKind kind, int32_t bitsPerSample);

// What loading reduced, for the one sentence the user hears when the file
// opens.
struct Reduction {
  int32_t fileBits = 0;      // > 16 bits or float in the file, edited with 16 (dithered); 0: nothing reduced
  bool fileFloat = false;
  int32_t fileChannels = 0;  // more than 2 channels in the file, mixed to stereo; 0: nothing reduced
  bool any() const { return fileBits != 0 || fileChannels != 0; }
  bool operator==(const Reduction&) const = default;
};

// unreadable: damaged, cut short before its first frame, not a sound, or of
// a kind or encoding not read here (one another program converts, compressed WAV ...).
enum class LoadFailure { none, unreadable, memory };
struct SoundLoad {
  LoadFailure failure = LoadFailure::none;
  SoundFileFormat format;  // the file's own, for saving it back
  Reduction reduced;
  // The file ends before the end it announced (or, for Ogg, without its
  // last page): the sound is what came before.
  bool cutShort = false;
  bool ok() const { return failure == LoadFailure::none; }
};
// Loads `fileName` (Windows-1252) into `sound`. An 8- or 16-bit PCM WAV of
// one or two channels goes through sound.loadWav as it always did; every
// other file through libsndfile, whatever its name says, to its end when
// it does not tell its length. Markers come from WAV cue points, AIFF
// markers and the chapters of FLAC, Vorbis and Opus files (on the frame
// nearest each chapter's millisecond). A file cut short gives what is there
// (`cutShort`); with nothing there it is refused. On failure the sound in
// memory is exactly as it was. The memory limit of `sound` is
// honoured (memory), as is the most frames a sound holds. A click each
// second while it reads.
SoundLoad loadSound(std::string_view fileName, TAmostras& sound);

// Writes `sound` as `fileName` in `format`, replacing the file only once the
// new one is complete (and, with `flush`, on the disk). 8- and 16-bit WAV
// are the canonical file saveWav writes; the other kinds go through
// libsndfile at the format's depth (16-bit values widened to 24 or 32 bits,
// or to float). Opus and Vorbis are written near the format's bit rate; a
// new Opus file at 32 kb/s per channel (voice stays clear, an hour of mono
// is 15 MB) and, where the sound's rate is not one Opus
// carries (8, 12, 16, 24, 48 kHz), resampled on the way by linear
// interpolation to the next one above (48 kHz above that); a new Vorbis
// file at quality 4 of 10. The markers go with the sound: WAV cue points,
// AIFF markers, the chapters of FLAC, Vorbis and Opus files (written into
// the new file before it replaces the old one). A kind libsndfile does not
// write: false. On false the old file is untouched
// and nothing is left beside it. A click each second while it writes.
bool saveSound(std::string_view fileName, const TAmostras& sound, const SoundFileFormat& format,
               FlushToDisk flush = FlushToDisk::yes);

}  // namespace kalimbro
