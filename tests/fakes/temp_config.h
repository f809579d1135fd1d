// A private settings home for one test: XDG_CONFIG_HOME points at a fresh
// directory for the object's life and is restored afterwards.
#pragma once

#include <string>
#include <string_view>

namespace kalimbro {

class TempConfigHome {
 public:
  TempConfigHome();
  ~TempConfigHome();
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  // The directory XDG_CONFIG_HOME names (UTF-8, no trailing '/').
  const std::string& path() const { return path_; }
  // Where the family settings file lives: path() + "/Varelu".
  std::string familyDirectory() const { return path_ + "/Varelu"; }
  std::string familyIniFile() const { return familyDirectory() + "/Varelu.ini"; }
  // Writes the family settings file with `content` as it is (UTF-8).
  void writeFamilyIni(std::string_view content) const;
  std::string readFamilyIni() const;

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace kalimbro
