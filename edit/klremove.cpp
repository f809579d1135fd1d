// The remove command.
#include "edit/klremove.h"

#include <cstdlib>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "edit/klHistorico.h"
#include "platform/number_text.h"

namespace kalimbro {
namespace {

void applyRemoval(char kind) {
  ProgramState& p = program();
  RemovalPlan plan;
  if (!planRemoval(kind, p.currentPosition, p.markedPosition, p.soundBuffer->count(), plan)) return;
  p.soundBuffer->deleteRange(plan.start, plan.length);
  p.currentPosition = plan.position;
  p.markedPosition = plan.mark;
  commitStep();
  // How much went: "Trecho removido, 6,0 segundos".
  sayMessage(plan.message, 0);
  const bool sentenceEnded = messageText(plan.message).ends_with('.');
  if (sentenceEnded) crtWrite(" ");
  else sayMessage("KLNIVSEP", 0);
  writeSpeak(secondsText(plan.length, p.soundBuffer->sampleRate()));
  sayMessage("KLSEGUND", 1);
}

}  // namespace

bool planRemoval(char kind, int32_t position, int32_t mark, int32_t count, RemovalPlan& plan) {
  const int64_t pos = position;
  switch (kind) {
    case 'A':
      // The mark stays on the same piece of sound, or at the start when
      // that piece is gone.
      plan = {0, pos, 0, mark - pos < 0 ? 0 : static_cast<int32_t>(mark - pos), "KLREMANT"};
      return true;
    case 'D':
      plan = {pos, int64_t{count} - pos, position, mark > position ? position : mark, "KLREMPOS"};
      return true;
    case 'M': {
      const int32_t lower = position < mark ? position : mark;
      plan = {lower, std::llabs(pos - mark), lower, lower, "KLTRCREM"};
      return true;
    }
    case 'T':
      plan = {0, count, position, 0, "KLDESTRU"};
      return true;
    default:
      return false;
  }
}

void removeBeforeCursor() { applyRemoval('A'); }
void removeAfterCursor() { applyRemoval('D'); }
void removeBetweenCursorAndMark() { applyRemoval('M'); }
void removeAll() { applyRemoval('T'); }

void removeCommand() {
  uint8_t key = 0;
  for (;;) {
    sayMessage("KLTRAREM", 0);
    key = upperCaseAccented(readKeySpeak());
    const uint8_t extended = key == 0 ? readKey() : 0;
    crtWriteln();
    // F1 tells the answers and the menu is asked again.
    if (key != 0 || extended != kF1) break;
    sayMessage("KLAJREMO", 1);
  }
  switch (key) {
    case 'A': removeBeforeCursor(); break;
    case 'D': removeAfterCursor(); break;
    case 'M': removeBetweenCursorAndMark(); break;
    case 'T': removeAll(); break;
    case kEsc: sayMessage("KLDESIST", 1); break;
    default: sayMessage("KLOPINV", 1); break;
  }
}

}  // namespace kalimbro
