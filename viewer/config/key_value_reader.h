// Reading "param.dat": a line-oriented key=value text that users may also edit
// by hand, so the reader is forgiving and never trusts the file's contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace config {

// The largest file the reader looks at. A settings file of 128 cameras with
// ten schedules each stays far below this; anything beyond is ignored rather
// than read into memory.
inline constexpr std::size_t kMaxSettingsFileBytes = 16u * 1024u * 1024u;

using KeyValueMap = std::map<std::string, std::string, std::less<>>;

// Splits raw file bytes into the key-value map:
//  - a carriage return is skipped; a line feed, a 0xFF byte and the end of the
//    bytes end a line;
//  - from the first "//" on, the rest of a line is a comment;
//  - the text before the first "=" is the key, the text after it the value,
//    both untrimmed; lines without "=" are ignored;
//  - when a key occurs twice, the first occurrence wins.
// Pure; any thread.
[[nodiscard]] KeyValueMap parse_key_values(std::string_view bytes);

// Reads the file at path and parses it as above. Returns nothing when the
// file cannot be opened (an empty file gives an empty map). Any thread.
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
