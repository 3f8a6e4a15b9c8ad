// A real X desktop for end-to-end tests of the windows, and the tools to
// drive it as a user would.
//
// XDesktop starts its own X server (Xvfb on a display number it picks
// itself), a window manager (openbox: without one nothing moves or is
// placed) and a tray host (trayer), each killed by its id when the object
// goes. Programs under test get an environment for that display with their
// own runtime and configuration folders, so that they neither meet the
// user's desktop nor each other (the viewer's single-instance lock lives in
// the runtime folder).
//
// Driving: xdotool moves the pointer, presses and types; windows are found
// by name; what is on screen is grabbed with ImageMagick's import and read
// with QImage. Everything waits on conditions with deadlines: these tests
// run beside others on busy two-core machines.
//
// Needs Xvfb, openbox, trayer, xdotool, xprop, xwininfo and import
// (scripts/install-deps.sh installs them); available() tells a test to
// skip when they are missing.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"

namespace test_support {

// A program that runs in the background for the life of the object, its
// output in a log file; stopped with SIGTERM, then SIGKILL, and reaped.
class Daemon {
 public:
  Daemon() = default;
  ~Daemon() { (void)stop(); }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // fd3, when not -1, becomes the child's descriptor 3.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
             int fd3 = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid_ > 0;
  }

  pid_t pid() const { return pid_; }
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  // Ends it: SIGTERM, up to `within`, then SIGKILL. True when it ended on
  // SIGTERM (or had ended already).
  bool stop(std::chrono::milliseconds within = std::chrono::milliseconds(3000)) {
    if (pid_ <= 0) return true;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const bool ended =
        wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, static_cast<int>(within.count()), 10);
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return ended;
  }

 private:
  pid_t pid_ = -1;
};

