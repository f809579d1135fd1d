// The play command. Every key of the command is one action of a table; a
// pass of the loop reads one key, throws away what was typed ahead of it
// and runs the key's action. The sound plays through the playback engine
// with its key switch off, so that nothing stops on its own: the command
// itself looks for a key between tenths and leaves the cursor there.
#include "sound/klToca.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "levels/soundLevels.h"
#include "levels/soundPauses.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "sound/gramost.h"
#include "sound/vrwav.h"

namespace kalimbro {
namespace {

constexpr int32_t kDefaultPlayBuffers = 4;
constexpr int32_t kMostPlayBuffers = 16;
// Enough to wipe out a longer time text shown before on the row.
constexpr std::string_view kPositionPadding = "       ";
constexpr int kHelpBackground = 4, kNormalBackground = 0;
constexpr std::array<std::string_view, 11> kHelpLines = {"KLAJTOC1", "KLAJTOC2", "KLAJTOC3", "KLAJTOCF",
                                                         "KLAJTOC4", "KLAJTOC5", "KLAJTOCD", "KLAJTOC6",
                                                         "KLAJTOC7", "KLAJTOC8", "KLAJTOC9"};
// A marker's name fits a line of the screen with the question before it.
constexpr int kMostMarkerNameLength = 60;

struct PressedKey {
  uint8_t code = 0;
  bool extended = false;  // came as 0 and its code
  bool shift = false;     // Shift was held when it was pressed

