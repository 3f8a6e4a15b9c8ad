#include "viewer/config/cam_info.h"

#include "viewer/config/key_value_reader.h"

namespace config {
namespace {

constexpr char kFieldSeparator = '|';
constexpr char kRecordTerminator = '\\';
constexpr int kTextFields = 7;
constexpr int kIntegerFields = 36;
// Value of the 44th field that marks percent-encoded text fields.
constexpr std::int32_t kProtectedTextMarker = 1;

bool must_encode(unsigned char c) {
  return c == '%' || c == '|' || c == '\\' || c == '/' || c == '\r' || c == '\n' || c == 0 || c == 0xFF;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_int(std::string& out, std::int32_t v) { out += std::to_string(v); }

// Cuts the text before the next separator off `rest`. Without a separator the
// whole rest is the field and nothing remains.
std::string_view take_field(std::string_view& rest) {
  std::size_t bar = rest.find(kFieldSeparator);
  std::string_view field = rest.substr(0, bar);
  rest = bar == std::string_view::npos ? std::string_view{} : rest.substr(bar + 1);
  return field;
}

// Scans "n|n|...|n" like a formatted scan would: stops at the first value
// that is not a number or is not followed by a separator. Returns how many
// values were stored.
int scan_int_list(std::string_view text, std::int32_t* const* targets, int count) {
  std::size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != kFieldSeparator) return i;
      ++pos;
    }
    std::size_t used = scan_int(text.substr(pos), targets[i]);
    if (used == 0) return i;
    pos += used;
  }
  return count;
}

CamInfo parse_record(std::string_view record) {
  CamInfo info;
  std::string* texts[kTextFields] = {&info.name,        &info.address, &info.port,    &info.mac,
                                     &info.description, &info.user,    &info.password};
  std::string_view rest = record;
  for (std::string* t : texts) *t = std::string(take_field(rest));

  std::int32_t marker = 0;
  std::int32_t* ints[kIntegerFields + 1] = {
      &info.connected,        &info.channel,  &info.location, &info.recording, &info.motion_recording,
      &info.connection_state, &info.reserved, &info.muted,    &info.volume};
  for (int z = 0; z < kZoneValues; ++z) ints[9 + z] = &info.zone_mask[z];
  ints[9 + kZoneValues] = &info.zone_layout;
  ints[10 + kZoneValues] = &info.sensitivity;
  ints[kIntegerFields] = &marker;
  (void)scan_int_list(rest, ints, kIntegerFields + 1);

  if (marker == kProtectedTextMarker) {
    for (std::string* t : texts) *t = unprotect_text(*t);
  }
  return info;
}

}  // namespace

bool schedule_entry_possible(const ScheduleValues& e) {
  if (e.kind != 0 && e.kind != 1) return false;
  if (e.start < 0 || e.start / 100 > 23 || e.start % 100 > 59) return false;
  if (e.duration < 1 || e.duration > 24 * 60) return false;
  if (e.day >= 1 && e.day <= 10) return true;
  // A one-time entry: the date the dialog's calendar gave.
  const int year = e.day / 10000, month = e.day / 100 % 100, day = e.day % 100;
  if (year < 1000 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int zone_count_for_layout(std::int32_t zone_layout) {
  if (zone_layout == 1) return 16;
  if (zone_layout == 2) return 25;
  return 9;
}

bool text_needs_protection(std::string_view text) {
  if (text.find("//") != std::string_view::npos) return true;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '|' || b == '\\' || b == '\r' || b == '\n' || b == 0 || b == 0xFF) return true;
  }
  return false;
}

std::string protect_text(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (must_encode(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string unprotect_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string build_camera_text(const std::vector<CamInfo>& cameras) {
  std::string out;
  for (const CamInfo& c : cameras) {
    const std::string* texts[kTextFields] = {&c.name,        &c.address, &c.port,    &c.mac,
                                             &c.description, &c.user,    &c.password};
    bool protect = false;
    for (const std::string* t : texts) protect = protect || text_needs_protection(*t);
    for (const std::string* t : texts) {
      out += protect ? protect_text(*t) : *t;
      out += kFieldSeparator;
    }
    const std::int32_t head[] = {c.connected,        c.channel,  c.location, c.recording, c.motion_recording,
                                 c.connection_state, c.reserved, c.muted,    c.volume};
    for (std::int32_t v : head) {
      append_int(out, v);
      out += kFieldSeparator;
    }
    const int zones = zone_count_for_layout(c.zone_layout);
    for (int z = 0; z < kZoneValues; ++z) {
      append_int(out, z < zones ? c.zone_mask[z] : 0);
      out += kFieldSeparator;
    }
    append_int(out, c.zone_layout);
    out += kFieldSeparator;
    append_int(out, c.sensitivity);
    if (protect) {
      out += kFieldSeparator;
      append_int(out, kProtectedTextMarker);
    }
    out += kRecordTerminator;
  }
  return out;
}

std::vector<CamInfo> parse_camera_text(std::string_view text) {
  std::vector<CamInfo> cameras;
  for (std::size_t end = text.find(kRecordTerminator); end != std::string_view::npos;
       end = text.find(kRecordTerminator)) {
    cameras.push_back(parse_record(text.substr(0, end)));
    text.remove_prefix(end + 1);
  }
  return cameras;
}

std::string build_schedule_text(const std::vector<CamScheduleRecord>& records) {
  std::string out;
  for (const CamScheduleRecord& r : records) {
    // A valid MAC is 12 hexadecimal digits and passes unchanged; anything else
    // is encoded so that it cannot break the record structure (the reader
    // decodes a key that holds "%").
    const bool protect = text_needs_protection(r.mac) || r.mac.find('%') != std::string::npos;
    out += protect ? protect_text(r.mac) : r.mac;
    append_int(out, r.location);
    out += kFieldSeparator;
    append_int(out, static_cast<std::int32_t>(r.entries.size()));
    for (const ScheduleValues& e : r.entries) {
      for (std::int32_t v : {e.kind, e.day, e.start, e.duration}) {
        out += kFieldSeparator;
        append_int(out, v);
      }
    }
    out += kRecordTerminator;
  }
  return out;
}

std::vector<CamScheduleRecord> parse_schedule_text(std::string_view text) {
  std::vector<CamScheduleRecord> records;
  for (std::size_t end = text.find(kRecordTerminator); end != std::string_view::npos;
       end = text.find(kRecordTerminator)) {
    std::string_view rest = text.substr(0, end);
    text.remove_prefix(end + 1);

    std::string_view key = take_field(rest);
    if (key.empty() || key.back() < '0' || key.back() > '9') continue;
    CamScheduleRecord record;
    record.location = key.back() - '0';
    record.mac = key.find('%') == std::string_view::npos ? std::string(key.substr(0, key.size() - 1))
                                                         : unprotect_text(key.substr(0, key.size() - 1));

    std::int32_t count = 0;
    std::size_t used = scan_int(rest, &count);
    if (used == 0 || used >= rest.size() || rest[used] != kFieldSeparator) continue;
    rest.remove_prefix(used + 1);

    for (std::int32_t i = 0; i < count; ++i) {
      ScheduleValues e;
      std::int32_t* targets[4] = {&e.kind, &e.day, &e.start, &e.duration};
      if (scan_int_list(rest, targets, 4) < 4) break;
      record.entries.push_back(e);
      for (int f = 0; f < 4 && !rest.empty(); ++f) (void)take_field(rest);
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace config
