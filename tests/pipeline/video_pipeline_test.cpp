// The decode thread fed directly through its queue: set-up rules, codec data
// on the first frame, the backlog check, pacing against an audio clock we
// move by hand, motion cells, rectangles, snapshots and stopping.
#include "viewer/media/video_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/pipeline_test_util.h"
#include "viewer/media/motion.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/net/asf_demux.h"

namespace {

using namespace pipeline_test;
using media::VideoPipeline;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr int kKey = net::kMarkerVideoKey;
constexpr int kPlain = net::kMarkerVideo;

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media::init_YUV2RGB_tab();
    qvga_ = load_clip("qvga");
    vga_ = load_clip("vga");
    ASSERT_FALSE(qvga_.vops.empty());
    ASSERT_FALSE(vga_.vops.empty());
  }

  // Sets the pipeline up for the clip, with the view drawing it.
  bool setup(VideoPipeline& p, const clipkit::M4vClip& clip, CaptureView* view) {
    if (view) view->attach(p);
    return p.setup(clip.width, clip.height, clip.codec_data.data(), static_cast<int>(clip.codec_data.size()));
  }
  void push(VideoPipeline& p, const clipkit::M4vClip& clip, std::size_t vop, std::uint32_t time, int marker) {
    p.queue().push_back(make_frame(clip.vops[vop].bytes, time, marker));
  }
  // Every queued frame was taken: presented, dropped or refused.
  static bool drained(VideoPipeline& p, std::size_t total) {
    return p.queue().count() == 0 && p.frames_presented() + p.frames_dropped() + p.frames_failed() >= total;
  }
  // Drained, and the view has been told of every presented picture (the
  // count goes up just before the view hears of it).
  static bool drained(VideoPipeline& p, const CaptureView& view, std::size_t total) {
    return drained(p, total) && view.count() >= p.frames_presented();
  }

  clipkit::M4vClip qvga_, vga_;
};

TEST_F(PipelineTest, SetupRefusesWhatItCannotShow) {
  CaptureView view;
  VideoPipeline p;
  view.attach(p);
  const std::uint8_t* cd = qvga_.codec_data.data();
  EXPECT_FALSE(p.setup(320, 240, nullptr, 18));
  EXPECT_FALSE(p.setup(320, 240, cd, 0));
  std::vector<std::uint8_t> long_codec_data(67, 0);
  EXPECT_FALSE(p.setup(320, 240, long_codec_data.data(), 67));
  EXPECT_FALSE(p.setup(704, 480, cd, 18));
  EXPECT_FALSE(p.setup(640, 576, cd, 18));
  EXPECT_FALSE(p.setup(0, 240, cd, 18));
  // Nothing to start after a refused set-up.
  EXPECT_FALSE(p.start());
  EXPECT_EQ(p.buffer_bytes(), 0u);

  ASSERT_TRUE(p.setup(320, 240, cd, 18));
  EXPECT_GT(p.buffer_bytes(), 0u);
  ASSERT_TRUE(p.start());
  // A second set-up while the thread runs would swap the decoder under it.
  EXPECT_FALSE(p.setup(320, 240, cd, 18));
  p.stop();
  EXPECT_EQ(p.buffer_bytes(), 0u);
}

TEST_F(PipelineTest, FirstFrameCarriesCodecDataAndLaterNonVopsAreSkipped) {
  CaptureView view;
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  // A predicted frame first, not marked as a key frame: the headers go in
  // front of it all the same, or the decoder could not read it at all.
  push(p, qvga_, 1, 40, kPlain);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  // The picture has the clip's size, which only the codec data tells the
  // decoder (it starts out at 640 x 480).
  EXPECT_EQ(view.presented()[0].width, 320);
  EXPECT_EQ(view.presented()[0].height, 240);

  // Frames without a VOP start code are dropped before the decoder; the
  // frames after them decode normally.
  std::vector<std::uint8_t> junk = qvga_.vops[2].bytes;
  junk[3] = 0xB3;  // a group-of-VOP start code instead
  p.queue().push_back(make_frame(junk, 80, kPlain));
  p.queue().push_back(make_frame({0x00, 0x00}, 100, kPlain));
  push(p, qvga_, 3, 120, kPlain);
  ASSERT_TRUE(wait_until([&] { return view.count() == 2; }, 3000));
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{40, 120}));
  EXPECT_EQ(p.frames_failed(), 0u);
  p.stop();

  // The next connection gets a new decoder and the codec data again.
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 7, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 3; }, 3000));
  EXPECT_EQ(view.presented()[2].width, 320);
}