  bool is(uint8_t c, bool ext) const { return code == c && extended == ext; }
};

// One pass of the command loop.
struct Pass {
  int64_t step;  // a tenth of a second, in frames
  PressedKey key;
  // A key that stopped the playing and is acted on in the same pass.
  std::optional<PressedKey> interrupting;
};

TAmostras& sound() { return *program().soundBuffer; }
int64_t soundEnd() { return sound().count(); }
int64_t cursor() { return program().currentPosition; }

// Positions are worked out in 64 bits and only then stored.
void setCursor(int64_t frames) {
  program().currentPosition = static_cast<int32_t>(
      std::clamp<int64_t>(frames, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// A frame count of at least one, so that playing always moves on.
int64_t tenthOf(int32_t sampleRate) { return std::max<int64_t>(1, sampleRate / 10); }

PressedKey readPressedKey() {
  PressedKey key;
  key.code = readKey();
  if (key.code == 0) {
    key.code = readKey();
    key.extended = true;
  }
  // Taken now: reading the keys typed ahead changes it.
  key.shift = lastKeyModifiers().shift;
  return key;
}

int64_t moveOf(const Pass& pass) { return pass.key.shift ? pass.step / 10 : pass.step; }

// ---------------------------------------------------------------- actions

// The key that stopped the playing: Space only stops it, any other is also
// acted on.
void takeStoppingKey(Pass& pass) {
  if (!keyPressed()) return;
  const PressedKey key = readPressedKey();
  if (!key.is(kSpace, false)) pass.interrupting = key;
}

// The frames of the markers in first..end-1: a tick is heard there.
std::vector<int64_t> markersWithin(int64_t first, int64_t end) {
  std::vector<int64_t> frames;
  for (const SoundMarker& marker : sound().markers())
    if (marker.frame >= first && marker.frame < end) frames.push_back(marker.frame);
  return frames;
}

// Space: tenth after tenth from the cursor until the end or a key. At most
// the engine's queue of tenths is ahead of what is heard, so the cursor
// stops close to where the key was pressed. The last piece, shorter than a
// tenth, is heard too (it may be the end of a word), and the cursor still
// moves a whole tenth. A marker passed gives a short tick. A tenth the
// device could not take stops the playing where it is: the cursor does not
// run on over sound nobody heard.
void playOnward(Pass& pass) {
  const int64_t end = soundEnd();
  int64_t at = cursor();
  if (at >= end) {
    sayMessage("KLFIMSOM", 1);
    return;
  }
  if (at < 0) at = 0;
  setCursor(at);
  while (at <= end && !keyPressed()) {
    const int64_t length = std::min(pass.step, end - at);
    if (!sound().playRange(at, length, markersWithin(at, at + length))) break;
    at += pass.step;
    setCursor(at);
    showPosition();
  }
  crtWriteln();
  takeStoppingKey(pass);
}

void markPosition(Pass&) {
  program().markedPosition = program().currentPosition;
  sayMessage("KLMEMOR", 1);
}

void backToMark(Pass&) {
  program().currentPosition = program().markedPosition;
  sayMessage("KLOK", 1);
}

// D: how long the stretch between the mark and the cursor lasts.
void stretchLength(Pass&) {
  const int64_t frames = std::llabs(int64_t{program().currentPosition} - program().markedPosition);
  if (whereX() > 1) crtWriteln();
  sayMessage("KLTRECDE", 0);
  writeSpeak(secondsText(frames, sound().sampleRate()));
  sayMessage("KLSEGUND", 1);
}

void help(Pass&) {
  speakSound("KLMENU");
  textBackground(kHelpBackground);
  sayMessage("KLASOPC", 1);
  textBackground(kNormalBackground);
  for (const std::string_view line : kHelpLines) sayMessage(line, 1);
}

void toStart(Pass&) {
  setCursor(0);
  showPosition();
  sayMessage("KLINISOM", 1);
}

void toEnd(Pass&) {
  setCursor(soundEnd());
  showPosition();
  sayMessage("KLFIMSOM", 1);
}

// Right: the tenth from the cursor is heard, then the cursor moves by a
// tenth (a hundredth with Shift).
void stepForward(Pass& pass) {
  const int64_t end = soundEnd();
  int64_t at = cursor();
  if (at <= end) sound().playRange(at, pass.step);
  at += moveOf(pass);
  if (at >= end) {
    beepSound();
    at = end;
  }
  setCursor(at);
  showPosition();
}

// Left: the cursor moves back, then the tenth from there is heard.
void stepBack(Pass& pass) {
  int64_t at = cursor() - moveOf(pass);
  if (at >= 0) sound().playRange(at, pass.step);
  if (at <= 0) {
    beepSound();
    at = 0;
  }
  setCursor(at);
  showPosition();
}

// Page Down and Page Up jump one second.
void secondForward(Pass& pass) {
  const int64_t end = soundEnd();
  int64_t at = cursor();
  if (at < end) {
    clickSound();
    at += 10 * pass.step;
  }
  if (at >= end) {
    beepSound();
    at = end;
  }
  setCursor(at);
  showPosition();
}

void secondBack(Pass& pass) {
  int64_t at = cursor();
  if (at > 0) {
    clickSound();
    at -= 10 * pass.step;
  }
  if (at < 0) {
    beepSound();
    at = 0;
  }
  setCursor(at);
  showPosition();
}

// Control+Right and Control+Left: the rest of the sound, or the start up to
// the cursor, tenth after tenth so that a key stops them as it stops Space
// (an hour of sound must not hold the user). The cursor stays.
void playStretch(Pass& pass, int64_t from, int64_t to) {
  for (int64_t at = std::max<int64_t>(from, 0); at < to && !keyPressed(); at += pass.step) {
    if (!sound().playRange(at, std::min(pass.step, to - at))) break;
  }
  takeStoppingKey(pass);
}
void playToEnd(Pass& pass) { playStretch(pass, cursor(), soundEnd()); }
void playFromStart(Pass& pass) { playStretch(pass, 0, cursor()); }

void information(Pass&) { playInformation(); }

// F5: the cursor goes to a typed second; past the end it stops at the end.
void typedPosition(Pass&) {
  crtWriteln();
  std::string answer;
  for (;;) {
    writeSpeak("Informe a posi\xE7\xE3o em segundos: ");
    const LineEnd end = readLine(answer, true);
    if (end == LineEnd::entered) break;
    if (end == LineEnd::gaveUp) {
      sayMessage("KLDESIST", 1);
      return;
    }
    sayMessage("KLAJSEGU", 1);
  }
  if (trimmed(answer, kNumberBlanks).empty()) return;
  const std::optional<int64_t> seconds = wholeNumber(answer);
  if (!seconds || *seconds < 0) {
    sayMessage("KLERPOSI", 1);
    setCursor(0);
    return;
  }
  const int64_t end = soundEnd();
  // Held to 32 bits, so that the product with the rate cannot overflow: so
  // many seconds lie past the end of any sound anyway.
  int64_t at = std::min<int64_t>(*seconds, std::numeric_limits<int32_t>::max()) * sound().sampleRate();
  if (at >= end) {
    beepSound();
    at = end;
  }
  setCursor(at);
}

// F7: the levels of the stretch between the mark and the cursor, or of the
// whole sound when they are together.
void levels(Pass&) {
  const ProgramState& p = program();
  int64_t first = 0, end = sound().count();
  if (p.markedPosition != p.currentPosition) {
    first = std::min(p.markedPosition, p.currentPosition);
    end = std::max(p.markedPosition, p.currentPosition);
  }
  // What is not measured yet is measured now, unless a key comes first: it
  // is the user's next command.
  const std::optional<SoundLevels> measured =
      program().levels.levels(sound(), first, end, [] { return keyPressed(); });
  if (!measured) {
    if (!keyPressed()) sayMessage("KLFALMEM", 1);
    return;
  }
  // On a line of its own, where a braille display finds it.
  if (whereX() > 1) crtWriteln();
  sayMessage("KLNIVPIC", 0);
  if (measured->peakDbfs) {
    writeSpeak(tenthsText(std::llround(*measured->peakDbfs * 10)));
    sayMessage("KLNIVDB", 0);
  } else {
    sayMessage("KLNIVSIL", 0);
  }
  sayMessage("KLNIVSON", 0);
  if (measured->loudnessLufs) {
    writeSpeak(std::to_string(std::lround(*measured->loudnessLufs)));
    sayMessage("KLNIVLUF", 0);
  } else {
    sayMessage("KLNIVIND", 0);
  }
  sayMessage("KLNIVSEP", 0);
  const int64_t runs = measured->clippedRuns;
  if (runs < 2) {
    sayMessage(runs == 0 ? "KLNIVNEN" : "KLNIVUM", 1);
  } else {
    writeSpeak(std::to_string(runs));
    sayMessage("KLNIVTRS", 1);
  }
}

// Control+Page Down and Control+Page Up: the cursor goes to the start of
// the next or the previous pause, said with its length; then the first
// tenth after the pause is heard, where the sound comes back.
void jumpToPause(Pass& pass, bool forward) {
  const std::vector<Stretch>& pauses = program().pauses.playPauses(sound());
  const int64_t at = cursor();
  const auto after = std::upper_bound(pauses.begin(), pauses.end(), at,
                                      [](int64_t frame, const Stretch& pause) { return frame < pause.first; });
  const auto before = std::lower_bound(pauses.begin(), pauses.end(), at,
                                       [](const Stretch& pause, int64_t frame) { return pause.first < frame; });
  if (forward ? after == pauses.end() : before == pauses.begin()) {
    beepSound();
    sayMessage(forward ? "KLPAUNAD" : "KLPAUNAT", 1);
    return;
  }
  const Stretch pause = forward ? *after : *std::prev(before);
  setCursor(pause.first);
  if (whereX() > 1) crtWriteln();
  sayMessage("KLPAUSEM", 0);
  writeSpeak(formatPosition(pause.first));
  sayMessage("KLNIVSEP", 0);
  writeSpeak(secondsText(pause.frames(), sound().sampleRate()));
  sayMessage("KLSEGUND", 1);
  waitSpeechEnd();
  if (pause.end < soundEnd()) sound().playRange(pause.end, pass.step);
}
void nextPause(Pass& pass) { jumpToPause(pass, true); }
void previousPause(Pass& pass) { jumpToPause(pass, false); }

// "Marcador 3 em 12:3", and its name if it has one ("Marcador 3 em 12:3,
// Entrevista"), on a line of its own.
void sayMarker(const SoundMarker& marker) {
  if (whereX() > 1) crtWriteln();
  sayMessage("KLMARCAD", 0);
  writeSpeak(std::to_string(marker.number));
  sayMessage("KLMAREM", 0);
  writeSpeak(formatPosition(marker.frame));
  if (!marker.name.empty()) {
    sayMessage("KLNIVSEP", 0);
    writeSpeak(marker.name);
  }
  crtWriteln();
}

// The marker at the cursor or within the tenth after it.
std::optional<SoundMarker> markerAtCursor(const Pass& pass) {
  for (const SoundMarker& marker : sound().markers())
    if (marker.frame >= cursor() && marker.frame < cursor() + pass.step) return marker;
  return std::nullopt;
}

// Insert: a marker at the cursor (the one already there keeps its number
// and name).
void placeMarker(Pass&) {
  const int64_t at = std::clamp<int64_t>(cursor(), 0, soundEnd());
  const uint32_t number = sound().placeMarker(at);
  sayMarker(*std::ranges::find(sound().markers(), number, &SoundMarker::number));
}

// Delete: the marker at the cursor.
void removeMarker(Pass& pass) {
  const std::optional<SoundMarker> removed = markerAtCursor(pass);
  if (!removed) {
    sayMessage("KLMARNEN", 1);
    return;
  }
  sound().removeMarker(removed->number);
  if (whereX() > 1) crtWriteln();
  sayMessage("KLMARCAD", 0);
  writeSpeak(std::to_string(removed->number));
  sayMessage("KLMARREM", 1);
}

// N: a name for the marker at the cursor, typed on a line; Enter with
// nothing typed keeps the name it had, ESC gives up.
void nameMarker(Pass& pass) {
  const std::optional<SoundMarker> marker = markerAtCursor(pass);
  if (!marker) {
    sayMessage("KLMARNEN", 1);
    return;
  }
  if (whereX() > 1) crtWriteln();
  std::string name;
  for (LineEnd end = LineEnd::help; end != LineEnd::entered;) {
    sayMessage("KLMARNOM", 0);
    end = readLine(name, true, kMostMarkerNameLength);
    if (end == LineEnd::gaveUp) {
      sayMessage("KLDESIST", 1);
      return;
    }
    if (end == LineEnd::help) sayMessage("KLAJMARN", 1);
  }
  name = trimmed(name);
  if (!name.empty()) sound().nameMarker(marker->number, name);
  sayMarker(*std::ranges::find(sound().markers(), marker->number, &SoundMarker::number));
}

// Control+Down and Control+Up: the cursor goes to the next or the previous
// marker, which is said; then the tenth from it is heard.
void jumpToMarker(Pass& pass, bool forward) {
  const std::vector<SoundMarker>& markers = sound().markers();
  const SoundMarker* found = nullptr;
  for (const SoundMarker& marker : markers) {
    if (forward && marker.frame > cursor()) {
      found = &marker;
      break;
    }
    if (!forward && marker.frame < cursor()) found = &marker;
  }
  if (found == nullptr) {
    beepSound();
    sayMessage(forward ? "KLMARNAD" : "KLMARNAT", 1);
    return;
  }
  const SoundMarker marker = *found;
  setCursor(marker.frame);
  sayMarker(marker);
  waitSpeechEnd();
  if (marker.frame < soundEnd()) sound().playRange(marker.frame, pass.step);
}
void nextMarker(Pass& pass) { jumpToMarker(pass, true); }
void previousMarker(Pass& pass) { jumpToMarker(pass, false); }

using Action = void (*)(Pass&);

struct KeyBinding {
  uint8_t code;
  bool extended;
  Action action;
};

// ESC and Enter have no action: they end the command. Any key not listed
// does nothing.
constexpr std::array kKeyTable = {
    KeyBinding{kSpace, false, playOnward},
    KeyBinding{'M', false, markPosition},
    KeyBinding{'m', false, markPosition},
    KeyBinding{'V', false, backToMark},
    KeyBinding{'v', false, backToMark},
    KeyBinding{'D', false, stretchLength},
    KeyBinding{'d', false, stretchLength},
    KeyBinding{kF1, true, help},
    KeyBinding{kHome, true, toStart},
    KeyBinding{kEnd, true, toEnd},
    KeyBinding{kRight, true, stepForward},
    KeyBinding{kLeft, true, stepBack},
    KeyBinding{kPageDown, true, secondForward},
    KeyBinding{kPageUp, true, secondBack},
    KeyBinding{kCtrlRight, true, playToEnd},
    KeyBinding{kCtrlLeft, true, playFromStart},
    KeyBinding{kF6, true, information},
    KeyBinding{kF5, true, typedPosition},
    KeyBinding{kF7, true, levels},
    KeyBinding{kCtrlPageDown, true, nextPause},
    KeyBinding{kCtrlPageUp, true, previousPause},
    KeyBinding{kInsert, true, placeMarker},
    KeyBinding{kDelete, true, removeMarker},
    KeyBinding{'N', false, nameMarker},
    KeyBinding{'n', false, nameMarker},
    KeyBinding{kCtrlDown, true, nextMarker},
    KeyBinding{kCtrlUp, true, previousMarker},
};

void act(Pass& pass) {
  for (const KeyBinding& binding : kKeyTable) {
    if (pass.key.is(binding.code, binding.extended)) {
      binding.action(pass);
      return;
    }
  }
}

bool endsCommand(const PressedKey& key) { return key.is(kEsc, false) || key.is(kEnter, false); }

// The engine plays without stopping on keys, with a short queue, for as
// long as the command runs; both switches come back however it ends.
class PlayingSwitches {
 public:
  explicit PlayingSwitches(int32_t playBuffers)
      : stopOnKey_(stopOnKey()), maxQueued_(maxQueuedBlocks()) {
    // The setting is read without a range check; the engine needs 1..16.
    if (playBuffers < 1 || playBuffers > kMostPlayBuffers) playBuffers = kDefaultPlayBuffers;
    setStopOnKey(false);
    setMaxQueuedBlocks(playBuffers);
  }
  ~PlayingSwitches() {
    setStopOnKey(stopOnKey_);
    setMaxQueuedBlocks(maxQueued_);
  }
  PlayingSwitches(const PlayingSwitches&) = delete;
  PlayingSwitches& operator=(const PlayingSwitches&) = delete;

 private:
  bool stopOnKey_;
  int maxQueued_;
};

}  // namespace

std::string formatPosition(int64_t frames, int32_t sampleRate) {
  if (sampleRate <= 0) return "0:0";
  const int64_t tenthFrames = sampleRate / 10;
  // A rate that is not a multiple of ten leaves a few frames past the ninth
  // tenth of a second; they still belong to it.
  const int64_t tenths = tenthFrames == 0 ? 0 : std::clamp<int64_t>((frames % sampleRate) / tenthFrames, 0, 9);
  const int64_t seconds = frames / sampleRate;
  if (!program().settings.timesInHours) return std::to_string(seconds) + ":" + std::to_string(tenths);
  // Hours, minutes, seconds and tenths, for long sounds: "1:02:08,4", "2:08,4".
  const auto twoDigits = [](int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  const std::string minutesOn = twoDigits(seconds % 60) + "," + std::to_string(tenths);
  if (seconds < 3600) return std::to_string(seconds / 60) + ":" + minutesOn;
  return std::to_string(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" + minutesOn;
}

std::string formatPosition(int64_t frames) { return formatPosition(frames, sound().sampleRate()); }

void showPosition() {
  gotoXY(1, whereY());
  crtWrite(formatPosition(cursor()) + std::string(kPositionPadding));
}

void playInformation() {
  const int64_t count = soundEnd();
  sayMessage("KLTEMPOT", 0);
  writeSpeak(formatPosition(count));
  crtWrite("  ");
  sayMessage("KLPOSCUR", 0);
  writeSpeak(formatPosition(cursor()));
  crtWrite("  ");
  sayMessage("KLPERCEN", 0);
  // An empty sound has no share to give: 0.
  writeSpeakInt(count == 0 ? 0 : cursor() * 100 / count);
  crtWriteln();
}

void playCommand() {
  ProgramState& p = program();
  if (!p.soundBuffer) p.soundBuffer = std::make_unique<TAmostras>();
  sayMessage("KLESPTOC", 1);
  waitSpeechEnd();
  {
    const PlayingSwitches switches(p.settings.playBuffers);
    const int64_t step = tenthOf(sound().sampleRate());
    for (;;) {
      Pass pass{step, readPressedKey(), std::nullopt};
      flushKeyboard();  // keys typed ahead are lost
      act(pass);
      while (pass.interrupting) {
        pass.key = *pass.interrupting;
        pass.interrupting.reset();
        act(pass);
      }
      if (endsCommand(pass.key)) break;
    }
  }
  crtWriteln();
}

}  // namespace kalimbro
