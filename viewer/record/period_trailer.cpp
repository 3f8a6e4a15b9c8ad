#include "viewer/record/period_trailer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace record {

std::string period_text(const LocalTime& s, const LocalTime& e) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "KS%04d/%02d/%02d   %02d:%02d,%04d/%02d/%02d   %02d:%02d", s.year, s.month, s.day,
                s.hour, s.minute, e.year, e.month, e.day, e.hour, e.minute);
  return buf;
}

int period_count(std::int64_t start_seconds, std::int64_t end_seconds) {
  const std::int64_t span = end_seconds - start_seconds;
  if (span <= 60) return 1;
  const std::int64_t count = span / 50;
  return count > 0x7fffffff ? 0x7fffffff : static_cast<int>(count);
}

bool make_period_trailer(std::string_view period, std::uint8_t out[kPeriodTrailerSize]) {
  if (period.size() + 1 > kPeriodTrailerSize || period.substr(0, 2) != "KS") return false;
  std::memset(out, 0, kPeriodTrailerSize);
  std::memcpy(out, period.data(), period.size());
  out[period.size()] = ',';
  return true;
}

void parse_period_trailer(const std::uint8_t* last50, std::size_t size, std::string* start, std::string* end) {
  start->clear();
  end->clear();
  if (last50 == nullptr || size < kPeriodTrailerSize) return;
  // The text ends at the first zero byte, if any; commas split it.
  std::size_t n = 0;
  while (n < kPeriodTrailerSize && last50[n] != 0) ++n;
  const std::string_view text(reinterpret_cast<const char*>(last50), n);
  const std::size_t comma = text.find(',');
  const std::string_view first = text.substr(0, comma);
  if (first.size() < 2 || first.substr(0, 2) != "KS") return;
  *start = std::string(first.substr(2));
  if (comma == std::string_view::npos) return;
  std::string_view rest = text.substr(comma + 1);
  *end = std::string(rest.substr(0, rest.find(',')));
}

void read_period_trailer(const std::string& path, std::string* start, std::string* end) {
  start->clear();
  end->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  std::uint8_t buf[kPeriodTrailerSize];
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(kPeriodTrailerSize) &&
      ::pread(fd, buf, sizeof buf, st.st_size - static_cast<off_t>(kPeriodTrailerSize)) ==
          static_cast<ssize_t>(sizeof buf)) {
    parse_period_trailer(buf, sizeof buf, start, end);
  }
  ::close(fd);
}

bool is_period_trailer(const std::uint8_t* last50, std::size_t size) {
  std::string start, end;
  parse_period_trailer(last50, size, &start, &end);
  // "YYYY/MM/DD   hh:mm" is 18 characters.
  return start.size() == 18 && end.size() == 18;
}

}  // namespace record