TEST_F(PipelineTest, DamagedFirstFrameKeepsTheCodecDataForTheNext) {
  CaptureView view;
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  // A key picture cut short after its header: it cannot decode.
  std::vector<std::uint8_t> broken(qvga_.vops[0].bytes.begin(), qvga_.vops[0].bytes.begin() + 40);
  p.queue().push_back(make_frame(broken, 0, kKey));
  push(p, qvga_, 0, 40, kKey);
  push(p, qvga_, 1, 80, kPlain);
  ASSERT_TRUE(wait_until([&] { return drained(p, view, 3); }, 3000));
  EXPECT_EQ(p.frames_failed(), 1u);
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{40, 80}));
  ASSERT_FALSE(view.presented().empty());
  EXPECT_EQ(view.presented()[0].width, 320);
}

// The backlog check at the second key frame: K P K [n x P] K P P queued while
// paused, so the check sees n + 4 frames.
struct BacklogCase {
  const char* clip;
  int waiting_at_check;
  bool drops;
};

class BacklogTest : public PipelineTest, public ::testing::WithParamInterface<BacklogCase> {};

TEST_P(BacklogTest, DropsUpToAKeyFrameWithAShortQueue) {
  const BacklogCase c = GetParam();
  const clipkit::M4vClip& clip = std::string(c.clip) == "vga" ? vga_ : qvga_;
  CaptureView view(false);
  VideoPipeline p;
  // Queued before the thread starts, so that the check sees them all.
  ASSERT_TRUE(setup(p, clip, &view));

  std::vector<std::uint32_t> all, kept;
  std::uint32_t t = 0;
  auto add = [&](std::size_t vop, int marker, bool survives_drop) {
    push(p, clip, vop, t, marker);
    all.push_back(t);
    if (survives_drop) kept.push_back(t);
    t += 10;
  };
  add(0, kKey, true);  // arms the check
  add(1, kPlain, true);
  add(0, kKey, false);  // checked: n + 4 frames waiting
  const int n = c.waiting_at_check - 4;
  for (int i = 0; i < n; ++i) add(static_cast<std::size_t>(2 + i), kPlain, false);
  add(0, kKey, true);  // three waiting: decoding resumes here
  add(1, kPlain, true);
  add(2, kPlain, true);
  ASSERT_EQ(p.queue().count(), static_cast<std::size_t>(c.waiting_at_check + 2));

  ASSERT_TRUE(p.start());
  ASSERT_TRUE(wait_until([&] { return drained(p, view, all.size()); }, 10000));
  EXPECT_EQ(p.frames_failed(), 0u);
  if (c.drops) {
    EXPECT_EQ(view.times(), kept);
    EXPECT_EQ(p.frames_dropped(), all.size() - kept.size());
  } else {
    EXPECT_EQ(view.times(), all);
    EXPECT_EQ(p.frames_dropped(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Thresholds, BacklogTest,
                         ::testing::Values(BacklogCase{"vga", 12, true}, BacklogCase{"vga", 10, true},
                                           BacklogCase{"vga", 9, false}, BacklogCase{"qvga", 12, false},
                                           BacklogCase{"qvga", 29, false}, BacklogCase{"qvga", 30, true}),
                         [](const auto& info) {
                           return std::string(info.param.clip) + "_" + std::to_string(info.param.waiting_at_check);
                         });

TEST_F(PipelineTest, HeldWhileAheadOfTheAudioClockExceptTheNewestFrame) {
  CaptureView view(false);
  VideoPipeline p;
  FakeAudio audio;
  ASSERT_TRUE(setup(p, qvga_, &view));
  p.set_audio_source(&audio);
  audio.set_clock(50);
  for (std::uint32_t i = 0; i < 5; ++i) push(p, qvga_, i, i * 100, i == 0 ? kKey : kPlain);
  ASSERT_TRUE(p.start());

  // 0 is due; 100 is ahead of the clock with frames behind it.
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{0}));

  audio.set_clock(250);
  ASSERT_TRUE(wait_until([&] { return view.count() == 3; }, 3000));
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{0, 100, 200}));

  // 300 is still ahead, but once it is the newest frame it is shown: a
  // camera whose sound stalls keeps its picture moving.
  p.queue().clear();
  ASSERT_TRUE(wait_until([&] { return view.count() == 4; }, 3000));
  EXPECT_EQ(view.times().back(), 300u);

  // A clock of 0 (no block played yet) holds nothing back.
  audio.set_clock(0);
  push(p, qvga_, 5, 900, kPlain);
  push(p, qvga_, 6, 1000, kPlain);
  ASSERT_TRUE(wait_until([&] { return view.count() == 6; }, 3000));
  EXPECT_EQ(p.frames_held(), 2u);  // 100 and 300
  p.stop();
}

