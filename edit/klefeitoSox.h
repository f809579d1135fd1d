// klefeitoSox: the effects of the effects command that SoX computes. Their
// rows in the effects table give SoX's words; this unit asks their
// parameters, runs sox on the scratch copy of the sound and takes its
// result through a pipe for the effects command to demonstrate.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "edit/klEfeito.h"

namespace kalimbro {

// ---- Argument texts, without the console ---------------------------------------

// The shortest decimal form with a point ("0.5", "300", "1.2").
std::string numberText(double x);
// Bass and treble: "+5", "0", "-25".
std::string gainText(int64_t db);
// Equalizer bands: "+0", "+1.5", "-3".
std::string bandGainText(double db);
// Bands the equalizer offers at this rate (5 to 8).
int equalizerBandCount(int32_t sampleRate);
// The catalogue key of band `band` (0-based) label.
std::string_view equalizerBandLabel(int band);
// " equalizer 40 .71q +0 equalizer 80 1.10q +0 ...": one text per offered
// band, `gains` holding at least that many.
std::string equalizerText(std::span<const double> gains, int32_t sampleRate);
// "0.8 " volume delay gradual, the two volumes as percentages held to 0..1.
std::string echoParameters(double volumePercent, double delayMs, double gradualPercent);
// What follows the two file names: an effect's words, then its parameters
// (after a blank when both are there).
std::string soxEffectText(std::string_view soxWords, std::string_view parameters);
// sox, its pieces of 128 KB (each of its writes to the pipe wakes the
// program: its default 8 KB makes hundreds of thousands of them for a long
// sound; much larger pieces no longer fit the processor's caches), the
// input file as a whole word (never taken for an option), the
// output as WAV on standard output, then the effect text split into words.
std::vector<std::string> soxArguments(std::string_view soxProgram, std::string_view inputFile,
                                      std::string_view effectText);

// ---- The command side ---------------------------------------------------------------

// The parameter forms. A typed value that is no number is told and refused;
// ESC at a typed value gives up.
std::optional<EffectParameters> askSoxEcho();
std::optional<EffectParameters> askSoxEqualizer();
std::optional<EffectParameters> askSoxGain();
std::optional<EffectParameters> askSoxPitch();
std::optional<EffectParameters> askSoxSpeed();
std::string askEchoParameters();
std::string askEqualizerGains();
// The gain in dB as SoX reads it; nothing when the user gave up.
std::optional<std::string> askGainDb();

// Runs SoX on the scratch copy and takes its whole result in place of the
// sound. A SoX that fails or writes nothing, and ESC while it runs, are
// told and leave the sound as it was: nothing to demonstrate.
std::optional<EffectJob> soxWork(const EffectRow& row, const EffectParameters& parameters);

}  // namespace kalimbro
