// klEfeito: the effects command (main menu E). A loop that asks for one of
// nineteen effects, applies it to the whole working sound, lets the user
// hear it and keep or drop it. Seven effects are computed by the program
// (klEfeitoCalc: volume, fades, echo, reverberation, coding with a
// password), three more from the sound's levels (klEfeitoNivel: loudness,
// silence at the ends, long pauses); nine go to SoX through klefeitoSox,
// which shares this unit's scratch copy, its demonstration and its
// keep-or-discard question.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "edit/klEfeitoCalc.h"

namespace kalimbro {

// ---- The command --------------------------------------------------------------

void effectsCommand();
void showEffectsHelp();
// The chosen letter (lower case) or 27.
uint8_t chooseEffectFromList();
// Asks; puts the sound back when the effect is not kept. True when kept.
bool keepOrDiscardEffect();
void volumeUp();
void volumeDown();
void fadeIn();
void fadeOut();
void echoEffect();
void reverbEffect();
void codeWithPassword();

// ---- Shared with the SoX effects ---------------------------------------------

// After an effect the screen is cleared from this row down, so that the
// effects question always comes back at the same place.
inline constexpr int kRowAfterEffect = 8;

// The scratch file that holds the sound as it was before the current
// effect: tempSoundFile, or a fixed name in the temporary directory when
// there is none, always ending in ".wav" (SoX goes by the extension);
// empty when there is no temporary directory.
std::string effectScratchFile();
// Puts the sound back as it was before the current effect; says so when
// the copy cannot be read back (the sound then keeps the effect).
void restoreSoundBeforeEffect();
// Plays the whole working sound and waits for the end.
void demonstrate();
// Says in how many places frames first..end-1 of the working sound clip,
// as F7 counts them, when any do: what a result is told before it is kept.
void tellClipping(int64_t first, int64_t end);
// Says that the demonstration comes, plays it and asks whether to keep the
// effect (the sound put back when not). True when kept. With a worker
// still at the effect, what plays waits for it, and the question for the
// rest of it; `whenWorked` then says what only the whole work could tell.
bool demonstrateAndKeep(EffectWorker* worker = nullptr, const std::function<void()>& whenWorked = {});
// "Deseja manter o efeito?(S/N)": true on S or Enter, false on N or ESC;
// other keys are ignored; F1 says what the answers do.
bool askKeepEffect();

}  // namespace kalimbro