TEST_F(PipelineTest, WithoutAudioNothingIsHeld) {
  CaptureView view(false);
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  for (std::uint32_t i = 0; i < 10; ++i) push(p, qvga_, i, 100000 + i * 1000, i == 0 ? kKey : kPlain);
  const auto t0 = steady_clock::now();
  ASSERT_TRUE(p.start());
  ASSERT_TRUE(wait_until([&] { return view.count() == 10; }, 3000));
  EXPECT_LT(steady_clock::now() - t0, milliseconds(1000));
  // And stopping clears the audio source that a stream had set.
  FakeAudio audio;
  p.set_audio_source(&audio);
  p.stop();
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  audio.set_clock(1);
  for (std::uint32_t i = 0; i < 4; ++i) push(p, qvga_, i, 5000 + i, i == 0 ? kKey : kPlain);
  ASSERT_TRUE(wait_until([&] { return view.count() == 14; }, 3000));
}

// The test thread plays the stream thread: stream_waiting() is its wait for
// the network, and whatever it queues without one in between arrived in one
// go.
TEST_F(PipelineTest, AFrameThatFindsTheStreamCaughtUpIsDecodedWhereItWasQueued) {
  CaptureView view(false);
  VideoPipeline p;
  std::mutex mutex;
  std::vector<std::thread::id> threads;
  view.set_hook([&](const VideoPipeline&) {
    std::lock_guard lock(mutex);
    threads.push_back(std::this_thread::get_id());
  });
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  const auto here = std::this_thread::get_id();
  const auto thread_of = [&](std::size_t i) {
    std::lock_guard lock(mutex);
    return threads.at(i);
  };

  // The first frame of a connection goes to the decode thread.
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  EXPECT_NE(thread_of(0), here);

  // Each frame after a wait is shown by the time it is queued.
  for (std::uint32_t i = 1; i < 8; ++i) {
    p.stream_waiting();
    push(p, qvga_, i, i * 40, kPlain);
    ASSERT_EQ(view.count(), i + 1);
    EXPECT_EQ(thread_of(i), here);
  }
  EXPECT_EQ(p.frames_decoded_by_stream(), 7u);

  // Two frames read in one go: the second is the decode thread's, after
  // the first.
  p.stream_waiting();
  push(p, qvga_, 8, 320, kPlain);
  push(p, qvga_, 9, 360, kPlain);
  ASSERT_TRUE(wait_until([&] { return drained(p, view, 10); }, 3000));
  EXPECT_EQ(thread_of(8), here);
  EXPECT_NE(thread_of(9), here);
  EXPECT_EQ(view.times().back(), 360u);

  // Paused, nothing is decoded on the stream thread; after resuming the
  // decode thread goes on.
  p.pause();
  p.stream_waiting();
  push(p, qvga_, 10, 400, kPlain);
  EXPECT_EQ(p.frames_decoded_by_stream(), 8u);
  EXPECT_EQ(view.count(), 10u);
  p.resume();
  ASSERT_TRUE(wait_until([&] { return drained(p, view, 11); }, 3000));
  EXPECT_EQ(p.frames_failed(), 0u);
  p.stop();
}

