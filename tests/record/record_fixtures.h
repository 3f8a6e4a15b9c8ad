// Shared pieces of the recording tests: a scratch folder, a real ASF clip
// made by ffmpeg and cut into the header and packets a camera would send, a
// fake camera, and a file system that can be made to fail.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/files.h"
#include "viewer/record/file_system.h"
#include "viewer/record/recording_camera.h"

namespace rectest {

using test_support::TempDir;

// An ASF clip with MPEG-4 Part 2 video and G.726 audio (what the cameras
// send), made once per test run by ffmpeg and cut the way the stream hands it
// to the writers: header = Header Object + 50-byte Data Object header, then
// fixed-size packets.
struct AsfClip {
  std::vector<std::uint8_t> header;
  std::vector<std::vector<std::uint8_t>> packets;
  std::vector<bool> key_start;  // per packet: a video key frame begins in it (as ffprobe tells)
  std::uint32_t packet_size = 0;
};
const AsfClip& asf_clip();

// Runs a program (argument vector, no shell), returns its exit status and
// what it wrote to stdout and stderr.
using test_support::RunResult;
inline RunResult run(const std::vector<std::string>& argv) { return test_support::run_command(argv); }

// ffmpeg decodes the whole file to nothing without an error. A file put
// together from arbitrary packets may start mid-way into a group of
// pictures; allow_no_keyframe_start lets "first frame is no keyframe" pass.
::testing::AssertionResult decodes_cleanly(const std::string& path, bool allow_no_keyframe_start = false);
// ffprobe's key-frame flags of the file's video frames, in order ("1" key).
std::vector<bool> video_key_frames(const std::string& path);
// ffprobe's "codec_type:codec_name" of each stream, e.g. "video:mpeg4".
std::vector<std::string> probe_streams(const std::string& path);

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool exists(const std::string& path);
// Names of the files in a folder, sorted.
std::vector<std::string> list_names(const std::string& dir);

// The real file system, with writes that fail once a byte budget is spent
// (ENOSPC, possibly in the middle of a packet), creates that can be refused,
// and counters of what was asked.
class FailingFileSystem final : public record::FileSystem {
 public:
  std::atomic<std::int64_t> write_budget{-1};  // bytes still writable; -1 unlimited
  std::atomic<bool> refuse_create{false};
  std::atomic<bool> refuse_remove{false};  // removals fail (a file in use, a read-only folder)
  std::atomic<int> listings{0};
  std::atomic<int> removals{0};

  int create_exclusive(const std::string& path) override;
  std::uint64_t write_all(int fd, const iovec* parts, int count) override;
  bool truncate(int fd, std::uint64_t length) override { return real().truncate(fd, length); }
  std::int64_t length(int fd) override { return real().length(fd); }
  void close(int fd) override { real().close(fd); }
  bool remove(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override { return real().rename(from, to); }
  bool make_directory(const std::string& path) override { return real().make_directory(path); }
  bool list_directory(const std::string& path, std::vector<record::DirEntry>& out) override;
  bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) override;

 private:
  static record::FileSystem& real() { return record::posix_file_system(); }
};

// A camera as the recording loops see it, driven by the test: the test plays
// the stream (header, packets, lost connection) and the motion detector.
class FakeCamera final : public record::RecordingCamera {
 public:
  FakeCamera(record::RecordingEnv env, std::string mac, int location = 0);

  std::string mac() const override { return mac_; }
  int location() const override { return location_; }
  void set_location(int location) override { location_ = location; }
  record::CameraRecording& recording() override { return rec_; }
  bool connection_dead() override { return dead.load(); }
  std::uint32_t header_length() const override { return header_len.load(); }
  bool stream_connected() const override { return connected.load(); }
  bool stream_stopping() const override { return false; }
  int start_stream() override;
  void resume_stream() override { ++resumes; }
  void silence() override { silenced = true; }
  bool motion_sample(record::MotionSample& out) override;
  bool shown_in_popup() const override { return popup; }
  void reset_record_button() override { ++button_resets; }

  // The stream side.
  void connect(const std::vector<std::uint8_t>& header);  // header arrives, stream delivers
  void feed(const std::vector<std::uint8_t>& packet, bool key_start, std::uint32_t tick = 0);
  // Packet i of the test clip (taken modulo its length).
  void feed_clip(std::size_t i, std::uint32_t tick = 0);
  void lose_connection();  // the stream's clean-up

  // The motion detector: every cell value of the whole picture set to v.
  void set_motion_level(int cells_changed_value);

  std::atomic<bool> dead{true};
  std::atomic<bool> connected{false};
  std::atomic<std::uint32_t> header_len{0};
  std::atomic<bool> connect_on_start{true};
  std::atomic<int> starts{0};
  std::atomic<int> resumes{0};
  std::atomic<bool> silenced{false};
  std::atomic<bool> popup{false};
  std::atomic<int> button_resets{0};
  std::vector<std::uint8_t> pending_header;  // used by start_stream

 private:
  std::string mac_;
  int location_;
  record::CameraRecording rec_;
  std::mutex motion_mutex_;
  record::MotionSample sample_;
};

class FakeCameraList final : public record::CameraSource {
 public:
  std::vector<record::RecordingCamera*> cameras;
  std::atomic<int> redraws{0};
  void list_cameras(std::vector<record::RecordingCamera*>& out) override { out = cameras; }
  void redraw_camera_list() override { ++redraws; }
};

// Bytes of a recording from the header on: true when the file is the header
// followed by whole packets that are each one of the clip's packets.
::testing::AssertionResult is_header_and_whole_packets(const std::vector<std::uint8_t>& file,
                                                       std::size_t* packet_count = nullptr);
// The clip's index of each packet of a recording (header and whole packets
// as above; empty when it is not).
std::vector<std::size_t> clip_indices(const std::vector<std::uint8_t>& file);

}  // namespace rectest
