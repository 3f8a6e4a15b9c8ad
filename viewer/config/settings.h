// The global settings record. One instance lives in the main window from
// start-up to exit; "param.dat" is read into it once at start and written from
// it once at exit.
#pragma once

#include <cstdint>
#include <string>

namespace config {

struct Settings {
  // Members carry the keys of the file as their names.
  std::int32_t MotionTime = 0;    // minutes a motion recording goes on after the last motion
  std::int32_t InstanceTime = 0;  // length of a manual recording, minutes
  std::int32_t DiskLimit = 0;     // non-zero: the disk quota is enforced
  std::int32_t MaxSpace = 0;      // overall recording space, MB of 1,000,000 bytes
  std::int32_t MaxMotSpace = 0;   // space for motion recordings, MB
  std::int32_t MaxInsSpace = 0;   // space for manual and schedule recordings, MB (the quota)
  std::int32_t WriteStop = 0;     // 1: stop recording at the quota; else delete the oldest files
  std::int32_t Volume = 0;        // carried through unchanged
  std::int32_t Slience = 0;       // carried through unchanged
  std::int32_t JpegRatio = 0;     // JPEG quality of snapshots
  std::int32_t AutoRun = 0;       // non-zero: start the program with the session
  std::int32_t AutoPlay = 0;      // non-zero: reconnect cameras that were playing at the last exit
  std::int32_t PreMotion = 0;     // seconds a motion recording begins before the motion, 0 to 30
  std::string MotionPath;         // folder of motion recordings
  std::string RecordPath;         // folder of manual and schedule recordings
  std::string SnapshotPath;       // folder of snapshots

  // Not keys of the file.
  std::string program_folder;  // folder that holds "param.dat"
  std::string program_file;    // file name of the program, for the autostart entry
  std::string camera_text;     // the CamInfo value being built or parsed
  std::string schedule_text;   // the CamSchedule value being built or parsed
};

}  // namespace config
