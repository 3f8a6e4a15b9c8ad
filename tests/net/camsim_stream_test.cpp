// The camera stream against the camera simulator over loopback: what
// arrives must be exactly what the simulator's clip holds, and the
// simulator's faults must each end in a clean reconnection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "support/camsim.h"
#include "support/wait.h"
#include "tools/clipkit/asf.h"
#include "viewer/net/camera_stream.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/platform/headless/headless_ui.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uintptr_t kTag = 77;

bool eventually(const std::function<bool()>& pred, int timeout_ms = 8000) {
  return test_support::wait_until(pred, timeout_ms, 5);
}

std::string clip_path(const char* name) { return std::string(CAMVIEWER_CLIPS_DIR) + "/" + name; }

struct Frame {
  Bytes data;
  std::uint32_t time;
  int marker;
};

// Plays the consumers: takes everything off the queues as it arrives and
// keeps the first frames, blocks and packets of each connection.
class Drainer {
 public:
  Drainer(net::QueueVideoSink& v, net::QueueAudioSink& a, net::QueuePacketSink& w) : v_(v), a_(a), w_(w) {
    thread_ = std::thread([this] { loop(); });
  }
  ~Drainer() {
    stop_ = true;
    thread_.join();
  }
  std::size_t frames() {
    std::lock_guard l(m_);
    return frames_.size();
  }
  std::vector<Frame> take_frames() {
    std::lock_guard l(m_);
    return frames_;
  }
  std::vector<Frame> packets() {
    std::lock_guard l(m_);
    return packets_;
  }
  std::vector<Frame> blocks() {
    std::lock_guard l(m_);
    return blocks_;
  }
  std::size_t deepest_audio_queue() const { return deepest_audio_.load(); }

 private:
  void loop() {
    while (!stop_) {
      const std::size_t depth = a_.queue().count();
      if (depth > deepest_audio_) deepest_audio_ = depth;
      while (auto f = v_.queue().take_front()) keep(frames_, *f, 400);
      while (auto f = a_.queue().take_front()) keep(blocks_, *f, 100);
      while (auto f = w_.queue().take_front()) keep(packets_, *f, 200);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  }
  void keep(std::vector<Frame>& into, const net::MediaFrame& f, std::size_t limit) {
    std::lock_guard l(m_);
    if (into.size() < limit) into.push_back({Bytes(f.data(), f.data() + f.length()), f.time(), f.marker()});
  }

  net::QueueVideoSink& v_;
  net::QueueAudioSink& a_;
  net::QueuePacketSink& w_;
  std::mutex m_;
  std::vector<Frame> frames_, blocks_, packets_;
  std::atomic<std::size_t> deepest_audio_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class StreamFromCamsim : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(test_support::camsim_path().c_str(), X_OK) != 0) GTEST_SKIP() << "camsim not built";
  }

  std::unique_ptr<net::CameraStream> connect(const test_support::CamsimProcess& cam, int timeout_s = 30,
                                             const std::string& password = "secret") {
    auto s = std::make_unique<net::CameraStream>(kTag, timeout_s);
    net::StreamSinks sinks;
    sinks.video = &video;
    sinks.audio = &audio;
    sinks.recording = &writer;
    s->set_sinks(sinks);
    s->set_account({"127.0.0.1", std::to_string(cam.port()), "admin", password});
    s->set_retry_delay_ms(50);
    return s;
  }

  static std::vector<std::string> args(std::vector<std::string> extra, const char* clip = "small") {
    std::vector<std::string> a = {"--port", "0", "--user", "admin", "--password", "secret", "--fast"};
    a.insert(a.end(), extra.begin(), extra.end());
    a.push_back(clip_path(clip));
    return a;
  }

  platform::ScopedHeadlessUi ui;
  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  net::QueuePacketSink writer;
};

// Whether a packet holds the first payload of a key frame (stream byte
// 0x81, offset 0).
bool begins_key_frame(const Bytes& p) {
  std::size_t at = 14;
  for (int n = p[13] & 0x3F; n > 0; --n) {
    const std::uint8_t stream = p[at];
    const std::uint32_t offset =
        p[at + 2] | p[at + 3] << 8 | p[at + 4] << 16 | static_cast<std::uint32_t>(p[at + 5]) << 24;
    if (stream == 0x81 && offset == 0) return true;
    at += 7 + p[at + 6];
    const std::uint32_t len = p[at] | p[at + 1] << 8;
    at += 2 + len;
  }
  return false;
}

TEST_F(StreamFromCamsim, WhatArrivesIsTheClip) {
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(clip_path("small"), &clip, &error)) << error;
  test_support::CamsimProcess cam(args({}));
  ASSERT_TRUE(cam.ready());
  Drainer drain(video, audio, writer);
  auto s = connect(cam);
  ASSERT_EQ(s->start(), net::kStartOk);
  const std::size_t n = clip.video.vops.size();
  // Audio blocks beyond three waiting are dropped by design, and camsim runs
  // as fast as it can, so wait until enough blocks were drained too.
  ASSERT_TRUE(eventually(
      [&] { return drain.frames() >= 2 * n + 5 && drain.packets().size() >= 50 && drain.blocks().size() >= 5; }));
  s->stop();

  // Frames: the clip's VOPs in order, looping with running times, key
  // frames marked.
  const auto frames = drain.take_frames();
  for (std::size_t i = 0; i < 2 * n + 5; ++i) {
    SCOPED_TRACE(i);
    const clipkit::Vop& vop = clip.video.vops[i % n];
    ASSERT_EQ(frames[i].data, vop.bytes);
    EXPECT_EQ(frames[i].time, vop.time_ms + static_cast<std::uint32_t>(i / n) * clip.video.duration_ms);
    EXPECT_EQ(frames[i].marker, vop.key ? 0x81 : 0x01);
  }

  // Audio: 400-byte blocks every 200 ms, never more than three waiting.
  const auto blocks = drain.blocks();
  ASSERT_GE(blocks.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(blocks[i].data.size(), clipkit::kAudioBlockBytes);
    EXPECT_EQ(blocks[i].marker, 0);
  }
  EXPECT_LE(drain.deepest_audio_queue(), 3u);

  // Recording: every packet, byte for byte and in order, marked where a key
  // frame begins.
  clipkit::MuxOptions options;
  clipkit::CameraMuxer muxer(clip, options);
  const auto recorded = drain.packets();
  ASSERT_GE(recorded.size(), 50u);
  int key_starts = 0;
  for (std::size_t i = 0; i < 50; ++i) {
    const Bytes sent = muxer.next_packet().bytes;
    ASSERT_EQ(recorded[i].data, sent) << i;
    EXPECT_EQ(recorded[i].marker != 0, begins_key_frame(sent)) << i;
    key_starts += recorded[i].marker != 0 ? 1 : 0;
  }
  EXPECT_GE(key_starts, 2);
  EXPECT_EQ(writer.header().size(), 481u);
  EXPECT_TRUE(ui->shown().empty());
}

