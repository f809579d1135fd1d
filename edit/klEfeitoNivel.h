// klEfeitoNivel: the effects that work from the sound's levels: loudness
// normalisation to a target (L), the silence at the start and the end
// removed (C) and long pauses shortened (U). Each measures, prepares its
// work and says what it will do or did; the effects command demonstrates
// the result and asks whether to keep it.
#pragma once

#include <optional>

#include "edit/klEfeito.h"

namespace kalimbro {

// The target in LUFS (Enter alone: the default), refused out of range.
std::optional<EffectParameters> askLoudnessTarget();
std::optional<EffectJob> loudnessWork(const EffectRow& row, const EffectParameters& target);
std::optional<EffectJob> silenceTrimWork(const EffectRow& row, const EffectParameters& none);
// The longest pause kept, in seconds (Enter alone: the default).
std::optional<EffectParameters> askLongestPause();
std::optional<EffectJob> pauseShorteningWork(const EffectRow& row, const EffectParameters& longestSeconds);

}  // namespace kalimbro
