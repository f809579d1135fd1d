// file_replacer: the one way the program writes a new version of a file.
// The new version is written beside the old one and renamed over it only
// when complete, so that the old file survives any failure and any kill.
// Sound files (saveWav, the divide command's parts, the effects' scratch
// copy), the settings file and LAME's output all go through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/piece_writer.h"
#include "platform/signal_cleanup.h"

namespace kalimbro {

// The user's files reach the disk before they take the old version's place
// (durable); a scratch copy that lives only while the program runs need not
// wait for the disk. A durable file that will soon be read back (the edit
// history's frames) goes through the page cache and stays there, its
// writing kept close behind so that the flush at the end finds little left.
enum class FlushToDisk : uint8_t { no, yes, yesThroughCache };

// Called with a new version's native name before it takes the old one's
// place; false gives the new version up.
using FinishNewFile = std::function<bool(const std::string& nativeName)>;

// Writes a new version of a file beside it (a hidden sibling in the same
// directory, see createHiddenSibling) and renames it over the old one only
// when every byte, the flush to disk and the close have succeeded. Until
// then, and whenever anything fails, the previous file stays as it was; an
// unfinished temporary file is removed, also when a signal ends the program.
// The new version keeps the old one's permissions and, where allowed, its
// owner. A name that is a symbolic link (an alias), or the first of a chain
// of them, replaces the file at the end of the chain and the links stay.
// A durable file goes to the disk in large aligned pieces that bypass the
// page cache (O_DIRECT) where the file system allows it, written by a
// second thread while the next piece fills: no copy into the cache, and
// nothing left for the flush.
class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // `fileName` is a Windows-1252 name. False when the file could not be
  // replaced at all (directory missing or not writable, existing file
  // read-only or not a regular file, links that lead nowhere).
  bool open(std::string_view fileName, FlushToDisk flush = FlushToDisk::yes);
  // False on any failure, this one or an earlier one.
  bool write(const void* data, size_t n);
  // Bytes written so far.
  uint64_t size() const { return offset_ + staged_; }
  // Changes `n` bytes already written at `offset` (a header whose sizes are
  // known only at the end). The change reaches the file when commit has
  // written everything else, before the flush. False when the bytes lie
  // past what was written, or on an earlier failure.
  bool rewrite(uint64_t offset, const void* data, size_t n);
  // A Windows-1252 name under which another program (LAME) writes the new
  // version itself, instead of `write`: the hidden file, or, where its path
  // has no Windows-1252 form, an alias of it left in the temporary
  // directory (a new one each call). Empty when there is none.
  std::string newFileName() const;
  // Sends what went through the page cache so far to the disk now, so that
  // commit finds little left to flush (a file written in idle moments).
  bool flushWritten();
  // Puts the new file in place; false (the old file untouched, nothing
  // left beside it) on any failure since open. `finish`, when given, is
  // called with the new file's native name once every byte is in it, and
  // may change the file there (tags written in place) before it reaches
  // the disk and takes the old one's place; false from it fails the commit.
  bool commit(const FinishNewFile& finish = {});

 private:
  void discard();
  bool put(const void* data, size_t n);
  bool sendStaged();

  std::string shownName_;  // the name as opened, Windows-1252
  std::string target_;     // native names
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
  uint64_t onDisk_ = 0;      // of those, the bytes waited for (yesThroughCache)
  // Direct writes: two staging areas, one filling while the other is written.
  bool direct_ = false;
  struct FreeStaging {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::array<std::unique_ptr<uint8_t, FreeStaging>, 2> staging_;
  // Rewritten bytes, applied in order by commit.
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> rewrites_;
  int filling_ = 0;
  size_t staged_ = 0;
  std::unique_ptr<PieceWriter> writer_;
};

}  // namespace kalimbro
