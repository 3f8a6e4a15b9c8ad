// Snapshots: the picture a camera currently shows, at its full decoded size,
// saved as a baseline JFIF file in SnapshotPath/MAC under a name made from
// the local time ("2005_0412_153007.jpg"), followed by a short shutter sound.
// There is no message, on success or failure; a second snapshot within the
// same second replaces the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/record/recording_camera.h"

namespace record {

// Where the picture comes from: the camera's video pipeline, which copies its
// current RGB picture under its own lock so that the decode thread cannot
// rewrite it half-way through the copy.
class SnapshotSource {
 public:
  virtual ~SnapshotSource() = default;
  // Copies the current picture into out (resized to 3 * width * height):
  // 24-bit rows of blue, green, red bytes, bottom row first. False when the
  // camera has no picture (its stream was stopped).
  virtual bool copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) = 0;
};

// Plays a sound without waiting for it. Bound to the sound output of the
// user interface; the data outlives the call.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void play_async(const std::uint8_t* wav, std::size_t size) = 0;
};

// Our shutter sound: a RIFF/WAVE file, 8 kHz mono 16-bit PCM, two short
// clicks followed by silence (players that drop a short sound's tail then
// still play the clicks).
const std::vector<std::uint8_t>& snapshot_sound_wav();

// Compresses a 24-bit bottom-up BGR picture to baseline JFIF at quality
// (clamped to 1..100 as libjpeg does). Returns 1, or 0 on a bad size or a
// libjpeg error. out is reused.
[[nodiscard]] int encode_jpeg(const std::uint8_t* bgr_bottom_up, int width, int height, int quality,
                              std::vector<std::uint8_t>& out);

enum SnapshotResult : int {
  kSnapshotNone = 0,     // no picture: nothing happened, no sound
  kSnapshotSaved = 1,    // file written, sound played
  kSnapshotFailed = -1,  // nothing written (folder or file could not be made); sound played
};

class Snapshotter {
 public:
  Snapshotter(RecordingEnv env, SoundPlayer* sound) : env_(env), sound_(sound) {}

  // Takes a snapshot of the camera with this MAC. User-interface thread.
  [[nodiscard]] int take(const std::string& mac, SnapshotSource& source, const RecordingSettings& settings);

  // Path of the last file written (tests, status text).
  const std::string& last_path() const { return last_path_; }

 private:
  RecordingEnv env_;
  SoundPlayer* sound_;
  std::vector<std::uint8_t> picture_;
  std::vector<std::uint8_t> jpeg_;
  std::string last_path_;
};

}  // namespace record
