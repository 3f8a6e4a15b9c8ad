// Scratch folders for the settings tests, and an autostart folder that is
// never the user's own: every test binary that includes this points
// XDG_CONFIG_HOME at a fresh temporary folder before any test runs.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "camviewer-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& leaf) const { return path_ + "/" + leaf; }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

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
