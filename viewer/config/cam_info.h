// The two camera values of "param.dat": `CamInfo` (one record per listed
// camera) and `CamSchedule` (each camera's schedule entries).
//
// CamInfo record: 7 text fields and 36 integers separated by "|", terminated
// by "\". The format has no escape of its own, and the key-value reader cuts a
// line at "//", so a text field holding "|", "\" or "//" would split or drop
// this record and every later one. The camera model refuses those characters
// when a camera is added or changed; for a value that still holds one of them
// the writer uses this rule:
//
//   A record whose text fields need protection gets a 44th field, "1", after
//   the sensitivity, and then each of its seven text fields is percent-encoded:
//   "%" "|" "\" "/" CR LF NUL and 0xFF are written as "%" and two upper-case
//   hexadecimal digits. The reader decodes the text fields only of records
//   that carry the 44th field with the value 1.
//
// Files written before this rule never have a 44th field, so they load exactly
// as before (a "%" in an old password stays a "%"), and a program that knows
// only 43 fields skips the extra one and still sees every record intact.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace config {

inline constexpr int kZoneValues = 25;
inline constexpr int kMaxScheduleEntries = 10;

// One camera as stored in the file, field by field. Integers hold what the
// file says; the camera model decides what it accepts.
struct CamInfo {
  std::string name;                                   // 1
  std::string address;                                // 2
  std::string port;                                   // 3
  std::string mac;                                    // 4
  std::string description;                            // 5
  std::string user;                                   // 6
  std::string password;                               // 7
  std::int32_t connected = 0;                         // 8
  std::int32_t channel = 0;                           // 9
  std::int32_t location = 0;                          // 10: 0 "LAN", 1 "INT"
  std::int32_t recording = 0;                         // 11
  std::int32_t motion_recording = 0;                  // 12
  std::int32_t connection_state = 0;                  // 13: 0 paused, 1 playing, 4 refused
  std::int32_t reserved = 0;                          // 14
  std::int32_t muted = 0;                             // 15
  std::int32_t volume = 0;                            // 16: hundredths of a dB, -3000 to 0
  std::array<std::int32_t, kZoneValues> zone_mask{};  // 17-41
  std::int32_t zone_layout = 0;                       // 42: 1 = 4x4, 2 = 5x5, else 3x3
  std::int32_t sensitivity = 3;                       // 43: 1 to 5

  bool operator==(const CamInfo&) const = default;
};

// The four stored values of one schedule entry, in file order.
struct ScheduleValues {
  std::int32_t kind = 0;      // 0 schedule recording window, 1 motion-detection window
  std::int32_t day = 0;       // frequency code, or YYYYMMDD for a one-time entry
  std::int32_t start = 0;     // hhmm
  std::int32_t duration = 0;  // minutes

  bool operator==(const ScheduleValues&) const = default;
};

// One camera's schedule record.
struct CamScheduleRecord {
  std::string mac;
  std::int32_t location = 0;
  std::vector<ScheduleValues> entries;

  bool operator==(const CamScheduleRecord&) const = default;
};

// True when the schedule dialogs could have made this entry: kind 0 or 1; a
// frequency code 1 to 10 or a real date YYYYMMDD; a start hhmm within the
// day; a duration of 1 to 1,440 minutes. Pure.
[[nodiscard]] bool schedule_entry_possible(const ScheduleValues& entry);

// Number of zones that a zone layout uses (9, 16 or 25).
[[nodiscard]] int zone_count_for_layout(std::int32_t zone_layout);

// Builds the CamInfo value: every record in order, each terminated by "\".
// Zone values beyond the layout's zone count are written as 0. Pure.
[[nodiscard]] std::string build_camera_text(const std::vector<CamInfo>& cameras);

// Parses the CamInfo value. Records are taken up to each "\"; a trailing
// record without its terminator is ignored. Missing or non-numeric integers
// keep the defaults of CamInfo. Recording flags and connection states are
// returned as stored: the loader applies its own rules. Pure.
[[nodiscard]] std::vector<CamInfo> parse_camera_text(std::string_view text);

// Builds the CamSchedule value: "%s%d|%d" (MAC, location, count), then "|" and
// the four values of each entry, then "\". Pure.
[[nodiscard]] std::string build_schedule_text(const std::vector<CamScheduleRecord>& records);

// Parses the CamSchedule value. A record whose count is not followed by "|"
// holds no entries and is left out, as is a record whose key does not end
// with a location digit. Only complete entries (four numbers) are returned,
// at most `count` of them. Pure.
[[nodiscard]] std::vector<CamScheduleRecord> parse_schedule_text(std::string_view text);

// True when a text would not survive the file as it stands ("|", "\", "//",
// line breaks, NUL or 0xFF).
[[nodiscard]] bool text_needs_protection(std::string_view text);

// The percent-encoding of the rule above, and its inverse (a "%" not followed
// by two hexadecimal digits is kept as it is).
[[nodiscard]] std::string protect_text(std::string_view text);
[[nodiscard]] std::string unprotect_text(std::string_view text);

}  // namespace config
