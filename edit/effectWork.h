// effectWork: an effect's arithmetic split from its preparation, so that a
// long sound can be heard while the effect is still at work on it. The
// preparation (telling the sound's witness, giving the sound its new
// length) happens on the main thread; the work is then run whole, or on a
// thread of its own that keeps ahead of the demonstration.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

namespace kalimbro {

// Frames first..end-1 of a prepared sound, worked by run(from, to) in
// ascending pieces of any length: every split gives the same values as
// long as the pieces come in order. The work touches nothing but those
// frames' values (no witness, no clicks), so another thread may run it.
struct EffectWork {
  int64_t first = 0;
  int64_t end = 0;
  std::function<void(int64_t from, int64_t to)> run;
};

// What an effect leaves for the effects command to demonstrate and offer.
struct EffectJob {
  // The frames still to work while the demonstration plays; nothing when
  // the result is whole already. A whole result's clipping is told before
  // the demonstration, a worked one's after it.
  std::optional<EffectWork> pieces = {};
  // Said as the work starts (what a removal of pauses will take away).
  std::function<void()> tellStart = {};
  // Said once the whole result is there, before its clipping.
  std::function<void()> whenWorked = {};
  // Done when the user keeps the result.
  std::function<void()> whenKept = {};
};

// All of it at once, with the click each second.
void workWhole(const EffectWork& work);

// Runs an effect's work on a thread of its own, a piece at a time.
// Frames are never handed to anything else before waitUntilWorked says
// they are done; the sound must not change otherwise meanwhile.
class EffectWorker {
 public:
  // A fraction of a millisecond of work, far more than a device block.
  static constexpr int64_t kPieceFrames = int64_t{1} << 18;

  explicit EffectWorker(EffectWork work, int64_t pieceFrames = kPieceFrames);
  // Finishes the work: the sound is never left half worked.
  ~EffectWorker();
  EffectWorker(const EffectWorker&) = delete;
  EffectWorker& operator=(const EffectWorker&) = delete;

  // Returns once every frame before `frame` is worked.
  void waitUntilWorked(int64_t frame);
  // Returns once all of it is worked, with the click each second.
  void finish();

 private:
  void workAll();

  EffectWork work_;
  int64_t pieceFrames_;
  // Every frame before it is worked.
  std::atomic<int64_t> worked_;
  std::thread thread_;
};

}  // namespace kalimbro
