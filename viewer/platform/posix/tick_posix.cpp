#include "viewer/platform/tick.h"

#include <cerrno>
#include <ctime>

namespace platform {

std::uint32_t tick_ms() {
  timespec ts{};
  // The monotonic clock: wall-clock changes must not move recording times.
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms =
      static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps modulo 2^32 by design
}

void sleep_ms(std::uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

}  // namespace platform
