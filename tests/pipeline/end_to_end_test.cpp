// Whole cameras, headless: camsim on loopback -> CameraStream -> the ASF
// demultiplexer -> VideoPipeline (and the audio output) -> the pictures a
// view receives, compared with ffmpeg's decode of the same clip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/pipeline_test_util.h"
#include "tools/camsim_process.h"
#include "viewer/media/camera_media.h"
#include "viewer/media/video_pipeline.h"
#include "viewer/net/camera_stream.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/headless/virtual_sound_device.h"
#include "viewer/platform/sound_device.h"

namespace {

using namespace pipeline_test;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// PSNR of the luma (ITU-R BT.601 weights) of two 24-bit BGR pictures: the
// measure the decoder is held to, taken on what the view shows. Errors in the
// colour planes count as much as the eye sees them, not amplified by the
// conversion's chroma gains.
double luma_psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) {
  double se = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const double ya = 0.114 * a[3 * i] + 0.587 * a[3 * i + 1] + 0.299 * a[3 * i + 2];
    const double yb = 0.114 * b[3 * i] + 0.587 * b[3 * i + 1] + 0.299 * b[3 * i + 2];
    se += (ya - yb) * (ya - yb);
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(pixels) / se);
}

// Presented pictures against ffmpeg's, each matched to the clip frame its
// presentation time belongs to. Returns the PSNRs in presentation order.
std::vector<double> compare_with_reference(const std::vector<Presented>& shown, const clipkit::M4vClip& clip,
                                           const Reference& ref, std::vector<std::uint64_t>* frame_numbers) {
  // Times of the frames over the passes we may have seen, to the frame
  // number since the stream began.
  std::map<std::uint32_t, std::uint64_t> number;
  const std::map<std::uint32_t, std::size_t> by_time = frame_index_by_time(clip, 8);
  std::uint64_t k = 0;
  for (const auto& [time, index] : by_time) number[time] = k++;

  std::vector<double> result;
  for (const Presented& p : shown) {
    const auto it = number.find(p.time_ms);
    EXPECT_NE(it, number.end()) << "no frame of the clip has time " << p.time_ms;
    if (it == number.end()) continue;
    frame_numbers->push_back(it->second);
    const std::vector<std::uint8_t>& expected = ref.rgb[it->second % ref.rgb.size()];
    EXPECT_EQ(p.width, ref.width);
    EXPECT_EQ(p.height, ref.height);
    EXPECT_EQ(p.rgb.size(), expected.size());
    if (p.rgb.size() != expected.size()) continue;
    result.push_back(luma_psnr(p.rgb.data(), expected.data(), expected.size() / 3));
  }
  return result;
}

void expect_close_to_reference(const std::vector<double>& psnrs) {
  ASSERT_FALSE(psnrs.empty());
  double sum = 0;
  for (double v : psnrs) sum += v;
  const double mean = sum / static_cast<double>(psnrs.size());
  const double worst = *std::min_element(psnrs.begin(), psnrs.end());
  EXPECT_GE(mean, 38.0);
  EXPECT_GE(worst, 30.0);
  std::printf("pictures: %zu, mean PSNR %.2f dB, worst %.2f dB\n", psnrs.size(), mean, worst);
}

class VideoOnlyCamera : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { media::init_YUV2RGB_tab(); }
};

// A camera without sound (327-byte header): every frame is shown as it
// arrives, in order, and looks like ffmpeg's decode of the clip.
TEST_P(VideoOnlyCamera, EveryFrameShownOnArrivalAndMatchesFfmpeg) {
  const std::string name = GetParam();
  const clipkit::M4vClip clip = load_clip(name);
  ASSERT_FALSE(clip.vops.empty());
  const Reference ref = reference_pictures(name, clip);
  ASSERT_EQ(ref.rgb.size(), clip.vops.size()) << "ffmpeg did not decode the clip";

  tooltest::CamsimProcess camsim({"--port", "0", "--user", "admin", "--password", "pw", "--no-audio", clip_path(name)});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  platform::ScopedHeadlessUi ui;

  media::VideoPipeline video;
  CaptureView view;
  {
    net::CameraStream stream(0, 5);
    net::StreamSinks sinks;
    sinks.video = &video;
    view.attach(video);
    stream.set_sinks(sinks);
    stream.set_account({"127.0.0.1", std::to_string(camsim.port()), "admin", "pw"});
    ASSERT_EQ(stream.start(), net::kStartOk);
    // A little over two seconds of the clip.
    const std::size_t want = clip.vops.size() * 2500 / clip.duration_ms;
    ASSERT_TRUE(wait_until([&] { return view.count() >= want; }, 15000)) << view.count() << " pictures";
    stream.stop();
  }
  EXPECT_EQ(video.frames_failed(), 0u);
  EXPECT_EQ(video.frames_dropped(), 0u);
  EXPECT_TRUE(ui->shown().empty());

  const std::vector<Presented> shown = view.presented();
  std::vector<std::uint64_t> numbers;
  expect_close_to_reference(compare_with_reference(shown, clip, ref, &numbers));
  // From the first frame of the stream on, none missing, none twice.
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 0u);
  for (std::size_t i = 1; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << i;

  // Nothing held back: each picture is shown once its frame has arrived,
  // which camsim paces by the presentation times. The delay on the way
  // varies with the stream's 12,800-byte look-ahead window (about half a
  // second of these clips at most), but never builds up.
  EXPECT_EQ(video.frames_held(), 0u);
  double least = 1e9, most = -1e9;
  for (const Presented& p : shown) {
    const double lag = std::chrono::duration<double, std::milli>(p.at - shown.front().at).count() -
                       (p.time_ms - shown.front().time_ms);
    least = std::min(least, lag);
    most = std::max(most, lag);
  }
  EXPECT_LT(most - least, 800.0);
}

