// A camera, its settings and both recording loops on a simulated clock. The
// clock's sleeps stand for the stream: every packet_interval_ms of simulated
// time one packet of the clip arrives, so an hour of recording runs in a
// second or so, on the test's own thread.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

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
  std::vector<std::size_t> fed;  // clip index of every packet the stream delivered, in order

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
        fed.push_back(packet_index % asf_clip().packets.size());
        cam.feed_clip(packet_index++, static_cast<std::uint32_t>(next_packet_ms));
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

  // The recordings in dir, in name order, against the packets the stream
  // delivered: each file is a run of the stream that begins with a key
  // frame, and each next file begins inside the previous one or right after
  // it, so that joined without their overlap they are one unbroken run.
  // *overlaps receives the packets each next file shares with the one before.
  // names: the files to check (default: all of them).
  ::testing::AssertionResult files_follow_the_stream(const std::string& dir,
                                                     std::vector<std::size_t>* overlaps = nullptr,
                                                     std::vector<std::string> names = {}) const {
    std::size_t previous_start = 0, previous_end = 0;  // [start, end) in fed
    bool first = true;
    if (names.empty()) names = list_names(dir);
    for (const std::string& name : names) {
      const std::vector<std::size_t> packets = clip_indices(read_file(dir + "/" + name));
      if (packets.empty()) return ::testing::AssertionFailure() << name << " holds no whole clip packets";
      if (!asf_clip().key_start[packets.front()])
        return ::testing::AssertionFailure() << name << " does not begin with a key frame";
      // Where the file lies in the stream: after the previous file's start,
      // and no later than right behind its end. The stream repeats the clip,
      // so the latest such place is taken (an earlier one would be a copy a
      // whole clip back); the first file is taken at its earliest copy.
      auto matches = [&](std::size_t s) {
        return s + packets.size() <= fed.size() &&
               std::equal(packets.begin(), packets.end(), fed.begin() + static_cast<long>(s));
      };
      std::size_t at = fed.size();
      if (first) {
        for (std::size_t s = 0; s < fed.size() && at == fed.size(); ++s)
          if (matches(s)) at = s;
      } else {
        for (std::size_t s = previous_end; s > previous_start && at == fed.size(); --s)
          if (matches(s)) at = s;
      }
      if (at == fed.size())
        return ::testing::AssertionFailure() << name << " is not a run of the stream "
                                             << (first ? "" : "that begins within or right after the file before");
      if (!first && overlaps != nullptr) overlaps->push_back(previous_end - at);
      previous_start = at;
      previous_end = at + packets.size();
      first = false;
    }
    if (first) return ::testing::AssertionFailure() << "no recordings in " << dir;
    return ::testing::AssertionSuccess();
  }
};

}  // namespace rectest
