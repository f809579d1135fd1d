// Reading and writing the "KALIMBRO" settings.
#include "app/klconfig.h"

#include <charconv>
#include <string>

#include "app/programState.h"
#include "console/vrini.h"

namespace kalimbro {
namespace {

constexpr std::string_view kSection = "KALIMBRO";
constexpr size_t kMaxTextSetting = 255;

// Text that is not a whole decimal number (an empty one included) reads as 0.
int32_t toInt(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return (ec == std::errc() && ptr == end) ? value : 0;
}

int32_t readInt(std::string_view key) { return toInt(iniRead(kSection, key)); }

std::string readText(std::string_view key, std::string_view fallback) {
  std::string value = iniRead(kSection, key).substr(0, kMaxTextSetting);
  return value.empty() ? std::string(fallback) : value;
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
  const std::string echo = iniRead(kSection, "MILI_ECO");
  if (echo.empty()) return;
  s.EchoUnits = static_cast<int32_t>(static_cast<int64_t>(toInt(echo)) * 10);
  s.echoPercent = readInt("FATOR_ECO");
  s.ReverbUnits = static_cast<int32_t>(static_cast<int64_t>(readInt("MILI_REVERB")) * 10);
  s.reverbPercent = readInt("FATOR_REVERB");
  s.maxMemoryMb = readInt("MAX_MEMORIA");
  s.playBuffers = readInt("NBUF_TOCA");
  s.recordBuffers = readInt("NBUF_GRAVA");
  s.lameProgram = readText("PROGLAME", "lame");
  s.lameEncodeOptions = readText("LAME_IN_CMD", "-h");
  s.lameDecodeOptions = readText("LAME_OUT_CMD", "--decode");
}

void writeConfig(const Settings& s) {
  const auto put = [](std::string_view key, const std::string& value) {
    iniWrite(kSection, key, value);
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
}

}  // namespace kalimbro