// Seen before: a camera that sends an oversized frame showed "error video
// data" 21 times in 20 s, once per reconnection. A notice the user has not
// closed is not shown again; once closed, the next failure shows it again.
TEST_F(StreamFromCamsim, AnOversizedFrameIsShownOnceUntilTheUserClosesIt) {
  test_support::CamsimProcess cam(args({"--oversize-after", "3"}));
  ASSERT_TRUE(cam.ready());
  ui->hold_notices(true);
  Drainer drain(video, audio, writer);
  auto s = connect(cam);
  auto told = [&] {
    int n = 0;
    for (const auto& m : ui->shown()) n += m.text == "error video data" && m.caption == "warning" && m.notice;
    return n;
  };
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(eventually([&] { return video.setups() >= 8; }));
  EXPECT_EQ(told(), 1);
  EXPECT_EQ(ui->shown().size(), 1u);

  ui->close_notices();
  const int before = video.setups();
  ASSERT_TRUE(eventually([&] { return video.setups() >= before + 6; }));
  s->stop();
  EXPECT_EQ(told(), 2);
  EXPECT_EQ(ui->shown().size(), 2u);
  EXPECT_GT(drain.frames(), 0u);  // the frames before the oversized one arrive each time
}

TEST_F(StreamFromCamsim, RefusalsAndABusyCamera) {
  {
    test_support::CamsimProcess cam(args({}));
    ASSERT_TRUE(cam.ready());
    auto s = connect(cam, 30, "wrong");
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(ui->wait_posted(1, 5000));
    ASSERT_EQ(ui->shown().size(), 1u);
    EXPECT_EQ(ui->shown()[0].text, "account is error!");
    EXPECT_EQ(ui->posted()[0].lparam, kTag);
    EXPECT_EQ(s->connection_state(), net::kStateRefused);
    s->stop();
  }
  ui->clear();
  {
    test_support::CamsimProcess cam(args({"--fail-first", "1", "--fail-status", "404"}));
    ASSERT_TRUE(cam.ready());
    auto s = connect(cam);
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(ui->wait_posted(1, 5000));
    EXPECT_EQ(ui->shown()[0].text, "open connection fail!");
    s->stop();
  }
  ui->clear();
  {
    test_support::CamsimProcess cam(args({"--fail-first", "3", "--reply-header-lines", "95"}));
    ASSERT_TRUE(cam.ready());
    Drainer drain(video, audio, writer);
    auto s = connect(cam);
    ASSERT_EQ(s->start(), net::kStartOk);
    EXPECT_TRUE(eventually([&] { return drain.frames() >= 10; }));
    EXPECT_TRUE(ui->shown().empty());
    EXPECT_TRUE(ui->posted().empty());
    s->stop();
  }
}

TEST_F(StreamFromCamsim, FaultsEndInACleanReconnect) {
  const struct {
    const char* name;
    std::vector<std::string> options;
  } faults[] = {
      {"drop", {"--close-after", "40", "--faults-for", "1"}},
      {"stall", {"--stall-after", "40", "--faults-for", "1"}},
      {"corrupt packet", {"--corrupt-after", "40", "--faults-for", "1"}},
      {"header lines past the limit", {"--reply-header-lines", "96", "--faults-for", "1"}},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    test_support::CamsimProcess cam(args(f.options));
    ASSERT_TRUE(cam.ready());
    net::QueueVideoSink v;
    net::QueueAudioSink a;
    net::QueuePacketSink w;
    Drainer drain(v, a, w);
    auto s = std::make_unique<net::CameraStream>(kTag, 1);  // 1-second time-out for the stall
    net::StreamSinks sinks;
    sinks.video = &v;
    sinks.audio = &a;
    s->set_sinks(sinks);
    s->set_account({"127.0.0.1", std::to_string(cam.port()), "admin", "secret"});
    s->set_retry_delay_ms(50);
    ASSERT_EQ(s->start(), net::kStartOk);
    // The header-line fault hits every connection; the others only the first.
    if (std::string(f.name) == "header lines past the limit") {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      EXPECT_EQ(v.setups(), 0);
      EXPECT_EQ(drain.frames(), 0u);
    } else {
      EXPECT_TRUE(eventually([&] { return v.setups() >= 2 && drain.frames() >= 40; }))
          << v.setups() << " set-ups, " << drain.frames() << " frames";
      EXPECT_GE(v.stops(), 1);
    }
    EXPECT_TRUE(ui->shown().empty());
    const auto t0 = Clock::now();
    s->stop();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 500);
  }
}

}  // namespace
