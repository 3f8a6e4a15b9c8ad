#include "viewer/config/settings_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "viewer/config/key_value_reader.h"
#include "viewer/platform/autostart.h"
#include "viewer/platform/ui_seams.h"

namespace config {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFallbackProgramFile = "viewer";

std::string parent_folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string program_path(const Settings& s) {
  std::string file = s.program_file.empty() ? std::string(kFallbackProgramFile) : s.program_file;
  return s.program_folder == "/" ? "/" + file : s.program_folder + "/" + file;
}

// A folder written into the file must come back as the same folder: "//"
// would start a comment and a line break would end the line. Repeated slashes
// name the same folder on POSIX, so they are folded; line breaks, NUL and
// 0xFF cannot be part of a folder the user picked and are dropped.
std::string path_value(std::string_view path) {
  std::string out;
  for (char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r' || b == '\n' || b == 0 || b == 0xFF) continue;
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

void apply_default_folder(std::string& path, const std::string& program_folder, std::string_view leaf) {
  if (!path.empty()) return;
  path = (program_folder == "/" ? std::string() : program_folder) + "/" + std::string(leaf);
  std::error_code ec;
  fs::create_directories(path, ec);  // an existing folder is left alone; a failure shows later, when recording
}

void append_line(std::string& out, std::string_view key, std::string_view value) {
  out += key;
  out += '=';
  out += value;
  out += '\n';
}

}  // namespace

std::string settings_file_path(const std::string& program_folder) {
  if (program_folder == "/") return "/" + std::string(kSettingsFileName);
  return program_folder + "/" + std::string(kSettingsFileName);
}

std::string default_start_folder() {
  std::string folder = parent_folder(platform::running_program_path());
  if (!folder.empty()) return folder;
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

std::string discover_program_folder(const std::string& start_folder) {
  if (auto map = read_key_values(settings_file_path(start_folder))) {
    std::optional<std::string> motion = lookup_text(*map, "MotionPath");
    if (!motion) return start_folder;
    // The default motion folder lies inside the program folder, so its parent
    // finds the program folder. A motion folder the user moved elsewhere must
    // not move the settings away from the file just found: that would start
    // with an empty camera list and overwrite it at exit.
    std::string parent = parent_folder(*motion);
    if (parent.empty()) return start_folder;
    if (parent == start_folder || file_exists(settings_file_path(parent))) return parent;
    return start_folder;
  }
  if (std::optional<std::string> program = platform::read_start_with_session()) {
    std::string folder = parent_folder(*program);
    if (!folder.empty()) return folder;
  }
  return start_folder;
}

void locate_program(Settings& settings, const std::string& start_folder) {
  settings.program_folder = discover_program_folder(start_folder.empty() ? default_start_folder() : start_folder);
  std::string running = platform::running_program_path();
  std::size_t slash = running.rfind('/');
  settings.program_file = slash == std::string::npos ? running : running.substr(slash + 1);
  if (settings.program_file.empty()) settings.program_file = std::string(kFallbackProgramFile);
}

void load_settings(Settings& s, CameraCatalog* cameras) {
  KeyValueMap map = read_key_values(settings_file_path(s.program_folder)).value_or(KeyValueMap{});

  s.Slience = 0;
  s.Volume = 0;
  s.AutoPlay = 1;
  s.AutoRun = 1;
  s.InstanceTime = 1;
  s.MotionTime = 1;
  s.JpegRatio = 80;
  s.PreMotion = kDefaultPreMotion;
  lookup_int(map, "Slience", &s.Slience);
  lookup_int(map, "Volume", &s.Volume);
  lookup_int(map, "AutoPlay", &s.AutoPlay);
  lookup_int(map, "AutoRun", &s.AutoRun);
  s.MotionPath = lookup_text(map, "MotionPath").value_or("");
  s.RecordPath = lookup_text(map, "RecordPath").value_or("");
  s.SnapshotPath = lookup_text(map, "SnapshotPath").value_or("");
  lookup_int(map, "DiskLimit", &s.DiskLimit);
  lookup_int(map, "MaxSpace", &s.MaxSpace);
  lookup_int(map, "MaxMotSpace", &s.MaxMotSpace);
  lookup_int(map, "MaxInsSpace", &s.MaxInsSpace);
  lookup_int(map, "WriteStop", &s.WriteStop);
  lookup_int(map, "InstanceTime", &s.InstanceTime);
  lookup_int(map, "MotionTime", &s.MotionTime);
  lookup_int(map, "JpegRatio", &s.JpegRatio);
  // Newer than the other keys: files written before it lack it (and get the
  // default); programs from before it skip it as an unknown key.
  lookup_int(map, "PreMotion", &s.PreMotion);
  s.PreMotion = std::clamp(s.PreMotion, 0, kMaxPreMotion);

  if (cameras) {
    // Cameras first: schedules are attached to listed cameras.
    s.camera_text = lookup_text(map, "CamInfo").value_or("");
    for (CamInfo info : parse_camera_text(s.camera_text)) {
      // A recording cannot be open before the program runs, and a refusal
      // belongs to the last run.
      if (info.connection_state > 2 || info.connection_state < 0) info.connection_state = 0;
      info.recording = 0;
      info.motion_recording = 0;
      (void)cameras->restore_camera(info, s.AutoPlay != 0);
    }
    s.schedule_text = lookup_text(map, "CamSchedule").value_or("");
    for (const CamScheduleRecord& record : parse_schedule_text(s.schedule_text)) {
      (void)cameras->restore_schedules(record);
    }
  }

  apply_default_folder(s.MotionPath, s.program_folder, "Motion");
  apply_default_folder(s.RecordPath, s.program_folder, "Record");
  apply_default_folder(s.SnapshotPath, s.program_folder, "Snapshot");

  (void)platform::set_start_with_session(s.AutoRun != 0, program_path(s));
}

void build_camera_texts(Settings& settings, const CameraCatalog& cameras) {
  settings.camera_text = build_camera_text(cameras.camera_records());
  settings.schedule_text = build_schedule_text(cameras.schedule_records());
}

std::string compose_settings_file(const Settings& s) {
  std::string out = "    \n";
  append_line(out, "Slience", std::to_string(s.Slience));
  append_line(out, "Volume", std::to_string(s.Volume));
  append_line(out, "AutoPlay", std::to_string(s.AutoPlay));
  append_line(out, "AutoRun", std::to_string(s.AutoRun));
  append_line(out, "MotionPath", path_value(s.MotionPath));
  append_line(out, "RecordPath", path_value(s.RecordPath));
  append_line(out, "SnapshotPath", path_value(s.SnapshotPath));
  append_line(out, "InstanceTime", std::to_string(s.InstanceTime));
  append_line(out, "MotionTime", std::to_string(s.MotionTime));
  append_line(out, "PreMotion", std::to_string(s.PreMotion));
  append_line(out, "JpegRatio", std::to_string(s.JpegRatio));
  append_line(out, "DiskLimit", std::to_string(s.DiskLimit));
  append_line(out, "MaxSpace", std::to_string(s.MaxSpace));
  append_line(out, "MaxMotSpace", std::to_string(s.MaxMotSpace));
  append_line(out, "MaxInsSpace", std::to_string(s.MaxInsSpace));
  append_line(out, "WriteStop", std::to_string(s.WriteStop));
  append_line(out, "CamInfo", s.camera_text);
  append_line(out, "CamSchedule", s.schedule_text);
  return out;
}

int save_settings(const Settings& settings, FileLayer& files) {
  const std::string path = settings_file_path(settings.program_folder);
  std::string error;
  if (!write_file_atomically(path, compose_settings_file(settings), kSettingsFileMode, &error, files)) {
    platform::tell("The settings could not be saved (" + error + "). Changes made since the start are lost.",
                   "Warning");
    return 0;
  }
  (void)platform::set_start_with_session(false, program_path(settings));
  if (settings.AutoRun != 0) (void)platform::set_start_with_session(true, program_path(settings));
  return 1;
}

}  // namespace config
