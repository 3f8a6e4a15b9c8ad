// Ending the program: a recording process that is killed, and an orderly
// shutdown of the recording loops while a camera streams.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "record_fixtures.h"
#include "tools/clipkit/asf.h"
#include "viewer/net/asf_demux.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/recording_service.h"

extern char** environ;

using namespace record;

namespace {

// Starts record_child with args, waits until out holds at least `bytes`,
// kills it with SIGKILL and reaps it.
::testing::AssertionResult kill_while_recording(std::vector<std::string> args, const std::string& out,
                                                std::size_t bytes) {
  args.insert(args.begin(), RECORD_CHILD);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return ::testing::AssertionFailure() << "record_child did not start";
  for (int i = 0; i < 2000 && (!rectest::exists(out) || rectest::read_file(out).size() < bytes); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (::kill(pid, SIGKILL) != 0) return ::testing::AssertionFailure() << "kill failed";
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return ::testing::AssertionFailure() << "not reaped";
  if (!WIFSIGNALED(status)) return ::testing::AssertionFailure() << "record_child ended by itself: " << status;
  return ::testing::AssertionSuccess();
}

// Where in a camera packet the payload that begins a key frame is (0: none).
std::uint32_t key_frame_at(const std::vector<std::uint8_t>& p) {
  std::uint32_t at = 14;
  for (int n = p[13] & 0x3F; n > 0; --n) {
    const std::uint32_t offset =
        p[at + 2] | p[at + 3] << 8 | p[at + 4] << 16 | static_cast<std::uint32_t>(p[at + 5]) << 24;
    if (p[at] == 0x81 && offset == 0 && p[at + 6] != 0) return at;
    const std::uint32_t next = at + 7 + p[at + 6];
    at = next + 2 + (p[next] | p[next + 1] << 8);
  }
  return 0;
}

}  // namespace

TEST(Shutdown, KilledRecorderLeavesAPlayableFile) {
  rectest::TempDir dir;
  const auto& clip = rectest::asf_clip();
  rectest::write_file(dir / "header", clip.header);
  // Fewer packets than the clip has, looped: each loop replays a valid stretch.
  std::vector<std::uint8_t> packets;
  for (std::size_t i = 0; i < clip.packets.size(); ++i)
    packets.insert(packets.end(), clip.packets[i].begin(), clip.packets[i].end());
  rectest::write_file(dir / "packets", packets);
  const std::string out = dir / "LAN_20050412_100000.asf";
  // Killed once a good part of the clip (but not all of it) is on disk.
  ASSERT_TRUE(kill_while_recording({out, dir / "header", dir / "packets", std::to_string(clip.packet_size)}, out,
                                   clip.header.size() + (clip.packets.size() / 2) * clip.packet_size));

  const auto file = rectest::read_file(out);
  std::size_t n = 0;
  ASSERT_TRUE(rectest::is_header_and_whole_packets(file, &n));
  EXPECT_GE(n, clip.packets.size() / 2);
  // Trimmed to the clip's length so that timestamps run forward, ffmpeg plays it.
  if (n > clip.packets.size()) {
    const std::vector<std::uint8_t> first(
        file.begin(), file.begin() + static_cast<long>(clip.header.size() + clip.packets.size() * clip.packet_size));
    rectest::write_file(out, first);
  }
  EXPECT_TRUE(rectest::decodes_cleanly(out));
}

TEST(Shutdown, KilledWhileWritingAPreMotionFileLeavesWholePacketsFfmpegPlays) {
  rectest::TempDir dir;
  // camsim's small clip (a key frame every second) as the camera sends it,
  // 30 seconds of it.
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(std::string(CAMVIEWER_CLIPS_DIR) + "/small", &clip, &error)) << error;
  clipkit::CameraMuxer muxer(clip, clipkit::MuxOptions{});
  std::vector<std::vector<std::uint8_t>> sent;
  std::vector<std::uint8_t> packets, keys;
  for (clipkit::AsfPacket p = muxer.next_packet(); p.due_ms < 30000; p = muxer.next_packet()) {
    sent.push_back(p.bytes);
    packets.insert(packets.end(), sent.back().begin(), sent.back().end());
    const std::uint32_t at = key_frame_at(sent.back());
    for (int b = 0; b < 4; ++b) keys.push_back(static_cast<std::uint8_t>(at >> (8 * b)));
  }
  const std::uint32_t size = clipkit::kDefaultPacketBytes;
  rectest::write_file(dir / "header", muxer.header());
  rectest::write_file(dir / "packets", packets);
  rectest::write_file(dir / "keys", keys);
  // A packet every 100 ms; motion at packet 60 (6.0 s) with two seconds of
  // pre-roll: the file begins at the last key frame by 4.0 s.
  constexpr std::size_t kOpenAt = 60;
  std::size_t k0 = 40;
  while (k0 > 0 && key_frame_at(sent[k0]) == 0) --k0;
  ASSERT_NE(key_frame_at(sent[k0]), 0u);
  const std::string out = dir / "LAN_20050412_100000.asf";
  const std::size_t kept = kOpenAt + 1 - k0;
  ASSERT_TRUE(kill_while_recording({out, dir / "header", dir / "packets", std::to_string(size), dir / "keys", "2000",
                                    std::to_string(kOpenAt), "100"},
                                   out, muxer.header().size() + (kept + 20) * size));

