// chapterTags: chapters kept in the tags of a sound file, read and written
// in place with TagLib: FLAC, Vorbis and Opus files as Vorbis comments
// (CHAPTER001=00:01:02.500, CHAPTER001NAME=title), MP3 files as ID3v2
// chapter frames ("chp1" ...) listed in order by one top-level table of
// contents: the kinds whose row in soundKinds keeps its markers in chapter
// tags. Used by soundFiles (FLAC, Vorbis, Opus) and klmp3 (MP3).
#pragma once

#include <string>
#include <vector>

#include "formats/chapters.h"
#include "formats/soundKinds.h"

namespace kalimbro {

// Writes `chapters` into the tags of the file at the native path `path`,
// of `kind`, in place of the chapters it had; its other tags stay. False
// when the file could not be read or written.
bool writeChapterTags(const std::string& path, SoundKind kind, const std::vector<Chapter>& chapters);
// The file's chapters in the order of their starts; none when it has none
// or cannot be read.
std::vector<Chapter> readChapterTags(const std::string& path, SoundKind kind);

}  // namespace kalimbro
