// soundop: one editing operation as a user meets it, from file to file, for
// scripts/bench to time against the SoX command that does the same. It goes
// through the program's own loading, effects and saving.
//
//   soundop copy|volume|fade|echo|reverb|code IN OUT   load, apply, save
//   soundop mix IN SECOND OUT                          load both, mix at 0, save
//   soundop rate IN RATE OUT                           load, convert to RATE, save
//   soundop reopen IN OUT                              open a file of any kind and save
//                                                      it in the same format, as the
//                                                      program does (ffmpeg for AAC)
//   soundop key IN                                     ms of the scratch copy (written
//                                                      while the prompt is heard), from
//                                                      the key to the demonstration's
//                                                      first piece (volume up), to the
//                                                      end of the effect, and of
//                                                      discarding it (read back in place)
//   soundop soxtrip IN SOX-EFFECT-WORDS...             ms of the scratch copy, of SoX's
//                                                      round trip after the key, of
//                                                      SoX's own run within it and of
//                                                      discarding its result
//   soundop levels IN                                  ms of: the levels measured piece by
//                                                      piece as idle turns do; F7 on the
//                                                      whole sound then; F7 after a second
//                                                      is removed in the middle; finding
//                                                      its pauses; a jump to the next pause
//                                                      once they are known; loudness
//                                                      normalisation to its demonstration
//                                                      (F7, the limited gain's first
//                                                      piece); 1 when the jump found a
//                                                      pause; the normalisation whole;
//                                                      F7 with nothing measured ahead
//   soundop pauses IN                                  on IN made silent every other 1.5 s:
//                                                      trimming the silence, then
//                                                      shortening the pauses to a second,
//                                                      each as ms of the windows measured
//                                                      in idle turns, key to demonstration,
//                                                      the whole removal, then the count
//                                                      of stretches removed
//   soundop history IN FOLDER                          ms of: the load; a 1-second removal
//                                                      in the middle without and with the
//                                                      edit history (kept in FOLDER), its
//                                                      undo and redo; the same for volume
//                                                      up on the whole sound as the effects
//                                                      command makes it (the scratch copy
//                                                      written first), then the ms the
//                                                      history wrote while the user listens
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/openSave.h"
#include "edit/effectWork.h"
#include "edit/klEfeitoCalc.h"
#include "edit/klefeitoSox.h"
#include "formats/soundFiles.h"
#include "formats/wavStream.h"
#include "history/editHistory.h"
#include "levels/peakLimiter.h"
#include "levels/soundLevels.h"
#include "levels/soundPauses.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/wav_header.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

// The effects command's default settings.
constexpr int32_t kEchoPercent = 75, kEchoUnits = 3000;
constexpr int32_t kReverbPercent = 80, kReverbUnits = 2000;

bool applyEffect(std::string_view name, TAmostras& s) {
  if (name == "copy") return true;
  if (name == "volume") raiseVolume(s);
  else if (name == "fade") fadeInTo(s, int64_t{s.count()} - 1);
  else if (name == "echo") addEcho(s, kEchoPercent, kEchoUnits);
  else if (name == "reverb") addReverb(s, kReverbPercent, kReverbUnits);
  else if (name == "code") codeFrames(s, 12345678);
  else return false;
  return true;
}

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int fail(const char* what) {
  std::fprintf(stderr, "soundop: %s\n", what);
  return 1;
}

