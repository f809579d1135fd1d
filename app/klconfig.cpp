// Reading and writing the "KALIMBRO" settings.
#include "app/klconfig.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "console/vrini.h"
#include "platform/number_text.h"

namespace kalimbro {
namespace {

constexpr std::string_view kSection = "KALIMBRO";
constexpr size_t kMaxTextSetting = 255;
constexpr std::string_view kDefaultLameProgram = "lame";  // found on PATH
constexpr std::string_view kDefaultLameEncode = "-h";
constexpr std::string_view kDefaultLameDecode = "--decode";
constexpr std::string_view kDefaultFfmpegProgram = "ffmpeg";  // found on PATH

// Text that is not a whole number (an empty one included) reads as 0.
int32_t toInt(std::string_view text) { return wholeNumber32(text).value_or(0); }

int32_t readInt(std::string_view key) { return toInt(iniRead(kSection, key)); }

std::string readText(std::string_view key, std::string_view fallback) {
  std::string value = iniRead(kSection, key).substr(0, kMaxTextSetting);
  return value.empty() ? std::string(fallback) : value;
}

// A text setting left empty takes its default.
void emptyBecomes(std::string& text, std::string_view fallback) {
  if (text.empty()) text = fallback;
}

// Only a zero is replaced: the form keeps a negative value as typed.
void zeroBecomes(int32_t& value, int32_t fallback) {
  if (value == 0) value = fallback;
}

void outsideBecomes(int32_t& value, int32_t low, int32_t high, int32_t fallback) {
  if (value < low || value > high) value = fallback;
}

}  // namespace

void setDefaultConfig(Settings& s) {
  const Settings defaults;
  s.EchoUnits = defaults.EchoUnits;
  s.echoPercent = defaults.echoPercent;
  s.ReverbUnits = defaults.ReverbUnits;
  s.reverbPercent = defaults.reverbPercent;
  s.maxMemoryMb = defaults.maxMemoryMb;
  s.playBuffers = defaults.playBuffers;
  s.recordBuffers = defaults.recordBuffers;
}

void readConfig(Settings& s) {
  // The LAME texts are read even from a section without the echo key (a
  // fresh install): without them no MP3 could be opened or written.
  s.lameProgram = readText("PROGLAME", kDefaultLameProgram);
  s.lameEncodeOptions = readText("LAME_IN_CMD", kDefaultLameEncode);
  s.lameDecodeOptions = readText("LAME_OUT_CMD", kDefaultLameDecode);
  // Kept in the file only; the form does not show it.
  s.ffmpegProgram = readText("PROGFFMPEG", kDefaultFfmpegProgram);
  if (const std::optional<int32_t> mb = wholeNumber32(iniRead(kSection, "MAX_HISTORICO")); mb && *mb > 0)
    s.historyMb = *mb;
  s.timesInHours = upperCaseAccented(readText("TEMPO_HORAS", "N")).starts_with('S');
  const std::string echo = iniRead(kSection, "MILI_ECO");
  if (echo.empty()) return;
  s.EchoUnits = static_cast<int32_t>(static_cast<int64_t>(toInt(echo)) * 10);
  s.echoPercent = readInt("FATOR_ECO");
  s.ReverbUnits = static_cast<int32_t>(static_cast<int64_t>(readInt("MILI_REVERB")) * 10);
  s.reverbPercent = readInt("FATOR_REVERB");
  s.maxMemoryMb = readInt("MAX_MEMORIA");
  s.playBuffers = readInt("NBUF_TOCA");
  s.recordBuffers = readInt("NBUF_GRAVA");
}

void configure() {
  constexpr int kFormRows = 13, kTextWidth = 80;  // twelve fields and the line after them
  ProgramState& p = program();
  Settings& s = p.settings;

  clearScreen();
  sayMessage("KLCONF", 2);
  const uint8_t key = askKey("KLRESET", "KLAJRESE");
  if (key == kEsc) {
    sayMessage("KLDESIST", 1);
    return;
  }

  readConfig(s);
  if (upperCaseAccented(key) == 'S') {
    const std::string lameProgram = s.lameProgram;
    const std::string ffmpegProgram = s.ffmpegProgram;
    const int32_t historyMb = s.historyMb;
    s = Settings{};
    s.lameProgram = lameProgram;
    s.ffmpegProgram = ffmpegProgram;
    s.historyMb = historyMb;
    s.lameEncodeOptions = kDefaultLameEncode;
    s.lameDecodeOptions = kDefaultLameDecode;
  }

  reserveLines(kFormRows);
  int32_t echoMs = s.EchoUnits / 10;
  int32_t reverbMs = s.ReverbUnits / 10;
  formBegin();
  const auto addInt = [](std::string_view key, int32_t& value) {
    formAddInt(key, messageText(key), value);
  };
  const auto addText = [](std::string_view key, std::string& value) {
    formAddText(key, messageText(key), value, kTextWidth);
  };
  addInt("KLMSECO", echoMs);
  addInt("KLPERECO", s.echoPercent);
  addInt("KLMSREV", reverbMs);
  addInt("KLPERREV", s.reverbPercent);
  addInt("KLMAXMEM", s.maxMemoryMb);
  addInt("KLNBUFT", s.playBuffers);
  addInt("KLNBUFG", s.recordBuffers);
  addText("KLCNVMP3", s.lameProgram);
  addText("KLMP3OUT", s.lameEncodeOptions);
  addText("KLMP3IN", s.lameDecodeOptions);
  // The speech server: S or N, one key, as every answer of the program.
  const bool serverBefore = speechServerChosen();
  std::string server(1, serverBefore ? 'S' : 'N');
  formAddText("KLFALSRV", messageText("KLFALSRV"), server, 1);
  std::string hours(1, s.timesInHours ? 'S' : 'N');
  formAddText("KLHORAS", messageText("KLHORAS"), hours, 1);
  formRun(true, explainForm);  // however the form ends, what it holds is taken
  if (!hours.empty()) s.timesInHours = upperCaseAccented(hours[0]) == 'S';

  for (std::string* text : {&s.lameProgram, &s.lameEncodeOptions, &s.lameDecodeOptions})
    text->resize(std::min(text->size(), kMaxTextSetting));
  emptyBecomes(s.lameProgram, kDefaultLameProgram);
  emptyBecomes(s.lameEncodeOptions, kDefaultLameEncode);
  emptyBecomes(s.lameDecodeOptions, kDefaultLameDecode);
  s.EchoUnits = static_cast<int32_t>(std::clamp<int64_t>(int64_t{echoMs} * 10, INT32_MIN, INT32_MAX));
  s.ReverbUnits = static_cast<int32_t>(std::clamp<int64_t>(int64_t{reverbMs} * 10, INT32_MIN, INT32_MAX));
  const Settings defaults;
  zeroBecomes(s.EchoUnits, defaults.EchoUnits);
  zeroBecomes(s.echoPercent, defaults.echoPercent);
  zeroBecomes(s.ReverbUnits, defaults.ReverbUnits);
  zeroBecomes(s.reverbPercent, defaults.reverbPercent);
  outsideBecomes(s.playBuffers, 2, 8, defaults.playBuffers);
  outsideBecomes(s.recordBuffers, 2, 8, defaults.recordBuffers);

  p.soundBuffer->setMemoryLimit(memoryLimitFromSettings());
  // The settings hold for this run either way; the user hears whether they
  // will also hold for the next one.
  bool written = writeConfig(s);
  // An emptied field keeps the choice as it was.
  const bool serverWanted = server.empty() ? serverBefore : upperCaseAccented(server[0]) == 'S';
  if (serverWanted != serverBefore) {
    written = chooseSpeechServer(serverWanted) && written;
    // Speech starts again with the new choice, at once.
    const std::string soundDir = speechSoundDir();
    endSpeech();
    initSpeech(0, soundDir);
    if (serverWanted && !speechEngineActive()) sayMessage("KLSRVFAL", 2);
  }
  sayMessage(written ? "KLOKCONF" : "KLERRGRV", 2);
}

bool writeConfig(const Settings& s) {
  bool written = true;
  const auto put = [&written](std::string_view key, const std::string& value) {
    written = iniWrite(kSection, key, value) && written;
  };
  put("MILI_ECO", std::to_string(s.EchoUnits / 10));
  put("FATOR_ECO", std::to_string(s.echoPercent));
  put("MILI_REVERB", std::to_string(s.ReverbUnits / 10));
  put("FATOR_REVERB", std::to_string(s.reverbPercent));
  put("MAX_MEMORIA", std::to_string(s.maxMemoryMb));
  put("NBUF_TOCA", std::to_string(s.playBuffers));
  put("NBUF_GRAVA", std::to_string(s.recordBuffers));
  put("PROGLAME", s.lameProgram);
  put("LAME_OUT_CMD", s.lameDecodeOptions);
  put("LAME_IN_CMD", s.lameEncodeOptions);
  put("TEMPO_HORAS", s.timesInHours ? "S" : "N");
  return written;
}

}  // namespace kalimbro
