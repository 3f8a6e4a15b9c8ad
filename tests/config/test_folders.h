// Scratch folders for the settings tests, and an autostart folder that is
// never the user's own: every test binary that includes this points
// XDG_CONFIG_HOME at a fresh temporary folder before any test runs.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "support/files.h"

namespace testing_support {

using TempFolder = test_support::TempDir;

inline std::string read_file(const std::string& path) { return test_support::read_text(path); }

inline void write_file(const std::string& path, const std::string& text) { (void)test_support::write_text(path, text); }

inline unsigned file_mode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The autostart folder of the whole test binary.
inline const TempFolder& config_home() {
  static TempFolder folder;
  return folder;
}

namespace detail {
inline const bool kConfigHomeSet = [] {
  ::setenv("XDG_CONFIG_HOME", config_home().path().c_str(), 1);
  return true;
}();
}  // namespace detail

}  // namespace testing_support
