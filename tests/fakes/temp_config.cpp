#include "tests/fakes/temp_config.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace kalimbro {

TempConfigHome::TempConfigHome() {
  if (const char* old = getenv("XDG_CONFIG_HOME")) {
    previous_ = old;
    hadPrevious_ = true;
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kalimbro-config.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary settings directory";
    return;
  }
  path_ = pattern;
  setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
}

TempConfigHome::~TempConfigHome() {
  if (hadPrevious_) setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
}

void TempConfigHome::writeFamilyIni(std::string_view content) const {
  std::filesystem::create_directories(familyDirectory());
  std::ofstream out(familyIniFile(), std::ios::binary);
  out << content;
  if (!out) ADD_FAILURE() << "cannot write " << familyIniFile();
}

std::string TempConfigHome::readFamilyIni() const {
  std::ifstream in(familyIniFile(), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace kalimbro