class XDesktop {
 public:
  struct Options {
    int width = 1280;
    int height = 800;
    bool window_manager = true;
    bool tray = true;
    int startup_timeout_ms = 30000;
  };
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };

  // Whether every program the desktop and its drivers need is installed;
  // the first missing one goes to *missing.
  static bool available(std::string* missing = nullptr) {
    for (const char* program : {"Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo", "import"}) {
      if (run_quiet({"sh", "-c", std::string("command -v ") + program}) != 0) {
        if (missing) *missing = program;
        return false;
      }
    }
    return true;
  }

  XDesktop() : XDesktop(Options()) {}
  explicit XDesktop(Options options) : options_(options), folder_("camviewer-xdesktop") {
    runtime_ = folder_ / "runtime";
    config_ = folder_ / "config";
    ::mkdir(runtime_.c_str(), 0700);
    ::mkdir(config_.c_str(), 0700);
    start();
  }
  ~XDesktop() {
    tray_.stop();
    window_manager_.stop();
    server_.stop();
  }
  XDesktop(const XDesktop&) = delete;
  XDesktop& operator=(const XDesktop&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& display() const { return display_; }
  // A scratch folder of this desktop (removed with it).
  const std::string& folder() const { return folder_.path(); }
  std::string file(const std::string& name) const { return folder_ / name; }
  bool has_window_manager() const { return options_.window_manager; }
  // Process ids of the X server, the window manager and the tray host.
  std::vector<pid_t> pids() const { return {server_.pid(), window_manager_.pid(), tray_.pid()}; }
  bool has_tray() const { return options_.tray; }
  // What the desktop's own programs printed (for failure messages).
  std::string logs() const {
    return read_text(folder_ / "xvfb.log") + read_text(folder_ / "openbox.log") + read_text(folder_ / "trayer.log");
  }

  // The environment of a program on this desktop: our own, on this display,
  // with the desktop's runtime and configuration folders, Qt on X11, plus
  // the given NAME=VALUE entries.
  std::vector<std::string> env(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> set = {"DISPLAY=" + display_, "XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                                    "QT_QPA_PLATFORM=xcb"};
    set.insert(set.end(), extra.begin(), extra.end());
    return environment_with(set, {"WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS"});
  }

  // Runs a tool on this display to its end.
  RunResult run(const std::vector<std::string>& argv) const {
    const std::vector<std::string> e = env();
    return run_command(argv, Stderr::Capture, &e);
  }
  bool xdotool(const std::vector<std::string>& args, std::string* out = nullptr) const {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run(argv);
    if (out) *out = r.out;
    return r.status == 0;
  }

  // Ids of the windows whose name, or class, matches (a regular
  // expression), visible ones only unless told.
  std::vector<unsigned long> windows(const std::string& name, bool only_visible = true) const {
    return search("--name", name, only_visible);
  }
  std::vector<unsigned long> windows_of_class(const std::string& cls, bool only_visible = true) const {
    return search("--class", cls, only_visible);
  }
  std::optional<unsigned long> wait_window(const std::string& name, int timeout_ms) const {
    std::optional<unsigned long> found;
    wait_until(
        [&] {
          const std::vector<unsigned long> w = windows(name);
          if (!w.empty()) found = w.front();
          return found.has_value();
        },
        timeout_ms, 100);
    return found;
  }
  std::optional<Geometry> geometry(unsigned long window) const {
    std::string out;
    if (!xdotool({"getwindowgeometry", "--shell", std::to_string(window)}, &out)) return std::nullopt;
    Geometry g;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      const int value = std::atoi(line.c_str() + eq + 1);
      if (key == "X") g.x = value;
      if (key == "Y") g.y = value;
      if (key == "WIDTH") g.width = value;
      if (key == "HEIGHT") g.height = value;
    }
    return g;
  }
  // The window's geometry once pred holds for it (or the last one seen).
  template <class Pred>
  std::optional<Geometry> wait_geometry(unsigned long window, Pred pred, int timeout_ms) const {
    std::optional<Geometry> g;
    wait_until(
        [&] {
          g = geometry(window);
          return g && pred(*g);
        },
        timeout_ms, 100);
    return g;
  }

  // The pointer, like a hand on a mouse: each step is its own event, with a
  // short pause between steps so that the program sees them apart.
  void mouse_move(int x, int y) const {
    // "mousemove --sync" to where the pointer already is waits some fifteen
    // seconds for a move that never comes: ask first.
    std::string where;
    if (xdotool({"getmouselocation", "--shell"}, &where) &&
        where.find("X=" + std::to_string(x) + "\nY=" + std::to_string(y) + "\n") != std::string::npos) {
      return;
    }
    (void)xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
  }
  void mouse_down(int button = 1) const { (void)xdotool({"mousedown", std::to_string(button)}); }
  void mouse_up(int button = 1) const { (void)xdotool({"mouseup", std::to_string(button)}); }
  void click(int x, int y, int button = 1, int repeat = 1) const {
    mouse_move(x, y);
    pause();
    (void)xdotool({"click", "--repeat", std::to_string(repeat), "--delay", "80", std::to_string(button)});
  }
  // Press at from, move there in steps, release at to.
  void drag(int from_x, int from_y, int to_x, int to_y, int steps = 6) const {
    mouse_move(from_x, from_y);
    pause();
    mouse_down();
    pause();
    for (int i = 1; i <= steps; ++i) {
      mouse_move(from_x + (to_x - from_x) * i / steps, from_y + (to_y - from_y) * i / steps);
      pause(60);
    }
    pause();
    mouse_up();
    pause();
  }
  // Keys by their X names, separated by spaces ("Down Down Return").
  void key(const std::string& keys) const {
    std::vector<std::string> args = {"key", "--clearmodifiers", "--delay", "60"};
    std::istringstream names(keys);
    for (std::string name; names >> name;) args.push_back(name);
    (void)xdotool(args);
  }
  static void pause(int ms = 250) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  // What the screen shows now; a null image when it cannot be grabbed.
  QImage grab() const {
    const std::string png = folder_ / "grab.png";
    ::unlink(png.c_str());
    if (run({"import", "-window", "root", "png:" + png}).status != 0) return {};
    QImage image(QString::fromStdString(png));
    return image.convertToFormat(QImage::Format_RGB32);
  }
  // The window tree with names and classes (xwininfo -root -tree).
  std::string tree() const { return run({"xwininfo", "-root", "-tree"}).out; }

 private:
  std::vector<unsigned long> search(const char* by, const std::string& what, bool only_visible) const {
    std::vector<std::string> args = {"search"};
    if (only_visible) args.push_back("--onlyvisible");
    args.insert(args.end(), {by, what});
    std::string out;
    (void)xdotool(args, &out);
    return ids(out);
  }
  static std::vector<unsigned long> ids(const std::string& text) {
    std::vector<unsigned long> out;
    std::istringstream in(text);
    for (unsigned long id; in >> id;) out.push_back(id);
    return out;
  }

  void start() {
    // Xvfb picks a free display number and writes it to descriptor 3 once
    // it accepts clients.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      error_ = "no pipe";
      return;
    }
    const std::string screen = std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24";
    const bool started =
        server_.start({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
                      environment_with({}), folder_ / "xvfb.log", fds[1]);
    ::close(fds[1]);
    std::string number;
    if (started) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.startup_timeout_ms);
      while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
          if (!server_.running()) break;
          continue;
        }
        char c[16];
        const ssize_t n = ::read(fds[0], c, sizeof c);
        if (n <= 0) break;
        number.append(c, static_cast<std::size_t>(n));
      }
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      error_ = "Xvfb did not start: " + read_text(folder_ / "xvfb.log");
      return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));

    if (options_.window_manager) {
      if (!window_manager_.start({"openbox", "--sm-disable"}, env(), folder_ / "openbox.log")) {
        error_ = "openbox did not start";
        return;
      }
      const bool managed = wait_until(
          [&] {
            return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") != std::string::npos;
          },
          options_.startup_timeout_ms, 100);
      if (!managed) {
        error_ = "openbox did not take the screen within the time: " + logs();
        return;
      }
    }
    if (options_.tray) {
      if (!tray_.start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                        "--SetDockType", "false"},
                       env(), folder_ / "trayer.log")) {
        error_ = "trayer did not start";
        return;
      }
      if (!wait_until([&] { return !windows_of_class("trayer").empty(); }, options_.startup_timeout_ms, 100)) {
        error_ = "trayer did not show: " + logs();
      }
    }
  }

  Options options_;
  TempDir folder_;
  std::string runtime_;
  std::string config_;
  std::string display_;
  std::string error_;
  Daemon server_;
  Daemon window_manager_;
  Daemon tray_;
};

}  // namespace test_support
