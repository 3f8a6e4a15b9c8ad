// The utility settings dialog's rules: what it opens with, the enable rule
// and the motion-field rule, Save's checks in their order (nothing stored on
// a refusal), the folders' checks, and what Save, Cancel and close keep.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/files.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/utility_settings_model.h"

namespace model {
namespace {

namespace fs = std::filesystem;

class UtilityTest : public ::testing::Test {
 protected:
  UtilityTest() {
    settings.RecordPath = root / "Record";
    settings.MotionPath = root / "Motion";
    settings.SnapshotPath = root / "Snapshot";
    settings.MotionTime = 5;
    settings.InstanceTime = 120;
    settings.DiskLimit = 1;
    settings.MaxSpace = 900;
    settings.MaxMotSpace = 300;
    settings.MaxInsSpace = 600;
    settings.WriteStop = 1;
    settings.AutoRun = 1;
    settings.AutoPlay = 0;
  }
  // A disk of 1,000 MB free wherever asked; remembers where.
  DiskMeasure disk() {
    return [this](const std::string& path) {
      measured.push_back(path);
      return DiskSpace{5000, 1000};
    };
  }
  std::vector<std::string> texts() { return ui->shown_texts(); }

  platform::ScopedHeadlessUi ui;
  test_support::TempDir root;
  config::Settings settings;
  std::vector<std::string> measured;
};

TEST_F(UtilityTest, OpensWithTheSettingsAndMeasuresTheRecordingDisk) {
  UtilitySettingsModel m(settings, disk());
  EXPECT_EQ(m.record_path, settings.RecordPath);
  EXPECT_EQ(m.motion_index(), 1);  // "5 min"
  EXPECT_EQ(m.manual_index(), 7);  // "2 hrs"
  EXPECT_STREQ(kManualLengths[7].text, "2 hrs");
  EXPECT_TRUE(m.disk_limit());
  EXPECT_TRUE(m.quota_fields_enabled());
  EXPECT_EQ(m.max_text, "900");
  EXPECT_EQ(m.motion_text, "300");
  EXPECT_EQ(m.instant_text, "600");
  EXPECT_TRUE(m.write_stop);
  EXPECT_TRUE(m.auto_run);
  EXPECT_FALSE(m.auto_play);
  EXPECT_EQ(measured, std::vector<std::string>{settings.RecordPath});
  EXPECT_EQ(m.disk().available_mb, 1000);
  m.set_record_path(root / "elsewhere");
  EXPECT_EQ(measured.back(), root / "elsewhere");
  EXPECT_EQ(megabytes_text(1234), "1234 MB");
}

TEST_F(UtilityTest, UnknownLengthsAndLimitsOpenUnselectedAndCloseAsOne) {
  settings.MotionTime = 7;
  settings.InstanceTime = 0;
  settings.DiskLimit = 5;  // outside 0 to 2: off
  UtilitySettingsModel m(settings, disk());
  EXPECT_EQ(m.motion_index(), -1);
  EXPECT_EQ(m.manual_index(), -1);
  EXPECT_FALSE(m.disk_limit());
  EXPECT_FALSE(m.quota_fields_enabled());
  m.cancel(settings);
  EXPECT_EQ(settings.MotionTime, 1);
  EXPECT_EQ(settings.InstanceTime, 1);
  EXPECT_EQ(settings.DiskLimit, 5);  // Cancel keeps the quota as it was
}

TEST_F(UtilityTest, EnableRuleRefillsTheFieldsAndMotionRuleKeepsWithinTheMaximum) {
  UtilitySettingsModel m(settings, disk());
  m.set_disk_limit(false);
  EXPECT_FALSE(m.quota_fields_enabled());
  m.max_text = "5";
  m.write_stop = false;
  m.set_disk_limit(true);
  EXPECT_EQ(m.max_text, "900");
  EXPECT_TRUE(m.write_stop);

  m.set_motion_text("1000");  // more than the maximum
  EXPECT_EQ(m.motion_text, "900");
  EXPECT_EQ(m.instant_text, "0");
  m.set_motion_text("250");
  EXPECT_EQ(m.instant_text, "650");
  m.set_max_text("1000");
  EXPECT_EQ(m.instant_text, "750");
  EXPECT_EQ(m.motion_text, "250");
}

TEST_F(UtilityTest, SaveChecksTheQuotaInOrderAndStoresNothingOnARefusal) {
  const config::Settings before = settings;
  struct Case {
    std::string max, motion;
    const char* message;
  } cases[] = {
      {"0", "0", kMsgValueOverZero},       {"", "100", kMsgValueOverZero},
      {"900", "900", kMsgValueOverZero},  // instant 0
      {"2000", "100", kMsgNotEnoughSpace}, {"-5", "1", kMsgValueOverZero},
  };
  for (const Case& c : cases) {
    UtilitySettingsModel m(settings, disk());
    m.auto_play = true;
    m.set_max_text(c.max);
    m.set_motion_text(c.motion);
    m.max_text = c.max;  // as typed, whatever the rules made of it
    ui->clear();
    EXPECT_FALSE(m.save(settings)) << c.max << " " << c.motion;
    EXPECT_EQ(texts(), std::vector<std::string>{c.message}) << c.max << " " << c.motion;
    EXPECT_EQ(ui->shown().back().caption, "Warning");
    EXPECT_EQ(settings.AutoPlay, before.AutoPlay);
    EXPECT_EQ(settings.MaxSpace, before.MaxSpace);
  }
  UtilitySettingsModel m(settings, disk());
  m.max_text = "500";
  m.motion_text = "600";
  m.instant_text = "1";
  ui->clear();
  EXPECT_FALSE(m.save(settings));
  EXPECT_EQ(texts(), std::vector<std::string>{kMsgMotionOverMax});
}

TEST_F(UtilityTest, FoldersMustBeNamedDifferentAndWritable) {
  std::string which;
  EXPECT_EQ(folders_problem(root / "a", root / "b", root / "c/d/e", &which), nullptr);
  EXPECT_STREQ(folders_problem("", root / "b", root / "c", &which), kMsgFolderMissing);
  EXPECT_STREQ(folders_problem(root / "a", root / "a/", root / "c", &which), kMsgFoldersSame);
  EXPECT_STREQ(folders_problem(root / "a", root.path() + "//b/", root / "b", &which), kMsgFoldersSame);
  EXPECT_STREQ(folders_problem("relative", root / "b", root / "c", &which), kMsgFolderNotWritable);
  // A folder that cannot be made: a file stands in its way.
  ASSERT_TRUE(test_support::write_text(root / "file", "x"));
  EXPECT_STREQ(folders_problem(root / "a", root / "file/sub", root / "c", &which), kMsgFolderNotWritable);
  EXPECT_EQ(which, root / "file/sub");

  UtilitySettingsModel m(settings, disk());
  m.snapshot_path = root / "file/sub";
  EXPECT_FALSE(m.save(settings));
  EXPECT_EQ(texts(), std::vector<std::string>{std::string(kMsgFolderNotWritable) + (root / "file/sub")});
  EXPECT_EQ(settings.SnapshotPath, root / "Snapshot");
  // Cancel keeps the lengths but not folders that cannot be used.
  m.choose_motion(5);
  m.cancel(settings);
  EXPECT_EQ(settings.MotionTime, 60);
  EXPECT_EQ(settings.SnapshotPath, root / "Snapshot");
}

TEST_F(UtilityTest, SaveStoresEverythingAndMakesTheFolders) {
  UtilitySettingsModel m(settings, disk());
  m.record_path = root / "new/rec";
  m.set_max_text("800");
  m.set_motion_text("200");
  m.write_stop = false;
  m.auto_run = false;
  m.auto_play = true;
  m.choose_manual(10);
  ASSERT_TRUE(m.save(settings));
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(settings.RecordPath, root / "new/rec");
  EXPECT_TRUE(fs::is_directory(root / "new/rec"));
  EXPECT_EQ(settings.MaxSpace, 800);
  EXPECT_EQ(settings.MaxMotSpace, 200);
  EXPECT_EQ(settings.MaxInsSpace, 600);
  EXPECT_EQ(settings.WriteStop, 0);
  EXPECT_EQ(settings.AutoRun, 0);
  EXPECT_EQ(settings.AutoPlay, 1);
  EXPECT_EQ(settings.InstanceTime, 1440);
  EXPECT_EQ(settings.MotionTime, 5);
  EXPECT_EQ(settings.DiskLimit, 1);
}

TEST_F(UtilityTest, WithTheLimitOffOnlyUsableNumbersAreStored) {
  UtilitySettingsModel m(settings, disk());
  m.set_disk_limit(false);
  m.max_text = "";
  m.motion_text = "5000";  // more than the disk: not checked with the limit off
  m.instant_text = "abc";
  ASSERT_TRUE(m.save(settings));
  EXPECT_EQ(settings.DiskLimit, 0);
  EXPECT_EQ(settings.MaxSpace, 900);
  EXPECT_EQ(settings.MaxMotSpace, 5000);
  EXPECT_EQ(settings.MaxInsSpace, 600);
  EXPECT_EQ(settings.WriteStop, 1);  // shown (greyed) as stored, so kept
}

TEST_F(UtilityTest, CancelKeepsFoldersAndLengthsOnly) {
  UtilitySettingsModel m(settings, disk());
  m.motion_path = root / "moved";
  m.choose_motion(0);
  m.choose_manual(0);
  m.auto_run = false;
  m.set_max_text("10");
  m.cancel(settings);
  EXPECT_EQ(settings.MotionPath, root / "moved");
  EXPECT_EQ(settings.MotionTime, 1);
  EXPECT_EQ(settings.InstanceTime, 1);
  EXPECT_EQ(settings.AutoRun, 1);
  EXPECT_EQ(settings.MaxSpace, 900);
}

TEST(UtilityNumbers, WholeNumbersOnly) {
  EXPECT_EQ(whole_number("42"), 42);
  EXPECT_EQ(whole_number(" 7 "), 7);
  EXPECT_EQ(whole_number(""), -1);
  EXPECT_EQ(whole_number("-3"), -1);
  EXPECT_EQ(whole_number("+3"), -1);
  EXPECT_EQ(whole_number("3.5"), -1);
  EXPECT_EQ(whole_number("99999999999999"), INT32_MAX);
}

TEST(UtilityDisk, MeasuresTheFileSystemOfAFolderOrItsNearestParent) {
  test_support::TempDir root;
  const DiskSpace here = measure_disk(root.path());
  EXPECT_GT(here.total_mb, 0);
  EXPECT_LE(here.available_mb, here.total_mb);
  const DiskSpace later = measure_disk(root / "not/yet/made");
  EXPECT_EQ(later.total_mb, here.total_mb);
}

}  // namespace
}  // namespace model