TEST_F(PipelineTest, ACaughtUpFrameAheadOfTheSoundWaitsForTheStreamToGoIdleOrForItsTurn) {
  CaptureView view(false);
  VideoPipeline p;
  FakeAudio audio;
  ASSERT_TRUE(setup(p, qvga_, &view));
  p.set_audio_source(&audio);
  audio.set_clock(50);
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));

  // Due by the clock: shown at once.
  p.stream_waiting();
  push(p, qvga_, 1, 40, kPlain);
  EXPECT_EQ(view.count(), 2u);

  // Ahead of the clock: decoded, and shown when the stream has nothing
  // behind it, as the newest frame always is.
  p.stream_waiting();
  push(p, qvga_, 2, 100, kPlain);
  EXPECT_EQ(p.frames_decoded_by_stream(), 2u);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(view.count(), 2u);
  p.stream_waiting();
  EXPECT_EQ(view.count(), 3u);
  EXPECT_EQ(p.frames_held(), 0u);

  // A frame behind it before the stream waits again: the picture is held
  // for the sound like any picture with frames behind it.
  p.stream_waiting();
  push(p, qvga_, 3, 200, kPlain);
  push(p, qvga_, 4, 300, kPlain);
  p.stream_waiting();
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{0, 40, 100}));
  audio.set_clock(250);
  ASSERT_TRUE(wait_until([&] { return drained(p, view, 5); }, 3000));
  EXPECT_EQ(view.times(), (std::vector<std::uint32_t>{0, 40, 100, 200, 300}));
  EXPECT_EQ(p.frames_held(), 1u);

  // Stopping drops a picture that waits; the next connection starts clean.
  p.stream_waiting();
  push(p, qvga_, 5, 400, kPlain);
  p.stop();
  p.stream_waiting();
  EXPECT_EQ(view.count(), 5u);
  ASSERT_TRUE(setup(p, qvga_, &view));
  p.set_audio_source(&audio);
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 6; }, 3000));
  p.stop();
}

TEST_F(PipelineTest, MotionCellsComeFromConsecutiveKeyFramesOnly) {
  // What the cells must be: our decoder's first and second key pictures of
  // the clip compared by MotionDetect, decoded in the same order.
  const std::size_t second_key = 30;
  ASSERT_TRUE(vga_.vops[second_key].key);
  std::vector<std::uint8_t> first_luma, second_luma;
  {
    DECODER* d = decoder_create();
    ASSERT_NE(d, nullptr);
    std::vector<std::uint8_t> input, picture(std::size_t{640} * 480 * 3 / 2);
    for (std::size_t i = 0; i <= second_key; ++i) {
      input.assign(vga_.vops[i].bytes.begin(), vga_.vops[i].bytes.end());
      if (i == 0) input.insert(input.begin(), vga_.codec_data.begin(), vga_.codec_data.end());
      std::int32_t status = 0;
      ASSERT_EQ(decoder_decode(d, picture.data(), input.data(), input.size(), &status), kDecodeOk);
      d->deblocking_enabled = 0;
      if (i == 0) first_luma.assign(picture.begin(), picture.begin() + 640 * 480);
      if (i == second_key) second_luma.assign(picture.begin(), picture.begin() + 640 * 480);
    }
    (void)decoder_destroy(d);
  }
  std::vector<std::uint8_t> expected(media::kMotionMaxCells);
  media::MotionDetect(first_luma.data(), second_luma.data(), expected.data(), 640, 480, 40);

  CaptureView view(false);
  VideoPipeline p;
  std::vector<std::uint8_t> cells(media::kMotionMaxCells, 0xEE);
  int w = 0, h = 0;
  ASSERT_TRUE(setup(p, vga_, &view));
  EXPECT_FALSE(p.copy_motion_cells(cells.data(), &w, &h));  // no picture yet
  ASSERT_TRUE(p.start());
  const std::uint32_t updates = p.motion_updates();

  for (std::size_t i = 0; i < second_key; ++i) push(p, vga_, i, static_cast<std::uint32_t>(i), i == 0 ? kKey : kPlain);
  ASSERT_TRUE(wait_until([&] { return drained(p, second_key); }, 10000));
  // The first key frame after a start only gives the next one something to
  // compare with; predicted frames never touch the cells.
  EXPECT_EQ(p.motion_updates(), updates);
  ASSERT_TRUE(p.copy_motion_cells(cells.data(), &w, &h));
  EXPECT_EQ(cells, std::vector<std::uint8_t>(media::kMotionMaxCells, 0));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);

  push(p, vga_, second_key, 1000, kKey);
  ASSERT_TRUE(wait_until([&] { return p.motion_updates() == updates + 1; }, 3000));
  ASSERT_TRUE(p.copy_motion_cells(cells.data(), &w, &h));
  EXPECT_EQ(cells, expected);
  EXPECT_NE(cells, std::vector<std::uint8_t>(media::kMotionMaxCells, 0));  // testsrc2 moves

  // A stream that ends leaves no stale motion for the recording logic.
  p.stop();
  EXPECT_FALSE(p.copy_motion_cells(cells.data(), &w, &h));
  ASSERT_TRUE(setup(p, vga_, &view));
  ASSERT_TRUE(p.start());
  push(p, vga_, second_key, 2000, kKey);
  ASSERT_TRUE(wait_until([&] { return p.frames_presented() == second_key + 2; }, 3000));
  ASSERT_TRUE(p.copy_motion_cells(cells.data(), &w, &h));
  EXPECT_EQ(cells, std::vector<std::uint8_t>(media::kMotionMaxCells, 0));
  EXPECT_EQ(p.motion_updates(), updates + 1);
}

