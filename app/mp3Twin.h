// mp3Twin: what the program knows of the WAV twin of an MP3 file (the
// decoded copy "x.mp3.wav" that is edited in its place): the MP3 it came
// from and whether the user has saved into it. A record in the twin's state
// folder keeps this between runs, so that a twin is opened instead of its
// MP3 only when it holds the user's edits of that very MP3, and a twin that
// holds nothing of the user's does not outlive its session. Used by the
// working-file commands, the end of the program and N.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace kalimbro {

struct TwinRecord {
  // The MP3 as it was when the twin was decoded from it, or first saved;
  // nothing when there was no MP3 (a new recording, a save under a new
  // MP3 name whose encoding failed).
  std::optional<FileStamp> mp3;
  FileStamp twin;       // the twin as the program last wrote it
  bool edited = false;  // the user has saved into it
};

std::string formatTwinRecord(const TwinRecord& record);
// Nothing for a text that is not a whole record.
std::optional<TwinRecord> parseTwinRecord(std::string_view text);

enum class TwinUse {
  open,      // it holds the user's edits of this very MP3, or the same sound as it
  decode,    // a copy of another MP3 with nothing of the user's: decoded afresh over it
  setAside,  // edits of another MP3, changed by someone else, or unknown
};
// What to do with a twin found beside an existing MP3, from its record (if
// any), the MP3 as it is now and the twin as it is now.
TwinUse twinUse(const std::optional<TwinRecord>& record, const std::optional<FileStamp>& mp3,
                const FileStamp& twin);

// ---- The record on disk (twin names are "x.mp3.wav") --------------------------------

std::optional<TwinRecord> readTwinRecord(std::string_view twin);
// After `twin` was decoded from an MP3 that had the stamp `mp3` just before,
// or encoded into the MP3 that now has that stamp: both hold one sound.
void noteTwinDecoded(std::string_view twin, const std::optional<FileStamp>& mp3);
// After the user saved or recorded into `twin`: it holds edits now.
void noteTwinSaved(std::string_view twin);
// The twin is gone (encoded back, set aside): its record goes too.
void forgetTwin(std::string_view twin);
// True when `twin` is a copy the program decoded from the MP3 beside it,
// which is still there as it was, and holds nothing of the user's: it may
// be written over or removed.
bool twinIsPlainCopy(std::string_view twin);
// True when the MP3 beside `twin` exists and holds whatever the twin holds:
// the twin was decoded from it or encoded into it, and the user has not
// saved into the twin since. Encoding it again would only lose quality.
bool mp3HoldsTwin(std::string_view twin);
// Removes a twin that is a plain copy, with its record; any other file
// stays. Called when the session that decoded it ends or moves on to
// another working file.
void dropUneditedTwin(std::string_view twin);
// Moves `twin` to a new name beside it ("x.mp3.anterior.wav", then
// "x.mp3.anterior2.wav" ...), never over an existing file; that name, or
// empty when it could not be moved.
std::string setTwinAside(std::string_view twin);

}  // namespace kalimbro
