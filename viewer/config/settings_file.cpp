#include "viewer/config/settings_file.h"

#include <unistd.h>

#include <cstdlib>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "viewer/config/key_value_reader.h"
#include "viewer/platform/autostart.h"
#include "viewer/platform/ui_seams.h"

namespace config {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFallbackProgramFile = "viewer";
constexpr std::string_view kCaption = "Warning";

// The keys this program writes. One of them among the first lines of a file
// makes it a settings file.
constexpr std::string_view kKnownKeys[] = {"Slience",    "Volume",       "AutoPlay",     "AutoRun",     "MotionPath",
                                           "RecordPath", "SnapshotPath", "InstanceTime", "MotionTime",  "JpegRatio",
                                           "DiskLimit",  "MaxSpace",     "MaxMotSpace",  "MaxInsSpace", "WriteStop",
                                           "CamInfo",    "CamSchedule",  "PreMotion"};

std::string parent_folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// The program the autostart entry starts: the running program when known
// (an absolute path), else a file name in the program folder.
std::string program_path(const Settings& s) {
  if (!s.program_file.empty() && s.program_file.front() == '/') return s.program_file;
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

bool looks_like_settings(const SettingsFileRead& file) {
  if (file.head_has_nul) return false;
  for (const std::string& key : file.head_keys) {
    if (std::find(std::begin(kKnownKeys), std::end(kKnownKeys), key) != std::end(kKnownKeys)) return true;
  }
  return false;
}

std::string local_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &t) == 0) return "00000000-000000";
  return text;
}

std::string file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The lengths and the snapshot quality are kept within what the dialogs
// offer (the lengths keep any value inside the offered range: a newer dialog
// may offer it); anything further out is brought to the nearest end.
void bound_values(Settings& s) {
  s.InstanceTime = std::clamp(s.InstanceTime, 1, 24 * 60);
  s.MotionTime = std::clamp(s.MotionTime, 1, 60);
  s.JpegRatio = std::clamp(s.JpegRatio, 1, 100);
}

std::string count_text(std::size_t cameras) {
  return std::to_string(cameras) + (cameras == 1 ? " camera" : " cameras");
}

std::string schedule_key(const std::string& mac, std::int32_t location) { return mac + std::to_string(location); }

// Restores the cameras and then their schedules. A schedule record names
// its camera by MAC followed by location, which the record cannot split
// reliably once the MAC is free text or the location has several digits; so
// each record goes to the first listed camera with that key that has not
// had its record yet (the writer writes one record per camera, in list
// order). Tells the user once about cameras the list could not take and
// entries no dialog could make.
void restore_cameras(Settings& s, const KeyValueMap& map, CameraCatalog& cameras) {
  struct Listed {
    std::string key;
    std::string mac;
    std::int32_t location;
    bool scheduled = false;
  };
  std::vector<Listed> listed;
  std::size_t not_listed = 0;
  s.camera_text = lookup_text(map, "CamInfo").value_or("");
  for (CamInfo info : parse_camera_text(s.camera_text)) {
    // A recording cannot be open before the program runs, and a refusal
    // belongs to the last run.
    if (info.connection_state > 2 || info.connection_state < 0) info.connection_state = 0;
    info.recording = 0;
    info.motion_recording = 0;
    switch (cameras.restore_camera(info, s.AutoPlay != 0)) {
      case RestoreResult::Added:
        listed.push_back({schedule_key(info.mac, info.location), info.mac, info.location});
        break;
      case RestoreResult::ListFull:
        ++not_listed;
        [[fallthrough]];
      case RestoreResult::Refused:
        // The save at exit would drop this camera from the file.
        s.loaded_file = Settings::LoadedFile::CopyBeforeSave;
        break;
    }
  }

  std::size_t impossible = 0;
  s.schedule_text = lookup_text(map, "CamSchedule").value_or("");
  for (CamScheduleRecord record : parse_schedule_text(s.schedule_text)) {
    const std::string key = schedule_key(record.mac, record.location);
    Listed* owner = nullptr;
    for (Listed& l : listed) {
      if (l.key != key) continue;
      if (!owner) owner = &l;
      if (!l.scheduled) {
        owner = &l;
        break;
      }
    }
    if (!owner) continue;
    owner->scheduled = true;
    record.mac = owner->mac;
    record.location = owner->location;
    const std::size_t before = record.entries.size();
    std::erase_if(record.entries, [](const ScheduleValues& e) { return !schedule_entry_possible(e); });
    impossible += before - record.entries.size();
    (void)cameras.restore_schedules(record);
  }

  if (not_listed > 0) {
    platform::tell(count_text(not_listed) +
                       " of param.dat could not be loaded: the camera list holds at most 128 "
                       "cameras. The file is kept as a copy (param.dat.not-loaded-DATE-TIME) "
                       "before the settings are saved.",
                   kCaption);
  }
  if (impossible > 0) {
    platform::tell(std::to_string(impossible) + (impossible == 1 ? " schedule entry" : " schedule entries") +
                       " of param.dat could not have been made in the schedule dialogs (a day, start time or "
                       "duration out of range) and " +
                       (impossible == 1 ? "was" : "were") + " not loaded.",
                   kCaption);
  }
}

}  // namespace

