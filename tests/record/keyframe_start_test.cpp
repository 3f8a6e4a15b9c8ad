// Recordings that begin with a picture. Against camsim with clips whose key
// frames are 2 s apart, a file opened just before, exactly at or just after
// the packet where a key frame begins starts with a key frame that ffprobe
// and ffmpeg read without a word; and a motion recording reaches back
// PreMotion seconds, as the pictures asf2yuv decodes from it show when they
// are compared with the clip's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "record_fixtures.h"
#include "support/camsim.h"
#include "support/psnr.h"
#include "support/wait.h"
#include "tools/clipkit/asf.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/camera_stream.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/schedule_recording.h"

using namespace record;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A clip as camsim serves it, key frames every 2 s at 15 pictures a second,
// made once per run. The 640 x 480 one is the committed "vga" clip.
std::string two_second_clip(int width, int height, int seconds = 4) {
  if (width == 640 && seconds == 4) return std::string(CAMVIEWER_CLIPS_DIR) + "/vga";
  static rectest::TempDir dir;
  const std::string prefix = dir / ("gop2s_" + std::to_string(width) + "_" + std::to_string(seconds));
  if (rectest::exists(prefix + ".m4v")) return prefix;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string t = std::to_string(seconds);
  const std::vector<std::string> ff = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  std::vector<std::string> video = ff;
  video.insert(video.end(), {"-f",
                             "lavfi",
                             "-i",
                             "testsrc=size=" + size + ":rate=15",
                             "-t",
                             t,
                             "-c:v",
                             "mpeg4",
                             "-threads",
                             "1",
                             "-bf",
                             "0",
                             "-sc_threshold",
                             "1000000000",
                             "-g",
                             "30",
                             "-b:v",
                             width >= 320 ? "200k" : "60k",
                             "-flags:v",
                             "+bitexact",
                             "-fflags",
                             "+bitexact",
                             "-f",
                             "m4v",
                             prefix + ".m4v"});
  std::vector<std::string> audio = ff;
  audio.insert(audio.end(), {"-f", "lavfi", "-i", "sine=frequency=660:sample_rate=8000", "-t", t, "-ar", "8000", "-ac",
                             "1", "-c:a", "g726", "-b:a", "16k", "-f", "g726", prefix + ".g726"});
  if (rectest::run(video).status != 0 || rectest::run(audio).status != 0) return "";
  return prefix;
}

// Where a recording is opened, relative to the packet in which a key frame
// begins: with the packet before it as the newest, with it, or with the one
// after it.
enum class Moment { JustBefore, Exactly, JustAfter };

// Sits between the demultiplexer and a camera's recording side and opens
// the manual writer at one chosen packet, records a number of live packets
// and closes, all on the stream thread, so that the moment is exact.
class OpeningSink final : public net::PacketSink {
 public:
  struct Plan {
    int key_frame;  // the n-th key-frame start of the connection (1 = first)
    Moment moment;
    std::string path;
  };

  OpeningSink(CameraRecording& rec, std::vector<Plan> plans) : rec_(rec), plans_(std::move(plans)) {}

  void SetHeader(const std::uint8_t* bytes, std::uint32_t length) override {
    std::lock_guard lock(mutex_);
    if (header_.empty()) header_.assign(bytes, bytes + length);
    rec_.SetHeader(bytes, length);
  }