TEST_F(PipelineTest, SourceAreaIsKeptInPictureCoordinatesAndCutToThePicture) {
  CaptureView view(false);
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  EXPECT_EQ(p.source_rect(), (media::Rect{0, 0, 320, 240}));
  p.set_source_rect({10, 10, 170, 130});  // a zoom area
  EXPECT_EQ(p.source_rect(), (media::Rect{10, 10, 170, 130}));
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  EXPECT_EQ(view.presented()[0].source, (media::Rect{10, 10, 170, 130}));

  // An area reaching past the picture is cut to it; an empty one is the
  // whole picture again.
  p.set_source_rect({50, 0, 900, 200});
  EXPECT_EQ(p.source_rect(), (media::Rect{50, 0, 320, 200}));
  p.set_source_rect({0, 0, 0, 0});
  EXPECT_EQ(p.source_rect(), (media::Rect{0, 0, 320, 240}));
  // The area belongs to the camera, not to one connection: a window closed
  // while zoomed leaves it set until zoom is turned off.
  p.set_source_rect({200, 100, 260, 200});
  p.stop();
  ASSERT_TRUE(setup(p, qvga_, &view));
  EXPECT_EQ(p.source_rect(), (media::Rect{200, 100, 260, 200}));
}

TEST_F(PipelineTest, SnapshotIsTheShownPictureWhileStreaming) {
  CaptureView view;
  VideoPipeline p;
  std::vector<std::uint8_t> shot;
  int w = 0, h = 0;
  EXPECT_FALSE(p.copy_snapshot(shot, &w, &h));
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  EXPECT_FALSE(p.copy_snapshot(shot, &w, &h));  // nothing decoded yet: no black picture
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  ASSERT_TRUE(p.copy_snapshot(shot, &w, &h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(shot, view.presented()[0].rgb);
  p.stop();
  EXPECT_FALSE(p.copy_snapshot(shot, &w, &h));
}

TEST_F(PipelineTest, StopIsIdempotentAndAViewKeepsWhatItHolds) {
  VideoPipeline never_started;
  never_started.stop();
  never_started.stop();

  CaptureView view(false);
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));
  // A view in the middle of drawing holds its picture; the pipeline going
  // away under it frees nothing it reads.
  std::shared_ptr<const media::Picture> held = p.picture();
  ASSERT_NE(held, nullptr);
  p.stop();
  EXPECT_TRUE(p.stopping());
  EXPECT_EQ(held->width, 320);
  EXPECT_EQ(held->rgb.size(), std::size_t{320} * 240 * 3);
  // A window still showing the camera keeps its last picture (it shows the
  // camera reconnecting); one that lets go frees it.
  EXPECT_EQ(p.picture(), held);
  p.set_wanted(false);
  EXPECT_EQ(p.picture(), nullptr);
  held.reset();
  EXPECT_EQ(p.buffer_bytes(), 0u);
  p.stop();
  EXPECT_FALSE(p.thread_ended());
  EXPECT_EQ(p.queue().count(), 0u);
}

