// The real-display harness itself: two desktops side by side on their own
// display numbers, the window manager and the tray host up, the pointer
// where it was sent, the screen grabbed, and nothing left running after.
#include <gtest/gtest.h>

#include <signal.h>

#include "support/x_desktop.h"

namespace test_support {
namespace {

TEST(XDesktop, TwoDesktopsDriveAndGrabAndGoAway) {
  std::string missing;
  if (!XDesktop::available(&missing)) GTEST_SKIP() << missing << " is not installed";
  std::vector<pid_t> pids;
  {
    XDesktop a;
    ASSERT_TRUE(a.ok()) << a.error();
    XDesktop b({.width = 640, .height = 480, .window_manager = false, .tray = false});
    ASSERT_TRUE(b.ok()) << b.error();
    EXPECT_NE(a.display(), b.display());

    // The window manager and the tray host run on the first only.
    EXPECT_NE(a.run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id"), std::string::npos);
    EXPECT_EQ(b.run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id"), std::string::npos);
    EXPECT_FALSE(a.windows_of_class("trayer").empty());
    EXPECT_TRUE(b.windows_of_class("trayer").empty());

    a.mouse_move(321, 123);
    std::string where;
    ASSERT_TRUE(a.xdotool({"getmouselocation", "--shell"}, &where));
    EXPECT_NE(where.find("X=321\nY=123"), std::string::npos) << where;

    const QImage shot = b.grab();
    EXPECT_EQ(shot.size(), QSize(640, 480));
    // The environment of a program under test points at its own folders.
    bool display_set = false, runtime_set = false;
    for (const std::string& e : a.env()) {
      display_set |= e == "DISPLAY=" + a.display();
      runtime_set |= e.rfind("XDG_RUNTIME_DIR=" + a.folder(), 0) == 0;
    }
    EXPECT_TRUE(display_set);
    EXPECT_TRUE(runtime_set);
    pids = a.pids();
    for (pid_t pid : pids) EXPECT_EQ(::kill(pid, 0), 0);
  }
  // The X server, the window manager and the tray host are gone (reaped).
  for (pid_t pid : pids) EXPECT_NE(::kill(pid, 0), 0);
}

}  // namespace
}  // namespace test_support
