// wavformat: the file writer that replaces a file only once its new
// content is complete (the header layout is platform/wav_header).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/piece_writer.h"
#include "platform/signal_cleanup.h"

namespace kalimbro {

// ---- Replacing a file safely ---------------------------------------------------

// The user's files reach the disk before they take the old version's place;
// a scratch copy that lives only while the program runs need not wait for
// the disk.
enum class FlushToDisk : bool { no, yes };

// Writes a new version of a file beside it (a hidden sibling in the same
// directory, see createHiddenSibling) and renames it over the old one only
// when every byte, the flush to disk and the close have succeeded. Until
// then, and whenever anything fails, the previous file stays as it was; an
// unfinished temporary file is removed. A file bound for the disk goes there in large aligned
// pieces that bypass the page cache (O_DIRECT) where the file system
// allows it: no copy into the cache, and nothing left for the flush.
class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // `fileName` is a Windows-1252 name. False when the file could not be
  // replaced at all (directory missing or not writable, existing file
  // read-only).
  bool open(std::string_view fileName, FlushToDisk flush = FlushToDisk::yes);
  // False on any failure, this one or an earlier one.
  bool write(const void* data, size_t n);
  // Puts the new file in place; false (and the old file untouched) on any
  // failure since open.
  bool commit();

 private:
  void discard();
  bool put(const void* data, size_t n);
  bool sendStaged();

  std::string target_;  // native names
  std::string temp_;
  SignalRemovedFile tempOnSignal_;
  // Held from the creation of the new file until it has its place, so that
  // no start of the program takes it for a leftover meanwhile.
  UniqueFd tempLock_;
  int fd_ = -1;
  bool failed_ = false;
  FlushToDisk flush_ = FlushToDisk::yes;
  uint64_t offset_ = 0;  // bytes put in the file or on their way
  uint64_t sentToDisk_ = 0;  // bytes written through the cache whose writeback has started
  // Direct writes: two staging areas, one filling while the other is written.
  bool direct_ = false;
  struct FreeStaging {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::array<std::unique_ptr<uint8_t, FreeStaging>, 2> staging_;
  int filling_ = 0;
  size_t staged_ = 0;
  std::unique_ptr<PieceWriter> writer_;
};

}  // namespace kalimbro
