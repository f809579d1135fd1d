// The unit tests run linked as the program is, but for the console's tones,
// which stay silent unless a test installs a player of its own: speech plays
// through the playback engine unless a test puts a fake in its place, and
// the engines hear the console's keys and clicks.
#include "app/soundLinks.h"

namespace kalimbro {
namespace {

const bool linked = [] {
  setProgramSpeechPlayer(&engineSpeechPlayer());
  setUserSide(&consoleUserSide());
  return true;
}();

}  // namespace
}  // namespace kalimbro