TEST_F(PipelineTest, AViewThatStallsCostsNoDecodingAndStopIsPrompt) {
  VideoPipeline p;
  CaptureView counter(false);
  ASSERT_TRUE(setup(p, qvga_, &counter));
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return counter.count() == 1; }, 3000));
  // A window stuck for seconds in the middle of drawing this picture.
  std::shared_ptr<const media::Picture> stuck = p.picture();
  ASSERT_NE(stuck, nullptr);
  std::thread stalled_view([stuck] { std::this_thread::sleep_for(milliseconds(1500)); });
  for (std::uint32_t i = 1; i < 20; ++i) push(p, qvga_, i, i * 40, kPlain);
  ASSERT_TRUE(wait_until([&] { return counter.count() == 20; }, 3000));
  EXPECT_EQ(p.frames_dropped(), 0u);
  const auto t0 = steady_clock::now();
  p.stop();
  EXPECT_LT(steady_clock::now() - t0, milliseconds(200));
  stalled_view.join();
  // The stuck picture was left alone: every later one went elsewhere.
  const std::vector<Presented> shown = counter.presented();
  EXPECT_EQ(shown.back().time_ms, 19u * 40);
}

TEST_F(PipelineTest, NothingIsConvertedWhileNoViewWantsThePicture) {
  VideoPipeline p;
  CaptureView view(false);
  p.set_listener(&view);
  ASSERT_TRUE(p.setup(qvga_.width, qvga_.height, qvga_.codec_data.data(), 18));
  ASSERT_TRUE(p.start());
  for (std::uint32_t i = 0; i < 5; ++i) push(p, qvga_, i, i * 40, i == 0 ? kKey : kPlain);
  ASSERT_TRUE(wait_until([&] { return p.frames_presented() == 5; }, 3000));
  EXPECT_EQ(p.picture(), nullptr);
  EXPECT_EQ(view.count(), 0u);
  const std::size_t unseen = p.buffer_bytes();
  // Decoding still serves snapshots, exactly.
  std::vector<std::uint8_t> shot;
  int w = 0, h = 0;
  ASSERT_TRUE(p.copy_snapshot(shot, &w, &h));
  EXPECT_EQ(shot.size(), std::size_t{320} * 240 * 3);

  // Scrolled into view: the last picture is there at once, not at the next
  // frame (a paused camera may have none coming).
  p.pause();
  p.set_wanted(true);
  ASSERT_TRUE(wait_until([&] { return p.picture() != nullptr; }, 3000));
  EXPECT_EQ(p.picture()->rgb, shot);
  EXPECT_EQ(p.buffer_bytes(), unseen + shot.size());
  p.set_wanted(false);
  EXPECT_EQ(p.picture(), nullptr);
  p.stop();
}

