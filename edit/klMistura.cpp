// The mix command.
#include "edit/klMistura.h"

#include <optional>
#include <string>

#include "app/openSave.h"
#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrarq.h"
#include "console/vrfala.h"
#include "edit/klEfeito.h"
#include "edit/klHistorico.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr long double kWorkingFallback = 0.7L, kSecondFallback = 0.3L;

uint8_t askUpperKey(std::string_view messageKey, std::string_view helpKey) {
  return upperCaseAccented(askKey(messageKey, helpKey));
}

// The factor typed as a percentage; nothing when the user gave up.
std::optional<long double> askPercent(std::string_view messageKey, long double fallback) {
  const std::optional<std::string> line = askValue(messageKey, "KLAJPERC");
  if (!line) return std::nullopt;
  return percentFactor(*line, fallback);
}

}  // namespace

long double percentFactor(std::string_view typed, long double fallback) {
  const std::optional<double> value = decimalNumber(typed);
  if (!value || *value >= 100) return fallback;
  return static_cast<long double>(*value) / 100.0L;
}

int64_t mixPosition(char place, int32_t cursor, int32_t count) {
  int64_t position = 0;
  if (place == 'C') position = cursor;
  if (place == 'F') position = int64_t{count} - 1;
  // An empty sound has no last frame, and a cursor past the end would
  // leave nothing mixed: both go to the nearest frame that exists.
  if (position < 0) position = 0;
  if (position > count) position = count;
  return position;
}

bool matchSoundFormat(std::unique_ptr<TAmostras>& second, const TAmostras& working) {
  second->setChannels(working.channels());
  if (second->outOfMemory()) return false;
  second->setBitsPerSample(working.bitsPerSample());
  if (second->sampleRate() == working.sampleRate()) return true;
  auto converted = std::make_unique<TAmostras>();
  converted->setMemoryLimit(second->memoryLimit());
  converted->convertFrom(*second, working.sampleRate());
  if (converted->outOfMemory()) return false;
  second = std::move(converted);
  return true;
}

bool mixSounds(TAmostras& working, const TAmostras& second, bool addition, int64_t position,
               long double workingFactor, long double secondFactor) {
  const int64_t before = working.count();
  if (addition && before > 0 && second.count() > 0) {
    working.insertSilence(position, second.count());
    // Laid over the sound instead of into room made for it, the second
    // sound would damage what is there.
    if (working.count() != before + second.count()) return false;
  }
  // The room the mix needs is made before any frame changes, so that a sound
  // that cannot grow stays as it was.
  const int64_t end = position + second.count();
  if (end > working.count()) {
    working.setFrame(end - 1, 0);
    if (working.count() != end) return false;
  }
  working.mixAt(second, position, workingFactor, secondFactor);
  return true;
}

void mixCommand() {
  ProgramState& p = program();
  TAmostras& working = *p.soundBuffer;
  sayMessage("KLNOMMIS", 1);
  std::string name;
  selectFile(10, soundFilePatterns(true), name, [] { explainQuestion("KLAJNOME", "KLNOMMIS"); });
  if (name.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (fileNamePart(name).find('.') == std::string::npos) name += ".wav";
  // The selector leaves the cursor at the end of its field: the name goes
  // on a line of its own instead of wrapping from the last column.
  if (whereX() != 1) crtWriteln();
  crtWriteln(name);
  if (!fileExists(name)) {
    sayMessage("KLERRNOM", 1);
    return;
  }

  auto second = std::make_unique<TAmostras>();
  second->setMemoryLimit(memoryLimitFromSettings());
  if (!readSoundFile(name, *second)) return;
  if (!matchSoundFormat(second, working)) {
    sayMessage("KLFALMEM", 1);
    return;
  }

  long double workingFactor = 1.0L, secondFactor = 1.0L;
  bool addition = false;
  for (;;) {
    const uint8_t kind = askUpperKey("KLADIFUN", "KLAJMIST");
    if (kind == kEsc) {
      sayMessage("KLDESIST", 1);
      return;
    }
    if (kind == 'A' || kind == 'M') {
      addition = kind == 'A';
      break;
    }
    if (kind == 'F') {
      const std::optional<long double> working = askPercent("KLFATORI", kWorkingFallback);
      if (!working) return;
      const std::optional<long double> second = askPercent("KLFATMIS", kSecondFallback);
      if (!second) return;
      workingFactor = *working;
      secondFactor = *second;
      break;
    }
  }
  char place = 0;
  while (place == 0) {
    const uint8_t key = askUpperKey("KLONDMST", "KLAJONDE");
    if (key == kEsc) {
      sayMessage("KLDESIST", 1);
      return;
    }
    if (key == 'I' || key == 'C' || key == 'F') place = static_cast<char>(key);
  }
  const int64_t position = mixPosition(place, p.currentPosition, working.count());
  if (!mixSounds(working, *second, addition, position, workingFactor, secondFactor)) {
    sayMessage("KLFALMEM", 1);
    return;
  }
  commitStep();
  sayMessage("KLMISTUR", 1);
  tellClipping(position, position + second->count());
}

}  // namespace kalimbro