int run(const std::vector<std::string>& a) {
  if (a.size() < 2) return fail("usage: soundop OPERATION IN [...]");
  TAmostras sound;
  if (a[0] == "reopen") {
    if (a.size() != 3) return fail("usage: soundop reopen IN OUT");
    // As the program opens and saves, through ffmpeg for AAC.
    const std::optional<SoundFileFormat> format = readSoundFile(a[1], sound);
    if (!format) return fail("cannot load the input");
    return writeSoundFile(a[2], sound, *format) ? 0 : fail("cannot save");
  }
  if (!sound.loadWav(a[1])) return fail("cannot load the input");
  const std::string& op = a[0];
  if (op == "mix") {
    if (a.size() != 4) return fail("usage: soundop mix IN SECOND OUT");
    TAmostras second;
    if (!second.loadWav(a[2])) return fail("cannot load the second input");
    sound.mixAt(second, 0, 1.0L, 1.0L);
    return sound.saveWav(a[3]) ? 0 : fail("cannot save");
  }
  if (op == "rate") {
    if (a.size() != 4) return fail("usage: soundop rate IN RATE OUT");
    TAmostras converted;
    converted.convertFrom(sound, std::stoi(a[2]));
    return converted.saveWav(a[3]) ? 0 : fail("cannot save");
  }
  if (op == "key") {
    // What the effects command does while the user hears the prompt, then
    // between the key and the demonstration.
    const std::string scratch = makeTempFile("WAV");
    auto start = std::chrono::steady_clock::now();
    if (!sound.saveWav(scratch, FlushToDisk::no)) return fail("cannot write the scratch copy");
    const double copy = msSince(start);
    start = std::chrono::steady_clock::now();
    double toDemonstration = 0;
    {
      EffectWorker worker(volumeWork(sound, 1.25L));
      worker.waitUntilWorked(TAmostras::kPlayPieceFrames);
      toDemonstration = msSince(start);
      worker.finish();
    }
    const double whole = msSince(start);
    start = std::chrono::steady_clock::now();
    if (sound.reloadWav(scratch) != true) return fail("cannot read the scratch copy back");
    std::printf("%.0f %.1f %.0f %.0f\n", copy, toDemonstration, whole, msSince(start));
    return 0;
  }
  if (op == "soxtrip") {
    // What a SoX effect does: the scratch copy (written while the prompt is
    // heard), then SoX with its result read from the pipe as it comes.
    const std::string in = makeTempFile("WAV") + ".wav";
    auto start = std::chrono::steady_clock::now();
    if (!sound.saveWav(in, FlushToDisk::no)) return fail("cannot write the scratch copy");
    const double copy = msSince(start);
    start = std::chrono::steady_clock::now();
    std::string effect;
    for (size_t i = 2; i < a.size(); ++i) effect += a[i] + " ";
    TAmostras result;
    WavStreamLoader loader(result, sound.count());
    const ProcessResult run = runProgram(soxArguments("sox", in, effect), {.output = [&](std::span<const uint8_t> bytes) {
                                           if (!loader.take(bytes)) return false;
                                           if (loader.started()) sound.clear();
                                           return true;
                                         }});
    if (!run.succeeded() || !loader.complete()) return fail("sox failed");
    const double soxRun = msSince(start);
    sound.takeOver(result);
    const double trip = msSince(start);
    start = std::chrono::steady_clock::now();
    if (sound.reloadWav(in) != true) return fail("cannot read the scratch copy back");
    std::printf("%.0f %.0f %.0f %.0f\n", copy, trip, soxRun, msSince(start));
    return 0;
  }
  if (op == "levels") {
    // The levels measured piece by piece in idle turns, then F7 on what
    // they left, then F7 again after a second is removed in the middle.
    auto start = std::chrono::steady_clock::now();
    if (!LevelsCache().levels(sound, 0, sound.count())) return fail("cannot measure");
    const double coldF7 = msSince(start);
    LevelsCache cache;
    start = std::chrono::steady_clock::now();
    while (cache.measureSome(sound)) {
    }
    const double idle = msSince(start);
    start = std::chrono::steady_clock::now();
    const std::optional<SoundLevels> levels = cache.levels(sound, 0, sound.count());
    if (!levels) return fail("cannot measure");
    const double f7 = msSince(start);
    sound.deleteRange(sound.count() / 2, sound.sampleRate());
    start = std::chrono::steady_clock::now();
    if (!cache.levels(sound, 0, sound.count())) return fail("cannot measure");
    const double f7AfterEdit = msSince(start);
    start = std::chrono::steady_clock::now();
    PauseFinder finder;
    finder.playPauses(sound);
    const double pausesFound = msSince(start);
    // A jump once the pauses are known, as the play command's second and
    // later jumps are: from the middle to the next pause.
    start = std::chrono::steady_clock::now();
    const std::vector<Stretch>& pauses = finder.playPauses(sound);
    const auto next = std::upper_bound(pauses.begin(), pauses.end(), sound.count() / 2,
                                       [](int64_t frame, const Stretch& pause) { return frame < pause.first; });
    const double jump = msSince(start);
    // Loudness normalisation as the effects command makes it: the levels
    // (as F7), then the limited gain worked ahead of the demonstration and,
    // where it held peaks down, the passes that make up for them.
    start = std::chrono::steady_clock::now();
    const auto limiter = std::make_shared<PeakLimiter>(sound, -16.0 - levels->loudnessLufs.value_or(-16.0), -1.0);
    EffectWorker worker({0, sound.count(), [limiter](int64_t, int64_t to) { limiter->workUntil(to); }});
    worker.waitUntilWorked(TAmostras::kPlayPieceFrames);
    const double toDemonstration = f7 + msSince(start);
    worker.finish();
    // Peaks held down: measured and brought nearer the target, as after
    // the demonstration.
    if (limiter->held() > 0 && !reachLoudnessUnderLimit(sound, cache, -16.0, -1.0)) return fail("cannot measure");
    std::printf("%.0f %.0f %.0f %.0f %.3f %.1f %d %.0f %.0f\n", idle, f7, f7AfterEdit, pausesFound, jump, toDemonstration,
                next != pauses.end(), f7 + msSince(start), coldF7);
    return 0;
  }
  if (op == "pauses") {
    // Trimming the silence, then shortening the pauses to a second, as the
    // effects command makes them, on the input made silent every other
    // second and a half from its start: each time the windows measured in
    // idle turns, then the key to the demonstration and the whole removal.
    const int64_t stretch = sound.sampleRate() * 3 / 2, second = sound.sampleRate();
    const std::span<int16_t> values = sound.samplesToChange();
    for (int64_t f = 0; f < sound.count(); f += 2 * stretch)
      std::fill(values.begin() + f * sound.channels(), values.begin() + std::min<int64_t>(sound.count(), f + stretch) * sound.channels(),
                int16_t{0});
    PauseFinder finder;
    for (const bool trim : {true, false}) {
      auto start = std::chrono::steady_clock::now();
      while (finder.measureSome(sound)) {
      }
      const double idle = msSince(start);
      start = std::chrono::steady_clock::now();
      const std::vector<Stretch> cuts = trim ? finder.silenceAtTheEnds(sound)
                                             : middlesOfPauses(finder.find(sound, second + 1), second);
      const auto removal = std::make_shared<StretchRemoval>(sound, cuts);
      EffectWorker worker({0, sound.count(), [removal](int64_t, int64_t to) { removal->moveUntil(to); }});
      worker.waitUntilWorked(TAmostras::kPlayPieceFrames);
      const double toDemonstration = msSince(start);
      worker.finish();
      sound.fitStore();
      std::printf("%.0f %.1f %.0f %zu ", idle, toDemonstration, msSince(start), cuts.size());
    }
    std::printf("\n");
    return 0;
  }
  if (op == "history") {
    if (a.size() != 3) return fail("usage: soundop history IN FOLDER");
    const auto timed = [](auto work) {
      const auto start = std::chrono::steady_clock::now();
      work();
      return msSince(start);
    };
    const int64_t middle = sound.count() / 2, second = sound.sampleRate();
    // Each edit once on its own, then once as a step of the history: the
    // time the user waits for it (with an effect, before the demonstration
    // and after the answer), undo, redo, and what the history wrote while
    // the user listened.
    const auto compare = [&](const std::function<void()>& edit, bool effect) -> std::vector<double> {
      const double alone = timed(edit);
      if (!sound.loadWav(a[1])) return {};
      EditHistory history;
      if (!history.start(sound, a[2], std::nullopt)) return {};
      const std::string scratch = makeTempFile("WAV");
      if (effect) {
        if (!sound.saveWav(scratch, FlushToDisk::no)) return {};
        history.soundIsInFile(scratch, kWavHeaderBytes);
      }
      double withHistory = timed([&] {
        history.beginStep("KLPMUDAN", {});
        edit();
      });
      const double listening = effect ? timed([&] {
        while (history.writeAhead()) {
        }
      })
                                      : 0;
      withHistory += timed([&] { history.endStep({}); });
      HistoryStep moved;
      const double undo = timed([&] { history.undo(moved); });
      const double redo = timed([&] { history.redo(moved); });
      history.close();
      if (!sound.loadWav(a[1])) return {};
      return {alone, withHistory, undo, redo, listening};
    };
    const double load = timed([&] { sound.loadWav(a[1]); });
    std::vector<double> removal = compare([&] { sound.deleteRange(middle, second); }, false);
    std::vector<double> volume = compare([&] { raiseVolume(sound); }, true);
    if (removal.empty() || volume.empty()) return fail("cannot keep the history");
    std::printf("%.0f %.1f %.1f %.1f %.1f %.0f %.0f %.0f %.0f %.0f\n", load, removal[0], removal[1], removal[2],
                removal[3], volume[0], volume[1], volume[2], volume[3], volume[4]);
    return 0;
  }
  if (a.size() != 3 || !applyEffect(op, sound)) return fail("unknown operation");
  return sound.saveWav(a[2]) ? 0 : fail("cannot save");
}

}  // namespace
}  // namespace kalimbro

int main(int argc, char** argv) {
  const int status = kalimbro::run(std::vector<std::string>(argv + 1, argv + argc));
  kalimbro::removeTempDirectory();
  return status;
}
