// The program's temporary places put back as they were found: $TMPDIR,
// the system's places and no private directory made, when the object
// goes. For tests that move them.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/paths.h"

namespace kalimbro {

class RestoredTempPlaces {
 public:
  RestoredTempPlaces() {
    if (const char* tmpdir = getenv("TMPDIR")) savedTmpdir_ = tmpdir;
    removeTempDirectory();
  }
  ~RestoredTempPlaces() {
    removeTempDirectory();
    setSystemTempPlaces({"/tmp", "/var/tmp"});
    if (savedTmpdir_) {
      setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  RestoredTempPlaces(const RestoredTempPlaces&) = delete;
  RestoredTempPlaces& operator=(const RestoredTempPlaces&) = delete;

  // $TMPDIR as it was found.
  const std::optional<std::string>& savedTmpdir() const { return savedTmpdir_; }

 private:
  std::optional<std::string> savedTmpdir_;
};

}  // namespace kalimbro
