// The program's message loop, the only place where the main thread waits.
// "Processing window messages" is `processPending`: every descriptor that is
// ready (the terminal, the wake-up) has its handler run, then every task
// other threads posted (the audio devices' done reports, the speech
// service's notices). "Waiting for a message" is `waitForMessage`: poll() on
// all of them with a timeout. Units plug their descriptor in with `watch`
// and hand work to the main thread with `post`; nothing else in the program
// calls poll() or makes a descriptor of its own to wake the main thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace kalimbro {

class EventLoop {
 public:
  using Handler = std::function<void()>;
  // Tests run without a terminal: when the loop is about to sleep with
  // nothing ready, the idle hook may feed input instead and return true.
  using IdleHook = std::function<bool()>;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Runs `onReadable` on the main thread whenever `fd` is readable; the
  // handler must read what made it ready. Returns an id for `unwatch`.
  int watch(int fd, Handler onReadable);
  void unwatch(int id);

  // Runs the handlers of every ready descriptor without waiting.
  void processPending();

  // Sleeps until a descriptor is ready, a wake-up is posted or `timeoutMs`
  // passed (negative: no limit), then processes what is pending.
  void waitForMessage(int timeoutMs = -1);

  // Makes a waiting `waitForMessage` return. Safe from any thread.
  void postWakeUp();

  // Runs `task` on the main thread the next time messages are processed,
  // after the tasks posted before it. Safe from any thread. A task may
  // process messages itself: the tasks after it then run inside it, still
  // in order.
  void post(Handler task);

  void setIdleHook(IdleHook hook);

  Clock& clock() { return *clock_; }
  void setClock(Clock& clock) { clock_ = &clock; }

 private:
  struct Watch {
    int id;
    int fd;
    Handler handler;
  };
  void dispatch(int timeoutMs);
  void runPosted();

  std::vector<Watch> watches_;
  int nextId_ = 1;
  int wakeFd_ = -1;
  std::mutex postedMutex_;
  std::deque<Handler> posted_;
  IdleHook idleHook_;
  Clock* clock_;
};

// The one loop of the program.
EventLoop& eventLoop();

}  // namespace kalimbro
