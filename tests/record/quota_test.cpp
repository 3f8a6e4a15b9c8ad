// The disk quota: measuring a camera's folder, stopping at the limit, and
// making room by deleting the oldest files.
#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <set>

#include "loop_rig.h"

using namespace record;
using rectest::LoopRig;

namespace {

void make_sized(const std::string& path, std::uint64_t size, std::int64_t mtime_s = 0) {
  rectest::write_file(path, {});
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  if (mtime_s != 0) {
    timeval times[2] = {{mtime_s, 0}, {mtime_s, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
  }
}

void limit(LoopRig& rig, int disk_limit, int max_ins, int write_stop, int max_mot = 0) {
  static int a, b, c, d;
  a = disk_limit, b = max_ins, c = write_stop, d = max_mot;
  rig.update([](RecordingSettings& s) {
    s.DiskLimit = a;
    s.MaxInsSpace = b;
    s.WriteStop = c;
    s.MaxMotSpace = d;
    s.InstanceTime = 60;
  });
}

}  // namespace

TEST(DiskQuota, MeasuresWholeMegabytesAgainstTheLimit) {
  LoopRig rig;
  DiskQuota quota(rig.fs, rig.clock);
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));

  limit(rig, 0, 0, 1);
  EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaOk);
  EXPECT_EQ(rig.fs.listings, 0);  // no limit: the folder is never even listed

  // The limit on without a quota above 0 MB: stop (as "Stop recording."),
  // whatever WriteStop says, and without even listing the folder.
  for (int write_stop : {0, 1}) {
    for (int missing : {0, -20}) {
      limit(rig, 1, missing, write_stop);
      EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaNoValue);
      EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Motion), kQuotaNoValue);
    }
  }
  EXPECT_EQ(rig.fs.listings, 0);

  limit(rig, 1, 5, 1);
  make_sized(rig.record_dir() + "/LAN_20050412_100000.asf", 2999999);
  make_sized(rig.record_dir() + "/LAN_20050412_110000.asf", 2000000);
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir() + "/sub"));  // folders do not count
  make_sized(rig.record_dir() + "/sub/big", 9000000);
  EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaOk);
  make_sized(rig.record_dir() + "/x", 1);  // 5,000,000 bytes
  EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaFull);

  // Files over 4 GiB count in full.
  limit(rig, 1, 5000, 1);
  make_sized(rig.record_dir() + "/huge", 5000000000ull);
  EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaFull);

  // Over the limit with "overwrite" but nothing of this camera open: nothing
  // is deleted before a recording exists.
  limit(rig, 1, 1, 0);
  EXPECT_EQ(quota.check(rig.settings.recording_settings(), rig.cam, RecordFolder::Record), kQuotaOk);
  EXPECT_EQ(rig.fs.removals, 0);
}

TEST(DiskQuota, ReclaimDeletesOldestFirstAndNeverTheCurrentFile) {
  rectest::TempDir dir;
  SimulatedClock clock;
  rectest::FailingFileSystem fs;
  DiskQuota quota(fs, clock);
  const std::string d = dir.path();
  const std::int64_t recent = clock.seconds_from_local(LocalTime{2006, 1, 1, 0, 0, 0});
  const std::int64_t old = clock.seconds_from_local(LocalTime{2003, 1, 1, 0, 0, 0});
  // The name's time counts before the file's modification time.
  make_sized(d + "/LAN_20040101_000000.asf", 1000000, recent);
  make_sized(d + "/LAN_20050101_000000.asf", 1000000, old);
  make_sized(d + "/notes.txt", 1500000, old + 86400);  // no time in its name: 2003-01-02
  make_sized(d + "/LAN_20050601_000000.asf", 1000000, old);
  make_sized(d + "/LAN_20050701_000000.asf", 1000000, old);
  make_sized(d + "/LAN_20030101_000000.asf", 10, old);  // the oldest, but being written
  EXPECT_EQ(quota.reclaim(d, d + "/LAN_20030101_000000.asf"), kQuotaOk);
  // 2003-01-02 notes, 2004 and 2005-01 recordings: 3,500,000 bytes > 3,000,000.
  EXPECT_EQ(rectest::list_names(d), (std::vector<std::string>{"LAN_20030101_000000.asf", "LAN_20050601_000000.asf",
                                                              "LAN_20050701_000000.asf"}));

  EXPECT_EQ(quota.reclaim(d, d + "/LAN_20030101_000000.asf"), kQuotaOk);  // frees what is left
  EXPECT_EQ(quota.reclaim(d, d + "/LAN_20030101_000000.asf"), kQuotaOnlyCurrent);
  EXPECT_EQ(rectest::list_names(d), std::vector<std::string>{"LAN_20030101_000000.asf"});
  EXPECT_EQ(quota.reclaim(d + "/missing", d + "/x"), kQuotaFull);
  make_sized(d + "/empty.asf", 0);
  EXPECT_EQ(quota.reclaim(d, d + "/LAN_20030101_000000.asf"), kQuotaFull);  // nothing freed
}

