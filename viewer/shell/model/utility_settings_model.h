// What the utility settings dialog does, without the dialog: the three
// folders, the two recording lengths, the disk quota with its enable rule
// and its motion-field rule, the two start options, and Save, Cancel and
// close with their checks and what each keeps.
//
// The dialog shows the model's values, hands every edit to it and shows the
// values again (a rule may change another field). Save and cancel() write
// into the settings record; the main window then hands the settings to the
// recording loops and writes "param.dat". User-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "viewer/config/settings.h"

namespace model {

// An entry of a length list: its text and the minutes it stands for.
struct LengthChoice {
  const char* text;
  int minutes;
};
inline constexpr std::array<LengthChoice, 6> kMotionLengths = {
    {{"1 min", 1}, {"5 min", 5}, {"10 min", 10}, {"20 min", 20}, {"30 min", 30}, {"60 min", 60}}};
inline constexpr std::array<LengthChoice, 11> kManualLengths = {{{"1 min", 1},
                                                                 {"5 min", 5},
                                                                 {"10 min", 10},
                                                                 {"15 min", 15},
                                                                 {"30 min", 30},
                                                                 {"45 min", 45},
                                                                 {"1 hrs", 60},
                                                                 {"2 hrs", 120},
                                                                 {"4 hrs", 240},
                                                                 {"16 hrs", 960},
                                                                 {"24 hrs", 1440}}};

inline constexpr const char* kOverwriteOldest = "Overwrite oldest file.";
inline constexpr const char* kStopRecording = "Stop recording.";

// Messages (caption "Warning").
inline constexpr const char* kCaptionUtility = "Warning";
inline constexpr const char* kMsgValueOverZero = "The value must over than 0!";
inline constexpr const char* kMsgNotEnoughSpace = "free space is not enough!";
inline constexpr const char* kMsgMotionOverMax = "The motion space exceed max limit!";
inline constexpr const char* kMsgFolderMissing = "Please choose a folder for each kind of file!";
inline constexpr const char* kMsgFoldersSame = "The three folders must be different!";
inline constexpr const char* kMsgFolderNotWritable = "Can't write to the folder: ";

// Size of a file system in MB of 1,000,000 bytes, as the quota counts.
struct DiskSpace {
  std::int64_t total_mb = 0;
  std::int64_t available_mb = 0;  // what an ordinary user may still write
};
// The file system holding path (or, for a folder not made yet, its nearest
// existing parent); zeros when it cannot be told.
[[nodiscard]] DiskSpace measure_disk(const std::string& path);
using DiskMeasure = std::function<DiskSpace(const std::string& path)>;

// "%d MB".
[[nodiscard]] std::string megabytes_text(std::int64_t mb);

// A number field's value: a whole decimal number (digits only, surrounding
// blanks allowed); -1 for anything else (empty, signs, letters). Large
// values saturate at INT32_MAX.
[[nodiscard]] std::int64_t whole_number(const std::string& text);

// Why a set of three folders cannot be used, or nullptr when they can: each
// must be named (absolute), all three different, and each an existing
// folder we may write in or one that can be made in such a folder.
[[nodiscard]] const char* folders_problem(const std::string& record, const std::string& motion,
                                          const std::string& snapshot, std::string* which);

class UtilitySettingsModel {
 public:
  explicit UtilitySettingsModel(const config::Settings& settings, DiskMeasure measure = measure_disk);

  // --- folders ---
  std::string record_path, motion_path, snapshot_path;
  // The recording folder changed: the disk is measured again there.
  void set_record_path(const std::string& path);

  // --- recording lengths: the selected entry (-1: none matches) ---
  int motion_index() const { return motion_selected_; }
  int manual_index() const { return manual_selected_; }
  void choose_motion(int index);
  void choose_manual(int index);
  int motion_minutes() const { return motion_choice_; }
  int manual_minutes() const { return manual_choice_; }

  // --- disk allocation ---
  const DiskSpace& disk() const { return disk_; }
  bool disk_limit() const { return disk_limit_; }
  // The check box was clicked: the maximum and motion fields and the radio
  // buttons are enabled exactly when the limit is on; turned on, they show
  // the settings' values again.
  void set_disk_limit(bool on);
  bool quota_fields_enabled() const { return disk_limit_; }
  std::string max_text, motion_text, instant_text;
  // The motion field changed: at most the maximum; instant = max - motion.
  void set_motion_text(const std::string& text);
  // The maximum field changed: instant follows it.
  void set_max_text(const std::string& text);
  bool write_stop = false;  // "Stop recording." checked, else "Overwrite oldest file."

  // --- start ---
  bool auto_run = false;
  bool auto_play = false;

  // Save: checks the quota fields (when the limit is on) and the folders;
  // on a problem tells it and returns false with nothing stored. Otherwise
  // stores everything (as cancel() does, plus the quota and start options)
  // and returns true.
  bool save(config::Settings& settings);
  // Cancel and the close button: the lengths are kept; the folders too when
  // they can be used (else the settings keep theirs); the quota and the
  // start options are dropped.
  void cancel(config::Settings& settings);

 private:
  void fill_quota_fields();
  void store_folders_and_lengths(config::Settings& settings);

  config::Settings original_;
  DiskMeasure measure_;
  DiskSpace disk_;
  int motion_choice_ = 1;
  int manual_choice_ = 1;
  int motion_selected_ = -1;
  int manual_selected_ = -1;
  bool disk_limit_ = false;
};

}  // namespace model
