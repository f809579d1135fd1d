// The user's side of the engines (see userSide.h) and its quiet stand-in.
#include "sound/userSide.h"

#include <algorithm>

#include "platform/eventloop.h"

namespace kalimbro {
namespace {

class NobodyThere final : public UserSide {
 public:
  bool keyPressed() override {
    eventLoop().processPending();
    return false;
  }
  bool recordingEndAsked() override { return keyPressed(); }
  void delay(int ms) override {
    if (ms > 0) eventLoop().clock().sleepMs(std::min(ms, 0xFFFF));
    eventLoop().processPending();
  }
  void click() override {}
  void toneOff() override {}
};

UserSide* linked = nullptr;

}  // namespace

void setUserSide(UserSide* side) { linked = side; }

UserSide& userSide() {
  static NobodyThere nobody;
  return linked ? *linked : nobody;
}

}  // namespace kalimbro
