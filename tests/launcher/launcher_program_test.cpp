// The launcher program as a person starts it, copied into a folder of the
// test's own beside stand-in programs, on temporary XDG folders and without
// a display: it starts the viewer from its own folder and ends first; what
// it would show goes to standard error.
#include <gtest/gtest.h>

#include <filesystem>

#include "launcher_env.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"

namespace {

using launcher_test::LauncherDesktop;
using test_support::wait_until;

std::string install_launcher(const LauncherDesktop& desk) {
  const std::string path = desk.app() + "/launcher";
  std::filesystem::copy_file(LAUNCHER_PROGRAM, path);
  return path;
}

TEST(LauncherProgram, StartsTheViewerFromItsOwnFolderAndEndsFirst) {
  LauncherDesktop desk;
  desk.install_player();
  desk.xdg_mime_answering("vlc.desktop");
  const std::string release = desk.file("release");
  // The viewer keeps running until the test lets it end (or 30 s pass).
  LauncherDesktop::write_script(desk.app() + "/viewer",
                                "exec >/dev/null 2>&1\n"
                                ": > '" +
                                    desk.file("viewer.started") +
                                    "'\n"
                                    "n=0; while [ ! -e '" +
                                    release +
                                    "' ] && [ $n -lt 600 ]; do /bin/sleep 0.05; n=$((n+1)); done\n"
                                    ": > '" +
                                    desk.file("viewer.done") + "'\n");
  // The current folder holds a viewer of its own; it must not be the one started.
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(desk.root());
  (void)desk.stand_in(desk.root(), "viewer");
  const test_support::RunResult r = test_support::run_command({install_launcher(desk)});
  std::filesystem::current_path(here);

  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(desk.file("viewer.started")); }, 10000));
  EXPECT_FALSE(std::filesystem::exists(desk.file("viewer.done")));  // the launcher did not wait for it
  EXPECT_FALSE(desk.ran("viewer"));
  EXPECT_TRUE(std::filesystem::exists(desk.user_entry()));
  test_support::write_text(release, "");
  EXPECT_TRUE(wait_until([&] { return std::filesystem::exists(desk.file("viewer.done")); }, 10000));
}

TEST(LauncherProgram, WithoutADisplayTheMessagesGoToStandardError) {
  LauncherDesktop desk;
  desk.install_player();
  desk.xdg_mime_answering("org.gnome.Totem.desktop");
  const test_support::RunResult r = test_support::run_command({install_launcher(desk)});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("play without sound in org.gnome.Totem.desktop"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/share/quorvan-viewer/help/index.html"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The specified file was not found."), std::string::npos) << r.err;
}

}  // namespace
