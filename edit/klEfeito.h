// klEfeito: the effects command (main menu E). A loop that asks for one of
// sixteen effects, applies it to the whole working sound, lets the user hear
// it and keep or drop it. Seven effects are computed here on the frames
// (volume, fades, echo, reverberation, coding with a password); nine go to
// SoX through klefeitoSox, which shares this unit's scratch copy, its
// demonstration and its keep-or-discard question.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

class TAmostras;

// ---- The effects on a sound, without the console ---------------------------

// Every frame times 1.25 or 0.75, truncated and clipped.
void raiseVolume(TAmostras& sound);
void lowerVolume(TAmostras& sound);
// Gain 0 at frame 0 rising to 1 at `position`; the frames after it are
// untouched and the sound never grows.
void fadeInTo(TAmostras& sound, int64_t position);
// Gain 1 at `position` falling to 0 at the last frame.
void fadeOutFrom(TAmostras& sound, int64_t position);
// Frames of delay for a delay setting: (rate div 11025) x units.
int64_t effectDelayFrames(int32_t sampleRate, int32_t units);
// One delayed copy: the sound grows by the delay and every frame becomes
// p x itself + (1 - p) x the original frame one delay earlier, p = percent
// / 100, each product truncated, the sum wrapped to 16 bits.
void addEcho(TAmostras& sound, int32_t percent, int32_t units);
// The same with the earlier frame taken from the output, so that the echo
// repeats and decays.
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

// ---- The command --------------------------------------------------------------

void effectsCommand();
void showEffectsHelp();
// The chosen letter (lower case) or 27.
uint8_t chooseEffectFromList();
void keepOrDiscardEffect();
void volumeUp();
void volumeDown();
void fadeIn();
void fadeOut();
void echoEffect();
void reverbEffect();
void codeWithPassword();

// ---- Shared with the SoX effects ---------------------------------------------

// The scratch file that holds the sound as it was before the current
// effect: tempSoundFile, or a fixed name in the temporary directory when
// there is none, always ending in ".wav" (SoX goes by the extension).
std::string effectScratchFile();
// Puts the sound back as it was before the current effect.
void restoreSoundBeforeEffect();
// Plays the whole working sound and waits for the end.
void demonstrate();
// "Deseja manter o efeito?(S/N)": true on S or Enter, false on N or ESC;
// other keys are ignored.
bool askKeepEffect();

}  // namespace kalimbro
