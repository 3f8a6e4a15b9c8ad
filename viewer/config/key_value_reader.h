// Reading "param.dat": a line-oriented key=value text that users may also edit
// by hand, so the reader is forgiving and never trusts the file's contents.
//
// The file is read as a stream: a file of any length is read whole, and only
// what the settings keep (the first value of each key) is held in memory.
// Comments, repeated keys and lines that hold no key are passed over without
// being stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace config {

// A line whose "=" comes later than this is not a key line (no key is that
// long), so such a line is skipped instead of being held in memory.
inline constexpr std::size_t kMaxKeyBytes = 4096;
// The largest single value kept. A settings file of 128 cameras with ten
// schedules each stays far below this; a file with a larger value counts as
// one that cannot be read whole.
inline constexpr std::size_t kMaxValueBytes = 64u * 1024u * 1024u;
// The lines in which a settings file shows what it is (see KeyValueParser).
inline constexpr std::size_t kHeadLines = 64;

using KeyValueMap = std::map<std::string, std::string, std::less<>>;

// Splits bytes into key-value pairs, fed in pieces of any size:
//  - a carriage return is skipped; a line feed, a 0xFF byte and the end of the
//    bytes end a line;
//  - from the first "//" on, the rest of a line is a comment;
//  - the text before the first "=" is the key, the text after it the value,
//    both untrimmed; lines without "=" are ignored;
//  - when a key occurs twice, the first occurrence wins.
// Any thread; one parser per input.
class KeyValueParser {
 public:
  void feed(std::string_view bytes);
  // Ends the last line (a last line without a line feed still counts).
  void finish();

  const KeyValueMap& map() const { return map_; }
  KeyValueMap take_map() { return std::move(map_); }
  // Every key with its value, in the order of first appearance.
  std::vector<std::pair<std::string, std::string>> entries() const;
  // The keys found in the first kHeadLines lines, in order.
  const std::vector<std::string>& head_keys() const { return head_keys_; }
  // A NUL byte was seen in the first kHeadLines lines: not a text file.
  bool head_has_nul() const { return head_nul_; }
  // Nothing but spaces, tabs and line breaks so far.
  bool blank() const { return blank_; }
  // A value longer than kMaxValueBytes was met (and not kept).
  bool value_too_large() const { return too_large_; }

 private:
  void end_line();

  KeyValueMap map_;
  std::vector<std::string> order_;
  std::vector<std::string> head_keys_;
  std::string line_;
  std::size_t key_end_ = 0;  // length of the key within line_, once "=" was seen
  bool have_key_ = false;
  bool skipping_ = false;  // the rest of the line is not kept
  std::size_t lines_ = 0;
  bool head_nul_ = false;
  bool blank_ = true;
  bool too_large_ = false;
};

// Splits raw file bytes into the key-value map as above. Pure; any thread.
[[nodiscard]] KeyValueMap parse_key_values(std::string_view bytes);

// What reading the settings file found.
struct SettingsFileRead {
  enum class Status {
    Missing,     // there is no such file
    Read,        // read to its end
    Unreadable,  // it exists but could not be opened or read whole
  };
  Status status = Status::Missing;
  KeyValueMap map;
  std::vector<std::pair<std::string, std::string>> entries;  // in file order
  std::vector<std::string> head_keys;
  bool head_has_nul = false;
  bool blank = true;
  std::string error;  // why it was unreadable
};

// Reads the file at path through a KeyValueParser. Any thread.
[[nodiscard]] SettingsFileRead read_settings_file(const std::string& path);

// Reads the file at path and parses it as above. Returns nothing when the
// file cannot be read whole (an empty file gives an empty map). Any thread.
[[nodiscard]] std::optional<KeyValueMap> read_key_values(const std::string& path);

// The decimal scan used for every number in the file: optional leading white
// space, an optional sign, then digits; text after the digits is ignored.
// Stores the value (saturated to the 32-bit range) in *out and returns the
// number of characters consumed, or 0 (leaving *out alone) when the text does
// not start with a number.
[[nodiscard]] std::size_t scan_int(std::string_view text, std::int32_t* out);

// Looks key up and scans its value; keeps *out when the key is missing or its
// value is not a number.
void lookup_int(const KeyValueMap& map, std::string_view key, std::int32_t* out);

// Returns the value of key, or nothing.
[[nodiscard]] std::optional<std::string> lookup_text(const KeyValueMap& map, std::string_view key);

}  // namespace config
