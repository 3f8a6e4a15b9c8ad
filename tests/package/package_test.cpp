// The package as a user gets it: the .deb that cpack builds (dependencies
// that are only the run-time ones, no lintian error), the files a DESTDIR
// install puts in place (every desktop entry and the metainfo pass the
// desktop's own checkers, icons at every size), and the installed programs
// running from there on an X server of the test's own, on a recording that
// carries its period trailer. Each part is skipped, saying why, where the
// checker it needs is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "player/player_test_util.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"
#include "support/x_desktop.h"

namespace {

namespace fs = std::filesystem;
using test_support::ChildProcess;
using test_support::run_command;
using test_support::RunResult;
using test_support::TempDir;
using test_support::wait_until;

const std::string kBuild = CAMVIEWER_BUILD_DIR;

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// cmake --install of the build into dir, as a package would lay it out.
std::string install_into(const TempDir& dir) {
  const std::string root = dir.file("root");
  const RunResult r = run_command({"env", "DESTDIR=" + root, CAMVIEWER_CMAKE, "--install", kBuild, "--prefix", "/usr"});
  EXPECT_EQ(r.status, 0) << r.err;
  return root;
}

std::vector<std::string> files_in(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      out.push_back(name);
    }
  }
  return out;
}

#ifdef CAMVIEWER_ICONS
// Width and height from a PNG's header; 0 x 0 when it is none.
std::pair<std::uint32_t, std::uint32_t> png_size(const std::string& file) {
  const std::vector<std::uint8_t> b = test_support::read_bytes(file);
  if (b.size() < 24 || b[1] != 'P' || b[2] != 'N' || b[3] != 'G') return {0, 0};
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) |
           b[at + 3];
  };
  return {be32(16), be32(20)};
}
#endif

