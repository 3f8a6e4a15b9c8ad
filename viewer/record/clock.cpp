#include "viewer/record/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace record {

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

// Howard Hinnant's days-from-civil: exact for the proleptic Gregorian calendar
// over any range we meet, and free of time-zone state.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = floor_div(year, 400);
  const std::int64_t yoe = year - era * 400;
  const std::int64_t mp = (month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = floor_div(days, 146097);
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = m;
  *day = d;
}

// ---- system clock ----

std::int64_t SystemClock::now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LocalTime SystemClock::local(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  LocalTime out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  out.weekday = tm.tm_wday;
  return out;
}

std::int64_t SystemClock::seconds_from_local(const LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;  // let the zone rules decide, as local stamps carry no offset
  return static_cast<std::int64_t>(mktime(&tm));
}

void SystemClock::sleep_ms(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

// ---- simulated clock ----

LocalTime SimulatedClock::local(std::int64_t seconds) {
  const std::int64_t days = floor_div(seconds, 86400);
  const std::int64_t rest = seconds - days * 86400;
  LocalTime out;
  civil_from_days(days, &out.year, &out.month, &out.day);
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  // 1970-01-01 was a Thursday.
  out.weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);
  return out;
}

std::int64_t SimulatedClock::seconds_from_local(const LocalTime& t) {
  // Carry months into years first; days, hours, minutes and seconds carry by
  // plain arithmetic on the day count.
  std::int64_t month0 = t.month - 1;
  std::int64_t year = t.year + floor_div(month0, 12);
  month0 -= floor_div(month0, 12) * 12;
  const std::int64_t days = days_from_civil(year, static_cast<int>(month0 + 1), 1) + (t.day - 1);
  return days * 86400 + static_cast<std::int64_t>(t.hour) * 3600 + static_cast<std::int64_t>(t.minute) * 60 + t.second;
}

void SimulatedClock::sleep_ms(int ms) {
  const std::int64_t now = ms_.fetch_add(ms > 0 ? ms : 0) + (ms > 0 ? ms : 0);
  // The hook runs under the lock so that it can be replaced safely; it must
  // not call on_sleep itself.
  std::lock_guard lock(hook_mutex_);
  if (hook_) hook_(now);
}

void SimulatedClock::set_local(int year, int month, int day, int hour, int minute, int second) {
  LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  set_seconds(seconds_from_local(t));
}

void SimulatedClock::on_sleep(std::function<void(std::int64_t)> hook) {
  std::lock_guard lock(hook_mutex_);
  hook_ = std::move(hook);
}

}  // namespace record
