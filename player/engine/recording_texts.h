// What the player's window says about a recording, and where its snapshots
// go; kept here, without the window, so that the rules are tested headless.
#pragma once

#include <cstdint>
#include <string>

#include "player/engine/recording_file.h"

namespace player {

inline constexpr const char* kProgramName = "asfplay";

// The name of the folder that holds the file: for the viewer's recordings,
// the camera's folder (named after its MAC). Empty when there is none.
std::string camera_folder_name(const std::string& path);

// "FOLDER: START - END - asfplay" with the period from the file's trailer;
// "FOLDER: FILE NAME - asfplay" without one.
std::string window_title(const std::string& path, const RecordingLayout& layout);

// "m:ss", or "h:mm:ss" from an hour on; negative times read as 0.
std::string format_time(std::int64_t ms);

// Where a snapshot of a recording goes, by the viewer's snapshot rules:
// root / camera folder / "YYYY_MMDD_hhmmss.jpg".
struct SnapshotPlace {
  std::string root;       // SnapshotPath
  std::string camera;     // the camera's folder name (the MAC)
  int jpeg_quality = 80;  // JpegRatio
};

// With a "param.dat" in program_folder: its SnapshotPath (the viewer's
// default, program_folder + "/Snapshot", when the key is empty) and
// JpegRatio. Without one (the player started on its own), the folder that
// holds the camera's folder, so the picture lands in the recording's own
// folder. Reads the settings file only.
SnapshotPlace snapshot_place(const std::string& recording_path, const std::string& program_folder);

}  // namespace player
