// AudioOutput on the virtual sound device: a clock the test moves plays the
// buffer, and the device keeps every byte its cursor passed, so what the
// camera's user would hear is compared with our own decode of the blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "support/wait.h"
#include "viewer/media/audio_output.h"
#include "viewer/media/g726/g726.h"
#include "viewer/platform/headless/virtual_sound_device.h"

namespace {

using media::AudioOutput;
using platform::VirtualSoundBuffer;
using platform::VirtualSoundDevice;
using Bytes = std::vector<std::uint8_t>;

bool wait_until(const std::function<bool()>& done, int timeout_ms = 3000) {
  return test_support::wait_until(done, timeout_ms, 1);
}

Bytes random_block(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

// Our decoder's PCM bytes for consecutive blocks, each cut to 800 bytes.
class Expected {
 public:
  Bytes next(const Bytes& block) {
    const int len = static_cast<int>(std::min<std::size_t>(block.size(), 800));
    std::vector<std::int16_t> pcm(len * 4);
    const int n = media::G726_dec(dec_.get(), 2, block.data(), len, pcm.data());
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    return Bytes(p, p + n * 2);
  }

 private:
  media::G726Decoder dec_{media::G726_decoder_create()};
};

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Bytes kSilentHalf(AudioOutput::kHalfBytes, 0);

// A virtual device on a manual clock that keeps what it plays, installed as
// the process-wide device for one test.
class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_sound_device_factory([this] {
      auto d = std::make_unique<VirtualSoundDevice>(VirtualSoundDevice::Options{true, true});
      device_ = d.get();
      return d;
    });
  }
  void TearDown() override {
    out_.stop();
    platform::set_sound_device_factory(nullptr);
  }

  void push(const Bytes& block, std::uint32_t time_ms) {
    auto frame = std::make_unique<net::MediaFrame>();
    ASSERT_TRUE(frame->set(block.data(), static_cast<std::uint32_t>(block.size()), time_ms, 0));
    out_.queue().push_back(std::move(frame));
  }
  VirtualSoundBuffer* buffer() {
    auto all = device_->buffers();
    return all.empty() ? nullptr : all.back();
  }
  // Queues the blocks (times 1000, 1200, ...), sets up, starts, and waits
  // until the first block plays.
  void start_with(const std::vector<Bytes>& blocks) {
    for (std::size_t i = 0; i < blocks.size(); ++i) push(blocks[i], 1000 + 200 * static_cast<std::uint32_t>(i));
    ASSERT_TRUE(out_.setup());
    out_.start();
    ASSERT_TRUE(wait_until([&] { return buffer()->playing(); }));
  }
  bool half_holds(int half, const Bytes& bytes) {
    return slice(buffer()->contents(), half * AudioOutput::kHalfBytes, bytes.size()) == bytes;
  }
  Bytes played() { return buffer()->played(); }

  VirtualSoundDevice* device_ = nullptr;
  AudioOutput out_;
};

// A 400-byte block is 1,600 samples, exactly one half; the next block is
// heard right after it, and the clock is the time of the block taken.
TEST_F(AudioOutputTest, BlocksOf400BytesFillOneHalfEachAndPlayBackToBack) {
  Expected expect;
  const Bytes a = random_block(400, 1), b = random_block(400, 2), c = random_block(400, 3);
  const Bytes pa = expect.next(a), pb = expect.next(b), pc = expect.next(c);
  ASSERT_EQ(pa.size(), AudioOutput::kHalfBytes);

  // b goes into half 1 at once (the cursor starts in half 0); c waits for
  // the cursor to enter half 1, then goes into half 0.
  start_with({a, b, c});
  ASSERT_TRUE(wait_until([&] { return out_.clock() == 1400 && half_holds(0, pa) && half_holds(1, pb); }));
  EXPECT_EQ(buffer()->position(), 0u);
  device_->advance_ms(200);
  ASSERT_TRUE(wait_until([&] { return half_holds(0, pc); }));
  device_->advance_ms(400);
  EXPECT_EQ(played(), concat(concat(pa, pb), pc));
}

