// A desktop of the test's own for the launcher: temporary XDG folders, a
// home, a PATH holding only the stand-in programs the test writes, and the
// launcher's folder. The process environment points at them while the object
// lives (and is put back after), so nothing the launcher or a program it
// starts does can reach this machine's real settings.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/launch.h"
#include "support/files.h"

namespace launcher_test {

class LauncherDesktop {
 public:
  LauncherDesktop() {
    for (const char* d : {"home", "data", "sysdata", "config", "sysconfig", "bin", "app"}) {
      std::filesystem::create_directories(root_.file(d));
    }
    set("HOME", root_.file("home"));
    set("XDG_DATA_HOME", data());
    set("XDG_DATA_DIRS", sysdata());
    set("XDG_CONFIG_HOME", config());
    set("XDG_CONFIG_DIRS", root_.file("sysconfig"));
    set("PATH", bin());
    // Nothing that would make xdg-utils think of a particular desktop or a
    // display.
    for (const char* v : {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID",
                          "DESKTOP_SESSION", "XDG_SESSION_DESKTOP", "MATE_DESKTOP_SESSION_ID", "DISPLAY",
                          "WAYLAND_DISPLAY", "XDG_MENU_PREFIX", "BROWSER"}) {
      unset(v);
    }
  }
  ~LauncherDesktop() {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  LauncherDesktop(const LauncherDesktop&) = delete;
  LauncherDesktop& operator=(const LauncherDesktop&) = delete;

  void set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
  }

  std::string root() const { return root_.path(); }
  std::string file(const std::string& name) const { return root_.file(name); }
  std::string data() const { return root_.file("data"); }
  std::string sysdata() const { return root_.file("sysdata"); }
  std::string config() const { return root_.file("config"); }
  std::string bin() const { return root_.file("bin"); }
  std::string app() const { return root_.file("app"); }
  std::string user_entry() const { return data() + "/applications/asfplay.desktop"; }

  launcher::LaunchContext context() const { return {app(), launcher::XdgDirs::from_environment()}; }

  // An executable /bin/sh script.
  static void write_script(const std::string& path, const std::string& body) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test_support::write_text(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
  }

  // A stand-in program that notes it ran (a file NAME.ran holding its
  // arguments) and ends.
  std::string stand_in(const std::string& folder, const std::string& name) const {
    const std::string path = folder + "/" + name;
    write_script(path, "echo \"$@\" > '" + file(name + ".ran") + "'\n");
    return path;
  }

  // xdg-mime on PATH, answering every query with answer.
  void xdg_mime_answering(const std::string& answer) const {
    write_script(bin() + "/xdg-mime", "echo '" + answer + "'\n");
  }

  // A desktop entry in folder/applications.
  static std::string write_entry(const std::string& data_folder, const std::string& id, const std::string& name,
                                 const std::string& exec, const std::string& extra = "") {
    const std::string path = data_folder + "/applications/" + id;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test_support::write_text(path, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra);
    return path;
  }

  // The launcher's own programs: asfplay and viewer stand-ins in app().
  void install_player() const { (void)stand_in(app(), "asfplay"); }
  void install_viewer() const { (void)stand_in(app(), "viewer"); }
  bool ran(const std::string& name) const { return std::filesystem::exists(file(name + ".ran")); }
  std::string ran_with(const std::string& name) const { return test_support::read_text(file(name + ".ran")); }

 private:
  void remember(const std::string& name) {
    if (saved_.count(name)) return;
    const char* v = std::getenv(name.c_str());
    saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
  }

  test_support::TempDir root_{"launcher-desktop"};
  std::map<std::string, std::optional<std::string>> saved_;
};

// Records what the launcher shows; answers the dialog as told.
class RecordingUi : public launcher::LauncherUi {
 public:
  bool answer_make_default = false;
  std::function<void(const launcher::Information&)> on_information;
  std::vector<launcher::Information> dialogs;
  std::vector<std::string> messages;

  bool show_information(const launcher::Information& info) override {
    dialogs.push_back(info);
    if (on_information) on_information(info);
    return answer_make_default;
  }
  void show_message(std::string_view text) override { messages.emplace_back(text); }
};

}  // namespace launcher_test
