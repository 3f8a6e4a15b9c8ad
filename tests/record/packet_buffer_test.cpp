// The packets a camera keeps for the start of its recordings: where files
// begin, the pre-roll, the memory bounds, and the hand-over from kept to live
// packets while the stream keeps coming.
#include "viewer/record/packet_buffer.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "record_fixtures.h"
#include "viewer/record/recording_writer.h"

using namespace record;
using rectest::TempDir;

namespace {

constexpr std::uint32_t kPacket = 1600;
// The test packets are not cameras' packets; their key frames begin with
// their first payload, so a file takes them whole.
constexpr std::uint32_t kKeyAt = 14;

// A packet that carries its number in its first eight bytes.
std::vector<std::uint8_t> numbered(std::uint64_t n) {
  std::vector<std::uint8_t> p(kPacket, static_cast<std::uint8_t>(n * 7));
  std::memcpy(p.data(), &n, sizeof n);
  return p;
}

const std::vector<std::uint8_t>& test_header() {
  static const std::vector<std::uint8_t> h(481, 0x48);
  return h;
}

// The numbers of the packets in a file written from numbered packets; the
// file must be the test header and whole packets.
::testing::AssertionResult packet_numbers(const std::string& path, std::vector<std::uint64_t>* out) {
  const std::vector<std::uint8_t> file = rectest::read_file(path);
  const std::vector<std::uint8_t>& h = test_header();
  if (file.size() < h.size() || !std::equal(h.begin(), h.end(), file.begin()))
    return ::testing::AssertionFailure() << path << " does not start with the header";
  if ((file.size() - h.size()) % kPacket != 0) return ::testing::AssertionFailure() << path << " ends mid-packet";
  out->clear();
  for (std::size_t at = h.size(); at < file.size(); at += kPacket) {
    std::uint64_t n = 0;
    std::memcpy(&n, &file[at], sizeof n);
    if (!std::equal(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + kPacket),
                    numbered(n).begin()))
      return ::testing::AssertionFailure() << path << ": packet at " << at << " was damaged";
    out->push_back(n);
  }
  return ::testing::AssertionSuccess();
}

// A camera's buffer and one writer fed from it, writing into a scratch folder.
struct Rig {
  TempDir dir;
  PacketBuffer buffer;
  RecordingWriter writer{RecordingEnv{}, &buffer};
  std::uint64_t next = 0;

  Rig() { buffer.set_header(test_header().data(), static_cast<std::uint32_t>(test_header().size())); }
  // Packets next .. next+count-1, one every step_ms, a key frame beginning
  // in every packet whose number is a multiple of gop.
  void feed(std::uint64_t count, std::uint64_t gop, std::uint32_t step_ms = 10) {
    for (std::uint64_t end = next + count; next < end; ++next) {
      const auto p = numbered(next);
      buffer.add(p.data(), kPacket, static_cast<std::uint32_t>(next * step_ms), next % gop == 0 ? kKeyAt : 0);
    }
  }
  std::vector<std::uint64_t> record_file(const std::string& name) {
    std::vector<std::uint64_t> n;
    EXPECT_GE(writer.Flush(), 0);
    writer.Close();
    EXPECT_TRUE(packet_numbers(dir / name, &n));
    return n;
  }
};

std::vector<std::uint64_t> run_of(std::uint64_t first, std::uint64_t last) {
  std::vector<std::uint64_t> v;
  for (std::uint64_t n = first; n <= last; ++n) v.push_back(n);
  return v;
}

}  // namespace

TEST(PacketBuffer, AFileBeginsAtTheNewestKeyFrameThenTakesTheLivePackets) {
  Rig rig;
  // Before the connection's first key frame nothing is kept, and a file
  // opened then begins with that key frame.
  rig.feed(3, 10);  // 0 is a key frame start...
  rig.buffer.set_header(test_header().data(), static_cast<std::uint32_t>(test_header().size()));
  EXPECT_EQ(rig.buffer.stats().kept_packets, 0u);  // ...but of the last connection
  rig.next = 5;
  rig.feed(4, 10);  // 5..8, no key frame
  ASSERT_EQ(rig.writer.Open(rig.dir / "a.asf"), 1);
  EXPECT_EQ(rig.writer.queued(), 0u);
  rig.feed(8, 10);  // 9..16: the file begins at 10
  EXPECT_EQ(rig.record_file("a.asf"), run_of(10, 16));

  // Later files begin at the newest key-frame start kept: 30, not 20.
  rig.feed(20, 10);  // 17..36
  EXPECT_EQ(rig.buffer.stats().kept_packets, 7u);
  ASSERT_EQ(rig.writer.Open(rig.dir / "b.asf"), 1);
  EXPECT_EQ(rig.writer.queued(), 7u);
  rig.feed(5, 10);  // 37..41
  EXPECT_EQ(rig.record_file("b.asf"), run_of(30, 41));

  // A file opened right after a key frame began starts with it.
  rig.feed(9, 10);  // 42..50
  ASSERT_EQ(rig.writer.Open(rig.dir / "c.asf"), 1);
  rig.feed(2, 10);
  EXPECT_EQ(rig.record_file("c.asf"), run_of(50, 52));
}