// Blocks over 800 bytes lose the rest before decoding: the decoder goes on
// after the 800th byte, and the 6,400 bytes of PCM are cut to one half.
TEST_F(AudioOutputTest, LongBlocksAreCutTo800BytesAndOneHalf) {
  Expected expect;
  const Bytes a = random_block(1000, 4), b = random_block(1000, 5);
  const Bytes pa = expect.next(a), pb = expect.next(b);
  ASSERT_EQ(pa.size(), 6400u);

  start_with({a, b});
  ASSERT_TRUE(wait_until([&] { return half_holds(1, slice(pb, 0, 3200)); }));
  device_->advance_ms(400);
  EXPECT_EQ(played(), concat(slice(pa, 0, 3200), slice(pb, 0, 3200)));
}

// With nothing arriving, the halves play out and then silence; the next
// block is written at the start of the buffer and the cursor jumps there.
TEST_F(AudioOutputTest, StarvationPlaysSilenceAndNextBlockRestartsAtOffsetZero) {
  Expected expect;
  const Bytes a = random_block(400, 6), b = random_block(200, 7);
  const Bytes pa = expect.next(a), pb = expect.next(b);

  start_with({a});
  device_->advance_ms(200);
  ASSERT_TRUE(wait_until([&] { return half_holds(0, kSilentHalf) && half_holds(1, kSilentHalf); }));
  device_->advance_ms(500);
  ASSERT_EQ(buffer()->position(), (3200u + 8000u) % 6400u);

  push(b, 900);
  ASSERT_TRUE(wait_until([&] { return buffer()->position() == 0; }));
  // A short block (800 samples) is followed by silence, not by old sound.
  EXPECT_TRUE(half_holds(0, concat(pb, Bytes(1600, 0))));
  device_->advance_ms(100);
  const Bytes heard = played();
  ASSERT_EQ(heard.size(), 3200u + 8000u + 1600u);
  EXPECT_EQ(slice(heard, 0, 3200), pa);
  EXPECT_EQ(slice(heard, 3200, 8000), Bytes(8000, 0));
  EXPECT_EQ(slice(heard, 11200, 1600), pb);
}

// Paused: blocks are still taken and decoded (the clock and the decoder
// state go on) but nothing of them is heard; after resuming the next block
// starts at offset 0.
TEST_F(AudioOutputTest, PauseDropsBlocksButTheClockAdvances) {
  Expected expect;
  const Bytes a = random_block(400, 8), b = random_block(400, 9), c = random_block(400, 10);
  const Bytes pa = expect.next(a);
  expect.next(b);
  const Bytes pc = expect.next(c);

  start_with({a});
  out_.pause();
  push(b, 1200);
  // The thread waits for the cursor before it looks at the queue again.
  device_->advance_ms(200);
  ASSERT_TRUE(wait_until([&] { return out_.clock() == 1200; }));
  ASSERT_TRUE(wait_until([&] { return half_holds(0, kSilentHalf) && half_holds(1, kSilentHalf); }));
  device_->advance_ms(400);

  out_.resume();
  push(c, 1400);
  ASSERT_TRUE(wait_until([&] { return out_.clock() == 1400 && buffer()->position() == 0; }));
  device_->advance_ms(200);
  EXPECT_EQ(played(), concat(concat(pa, Bytes(6400, 0)), pc));
}

TEST_F(AudioOutputTest, VolumeBeforeSetupIsAppliedAtSetup) {
  out_.set_volume(-600);
  ASSERT_TRUE(out_.setup());
  EXPECT_EQ(buffer()->volume(), -600);
  out_.set_volume(-10000);
  EXPECT_EQ(buffer()->volume(), -10000);
  // A new connection gets a new buffer with the remembered volume.
  out_.stop();
  ASSERT_TRUE(out_.setup());
  EXPECT_EQ(buffer()->volume(), -10000);
}

// Stop wakes the thread wherever it waits, stops the sound (a looping
// buffer must not repeat its last 400 ms) and drops what is queued.
TEST_F(AudioOutputTest, StopEndsThreadSilencesAndClearsQueue) {
  start_with({random_block(400, 11)});
  // The thread now waits for the cursor, which this test never moves.
  push(random_block(400, 12), 6);
  push(random_block(400, 13), 7);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  out_.stop();
  EXPECT_EQ(out_.queue().count(), 0u);
  EXPECT_TRUE(device_->buffers().empty());
  out_.stop();  // twice is harmless
  // And a new connection plays again.
  start_with({random_block(400, 14)});
}

