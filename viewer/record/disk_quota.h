// The disk quota of a camera's recording folders. With the limit on, the
// camera's folder is measured before a file is opened and on every pass while
// one is open; at the quota a recording either stops or makes room by
// deleting the folder's oldest files, a little over 3,000,000 bytes at a
// time, never the file being written.
//
// Recordings land in two folders per camera: RecordPath/MAC (schedule and
// manual recordings, quota MaxInsSpace) and MotionPath/MAC (motion
// recordings, quota MaxMotSpace). Each is measured and reclaimed on its own,
// so making room always lowers the size that is measured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/record/clock.h"
#include "viewer/record/file_system.h"
#include "viewer/record/recording_camera.h"

namespace record {

enum QuotaResult : int {
  kQuotaOk = 0,           // go on recording
  kQuotaFull = 1,         // full: the recording must stop
  kQuotaOnlyCurrent = 2,  // over, and the only file left is the one being written
  kQuotaNoValue = 3,      // the limit is on without a quota above 0 MB: stop, as if full, and delete nothing
};

// What the user is told for kQuotaNoValue, naming the missing value (caption
// "warning").
inline constexpr const char* kMsgNoRecordQuota =
    "The disk limit is on, but no space above 0 MB is set for manual and schedule recordings (MaxInsSpace): "
    "recording stopped, and no file was deleted.";
inline constexpr const char* kMsgNoMotionQuota =
    "The disk limit is on, but no space above 0 MB is set for motion recordings (MaxMotSpace): recording "
    "stopped, and no file was deleted.";

// One reclaim frees more than this many bytes before it stops.
inline constexpr std::uint64_t kReclaimStepBytes = 3000000;

enum class RecordFolder { Record, Motion };

class DiskQuota {
 public:
  DiskQuota(FileSystem& fs, Clock& clock) : fs_(fs), clock_(clock) {}

  // The quota check for the folder a recording of this kind goes to. Record:
  // the schedule or manual writer's file is the current one; Motion: the
  // motion writer's. With the limit on, a quota that is not a positive number
  // gives kQuotaNoValue: "Overwrite oldest file." would otherwise make a
  // missing value delete every recording of the camera. Recording thread;
  // the caller holds the camera's lock.
  [[nodiscard]] int check(const RecordingSettings& settings, RecordingCamera& camera, RecordFolder folder);

  // Deletes the oldest files of a folder (by the time in their name, else by
  // modification time) until more than kReclaimStepBytes are freed, keeping
  // current_path. Returns 2 when the only file is current_path, 1 when
  // nothing could be freed, 0 otherwise.
  [[nodiscard]] int reclaim(const std::string& directory, const std::string& current_path);

  // Bytes held by the files of a folder (sub-folders not counted); 0 when it
  // cannot be listed.
  std::uint64_t folder_bytes(const std::string& directory);

 private:
  FileSystem& fs_;
  Clock& clock_;
  std::vector<DirEntry> entries_;  // reused listing

  struct Candidate {
    std::string key;  // "YYYYMMDDhhmmss" of the recording's start
    std::int64_t mtime_ms;
    std::size_t index;
  };
  std::vector<Candidate> order_;
};

}  // namespace record
