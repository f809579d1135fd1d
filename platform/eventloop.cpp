// poll()-based message loop with an eventfd for wake-ups and a queue of
// tasks posted from other threads.
#include "platform/eventloop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace kalimbro {

EventLoop::EventLoop() : clock_(&systemClock()) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

EventLoop::~EventLoop() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

int EventLoop::watch(int fd, Handler onReadable) {
  const int id = nextId_++;
  watches_.push_back({id, fd, std::move(onReadable)});
  return id;
}

void EventLoop::unwatch(int id) {
  std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
}

void EventLoop::setIdleHook(IdleHook hook) { idleHook_ = std::move(hook); }

void EventLoop::postWakeUp() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing to do on failure.
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void EventLoop::post(Handler task) {
  {
    const std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
  }
  postWakeUp();
}

void EventLoop::runPosted() {
  for (;;) {
    Handler task;
    {
      const std::lock_guard lock(postedMutex_);
      if (posted_.empty()) return;
      task = std::move(posted_.front());
      posted_.pop_front();
    }
    task();
  }
}

void EventLoop::processPending() { dispatch(0); }

void EventLoop::waitForMessage(int timeoutMs) {
  if (idleHook_) {
    // Tests: feed scripted input rather than sleeping when nothing is ready.
    dispatch(0);
    if (idleHook_()) return;
    if (timeoutMs != 0) clock_->sleepMs(timeoutMs < 0 ? 0 : timeoutMs);
    dispatch(0);
    return;
  }
  dispatch(timeoutMs);
}

void EventLoop::dispatch(int timeoutMs) {
  std::vector<pollfd> fds;
  fds.push_back({wakeFd_, POLLIN, 0});
  // Handlers may watch, unwatch or process messages themselves, so work on
  // a copy of the ids and look each one up again before running it.
  std::vector<int> ids;
  for (const Watch& w : watches_) {
    fds.push_back({w.fd, POLLIN, 0});
    ids.push_back(w.id);
  }
  int ready;
  do {
    ready = poll(fds.data(), fds.size(), timeoutMs);
  } while (ready < 0 && errno == EINTR && timeoutMs == 0);
  // The wake-up is taken before the posted tasks: one posted after it
  // wakes the next wait.
  if (ready > 0 && (fds[0].revents & POLLIN)) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
  }
  for (size_t i = 1; ready > 0 && i < fds.size(); ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const int id = ids[i - 1];
    auto it = std::find_if(watches_.begin(), watches_.end(),
                           [id](const Watch& w) { return w.id == id; });
    if (it == watches_.end()) continue;
    Handler handler = it->handler;  // the handler may unwatch itself
    handler();
  }
  runPosted();
}

EventLoop& eventLoop() {
  static EventLoop loop;
  return loop;
}

}  // namespace kalimbro
