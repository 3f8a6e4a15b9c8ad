#include "player/engine/recording_texts.h"

#include <cstdio>
#include <filesystem>

#include "viewer/config/key_value_reader.h"
#include "viewer/config/settings_file.h"

namespace player {
namespace fs = std::filesystem;

namespace {

fs::path absolute_of(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  return ec ? fs::path(path) : p.lexically_normal();
}

}  // namespace

std::string camera_folder_name(const std::string& path) { return absolute_of(path).parent_path().filename().string(); }

std::string window_title(const std::string& path, const RecordingLayout& layout) {
  std::string folder = camera_folder_name(path);
  std::string what =
      layout.has_trailer ? layout.period_start + " - " + layout.period_end : absolute_of(path).filename().string();
  std::string title = folder.empty() ? what : folder + ": " + what;
  return title + " - " + kProgramName;
}

std::string format_time(std::int64_t ms) {
  const std::int64_t s = ms > 0 ? ms / 1000 : 0;
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  }
  return buf;
}

SnapshotPlace snapshot_place(const std::string& recording_path, const std::string& program_folder) {
  SnapshotPlace place;
  const fs::path file = absolute_of(recording_path);
  place.camera = file.parent_path().filename().string();
  if (auto map = config::read_key_values(config::settings_file_path(program_folder))) {
    std::string root = config::lookup_text(*map, "SnapshotPath").value_or("");
    place.root = root.empty() ? program_folder + "/Snapshot" : root;
    std::int32_t quality = place.jpeg_quality;
    config::lookup_int(*map, "JpegRatio", &quality);
    place.jpeg_quality = quality;
    return place;
  }
  place.root = file.parent_path().parent_path().string();
  return place;
}

}  // namespace player
