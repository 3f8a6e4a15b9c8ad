#include "viewer/record/schedule_recording.h"

#include <algorithm>

#include "viewer/record/recording_names.h"

namespace record {

namespace {

constexpr std::int64_t kFileSeconds = 3600;      // files are split every hour
constexpr int kConnectWaitMs = 200;              // time a camera gets to connect before it is skipped
constexpr std::int64_t kWriteRetrySeconds = 60;  // after a failed write, the next file is tried this much later

struct After {
  bool redraw = false;
  bool reset_button = false;
  const char* message = nullptr;
};

// Closes a writer; true when it had a file open. The recording indicator is
// cleared only for a file this loop had open, so that a manual recording's
// indicator is left alone.
bool close_writer(CameraRecording& rec, RecordingWriter& w) {
  const bool was_open = w.IsOpen();
  w.Close();
  if (was_open) rec.recording_indicator.store(false);
  return was_open;
}

bool has_motion_entry(const ScheduleTable& table) {
  for (int i = 0; i < kMaxScheduleEntries; ++i)
    if (table.slot(i).in_use && table.slot(i).entry.is_motion()) return true;
  return false;
}

// The file of a schedule or motion recording (root: RecordPath or
// MotionPath), named from now; its folder is made if missing.
std::string recording_path(FileSystem& fs, const std::string& root, RecordingCamera& camera, Clock& clock,
                           std::int64_t now) {
  const std::string directory = camera_directory(root, camera.mac());
  (void)fs.make_directory(directory);
  return join_path(directory, schedule_file_name(camera.location(), clock.local(now)));
}

}  // namespace

ScheduleRecorder::ScheduleRecorder(RecordingEnv env, CameraSource& cameras, SettingsSource& settings,
                                   Notifier& notifier)
    : env_(env), cameras_(cameras), settings_(settings), notifier_(notifier), quota_(*env.fs, *env.clock) {}

ScheduleRecorder::~ScheduleRecorder() { stop(); }

void ScheduleRecorder::serve(RecordingCamera& camera, const RecordingSettings& settings) {
  CameraRecording& rec = camera.recording();
  ScheduleTable& table = rec.schedule();
  ScheduleState& st = table.state;
  Clock& clock = *env_.clock;
  After after;
  int slot = -1;
  std::int64_t window_end = 0;
  ScheduleEntry entry;

  auto finish = [&] {
    if (after.reset_button && camera.shown_in_popup()) camera.reset_record_button();
    if (after.redraw) cameras_.redraw_camera_list();
    if (after.message != nullptr) notifier_.post(after.message, kCaptionWarning);
  };

  // Over the quota with only the file being written in its folder.
  bool quota_turnover = false;

  // Choose the window and check it is still open and within the quota.
  {
    std::lock_guard lock(rec.mutex());
    const std::int64_t now = clock.now();
    // A camera with a motion window keeps PreMotion seconds of its stream,
    // so that a motion recording can begin before the motion that opened it.
    rec.packets().set_keep_ms(has_motion_entry(table) ? pre_motion_ms(settings) : 0);
    if (st.active_entry < 0) {
      const int ref = st.active_reference;
      if (ref >= 0 && table.slot(ref).entry.cancelled) {
        // The user stopped this window's recording; it stays stopped until
        // the window is over, then the entry takes part again.
        if (now < st.cancel_until) return;
        table.slot(ref).entry.cancelled = false;
        st.active_reference = -1;
      }
      const WindowMatch m = table.match(clock, now);
      if (m.slot < 0) return;
      st.active_entry = m.slot;
      st.active_reference = m.slot;
      st.window_start = m.start;
      st.window_end = m.end;
      st.file_start = m.start;
    }
    slot = st.active_entry;
    window_end = st.window_end;
    entry = table.slot(slot).entry;
    RecordingWriter& own = entry.is_motion() ? rec.motion_writer() : rec.schedule_writer();

    if (now >= st.window_end) {
      st.reset_window();
      st.hold_until = 0;
      if (entry.is_one_time()) (void)table.remove(entry.kind, entry.day, entry.start, entry.duration);
      if (entry.is_motion()) rec.motion_recording.store(false);
      close_writer(rec, own);
      st.active_reference = -1;
      after.redraw = after.reset_button = true;
      finish();
      return;
    }

    const int quota = quota_.check(settings, camera, entry.is_motion() ? RecordFolder::Motion : RecordFolder::Record);
    if (quota == kQuotaFull || quota == kQuotaNoValue) {
      st.active_entry = -1;
      st.continue_window = true;
      st.file_start = 0;
      st.last_motion = 0;
      st.motion_continues = false;
      close_writer(rec, rec.schedule_writer());
      close_writer(rec, rec.motion_writer());
      rec.motion_recording.store(false);
      after.redraw = true;
      // Once per window: the loop meets the full folder on every pass.
      if (st.quota_reported_until != window_end) {
        st.quota_reported_until = window_end;
        after.message = quota == kQuotaFull ? kMsgSpaceFull : entry.is_motion() ? kMsgNoMotionQuota : kMsgNoRecordQuota;
      }
      finish();
      return;
    }
    // Start the next file (below) so that the next pass can delete this one.
    quota_turnover = quota == kQuotaOnlyCurrent && own.IsOpen() && own.length() > kReclaimStepBytes;
  }

  // Connect the camera if its window is current; the wait and the stream
  // calls run without the camera's lock.
  if (!camera.stream_connected()) {
    if (camera.start_stream() == 1) {
      camera.resume_stream();
      camera.silence();
    }
    (void)camera.wait_connected(kConnectWaitMs);
    if (!camera.stream_connected() && !camera.stream_stopping()) {
      finish();
      return;
    }
  }
  bool motion = false;
  if (entry.is_motion()) {
    motion = camera.motion_sample(sample_) && motion_now(sample_);
  } else if (camera.location() > 1 || camera.connection_dead()) {
    finish();
    return;
  }

  {
    std::lock_guard lock(rec.mutex());
    // The user may have removed or cancelled the entry meanwhile.
    if (st.active_entry != slot || st.window_end != window_end) {
      finish();
      return;
    }
    const std::int64_t now = clock.now();
    const bool may_open = !rec.manual_request.load() && !rec.recording_indicator.load() && now >= st.hold_until;
    bool write_failed = false;

    // The next file of the recording in w (hourly, or for the quota), named
    // from now: it takes over without a gap, or on a later pass when no key
    // frame to begin it at is kept yet.
    auto turn_over = [&](RecordingWriter& w, const std::string& root) {
      const int turned = w.Turnover(recording_path(*env_.fs, root, camera, clock, now));
      if (turned > 0) st.file_start = now;
      if (turned < 0) write_failed = true;
      after.redraw = true;
    };
    if (quota_turnover)
      turn_over(entry.is_motion() ? rec.motion_writer() : rec.schedule_writer(),
                entry.is_motion() ? settings.MotionPath : settings.RecordPath);

    if (!entry.is_motion()) {
      RecordingWriter& w = rec.schedule_writer();
      if (!w.IsOpen() && may_open) {
        if (w.Open(recording_path(*env_.fs, settings.RecordPath, camera, clock, now)) > 0) {
          rec.motion_recording.store(false);
          rec.recording_indicator.store(true);
          st.file_start = now;
          st.active_reference = slot;
          after.redraw = true;
        }
      }
      if (w.IsOpen() && now - st.file_start >= kFileSeconds) turn_over(w, settings.RecordPath);  // hourly split
      if (!write_failed && w.Flush() < 0) write_failed = true;
    } else {
      RecordingWriter& w = rec.motion_writer();
      if (!w.IsOpen() && may_open) {
        if (!motion && !st.motion_continues) {
          finish();
          return;  // waiting for motion
        }
        // New motion: the file reaches back PreMotion seconds before it.
        const std::uint32_t preroll_ms = st.motion_continues ? 0 : pre_motion_ms(settings);
        if (w.Open(recording_path(*env_.fs, settings.MotionPath, camera, clock, now), preroll_ms) > 0) {
          rec.motion_recording.store(true);
          rec.recording_indicator.store(true);
          st.file_start = now;
          if (!st.motion_continues) st.last_motion = now;
          st.motion_continues = false;
          st.active_reference = slot;
          after.redraw = true;
        }
      } else if (w.IsOpen() && motion) {
        st.last_motion = now;
      }

      if (now - st.last_motion >= static_cast<std::int64_t>(settings.MotionTime) * 60) {
        // No motion for MotionTime minutes: this recording ends; the window
        // is served again and waits for the next motion.
        st.active_entry = -1;
        st.continue_window = true;
        st.file_start = 0;
        st.last_motion = 0;
        st.motion_continues = false;
        close_writer(rec, w);
        rec.motion_recording.store(false);
        after.redraw = true;
      } else {
        if (w.IsOpen() && now - st.file_start >= kFileSeconds) turn_over(w, settings.MotionPath);  // hourly split
        if (!write_failed && w.Flush() < 0) write_failed = true;
      }
    }

    if (write_failed) {
      // The writer has closed the file at its last whole packet. A new file
      // is tried again after a while, as long as the window lasts: space may
      // be freed meanwhile, and trying on every pass would only fail again.
      // The user is told once per window.
      rec.recording_indicator.store(false);
      rec.motion_recording.store(false);
      st.motion_continues = false;
      st.hold_until = std::min(window_end, now + kWriteRetrySeconds);
      after.redraw = true;
      if (st.write_failure_reported_until != window_end) {
        st.write_failure_reported_until = window_end;
        after.message = kMsgWriteFailed;
      }
    }
  }
  finish();
}

void ScheduleRecorder::run_pass() {
  const RecordingSettings settings = settings_.recording_settings();
  cameras_.list_cameras(list_);
  bool busy = false;
  for (RecordingCamera* camera : list_) {
    if (loop_.stopping()) return;
    serve(*camera, settings);
    CameraRecording& rec = camera->recording();
    busy = busy || rec.schedule_writer().IsOpen() || rec.motion_writer().IsOpen();
  }
  if (env_.tool != nullptr) env_.tool->reap();
  (void)env_.clock->wait_ms(busy ? kBusyPassMs : kIdlePassMs, loop_.stop_event());
}

void ScheduleRecorder::start() {
  loop_.start([this] { run_pass(); });
}

void ScheduleRecorder::stop() { loop_.stop(); }

}  // namespace record