TEST(DiskQuota, StopRecordingAtTheLimitSaysSpaceFull) {
  LoopRig rig;
  limit(rig, 1, 5, 1);
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));
  make_sized(rig.record_dir() + "/LAN_20050101_000000.asf", 6000000);
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  rig.cam.popup = true;
  ASSERT_EQ(rig.manual.record_action(rig.cam), kRecordStarted);
  rig.manual.run_pass();
  auto& rec = rig.cam.recording();
  EXPECT_FALSE(rec.manual_request);
  EXPECT_FALSE(rec.recording_indicator);
  EXPECT_EQ(rig.cam.button_resets, 1);
  // The file the start opened was still empty, so it is gone again.
  EXPECT_EQ(rectest::list_names(rig.record_dir()), std::vector<std::string>{"LAN_20050101_000000.asf"});
  const auto shown = rig.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "space full!");
  EXPECT_EQ(shown[0].caption, "warning");
}

TEST(DiskQuota, OverwriteKeepsRecordingWithinTheLimit) {
  LoopRig rig;
  limit(rig, 1, 4, 0);
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));
  make_sized(rig.record_dir() + "/LAN_20050101_000000.asf", 3500000);
  rig.packet_interval_ms = 10;  // 320 kB/s
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
  auto& rec = rig.cam.recording();
  std::uint64_t largest = 0;
  std::set<std::string> seen;
  DiskQuota measure(posix_file_system(), rig.clock);
  rig.manual_until(rig.at(2005, 4, 12, 10, 1, 0), [&] {
    largest = std::max(largest, measure.folder_bytes(rig.record_dir()));
    for (const auto& n : rectest::list_names(rig.record_dir())) seen.insert(n);
    return false;
  });
  EXPECT_TRUE(rec.manual_request);  // still recording
  // The old file went first; then the recording turned over its own files,
  // each a little over one reclaim step.
  const auto names = rectest::list_names(rig.record_dir());
  EXPECT_EQ(std::count(names.begin(), names.end(), "LAN_20050101_000000.asf"), 0);
  EXPECT_GE(names.size(), 1u);
  EXPECT_LE(names.size(), 2u);
  EXPECT_LT(largest, 4100000u);  // the limit and a pass's packets
  EXPECT_GE(seen.size(), 5u);    // 19 MB recorded in files of about 3 MB
  for (const auto& n : names) EXPECT_EQ(n.rfind("LAN_R_20050412_10", 0), 0u) << n;
  EXPECT_TRUE(rig.shown().empty());
}

