// vrfala_tempo: the clock and the battery, heard from the family's recorded
// words. The line editor answers F8 (time), Control+F8 (date) and
// Control+F11 (battery) with these; key reading answers F8 too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// Speaks the current local time, date and battery state.
void speakTime();
void speakDate();
void batteryReport();

// The recorded sounds (names for speakSound, all in the letters directory)
// that say a time of day: the hour in feminine words, "_hora"/"_horas",
// then, unless the minutes are 0, their words and "_minuto"/"_minutos".
std::vector<std::string> timeSounds(int hour, int minute);
// The sounds that say a date; month 1-12, weekday 0 (Sunday) to 6.
std::vector<std::string> dateSounds(int year, int month, int day, int weekday);

// What the power supply directory (/sys/class/power_supply) says.
struct BatteryState {
  bool hasBattery = false;
  int percent = 0;        // the mean charge of the batteries
  bool offMains = false;  // known to run from the battery alone
};
BatteryState readBatteryState(std::string_view powerSupplyDir);

}  // namespace kalimbro
