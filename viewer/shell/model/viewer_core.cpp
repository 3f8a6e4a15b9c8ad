#include "viewer/shell/model/viewer_core.h"

#include "viewer/config/settings_file.h"
#include "viewer/media/colour.h"
#include "viewer/platform/autostart.h"
#include "viewer/platform/sound_device.h"
#include "viewer/shell/model/net_connection.h"

namespace model {
namespace {

// The analysis tool lives beside the program (build/bin, or the installed
// bin folder); it is started by absolute path, never looked up in PATH.
std::unique_ptr<record::AnalysisTool> tool_beside_program(const record::RecordingEnv& env) {
  if (env.tool != nullptr) return nullptr;
  const std::string program = platform::running_program_path();
  const std::size_t slash = program.rfind('/');
  if (slash == std::string::npos) return nullptr;
  return std::make_unique<record::AnalysisTool>(program.substr(0, slash + 1) + "asfperiod");
}

record::RecordingEnv with_tool(record::RecordingEnv env, record::AnalysisTool* tool) {
  if (env.tool == nullptr) env.tool = tool;
  return env;
}

}  // namespace

ViewerCore::ViewerCore(ViewerCoreOptions options)
    : own_tool_(tool_beside_program(options.env)),
      env_(with_tool(options.env, own_tool_.get())),
      list_(options.connections ? options.connections : net_connection_factory(options.stream_timeout_s), options.hooks,
            env_, options.cells),
      catalog_(list_),
      service_(env_, list_, recording_settings_, options.sound) {
  // Before any camera can decode a picture: loading the settings may start
  // cameras already.
  media::init_YUV2RGB_tab();
}

ViewerCore::~ViewerCore() { shutdown(); }

int ViewerCore::start(const std::string& program_folder) {
  if (started_ || shut_down_) return 0;
  started_ = true;
  settings_.program_folder = program_folder;
  settings_.program_file = platform::running_program_path();
  config::load_settings(settings_, &catalog_);
  recording_settings_.set(recording_settings(settings_));
  service_.start();
  return 1;
}

int ViewerCore::shutdown() {
  if (shut_down_) return save_result_;
  shut_down_ = true;
  closing_.store(true);
  // The loops end first, so that no file is opened behind the save or the
  // cameras' clean-up; the service then writes what is queued and closes
  // every file on a whole packet.
  service_.shutdown();
  if (started_) {
    config::build_camera_texts(settings_, catalog_);
    save_result_ = config::save_settings(settings_);
  }
  for (int i = 0; i < kPoolSize; ++i) {
    Camera& camera = list_.pool(i);
    if (camera.running()) camera.stop();
  }
  // No picture is converted and no sound buffer is left once every camera
  // has stopped: the colour tables and the sound device go last. (One core
  // per process, as there is one main window.)
  media::delete_YUV2RGB_tab();
  platform::release_sound_device();
  return save_result_;
}

int ViewerCore::save_now() {
  if (!started_ || shut_down_) return 2;
  config::build_camera_texts(settings_, catalog_);
  return config::save_settings(settings_);
}

void ViewerCore::settings_changed() { recording_settings_.set(recording_settings(settings_)); }

std::vector<Camera*> ViewerCore::playing_cameras() {
  std::vector<Camera*> out;
  for (int position = 1; position <= list_.count(); ++position) {
    Camera* camera = list_.camera_at(position);
    if (camera->running()) out.push_back(camera);
  }
  return out;
}

int ViewerCore::take_snapshot(Camera& camera) {
  return service_.snapshots().take(camera.mac(), camera, recording_settings_.recording_settings());
}

int ViewerCore::record_action(Camera& camera) { return service_.manual().record_action(camera); }

void ViewerCore::stop_recording(Camera& camera) { service_.manual().stop_action(camera); }

}  // namespace model
