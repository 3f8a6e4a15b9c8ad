#include "viewer/platform/event.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "viewer/platform/tick.h"

namespace {

using platform::Event;
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(Event, ManualStaysSetAutoReleasesOneWaiter) {
  Event manual(Event::Reset::Manual);
  EXPECT_FALSE(manual.wait(0));
  manual.set();
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));
  manual.reset();
  EXPECT_FALSE(manual.wait(0));

  Event automatic(Event::Reset::Auto, true);
  EXPECT_TRUE(automatic.wait(0));
  EXPECT_FALSE(automatic.wait(0));

  // Two threads wait on one auto-reset event: one set releases exactly one.
  std::atomic<int> released{0};
  std::thread a([&] { released += automatic.wait(400) ? 1 : 0; });
  std::thread b([&] { released += automatic.wait(400) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  automatic.set();
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 1);
}

TEST(Event, WaitTimesOutAndWakesOnSet) {
  Event e(Event::Reset::Auto);
  auto t0 = Clock::now();
  EXPECT_FALSE(e.wait(60));
  EXPECT_GE(ms_since(t0), 55);

  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    e.set();
  });
  t0 = Clock::now();
  EXPECT_TRUE(e.wait(platform::kWaitForever));
  EXPECT_LT(ms_since(t0), 2000);
  setter.join();
}

TEST(Event, WaitAnyReturnsTheSetEventAndConsumesOnlyIt) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto), c(Event::Reset::Manual);
  std::array<Event*, 3> all{&a, &b, &c};
  EXPECT_EQ(platform::wait_any(all, 20), -1);

  b.set();
  c.set();
  EXPECT_EQ(platform::wait_any(all, 0), 1);  // lowest set index
  EXPECT_FALSE(b.is_set());
  EXPECT_TRUE(c.is_set());
  EXPECT_EQ(platform::wait_any(all, 0), 2);
  EXPECT_TRUE(c.is_set());  // manual-reset stays set
  c.reset();

  // A set from another thread while waiting wakes the waiter promptly.
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    a.set();
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(platform::wait_any(all, platform::kWaitForever), 0);
  EXPECT_LT(ms_since(t0), 2000);
  setter.join();
  EXPECT_FALSE(a.is_set());
}

TEST(Event, ManyRoundTripsBetweenTwoThreadsLoseNoSignal) {
  // The alternation the stream connection relies on: ping, pong, 20,000 times.
  Event ping(Event::Reset::Auto), pong(Event::Reset::Auto);
  constexpr int kRounds = 20000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_TRUE(ping.wait(5000));
      pong.set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.set();
    ASSERT_TRUE(pong.wait(5000));
  }
  other.join();
}

TEST(Tick, ElapsedIsRightAcrossTheWrap) {
  EXPECT_EQ(platform::tick_elapsed(0xFFFFFFF0u, 0x00000010u), 0x20u);
  EXPECT_EQ(platform::tick_elapsed(100u, 250u), 150u);
  const std::uint32_t t0 = platform::tick_ms();
  platform::sleep_ms(20);
  const std::uint32_t d = platform::tick_elapsed(t0, platform::tick_ms());
  EXPECT_GE(d, 19u);
  EXPECT_LT(d, 2000u);
}

}  // namespace
