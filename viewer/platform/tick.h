// Millisecond tick and sleep.
//
// The tick is a 32-bit millisecond counter from an arbitrary start that wraps
// after about 49.7 days, like the multimedia timer the recording timestamps
// were defined with. Differences of two ticks are taken modulo 2^32
// (tick_elapsed), so they stay right across a wrap.
#pragma once

#include <cstdint>

namespace platform {

// Current tick in milliseconds. Any thread.
std::uint32_t tick_ms();

// Milliseconds from `earlier` to `later`, correct across one wrap of the tick.
inline std::uint32_t tick_elapsed(std::uint32_t earlier, std::uint32_t later) { return later - earlier; }

// Suspends the calling thread for at least ms milliseconds.
void sleep_ms(std::uint32_t ms);

}  // namespace platform
