// The autostart entry that mirrors AutoRun, in a temporary XDG_CONFIG_HOME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "config/test_folders.h"
#include "viewer/platform/autostart.h"

namespace platform {
namespace {

using testing_support::read_file;
using testing_support::TempFolder;

TEST(Autostart, SetReadRemove) {
  const std::string entry = autostart_entry_path();
  EXPECT_EQ(entry, testing_support::config_home() / "autostart/Vistaro.desktop");
  ASSERT_EQ(set_start_with_session(true, "/opt/cams/viewer"), 1);
  EXPECT_EQ(read_file(entry),
            "[Desktop Entry]\nType=Application\nName=Vistaro\nExec=/opt/cams/viewer\nTerminal=false\n");
  EXPECT_EQ(read_start_with_session(), "/opt/cams/viewer");
  EXPECT_EQ(set_start_with_session(false, ""), 1);
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_FALSE(read_start_with_session().has_value());
  EXPECT_EQ(set_start_with_session(false, ""), 1);  // nothing to remove is fine
}

TEST(Autostart, AwkwardProgramPathsRoundTrip) {
  for (std::string path : {"/home/me/My Cams/viewer", "/opt/100%/viewer", "/opt/a\"b$c`d\\e/viewer",
                           "/opt/tab\there/viewer", "/opt/(x);y|z/viewer"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(parse_exec_program(exec_value_for(path)), path);
    ASSERT_EQ(set_start_with_session(true, path), 1);
    EXPECT_EQ(read_start_with_session(), path);
  }
  EXPECT_EQ(exec_value_for("/a b/c"), "\"/a b/c\"");
  EXPECT_EQ(exec_value_for("/a\\b"), "\"/a\\\\\\\\b\"");  // four backslashes in the file
  EXPECT_EQ(exec_value_for("/50%"), "/50%%");
  ASSERT_EQ(set_start_with_session(false, ""), 1);
}

TEST(Autostart, EntryPassesDesktopFileValidate) {
  if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "desktop-file-validate is not installed";
  }
  for (std::string path : {"/opt/cams/viewer", "/home/me/My Cams/$view`er"}) {
    ASSERT_EQ(set_start_with_session(true, path), 1);
    std::string command = "desktop-file-validate '" + autostart_entry_path() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << read_file(autostart_entry_path());
  }
  ASSERT_EQ(set_start_with_session(false, ""), 1);
}

TEST(Autostart, RelativeConfigHomeFallsBackToHome) {
  TempFolder home;
  const std::string saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string home_value = saved_home ? saved_home : "";
  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
  ::setenv("HOME", home.path().c_str(), 1);
  EXPECT_EQ(autostart_entry_path(), home / ".config/autostart/Vistaro.desktop");
  EXPECT_EQ(set_start_with_session(true, "/x/viewer"), 1);
  EXPECT_TRUE(std::filesystem::exists(home / ".config/autostart/Vistaro.desktop"));
  ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
  if (saved_home) ::setenv("HOME", home_value.c_str(), 1);
}

TEST(Autostart, UnwritableFolderGivesZero) {
  TempFolder blocker;
  const std::string saved_xdg = std::getenv("XDG_CONFIG_HOME");
  // A file where the autostart folder should be.
  testing_support::write_file(blocker / "autostart", "not a folder");
  ::setenv("XDG_CONFIG_HOME", blocker.path().c_str(), 1);
  EXPECT_EQ(set_start_with_session(true, "/x/viewer"), 0);
  ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
}

}  // namespace
}  // namespace platform