std::string settings_file_path(const std::string& program_folder) {
  if (program_folder == "/") return "/" + std::string(kSettingsFileName);
  return program_folder + "/" + std::string(kSettingsFileName);
}

std::string user_data_folder() {
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  return base + "/" + std::string(kUserDataFolderName);
}

std::string default_start_folder() {
  std::string folder = parent_folder(platform::running_program_path());
  // An installed program lives in a folder its users cannot write (/usr/bin):
  // param.dat and the recordings would be lost at every save. The user's
  // own data folder takes their place, made on first use.
  if (!folder.empty() && ::access(folder.c_str(), W_OK) != 0) {
    const std::string own = user_data_folder();
    std::error_code ec;
    if (!own.empty() && (fs::is_directory(own, ec) || fs::create_directories(own, ec))) return own;
  }
  if (!folder.empty()) return folder;
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

std::string discover_program_folder(const std::string& start_folder) {
  SettingsFileRead file = read_settings_file(settings_file_path(start_folder));
  // A file that is there but cannot be read is still the file of this
  // folder: loading keeps it aside and tells the user.
  if (file.status == SettingsFileRead::Status::Unreadable) return start_folder;
  if (file.status == SettingsFileRead::Status::Read) {
    std::optional<std::string> motion = lookup_text(file.map, "MotionPath");
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
  settings.program_file = platform::running_program_path();
  if (settings.program_file.empty()) settings.program_file = std::string(kFallbackProgramFile);
}

std::string keep_aside(const std::string& path, std::string_view tag, bool copy) {
  const std::string base = path + "." + std::string(tag) + "-" + local_stamp();
  for (int n = 1; n < 100; ++n) {
    const std::string target = n == 1 ? base : base + "-" + std::to_string(n);
    // A second name for the same bytes: never replaces an existing file, and
    // the bytes stay when the settings file is later replaced by a rename.
    if (::link(path.c_str(), target.c_str()) == 0) {
      if (!copy && ::unlink(path.c_str()) != 0) {
        (void)::unlink(target.c_str());
        return {};
      }
      return target;
    }
    if (errno == EEXIST) continue;
    if (errno == ENOENT) return {};
    // No hard links here (or a folder): move or copy it instead.
    std::error_code ec;
    if (fs::exists(target, ec)) continue;
    if (copy) {
      if (fs::copy_file(path, target, fs::copy_options::none, ec)) return target;
    } else {
      fs::rename(path, target, ec);
      if (!ec) return target;
    }
    return {};
  }
  return {};
}

void load_settings(Settings& s, CameraCatalog* cameras) {
  if (!s.program_folder.empty() && s.program_folder.front() != '/') {
    // Every folder derived from it is stored: it must not depend on where
    // the program happens to be started.
    std::error_code ec;
    const fs::path absolute = fs::absolute(s.program_folder, ec);
    if (!ec) s.program_folder = absolute.lexically_normal().string();
    while (s.program_folder.size() > 1 && s.program_folder.back() == '/') s.program_folder.pop_back();
  }
  const std::string path = settings_file_path(s.program_folder);
  SettingsFileRead file = read_settings_file(path);
  s.loaded_file = Settings::LoadedFile::Plain;
  const bool unusable = file.status == SettingsFileRead::Status::Unreadable ||
                        (file.status == SettingsFileRead::Status::Read && !file.blank && !looks_like_settings(file));
  if (unusable) {
    // Whatever the file is, the save at exit must not replace it with
    // defaults: it is moved aside before anything else happens.
    const std::string reason = file.status == SettingsFileRead::Status::Unreadable
                                   ? "could not be read (" + file.error + ")"
                                   : "is not a settings file";
    const std::string kept = keep_aside(path, "unreadable", false);
    if (!kept.empty()) {
      platform::tell("param.dat " + reason + ". It was kept as " + file_name(kept) +
                         ", and the program starts with default settings and no cameras.",
                     kCaption);
    } else {
      s.loaded_file = Settings::LoadedFile::KeepUnsaved;
      platform::tell("param.dat " + reason +
                         ", and it could not be kept under another name. The program starts "
                         "with default settings and no cameras, and will not save its settings over that file.",
                     kCaption);
    }
    file = SettingsFileRead{};
  }
  const KeyValueMap& map = file.map;
  s.file_entries = std::move(file.entries);

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
  // Folders as the save will write them, so that one that cannot be
  // written (nothing but a NUL) gets its default now rather than next time.
  s.MotionPath = path_value(lookup_text(map, "MotionPath").value_or(""));
  s.RecordPath = path_value(lookup_text(map, "RecordPath").value_or(""));
  s.SnapshotPath = path_value(lookup_text(map, "SnapshotPath").value_or(""));
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

  if (cameras) restore_cameras(s, map, *cameras);

  apply_default_folder(s.MotionPath, s.program_folder, "Motion");
  apply_default_folder(s.RecordPath, s.program_folder, "Record");
  apply_default_folder(s.SnapshotPath, s.program_folder, "Snapshot");
  bound_values(s);

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
  // Keys of a newer version (or of the user) go back as they were read,
  // after the program's own. The reader took each value up to the line's
  // end, so it needs no escape; a NUL (which no version writes) would make
  // the file not a text file.
  const KeyValueMap own = parse_key_values(out);
  for (const auto& [key, value] : s.file_entries) {
    if (own.find(key) != own.end()) continue;
    if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos) continue;
    append_line(out, key, value);
  }
  return out;
}

int save_settings(Settings& settings, FileLayer& files) {
  const std::string path = settings_file_path(settings.program_folder);
  if (settings.loaded_file == Settings::LoadedFile::KeepUnsaved) {
    platform::tell(
        "The settings were not saved: param.dat could not be read at start and could not be kept under "
        "another name, so it is left as it was. Changes made since the start are lost.",
        kCaption);
    return 0;
  }
  if (settings.loaded_file == Settings::LoadedFile::CopyBeforeSave) {
    std::error_code ec;
    if (fs::exists(path, ec) && keep_aside(path, "not-loaded", true).empty()) {
      platform::tell(
          "The settings were not saved: param.dat holds cameras that were not loaded, and no copy of it "
          "could be made. Changes made since the start are lost.",
          kCaption);
      return 0;
    }
    settings.loaded_file = Settings::LoadedFile::Plain;
  }
  std::string error;
  if (!write_file_atomically(path, compose_settings_file(settings), kSettingsFileMode, &error, files)) {
    platform::tell("The settings could not be saved (" + error + "). Changes made since the start are lost.", kCaption);
    return 0;
  }
  (void)platform::set_start_with_session(false, program_path(settings));
  if (settings.AutoRun != 0) (void)platform::set_start_with_session(true, program_path(settings));
  return 1;
}

}  // namespace config
