// klMistura: the mix command (main menu M). Brings a second sound file (WAV,
// or MP3 decoded with LAME) into the working sound by addition (inserted),
// mixing (laid over at full level) or as a background (both sounds at
// typed percentages), at the start, the cursor or the end.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kalimbro {

class TAmostras;

// A typed percentage as a gain: value / 100 when the trimmed text is a
// number below 100 (a comma may stand for the point), else `fallback`.
long double percentFactor(std::string_view typed, long double fallback);
// The first working frame the second sound meets: 'I' the start, 'C' the
// cursor, 'F' the last frame; kept within 0..count.
int64_t mixPosition(char place, int32_t cursor, int32_t count);
// Gives `second` the working sound's channels and sample width, and its
// rate (the converted sound replaces it). False when memory was refused.
bool matchSoundFormat(std::unique_ptr<TAmostras>& second, const TAmostras& working);
// Room for the whole second sound is made first (opened at `position` for
// an addition, added at the end where it reaches past it); then every frame
// of it is laid over the working sound from `position`. False when the
// room could not be had (nothing is changed then).
bool mixSounds(TAmostras& working, const TAmostras& second, bool addition, int64_t position,
               long double workingFactor, long double secondFactor);

void mixCommand();

}  // namespace kalimbro
