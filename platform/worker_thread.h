// The one way the program starts a second thread (the audio devices'
// feeders, large writes and copies): kept away from the program's signals.
#pragma once

#include <functional>
#include <thread>

namespace kalimbro {

// Starts `work` on a new thread with every signal blocked: the handlers
// restore the terminal and remove files, and expect to run on the main
// thread. Returns a thread that is not joinable when none could be made.
std::thread startWorkerThread(std::function<void()> work);

}  // namespace kalimbro