  void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t tick, std::uint32_t key_at) override {
    std::lock_guard lock(mutex_);
    const bool key = key_at != 0;
    if (key) {
      // A file that begins here begins with this packet less the payloads
      // ahead of the key frame.
      Bytes first(length);
      if (net::packet_from_payload(bytes, length, key_at, first.data()) != length) first.assign(bytes, bytes + length);
      key_packets_.push_back(first);
    }
    const bool before_this = key && due(Moment::JustBefore);
    if (before_this) open(key_packets_.size() - 1);  // the key frame before it
    rec_.AddPacket(bytes, length, tick, key_at);
    if (key && due(Moment::Exactly)) open(key_packets_.size());
    if (!key && previous_was_key_ && due(Moment::JustAfter)) open(key_packets_.size());
    previous_was_key_ = key;
    if (open_ && ++live_ >= kLivePackets) {
      RecordingWriter& w = rec_.manual_writer();
      ok_ = ok_ && w.Flush() >= 0;
      w.Close();
      open_ = false;
      ++next_;
    }
  }

  void StreamEnded() override { rec_.StreamEnded(); }

  bool finished() {
    std::lock_guard lock(mutex_);
    return next_ >= plans_.size();
  }
  bool ok() {
    std::lock_guard lock(mutex_);
    return ok_;
  }
  Bytes header() {
    std::lock_guard lock(mutex_);
    return header_;
  }
  // The packet each file must begin with: its key frame's, from the key
  // frame on.
  std::vector<Bytes> expected_first() {
    std::lock_guard lock(mutex_);
    return expected_;
  }

 private:
  // Fewer than two groups of pictures hold even at 160 x 128.
  static constexpr int kLivePackets = 12;

  bool due(Moment m) const {
    return !open_ && next_ < plans_.size() && plans_[next_].moment == m &&
           static_cast<int>(key_packets_.size()) == plans_[next_].key_frame;
  }
  // Opens the next planned file; it must begin with key frame number
  // `begins_with` (1-based) of the connection.
  void open(std::size_t begins_with) {
    ok_ = ok_ && begins_with >= 1 && rec_.manual_writer().Open(plans_[next_].path) == 1;
    expected_.push_back(begins_with >= 1 ? key_packets_[begins_with - 1] : Bytes());
    open_ = true;
    live_ = 0;
  }

  CameraRecording& rec_;
  std::vector<Plan> plans_;
  std::mutex mutex_;
  Bytes header_;
  std::vector<Bytes> key_packets_;
  std::vector<Bytes> expected_;
  std::size_t next_ = 0;
  bool open_ = false;
  bool previous_was_key_ = false;
  int live_ = 0;
  bool ok_ = true;
};

struct SizeCase {
  int width;
  int height;
};

class KeyFrameStart : public ::testing::TestWithParam<SizeCase> {};

}  // namespace

TEST_P(KeyFrameStart, FilesBeginWithAKeyFrameWheneverTheyOpen) {
  const SizeCase c = GetParam();
  const std::string clip = two_second_clip(c.width, c.height);
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
  test_support::CamsimProcess camsim({"--port", "0", "--user", "admin", "--password", "secret", "--fast", clip});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();

  platform::ScopedHeadlessUi ui;
  rectest::TempDir dir;
  CameraRecording rec;
  const std::vector<OpeningSink::Plan> plans = {
      {2, Moment::JustBefore, dir / "before.asf"},
      {4, Moment::Exactly, dir / "exactly.asf"},
      {6, Moment::JustAfter, dir / "after.asf"},
  };
  OpeningSink sink(rec, plans);
  net::CameraStream stream(0, 5);
  net::StreamSinks sinks;
  sinks.recording = &sink;
  stream.set_sinks(sinks);
  stream.set_account({"127.0.0.1", std::to_string(camsim.port()), "admin", "secret"});
  ASSERT_EQ(stream.start(), net::kStartOk);
  ASSERT_TRUE(test_support::wait_until([&] { return sink.finished(); }, 20000, 10));
  stream.stop();
  ASSERT_TRUE(sink.ok());

  const Bytes header = sink.header();
  const std::vector<Bytes> first = sink.expected_first();
  ASSERT_EQ(first.size(), plans.size());
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const std::string& path = plans[i].path;
    SCOPED_TRACE(path);
    const Bytes file = rectest::read_file(path);
    ASSERT_GT(file.size(), header.size() + first[i].size());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_EQ((file.size() - header.size()) % first[i].size(), 0u);
    EXPECT_TRUE(std::equal(first[i].begin(), first[i].end(), file.begin() + static_cast<long>(header.size())))
        << "the file does not begin where the key frame does";
    const std::vector<bool> keys = rectest::video_key_frames(path);
    ASSERT_FALSE(keys.empty());
    EXPECT_TRUE(keys.front()) << "ffprobe: the first video frame is no key frame";
    EXPECT_TRUE(rectest::decodes_cleanly(path));
  }
}