// A view at most half the picture's size gets the picture converted at half
// size (the 2 x 2 means of the decoded picture); a larger view, a zoom area
// and a snapshot get every pixel, and a paused camera is converted again at
// once when its view changes.
TEST_F(PipelineTest, ASmallViewGetsAHalfSizePictureAndEverythingElseTheFullOne) {
  // The first picture decoded by hand: what both sizes must show.
  DECODER* d = decoder_create();
  ASSERT_NE(d, nullptr);
  std::vector<std::uint8_t> input(qvga_.codec_data.begin(), qvga_.codec_data.end());
  input.insert(input.end(), qvga_.vops[0].bytes.begin(), qvga_.vops[0].bytes.end());
  std::vector<std::uint8_t> yuv(320 * 240 * 3 / 2);
  std::int32_t status = 0;
  ASSERT_EQ(decoder_decode(d, yuv.data(), input.data(), input.size(), &status), kDecodeOk);
  (void)decoder_destroy(d);
  std::vector<std::uint8_t> full(320 * 240 * 3), half(160 * 120 * 3);
  media::ConvertYUVtoRGB(yuv.data(), full.data(), 320, 240);
  media::ConvertYUVtoRGB_half(yuv.data(), yuv.data() + 320 * 240, yuv.data() + 320 * 240 * 5 / 4, half.data(), 320,
                              240);

  VideoPipeline p;
  ASSERT_TRUE(p.setup(qvga_.width, qvga_.height, qvga_.codec_data.data(), 18));
  p.set_view_size(160, 120);
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return p.picture() != nullptr; }, 3000));
  std::shared_ptr<const media::Picture> shown = p.picture();
  EXPECT_EQ(shown->width, 160);
  EXPECT_EQ(shown->height, 120);
  EXPECT_EQ(shown->scale, 2);
  EXPECT_EQ(shown->rgb, half);
  EXPECT_EQ(p.source_rect(), (media::Rect{0, 0, 320, 240}));  // still the decoded picture's coordinates
  std::vector<std::uint8_t> shot;
  int w = 0, h = 0;
  ASSERT_TRUE(p.copy_snapshot(shot, &w, &h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(shot, full);

  // Paused: nothing new arrives, yet each change shows the right picture.
  p.pause();
  const auto shown_at = [&](int scale) {
    return wait_until([&] { return p.picture() && p.picture()->scale == scale; }, 3000);
  };
  p.set_view_size(161, 120);  // more than half wide
  ASSERT_TRUE(shown_at(1));
  EXPECT_EQ(p.picture()->rgb, full);
  p.set_view_size(100, 70);
  ASSERT_TRUE(shown_at(2));
  p.set_source_rect({0, 0, 160, 120});  // zoomed in on a quarter
  ASSERT_TRUE(shown_at(1));
  EXPECT_EQ(p.source_rect(), (media::Rect{0, 0, 160, 120}));
  p.set_source_rect({});
  ASSERT_TRUE(shown_at(2));
  EXPECT_EQ(p.picture()->rgb, half);
  p.set_view_size(0, 0);
  EXPECT_EQ(p.picture(), nullptr);
  EXPECT_FALSE(p.wanted());
  p.stop();
}

TEST_F(PipelineTest, PausedQueueStaysShortAndResumesAtAKeyFrame) {
  CaptureView view(false);
  VideoPipeline p;
  ASSERT_TRUE(setup(p, qvga_, &view));
  ASSERT_TRUE(p.start());
  push(p, qvga_, 0, 0, kKey);
  ASSERT_TRUE(wait_until([&] { return view.count() == 1; }, 3000));

  // Paused for longer than the stream would let a queue grow: frames keep
  // coming (recordings go on), none is shown, the queue stays short.
  p.pause();
  std::uint32_t t = 40;
  std::size_t most = 0;
  for (int i = 0; i < 1100; ++i, t += 40) {
    p.queue().push_back(make_frame(qvga_.vops[1 + i % 20].bytes, t, kPlain));
    most = std::max(most, p.queue().count());
    if (i % 50 == 0) std::this_thread::sleep_for(milliseconds(3));
  }
  ASSERT_TRUE(wait_until([&] { return p.queue().count() < VideoPipeline::kBacklogSmall; }, 3000));
  EXPECT_LT(most, net::kMaxVideoFramesWaiting);
  EXPECT_EQ(view.count(), 1u);

  // Resumed: predicted frames before the next key frame are not drawn on a
  // picture they do not belong to.
  p.resume();
  push(p, qvga_, 2, t, kPlain);
  push(p, qvga_, 25, t + 40, kKey);
  push(p, qvga_, 26, t + 80, kPlain);
  ASSERT_TRUE(wait_until([&] { return p.queue().count() == 0 && view.count() == 3; }, 3000));
  const std::vector<std::uint32_t> times = view.times();
  EXPECT_EQ(times[1], t + 40);
  EXPECT_EQ(times[2], t + 80);
}

TEST_F(PipelineTest, OversizedFrameEndsTheThread) {
  CaptureView view(false);
  VideoPipeline p;
  // With the 18 bytes of codec data in front it no longer fits the input.
  std::vector<std::uint8_t> big(VideoPipeline::kInputBytes - 18, 0);
  big[2] = 0x01;
  big[3] = 0xB6;
  // Met by the decode thread, then by the stream thread.
  for (const bool stream_thread : {false, true}) {
    SCOPED_TRACE(stream_thread ? "stream thread" : "decode thread");
    const int sent = view.sends();
    ASSERT_TRUE(setup(p, qvga_, &view));
    ASSERT_TRUE(p.start());
    if (stream_thread) p.stream_waiting();
    p.queue().push_back(make_frame(big, 0, kKey));
    ASSERT_TRUE(wait_until([&] { return p.thread_ended(); }, 3000));
    EXPECT_EQ(p.thread_result(), media::kThreadFailed);
    EXPECT_EQ(view.sends(), sent);
    p.stop();
    // The camera's next connection decodes again.
    ASSERT_TRUE(setup(p, qvga_, &view));
    ASSERT_TRUE(p.start());
    push(p, qvga_, 0, 0, kKey);
    ASSERT_TRUE(wait_until([&] { return view.sends() == sent + 1; }, 3000));
    p.stop();
  }
}

}  // namespace
