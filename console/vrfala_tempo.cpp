// The spoken clock, calendar and battery.
#include "console/vrfala_tempo.h"

#include <array>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "console/vrfala.h"
#include "console/vrnum.h"
#include "platform/number_text.h"

namespace kalimbro {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {"Domingo", "Segunda", "Terca", "Quarta",
                                                       "Quinta",  "Sexta",   "Sabado"};
constexpr std::array<std::string_view, 12> kMonths = {
    "Janeiro", "Fevereiro", "Marco",    "Abril",   "Maio",     "Junho",
    "Julho",   "Agosto",    "Setembro", "Outubro", "Novembro", "Dezembro"};
constexpr size_t kMonthNameLength = 7;

constexpr std::string_view kPowerSupplyDir = "/sys/class/power_supply";

// What the clock and the calendar say, in order: recorded sounds of the
// letters directory, and numbers heard as one flow of number words.
struct Piece {
  std::string sound;       // a sound name, or empty for a number
  int number = 0;
  bool feminine = false;
};
using Pieces = std::vector<Piece>;

void addSound(Pieces& pieces, std::string sound) { pieces.push_back({std::move(sound), 0, false}); }
void addNumber(Pieces& pieces, int n, bool feminine) { pieces.push_back({{}, n, feminine}); }

Pieces timePieces(int hour, int minute) {
  Pieces pieces;
  addNumber(pieces, hour, true);
  addSound(pieces, hour == 0 || hour == 1 ? "_hora" : "_horas");
  if (minute != 0) {
    addNumber(pieces, minute, false);
    addSound(pieces, minute == 1 ? "_minuto" : "_minutos");
  }
  return pieces;
}

Pieces datePieces(int year, int month, int day, int weekday) {
  Pieces pieces;
  addSound(pieces, "_" + std::string(kWeekdays[static_cast<size_t>(weekday % 7)]));
  if (day == 1) addSound(pieces, "_primeir");
  else addNumber(pieces, day, false);
  addSound(pieces, "_de");
  const std::string_view monthName = kMonths[static_cast<size_t>((month + 11) % 12)];
  addSound(pieces, "_" + std::string(monthName.substr(0, kMonthNameLength)));
  addSound(pieces, "_de");
  if (year >= 2000) addNumber(pieces, 2000, false);
  if (year > 2000) addSound(pieces, "_e");
  if (year % 100 != 0) addNumber(pieces, year % 100, false);
  return pieces;
}

// The sound names the pieces are heard from, number words included.
std::vector<std::string> soundNames(const Pieces& pieces) {
  std::vector<std::string> sounds;
  for (const Piece& piece : pieces) {
    if (!piece.sound.empty()) {
      sounds.push_back(piece.sound);
      continue;
    }
    for (std::string& file : numberWordFiles(numberWords(piece.number), piece.feminine)) {
      file.resize(file.size() - 4);  // ".wav"
      sounds.push_back(std::move(file));
    }
  }
  return sounds;
}

void speakPieces(const Pieces& pieces) {
  for (const Piece& piece : pieces) {
    if (piece.sound.empty()) speakNumberWords(numberWords(piece.number), piece.feminine);
    else speakSound(piece.sound);
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

std::optional<int64_t> readNumber(const std::filesystem::path& file) { return wholeNumber(readLine(file)); }

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
  return soundNames(timePieces(hour, minute));
}

std::vector<std::string> dateSounds(int year, int month, int day, int weekday) {
  return soundNames(datePieces(year, month, day, weekday));
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
  speakPieces(timePieces(now.tm_hour, now.tm_min));
}

void speakDate() {
  const std::tm now = localNow();
  speakPieces(datePieces(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_wday));
}

void batteryReport() {
  const BatteryState state = readBatteryState(kPowerSupplyDir);
  if (state.hasBattery) speak(std::to_string(state.percent) + "%");
  else speakSound("_SEMBAT");
  if (state.offMains) speakSound("_SEMENER");
}

}  // namespace kalimbro
