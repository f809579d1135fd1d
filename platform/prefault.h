// Readying the pages of a large fresh buffer ahead of the code that fills it.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

namespace kalimbro {

// A page's first touch costs more than copying into it (on virtual machines
// several times more), and one thread touching pages waits on each in turn.
// While it lives, a second thread makes the pages of [start, start + bytes)
// ready from the far end towards the near one, where the filling starts,
// and stops where the filling has reached. Only the pages' mapping is done
// (MADV_POPULATE_WRITE): the contents are never touched, so it never races
// with the filling. A small buffer, an old kernel or a refused thread make
// it do nothing.
class PagePrefaulter {
 public:
  PagePrefaulter(void* start, size_t bytes);
  ~PagePrefaulter();
  PagePrefaulter(const PagePrefaulter&) = delete;
  PagePrefaulter& operator=(const PagePrefaulter&) = delete;

  // The filling has reached `bytes` from the start.
  void filled(size_t bytes) { filled_.store(bytes, std::memory_order_relaxed); }

 private:
  void run(char* start, size_t bytes);

  std::atomic<size_t> filled_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kalimbro
