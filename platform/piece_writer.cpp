// Large pieces written on a second thread (see piece_writer.h).
#include "platform/piece_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/worker_thread.h"

namespace kalimbro {

bool writeWholeAt(int fd, const uint8_t* data, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t put = pwrite(fd, data, std::min<size_t>(n, size_t{1} << 30), static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EINVAL) {
      const int flags = fcntl(fd, F_GETFL);
      if (flags < 0 || !(flags & O_DIRECT) || fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0) return false;
      continue;
    }
    if (put <= 0) return false;
    data += put;
    n -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

PieceWriter::PieceWriter(int fd, WriteAt writeAt) : fd_(fd), writeAt_(writeAt), thread_(startWorkerThread([this] { run(); })) {}

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
    if (!failed_ && !writeAt_(fd_, data, n, offset)) failed_ = true;
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
    const bool written = writeAt_(fd_, piece.data, piece.n, piece.offset);
    lock.lock();
    failed_ = failed_ || !written;
    inFlight_.reset();
    changed_.notify_all();
  }
}

}  // namespace kalimbro