  const auto file = rectest::read_file(out);
  const std::vector<std::uint8_t>& header = muxer.header();
  ASSERT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
  ASSERT_EQ((file.size() - header.size()) % size, 0u) << "ends mid-packet";
  const std::size_t n = (file.size() - header.size()) / size;
  ASSERT_GE(n, kept + 20);
  // The key frame's packet (less what comes ahead of the key frame), then
  // the stream's packets one after another.
  std::vector<std::uint8_t> first(size);
  if (net::packet_from_payload(sent[k0].data(), size, key_frame_at(sent[k0]), first.data()) != size) first = sent[k0];
  EXPECT_TRUE(std::equal(first.begin(), first.end(), file.begin() + static_cast<long>(header.size())));
  for (std::size_t i = 1; i < n && k0 + i < sent.size(); ++i)
    ASSERT_TRUE(std::equal(sent[k0 + i].begin(), sent[k0 + i].end(),
                           file.begin() + static_cast<long>(header.size() + i * size)))
        << "packet " << i;
  const std::vector<bool> key_frames = rectest::video_key_frames(out);
  ASSERT_FALSE(key_frames.empty());
  EXPECT_TRUE(key_frames.front());
  EXPECT_TRUE(rectest::decodes_cleanly(out));
}

TEST(Shutdown, LoopsStopBeforeFilesCloseOnAPacketBoundary) {
  rectest::TempDir dir;
  platform::ScopedHeadlessUi ui;
  const auto& clip = rectest::asf_clip();
  RecordingSettings s;
  s.RecordPath = dir / "Record";
  s.MotionPath = dir / "Motion";
  s.InstanceTime = 60;
  ASSERT_TRUE(posix_file_system().make_directory(s.RecordPath));
  ASSERT_TRUE(posix_file_system().make_directory(s.MotionPath));
  SharedRecordingSettings settings(s);
  RecordingEnv env;  // real clock and disk
  rectest::FakeCamera a(env, "00aabbccdd01"), b(env, "00aabbccdd02");
  rectest::FakeCameraList list;
  list.cameras = {&a, &b};
  a.connect(clip.header);
  b.connect(clip.header);
  ASSERT_EQ(b.recording().add_entry(kScheduleWindow, kEveryDay, 0, 1439), 1);  // all day but a minute

  auto service = std::make_unique<RecordingService>(env, list, settings);
  service->start();
  ASSERT_EQ(service->manual().start_manual(a), 1);
  std::atomic<bool> streaming{true};
  std::thread stream([&] {
    for (std::size_t i = 0; streaming.load(); ++i) {
      a.feed_clip(i);
      b.feed_clip(i);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto t0 = std::chrono::steady_clock::now();
  service->shutdown();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_FALSE(a.recording().manual_writer().IsOpen());
  EXPECT_FALSE(b.recording().schedule_writer().IsOpen());
  streaming = false;
  stream.join();

  std::size_t files = 0;
  for (const std::string& cam : {std::string("00aabbccdd01"), std::string("00aabbccdd02")}) {
    for (const auto& n : rectest::list_names(dir / ("Record/" + cam))) {
      ++files;
      std::size_t packets = 0;
      EXPECT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(dir / ("Record/" + cam + "/" + n)), &packets))
          << n;
      EXPECT_GT(packets, 0u) << n;
    }
  }
  // One manual recording; the schedule window may have been current, or not
  // in its one minute of the day.
  EXPECT_GE(files, 1u);
  service.reset();
}
