// The recording period of a finished file, as text, and the 50-byte trailer
// in which the analysis tool stores it at the end of the file so that the
// saved-files browser can list start and end without parsing the ASF.
//
// Trailer: "KS", the start "YYYY/MM/DD   hh:mm", a comma, the end in the same
// form, one more comma, then zero bytes up to 50 bytes. The closing comma
// lets a reader that splits the 50 bytes at commas take the end text without
// the padding; a reader that stops at the first zero byte sees the same text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "viewer/record/clock.h"

namespace record {

inline constexpr std::size_t kPeriodTrailerSize = 50;

// "KS2005/04/12   15:30,2005/04/12   16:30" (minutes, no seconds).
std::string period_text(const LocalTime& start, const LocalTime& end);

// The number passed to the analysis tool with a period: one per 50 seconds of
// recording, at least 1 (recordings of a minute or less count 1).
int period_count(std::int64_t start_seconds, std::int64_t end_seconds);

// Builds the 50-byte trailer for a period text; false when the text does not
// fit (it then is not a period this system wrote).
[[nodiscard]] bool make_period_trailer(std::string_view period, std::uint8_t out[kPeriodTrailerSize]);

// Splits the last 50 bytes of a file into start and end texts. Both are empty
// unless the first comma-separated piece starts with "KS".
void parse_period_trailer(const std::uint8_t* last50, std::size_t size, std::string* start, std::string* end);

// Reads the trailer of a file; both texts empty when the file cannot be read,
// is shorter than 50 bytes or has no trailer.
void read_period_trailer(const std::string& path, std::string* start, std::string* end);

// True when the 50 bytes look like a trailer this system wrote (used by the
// analysis tool so that running it twice appends only once).
[[nodiscard]] bool is_period_trailer(const std::uint8_t* last50, std::size_t size);

}  // namespace record
