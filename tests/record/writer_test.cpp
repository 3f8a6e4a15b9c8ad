#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "record_fixtures.h"
#include "viewer/record/analysis_tool.h"
#include "viewer/record/period_trailer.h"
#include "viewer/record/recording_writer.h"

using namespace record;
using rectest::asf_clip;
using rectest::TempDir;

namespace {

void add(RecordingWriter& w, const std::vector<std::uint8_t>& p) {
  w.AddPacket(p.data(), static_cast<std::uint32_t>(p.size()), 0);
}

void set_header(RecordingWriter& w, const std::vector<std::uint8_t>& h) {
  (void)w.SetHeader(h.data(), static_cast<std::uint32_t>(h.size()));
}

std::string tool_path() { return std::string(CAMVIEWER_BIN_DIR) + "/asfperiod"; }

bool wait_for_tool(AnalysisTool& tool) {
  for (int i = 0; i < 500; ++i) {
    if (tool.reap() == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(RecordingWriter, FileIsTheStreamHeaderThenWholePacketsAndPlays) {
  TempDir dir;
  const auto& clip = asf_clip();
  RecordingWriter w;
  // A header from an earlier connection is replaced by the current one.
  std::vector<std::uint8_t> old_header(clip.header.size(), 0x55);
  set_header(w, old_header);
  ASSERT_EQ(w.Open(dir / "LAN_20050412_153000.asf"), 1);
  set_header(w, clip.header);
  for (std::size_t i = 3; i < clip.packets.size(); ++i) add(w, clip.packets[i]);
  ASSERT_EQ(w.Flush(), 1);
  w.Close();

  const auto file = rectest::read_file(dir / "LAN_20050412_153000.asf");
  std::size_t packets = 0;
  ASSERT_TRUE(rectest::is_header_and_whole_packets(file, &packets));
  EXPECT_EQ(packets, clip.packets.size() - 3);
  // In arrival order, byte for byte.
  for (std::size_t i = 3; i < clip.packets.size(); ++i)
    EXPECT_TRUE(std::equal(clip.packets[i].begin(), clip.packets[i].end(),
                           file.begin() + static_cast<long>(clip.header.size() + (i - 3) * clip.packet_size)));
  EXPECT_EQ(rectest::probe_streams(dir / "LAN_20050412_153000.asf"),
            (std::vector<std::string>{"audio:adpcm_g726", "video:mpeg4"}));
  EXPECT_TRUE(rectest::decodes_cleanly(dir / "LAN_20050412_153000.asf", /*allow_no_keyframe_start=*/true));
}

TEST(RecordingWriter, PacketsOfAnEndedConnectionNeverReachTheNextFile) {
  TempDir dir;
  const auto& clip = asf_clip();
  RecordingWriter w;
  set_header(w, clip.header);
  ASSERT_EQ(w.Open(dir / "a.asf"), 1);
  for (int i = 0; i < 5; ++i) add(w, clip.packets[static_cast<std::size_t>(i)]);
  w.Close();  // the connection ends with packets still queued
  // The loop reopens as soon as the new header is in, before any packet of
  // the new connection has come.
  set_header(w, clip.header);
  ASSERT_EQ(w.Open(dir / "b.asf"), 1);
  EXPECT_EQ(w.queued(), 0u);
  add(w, clip.packets[10]);
  ASSERT_EQ(w.Flush(), 1);
  EXPECT_EQ(w.length(), clip.header.size() + clip.packet_size);
  w.Close();
}

TEST(RecordingWriter, FilesOf230BytesOrLessAreDeletedOnClose) {
  TempDir dir;
  RecordingWriter w;
  ASSERT_EQ(w.Open(dir / "empty.asf"), 1);
  w.Close();  // nothing written
  EXPECT_FALSE(rectest::exists(dir / "empty.asf"));

  for (std::size_t size : {230u, 231u}) {
    const std::string path = dir / ("h" + std::to_string(size) + ".asf");
    set_header(w, std::vector<std::uint8_t>(size, 7));
    ASSERT_EQ(w.Open(path), 1);
    ASSERT_EQ(w.WriteHeader(true), 1);
    w.Close();
    EXPECT_EQ(rectest::exists(path), size == 231) << size;
  }
  EXPECT_FALSE(w.IsOpen());
  EXPECT_TRUE(w.path().empty());
}

TEST(RecordingWriter, OpenCreatesExclusively) {
  TempDir dir;
  const std::string path = dir / "taken.asf";
  rectest::write_file(path, {1, 2, 3});
  RecordingWriter w;
  EXPECT_EQ(w.Open(path), 0);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(rectest::read_file(path), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(w.Open(dir / "missing-folder/x.asf"), 0);

  ASSERT_EQ(w.Open(dir / "a.asf"), 1);
  EXPECT_EQ(w.Open(dir / "b.asf"), -1);  // one file at a time
  EXPECT_EQ(w.path(), dir / "a.asf");
  w.Close();
}

TEST(RecordingWriter, FlushWritesWhatWasQueuedAtItsStart) {
  TempDir dir;
  const auto& clip = asf_clip();
  RecordingWriter w;
  add(w, clip.packets[0]);
  EXPECT_EQ(w.Flush(), 0);  // no file
  ASSERT_EQ(w.Open(dir / "f.asf"), 1);
  EXPECT_EQ(w.Flush(), 0);  // packets but no header: nothing written
  w.ClearQueue();
  set_header(w, clip.header);
  EXPECT_EQ(w.Flush(), 0);  // nothing queued

  // Ten queued; each write brings a new packet, as a live stream does.
  struct Ctx {
    RecordingWriter* w;
    const rectest::AsfClip* clip;
    int arrivals = 0;
  } ctx{&w, &clip};
  w.set_written_hook(
      [](void* c, std::uint32_t, std::uint32_t) {
        auto* x = static_cast<Ctx*>(c);
        add(*x->w, x->clip->packets[10 + static_cast<std::size_t>(x->arrivals++ % 10)]);
      },
      &ctx);
  for (int i = 0; i < 10; ++i) add(w, clip.packets[static_cast<std::size_t>(i)]);
  ASSERT_EQ(w.Flush(), 1);
  EXPECT_EQ(ctx.arrivals, 10);
  EXPECT_EQ(w.queued(), 10u);
  EXPECT_EQ(w.length(), clip.header.size() + 10 * clip.packet_size);
  w.set_written_hook(nullptr, nullptr);
  ASSERT_EQ(w.Flush(), 1);
  EXPECT_EQ(w.length(), clip.header.size() + 20 * clip.packet_size);
  w.Close();
  std::size_t n = 0;
  EXPECT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(dir / "f.asf"), &n));
  EXPECT_EQ(n, 20u);
}

TEST(RecordingWriter, DiskFullEndsTheFileOnAPacketBoundary) {
  TempDir dir;
  const auto& clip = asf_clip();
  rectest::FailingFileSystem fs;
  RecordingEnv env;
  env.fs = &fs;
  RecordingWriter w(env);
  set_header(w, clip.header);
  ASSERT_EQ(w.Open(dir / "full.asf"), 1);
  // Room for the header and three and a half packets.
  fs.write_budget = static_cast<std::int64_t>(clip.header.size() + 3 * clip.packet_size + clip.packet_size / 2);
  for (int i = 0; i < 10; ++i) add(w, clip.packets[static_cast<std::size_t>(i)]);
  EXPECT_EQ(w.Flush(), -1);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_TRUE(w.write_failed());
  EXPECT_EQ(w.Flush(), 0);  // closed: later flushes report nothing more

  std::size_t n = 0;
  const auto file = rectest::read_file(dir / "full.asf");
  ASSERT_TRUE(rectest::is_header_and_whole_packets(file, &n));
  EXPECT_EQ(n, 3u);
  EXPECT_TRUE(rectest::decodes_cleanly(dir / "full.asf"));

  // Not even the header fits: nothing is left behind; a new file clears the flag.
  fs.write_budget = 100;
  ASSERT_EQ(w.Open(dir / "tiny.asf"), 1);
  EXPECT_FALSE(w.write_failed());
  add(w, clip.packets[0]);
  EXPECT_EQ(w.Flush(), -1);
  EXPECT_FALSE(rectest::exists(dir / "tiny.asf"));
}

TEST(RecordingWriter, CloseFromAnotherThreadLeavesWholePackets) {
  TempDir dir;
  const auto& clip = asf_clip();
  for (int round = 0; round < 5; ++round) {
    RecordingWriter w;
    set_header(w, clip.header);
    const std::string path = dir / ("t" + std::to_string(round) + ".asf");
    ASSERT_EQ(w.Open(path), 1);
    std::atomic<bool> done{false};
    std::thread stream([&] {
      for (std::size_t i = 0; !done.load(); ++i) {
        if (w.IsOpen())
          add(w, clip.packets[i % clip.packets.size()]);
        else
          w.ClearQueue();
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
    std::thread flusher([&] {  // a recording loop: flush, short wait, again
      while (!done.load()) {
        (void)w.Flush();
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + round * 5));
    w.Close();  // the stream's clean-up
    done = true;
    stream.join();
    flusher.join();
    EXPECT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(path))) << round;
  }
}

TEST(AnalysisTool, ArgumentCarriesPathPeriodAndCount) {
  SimulatedClock clock;
  LocalTime start{2005, 4, 12, 15, 30, 0};
  const std::int64_t t0 = clock.seconds_from_local(start);
  const std::string path = "/rec/00aabbccddee/LAN_20050412_153000.asf";
  std::string arg;
  ASSERT_TRUE(analysis_argument(path, t0 + 45, clock, &arg));
  EXPECT_EQ(arg, path + "~KS2005/04/12   15:30,2005/04/12   15:30~1");
  ASSERT_TRUE(analysis_argument(path, t0 + 3600, clock, &arg));
  EXPECT_EQ(arg, path + "~KS2005/04/12   15:30,2005/04/12   16:30~72");
  EXPECT_EQ(period_count(t0, t0 + 60), 1);
  EXPECT_EQ(period_count(t0, t0 + 61), 1);
  EXPECT_EQ(period_count(t0, t0 + 100), 2);
  EXPECT_FALSE(analysis_argument("/rec/notarecording.asf", t0, clock, &arg));

  // The path may hold '~' and blanks; the split takes period and count from the end.
  std::string p, period;
  int count = 0;
  ASSERT_TRUE(split_analysis_argument(
      "/home/a~b/my rec/LAN_20050412_153000.asf~KS2005/04/12   15:30,2005/04/12   16:30~72", &p, &period, &count));
  EXPECT_EQ(p, "/home/a~b/my rec/LAN_20050412_153000.asf");
  EXPECT_EQ(period, "KS2005/04/12   15:30,2005/04/12   16:30");
  EXPECT_EQ(count, 72);
  EXPECT_FALSE(split_analysis_argument("no-tildes", &p, &period, &count));
  EXPECT_FALSE(split_analysis_argument("/a~KS~x", &p, &period, &count));
}

TEST(AnalysisTool, ClosedRecordingGetsItsPeriodTrailerOnce) {
  TempDir dir;
  const auto& clip = asf_clip();
  SimulatedClock clock;
  clock.set_local(2005, 4, 12, 16, 30, 0);
  AnalysisTool tool(tool_path());
  RecordingEnv env;
  env.clock = &clock;
  env.tool = &tool;
  const std::string path = dir / "my recs ~1/LAN_20050412_153000.asf";
  ASSERT_TRUE(posix_file_system().make_directory(dir / "my recs ~1"));
  {
    RecordingWriter w(env);
    set_header(w, clip.header);
    ASSERT_EQ(w.Open(path), 1);
    for (const auto& p : clip.packets) add(w, p);
    ASSERT_EQ(w.Flush(), 1);
    w.Close();
  }
  ASSERT_TRUE(wait_for_tool(tool));
  std::string start, end;
  read_period_trailer(path, &start, &end);
  EXPECT_EQ(start, "2005/04/12   15:30");
  EXPECT_EQ(end, "2005/04/12   16:30");
  const auto file = rectest::read_file(path);
  EXPECT_EQ(file.size(), clip.header.size() + clip.packets.size() * clip.packet_size + kPeriodTrailerSize);
  EXPECT_TRUE(rectest::decodes_cleanly(path));

  // A second run does not add a second trailer; a file that is not ASF is left alone.
  EXPECT_EQ(rectest::run({tool_path(), path + "~KS2005/04/12   15:30,2005/04/12   16:30~72"}).status, 0);
  EXPECT_EQ(rectest::read_file(path).size(), file.size());
  rectest::write_file(dir / "notes_20050412_153000.asf", std::vector<std::uint8_t>(500, 'x'));
  EXPECT_EQ(
      rectest::run({tool_path(), dir / "notes_20050412_153000.asf~KS2005/04/12   15:30,2005/04/12   16:30~72"}).status,
      2);
  EXPECT_EQ(rectest::read_file(dir / "notes_20050412_153000.asf").size(), 500u);
  EXPECT_EQ(rectest::run({tool_path(), "garbage"}).status, 1);
}

TEST(AnalysisTool, AMissingToolChangesNothing) {
  TempDir dir;
  const auto& clip = asf_clip();
  AnalysisTool tool(dir / "no-such-tool");
  EXPECT_EQ(tool.start("x~KS~1"), 0);
  RecordingEnv env;
  env.tool = &tool;
  RecordingWriter w(env);
  set_header(w, clip.header);
  const std::string path = dir / "LAN_20050412_153000.asf";
  ASSERT_EQ(w.Open(path), 1);
  add(w, clip.packets[0]);
  ASSERT_EQ(w.Flush(), 1);
  w.Close();
  EXPECT_EQ(rectest::read_file(path).size(), clip.header.size() + clip.packet_size);
  EXPECT_EQ(tool.reap(), 0u);
}

TEST(PeriodTrailer, ReadsOnlyWhatStartsWithKS) {
  std::uint8_t t[kPeriodTrailerSize];
  std::string start, end;
  ASSERT_TRUE(make_period_trailer("KS2005/04/12   15:30,2005/04/12   16:30", t));
  parse_period_trailer(t, sizeof t, &start, &end);
  EXPECT_EQ(start, "2005/04/12   15:30");
  EXPECT_EQ(end, "2005/04/12   16:30");

  std::uint8_t other[kPeriodTrailerSize] = {};
  std::memcpy(other, "XX2005/04/12   15:30,2005/04/12   16:30", 39);
  parse_period_trailer(other, sizeof other, &start, &end);
  EXPECT_TRUE(start.empty());
  EXPECT_TRUE(end.empty());
  parse_period_trailer(t, 49, &start, &end);  // too short
  EXPECT_TRUE(start.empty());
  EXPECT_FALSE(make_period_trailer(std::string(50, 'K'), t));

  TempDir dir;
  rectest::write_file(dir / "short.asf", std::vector<std::uint8_t>(20, 'K'));
  read_period_trailer(dir / "short.asf", &start, &end);
  EXPECT_TRUE(start.empty());
  read_period_trailer(dir / "absent.asf", &start, &end);
  EXPECT_TRUE(end.empty());
}
