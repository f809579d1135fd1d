// The effects from the sound's levels: they measure, prepare the change
// and say what it does; the effects command does the rest.
#include "edit/klEfeitoNivel.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "edit/effectWork.h"
#include "edit/klEfeito.h"
#include "levels/peakLimiter.h"
#include "levels/soundLevels.h"
#include "levels/soundPauses.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

// Spoken voice and podcasts; broadcast asks for -23.
constexpr double kDefaultLoudnessLufs = -16.0;
constexpr double kQuietestTargetLufs = -70.0, kLoudestTargetLufs = -5.0;
// Room left under full scale for the peaks a player's converter makes.
constexpr double kTruePeakCeilingDb = -1.0;
constexpr double kDefaultLongestPauseSeconds = 1.0;

TAmostras& sound() { return *program().soundBuffer; }

// The typed number, `otherwise` for an empty line, nothing when it is not a
// number.
std::optional<double> numberOr(std::string_view typed, double otherwise) {
  if (trimmed(typed, kNumberBlanks).empty()) return otherwise;
  return decimalNumber(typed);
}

void saySum(int64_t frames, std::string_view afterKey) {
  writeSpeak(secondsText(frames, sound().sampleRate()));
  sayMessage(afterKey, 0);
}

int64_t framesOf(const std::vector<Stretch>& cuts) {
  int64_t frames = 0;
  for (const Stretch& cut : cuts) frames += cut.frames();
  return frames;
}

// Removes the stretches while the start of the result is heard, says so
// with `say`, and once the user keeps the result the cursor and the mark
// stay on the same sound.
EffectJob cutJob(std::vector<Stretch> cuts, std::function<void()> say) {
  const auto removal = std::make_shared<StretchRemoval>(sound(), cuts);
  return {.pieces = EffectWork{0, sound().count(), [removal](int64_t, int64_t to) { removal->moveUntil(to); }},
          .tellStart = [say = std::move(say)] {
            say();
            crtWriteln();
          },
          .whenWorked = [] { sound().fitStore(); },
          .whenKept = [cuts = std::move(cuts)] {
            ProgramState& p = program();
            p.currentPosition = static_cast<int32_t>(positionAfterCuts(p.currentPosition, cuts));
            p.markedPosition = static_cast<int32_t>(positionAfterCuts(p.markedPosition, cuts));
          }};
}

// "Sonoridade de -30,2 LUFS levada a -17,4 LUFS": what the sound measures
// now, not the target it was asked for.
void sayLoudnessReached(double fromLufs, std::optional<double> reachedLufs) {
  sayMessage("KLLUFDE", 0);
  writeSpeak(tenthsText(std::llround(fromLufs * 10)));
  if (!reachedLufs) {
    sayMessage("KLLUFSEM", 1);
    return;
  }
  sayMessage("KLLUFPAR", 0);
  writeSpeak(tenthsText(std::llround(*reachedLufs * 10)));
  sayMessage("KLNIVLUF", 1);
}

}  // namespace

std::optional<EffectParameters> askLoudnessTarget() {
  const std::optional<std::string> typed = askValue("KLLUFPER", "KLAJLUFS");
  if (!typed) return std::nullopt;
  const std::optional<double> target = numberOr(*typed, kDefaultLoudnessLufs);
  if (!target || *target < kQuietestTargetLufs || *target > kLoudestTargetLufs) {
    sayMessage("KLLUFINV", 1);
    return std::nullopt;
  }
  return EffectParameters{.number = *target};
}

std::optional<EffectJob> loudnessWork(const EffectRow&, const EffectParameters& parameters) {
  const double target = parameters.number;
  const std::optional<SoundLevels> levels = program().levels.levels(sound(), 0, sound().count());
  if (!levels) {
    sayMessage("KLFALMEM", 1);
    return std::nullopt;
  }
  if (!levels->loudnessLufs) {
    sayMessage("KLLUFIND", 1);
    return std::nullopt;
  }
  const double fromLufs = *levels->loudnessLufs;
  // The limited gain is worked while the start of the sound is heard;
  // whether it held any peak down, and so left the sound short of the
  // target, is known only at the end. The passes that make up for it then
  // need the whole sound measured: they follow the demonstration.
  const auto limiter = std::make_shared<PeakLimiter>(sound(), target - fromLufs, kTruePeakCeilingDb);
  return EffectJob{.pieces = EffectWork{0, sound().count(), [limiter](int64_t, int64_t to) { limiter->workUntil(to); }},
                   .whenWorked = [limiter, target, fromLufs] {
                     // With no peak held down the gain was exact: the target is reached.
                     const bool held = limiter->held() > 0;
                     const std::optional<double> reached =
                         held ? reachLoudnessUnderLimit(sound(), program().levels, target, kTruePeakCeilingDb)
                              : target;
                     crtWriteln();
                     sayLoudnessReached(fromLufs, reached);
                     if (held) sayMessage("KLLUFLIM", 1);
                   }};
}

std::optional<EffectJob> silenceTrimWork(const EffectRow&, const EffectParameters&) {
  const int64_t count = sound().count();
  std::vector<Stretch> cuts = program().pauses.silenceAtTheEnds(sound());
  if (cuts.empty()) {
    sayMessage("KLSILNAO", 1);
    return std::nullopt;
  }
  if (cuts.front().frames() == count) {
    sayMessage("KLSILTOD", 1);
    return std::nullopt;
  }
  const int64_t atStart = cuts.front().first == 0 ? cuts.front().frames() : 0;
  const int64_t atEnd = cuts.back().end == count ? cuts.back().frames() : 0;
  return cutJob(std::move(cuts), [atStart, atEnd] {
    sayMessage("KLSILREM", 0);
    saySum(atStart, "KLSILNOI");
    saySum(atEnd, "KLSILNOF");
  });
}

std::optional<EffectParameters> askLongestPause() {
  const std::optional<std::string> typed = askValue("KLPAUPER", "KLAJPAUS");
  if (!typed) return std::nullopt;
  const std::optional<double> seconds = numberOr(*typed, kDefaultLongestPauseSeconds);
  if (!seconds || *seconds <= 0) {
    sayMessage("KLPAUINV", 1);
    return std::nullopt;
  }
  return EffectParameters{.number = *seconds};
}

std::optional<EffectJob> pauseShorteningWork(const EffectRow&, const EffectParameters& parameters) {
  // Held to an hour, so that the frame count cannot overflow.
  const int64_t longest =
      std::max<int64_t>(1, std::llround(std::min(parameters.number, 3600.0) * sound().sampleRate()));
  std::vector<Stretch> cuts = middlesOfPauses(program().pauses.find(sound(), longest + 1), longest);
  if (cuts.empty()) {
    sayMessage("KLPAUNEN", 1);
    return std::nullopt;
  }
  const size_t pauses = cuts.size();
  const int64_t removed = framesOf(cuts);
  return cutJob(std::move(cuts), [pauses, removed] {
    sayMessage("KLPAUENC", 0);
    writeSpeak(std::to_string(pauses));
    sayMessage("KLNIVSEP", 0);
    saySum(removed, "KLPAUREM");
  });
}

}  // namespace kalimbro