INSTANTIATE_TEST_SUITE_P(ClipSizes, KeyFrameStart,
                         ::testing::Values(SizeCase{640, 480}, SizeCase{320, 240}, SizeCase{160, 128}),
                         [](const auto& info) { return std::to_string(info.param.width); });

namespace {

// A camera's stream read by the demultiplexer, each packet stamped with the
// time a camera sends it (camsim's pacing, from the muxer), with a schedule
// pass every 250 ms of that time on a simulated clock that follows it.
class PacedSink final : public net::PacketSink {
 public:
  PacedSink(rectest::FakeCamera& cam, SimulatedClock& clock, ScheduleRecorder& loop, std::vector<std::uint32_t> due)
      : cam_(cam), clock_(clock), loop_(loop), due_(std::move(due)), start_ms_(clock.now_ms()) {}

  void SetHeader(const std::uint8_t* bytes, std::uint32_t length) override {
    cam_.connect(Bytes(bytes, bytes + length));
  }
  void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t, std::uint32_t key_at) override {
    const std::uint32_t due = due_.at(count_++);
    cam_.recording().AddPacket(bytes, length, due, key_at);
    const std::int64_t now = start_ms_ + due;
    if (clock_.now_ms() < now) clock_.advance_ms(now - clock_.now_ms());
    if (!moved_ && due >= motion_from_ms) {
      moved_ = true;
      moved_at_ms = due;
      cam_.set_motion_level(100);
      next_pass_ = due;  // the pass that sees it runs at once
    }
    if (due >= next_pass_) {
      loop_.run_pass();
      next_pass_ = due + 250;
      if (opened_at_ms < 0 && cam_.recording().motion_writer().IsOpen()) opened_at_ms = due;
    }
  }
  void StreamEnded() override {}

  std::uint32_t motion_from_ms = 0;  // motion is seen from the first packet sent this late
  std::int64_t moved_at_ms = -1;     // T: stream time of the packet with which motion began
  std::int64_t opened_at_ms = -1;    // stream time of the newest packet when the motion file opened

 private:
  rectest::FakeCamera& cam_;
  SimulatedClock& clock_;
  ScheduleRecorder& loop_;
  std::vector<std::uint32_t> due_;
  std::int64_t start_ms_;
  std::size_t count_ = 0;
  bool moved_ = false;
  std::uint32_t next_pass_ = 0;
};

}  // namespace

