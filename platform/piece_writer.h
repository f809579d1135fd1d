// Writing a file in large pieces on a second thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/disk.h"

namespace kalimbro {

// While the caller fills the next piece, a second thread writes the last
// one: the disk and the copying work at the same time. At most one piece
// is in flight; the caller keeps its memory untouched until `send` or
// `finish` returns. Without a thread the pieces are written at once.
class PieceWriter {
 public:
  // Every piece is written by writeWholeAt.
  explicit PieceWriter(int fd);
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
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Piece> inFlight_;
  bool quit_ = false;
  bool failed_ = false;
  std::thread thread_;
};

}  // namespace kalimbro
