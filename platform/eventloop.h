// The program's message loop, the only place where the main thread waits.
// "Processing window messages" is `processPending`: every descriptor that is
// ready (the terminal, the audio devices' event descriptors, the wake-up)
// has its handler run. "Waiting for a message" is `waitForMessage`: poll()
// on all of them with a timeout. Units plug their descriptor in with
// `watch`; nothing else in the program calls poll().
#pragma once

#include <functional>
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

  std::vector<Watch> watches_;
  int nextId_ = 1;
  int wakeFd_ = -1;
  IdleHook idleHook_;
  Clock* clock_;
};

// The one loop of the program.
EventLoop& eventLoop();

}  // namespace kalimbro
