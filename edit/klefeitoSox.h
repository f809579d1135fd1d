// klefeitoSox: the nine effects of the effects command that SoX computes:
// echo, reverberation, pitch, reverse, speed, bass, treble, normalisation
// and the band equalizer. Asks the effect's parameters, runs sox on the
// scratch copy of the sound, takes its result through a pipe, plays it,
// and keeps it or drops it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// The effects SoX computes for the effects command.
enum class SoxEffect : uint8_t { echo, reverb, pitch, reverse, speed, bass, treble, norm, equalizer };

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
// What follows the two file names for `effect` given the text of its
// parameters (ignored by the effects that ask none).
std::string soxEffectText(SoxEffect effect, std::string_view parameters);
// sox, its pieces of 128 KB (each of its writes to the pipe wakes the
// program: its default 8 KB makes hundreds of thousands of them for a long
// sound; much larger pieces no longer fit the processor's caches), the
// input file as a whole word (never taken for an option), the
// output as WAV on standard output, then the effect text split into words.
std::vector<std::string> soxArguments(std::string_view soxProgram, std::string_view inputFile,
                                      std::string_view effectText);

// ---- The command side ---------------------------------------------------------------

// The effects command has just saved the sound to the scratch file. ESC at
// a typed value, a typed value that is no number, a SoX that fails or
// writes nothing, and ESC while it runs are told and leave the sound as it
// was.
void soxEffect(SoxEffect effect);
std::string askEchoParameters();
std::string askEqualizerGains();
// The gain in dB as SoX reads it; nothing when the user gave up.
std::optional<std::string> askGainDb();

}  // namespace kalimbro
