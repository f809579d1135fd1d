// Large pieces written on a second thread (see piece_writer.h).
#include "platform/piece_writer.h"

#include "platform/worker_thread.h"

namespace kalimbro {

PieceWriter::PieceWriter(int fd) : fd_(fd), thread_(startWorkerThread([this] { run(); })) {}

PieceWriter::~PieceWriter() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !inFlight_; });
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool PieceWriter::send(const uint8_t* data, size_t n, uint64_t offset) {
  if (!thread_.joinable()) {
    if (!failed_ && !writeWholeAt(fd_, data, n, offset)) failed_ = true;
    return !failed_;
  }
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !inFlight_; });
    if (failed_) return false;
    inFlight_ = Piece{data, n, offset};
  }
  changed_.notify_all();
  return true;
}

bool PieceWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !inFlight_; });
  return !failed_;
}

void PieceWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return inFlight_ || quit_; });
    if (!inFlight_) return;
    const Piece piece = *inFlight_;
    lock.unlock();
    const bool written = writeWholeAt(fd_, piece.data, piece.n, piece.offset);
    lock.lock();
    failed_ = failed_ || !written;
    inFlight_.reset();
    changed_.notify_all();
  }
}

}  // namespace kalimbro
