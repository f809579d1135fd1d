// The SoX effects.
#include "edit/klefeitoSox.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <vector>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "edit/klEfeito.h"
#include "formats/wavStream.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/wav_header.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

// Bass and treble gains above this many decibels are confirmed first.
constexpr int64_t kLoudGainDb = 20;
constexpr int kEchoLabelWidth = 35;

struct EqualizerBand {
  std::string_view labelKey;
  std::string_view text;
  int32_t offeredAbove;  // the sample rate must exceed this
};

constexpr EqualizerBand kBands[] = {
    {"KL40HZ", " equalizer 40 .71q ", 0},        {"KL80HZ", " equalizer 80 1.10q ", 0},
    {"KL240HZ", " equalizer 240 1.80q ", 0},     {"KL500HZ", " equalizer 500 .71q ", 0},
    {"KL1000HZ", " equalizer 1000 2.90q ", 0},   {"KL4100HZ", " equalizer 4100 .51q ", 10999},
    {"KL8500HZ", " equalizer 8500 .71q ", 21999}, {"KL17000HZ", " equalizer 17000 .71q ", 43999},
};
constexpr int kBandCount = static_cast<int>(std::size(kBands));

double percentToUnit(double percent) {
  const double x = percent / 100.0;
  if (!(x > 0)) return 0;  // negative (or not a number) gives silence
  return x > 1 ? 1 : x;
}

}  // namespace

// ---- Argument texts ---------------------------------------------------------------

std::string numberText(double x) {
  if (x == 0 || !std::isfinite(x)) x = 0;  // no "-0"
  char buf[400];
  const auto [end, error] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
  if (error != std::errc()) return "0";
  return std::string(buf, end);
}

std::string gainText(int64_t db) {
  std::string text = db > 0 ? "+" : "";
  text += std::to_string(db);
  return text;
}

std::string bandGainText(double db) {
  std::string text = db >= 0 ? "+" : "";
  text += numberText(db);
  return text;
}

int equalizerBandCount(int32_t sampleRate) {
  int n = 0;
  for (const EqualizerBand& band : kBands)
    if (sampleRate > band.offeredAbove) ++n;
  return n;
}

std::string_view equalizerBandLabel(int band) {
  return band >= 0 && band < kBandCount ? kBands[band].labelKey : std::string_view();
}

std::string equalizerText(std::span<const double> gains, int32_t sampleRate) {
  std::string text;
  const int n = equalizerBandCount(sampleRate);
  for (int b = 0; b < n && static_cast<size_t>(b) < gains.size(); ++b) {
    text += kBands[b].text;
    text += bandGainText(gains[static_cast<size_t>(b)]);
  }
  return text;
}

std::string echoParameters(double volumePercent, double delayMs, double gradualPercent) {
  return "0.8 " + numberText(percentToUnit(volumePercent)) + " " + numberText(delayMs) + " " +
         numberText(percentToUnit(gradualPercent));
}

std::string soxEffectText(std::string_view soxWords, std::string_view parameters) {
  std::string text(soxWords);
  if (!text.empty() && !parameters.empty()) text += ' ';
  text += parameters;
  return text;
}

std::vector<std::string> soxArguments(std::string_view soxProgram, std::string_view inputFile,
                                      std::string_view effectText) {
  std::vector<std::string> args{std::string(soxProgram), "--buffer", "131072", fileArgument(inputFile), "-t", "wav", "-"};
  for (std::string& word : splitWords(effectText)) args.push_back(std::move(word));
  return args;
}

// ---- Asking the parameters -----------------------------------------------------------

std::string askEchoParameters() {
  sayMessage("KLECOATT", 1);
  formBegin();
  double volume = 0, delayMs = 0, gradual = 0;
  formAddReal("KLECATT1", messageText("KLECATT1"), volume, 0);
  formAddReal("KLECATT2", messageText("KLECATT2"), delayMs, 0);
  formAddReal("KLECATT3", messageText("KLECATT3"), gradual, 0);
  setFormLabelWidth(kEchoLabelWidth);
  formRun(true, explainForm);
  return echoParameters(volume, delayMs, gradual);
}

std::string askEqualizerGains() {
  sayMessage("KLFREQNC", 1);
  formBegin();
  const int32_t rate = program().soundBuffer->sampleRate();
  double gains[kBandCount] = {};
  const int n = equalizerBandCount(rate);
  for (int b = 0; b < n; ++b) formAddReal("", messageText(kBands[b].labelKey), gains[b], 1);
  formRun(true, explainForm);
  return equalizerText(gains, rate);
}