TEST(PreMotion, AMotionRecordingBeginsPreMotionSecondsBeforeTheMotion) {
  constexpr int kWidth = 160, kHeight = 128, kRate = 15, kGopMs = 2000;
  constexpr std::uint32_t kMotionMs = 9500, kEndMs = 11500;
  const std::string clip_prefix = two_second_clip(kWidth, kHeight, 12);
  ASSERT_FALSE(clip_prefix.empty());
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(clip_prefix, &clip, &error)) << error;

  // What camsim sends for this clip, with the times it sends each packet.
  clipkit::CameraMuxer muxer(clip, clipkit::MuxOptions{});
  Bytes stream = muxer.header();
  std::vector<std::uint32_t> due;
  for (;;) {
    const clipkit::AsfPacket p = muxer.next_packet();
    if (p.due_ms > kEndMs) break;
    stream.insert(stream.end(), p.bytes.begin(), p.bytes.end());
    due.push_back(p.due_ms);
  }

  rectest::TempDir dir;
  platform::ScopedHeadlessUi ui;
  SimulatedClock clock;
  clock.set_local(2005, 4, 12, 12, 0, 0);
  RecordingEnv env{&posix_file_system(), &clock, nullptr};
  RecordingSettings s;
  s.RecordPath = dir / "Record";
  s.MotionPath = dir / "Motion";
  s.PreMotion = 5;
  ASSERT_TRUE(posix_file_system().make_directory(s.MotionPath));
  SharedRecordingSettings settings(s);
  rectest::FakeCamera cam(env, "000e53000001");
  ASSERT_EQ(cam.recording().add_entry(kMotionWindow, kEveryDay, 1100, 120), 1);
  rectest::FakeCameraList list;
  list.cameras = {&cam};
  Notifier notifier;
  ScheduleRecorder loop(env, list, settings, notifier);
  PacedSink sink(cam, clock, loop, due);
  sink.motion_from_ms = kMotionMs;

  net::StreamSinks sinks;
  sinks.recording = &sink;
  net::StreamBuffers buffers;
  ASSERT_TRUE(buffers.allocate());
  std::atomic<bool> stop{false}, muted{false};
  net::AsfDemux demux;
  net::BufferByteSource source(stream, net::kStreamWindowBytes);
  (void)demux.run(source, sinks, buffers, net::DemuxControl{&stop, &muted});
  loop.run_pass();  // writes the last packets
  ASSERT_GE(sink.moved_at_ms, kMotionMs);
  ASSERT_EQ(sink.opened_at_ms, sink.moved_at_ms);  // opened by that motion, at once
  cam.recording().motion_writer().Close();

  const auto names = rectest::list_names(dir / "Motion/000e53000001");
  ASSERT_EQ(names.size(), 1u);
  const std::string file = dir / ("Motion/000e53000001/" + names[0]);
  EXPECT_TRUE(rectest::decodes_cleanly(file));

  // Our pictures of the recording, and ffmpeg's of the clip.
  const std::string ours = dir / "ours.yuv", theirs = dir / "theirs.yuv";
  ASSERT_EQ(rectest::run({std::string(CAMVIEWER_BIN_DIR) + "/asf2yuv", "--no-deblock", file, ours}).status, 0);
  ASSERT_EQ(rectest::run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip_prefix + ".m4v", "-f", "rawvideo",
                          "-pix_fmt", "yuv420p", theirs})
                .status,
            0);
  const Bytes recorded = rectest::read_file(ours), reference = rectest::read_file(theirs);
  const std::size_t picture = kWidth * kHeight * 3 / 2;
  ASSERT_GT(recorded.size(), 0u);
  ASSERT_EQ(recorded.size() % picture, 0u);
  const std::size_t clip_pictures = reference.size() / picture;
  ASSERT_GE(clip_pictures, static_cast<std::size_t>(12 * kRate));
  // The clip's picture each recorded picture is; they must follow one
  // another from the first on.
  auto best_match = [&](std::size_t i) {
    std::size_t best = 0;
    double best_db = 0;
    for (std::size_t k = 0; k < clip_pictures; ++k) {
      const double db = test_support::psnr(&recorded[i * picture], &reference[k * picture], picture);
      if (db > best_db) best_db = db, best = k;
    }
    EXPECT_GT(best_db, 40.0) << "recorded picture " << i << " is none of the clip's";
    return best;
  };
  const std::size_t first = best_match(0);
  const double first_s = static_cast<double>(first) / kRate;
  const double from_s = static_cast<double>(sink.moved_at_ms - 5000) / 1000.0;
  EXPECT_EQ(first % (kGopMs * kRate / 1000), 0u) << "not a key frame";
  EXPECT_LE(first_s, from_s) << "the recording does not reach back 5 s";
  EXPECT_GT(first_s, from_s - kGopMs / 1000.0) << "more than one group of pictures further";
  const std::size_t pictures = recorded.size() / picture;
  for (std::size_t i = 1; i < pictures; i += 7) EXPECT_EQ(best_match(i), first + i) << "picture " << i;
  EXPECT_EQ(best_match(pictures - 1), first + pictures - 1);
  // Through to the end of the stream.
  EXPECT_GE(static_cast<double>(first + pictures) / kRate, kEndMs / 1000.0 - 0.3);
}
