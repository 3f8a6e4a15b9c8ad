// The package as a user gets it: the .deb that cpack builds (dependencies
// that are only the run-time ones, no lintian error), the files a DESTDIR
// install puts in place (every desktop entry and the metainfo pass the
// desktop's own checkers, icons at every size), and the installed programs
// running from there on an X server of the test's own, on a recording that
// carries its period trailer. Each part is skipped, saying why, where the
// checker it needs is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "player/player_test_util.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"

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
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) | b[at + 3];
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
  for (const char* needed : {"libc6", "libstdc++6", "libqt6core6", "libqt6widgets6", "libjpeg62-turbo", "xdg-utils"}) {
    EXPECT_NE(depends.find(needed), std::string::npos) << needed << " missing from: " << depends;
  }
  // What only the tests and benchmarks use never becomes a dependency.
  for (const char* test_only : {"gtest", "gmock", "libavcodec", "libavutil", "libavformat", "libswscale", "spandsp",
                                "libqt6test", "ffmpeg"}) {
    EXPECT_EQ(depends.find(test_only), std::string::npos) << test_only << " in: " << depends;
  }
  const std::string contents = run_command({"dpkg-deb", "-c", deb}).out;
  for (const char* program : {"./usr/bin/quorvan-viewer", "./usr/bin/asfplay", "./usr/bin/asfperiod"}) {
    EXPECT_NE(contents.find(program), std::string::npos) << program;
  }
  for (const char* not_shipped : {"camsim", "asf2yuv", "streamprobe", "viewer-headless", "svgicon", "bench_", "test_"}) {
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
  for (const char* program : {"quorvan-viewer", "asfplay", "asfperiod"}) {
    EXPECT_TRUE(fs::exists(root + "/usr/bin/" + program)) << program;
  }
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
  if (!on_path("Xvfb") || !on_path("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  TempDir dir("package-run");
  const std::string root = install_into(dir);
  const std::string bin = root + "/usr/bin";

  // A recording as the viewer leaves it: the installed analysis tool appends
  // the period trailer.
  fs::create_directories(dir.file("Record/00a0b1c2d3e4"));
  const std::string file = playertest::write_clip_file(dir, "Record/00a0b1c2d3e4/LAN_20240501_100000.asf",
                                                       playertest::load_clip("qvga"), 4000);
  const std::uintmax_t bare = fs::file_size(file);
  const RunResult period = run_command({bin + "/asfperiod", file + "~KS2024/05/01   10:00,2024/05/01   10:01~1"});
  ASSERT_EQ(period.status, 0) << period.err;
  ASSERT_GT(fs::file_size(file), bare);

  ChildProcess xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
  const std::optional<std::string> number = xvfb.next_line(20000);
  ASSERT_TRUE(number.has_value()) << "Xvfb did not start";
  const std::string env = "DISPLAY=:" + *number;

  // The installed player reads the trailer: its title says the camera
  // folder and the period.
  // TODO(viewer): once the viewer is installed, start `viewer --folder DIR`
  // here as well.
  ChildProcess player({"env", env, bin + "/asfplay", "--folder", dir.path(), file});
  std::string window;
  ASSERT_TRUE(wait_until(
      [&] {
        const RunResult r = run_command({"env", env, "xdotool", "search", "--onlyvisible", "--name", "asfplay"},
                                        test_support::Stderr::Discard);
        window = r.out.substr(0, r.out.find('\n'));
        return !window.empty();
      },
      20000, 100))
      << "no asfplay window";
  EXPECT_EQ(run_command({"env", env, "xdotool", "getwindowname", window}).out,
            "00a0b1c2d3e4: 2024/05/01   10:00 - 2024/05/01   10:01 - asfplay\n");
  EXPECT_TRUE(player.running());
  (void)player.stop();
}

}  // namespace