TEST_F(AudioOutputTest, LostBufferIsRestoredAndWrittenAgain) {
  Expected expect;
  const Bytes a = random_block(400, 15);
  ASSERT_TRUE(out_.setup());
  buffer()->lose();
  out_.start();
  push(a, 1);
  ASSERT_TRUE(wait_until([&] { return buffer()->playing(); }));
  EXPECT_TRUE(half_holds(0, expect.next(a)));
}

TEST_F(AudioOutputTest, SetupFailsWithoutDeviceOrBuffer) {
  platform::set_sound_device_factory([] { return std::unique_ptr<platform::SoundDevice>(); });
  EXPECT_FALSE(out_.setup());
  // Started anyway, the thread ends at the first block instead of hanging,
  // so that the stream notices.
  out_.start();
  push(random_block(400, 16), 1);
  EXPECT_TRUE(wait_until([&] { return out_.thread_ended(); }));
  out_.stop();

  SetUp();
  ASSERT_NE(platform::sound_device(), nullptr);
  device_->set_fail_buffers(true);
  EXPECT_FALSE(out_.setup());
  device_->set_fail_buffers(false);
  EXPECT_TRUE(out_.setup());
}

// The audio thread waits on these most of its life; a signal raised for a
// wait that does not want it must not wake that wait (nor be lost).
TEST(SoundSignals, OnlyWhatAWaitWaitsForWakesIt) {
  platform::SoundSignals signals;
  std::atomic<int> got{-2};
  std::thread any([&] { got = signals.wait_any(1u << 0 | 1u << 1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  for (int i = 0; i < 20; ++i) signals.raise(4);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(got.load(), -2);
  signals.raise(1);
  any.join();
  EXPECT_EQ(got.load(), 1);
  EXPECT_LE(signals.wakeups(), 1u);
  EXPECT_EQ(signals.raised(), 1u << 4);  // kept for a wait that wants it
  EXPECT_EQ(signals.wait_any(1u << 4, 0), 4);

  // All of two: one of them wakes nothing, both wake the wait, and a
  // signal of the wake mask ends it early.
  std::atomic<int> all{-1};
  std::thread both([&] { all = signals.wait_all(1u << 0 | 1u << 1, 1u << 3) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const std::uint64_t before = signals.wakeups();
  signals.raise(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(all.load(), -1);
  EXPECT_EQ(signals.wakeups(), before);
  signals.raise(1);
  both.join();
  EXPECT_EQ(all.load(), 1);
  EXPECT_EQ(signals.raised(), 0u);
  std::thread early([&] { all = signals.wait_all(1u << 0 | 1u << 1, 1u << 3) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  signals.raise(3);
  early.join();
  EXPECT_EQ(all.load(), 0);
  EXPECT_EQ(signals.wait_any(1u << 0, 0), -1);  // a time-out of 0 with nothing raised
}

// The device used headless: the cursor runs on the real clock at the pace
// of the format and raises its notifications on the way.
TEST(VirtualSoundDevice, RealTimeCursorKeepsThePaceOfTheFormat) {
  VirtualSoundDevice device(VirtualSoundDevice::Options{false, true});
  auto buffer = device.create_buffer(platform::PcmFormat{1, 8000, 16}, 6400);
  ASSERT_NE(buffer, nullptr);
  platform::SoundSignals signals;
  buffer->set_notifications(&signals, {{0, 0}, {3200, 1}, {platform::SoundNotification::kNotifyOnStop, 2}});
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(buffer->play_looping());
  EXPECT_EQ(signals.wait_any(1u << 0, 0), 0);  // starting at offset 0 reaches it
  EXPECT_EQ(signals.wait_any(1u << 1, 2000), 1);
  EXPECT_EQ(signals.wait_any(1u << 0, 2000), 0);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 395.0);
  EXPECT_LT(ms, 1000.0);  // generous: the machine is shared
  buffer->stop();
  EXPECT_EQ(signals.wait_any(1u << 2, 0), 2);
  const auto played = static_cast<VirtualSoundBuffer*>(buffer.get())->played().size();
  EXPECT_NEAR(static_cast<double>(played), ms * 16.0, 16.0 * 40);
}

}  // namespace
