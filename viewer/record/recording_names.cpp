#include "viewer/record/recording_names.h"

#include <cstdio>

#include "viewer/record/file_system.h"

namespace record {

namespace {

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

int number(std::string_view digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

bool plausible(const LocalTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 && t.minute <= 59 && t.second <= 60;
}

// Fixed-width decimal, as %0Nd does for non-negative values.
std::string padded(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

std::string date_time(const LocalTime& t, const char* between) {
  return padded(t.year, 4) + padded(t.month, 2) + padded(t.day, 2) + between + padded(t.hour, 2) + padded(t.minute, 2) +
         padded(t.second, 2);
}

}  // namespace

const char* location_prefix(int location) { return location == 0 ? "LAN" : "INT"; }

std::string mac_folder_name(std::string_view mac) {
  // An empty MAC would name the root folder itself; "_" cannot come out of
  // the encoding below, so it names nothing else.
  if (mac.empty()) return "_";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(mac.size());
  for (char c : mac) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}

std::string camera_directory(const std::string& root, const std::string& mac) {
  return join_path(root, mac_folder_name(mac));
}

std::string manual_file_name(int location, const LocalTime& t) {
  return std::string(location_prefix(location)) + "_R_" + date_time(t, "_") + ".asf";
}

std::string schedule_file_name(int location, const LocalTime& t) {
  return std::string(location_prefix(location)) + "_" + date_time(t, "_") + ".asf";
}

std::string snapshot_file_name(const LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d_%02d%02d_%02d%02d%02d.jpg", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

std::string stamp_text(const LocalTime& t) { return date_time(t, "") + ".asf"; }

bool parse_stamp(std::string_view stamp, LocalTime* out) {
  if (stamp.size() < 14 || !all_digits(stamp.substr(0, 14))) return false;
  LocalTime t;
  t.year = number(stamp.substr(0, 4));
  t.month = number(stamp.substr(4, 2));
  t.day = number(stamp.substr(6, 2));
  t.hour = number(stamp.substr(8, 2));
  t.minute = number(stamp.substr(10, 2));
  t.second = number(stamp.substr(12, 2));
  if (!plausible(t)) return false;
  *out = t;
  return true;
}

bool parse_name_time(std::string_view path, LocalTime* out) {
  if (path.size() < 19) return false;
  const std::string_view tail = path.substr(path.size() - 19);
  if (tail[8] != '_' || tail.substr(15) != ".asf") return false;
  const std::string digits = std::string(tail.substr(0, 8)) + std::string(tail.substr(9, 6));
  return parse_stamp(digits, out);
}

std::string stamp_from_manual_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.size() < 6 + 15 || name.substr(3, 3) != "_R_") return {};
  name.remove_prefix(6);
  std::string digits;
  for (char c : name) {
    if (c == '_') continue;
    digits += c;
    if (digits.size() == 14) break;
  }
  LocalTime t;
  return parse_stamp(digits, &t) ? digits : std::string();
}

}  // namespace record
