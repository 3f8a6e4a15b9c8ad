// The PreMotion key: seconds a motion recording begins before the motion. It
// came after the other keys, so files without it and programs without it
// must both go on working.
#include <gtest/gtest.h>

#include "config/test_folders.h"
#include "viewer/config/settings_file.h"

namespace config {
namespace {

using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::write_file;

int loaded_pre_motion(const TempFolder& folder, const std::string& text) {
  write_file(folder / "param.dat", text);
  Settings s;
  s.program_folder = folder.path();
  s.program_file = "viewer";
  load_settings(s, nullptr);
  return s.PreMotion;
}

TEST(PreMotionSetting, DefaultsToFiveAndStaysWithinZeroAndThirty) {
  TempFolder folder;
  EXPECT_EQ(loaded_pre_motion(folder, "MotionTime=2\n"), 5);  // a file from before the key
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=0\n"), 0);   // off
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=12\n"), 12);
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=30\n"), 30);
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=31\n"), 30);
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=-4\n"), 0);
  EXPECT_EQ(loaded_pre_motion(folder, "PreMotion=soon\n"), 5);
}

TEST(PreMotionSetting, IsWrittenAndReadBackAndUnknownKeysAroundItAreSkipped) {
  TempFolder folder;
  Settings s;
  s.program_folder = folder.path();
  s.program_file = "viewer";
  s.AutoRun = 0;
  s.MotionTime = 3;
  s.PreMotion = 9;
  s.JpegRatio = 70;
  ASSERT_EQ(save_settings(s), 1);
  std::string text = read_file(folder / "param.dat");
  ASSERT_NE(text.find("\nMotionTime=3\nPreMotion=9\nJpegRatio=70\n"), std::string::npos) << text;

  Settings back;
  back.program_folder = folder.path();
  load_settings(back, nullptr);
  EXPECT_EQ(back.PreMotion, 9);

  // A program that knows no PreMotion reads such a file as one with a key it
  // does not know: skipped, and every other value read as before. The same
  // holds for keys newer than this program.
  const std::size_t at = text.find("PreMotion=9\n");
  text.replace(at, 12, "PreRoll=9\nFutureKey=1|2\\\n");
  write_file(folder / "param.dat", text);
  Settings other;
  other.program_folder = folder.path();
  load_settings(other, nullptr);
  EXPECT_EQ(other.MotionTime, 3);
  EXPECT_EQ(other.JpegRatio, 70);
  EXPECT_EQ(other.AutoRun, 0);
  EXPECT_EQ(other.PreMotion, 5);
}

}  // namespace
}  // namespace config