std::optional<std::string> askGainDb() {
  for (;;) {
    const std::optional<std::string> line = askValue("KLPEGAAM", "KLAJGANH");
    if (!line) return std::nullopt;
    int32_t db = 0;  // an empty line counts as 0
    if (!trimmed(*line, kNumberBlanks).empty()) {
      const std::optional<int32_t> typed = wholeNumber32(*line);
      if (!typed) sayMessage("KLASSUM0", 1);
      db = typed.value_or(0);
    }
    if (db <= kLoudGainDb) return gainText(db);
    sayMessage("KLAVISO1", 1);
    sayMessage("KLCONTIN", 1);
    const uint8_t key = readAnswer("KLCONTIN", "KLAJCONT", AnswerEcho::shown);
    if (key == 'S' || key == 's') return gainText(db);
    if (key == kEsc) {
      sayMessage("KLDESIST", 1);
      return std::nullopt;
    }
  }
}

// Speed and pitch are one number each: anything more would reach SoX as
// effects and options of its own.
namespace {

std::optional<EffectParameters> given(std::string text) { return EffectParameters{.text = std::move(text)}; }

std::optional<EffectParameters> refused() {
  sayMessage("KLVALINV", 2);
  return std::nullopt;
}

}  // namespace

std::optional<EffectParameters> askSoxEcho() { return given(askEchoParameters()); }

std::optional<EffectParameters> askSoxEqualizer() { return given(askEqualizerGains()); }

std::optional<EffectParameters> askSoxGain() {
  std::optional<std::string> gain = askGainDb();
  if (!gain) return std::nullopt;
  return given(std::move(*gain));
}

std::optional<EffectParameters> askSoxPitch() {
  const std::optional<std::string> line = askValue("KLPEGAAF", "KLAJAFIN");
  if (!line) return std::nullopt;
  const std::optional<double> cents = decimalNumber(*line);
  return cents ? given(numberText(*cents)) : refused();
}

std::optional<EffectParameters> askSoxSpeed() {
  const std::optional<std::string> line = askValue("KLPEGAVL", "KLAJVELO");
  if (!line) return std::nullopt;
  if (trimmed(*line, kNumberBlanks).empty()) return given("1.2");
  const std::optional<double> speed = decimalNumber(*line);
  return speed && *speed > 0 ? given(numberText(*speed)) : refused();
}

// ---- The effect ---------------------------------------------------------------------

namespace {

// What the user hears when SoX's run gives nothing to offer; empty when
// its output is worth demonstrating.
std::string_view soxFailureMessage(const ProcessResult& run, const WavStreamLoader& loaded, const TAmostras& result,
                                   int64_t framesBefore) {
  if (loaded.refused()) return result.outOfMemory() ? "KLFALMEM" : "KLARQERR";
  if (run.kind == ProcessResult::Kind::gaveUp) return "KLDESIST";
  if (!run.started()) return "KLERRO_E";
  if (!run.succeeded() || !loaded.complete()) return "KLSOXFAL";
  // An empty result of a sound that was not empty is no effect.
  if (framesBefore > 0 && result.count() == 0) return "KLSOXFAL";
  return {};
}

}  // namespace

std::optional<EffectJob> soxWork(const EffectRow& row, const EffectParameters& parameters) {
  ProgramState& p = program();
  TAmostras& sound = *p.soundBuffer;
  // SoX keeps no markers: they are put back where the same moment of the
  // sound now is (mirrored when it was reversed).
  std::vector<SoundMarker> markers = sound.markers();
  const int64_t countBefore = sound.count();
  // SoX writes its result to a pipe, read straight into a sound of its own.
  // The sound in memory is let go when the result begins to come, so that
  // the two are never held whole together; the scratch copy brings it back
  // when the result is not kept.
  TAmostras result;
  result.setMemoryLimit(memoryLimitFromSettings());
  WavStreamLoader loader(result, countBefore);
  bool soundLetGo = false;
  const ProcessResult run =
      runProgram(soxArguments(p.soxProgram, effectScratchFile(), soxEffectText(row.soxWords, parameters.text)),
                 {.started = [] { sayMessage("KLFIMEDI", 1); },
                  .everySecond = {},
                  .giveUp = escapeTyped,
                  .output = [&](std::span<const uint8_t> bytes) {
                    if (!loader.take(bytes)) return false;
                    if (loader.started() && !soundLetGo) {
                      sound.clear();
                      soundLetGo = true;
                    }
                    return true;
                  }});
  if (const std::string_view failure = soxFailureMessage(run, loader, result, countBefore); !failure.empty()) {
    result.clear();
    if (soundLetGo) restoreSoundBeforeEffect();
    sayMessage(failure, 2);
    return std::nullopt;
  }
  sound.takeOver(result);
  for (SoundMarker& m : markers) {
    m.frame = countBefore == 0 ? 0 : m.frame * sound.count() / countBefore;
    if (row.reversesTime) m.frame = sound.count() - m.frame;
  }
  sound.setMarkers(std::move(markers));
  p.currentPosition = 0;
  p.markedPosition = 0;
  return EffectJob{};
}

}  // namespace kalimbro
