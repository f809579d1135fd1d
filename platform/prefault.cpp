// Readies a large buffer's pages from a second thread (see prefault.h).
#include "platform/prefault.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "platform/worker_thread.h"

namespace kalimbro {
namespace {

constexpr size_t kPage = 4096;
// Below this the thread would cost more than it saves.
constexpr size_t kSmallestBuffer = size_t{16} << 20;
constexpr size_t kStepBytes = size_t{8} << 20;

}  // namespace

PagePrefaulter::PagePrefaulter(void* start, size_t bytes) {
  if (bytes < kSmallestBuffer) return;
  thread_ = startWorkerThread([this, start, bytes] { run(static_cast<char*>(start), bytes); });
}

PagePrefaulter::~PagePrefaulter() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

void PagePrefaulter::run(char* start, size_t bytes) {
  // Whole pages inside the buffer only: madvise takes page-aligned ranges.
  const auto first = (reinterpret_cast<uintptr_t>(start) + kPage - 1) & ~(kPage - 1);
  auto end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kPage - 1);
  const auto base = reinterpret_cast<uintptr_t>(start);
  while (end > first && !stop_.load(std::memory_order_relaxed)) {
    const uintptr_t from = end - std::min<uintptr_t>(end - first, kStepBytes);
    if (from < base + filled_.load(std::memory_order_relaxed)) return;
    if (madvise(reinterpret_cast<void*>(from), end - from, MADV_POPULATE_WRITE) != 0) return;
    end = from;
  }
}

}  // namespace kalimbro