INSTANTIATE_TEST_SUITE_P(Clips, VideoOnlyCamera, ::testing::Values("qvga", "vga"));

// A camera with sound, played on the virtual sound device. camsim sends the
// largest packets (12,800 bytes), so frames arrive in bursts of about half a
// second: the pictures of a burst wait for the sound to reach them, except
// the newest, and still come out whole, in order and like ffmpeg's.
TEST(CameraWithSound, PicturesWaitForTheSoundAndMatchFfmpeg) {
  media::init_YUV2RGB_tab();
  platform::set_sound_device_factory([] { return std::make_unique<platform::VirtualSoundDevice>(); });
  const std::string name = "qvga";
  const clipkit::M4vClip clip = load_clip(name);
  ASSERT_FALSE(clip.vops.empty());
  const Reference ref = reference_pictures(name, clip);
  ASSERT_EQ(ref.rgb.size(), clip.vops.size()) << "ffmpeg did not decode the clip";

  tooltest::CamsimProcess camsim(
      {"--port", "0", "--user", "admin", "--password", "pw", "--packet-size", "12800", clip_path(name)});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  platform::ScopedHeadlessUi ui;

  // At each picture: its time, the audio clock and the frames behind it.
  struct AtSend {
    std::uint32_t time, clock;
    std::size_t waiting;
  };
  std::mutex mutex;
  std::vector<AtSend> sends;

  media::CameraMedia media;
  CaptureView view;
  view.set_hook([&](const media::VideoPipeline& pipeline) {
    std::shared_ptr<const media::Picture> picture = pipeline.picture();
    if (!picture) return;
    std::lock_guard lock(mutex);
    sends.push_back({picture->time_ms, media.audio.clock(), media.video.queue().count()});
  });
  view.attach(media.video);
  {
    net::CameraStream stream(0, 5);
    stream.set_sinks(media.sinks());
    stream.set_account({"127.0.0.1", std::to_string(camsim.port()), "admin", "pw"});
    ASSERT_EQ(stream.start(), net::kStartOk);
    const std::size_t want = clip.vops.size() * 3000 / clip.duration_ms;
    ASSERT_TRUE(wait_until([&] { return view.count() >= want; }, 15000)) << view.count() << " pictures";
    EXPECT_GT(media.audio.clock(), 0u);
    stream.stop();
  }
  platform::set_sound_device_factory(nullptr);
  EXPECT_EQ(media.video.frames_failed(), 0u);
  EXPECT_EQ(media.video.frames_dropped(), 0u);
  EXPECT_GT(media.video.frames_held(), 0u);
  // Frames that found the stream caught up were decoded on its thread (the
  // connection told the pipeline when it waited for the network).
  EXPECT_GT(media.video.frames_decoded_by_stream(), 0u);
  EXPECT_TRUE(ui->shown().empty());

  // No picture went out ahead of the sound while a later one was waiting.
  {
    std::lock_guard lock(mutex);
    ASSERT_FALSE(sends.empty());
    int ahead = 0;
    for (const AtSend& s : sends) {
      if (s.waiting > 0 && s.clock != 0 && s.time > s.clock) ++ahead;
    }
    EXPECT_EQ(ahead, 0);
  }

  const std::vector<Presented> shown = view.presented();
  std::vector<std::uint64_t> numbers;
  expect_close_to_reference(compare_with_reference(shown, clip, ref, &numbers));
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 0u);
  for (std::size_t i = 1; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << i;
}

}  // namespace
