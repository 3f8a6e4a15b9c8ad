// Helpers of the pipeline tests: a view that keeps what it is sent, an audio
// source whose clock the test moves, frames cut from the committed clips and
// ffmpeg's decode of a clip as the reference picture.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/media_test_util.h"
#include "support/child_process.h"
#include "support/psnr.h"
#include "support/wait.h"
#include "tools/clipkit/m4v.h"
#include "tools/tool_test_util.h"
#include "viewer/media/colour.h"
#include "viewer/media/video_pipeline.h"
#include "viewer/net/media_frame.h"
#include "viewer/net/stream_sinks.h"
#include "viewer/platform/event.h"

namespace pipeline_test {

// One picture as the view received it.
struct Presented {
  int width = 0;
  int height = 0;
  media::Rect source;
  std::uint32_t time_ms = 0;
  std::uint64_t sequence = 0;
  std::chrono::steady_clock::time_point at;  // when it was published
  std::vector<std::uint8_t> rgb;             // empty unless the view keeps pictures
};

// A camera view without a window: told of each published picture on the
// decode thread, it takes the presented picture as a real view does when it
// repaints. It can run a hook at each picture (to look at the clock) or keep
// only the records. Declare it before the pipeline it listens to: the decode
// thread may still tell it until the pipeline is destroyed.
class CaptureView final : public media::PictureListener {
 public:
  explicit CaptureView(bool keep_pictures = true) : keep_pictures_(keep_pictures) {}

  // Listens to the pipeline and makes it publish RGB pictures.
  void attach(media::VideoPipeline& p) {
    p.set_listener(this);
    p.set_wanted(true);
  }

  void picture_published(const media::VideoPipeline& pipeline) override {
    sends_.fetch_add(1);
    if (hook_) hook_(pipeline);
    std::shared_ptr<const media::Picture> picture = pipeline.picture();
    if (!picture) return;
    Presented p;
    p.at = std::chrono::steady_clock::now();
    p.width = picture->width;
    p.height = picture->height;
    p.source = pipeline.source_rect();
    p.time_ms = picture->time_ms;
    p.sequence = picture->sequence;
    if (keep_pictures_) p.rgb = picture->rgb;
    std::lock_guard lock(mutex_);
    presented_.push_back(std::move(p));
  }

  // Runs on the decode thread before the picture is read. Set before start.
  void set_hook(std::function<void(const media::VideoPipeline&)> hook) { hook_ = std::move(hook); }

  int sends() const { return sends_.load(); }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return presented_.size();
  }
  std::vector<Presented> presented() const {
    std::lock_guard lock(mutex_);
    return presented_;
  }
  std::vector<std::uint32_t> times() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> t;
    for (const Presented& p : presented_) t.push_back(p.time_ms);
    return t;
  }

 private:
  const bool keep_pictures_;
  std::atomic<int> sends_{0};
  std::function<void(const media::VideoPipeline&)> hook_;
  mutable std::mutex mutex_;
  std::vector<Presented> presented_;
};

// Audio whose clock the test sets; nothing else of it is used by the video.
class FakeAudio final : public net::AudioSink {
 public:
  bool setup() override { return true; }
  void start() override {}
  void set_volume(int) override {}
  bool thread_ended() const override { return false; }
  net::FrameQueue& queue() override { return queue_; }
  std::uint32_t clock() const override { return clock_.load(); }
  void set_clock_wakeup(platform::Event* wakeup) override { wakeup_.store(wakeup); }
  void stop() override {}
  void pause() override {}
  void resume() override {}

  // Moves the clock and wakes whoever paces against it, as the audio
  // thread does.
  void set_clock(std::uint32_t ms) {
    clock_.store(ms);
    if (platform::Event* w = wakeup_.load()) w->set();
  }

 private:
  net::FrameQueue queue_;
  std::atomic<std::uint32_t> clock_{0};
  std::atomic<platform::Event*> wakeup_{nullptr};
};

inline std::string clip_path(const std::string& name) { return std::string(CAMVIEWER_CLIPS_DIR) + "/" + name; }

inline clipkit::M4vClip load_clip(const std::string& name) {
  clipkit::M4vClip clip;
  std::string error;
  if (!clipkit::load_m4v_file(clip_path(name + ".m4v"), &clip, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  return clip;
}

inline std::unique_ptr<net::MediaFrame> make_frame(const std::vector<std::uint8_t>& bytes, std::uint32_t time_ms,
                                                   int marker) {
  auto f = std::make_unique<net::MediaFrame>();
  if (!f->set(bytes.data(), static_cast<std::uint32_t>(bytes.size()), time_ms, marker)) return nullptr;
  return f;
}

// Waits until pred() holds, polling every 2 ms (the pipeline tests count
// pictures one by one); false on time-out.
template <class Pred>
bool wait_until(Pred pred, int timeout_ms) {
  return test_support::wait_until(pred, timeout_ms, 2);
}

using test_support::psnr;

using media_test::read_bytes;
using TempDir = tooltest::ScratchDir;

// ffmpeg's decode of a committed clip, each picture converted to RGB by our
// conversion: what the pipeline should show for each of the clip's frames.
struct Reference {
  int width = 0;
  int height = 0;
  std::vector<std::vector<std::uint8_t>> rgb;  // one per frame of the clip
};

inline Reference reference_pictures(const std::string& clip_name, const clipkit::M4vClip& clip) {
  Reference ref;
  TempDir dir;
  const std::string yuv = dir.file("ref.yuv");
  const test_support::RunResult decoded =
      test_support::run_command({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-threads", "1",
                                 "-i", clip_path(clip_name + ".m4v"), "-f", "rawvideo", "-pix_fmt", "yuv420p", yuv},
                                test_support::Stderr::Inherit);
  if (decoded.status != 0) return ref;
  const std::vector<std::uint8_t> bytes = read_bytes(yuv);
  const std::size_t frame = std::size_t{3} * clip.width * clip.height / 2;
  if (frame == 0) return ref;
  ref.width = clip.width;
  ref.height = clip.height;
  for (std::size_t off = 0; off + frame <= bytes.size(); off += frame) {
    std::vector<std::uint8_t> rgb(std::size_t{3} * clip.width * clip.height);
    media::ConvertYUVtoRGB(bytes.data() + off, rgb.data(), clip.width, clip.height);
    ref.rgb.push_back(std::move(rgb));
  }
  return ref;
}

// The presentation times camsim gives the clip's frames over its first
// passes (times keep running from pass to pass), mapped to the frame index.
inline std::map<std::uint32_t, std::size_t> frame_index_by_time(const clipkit::M4vClip& clip, int passes) {
  std::map<std::uint32_t, std::size_t> index;
  for (int pass = 0; pass < passes; ++pass) {
    for (std::size_t i = 0; i < clip.vops.size(); ++i) {
      const std::uint64_t ticks = static_cast<std::uint64_t>(pass) * clip.duration_ticks + clip.vops[i].ticks;
      index[static_cast<std::uint32_t>(ticks * 1000 / static_cast<std::uint64_t>(clip.time_resolution))] = i;
    }
  }
  return index;
}

}  // namespace pipeline_test
