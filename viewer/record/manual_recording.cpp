#include "viewer/record/manual_recording.h"

#include "viewer/platform/ui_seams.h"
#include "viewer/record/recording_names.h"

namespace record {

namespace {

constexpr std::int64_t kFileSeconds = 3600;  // files are split every hour

// What a served camera needs from the user interface once its lock is
// released.
struct After {
  bool redraw = false;
  bool reset_button = false;
  const char* message = nullptr;
};

}  // namespace

ManualRecorder::ManualRecorder(RecordingEnv env, CameraSource& cameras, SettingsSource& settings, Notifier& notifier)
    : env_(env), cameras_(cameras), settings_(settings), notifier_(notifier), quota_(*env.fs, *env.clock) {}

ManualRecorder::~ManualRecorder() { stop(); }

int ManualRecorder::record_action(RecordingCamera& camera) {
  CameraRecording& rec = camera.recording();
  if (rec.has_active_schedule()) {
    (void)platform::ask(kMsgRecordingNow, kCaptionWarning);
    return kRecordRefused;
  }
  if (rec.recording_indicator.load()) return kRecordAlreadyRunning;
  return start_manual(camera) == 1 ? kRecordStarted : kRecordFailed;
}

void ManualRecorder::stop_action(RecordingCamera& camera) { stop_manual(camera); }

int ManualRecorder::start_manual(RecordingCamera& camera) {
  const RecordingSettings settings = settings_.recording_settings();
  CameraRecording& rec = camera.recording();
  bool opened = false;
  {
    std::lock_guard lock(rec.mutex());
    // A manual recording never overlaps a schedule or motion recording.
    if (rec.schedule_writer().IsOpen() || rec.motion_writer().IsOpen()) return 0;
    rec.manual_length.store(settings.InstanceTime);
    RecordingWriter& w = rec.manual_writer();
    if (w.IsOpen()) return 1;

    const std::string directory = camera_directory(settings.RecordPath, camera.mac());
    (void)env_.fs->make_directory(directory);  // a failure shows as a failed open
    const LocalTime now = env_.clock->local_now();
    if (w.Open(join_path(directory, manual_file_name(camera.location(), now))) > 0) {
      w.set_start_stamp(stamp_text(now));
      rec.recording_indicator.store(true);
      rec.manual_request.store(true);
      opened = true;
    } else {
      rec.recording_indicator.store(false);
      rec.manual_request.store(false);
    }
  }
  cameras_.redraw_camera_list();
  if (!opened) {
    platform::tell(kMsgNameExists, kCaptionWarning);
    return 0;
  }
  return 1;
}

void ManualRecorder::stop_manual(RecordingCamera& camera) {
  CameraRecording& rec = camera.recording();
  {
    std::lock_guard lock(rec.mutex());
    RecordingWriter& w = rec.manual_writer();
    // The request is cleared even while the file is closed (connection lost):
    // otherwise the recording would come back with the stream after the user
    // had stopped it.
    if (!w.IsOpen() && !rec.manual_request.load()) return;
    rec.recording_indicator.store(false);
    rec.manual_request.store(false);
    w.Close();
  }
  cameras_.redraw_camera_list();
}

void ManualRecorder::end_recording(RecordingCamera& camera) {
  CameraRecording& rec = camera.recording();
  rec.recording_indicator.store(false);
  rec.manual_request.store(false);
  rec.manual_writer().Close();
}

bool ManualRecorder::open_next_file(RecordingCamera& camera, const RecordingSettings& settings, bool& write_failed) {
  CameraRecording& rec = camera.recording();
  RecordingWriter& w = rec.manual_writer();
  const std::string directory = camera_directory(settings.RecordPath, camera.mac());
  // The camera's folder may have been removed while recording; making it
  // again costs nothing and keeps the recording going.
  (void)env_.fs->make_directory(directory);
  const LocalTime now = env_.clock->local_now();
  const std::string path = join_path(directory, manual_file_name(camera.location(), now));
  if (w.IsOpen()) {
    // The next file of a running recording begins at the key frame before
    // this moment, and the current one is written up to the switch, so no
    // packet falls between the two. Not possible yet: this file goes on.
    const int turned = w.Turnover(path);
    if (turned < 0) write_failed = true;
    if (turned <= 0) return false;
  } else if (w.Open(path) <= 0) {
    return false;
  }
  rec.recording_indicator.store(true);
  // The header goes in at once so that even a file that gets no packet
  // before it is closed is a valid (empty) recording of this connection.
  if (w.WriteHeader(true) < 0) {
    write_failed = true;
    return false;
  }
  w.set_file_stamp(stamp_text(now));
  return true;
}

void ManualRecorder::serve(RecordingCamera& camera, const RecordingSettings& settings) {
  CameraRecording& rec = camera.recording();
  // Cheap tests first: the dead-connection test may wait for its time-out.
  if (!rec.manual_request.load()) return;
  if (camera.header_length() == 0) return;
  if (camera.connection_dead()) return;

  After after;
  {
    std::lock_guard lock(rec.mutex());
    if (!rec.manual_request.load()) return;
    RecordingWriter& w = rec.manual_writer();
    bool write_failed = false;

    const int quota = quota_.check(settings, camera, RecordFolder::Record);
    if (quota == kQuotaFull || quota == kQuotaNoValue) {
      end_recording(camera);
      after = {true, true, quota == kQuotaFull ? kMsgSpaceFull : kMsgNoRecordQuota};
    } else {
      // Over the quota with only this file in the folder: start the next
      // file, so that the next pass can delete this one ("overwrite oldest").
      // A file smaller than one reclaim step is kept, or a tiny quota would
      // turn files over on every pass.
      if (quota == kQuotaOnlyCurrent && w.IsOpen() && w.length() > kReclaimStepBytes)
        (void)open_next_file(camera, settings, write_failed);
      if (!w.IsOpen() && !write_failed) (void)open_next_file(camera, settings, write_failed);

      if (w.IsOpen()) {
        std::string file_stamp = w.file_stamp();
        if (file_stamp.empty()) {
          file_stamp = stamp_from_manual_name(w.path());
          w.set_file_stamp(file_stamp);
        }
        const std::int64_t now = env_.clock->now();
        LocalTime t;
        const std::int64_t file_start = parse_stamp(file_stamp, &t) ? env_.clock->seconds_from_local(t) : now;
        std::int64_t recording_start = file_start;
        if (parse_stamp(w.start_stamp(), &t))
          recording_start = env_.clock->seconds_from_local(t);
        else
          w.set_start_stamp(stamp_text(env_.clock->local(file_start)));

        const std::int64_t length_s = static_cast<std::int64_t>(rec.manual_length.load()) * 60;
        if (now - recording_start > length_s) {
          end_recording(camera);
          after.redraw = after.reset_button = true;
        } else {
          if (now - file_start >= kFileSeconds) (void)open_next_file(camera, settings, write_failed);
          if (!write_failed && w.Flush() < 0) write_failed = true;
        }
      }
      if (write_failed) {
        end_recording(camera);
        after = {true, true, kMsgWriteFailed};
      }
    }
  }
  if (after.reset_button && camera.shown_in_popup()) camera.reset_record_button();
  if (after.redraw) cameras_.redraw_camera_list();
  if (after.message != nullptr) notifier_.post(after.message, kCaptionWarning);
}

void ManualRecorder::run_pass() {
  const RecordingSettings settings = settings_.recording_settings();
  cameras_.list_cameras(list_);
  bool busy = false;
  for (RecordingCamera* camera : list_) {
    if (loop_.stopping()) return;
    serve(*camera, settings);
    busy = busy || camera->recording().manual_request.load();
  }
  // Analysis tools started by closed files are collected here, so none
  // lingers as a zombie until the next file closes.
  if (env_.tool != nullptr) env_.tool->reap();
  (void)env_.clock->wait_ms(busy ? kBusyPassMs : kIdlePassMs, loop_.stop_event());
}

void ManualRecorder::start() {
  loop_.start([this] { run_pass(); });
}

void ManualRecorder::stop() { loop_.stop(); }

}  // namespace record
