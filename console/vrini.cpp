// The family settings file. Values may name places relative to the
// program ("@"), to the settings directory ("@@/") or to the family's
// program directory ("@/", from "PGMVARELU").
#include "console/vrini.h"

#include <optional>

#include "console/VrCrt.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace kalimbro {
namespace {

constexpr std::string_view kIniName = "/Varelu.ini";
constexpr size_t kMaxValueLength = 255;

bool legacy = true;

std::string systemIniFile() { return systemSettingsDirectory() + std::string(kIniName); }

// The value as stored, without substitutions.
std::string readStored(std::string_view section, std::string_view key) {
  std::string value =
      profileRead(familyIniDirectory() + std::string(kIniName), section, key, {}, kMaxValueLength);
  if (value.empty() && legacy) value = profileRead(systemIniFile(), section, key, {}, kMaxValueLength);
  return value;
}

// The family's program directory that replaces "@" in "@/". Its own value
// is taken as stored: a "@/" inside it is not expanded again, so a value
// that names itself cannot make the expansion go on for ever.
std::string familyProgramDirectory() {
  const std::string stored = readStored("VARELU", "PGMVARELU");
  if (stored.empty() || stored.front() == '@') return programDirectory();
  return stored;
}

}  // namespace

std::string iniRead(std::string_view section, std::string_view key) {
  const std::string value = readStored(section, key);
  if (value == "@") return programDirectory();
  if (value.find("@/") == std::string::npos) return value;

  // One pass from left to right: text that came from a substitution is
  // never looked at again. "@@/" is tried before the "@/" it ends with.
  std::string out;
  std::optional<std::string> settingsDir, programDir;  // looked up when first needed
  size_t i = 0;
  while (i < value.size()) {
    const std::string_view rest = std::string_view(value).substr(i);
    if (rest.starts_with("@@/")) {
      if (!settingsDir) settingsDir = familyIniDirectory();
      out += *settingsDir + "/";
      i += 3;
    } else if (rest.starts_with("@/")) {
      if (!programDir) programDir = familyProgramDirectory();
      out += *programDir + "/";
      i += 2;
    } else {
      out += value[i++];
    }
  }
  return out;
}

bool iniWrite(std::string_view section, std::string_view key, std::string_view value) {
  const std::string userDir = familyIniDirectory();
  const bool written = profileWrite(userDir + std::string(kIniName), section, key, value);
  // The shared copy is kept up to date where the user may write it; most
  // users may not, and their own file is what counts.
  if (legacy && userDir != systemSettingsDirectory() && fileExists(systemIniFile())) {
    profileWrite(systemIniFile(), section, key, value);
  }
  return written;
}

void removeIniLeftovers() { removeLeftoversBeside(familyIniDirectory() + std::string(kIniName)); }

bool iniLegacy() { return legacy; }
void setIniLegacy(bool on) { legacy = on; }

}  // namespace kalimbro