TEST(PacketBuffer, PreRollReachesBackToTheKeyFrameAtOrBeforeIt) {
  Rig rig;
  rig.buffer.set_keep_ms(5000);
  // Ten seconds, a packet every 100 ms, a key frame every 2 s.
  rig.feed(100, 20, 100);
  // The newest packet arrived at 9.9 s; 5 s before is 4.9 s, and the key
  // frame at or before that is the one at 4.0 s (packet 40).
  const PacketBufferStats s = rig.buffer.stats();
  EXPECT_EQ(s.oldest_kept, 40u);
  EXPECT_EQ(s.span_ms, 5900u);
  ASSERT_EQ(rig.writer.Open(rig.dir / "motion.asf", 5000), 1);
  rig.feed(3, 20, 100);
  EXPECT_EQ(rig.record_file("motion.asf"), run_of(40, 102));

  // Less pre-roll than kept: the newest key frame far enough back.
  ASSERT_EQ(rig.writer.Open(rig.dir / "short.asf", 1500), 1);
  EXPECT_EQ(rig.record_file("short.asf").front(), 80u);  // newest 10.2 s, 80 at 8.0 s
  // More than kept: as far back as there is.
  ASSERT_EQ(rig.writer.Open(rig.dir / "long.asf", 20000), 1);
  EXPECT_EQ(rig.record_file("long.asf").front(), 40u);

  // Pre-roll off again: only the newest group of pictures stays.
  rig.buffer.set_keep_ms(0);
  rig.feed(1, 20, 100);
  EXPECT_EQ(rig.buffer.stats().oldest_kept, 100u);
}

TEST(PacketBuffer, BoundsHoldForACameraThatSendsNoKeyFrameForMinutes) {
  const std::size_t bound = PacketBuffer::memory_bound(kPacket);
  EXPECT_LT(bound, kKeptBytesLimit + 2 * 16384 + 40000);  // the packets, two chunks, slot records
  {
    // 2 Mbit/s: the byte limit comes first, after 16 s.
    Rig rig;
    rig.buffer.set_keep_ms(kMaxKeepMs);
    std::size_t most = 0;
    for (int i = 0; i < 5 * 60 * 156; ++i) {
      rig.feed(1, 1000000, 6);  // a key frame in packet 0 only
      const PacketBufferStats s = rig.buffer.stats();
      ASSERT_LE(s.kept_bytes, kKeptBytesLimit);
      ASSERT_LE(s.span_ms, kKeptSpanLimitMs);
      ASSERT_LE(s.allocated_bytes, bound);
      most = std::max(most, s.kept_bytes);
    }
    EXPECT_GT(most, kKeptBytesLimit - 2 * kPacket);
    EXPECT_EQ(rig.buffer.stats().kept_packets, 0u);  // gave up, waits for a key frame
    // A file opened now begins at the next key frame.
    ASSERT_EQ(rig.writer.Open(rig.dir / "late.asf"), 1);
    rig.feed(4, 1000000, 6);
    EXPECT_EQ(rig.writer.queued(), 0u);
    const std::uint64_t key = rig.next;
    const auto p = numbered(key);
    rig.buffer.add(p.data(), kPacket, static_cast<std::uint32_t>(key * 6), kKeyAt);
    ++rig.next;
    rig.feed(2, 1000000, 6);
    EXPECT_EQ(rig.record_file("late.asf"), run_of(key, key + 2));
    rig.buffer.end_stream();
    EXPECT_EQ(rig.buffer.stats().allocated_bytes, 0u);
  }
  {
    // 80 kbit/s: the 30-second span comes first.
    Rig rig;
    std::uint32_t longest = 0;
    for (int i = 0; i < 3 * 60 * 8; ++i) {
      rig.feed(1, 1000000, 125);
      longest = std::max(longest, rig.buffer.stats().span_ms);
      ASSERT_LE(rig.buffer.stats().span_ms, kKeptSpanLimitMs);
    }
    EXPECT_GE(longest, kKeptSpanLimitMs - 125);
  }
}

