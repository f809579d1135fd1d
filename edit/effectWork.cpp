// Effects worked whole or on a thread of their own.
#include "edit/effectWork.h"

#include <algorithm>
#include <chrono>

#include "platform/worker_thread.h"
#include "sound/gramost.h"

namespace kalimbro {

void workWhole(const EffectWork& work) { inBlocks(work.first, work.end, work.run); }

EffectWorker::EffectWorker(EffectWork work, int64_t pieceFrames)
    : work_(std::move(work)), pieceFrames_(std::max<int64_t>(pieceFrames, 1)), worked_(work_.first) {
  if (work_.first >= work_.end) return;
  thread_ = startWorkerThread([this] { workAll(); });
  // Without a thread of its own the effect is worked before it is heard.
  if (!thread_.joinable()) workAll();
}

EffectWorker::~EffectWorker() {
  if (thread_.joinable()) thread_.join();
}

void EffectWorker::workAll() {
  for (int64_t from = work_.first; from < work_.end;) {
    const int64_t to = std::min(work_.end, from + pieceFrames_);
    work_.run(from, to);
    worked_.store(to, std::memory_order_release);
    worked_.notify_all();
    from = to;
  }
}

void EffectWorker::waitUntilWorked(int64_t frame) {
  frame = std::min(frame, work_.end);
  for (int64_t worked = worked_.load(std::memory_order_acquire); worked < frame;
       worked = worked_.load(std::memory_order_acquire))
    worked_.wait(worked, std::memory_order_acquire);
}

void EffectWorker::finish() {
  WorkClicker clicker;
  while (worked_.load(std::memory_order_acquire) < work_.end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    clicker.blockDone();
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace kalimbro
