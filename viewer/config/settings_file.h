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

// What a camera record of the file came to at load.
enum class RestoreResult {
  Added,     // listed (and, with auto_play, reconnected when it was playing)
  ListFull,  // not listed: the list is full
  Refused,   // not listed for another reason, which the list told the user
};

// What loading and saving need from the camera list. The camera model
// implements it; the settings code stays free of the model.
class CameraCatalog {
 public:
  virtual ~CameraCatalog() = default;

  // Adds the camera of one loaded record through the list's add operation
  // (with its checks) and, when it is accepted, applies the record's
  // channel, sound and motion values and, with auto_play, reconnects it when
  // it was playing on a channel that no earlier camera plays on. The
  // recording flags arrive cleared and the connection state limited.
  virtual RestoreResult restore_camera(const CamInfo& info, bool auto_play) = 0;

  // Adds the entries of one schedule record to the listed camera with
  // exactly the record's MAC and location. Returns false when no such camera
  // is listed.
  virtual bool restore_schedules(const CamScheduleRecord& record) = 0;

  // The listed cameras and their schedule entries in use, in list order.
  virtual std::vector<CamInfo> camera_records() const = 0;
  virtual std::vector<CamScheduleRecord> schedule_records() const = 0;
};

// program_folder + "/param.dat".
[[nodiscard]] std::string settings_file_path(const std::string& program_folder);

// The user's own data folder for the program's files when its own folder
// cannot hold them: $XDG_DATA_HOME/quorvan-viewer (~/.local/share when unset);
// empty when neither names an absolute folder.
inline constexpr std::string_view kUserDataFolderName = "quorvan-viewer";
[[nodiscard]] std::string user_data_folder();

// Where the program looks for "param.dat" first: the folder of the running
// program file (the current directory when that cannot be told), or the
// user's data folder when this user cannot write the program's folder.
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
// when empty) and program_file with the absolute path of the running program.
void locate_program(Settings& settings, const std::string& start_folder = {});

// Loads "param.dat" from settings.program_folder (made absolute first) into
// settings and, when a catalog is given, restores the camera list and the
// schedules into it. Missing keys get their defaults; values no dialog could
// produce are brought into range; schedule entries no dialog could make are
// dropped (the user is told once). Empty folders get program folder +
// "/Motion", "/Record" or "/Snapshot", which are then created. Finally the
// autostart entry is set from AutoRun.
//
// A missing or blank file gives the defaults and no cameras, without a
// message. A file that exists but is not a settings file (no known key in
// its first lines, or not text) or cannot be read whole gives the defaults
// too, and is first moved aside to "param.dat.unreadable-YYYYMMDD-HHMMSS"
// so that the save at exit cannot overwrite it; the user is told. Cameras
// that the list cannot take (past 128) are counted in one message, and the
// file is copied to "param.dat.not-loaded-YYYYMMDD-HHMMSS" before the next
// save replaces it. User-interface thread (messages are modal there).
void load_settings(Settings& settings, CameraCatalog* cameras);

// Rebuilds settings.camera_text and settings.schedule_text from the catalog.
void build_camera_texts(Settings& settings, const CameraCatalog& cameras);

// The whole file as the program writes it, line by line in fixed order.
[[nodiscard]] std::string compose_settings_file(const Settings& settings);

// Writes "param.dat" into the program folder (through a temporary file, mode
// 0600) and then rewrites the autostart entry: first removed, then written
// again when AutoRun is non-zero. Keys of the loaded file that this version
// does not write are written back after its own. When the loaded file holds
// cameras that were not loaded, it is copied aside first (once). Returns 1 on
// success. On failure (or when the loaded file could neither be read nor be
// moved aside, so that saving would destroy it) the old file and the
// autostart entry stay as they were, the user is told with a message box,
// and 0 is returned. User-interface thread.
[[nodiscard]] int save_settings(Settings& settings, FileLayer& files = posix_file_layer());

// Keeps the file at path under path + "." + tag + "-YYYYMMDD-HHMMSS" (local
// time; "-2", "-3", ... added when that name is taken): moved there, or
// copied when copy is set. Returns the new path, or empty when nothing could
// be kept. Any thread.
[[nodiscard]] std::string keep_aside(const std::string& path, std::string_view tag, bool copy);

}  // namespace config
