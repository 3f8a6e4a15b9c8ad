// The launcher's sequence on a desktop of the test's own: each branch of the
// player check, the default check and the start of the viewer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "launcher/core/launch.h"
#include "launcher/core/process.h"
#include "launcher/core/xdg.h"
#include "launcher_env.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"

namespace {

using launcher::PlayerVerdict;
using launcher_test::LauncherDesktop;
using launcher_test::RecordingUi;
using test_support::read_text;
using test_support::wait_until;

TEST(LauncherRun, MissingPlayerEntryIsWrittenAndTheDatabaseUpdateIsNotWaitedFor) {
  LauncherDesktop desk;
  desk.install_player();
  desk.install_viewer();
  desk.xdg_mime_answering("vlc.desktop");
  // The database update holds on until the test lets it go (or 30 s pass).
  const std::string release = desk.file("release");
  LauncherDesktop::write_script(desk.bin() + "/update-desktop-database",
                                "echo \"$@\" > '" + desk.file("udb.args") +
                                    "'\n"
                                    "n=0; while [ ! -e '" +
                                    release +
                                    "' ] && [ $n -lt 600 ]; do /bin/sleep 0.05; n=$((n+1)); done\n"
                                    ": > '" +
                                    desk.file("udb.done") + "'\n");
  RecordingUi ui;
  EXPECT_EQ(launcher::run_launcher(desk.context(), ui), 0);
  // Returned while the update still runs.
  EXPECT_FALSE(std::filesystem::exists(desk.file("udb.done")));

  const std::string entry = read_text(desk.user_entry());
  EXPECT_NE(entry.find("Exec=" + desk.app() + "/asfplay %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("MimeType=video/x-ms-asf;\n"), std::string::npos);
  EXPECT_TRUE(launcher::player_registered(launcher::XdgDirs::from_environment()));
  ASSERT_TRUE(wait_until([&] { return !read_text(desk.file("udb.args")).empty(); }, 10000));
  EXPECT_EQ(read_text(desk.file("udb.args")), "-q " + desk.data() + "/applications\n");

  test_support::write_text(release, "");
  EXPECT_TRUE(wait_until([&] { return std::filesystem::exists(desk.file("udb.done")); }, 10000));
  EXPECT_TRUE(wait_until([&] { return desk.ran("viewer"); }, 10000));
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_TRUE(ui.messages.empty());
}

TEST(LauncherRun, RegisteredEntryIsLeftAloneAndAStaleOneIsReplaced) {
  {
    LauncherDesktop desk;
    desk.install_player();
    desk.install_viewer();
    desk.xdg_mime_answering("vlc.desktop");
    LauncherDesktop::write_entry(desk.sysdata(), "asfplay.desktop", "Camera Recording Player",
                                 desk.app() + "/asfplay %f");
    RecordingUi ui;
    (void)launcher::run_launcher(desk.context(), ui);
    EXPECT_FALSE(std::filesystem::exists(desk.user_entry()));
  }
  {
    // Left behind by a build that is gone: its program no longer exists.
    LauncherDesktop desk;
    desk.install_player();
    desk.install_viewer();
    desk.xdg_mime_answering("vlc.desktop");
    LauncherDesktop::write_entry(desk.data(), "asfplay.desktop", "Camera Recording Player", "/gone/asfplay %f");
    EXPECT_FALSE(launcher::player_registered(launcher::XdgDirs::from_environment()));
    RecordingUi ui;
    (void)launcher::run_launcher(desk.context(), ui);
    EXPECT_NE(read_text(desk.user_entry()).find("Exec=" + desk.app() + "/asfplay %f"), std::string::npos);
  }
}

TEST(LauncherRun, GStreamerDefaultShowsTheDialogAfterRegistrationAndBeforeTheViewer) {
  LauncherDesktop desk;
  desk.install_player();
  desk.install_viewer();
  desk.xdg_mime_answering("org.gnome.Totem.desktop");
  LauncherDesktop::write_entry(desk.sysdata(), "org.gnome.Totem.desktop", "Videos", "totem %U",
                               "MimeType=video/x-ms-asf;\n");
  RecordingUi ui;
  bool viewer_before_dialog = true;
  bool registered_before_dialog = false;
  ui.on_information = [&](const launcher::Information&) {
    registered_before_dialog = std::filesystem::exists(desk.user_entry());
    viewer_before_dialog = desk.ran("viewer");
  };
  EXPECT_EQ(launcher::run_launcher(desk.context(), ui), 0);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(registered_before_dialog);
  EXPECT_FALSE(viewer_before_dialog);
  const launcher::Information& info = ui.dialogs[0];
  EXPECT_NE(info.text.find("play without sound in Videos"), std::string::npos) << info.text;
  EXPECT_TRUE(info.can_make_default);
  EXPECT_EQ(info.button, "Play .asf files with Camera Recording Player");
  EXPECT_EQ(info.link.rfind("file:///", 0), 0u) << info.link;
  EXPECT_TRUE(info.link.ends_with("/help/index.html")) << info.link;
  EXPECT_TRUE(wait_until([&] { return desk.ran("viewer"); }, 10000));
  // Closing with OK changes nothing.
  EXPECT_FALSE(std::filesystem::exists(desk.config() + "/mimeapps.list"));
}

TEST(LauncherRun, NoDefaultPlayerShowsTheDialog_AndWithoutOurPlayerNoButton) {
  LauncherDesktop desk;
  desk.install_viewer();  // no asfplay beside the launcher, no xdg-mime, no lists
  RecordingUi ui;
  (void)launcher::run_launcher(desk.context(), ui);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_NE(ui.dialogs[0].text.find("No player is set"), std::string::npos);
  EXPECT_FALSE(ui.dialogs[0].can_make_default);
  EXPECT_FALSE(std::filesystem::exists(desk.user_entry()));
  EXPECT_TRUE(wait_until([&] { return desk.ran("viewer"); }, 10000));
}

TEST(LauncherRun, DefaultThatPlaysTheSoundShowsNothing) {
  // Through xdg-mime, and through the lists when there is no xdg-mime.
  for (bool with_xdg_mime : {true, false}) {
    LauncherDesktop desk;
    desk.install_player();
    desk.install_viewer();
    const std::string mpv = desk.stand_in(desk.bin(), "mpv");
    LauncherDesktop::write_entry(desk.sysdata(), "mpv.desktop", "mpv Media Player", mpv + " %U",
                                 "MimeType=video/x-ms-asf;\n");
    if (with_xdg_mime) {
      desk.xdg_mime_answering("mpv.desktop");
    } else {
      test_support::write_text(desk.config() + "/mimeapps.list",
                               "[Default Applications]\nvideo/x-ms-asf=mpv.desktop\n");
    }
    RecordingUi ui;
    EXPECT_EQ(launcher::run_launcher(desk.context(), ui), 0);
    EXPECT_TRUE(ui.dialogs.empty()) << with_xdg_mime;
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(wait_until([&] { return desk.ran("viewer"); }, 10000));
  }
}

TEST(LauncherRun, MakeDefaultWritesTheUsersListAndKeepsItsOtherLines) {
  LauncherDesktop desk;
  desk.install_player();
  desk.install_viewer();
  LauncherDesktop::write_entry(desk.sysdata(), "org.gnome.Totem.desktop", "Videos",
                               desk.stand_in(desk.bin(), "totem") + " %U", "MimeType=video/x-ms-asf;\n");
  test_support::write_text(
      desk.config() + "/mimeapps.list",
      "[Added Associations]\nimage/png=eog.desktop;\n\n"
      "[Default Applications]\ntext/plain=gedit.desktop\nvideo/x-ms-asf=org.gnome.Totem.desktop\n");
  RecordingUi ui;
  ui.answer_make_default = true;
  (void)launcher::run_launcher(desk.context(), ui);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(ui.messages.empty()) << (ui.messages.empty() ? "" : ui.messages[0]);
  EXPECT_EQ(read_text(desk.config() + "/mimeapps.list"),
            "[Added Associations]\nimage/png=eog.desktop;\n\n"
            "[Default Applications]\ntext/plain=gedit.desktop\nvideo/x-ms-asf=asfplay.desktop\n");
  EXPECT_EQ(launcher::check_default_player(launcher::XdgDirs::from_environment()).verdict, PlayerVerdict::plays_sound);

  // A second start finds all well.
  RecordingUi again;
  (void)launcher::run_launcher(desk.context(), again);
  EXPECT_TRUE(again.dialogs.empty());
}

TEST(LauncherRun, MakeDefaultThatTheDesktopIgnoresIsToldNotHidden) {
  LauncherDesktop desk;
  desk.install_player();
  desk.install_viewer();
  desk.xdg_mime_answering("org.gnome.Totem.desktop");  // keeps answering Totem whatever the lists say
  RecordingUi ui;
  ui.answer_make_default = true;
  (void)launcher::run_launcher(desk.context(), ui);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("still opens .asf files with another player"), std::string::npos);
}

TEST(LauncherRun, FailedViewerStartsAreReportedWithTheirMessage) {
  struct Case {
    const char* what;
    std::function<void(const LauncherDesktop&)> make;
    const char* message;
  };
  const Case cases[] = {
      {"missing", [](const LauncherDesktop&) {}, "The specified file was not found."},
      {"not executable",
       [](const LauncherDesktop& d) {
         d.install_viewer();
         ::chmod((d.app() + "/viewer").c_str(), 0644);
       },
       "The operating system denied access to the specified file."},
      {"a folder", [](const LauncherDesktop& d) { std::filesystem::create_directory(d.app() + "/viewer"); },
       "The operating system denied access to the specified file."},
      {"not a program",
       [](const LauncherDesktop& d) {
         test_support::write_text(d.app() + "/viewer", "garbage, not a program\n");
         ::chmod((d.app() + "/viewer").c_str(), 0755);
       },
       "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."},
  };
  for (const Case& c : cases) {
    LauncherDesktop desk;
    desk.install_player();
    desk.xdg_mime_answering("vlc.desktop");
    c.make(desk);
    RecordingUi ui;
    EXPECT_EQ(launcher::run_launcher(desk.context(), ui), 0) << c.what;
    ASSERT_EQ(ui.messages.size(), 1u) << c.what;
    EXPECT_EQ(ui.messages[0], c.message) << c.what;
  }
}

TEST(LauncherRun, ProgramsInTheCurrentFolderOrRelativePathEntriesAreNeverStarted) {
  LauncherDesktop desk;
  desk.install_player();
  desk.xdg_mime_answering("vlc.desktop");
  // Planted: a viewer in the current folder and an update-desktop-database
  // reached only through the "." and empty PATH entries.
  const std::string planted = desk.file("planted");
  std::filesystem::create_directories(planted);
  (void)desk.stand_in(planted, "viewer");
  (void)desk.stand_in(planted, "update-desktop-database");
  desk.set("PATH", desk.bin() + ":.::planted");
  const std::string before = std::filesystem::current_path().string();
  std::filesystem::current_path(planted);
  RecordingUi ui;
  (void)launcher::run_launcher(desk.context(), ui);
  std::filesystem::current_path(before);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "The specified file was not found.");
  EXPECT_TRUE(std::filesystem::exists(desk.user_entry()));
  // Anything started would have run by now; give it a moment all the same.
  ::usleep(300 * 1000);
  EXPECT_FALSE(desk.ran("viewer"));
  EXPECT_FALSE(desk.ran("update-desktop-database"));
  EXPECT_EQ(launcher::find_in_path(".:" + planted, "viewer"), planted + "/viewer");
  EXPECT_EQ(launcher::find_in_path(".::planted", "viewer"), "");
}

TEST(LauncherRun, AnInstalledViewerKeepsItsFilesInTheUsersDataFolder) {
  LauncherDesktop desk;
  desk.xdg_mime_answering("vlc.desktop");
  // A build or an unpacked copy: the viewer's folder is its own, no argument.
  desk.install_viewer();
  RecordingUi ui;
  (void)launcher::run_launcher(desk.context(), ui);
  ASSERT_TRUE(wait_until([&] { return !read_text(desk.file("viewer.ran")).empty(); }, 10000));
  EXPECT_EQ(read_text(desk.file("viewer.ran")), "\n");

  // Installed: programs in usr/bin beside usr/share/quorvan-viewer.
  std::filesystem::remove(desk.file("viewer.ran"));
  const std::string bin = desk.file("usr/bin");
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(desk.file("usr/share/quorvan-viewer/help"));
  (void)desk.stand_in(bin, "viewer");
  (void)launcher::run_launcher({bin, launcher::XdgDirs::from_environment()}, ui);
  ASSERT_TRUE(wait_until([&] { return !read_text(desk.file("viewer.ran")).empty(); }, 10000));
  EXPECT_EQ(read_text(desk.file("viewer.ran")), "--folder " + desk.data() + "/quorvan-viewer\n");
  EXPECT_TRUE(std::filesystem::is_directory(desk.data() + "/quorvan-viewer"));
  EXPECT_TRUE(ui.messages.empty());
}

TEST(LauncherRun, StartFailureTexts) {
  EXPECT_EQ(launcher::start_failure_message(0), "");
  EXPECT_EQ(launcher::start_failure_message(ENOENT), "The specified file was not found.");
  EXPECT_EQ(launcher::start_failure_message(EACCES), "The operating system denied access to the specified file.");
  EXPECT_EQ(launcher::start_failure_message(ENOEXEC),
            "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).");
  EXPECT_EQ(launcher::start_failure_message(ENOMEM), "There was not enough memory to complete the operation.");
  EXPECT_EQ(launcher::start_failure_message(ENOTDIR), "The specified path was not found.");
  // Anything else still says what happened.
  EXPECT_EQ(launcher::start_failure_message(EIO), std::string(std::strerror(EIO)) + ".");
}

TEST(LauncherRun, HelpPageIsTheBuildTreesOrTheInstalledOne) {
  test_support::TempDir root("launcher-help");
  std::filesystem::create_directories(root.file("usr/bin"));
  EXPECT_EQ(launcher::help_page_url(root.file("usr/bin")),
            "file://" + root.path() + "/usr/share/quorvan-viewer/help/index.html");
  std::filesystem::create_directories(root.file("usr/bin/help"));
  test_support::write_text(root.file("usr/bin/help/index.html"), "<html></html>");
  EXPECT_EQ(launcher::help_page_url(root.file("usr/bin")), "file://" + root.path() + "/usr/bin/help/index.html");
  EXPECT_EQ(launcher::help_page_url("/opt/my viewer/bin"),
            "file:///opt/my%20viewer/share/quorvan-viewer/help/index.html");
}

TEST(LauncherRun, WrittenEntryMatchesTheInstalledOneExceptForExec) {
  const std::string shipped = CAMVIEWER_SOURCE_DIR "/player/ui/asfplay.desktop";
  test_support::TempDir dir("launcher-entry");
  const std::string written = dir.file("asfplay.desktop");
  test_support::write_text(written, launcher::player_entry_text("/opt/a b/asfplay"));
  for (const char* key :
       {"Type", "Name", "GenericName", "Comment", "Icon", "Terminal", "Categories", "MimeType", "Keywords"}) {
    EXPECT_EQ(launcher::desktop_entry_value(written, key), launcher::desktop_entry_value(shipped, key)) << key;
  }
  EXPECT_EQ(launcher::split_exec(*launcher::desktop_entry_value(written, "Exec")),
            (std::vector<std::string>{"/opt/a b/asfplay", "%f"}));
  if (test_support::run_quiet({"desktop-file-validate", written}) == -1)
    GTEST_SKIP() << "desktop-file-validate missing";
  EXPECT_EQ(test_support::run_quiet({"desktop-file-validate", written}), 0);
}

}  // namespace
