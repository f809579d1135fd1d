// klEfeitoCalc: the sample arithmetic of the built-in effects of the
// effects command (klEfeito), on any sound and without the console, so that
// the command, its tests and its benchmark share it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "edit/effectWork.h"

namespace kalimbro {

class TAmostras;

// Each effect comes as its work (the sound told and sized, the arithmetic
// left to run, see effectWork.h) and as that work run whole.

// Every frame times 1.25 or 0.75, truncated and clipped.
EffectWork volumeWork(TAmostras& sound, long double gain);
void raiseVolume(TAmostras& sound);
void lowerVolume(TAmostras& sound);
// Gain 0 at frame 0 rising to 1 at `position`; the frames after it are
// untouched and the sound never grows.
EffectWork fadeInWork(TAmostras& sound, int64_t position);
void fadeInTo(TAmostras& sound, int64_t position);
// Gain 1 at `position` falling to 0 at the last frame.
EffectWork fadeOutWork(TAmostras& sound, int64_t position);
void fadeOutFrom(TAmostras& sound, int64_t position);
// Frames of delay for a delay setting: (rate div 11025) x units.
int64_t effectDelayFrames(int32_t sampleRate, int32_t units);
// One delayed copy: the sound grows by the delay and every frame becomes
// p x itself + (1 - p) x the original frame one delay earlier, p = percent
// / 100, each product truncated, the sum wrapped to 16 bits.
EffectWork echoWork(TAmostras& sound, int32_t percent, int32_t units);
void addEcho(TAmostras& sound, int32_t percent, int32_t units);
// The same with the earlier frame taken from the output, so that the echo
// repeats and decays.
EffectWork reverbWork(TAmostras& sound, int32_t percent, int32_t units);
void addReverb(TAmostras& sound, int32_t percent, int32_t units);
// The number a password stands for: its integer value when the whole text
// is one (decimal, "$" or "0x" hexadecimal, leading blanks, a sign),
// otherwise the unsigned value of the digits before the first other
// character (0 when there are none).
int32_t passwordValue(std::string_view text);
std::array<uint8_t, 256> passwordKeyStream(int32_t value);
// Flips the high byte of every value with the key stream; coding twice with
// the same value gives the sound back.
void codeFrames(TAmostras& sound, int32_t value);

}  // namespace kalimbro
