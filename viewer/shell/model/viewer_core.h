// Everything of the program that is not a window, composed in one object:
// the settings, the pool of cameras with the camera list and its channels,
// the settings file's view of that list, and the recording loops.
//
// The main window owns one ViewerCore and drives it from the user-interface
// thread; headless tools and tests drive it the same way. Cameras stream,
// decode and record on their own threads; ViewerCore only starts and stops
// the whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "viewer/config/settings.h"
#include "viewer/record/analysis_tool.h"
#include "viewer/record/recording_camera.h"
#include "viewer/record/recording_service.h"
#include "viewer/shell/model/camera_list.h"
#include "viewer/shell/model/settings_catalog.h"

namespace model {

struct ViewerCoreOptions {
  // Bounds each connect, send and receive of a camera stream, seconds.
  int stream_timeout_s = 30;
  // Files and clock of the recordings (tests may give simulated ones). When
  // env.tool is null, the analysis tool "asfperiod" beside the running
  // program is used (a missing one changes nothing).
  record::RecordingEnv env = {};
  // The windows around the camera list; nullptr: none.
  ShellHooks* hooks = nullptr;
  // Where the window showing the grid draws its four cells.
  CellRects cells = kHeadlessCellRects;
  // Makes each camera's connection; empty: real network connections (tests
  // of the windows give fakes).
  ConnectionFactory connections = {};
  // Plays the snapshot shutter sound; nullptr: silent.
  record::SoundPlayer* sound = nullptr;
};

class ViewerCore {
 public:
  explicit ViewerCore(ViewerCoreOptions options = {});
  ~ViewerCore();  // shutdown()
  ViewerCore(const ViewerCore&) = delete;
  ViewerCore& operator=(const ViewerCore&) = delete;

  // Reads "param.dat" from program_folder (cameras that were playing start
  // again when AutoPlay is set) and starts both recording loops. Returns 1,
  // or 0 when called a second time (nothing happens then). User-interface
  // thread.
  [[nodiscard]] int start(const std::string& program_folder);

  // Stops both recording loops and joins them (their files end on whole
  // packets), writes "param.dat" (while the cameras still show whether they
  // were playing, so AutoPlay brings them back), then stops every camera.
  // Returns the result of the save (1 saved, 0 failed after a message; 1
  // when there was nothing to save because start() never ran). Idempotent:
  // later calls return the first result. User-interface thread.
  int shutdown();

  // Writes "param.dat" now (atomically, as at exit), so that a crash or a
  // power cut loses nothing the user changed: the windows call it after
  // every change the user makes. Returns 1 saved, 0 failed (after a
  // message), 2 nothing to save (not started, or shut down already).
  // User-interface thread.
  int save_now();

  bool started() const { return started_; }
  bool shut_down() const { return shut_down_; }
  // Set from the moment shutdown() begins: views stop drawing cameras. Any
  // thread.
  bool closing() const { return closing_.load(); }

  config::Settings& settings() { return settings_; }
  // Hands changed settings (a dialog's stored values) to the recording
  // loops. User-interface thread.
  void settings_changed();

  CameraList& cameras() { return list_; }
  // The analysis tool started for every finished recording (null: none).
  record::AnalysisTool* analysis_tool() const { return env_.tool; }
  SettingsCatalog& catalog() { return catalog_; }
  record::RecordingService& recording() { return service_; }

  // The camera list's playing cameras, in list order.
  std::vector<Camera*> playing_cameras();

  // The user's actions that need more than one part. Snapshot: a JPEG of the
  // picture shown now in SnapshotPath/MAC (record::SnapshotResult). Record:
  // the pop-up window's record button (record::RecordActionResult).
  [[nodiscard]] int take_snapshot(Camera& camera);
  [[nodiscard]] int record_action(Camera& camera);
  void stop_recording(Camera& camera);

  // What the main window does with kMsgCameraRefused: the camera with this
  // tag is stopped. Returns it, or nullptr.
  Camera* camera_refused(std::uintptr_t tag) { return list_.camera_refused(tag); }

 private:
  // Declared first: the writers of every camera hold its address.
  std::unique_ptr<record::AnalysisTool> own_tool_;
  record::RecordingEnv env_;
  config::Settings settings_;
  record::SharedRecordingSettings recording_settings_;
  // The loops reach the cameras through the list: the list is declared
  // first, so the service (and with it both loops) is gone before it.
  CameraList list_;
  SettingsCatalog catalog_;
  record::RecordingService service_;
  bool started_ = false;
  bool shut_down_ = false;
  std::atomic<bool> closing_{false};
  int save_result_ = 1;
};

}  // namespace model
