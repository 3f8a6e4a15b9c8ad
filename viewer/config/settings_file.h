// Loading and saving "param.dat", finding the program folder that holds it,
// and keeping the autostart entry in step with `AutoRun`.
//
// The file is read once while the main window is created and written once
// while it is destroyed, both on the user-interface thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "viewer/config/atomic_file.h"
#include "viewer/config/cam_info.h"
#include "viewer/config/settings.h"

namespace config {

inline constexpr std::string_view kSettingsFileName = "param.dat";

// Permissions of "param.dat": it holds the cameras' passwords in clear, so
// only its owner may read it.
inline constexpr unsigned kSettingsFileMode = 0600;

// `PreMotion` when the file has none, and the most it may be (seconds).
inline constexpr int kDefaultPreMotion = 5;
inline constexpr int kMaxPreMotion = 30;

// What loading and saving need from the camera list. The camera model
// implements it; the settings code stays free of the model.
class CameraCatalog {
 public:
  virtual ~CameraCatalog() = default;

  // Adds the camera of one loaded record through the list's add operation
  // (with its checks and messages) and, when it is accepted, applies the
  // record's channel, sound and motion values and, with auto_play, reconnects
  // it when it was playing on a channel. The recording flags arrive cleared
  // and the connection state limited. Returns true when the camera was added.
  virtual bool restore_camera(const CamInfo& info, bool auto_play) = 0;

  // Adds the entries of one schedule record to the listed camera with the
  // record's MAC and location. Returns false when no such camera is listed.
  virtual bool restore_schedules(const CamScheduleRecord& record) = 0;

  // The listed cameras and their schedule entries in use, in list order.
  virtual std::vector<CamInfo> camera_records() const = 0;
  virtual std::vector<CamScheduleRecord> schedule_records() const = 0;
};

// program_folder + "/param.dat".
[[nodiscard]] std::string settings_file_path(const std::string& program_folder);

// Where the program looks for "param.dat" first: the folder of the running
// program file (the current directory when that cannot be told).
[[nodiscard]] std::string default_start_folder();

// Finds the program folder, starting in start_folder:
//  1. if start_folder holds a readable "param.dat" with a MotionPath key, the
//     parent of that motion folder, provided that folder holds a "param.dat"
//     too; otherwise, and for a MotionPath without any "/", start_folder;
//  2. without a readable "param.dat", the folder of the program named by the
//     autostart entry, when there is one;
//  3. otherwise start_folder.
[[nodiscard]] std::string discover_program_folder(const std::string& start_folder);

// Fills program_folder by discovery from start_folder (default_start_folder()
// when empty) and program_file from the running program.
void locate_program(Settings& settings, const std::string& start_folder = {});

// Loads "param.dat" from settings.program_folder into settings and, when a
// catalog is given, restores the camera list and the schedules into it.
// Missing keys get their defaults; empty folders get program folder + "/Motion",
// "/Record" or "/Snapshot", which are then created. Finally the autostart
// entry is set from AutoRun. A missing or unreadable file gives the defaults
// and no cameras, without a message.
void load_settings(Settings& settings, CameraCatalog* cameras);

// Rebuilds settings.camera_text and settings.schedule_text from the catalog.
void build_camera_texts(Settings& settings, const CameraCatalog& cameras);

// The whole file as the program writes it, line by line in fixed order.
[[nodiscard]] std::string compose_settings_file(const Settings& settings);

// Writes "param.dat" into the program folder (through a temporary file, mode
// 0600) and then rewrites the autostart entry: first removed, then written
// again when AutoRun is non-zero. Returns 1 on success. On failure the old
// file and the autostart entry stay as they were, the user is told with a
// message box, and 0 is returned.
[[nodiscard]] int save_settings(const Settings& settings, FileLayer& files = posix_file_layer());

}  // namespace config
