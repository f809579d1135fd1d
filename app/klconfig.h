// klconfig: the program's own settings in section "KALIMBRO" of
// Varelu.ini: defaults, reading at start-up and writing back.
#pragma once

namespace kalimbro {

struct Settings;

// The seven integer settings get their defaults; the texts are left alone.
void setDefaultConfig(Settings& s);
// Reads the section. The integers are read only when "MILI_ECO" is there;
// the LAME texts always, each empty one taking its default ("lame", "-h",
// "--decode").
void readConfig(Settings& s);
// Writes all ten keys, in their fixed order; false when the settings file
// could not be written.
bool writeConfig(const Settings& s);
// Command C: the configuration form, its corrections, and writing back.
void configure();

}  // namespace kalimbro
