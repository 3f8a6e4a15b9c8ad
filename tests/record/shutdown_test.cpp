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
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/recording_service.h"

extern char** environ;

using namespace record;

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

  std::string child = RECORD_CHILD, a1 = out, a2 = dir / "header", a3 = dir / "packets",
              a4 = std::to_string(clip.packet_size);
  char* argv[] = {child.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, child.c_str(), nullptr, nullptr, argv, environ), 0);
  // Kill it once a good part of the clip (but not all of it) is on disk.
  const std::size_t target = clip.header.size() + (clip.packets.size() / 2) * clip.packet_size;
  for (int i = 0; i < 1000 && (!rectest::exists(out) || rectest::read_file(out).size() < target); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status));

  const auto file = rectest::read_file(out);
  std::size_t n = 0;
  ASSERT_TRUE(rectest::is_header_and_whole_packets(file, &n));
  EXPECT_GE(n, clip.packets.size() / 2);
  // Trimmed to the clip's length so that timestamps run forward, ffmpeg plays it.
  if (n > clip.packets.size()) {
    const std::vector<std::uint8_t> first(file.begin(), file.begin() + static_cast<long>(clip.header.size() +
                                                                                         clip.packets.size() * clip.packet_size));
    rectest::write_file(out, first);
  }
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
