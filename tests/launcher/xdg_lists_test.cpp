// The desktop's lists as the launcher reads and writes them, checked against
// xdg-utils' own xdg-mime on the same temporary folders; the hyperlink's
// target checks, fallback command and texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "launcher/core/hyperlink.h"
#include "launcher/core/players.h"
#include "launcher/core/xdg.h"
#include "launcher_env.h"
#include "support/child_process.h"
#include "support/files.h"

namespace {

using launcher_test::LauncherDesktop;
using test_support::write_text;

constexpr const char* kAsf = "video/x-ms-asf";
constexpr const char* kRealXdgMime = "/usr/bin/xdg-mime";

// What xdg-utils answers on the same folders (its helpers need the system's
// tools on PATH; the folders it reads are still the test's).
std::string xdg_mime_answer(LauncherDesktop& desk) {
  const std::string path = desk.bin() + ":/usr/bin:/bin";
  desk.set("PATH", path);
  test_support::RunResult r = test_support::run_command({kRealXdgMime, "query", "default", kAsf});
  desk.set("PATH", desk.bin());
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

struct Players {
  std::string vlc, totem, mpv;
};

Players install_players(const LauncherDesktop& desk) {
  Players p;
  p.vlc = LauncherDesktop::write_entry(desk.sysdata(), "vlc.desktop", "VLC", desk.stand_in(desk.bin(), "vlc") + " %U",
                                       "MimeType=video/x-ms-asf;video/mp4;\n");
  p.totem = LauncherDesktop::write_entry(desk.sysdata(), "org.gnome.Totem.desktop", "Videos",
                                         desk.stand_in(desk.bin(), "totem") + " %U", "MimeType=video/x-ms-asf;\n");
  p.mpv = LauncherDesktop::write_entry(desk.data(), "mpv.desktop", "mpv", desk.stand_in(desk.bin(), "mpv") + " %U",
                                       "MimeType=video/x-ms-asf;\nInitialPreference=5\n");
  return p;
}

TEST(XdgLists, DefaultAgreesWithXdgUtilsOnEachLayout) {
  if (::access(kRealXdgMime, X_OK) != 0) GTEST_SKIP() << "xdg-utils is not installed";
  struct Layout {
    const char* what;
    std::function<void(LauncherDesktop&)> make;
    const char* expected;
    const char* xdg_mime_expected = nullptr;  // where xdg-utils answers otherwise
  };
  const Layout layouts[] = {
      {"claimants only: the highest InitialPreference", [](LauncherDesktop&) {}, "mpv.desktop"},
      {"user's list",
       [](LauncherDesktop& d) {
         write_text(d.config() + "/mimeapps.list", "[Default Applications]\nvideo/x-ms-asf=vlc.desktop;\n");
       },
       "vlc.desktop"},
      {"the system's list in its applications folder",
       [](LauncherDesktop& d) {
         write_text(d.sysdata() + "/applications/mimeapps.list",
                    "[Default Applications]\nvideo/x-ms-asf=org.gnome.Totem.desktop\n");
       },
       "org.gnome.Totem.desktop"},
      {"user's list before the system's",
       [](LauncherDesktop& d) {
         write_text(d.sysdata() + "/applications/mimeapps.list",
                    "[Default Applications]\nvideo/x-ms-asf=org.gnome.Totem.desktop\n");
         write_text(d.config() + "/mimeapps.list",
                    "[Added Associations]\nvideo/x-ms-asf=mpv.desktop;\n\n[Default "
                    "Applications]\nvideo/x-ms-asf=vlc.desktop\n");
       },
       "vlc.desktop"},
      {"the desktop's own list first",
       [](LauncherDesktop& d) {
         d.set("XDG_CURRENT_DESKTOP", "GNOME");
         write_text(d.config() + "/mimeapps.list", "[Default Applications]\nvideo/x-ms-asf=vlc.desktop\n");
         write_text(d.config() + "/gnome-mimeapps.list",
                    "[Default Applications]\nvideo/x-ms-asf=org.gnome.Totem.desktop\n");
       },
       "org.gnome.Totem.desktop"},
      {"an id that is not installed is passed over",
       [](LauncherDesktop& d) {
         write_text(d.config() + "/mimeapps.list",
                    "[Default Applications]\nvideo/x-ms-asf=gone.desktop;vlc.desktop;\n");
       },
       // xdg-utils 1.1.3 looks only at the first id of a list and falls back to
       // the claimants; the desktops (GLib, KDE) take the first installed one.
       "vlc.desktop", "mpv.desktop"},
      {"a default for another type does not count",
       [](LauncherDesktop& d) {
         write_text(d.config() + "/mimeapps.list",
                    "[Default Applications]\nvideo/x-ms-asf-plugin=vlc.desktop\nvideo/mp4=vlc.desktop\n");
       },
       "mpv.desktop"},
  };
  for (const Layout& layout : layouts) {
    LauncherDesktop desk;
    (void)install_players(desk);
    layout.make(desk);
    EXPECT_EQ(launcher::default_app_from_lists(launcher::XdgDirs::from_environment(), kAsf), layout.expected)
        << layout.what;
    EXPECT_EQ(xdg_mime_answer(desk), layout.xdg_mime_expected ? layout.xdg_mime_expected : layout.expected)
        << layout.what << " (xdg-mime)";
  }
  // Nobody claims the type: no default, for both.
  LauncherDesktop empty;
  EXPECT_EQ(launcher::default_app_from_lists(launcher::XdgDirs::from_environment(), kAsf), "");
  EXPECT_EQ(xdg_mime_answer(empty), "");
}

TEST(XdgLists, WrittenDefaultIsWhatXdgUtilsReadsBack) {
  LauncherDesktop desk;
  (void)install_players(desk);
  LauncherDesktop::write_entry(desk.data(), "asfplay.desktop", "Camera Recording Player",
                               desk.stand_in(desk.bin(), "asfplay") + " %f", "MimeType=video/x-ms-asf;\n");
  desk.set("XDG_CURRENT_DESKTOP", "XFCE:GNOME");
  // The GNOME list names a default (it would win); the XFCE one has none.
  write_text(desk.config() + "/gnome-mimeapps.list",
             "[Default Applications]\nvideo/x-ms-asf=org.gnome.Totem.desktop\n");
  write_text(desk.config() + "/xfce-mimeapps.list", "[Default Applications]\nimage/png=ristretto.desktop\n");
  const launcher::XdgDirs dirs = launcher::XdgDirs::from_environment();
  ASSERT_EQ(launcher::write_default_app(dirs, kAsf, "asfplay.desktop"), 0);
  EXPECT_EQ(test_support::read_text(desk.config() + "/mimeapps.list"),
            "[Default Applications]\nvideo/x-ms-asf=asfplay.desktop\n");
  EXPECT_EQ(test_support::read_text(desk.config() + "/gnome-mimeapps.list"),
            "[Default Applications]\nvideo/x-ms-asf=asfplay.desktop\n");
  EXPECT_EQ(test_support::read_text(desk.config() + "/xfce-mimeapps.list"),
            "[Default Applications]\nimage/png=ristretto.desktop\n");
  EXPECT_EQ(launcher::default_app_from_lists(dirs, kAsf), "asfplay.desktop");
  if (::access(kRealXdgMime, X_OK) == 0) {
    EXPECT_EQ(xdg_mime_answer(desk), "asfplay.desktop");
  }

  // A list that cannot be replaced is reported, not passed over.
  std::filesystem::remove(desk.config() + "/mimeapps.list");
  std::filesystem::create_directory(desk.config() + "/mimeapps.list");
  EXPECT_NE(launcher::write_default_app(dirs, kAsf, "asfplay.desktop"), 0);
}

TEST(XdgLists, EntriesAndExecLines) {
  LauncherDesktop desk;
  const std::string tool = desk.stand_in(desk.bin(), "tool");
  // Found by id, also in a vendor sub-folder; a user's Hidden=true copy deletes it.
  LauncherDesktop::write_entry(desk.sysdata(), "kde4/tool.desktop", "Tool", "tool");
  const launcher::XdgDirs dirs = launcher::XdgDirs::from_environment();
  EXPECT_EQ(launcher::find_desktop_entry(dirs, "kde4-tool.desktop"),
            desk.sysdata() + "/applications/kde4/tool.desktop");
  EXPECT_EQ(launcher::entry_program(dirs, desk.sysdata() + "/applications/kde4/tool.desktop"), tool);
  LauncherDesktop::write_entry(desk.data(), "kde4-tool.desktop", "Tool", "tool", "Hidden=true\n");
  EXPECT_EQ(launcher::find_desktop_entry(dirs, "kde4-tool.desktop"), "");
  EXPECT_EQ(launcher::find_desktop_entry(dirs, "../x.desktop"), "");

  EXPECT_EQ(launcher::split_exec(R"("/opt/my app/run" --title "say \\"hi\\"" %f)"),
            (std::vector<std::string>{"/opt/my app/run", "--title", "say \"hi\"", "%f"}));
  // The string escapes come first: an escaped blank still separates.
  EXPECT_EQ(launcher::split_exec(R"(a\sb  c)"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(launcher::split_exec(R"("/unclosed quote)").empty());
}

TEST(Players, GStreamerPlayersByIdOrProgram) {
  for (const char* id : {"org.gnome.Totem.desktop", "ORG.GNOME.TOTEM", "totem.desktop", "org.xfce.Parole.desktop",
                         "parole.desktop", "com.github.rafostar.Clapper.desktop", "org.gnome.Showtime.desktop"}) {
    EXPECT_TRUE(launcher::plays_without_sound(id)) << id;
  }
  EXPECT_TRUE(launcher::plays_without_sound("my-videos.desktop", "/usr/bin/totem"));
  EXPECT_TRUE(launcher::plays_without_sound("x.desktop", "/usr/bin/gst-play-1.0"));
  for (const char* id : {"vlc.desktop", "mpv.desktop", "io.github.celluloid_player.Celluloid.desktop",
                         "org.kde.haruna.desktop", "smplayer.desktop", "asfplay.desktop", "totem-extra.desktop"}) {
    EXPECT_FALSE(launcher::plays_without_sound(id, "/usr/bin/vlc")) << id;
  }
}

TEST(Hyperlink, LocalTargetsAreCheckedBeforeTheDesktopIsAsked) {
  test_support::TempDir dir("launcher-link");
  write_text(dir.file("page one.html"), "<html></html>");
  EXPECT_EQ(launcher::check_link_target("file://" + dir.path() + "/page%20one.html"), launcher::kLinkOpened);
  EXPECT_EQ(launcher::check_link_target("file://localhost" + dir.path() + "/page%20one.html"), launcher::kLinkOpened);
  EXPECT_EQ(launcher::check_link_target("file://" + dir.path() + "/missing.html"), launcher::kLinkFileNotFound);
  EXPECT_EQ(launcher::check_link_target("file://" + dir.path() + "/gone/index.html"), launcher::kLinkPathNotFound);
  EXPECT_EQ(launcher::check_link_target("https://example.invalid/help"), launcher::kLinkOpened);
  if (::geteuid() != 0) {
    ::chmod(dir.file("page one.html").c_str(), 0);
    EXPECT_EQ(launcher::check_link_target("file://" + dir.path() + "/page%20one.html"), launcher::kLinkAccessDenied);
  }
  EXPECT_EQ(launcher::local_path_of("file:///a%2Fb%zz?q#f"), "/a/b%zz");
  EXPECT_FALSE(launcher::local_path_of("http://host/a"));
}

TEST(Hyperlink, FallbackRunsTheWebBrowsersCommand) {
  LauncherDesktop desk;
  const std::string browser = desk.stand_in(desk.bin(), "browser");
  const launcher::XdgDirs dirs = launcher::XdgDirs::from_environment();
  EXPECT_TRUE(launcher::fallback_command(dirs, "file:///x/index.html").empty());  // none set

  LauncherDesktop::write_entry(desk.sysdata(), "browser.desktop", "Browser", "browser --new-window %u %i",
                               "MimeType=text/html;\n");
  EXPECT_EQ(launcher::fallback_command(dirs, "file:///x/a%20b.html"),
            (std::vector<std::string>{browser, "--new-window", "file:///x/a%20b.html"}));
  LauncherDesktop::write_entry(desk.sysdata(), "browser.desktop", "Browser", "browser --file=%f",
                               "MimeType=text/html;\n");
  EXPECT_EQ(launcher::fallback_command(dirs, "file:///x/a%20b.html"),
            (std::vector<std::string>{browser, "--file=/x/a b.html"}));
  LauncherDesktop::write_entry(desk.sysdata(), "browser.desktop", "Browser", "browser", "MimeType=text/html;\n");
  EXPECT_EQ(launcher::fallback_command(dirs, "https://a/"), (std::vector<std::string>{browser, "https://a/"}));
}

TEST(Hyperlink, FailureTexts) {
  EXPECT_EQ(launcher::hyperlink_failure_message(2), "Unable to open hyperlink:\n\nThe specified file was not found.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(0), "The operating system is out\nof memory or resources.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(5), "The operating system denied\naccess to the specified file.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(26), "A sharing violation occurred. ");
  EXPECT_EQ(launcher::hyperlink_failure_reason(30),
            "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(31),
            "There is no application associated\nwith the given filename extension.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(77), "Unknown Error (77) occurred.");
  EXPECT_EQ(launcher::hyperlink_failure_reason(-1), "Unknown Error (-1) occurred.");
}

}  // namespace
