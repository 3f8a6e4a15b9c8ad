// Shared pieces of the end-to-end tests: a view that keeps what it was
// shown, a param.dat naming camsim cameras, a core started on it, and
// polling with a deadline.
#pragma once

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/test_folders.h"
#include "support/camsim.h"
#include "support/wait.h"
#include "viewer/media/video_pipeline.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/viewer_core.h"

namespace integration {

template <class F>
bool wait_until(F&& done, int timeout_ms) {
  return test_support::wait_until(done, timeout_ms, 20);
}

// A camera window without a display: told of each published picture, it
// takes the presented picture as a real view does when it repaints, and
// keeps its size.
class LogView final : public media::PictureListener {
 public:
  void picture_published(const media::VideoPipeline& pipeline) override {
    std::shared_ptr<const media::Picture> picture = pipeline.picture();
    std::lock_guard lock(mutex_);
    ++count_;
    if (!picture || picture->rgb.size() != std::size_t{3} * picture->width * picture->height) {
      ++missing_pixels_;
      return;
    }
    width_ = picture->width;
    height_ = picture->height;
  }

  int count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  int width() const {
    std::lock_guard lock(mutex_);
    return width_;
  }
  int height() const {
    std::lock_guard lock(mutex_);
    return height_;
  }
  int missing_pixels() const {
    std::lock_guard lock(mutex_);
    return missing_pixels_;
  }

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  int width_ = 0;
  int height_ = 0;
  int missing_pixels_ = 0;
};

inline constexpr const char* kMac = "000e53000001";

// One CamInfo record: a camsim camera on loopback, playing on a channel,
// unmuted, every zone of the 3x3 layout watched.
inline std::string camera_record(int port, int channel, int sensitivity, const std::string& mac = kMac) {
  std::string zones;
  for (int z = 0; z < 25; ++z) zones += z < 9 ? "1|" : "0|";
  return "cam1|127.0.0.1|" + std::to_string(port) + "|" + mac + "|camsim|admin|admin|1|" + std::to_string(channel) +
         "|0|0|0|1|0|0|0|" + zones + "0|" + std::to_string(sensitivity) + "\\";
}

// A motion-detection window over the whole of every day, so whatever the
// time a test runs at, it is current.
inline std::string all_day_motion_window(const std::string& mac = kMac) { return mac + "0|1|1|1|0|1440\\"; }

inline std::string param_dat(int port, int sensitivity = 3, const std::string& schedule = "") {
  std::string text = "AutoPlay=1\nAutoRun=0\nInstanceTime=1\nMotionTime=1\nJpegRatio=80\nCamInfo=" +
                     camera_record(port, 1, sensitivity) + "\n";
  if (!schedule.empty()) text += "CamSchedule=" + schedule + "\n";
  return text;
}

// Files directly in a folder (sorted), empty when it does not exist.
inline std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_regular_file()) out.push_back(entry.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Threads of this process now. ThreadSanitizer starts a helper thread of its
// own at the process's first thread creation; one short thread first makes a
// baseline taken before any other thread count it too.
inline int thread_count() {
  static const bool runtime_settled = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)runtime_settled;
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// camsim serving one clip, a scratch program folder with a param.dat, and a
// core whose pool cameras all draw into one LogView.
class CoreRig {
 public:
  explicit CoreRig(const std::string& clip, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--port", "0", "--mac", kMac};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(clip);
    camsim = std::make_unique<test_support::CamsimProcess>(args);
  }

  // Writes param.dat (from the camsim port) and starts the core.
  bool start(int sensitivity = 3, const std::string& schedule = "") {
    if (!camsim->ready()) return false;
    testing_support::write_file(folder / "param.dat", param_dat(camsim->port(), sensitivity, schedule));
    model::ViewerCoreOptions options;
    options.stream_timeout_s = 5;
    core = std::make_unique<model::ViewerCore>(options);
    for (int i = 0; i < model::kPoolSize; ++i) core->cameras().pool(i).video().set_listener(&view);
    return core->start(folder.path()) == 1 && core->cameras().count() == 1;
  }

  model::Camera& camera() { return *core->cameras().camera_at(1); }
  std::string record_folder() { return folder / (std::string("Record/") + kMac); }
  std::string motion_folder() { return folder / (std::string("Motion/") + kMac); }
  std::string snapshot_folder() { return folder / (std::string("Snapshot/") + kMac); }

  // Waits until the camera presents pictures.
  bool playing(int timeout_ms = 15000) {
    return wait_until([&] { return view.count() >= 3; }, timeout_ms);
  }

  platform::ScopedHeadlessUi ui;
  std::unique_ptr<test_support::CamsimProcess> camsim;
  testing_support::TempFolder folder;
  LogView view;
  // Last: the core (and its streams) ends before the view and the folder.
  std::unique_ptr<model::ViewerCore> core;
};

}  // namespace integration
