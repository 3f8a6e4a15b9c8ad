// Shared pieces of the player's tests: recordings made from the committed
// clips (with clipkit, or through the live demultiplexer into the core's
// recording writer as a camera's recording is made), what asf2yuv writes for
// a file, and a listener that keeps every picture the engine presents.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "player/engine/engine.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"
#include "tools/clipkit/asf.h"
#include "viewer/media/colour.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/asf_parse.h"
#include "viewer/net/byte_source.h"
#include "viewer/record/recording_writer.h"

namespace playertest {

using test_support::read_bytes;
using test_support::TempDir;
using test_support::wait_until;
using test_support::write_bytes;

inline std::string tool(const std::string& name) { return std::string(CAMVIEWER_BIN_DIR) + "/" + name; }

inline clipkit::Clip load_clip(const std::string& name) {
  clipkit::Clip clip;
  std::string error;
  EXPECT_TRUE(clipkit::load_clip(std::string(CAMVIEWER_CLIPS_DIR) + "/" + name, &clip, &error)) << error;
  return clip;
}

// A camera-profile file of the clip from time 0 (it starts with a key frame).
inline std::string write_clip_file(const TempDir& dir, const std::string& name, const clipkit::Clip& clip,
                                   std::uint32_t duration_ms = 0,
                                   std::uint32_t packet_bytes = clipkit::kDefaultPacketBytes) {
  clipkit::MuxOptions options;
  options.packet_bytes = packet_bytes;
  std::string error;
  const std::string path = dir.file(name);
  EXPECT_TRUE(clipkit::write_camera_asf(path, clip, options, duration_ms, &error)) << error;
  return path;
}

// A file as recordings used to be made, and as a file cut by hand may be:
// the camera's endless stream (the clip looping) from the packet after the
// one that completed the first key frame, up to end_ms, behind the stream's
// header. It starts in the middle of the stream, usually inside a picture.
inline std::string write_recording(const TempDir& dir, const std::string& name, const clipkit::Clip& clip,
                                   std::uint32_t end_ms) {
  clipkit::CameraMuxer muxer(clip, clipkit::MuxOptions{});
  std::vector<std::uint8_t> file = muxer.header();
  bool recording = false;
  std::uint64_t key_bytes = 0, key_size = 0;
  for (const clipkit::AsfPacket& p : muxer.drain_until(end_ms)) {
    if (recording) {
      file.insert(file.end(), p.bytes.begin(), p.bytes.end());
      continue;
    }
    (void)net::asf::for_each_payload(p.bytes.data(), static_cast<std::uint32_t>(p.bytes.size()),
                                     [&](const net::asf::Payload& payload) {
                                       if (payload.stream != net::kStreamVideoKey) return true;
                                       if (payload.new_object) key_size = payload.object_size;
                                       key_bytes += payload.length;
                                       return true;
                                     });
    recording = key_size > 0 && key_bytes >= key_size;
  }
  const std::string path = dir.file(name);
  EXPECT_TRUE(write_bytes(path, file.data(), file.size()));
  return path;
}

// What asf2yuv writes for a file: its pictures (planar 4:2:0) and, with
// audio, its samples as bytes.
struct Asf2Yuv {
  int width = 0;
  int height = 0;
  std::vector<std::vector<std::uint8_t>> pictures;
  std::vector<std::uint8_t> samples;
};

inline Asf2Yuv run_asf2yuv(const TempDir& dir, const std::string& file, bool audio) {
  Asf2Yuv out;
  std::vector<std::string> argv = {tool("asf2yuv")};
  if (audio) argv.insert(argv.end(), {"--audio", dir.file("asf2yuv.s16le")});
  argv.insert(argv.end(), {file, dir.file("asf2yuv.yuv")});
  const test_support::RunResult r = test_support::run_command(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  std::sscanf(r.out.c_str(), "width: %d\nheight: %d", &out.width, &out.height);
  const std::vector<std::uint8_t> yuv = read_bytes(dir.file("asf2yuv.yuv"));
  const std::size_t size = static_cast<std::size_t>(out.width) * out.height * 3 / 2;
  for (std::size_t at = 0; size > 0 && at + size <= yuv.size(); at += size) {
    out.pictures.emplace_back(yuv.begin() + static_cast<long>(at), yuv.begin() + static_cast<long>(at + size));
  }
  if (audio) out.samples = read_bytes(dir.file("asf2yuv.s16le"));
  return out;
}

// Keeps every presented picture (as the decoder wrote it) and checks on the
// way that the picture shown is the colour conversion of exactly that one.
class Recorder final : public player::EngineListener {
 public:
  struct Shot {
    std::vector<std::uint8_t> yuv;
    std::int64_t time_ms;
    std::uint32_t stream_time;
  };

  void picture_presented(const player::PresentedPicture& p) override {
    const std::size_t size = static_cast<std::size_t>(p.width) * p.height * 3 / 2;
    rgb_.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    media::ConvertYUVtoRGB(p.yuv, rgb_.data(), p.width, p.height);
    std::lock_guard lock(mutex_);
    if (std::memcmp(rgb_.data(), p.rgb, rgb_.size()) != 0) ++rgb_mismatches_;
    shots_.push_back({std::vector<std::uint8_t>(p.yuv, p.yuv + size), p.time_ms, p.stream_time});
    count_.store(shots_.size());
  }
  void status_changed() override { ++status_calls_; }

  std::vector<Shot> shots() const {
    std::lock_guard lock(mutex_);
    return shots_;
  }
  std::size_t count() const { return count_.load(); }
  int rgb_mismatches() const {
    std::lock_guard lock(mutex_);
    return rgb_mismatches_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Shot> shots_;
  std::vector<std::uint8_t> rgb_;  // play thread only
  std::atomic<std::size_t> count_{0};
  int rgb_mismatches_ = 0;
  std::atomic<int> status_calls_{0};
};

// The pictures of a recorder, as planes.
inline std::vector<std::vector<std::uint8_t>> pictures_of(const std::vector<Recorder::Shot>& shots) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& s : shots) out.push_back(s.yuv);
  return out;
}

// Waits for the engine to reach the end of the recording.
inline bool wait_for_end(const player::Engine& engine, int timeout_ms = 30000) {
  return wait_until([&] { return engine.status().at_end; }, timeout_ms);
}

}  // namespace playertest
