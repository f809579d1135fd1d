// klEfeito: the effects command (main menu E). A loop that asks for one of
// the effects of its table, applies it to the whole working sound, lets the
// user hear it and keep or drop it. Every effect is one row of the same
// shape: its key, its list text, the text said as it starts, its parameter
// form and a function that returns its work. The work comes from the
// program's own arithmetic (klEfeitoCalc), from the sound's levels
// (klEfeitoNivel) or from SoX (klefeitoSox); the loop asks, works,
// demonstrates and keeps the same way for all.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "edit/effectWork.h"

namespace kalimbro {

// What an effect's parameter form gave: SoX's words or a password as
// text, a loudness target or a pause's length as a number.
struct EffectParameters {
  std::string text = {};
  double number = 0;
};

struct EffectRow;
// Nothing when the user gave up or the value was refused (told either way).
using AskEffectParameters = std::optional<EffectParameters> (*)();
// Changes the sound, or prepares the change; nothing when there is nothing
// to demonstrate (the effect told why, or is done without a question).
using StartEffectWork = std::optional<EffectJob> (*)(const EffectRow& row, const EffectParameters& parameters);

struct EffectRow {
  char key;                    // as typed, upper case; the pop-up list answers with it
  std::string_view listKey;    // help line and list item
  std::string_view resultKey;  // said as the work starts; empty when the effect says nothing then
  AskEffectParameters ask;     // nullptr: the effect asks nothing
  StartEffectWork work;
  // SoX's words for the effect; its parameters follow after a blank.
  std::string_view soxWords = {};
  // SoX reads the scratch copy: without a temporary directory there is none.
  bool readsScratchFile = false;
  // The markers are mirrored, not only stretched, to the new length.
  bool reversesTime = false;
  // Coding asks nothing afterwards: it needs no copy to go back to.
  bool mayBeDiscarded = true;
};

// The effects in the order of the help and of the pop-up list.
std::span<const EffectRow> effectRows();
// The row of an upper-case key, or nullptr.
const EffectRow* effectForKey(uint8_t key);

// ---- The command --------------------------------------------------------------

void effectsCommand();

// ---- Shared with the effects' work -------------------------------------------

// The scratch file that holds the sound as it was before the current
// effect: tempSoundFile, or a fixed name in the temporary directory when
// there is none, always ending in ".wav" (SoX goes by the extension);
// empty when there is no temporary directory.
std::string effectScratchFile();
// Puts the sound back as it was before the current effect; says so when
// the copy cannot be read back (the sound then keeps the effect).
void restoreSoundBeforeEffect();
// Says in how many places frames first..end-1 of the working sound clip,
// as F7 counts them, when any do: what a result is told before it is kept.
void tellClipping(int64_t first, int64_t end);

}  // namespace kalimbro