TEST(DiskQuota, MotionRecordingsAreMeasuredAndReclaimedInTheMotionFolder) {
  LoopRig rig;
  limit(rig, 1, 100, 0, 2);
  ASSERT_TRUE(posix_file_system().make_directory(rig.motion_dir()));
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));
  make_sized(rig.motion_dir() + "/LAN_20050101_000000.asf", 3100000);
  make_sized(rig.record_dir() + "/LAN_20050101_000000.asf", 3100000);
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  rig.cam.set_motion_level(100);
  ASSERT_EQ(rig.cam.recording().add_entry(kMotionWindow, kEveryDay, 930, 120), 1);
  rig.schedule_until(rig.at(2005, 4, 12, 10, 0, 5));
  EXPECT_TRUE(rig.cam.recording().motion_writer().IsOpen());
  // The old motion file made room; the schedule folder was not touched.
  EXPECT_FALSE(rectest::exists(rig.motion_dir() + "/LAN_20050101_000000.asf"));
  EXPECT_TRUE(rectest::exists(rig.record_dir() + "/LAN_20050101_000000.asf"));
}

// Seen before: with "Overwrite oldest file." and MaxInsSpace missing (0) or
// negative, every older recording of the camera was deleted within seconds,
// without a word.
TEST(DiskQuota, LimitWithoutAQuotaValueStopsAndDeletesNothing) {
  for (int missing : {0, -5}) {
    SCOPED_TRACE(missing);
    LoopRig rig;
    limit(rig, 1, missing, 0);
    ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));
    make_sized(rig.record_dir() + "/LAN_20050101_000000.asf", 3100000);
    make_sized(rig.record_dir() + "/LAN_20050102_000000.asf", 3100000);
    rig.set_time(2005, 4, 12, 10, 0, 0);
    rig.cam.connect(rectest::asf_clip().header);
    ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
    rig.manual_until(rig.at(2005, 4, 12, 10, 0, 10));
    EXPECT_FALSE(rig.cam.recording().manual_request);
    // Only the recording's own file, still empty, went again.
    EXPECT_EQ(rectest::list_names(rig.record_dir()),
              (std::vector<std::string>{"LAN_20050101_000000.asf", "LAN_20050102_000000.asf"}));

    // The schedule loop, and the motion folder's own value, the same way:
    // one message per window naming the missing value.
    rig.update([](RecordingSettings& s) { s.MaxInsSpace = 100; });
    ASSERT_TRUE(posix_file_system().make_directory(rig.motion_dir()));
    make_sized(rig.motion_dir() + "/LAN_20050101_000000.asf", 3100000);
    rig.cam.set_motion_level(100);
    ASSERT_EQ(rig.cam.recording().add_entry(kMotionWindow, kEveryDay, 1000, 30), 1);
    rig.schedule_until(rig.at(2005, 4, 12, 10, 1, 0));
    EXPECT_FALSE(rig.cam.recording().motion_writer().IsOpen());
    EXPECT_EQ(rectest::list_names(rig.motion_dir()), std::vector<std::string>{"LAN_20050101_000000.asf"});

    const auto shown = rig.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, kMsgNoRecordQuota);
    EXPECT_EQ(shown[1].text, kMsgNoMotionQuota);
    EXPECT_EQ(shown[1].caption, "warning");
  }
  // A positive quota still overwrites (OverwriteKeepsRecordingWithinTheLimit).
}

TEST(DiskQuota, TurningOverForTheQuotaLosesNoPacket) {
  LoopRig rig;
  limit(rig, 1, 4, 0);
  // The old file cannot be deleted, so after the turnover the quota is full
  // and the recording stops, leaving both files to be compared.
  rig.fs.refuse_remove = true;
  rig.packet_interval_ms = 10;  // 320 kB/s
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
  rig.manual_until(rig.at(2005, 4, 12, 10, 1, 0), [&] { return !rig.cam.recording().manual_request.load(); });
  const auto names = rectest::list_names(rig.record_dir());
  ASSERT_EQ(names.size(), 2u);
  std::vector<std::size_t> overlaps;
  EXPECT_TRUE(rig.files_follow_the_stream(rig.record_dir(), &overlaps));
  ASSERT_EQ(overlaps.size(), 1u);
  EXPECT_LT(overlaps[0], 12u);
  ASSERT_EQ(rig.shown().size(), 1u);
  EXPECT_EQ(rig.shown()[0].text, "space full!");
}
