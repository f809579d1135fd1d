// openSave: sound files of every kind as the commands open and save them.
// The kind and the in-process reading and writing are soundFiles'; here the
// kinds whose row names another program are handed to it: to LAME through a
// WAV copy in the temporary directory (MP3), to ffmpeg through pipes (AAC:
// its decoding read straight into memory, the sound's values fed to its
// encoding). The user hears what went wrong or what was reduced. Used by
// the working file, the mix and the divide command.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "formats/soundFiles.h"
#include "sound/gramost.h"

namespace kalimbro {

// The file selector's patterns for the sound files the program opens, WAV
// first, with or without the kinds edited through a WAV twin (MP3, which
// the divide command does not read).
std::string soundFilePatterns(bool withTwinKinds);

// Reads the sound file `name`, of any kind the program reads, into `sound`
// (converted by another program where the kind's row names one) and tells
// the user what had to be reduced (depth, channels) and how many seconds
// of a file cut short were there to open. A lossy file's format
// holds its bit rate. Nothing on failure: the sound is as it was and the
// user has heard why (memory, a file that is no sound it reads, a
// conversion that failed or was given up, no temporary directory for one).
std::optional<SoundFileFormat> readSoundFile(std::string_view name, TAmostras& sound);
// Writes `sound` as `name` in `format`; the old file stays until the new one
// is complete. False on failure; the user has heard why when a conversion
// failed (the caller says that the save failed).
bool writeSoundFile(std::string_view name, const TAmostras& sound, const SoundFileFormat& format);
// Before a file the user named is written: true when no file `shownName`
// exists, or the user answered S to "O arquivo NOME j\xE1 existe. Substituo? ";
// otherwise the user has heard "Desistiu...". `shownName` is the name as
// the user knows it (an MP3, not its WAV twin).
bool mayReplace(std::string_view shownName);
// The format F2 and save-as write `name` in: the working file keeps the
// format it was read in (a 24-bit WAV stays 24 bits, FLAC stays FLAC) at the
// sound's own depth where that was 8 or 16 bits; any other name gets the
// kind its extension names (WAV for any other extension) at the sound's
// depth.
SoundFileFormat savingFormat(std::string_view name, const TAmostras& sound);
// A file of `kind` for a sound of `bits` (8 or 16) that was read from a
// file of format `own`: a deeper PCM depth or floating point stays, where
// the kind holds it (FLAC at most 24 bits), while the sound keeps 16 bits;
// a lossy kind keeps its bit rate.
SoundFileFormat formatKeepingDepth(SoundKind kind, const SoundFileFormat& own, int32_t bits);
// True for a name the program takes as it is, without ".wav" after it: a
// name of any kind it reads but those edited through their WAV twin (MP3).
bool keepsItsName(std::string_view name);

// A temporary file in the program's own temporary directory, removed when
// its owner is done with it.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  // False when there is no temporary directory or no file could be made.
  bool make();
  void remove();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace kalimbro
