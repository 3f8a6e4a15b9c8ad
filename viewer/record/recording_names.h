// Folder layout and names of recordings and snapshots. Every file is named
// from the local time at which it is created, so a name carries its start:
// recordings end in the 19 characters "YYYYMMDD_hhmmss.asf", which the writer
// reads back when the file is finished, and manual recordings start with the
// six characters "LAN_R_" or "INT_R_".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "viewer/record/clock.h"

namespace record {

// "LAN" for a camera on the local network (location 0), "INT" otherwise.
const char* location_prefix(int location);

// The folder name of a camera's MAC: the MAC itself when it holds only
// letters and digits (always so for 12 hexadecimal digits); otherwise every
// other byte is written "%" and two hexadecimal digits, so that a MAC a
// camera of the settings file holds ("00-0E-53-..", "../x") can neither
// leave the root folder nor break the name. An empty MAC gives "_".
std::string mac_folder_name(std::string_view mac);

// Root folder + the camera's MAC folder name: the one folder per camera.
std::string camera_directory(const std::string& root, const std::string& mac);

// "LAN_R_20050412_153007.asf": a manual recording started at t.
std::string manual_file_name(int location, const LocalTime& t);
// "LAN_20050412_153007.asf": a schedule or motion recording started at t.
std::string schedule_file_name(int location, const LocalTime& t);
// "2005_0412_153007.jpg": a snapshot taken at t.
std::string snapshot_file_name(const LocalTime& t);

// "20050412153007.asf": the stamp kept with a manual recording.
std::string stamp_text(const LocalTime& t);

// Reads the first 14 digits of a stamp (year, month, day, hour, minute,
// second). False when they are not 14 digits or not a plausible time.
[[nodiscard]] bool parse_stamp(std::string_view stamp, LocalTime* out);

// Reads the start time from the last 19 characters of a recording's path
// ("YYYYMMDD_hhmmss.asf"). False when the path does not end that way.
[[nodiscard]] bool parse_name_time(std::string_view path, LocalTime* out);

// The stamp of a manual file name: the part after the last '/' and the
// six-character lead, without the '_' between date and time, 14 digits.
// Empty when the name is not a manual recording's name.
std::string stamp_from_manual_name(std::string_view path);

}  // namespace record
