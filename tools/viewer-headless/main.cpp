// viewer-headless --folder DIR [--seconds N]
//
// Runs the viewer's core without a display on the "param.dat" in DIR: the
// cameras that were playing start again (AutoPlay), the recording loops
// record what the schedules and recordings ask for, and once a second each
// playing camera's state is printed. Ends after N seconds, or on SIGINT or
// SIGTERM, with the viewer's own shutdown: recordings closed on whole
// packets, "param.dat" written back, every camera stopped.
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/viewer_core.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop.store(true); }

// Questions and notices go to stderr; a question takes its first button
// (nobody is there to answer) and a notice counts as read once printed.
// Posts to the main window wait for the main loop.
class ConsoleUi final : public platform::UiBackend {
 public:
  platform::MsgAnswer ask(std::string_view text, std::string_view caption, platform::MsgButtons buttons) override {
    print("question", text, caption);
    return buttons == platform::MsgButtons::YesNo ? platform::MsgAnswer::Yes : platform::MsgAnswer::Ok;
  }
  void notices_waiting() override {
    while (std::optional<platform::Notice> n = platform::notices().take()) {
      print("message", n->text, n->caption);
      platform::notices().closed(n->id);
    }
  }
  static void print(const char* kind, std::string_view text, std::string_view caption) {
    std::fprintf(stderr, "%s [%.*s]: %.*s\n", kind, static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
  }
  void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) override {
    std::lock_guard lock(mutex_);
    posted_.push_back({msg, wparam, lparam});
  }
  struct Posted {
    std::uint32_t msg;
    std::uintptr_t wparam;
    std::uintptr_t lparam;
  };
  bool take(Posted* out) {
    std::lock_guard lock(mutex_);
    if (posted_.empty()) return false;
    *out = posted_.front();
    posted_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<Posted> posted_;
};

int usage() {
  std::fprintf(stderr, "usage: viewer-headless --folder DIR [--seconds N]\n");
  return 2;
}

void print_state(model::ViewerCore& core, double elapsed_s) {
  const std::vector<model::Camera*> playing = core.playing_cameras();
  if (playing.empty()) std::printf("%5.1f s  no camera playing\n", elapsed_s);
  for (model::Camera* camera : playing) {
    std::printf("%5.1f s  %s (channel %d): connected %d, frames presented %llu, audio clock %u ms, %s\n", elapsed_s,
                camera->name().c_str(), camera->channel(), camera->connected(),
                static_cast<unsigned long long>(camera->video().frames_presented()), camera->audio().clock(),
                camera->recording_indicator()
                    ? (camera->recording().motion_recording.load() ? "recording (motion)" : "recording")
                    : "not recording");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  double seconds = -1;  // until a signal
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || seconds < 0) return usage();
    } else {
      return usage();
    }
  }
  if (folder.empty()) return usage();
  // Everything stored is derived from the folder (the recording folders, the
  // autostart entry's folder below, which must be absolute to count at all):
  // a relative one would mean another place from another directory.
  {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec) {
      std::fprintf(stderr, "viewer-headless: %s: %s\n", folder.c_str(), ec.message().c_str());
      return 1;
    }
    folder = absolute.lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  }

  // The start-with-session entry belongs to the desktop program; a headless
  // run keeps whatever it writes inside its own folder.
  const std::string config_home = folder + "/.config";
  ::setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  ConsoleUi ui;
  platform::set_ui_backend(&ui);
  int status = 0;
  {
    model::ViewerCore core;
    if (core.start(folder) != 1) return 1;
    std::printf("viewer-headless: %d camera(s) listed, %zu playing; recordings in %s\n", core.cameras().count(),
                core.playing_cameras().size(), core.settings().RecordPath.c_str());
    const auto t0 = std::chrono::steady_clock::now();
    auto next_print = t0 + std::chrono::seconds(1);
    for (;;) {
      ConsoleUi::Posted posted;
      while (ui.take(&posted)) {
        if (posted.msg != platform::kMsgCameraRefused) continue;
        if (model::Camera* camera = core.camera_refused(posted.lparam)) {
          std::printf("camera %s refused the request; stopped\n", camera->name().c_str());
        }
      }
      const auto now = std::chrono::steady_clock::now();
      const double elapsed = std::chrono::duration<double>(now - t0).count();
      if (g_stop.load() || (seconds >= 0 && elapsed >= seconds)) break;
      if (now >= next_print) {
        print_state(core, elapsed);
        next_print += std::chrono::seconds(1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("viewer-headless: shutting down\n");
    const int saved = core.shutdown();
    std::printf("viewer-headless: param.dat %s\n", saved == 1 ? "saved" : "NOT saved");
    status = saved == 1 ? 0 : 1;
  }
  platform::set_ui_backend(nullptr);
  return status;
}
