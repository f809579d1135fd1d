// The spoken clock, calendar and battery.
#include "console/vrfala_tempo.h"

#include <array>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "console/vrfala.h"
#include "console/vrnum.h"

namespace kalimbro {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {"Domingo", "Segunda", "Terca", "Quarta",
                                                       "Quinta",  "Sexta",   "Sabado"};
constexpr std::array<std::string_view, 12> kMonths = {
    "Janeiro", "Fevereiro", "Marco",    "Abril",   "Maio",     "Junho",
    "Julho",   "Agosto",    "Setembro", "Outubro", "Novembro", "Dezembro"};
constexpr size_t kMonthNameLength = 7;

constexpr std::string_view kPowerSupplyDir = "/sys/class/power_supply";

// The word sounds of n, without their ".wav".
void appendNumber(std::vector<std::string>& sounds, int n, bool feminine) {
  for (std::string& file : numberWordFiles(numberWords(n), feminine)) {
    file.resize(file.size() - 4);
    sounds.push_back(std::move(file));
  }
}

std::tm localNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts;
}

// The first line of a small file of the power supply class.
std::string readLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

std::optional<int64_t> readNumber(const std::filesystem::path& file) {
  const std::string text = readLine(file);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// A battery's charge in percent: its own figure, else now / full of its
// energy or charge counters.
std::optional<int> batteryPercent(const std::filesystem::path& dir) {
  if (const auto capacity = readNumber(dir / "capacity")) return static_cast<int>(*capacity);
  for (const auto& [now, full] :
       {std::pair{"energy_now", "energy_full"}, std::pair{"charge_now", "charge_full"}}) {
    const auto n = readNumber(dir / now), f = readNumber(dir / full);
    if (n && f && *f > 0) return static_cast<int>(*n * 100 / *f);
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> timeSounds(int hour, int minute) {
  std::vector<std::string> sounds;
  appendNumber(sounds, hour, true);
  sounds.emplace_back(hour == 0 || hour == 1 ? "_hora" : "_horas");
  if (minute != 0) {
    appendNumber(sounds, minute, false);
    sounds.emplace_back(minute == 1 ? "_minuto" : "_minutos");
  }
  return sounds;
}

std::vector<std::string> dateSounds(int year, int month, int day, int weekday) {
  std::vector<std::string> sounds;
  sounds.push_back("_" + std::string(kWeekdays[static_cast<size_t>(weekday % 7)]));
  if (day == 1) sounds.emplace_back("_primeir");
  else appendNumber(sounds, day, false);
  sounds.emplace_back("_de");
  const std::string_view monthName = kMonths[static_cast<size_t>((month + 11) % 12)];
  sounds.push_back("_" + std::string(monthName.substr(0, kMonthNameLength)));
  sounds.emplace_back("_de");
  if (year >= 2000) appendNumber(sounds, 2000, false);
  if (year > 2000) sounds.emplace_back("_e");
  if (year % 100 != 0) appendNumber(sounds, year % 100, false);
  return sounds;
}

BatteryState readBatteryState(std::string_view powerSupplyDir) {
  BatteryState state;
  int batteries = 0, percentSum = 0;
  bool mainsSeen = false, mainsOnline = false, discharging = false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(powerSupplyDir, ec)) {
    const std::filesystem::path dir = entry.path();
    const std::string type = readLine(dir / "type");
    if (type == "Battery") {
      const auto percent = batteryPercent(dir);
      if (!percent) continue;
      ++batteries;
      percentSum += *percent;
      if (readLine(dir / "status") == "Discharging") discharging = true;
    } else if (type == "Mains") {
      mainsSeen = true;
      if (readNumber(dir / "online").value_or(0) != 0) mainsOnline = true;
    }
  }
  state.hasBattery = batteries > 0;
  if (state.hasBattery) state.percent = percentSum / batteries;
  // Without a mains entry only a discharging battery tells the story.
  state.offMains = mainsSeen ? !mainsOnline : discharging;
  return state;
}

void speakTime() {
  const std::tm now = localNow();
  for (const std::string& sound : timeSounds(now.tm_hour, now.tm_min)) speakSound(sound);
}

void speakDate() {
  const std::tm now = localNow();
  for (const std::string& sound :
       dateSounds(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_wday)) {
    speakSound(sound);
  }
}

void batteryReport() {
  const BatteryState state = readBatteryState(kPowerSupplyDir);
  if (state.hasBattery) speak(std::to_string(state.percent) + "%");
  else speakSound("_SEMBAT");
  if (state.offMains) speakSound("_SEMENER");
}

}  // namespace kalimbro
