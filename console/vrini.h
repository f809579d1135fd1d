// vrini: the family settings file "Varelu.ini", as every program of the
// family reads it: `iniRead` with its path substitutions and `iniWrite`.
// The file lives in familyIniDirectory() (VrCrt); with `legacy` on, the copy
// in the system settings directory is also consulted and kept up to date.
#pragma once

#include <string>
#include <string_view>

namespace kalimbro {

// Value of `key` in `section`, with "@", "@@/" and "@/" substituted; empty
// when absent.
std::string iniRead(std::string_view section, std::string_view key);
// False when the user's settings file could not be written.
bool iniWrite(std::string_view section, std::string_view key, std::string_view value);

// Removes the unfinished new versions of the user's settings file that
// runs killed while writing it left beside it; called at start.
void removeIniLeftovers();

// On at program start; the speech settings turn it off unless "LEGADO" says
// otherwise.
bool iniLegacy();
void setIniLegacy(bool on);

}  // namespace kalimbro
