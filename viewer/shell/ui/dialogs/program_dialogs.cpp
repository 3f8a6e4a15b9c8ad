#include "viewer/shell/ui/dialogs/program_dialogs.h"

#include <tuple>

#include "viewer/shell/model/camera.h"
#include "viewer/shell/model/camera_dialog_model.h"
#include "viewer/shell/model/schedule_dialog_model.h"
#include "viewer/shell/model/viewer_core.h"
#include "viewer/shell/ui/dialogs/camera_dialog.h"
#include "viewer/shell/ui/dialogs/saved_files_dialog.h"
#include "viewer/shell/ui/dialogs/schedule_dialog.h"
#include "viewer/shell/ui/dialogs/utility_dialog.h"

namespace ui {
namespace {

// What the utility settings dialog may change.
auto utility_values(const config::Settings& s) {
  return std::tie(s.MotionTime, s.InstanceTime, s.DiskLimit, s.MaxSpace, s.MaxMotSpace, s.MaxInsSpace, s.WriteStop,
                  s.AutoRun, s.AutoPlay, s.MotionPath, s.RecordPath, s.SnapshotPath);
}

}  // namespace

ProgramDialogs::~ProgramDialogs() { work_.join_all(); }

bool ProgramDialogs::utility_settings(QWidget* parent) {
  if (!core_) return false;
  config::Settings& settings = core_->settings();
  const config::Settings before = settings;
  UtilityDialog dialog(parent, settings);
  dialog.exec();
  return utility_values(before) != utility_values(settings);
}

bool ProgramDialogs::camera_dialog(QWidget* parent, model::Camera* camera) {
  if (!core_) return false;
  // The dialog searches and fetches on worker threads with its own
  // discovery and HTTP client; the model adds to and changes the list.
  model::CameraList& list = core_->cameras();
  model::CameraDialogModel model(
      {}, {}, [&list](const model::CameraRecord& r) { return list.add_camera(r); },
      [&list, camera](const model::CameraRecord& r) { return camera ? list.change_camera(*camera, r) : 0; });
  model::CameraDialogMode mode = model::CameraDialogMode::AddFound;
  model::CameraRecord record;
  if (camera) {
    record = camera->record();
    mode = record.location == 1 ? model::CameraDialogMode::EditInternet : model::CameraDialogMode::EditLan;
  }
  CameraDialog dialog(parent, model, work_, mode, camera ? &record : nullptr);
  dialog.exec();
  return dialog.changed();
}

bool ProgramDialogs::entries_dialog(QWidget* parent, model::Camera& camera, int kind) {
  if (!core_) return false;
  model::CameraList& list = core_->cameras();
  model::ScheduleDialogModel model(camera, kind, [&list] { list.redraw_camera_list(); });
  ScheduleDialog dialog(parent, model, camera);
  dialog.exec();
  return model.changed();
}

bool ProgramDialogs::schedule_dialog(QWidget* parent, model::Camera& camera) {
  return entries_dialog(parent, camera, record::kScheduleWindow);
}

bool ProgramDialogs::motion_dialog(QWidget* parent, model::Camera& camera) {
  return entries_dialog(parent, camera, record::kMotionWindow);
}

void ProgramDialogs::saved_files(QWidget* parent) {
  if (!core_) return;
  const config::Settings& s = core_->settings();
  model::CameraList& list = core_->cameras();
  SavedFilesContext context;
  context.record_path = s.RecordPath;
  context.motion_path = s.MotionPath;
  context.snapshot_path = s.SnapshotPath;
  context.desktop = &desktop_;
  context.being_recorded = [&list](const std::string& path) { return model::file_being_recorded(list, path); };
  context.work = &work_;
  SavedFilesDialog dialog(parent, context);
  dialog.exec();
}

}  // namespace ui
