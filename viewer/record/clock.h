// The recording loops read the local time and wait only through this seam, so
// that an hour-long window, a midnight crossing or a weekday rule can be run
// in simulated time. File and recording names are built from local time, and
// every length (manual length, hourly split, motion time-out) is a difference
// of two points on the clock's own timeline.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "viewer/platform/event.h"

namespace record {

// A local calendar time. weekday: 0 = Sunday ... 6 = Saturday (filled in by
// Clock::local; ignored by Clock::seconds_from_local).
struct LocalTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on the clock's timeline (for the system clock: since the
  // Unix epoch). Any thread.
  virtual std::int64_t now_ms() = 0;

  // Whole seconds on the same timeline.
  std::int64_t now() {
    std::int64_t ms = now_ms();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  }

  // The local calendar time of a point of the timeline (seconds).
  virtual LocalTime local(std::int64_t seconds) = 0;

  // The point of the timeline of a local calendar time. Fields out of their
  // range are carried over (day 32 is the first of the next month, and so on).
  virtual std::int64_t seconds_from_local(const LocalTime& t) = 0;

  // Waits ms milliseconds (the simulated clock advances instead). Any thread.
  virtual void sleep_ms(int ms) = 0;

  // Waits ms milliseconds or until wake is set, whichever comes first; true
  // when woken. The simulated clock advances by ms and reports whether wake
  // is set. Any thread.
  virtual bool wait_ms(int ms, platform::Event& wake) {
    sleep_ms(ms);
    return wake.is_set();
  }

  LocalTime local_now() { return local(now()); }
};

// Wall-clock time in the machine's time zone.
class SystemClock final : public Clock {
 public:
  std::int64_t now_ms() override;
  LocalTime local(std::int64_t seconds) override;
  std::int64_t seconds_from_local(const LocalTime& t) override;
  void sleep_ms(int ms) override;
  bool wait_ms(int ms, platform::Event& wake) override {
    return wake.wait(ms > 0 ? static_cast<std::uint32_t>(ms) : 0);
  }
};

// The process-wide system clock.
Clock& system_clock();

// A clock for tests and benchmarks whose time zone is UTC with no daylight
// saving and whose time moves only when slept on or set. A hook runs after
// every sleep with the new time, so a test can feed packets "as time passes"
// on the thread that sleeps.
class SimulatedClock final : public Clock {
 public:
  explicit SimulatedClock(std::int64_t start_seconds = 0) : ms_(start_seconds * 1000) {}

  std::int64_t now_ms() override { return ms_.load(); }
  LocalTime local(std::int64_t seconds) override;
  std::int64_t seconds_from_local(const LocalTime& t) override;
  void sleep_ms(int ms) override;

  void set_seconds(std::int64_t seconds) { ms_.store(seconds * 1000); }
  void advance_ms(std::int64_t ms) { ms_.fetch_add(ms); }
  // Sets the time to a local calendar time.
  void set_local(int year, int month, int day, int hour, int minute, int second);

  // Called after every sleep_ms, on the sleeping thread, with the new time.
  void on_sleep(std::function<void(std::int64_t now_ms)> hook);

 private:
  std::atomic<std::int64_t> ms_;
  std::mutex hook_mutex_;
  std::function<void(std::int64_t)> hook_;
};

// Proleptic Gregorian calendar helpers (no time zone): days since 1970-01-01
// and back. Used by the simulated clock and by tests.
std::int64_t days_from_civil(std::int64_t year, int month, int day);
void civil_from_days(std::int64_t days, int* year, int* month, int* day);

}  // namespace record
