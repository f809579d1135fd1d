// The one instance of the program-wide state.
#include "app/programState.h"

namespace kalimbro {

ProgramState& program() {
  static ProgramState state;
  return state;
}

}  // namespace kalimbro
