// Worker threads with the signals blocked (see worker_thread.h).
#include "platform/worker_thread.h"

#include <signal.h>

#include <system_error>

namespace kalimbro {

std::thread startWorkerThread(std::function<void()> work) {
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread;
  try {
    thread = std::thread(std::move(work));
  } catch (const std::system_error&) {
    // The caller does the work itself.
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

}  // namespace kalimbro
