// Writing a file in large pieces on a second thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace kalimbro {

// Writes all of `n` bytes at `offset`; false on failure. A descriptor in
// direct mode (O_DIRECT) that refuses a piece (a file system that takes
// the flag but not the write, or a remainder left unaligned by a short
// write) leaves direct mode and writes it through the page cache.
bool writeWholeAt(int fd, const uint8_t* data, size_t n, uint64_t offset);

// While the caller fills the next piece, a second thread writes the last
// one: the disk and the copying work at the same time. At most one piece
// is in flight; the caller keeps its memory untouched until `send` or
// `finish` returns. Without a thread the pieces are written at once.
class PieceWriter {
 public:
  using WriteAt = bool (*)(int fd, const uint8_t* data, size_t n, uint64_t offset);
  // Every piece is written by `writeAt`.
  PieceWriter(int fd, WriteAt writeAt);
  ~PieceWriter();  // waits for the piece in flight
  PieceWriter(const PieceWriter&) = delete;
  PieceWriter& operator=(const PieceWriter&) = delete;

  // Waits for the piece in flight, then hands this one over. False once any
  // piece has failed.
  bool send(const uint8_t* data, size_t n, uint64_t offset);
  // Waits for the piece in flight. False once any piece has failed.
  bool finish();

 private:
  struct Piece {
    const uint8_t* data;
    size_t n;
    uint64_t offset;
  };
  void run();

  int fd_;
  WriteAt writeAt_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Piece> inFlight_;
  bool quit_ = false;
  bool failed_ = false;
  std::thread thread_;
};

}  // namespace kalimbro