TEST(Package, DebDependsOnRunTimeLibrariesOnlyAndLintianFindsNoError) {
  for (const char* tool : {"dpkg-shlibdeps", "dpkg-deb", "lintian"}) {
    if (!on_path(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
  }
  TempDir dir("package-deb");
  const RunResult made = run_command({CAMVIEWER_CPACK, "--config", kBuild + "/CPackConfig.cmake", "-B", dir.path()});
  ASSERT_EQ(made.status, 0) << made.out << made.err;
  const std::vector<std::string> debs = files_in(dir.path(), ".deb");
  ASSERT_EQ(debs.size(), 1u) << made.out;
  const std::string deb = debs[0];

  const std::string depends = run_command({"dpkg-deb", "-f", deb, "Depends"}).out;
  for (const char* needed : {"libc6", "libstdc++6", "libqt6core6", "libqt6widgets6", "libqt6svg6", "libqt6multimedia6",
                             "libcurl4", "libjpeg62-turbo", "xdg-utils"}) {
    EXPECT_NE(depends.find(needed), std::string::npos) << needed << " missing from: " << depends;
  }
  // What only the tests and benchmarks use never becomes a dependency.
  for (const char* test_only :
       {"gtest", "gmock", "libavcodec", "libavutil", "libavformat", "libswscale", "spandsp", "libqt6test", "ffmpeg"}) {
    EXPECT_EQ(depends.find(test_only), std::string::npos) << test_only << " in: " << depends;
  }
  const std::string contents = run_command({"dpkg-deb", "-c", deb}).out;
  for (const char* program : {"./usr/bin/quorvan-viewer", "./usr/bin/viewer", "./usr/bin/asfplay",
                              "./usr/bin/asfperiod", "./usr/share/quorvan-viewer/help/index.html"}) {
    EXPECT_NE(contents.find(program), std::string::npos) << program;
  }
  for (const char* not_shipped :
       {"camsim", "asf2yuv", "streamprobe", "viewer-headless", "svgicon", "bench_", "test_"}) {
    EXPECT_EQ(contents.find(not_shipped), std::string::npos) << not_shipped;
  }

  const RunResult lint = run_command({"lintian", "--no-tag-display-limit", deb});
  std::istringstream lines(lint.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
  }
  EXPECT_NE(lint.status, -1) << lint.err;
}

TEST(Package, InstalledDesktopEntriesMetainfoAndIconsPassTheDesktopsChecks) {
  TempDir dir("package-files");
  const std::string root = install_into(dir);
  for (const char* program : {"quorvan-viewer", "viewer", "asfplay", "asfperiod"}) {
    EXPECT_TRUE(fs::exists(root + "/usr/bin/" + program)) << program;
  }
  EXPECT_TRUE(fs::exists(root + "/usr/share/quorvan-viewer/help/index.html"));
  EXPECT_TRUE(fs::exists(root + "/usr/share/doc/quorvan-viewer/copyright"));
  EXPECT_TRUE(fs::exists(root + "/usr/share/doc/quorvan-viewer/changelog.gz"));
#ifdef CAMVIEWER_ICONS
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string s = std::to_string(size);
    const std::string png = root + "/usr/share/icons/hicolor/" + s + "x" + s + "/apps/quorvan-viewer.png";
    EXPECT_EQ(png_size(png), std::make_pair(std::uint32_t(size), std::uint32_t(size))) << png;
  }
  EXPECT_TRUE(fs::exists(root + "/usr/share/icons/hicolor/scalable/apps/quorvan-viewer.svg"));
#endif

  const std::vector<std::string> entries = files_in(root + "/usr/share/applications", ".desktop");
  EXPECT_EQ(entries.size(), 2u);  // the launcher's and the player's
  const std::vector<std::string> metainfo = files_in(root + "/usr/share/metainfo", ".metainfo.xml");
  EXPECT_EQ(metainfo.size(), 1u);
  if (!on_path("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
  for (const std::string& entry : entries) {
    const RunResult r = run_command({"desktop-file-validate", entry});
    EXPECT_EQ(r.status, 0) << entry << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, "") << entry;  // not even a hint
  }
  if (!on_path("appstreamcli")) GTEST_SKIP() << "appstreamcli is not installed (appstream)";
  for (const std::string& file : metainfo) {
    const RunResult r = run_command({"appstreamcli", "validate", "--no-net", file});
    EXPECT_EQ(r.status, 0) << file << "\n" << r.out << r.err;
  }
}

TEST(Package, InstalledProgramsRunFromTheirFolderOnARecordingWithItsPeriod) {
  std::string missing;
  if (!test_support::XDesktop::available(&missing)) GTEST_SKIP() << missing << " is not installed";
  TempDir dir("package-run");
  const std::string root = install_into(dir);
  const std::string bin = root + "/usr/bin";

  // A recording as the viewer leaves it, in the folder an installed viewer
  // uses for this user: the installed analysis tool appends the period.
  const std::string data = dir.file("data");
  const std::string folder = data + "/quorvan-viewer";
  fs::create_directories(folder + "/Record/00a0b1c2d3e4");
  const std::string file = playertest::write_clip_file(
      dir, "data/quorvan-viewer/Record/00a0b1c2d3e4/LAN_20240501_100000.asf", playertest::load_clip("qvga"), 4000);
  const std::uintmax_t bare = fs::file_size(file);
  const RunResult period = run_command({bin + "/asfperiod", file + "~KS2024/05/01   10:00,2024/05/01   10:01~1"});
  ASSERT_EQ(period.status, 0) << period.err;
  ASSERT_GT(fs::file_size(file), bare);
  const std::vector<std::uint8_t> recording = test_support::read_bytes(file);

  test_support::XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error() << desktop.logs();

  // The installed player reads the trailer: its title says the camera
  // folder and the period.
  {
    const std::vector<std::string> env = desktop.env();
    ChildProcess player({bin + "/asfplay", "--folder", folder, file}, &env);
    const std::optional<unsigned long> window = desktop.wait_window("asfplay$", 20000);
    ASSERT_TRUE(window.has_value()) << "no asfplay window";
    std::string name;
    ASSERT_TRUE(desktop.xdotool({"getwindowname", std::to_string(*window)}, &name));
    EXPECT_EQ(name, "00a0b1c2d3e4: 2024/05/01   10:00 - 2024/05/01   10:01 - asfplay\n");
    (void)player.stop();
  }

  // The installed launcher, as the desktop entry runs it, on desktop folders
  // of the test's own whose player for .asf files plays the sound: it starts
  // the installed viewer on this user's folder and ends.
  const std::string stubs = dir.file("stubs");
  fs::create_directories(stubs);
  test_support::write_text(stubs + "/xdg-mime", "#!/bin/sh\necho vlc.desktop\n");
  fs::permissions(stubs + "/xdg-mime", fs::perms::owner_all);
  const std::vector<std::string> env =
      desktop.env({"HOME=" + dir.file("home"), "XDG_DATA_HOME=" + data, "XDG_DATA_DIRS=" + root + "/usr/share",
                   "PATH=" + stubs + ":/usr/bin:/bin"});
  ChildProcess launcher({bin + "/quorvan-viewer"}, &env);
  ASSERT_TRUE(launcher.wait_for_exit(std::chrono::milliseconds(20000)));
  EXPECT_EQ(launcher.stop(), 0);
  const std::optional<unsigned long> window = desktop.wait_window("^Quorvan Viewer & Recorder$", 30000);
  ASSERT_TRUE(window.has_value()) << "no viewer window";
  std::string pid_text;
  ASSERT_TRUE(desktop.xdotool({"getwindowpid", std::to_string(*window)}, &pid_text));
  const pid_t viewer = static_cast<pid_t>(std::atol(pid_text.c_str()));
  ASSERT_GT(viewer, 1);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(viewer) + "/exe").string(), bin + "/viewer");

  // Ended as the desktop ends it; it leaves its settings in that folder and
  // the recording as it was.
  ASSERT_EQ(::kill(viewer, SIGTERM), 0);
  EXPECT_TRUE(wait_until([&] { return ::kill(viewer, 0) != 0; }, 20000, 50)) << "the viewer did not end";
  EXPECT_TRUE(fs::exists(folder + "/param.dat"));
  EXPECT_EQ(test_support::read_bytes(file), recording);
}

}  // namespace
