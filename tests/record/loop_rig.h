// A camera, its settings and both recording loops on a simulated clock. The
// clock's sleeps stand for the stream: every packet_interval_ms of simulated
// time one packet of the clip arrives, so an hour of recording runs in a
// second or so, on the test's own thread.
#pragma once

#include <string>

#include "record_fixtures.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/manual_recording.h"
#include "viewer/record/notifier.h"
#include "viewer/record/schedule_recording.h"

namespace rectest {

struct LoopRig {
  TempDir dir;
  record::SimulatedClock clock;
  FailingFileSystem fs;
  record::RecordingEnv env{&fs, &clock, nullptr};
  record::SharedRecordingSettings settings;
  FakeCameraList list;
  platform::ScopedHeadlessUi ui;
  record::Notifier notifier;
  FakeCamera cam{env, "00aabbccddee", 0};
  record::ManualRecorder manual{env, list, settings, notifier};
  record::ScheduleRecorder schedule{env, list, settings, notifier};
  std::int64_t packet_interval_ms = 1000;
  std::int64_t next_packet_ms = 0;
  std::size_t packet_index = 0;

  LoopRig() {
    record::RecordingSettings s;
    s.RecordPath = dir / "Record";
    s.MotionPath = dir / "Motion";
    s.SnapshotPath = dir / "Snapshot";
    (void)record::posix_file_system().make_directory(s.RecordPath);
    (void)record::posix_file_system().make_directory(s.MotionPath);
    settings.set(s);
    list.cameras = {&cam};
    cam.pending_header = asf_clip().header;
    clock.on_sleep([this](std::int64_t now_ms) {
      if (next_packet_ms < now_ms - 10 * packet_interval_ms) next_packet_ms = now_ms;  // after a jump
      while (now_ms >= next_packet_ms) {
        const auto& packets = asf_clip().packets;
        cam.feed(packets[packet_index++ % packets.size()]);
        next_packet_ms += packet_interval_ms;
      }
    });
  }
  ~LoopRig() { clock.on_sleep(nullptr); }

  void update(void (*change)(record::RecordingSettings&)) {
    record::RecordingSettings s = settings.recording_settings();
    change(s);
    settings.set(s);
  }
  std::string record_dir() const { return dir / "Record/00aabbccddee"; }
  std::string motion_dir() const { return dir / "Motion/00aabbccddee"; }

  void set_time(int y, int mo, int d, int h, int mi, int s) {
    clock.set_local(y, mo, d, h, mi, s);
    next_packet_ms = clock.now_ms();
  }
  std::int64_t at(int y, int mo, int d, int h, int mi, int s) {
    return clock.seconds_from_local(record::LocalTime{y, mo, d, h, mi, s});
  }
  // Runs passes of the manual loop until the simulated time reaches t or
  // until (if given) done() holds.
  template <class Done>
  void manual_until(std::int64_t t, Done done) {
    while (clock.now() < t && !done()) manual.run_pass();
  }
  void manual_until(std::int64_t t) {
    manual_until(t, [] { return false; });
  }
  template <class Done>
  void schedule_until(std::int64_t t, Done done) {
    while (clock.now() < t && !done()) schedule.run_pass();
  }
  void schedule_until(std::int64_t t) {
    schedule_until(t, [] { return false; });
  }
  // Messages shown so far (notices are recorded as they are posted).
  std::vector<platform::HeadlessUi::Shown> shown() { return ui->shown(); }
};

}  // namespace rectest