TEST(PacketBuffer, MemoryOf128CamerasStaysWithinTheBound) {
  // 128 cameras of 80 kbit/s with a key frame every 2 s and five seconds of
  // pre-roll, then minutes without a key frame (each buffer grows to the
  // 30-second span and starts over), then key frames again. Each stays
  // within the bound of one camera, and the heap holds no more for them than
  // they account for.
  constexpr int kCameras = 128;
  const std::size_t bound = PacketBuffer::memory_bound(kPacket);
  const auto heap = [] {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  const std::size_t before = heap();
  std::vector<std::unique_ptr<PacketBuffer>> cameras;
  for (int i = 0; i < kCameras; ++i) {
    cameras.push_back(std::make_unique<PacketBuffer>());
    cameras.back()->set_header(test_header().data(), static_cast<std::uint32_t>(test_header().size()));
    cameras.back()->set_keep_ms(5000);
  }
  const auto p = numbered(1);
  std::size_t most = 0, steady = 0;
  // Besides the chunks: the buffers themselves, their header copies and
  // bookkeeping.
  const std::size_t fixed = static_cast<std::size_t>(kCameras) * 4096;
  std::uint32_t tick = 0;
  // 20 s with key frames, 3 minutes without, 20 s with again.
  for (int step = 0; step < (20 + 180 + 20) * 8; ++step, tick += 125) {
    const bool keys = step < 20 * 8 || step >= 200 * 8;
    for (auto& c : cameras) c->add(p.data(), kPacket, tick, keys && step % 16 == 0 ? kKeyAt : 0);
    if (step % 8 == 0) {
      std::size_t total = 0;
      for (auto& c : cameras) {
        const std::size_t a = c->stats().allocated_bytes;
        ASSERT_LE(a, bound);
        total += a;
      }
      most = std::max(most, total);
      if (step == 19 * 8) steady = total / kCameras;
      ASSERT_LE(heap() - before, total + fixed);
    }
  }
  EXPECT_GT(most, 100u * 30 * 10000);  // the 30-second spans were reached
  // With key frames, one camera holds 5 to 7 s of its stream (90 kB).
  EXPECT_LT(steady, 150000u);
  for (auto& c : cameras) c->end_stream();
  EXPECT_LT(heap() - before, fixed);
}

TEST(PacketBuffer, HandOverWhileTheStreamRunsLosesAndRepeatsNothing) {
  // The stream thread adds packets as fast as it can while a recording
  // thread opens files, turns them over and closes them. Every file holds a
  // run of consecutive packets that begins with a key frame; each next file
  // of a recording begins inside the one before or right after it.
  Rig rig;
  constexpr std::uint64_t kGop = 5;
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> sent{0};
  std::thread stream([&] {
    for (std::uint64_t n = 0; !done.load(); ++n) {
      const auto p = numbered(n);
      rig.buffer.add(p.data(), kPacket, static_cast<std::uint32_t>(n), n % kGop == 0 ? kKeyAt : 0);
      sent = n + 1;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  std::vector<std::vector<std::string>> recordings;
  for (int r = 0; r < 12; ++r) {
    recordings.emplace_back();
    const std::string first = "r" + std::to_string(r) + "_0.asf";
    ASSERT_EQ(rig.writer.Open(rig.dir / first, r % 3 == 0 ? 3 : 0), 1);
    recordings.back().push_back(first);
    for (int t = 1; t <= 4; ++t) {
      for (int f = 0; f < 3; ++f) {
        ASSERT_GE(rig.writer.Flush(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      const std::string next = "r" + std::to_string(r) + "_" + std::to_string(t) + ".asf";
      const int turned = rig.writer.Turnover(rig.dir / next);
      ASSERT_GE(turned, 0);
      if (turned == 1) recordings.back().push_back(next);
    }
    ASSERT_GE(rig.writer.Flush(), 0);
    rig.writer.Close();
  }
  done = true;
  stream.join();
  EXPECT_GT(sent.load(), 300u);

  std::size_t turnovers = 0;
  for (const auto& names : recordings) {
    std::uint64_t previous_first = 0, previous_last = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      std::vector<std::uint64_t> n;
      ASSERT_TRUE(packet_numbers(rig.dir / names[i], &n));
      ASSERT_FALSE(n.empty());
      EXPECT_EQ(n.front() % kGop, 0u);
      EXPECT_EQ(n, run_of(n.front(), n.back()));
      if (i > 0) {
        EXPECT_GE(n.front(), previous_first);  // the same key frame when no newer one came
        EXPECT_LE(n.front(), previous_last + 1);
        ++turnovers;
      }
      previous_first = n.front();
      previous_last = n.back();
    }
  }
  EXPECT_GT(turnovers, 20u);
}
