// A camera's video: the decode thread that takes the frames the demultiplexer
// queues, decodes them, compares key frames for motion, converts each picture
// to RGB, holds it back until the camera's sound has caught up with it and
// hands it to the camera's view.
//
// One VideoPipeline belongs to a camera for its whole life. Each connection
// runs setup(), start(), frames, stop(); the buffers and the decoder exist
// from setup() to stop() only, so an idle camera holds no picture memory.
//
// Threads: setup/start/stop come from the camera's stream thread (stop also
// from the owner's destructor); pause/resume, the rectangles, the snapshot and
// motion copies from the user-interface and recording threads; the view's
// thread reads a presented picture through with_presented_picture(). Every
// picture reader takes the picture lock, so nobody sees a half-converted
// picture, and a view that handles a message late (after its send timed out,
// even after stop) finds either the current picture or nothing, never freed
// memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "viewer/media/motion.h"
#include "viewer/net/media_frame.h"
#include "viewer/net/stream_sinks.h"
#include "viewer/platform/ui_seams.h"

struct DECODER;

namespace media {

class VideoPipeline;

struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// What message kMsgPresentFrame carries (lparam points to it): the picture's
// size, the part of it to show (picture coordinates), where to show it (view
// coordinates) and the picture itself, 24-bit, bottom row first, blue, green,
// red. The record belongs to the pipeline and stays valid as long as the
// pipeline lives; its fields change with the next picture, so a view reads
// it only through with_presented_picture().
struct PresentationRecord {
  std::int32_t width = 0;
  std::int32_t height = 0;
  Rect source;
  Rect destination;
  const std::uint8_t* rgb = nullptr;
  const VideoPipeline* pipeline = nullptr;  // set once, never changes
  std::uint32_t time_ms = 0;                // the frame's presentation time
};

// Results of the decode thread, for tests and diagnostics.
inline constexpr int kThreadStopped = 0;       // ended by stop()
inline constexpr int kThreadFailed = -1;       // an oversized frame or an internal error ended it

class VideoPipeline final : public net::VideoSink {
 public:
  // Largest picture the cameras send, and what the buffers are sized for.
  static constexpr int kMaxWidth = 640;
  static constexpr int kMaxHeight = 480;
  static constexpr std::size_t kYuvBytes = std::size_t{kMaxWidth} * kMaxHeight * 3 / 2;
  static constexpr std::size_t kRgbBytes = std::size_t{kMaxWidth} * kMaxHeight * 3;
  static constexpr std::size_t kKeyLumaBytes = std::size_t{kMaxWidth} * kMaxHeight;
  // Codec data plus frame must stay below this; the demultiplexer refuses
  // frames above 307,200 bytes, so only a broken stream reaches it.
  static constexpr std::size_t kInputBytes = 307200;
  static constexpr std::size_t kMaxCodecDataBytes = 66;
  // Frames waiting at a checked key frame before everything up to the next
  // key frame is dropped: fewer for the largest pictures, which take the
  // longest to decode.
  static constexpr std::size_t kBacklogLarge = 10;
  static constexpr std::size_t kBacklogSmall = 30;
  static constexpr int kMotionThreshold = 40;
  static constexpr std::uint32_t kSendTimeoutMs = 1000;

  VideoPipeline();
  ~VideoPipeline() override;  // stops
  VideoPipeline(const VideoPipeline&) = delete;
  VideoPipeline& operator=(const VideoPipeline&) = delete;

  // Prepares a connection: width x height pictures (sides multiples of 16, at
  // most 640 x 480), codec data (VO + VOL headers, 1..66 bytes) decoded in
  // front of the first frame, pictures sent to view. Allocates the buffers
  // and a decoder if missing. False (nothing started) for a missing view or
  // codec data, a size out of range, no memory, or while the decode thread
  // runs. Stream thread.
  [[nodiscard]] bool setup(int width, int height, const std::uint8_t* codec_data, int codec_len,
                           platform::View* view) override;

  // Clears the stop flag and starts the decode thread unless one runs.
  // False when no thread could be started or setup() did not succeed.
  // Stream thread.
  [[nodiscard]] bool start() override;

  // The audio output whose clock paces the video; nullptr for none. Cleared
  // by stop(). Stream thread.
  void set_audio_source(net::AudioSink* audio) override { audio_source_.store(audio); }

  bool thread_ended() const override { return thread_ended_.load(); }
  net::FrameQueue& queue() override { return queue_; }

  // Ends and joins the decode thread, drops the queue and frees the
  // buffers and the decoder. Returns once the thread has left: at once
  // unless it is waiting for a view, which it waits for at most
  // kSendTimeoutMs. Harmless to repeat. Not from a view's message handler.
  void stop() override;

  // While paused nothing is decoded or shown; the queue keeps only the
  // newest frames (fewer than the backlog threshold), and decoding resumes
  // at a key frame. Any thread.
  void pause() override { paused_.store(true); }
  void resume() override { paused_.store(false); }
  bool paused() const { return paused_.load(); }

  // Set by stop(), cleared by start(): a view ignores pictures of a
  // stopping pipeline. Any thread.
  bool stopping() const { return stop_flag_.load(); }
  // Set after each picture was handed to the view (or its send timed out).
  bool frame_shown() const { return frame_shown_.load(); }
  void clear_frame_shown() { frame_shown_.store(false); }
  // Result of the last decode thread (kThreadStopped / kThreadFailed).
  int thread_result() const { return thread_result_.load(); }

  // Where the view draws (view coordinates). View thread.
  void set_destination_rect(const Rect& r);
  // The part of the picture to show, given in view coordinates: moved by the
  // destination's top-left corner into picture coordinates. An empty
  // rectangle shows the whole picture. View thread.
  void set_source_rect(const Rect& view_rect);
  Rect source_rect() const;

  // For message kMsgPresentFrame: calls draw(record, rgb) with a copy of the
  // record and the pipeline's current picture, under the picture lock, and
  // returns true; returns false without calling when lparam is null or the
  // pipeline is stopping or has no picture. draw must not call back into
  // the pipeline. View thread.
  template <class Draw>
  static bool with_presented_picture(const void* lparam, Draw&& draw);

  // Copies the current picture (24-bit, bottom row first, BGR) into out and
  // its size into *width, *height. False when there is none: before the
  // first picture of a connection and after stop(). Any thread.
  [[nodiscard]] bool copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) const;

  // Copies the cells of the latest key-frame comparison (kMotionMaxCells
  // bytes, the grid of MotionDetect for *width x *height) into cells. Cells
  // are 0 until two key frames were compared. False before the first
  // decoded picture of a connection. Any thread.
  [[nodiscard]] bool copy_motion_cells(std::uint8_t* cells, int* width, int* height) const;
  // Counts key-frame comparisons since construction (tests, motion logic
  // that wants to know whether the cells are new).
  std::uint32_t motion_updates() const { return motion_updates_.load(); }

  // Bytes of picture memory held now: the pipeline's four buffers and the
  // decoder's planes. Any thread.
  std::size_t buffer_bytes() const { return buffer_bytes_.load(); }
  // Pictures handed to the view since construction, frames dropped by the
  // backlog check, frames that did not decode. Any thread.
  std::uint64_t frames_presented() const { return frames_presented_.load(); }
  std::uint64_t frames_dropped() const { return frames_dropped_.load(); }
  std::uint64_t frames_failed() const { return frames_failed_.load(); }
  // Pictures that waited for the audio clock before they were shown.
  std::uint64_t frames_held() const { return frames_held_.load(); }

 private:
  struct DecoderDeleter {
    void operator()(DECODER* d) const;
  };

  void thread_main();
  [[nodiscard]] int run();
  // Steps of one round of the decode loop.
  [[nodiscard]] bool pass_backlog_check();
  void trim_while_paused();
  std::size_t backlog_threshold() const;
  [[nodiscard]] bool decode_frame(const net::MediaFrame& frame, bool* fatal);
  void detect_motion(int width, int height);
  void pace(const net::MediaFrame& frame);
  void present(const net::MediaFrame& frame);
  void release_buffers();
  [[nodiscard]] bool read_presentation(PresentationRecord* copy, const std::uint8_t** rgb) const;

  net::FrameQueue queue_;

  std::atomic<bool> paused_{false};
  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> thread_ended_{false};
  std::atomic<bool> frame_shown_{false};
  std::atomic<int> thread_result_{kThreadStopped};
  std::atomic<net::AudioSink*> audio_source_{nullptr};
  std::atomic<platform::View*> view_{nullptr};

  // setup/start/stop one at a time.
  std::mutex control_mutex_;
  std::thread thread_;
  bool ready_ = false;  // setup succeeded since the last stop

  // Of the connection; written by setup() (under picture_mutex_, for
  // source_rect()) before the thread starts.
  int width_ = 0;
  int height_ = 0;
  std::uint8_t codec_data_[kMaxCodecDataBytes] = {};
  int codec_len_ = 0;

  // The decode thread's own state.
  bool codec_pending_ = true;
  bool backlog_armed_ = false;
  bool resync_ = false;  // frames were dropped: skip to the next key frame
  bool have_key_frame_ = false;
  std::unique_ptr<DECODER, DecoderDeleter> decoder_;
  std::unique_ptr<std::uint8_t[]> yuv_;
  std::unique_ptr<std::uint8_t[]> key_luma_;
  std::unique_ptr<std::uint8_t[]> input_;
  std::uint8_t cells_scratch_[kMotionMaxCells] = {};

  // The picture the view and the snapshot read, the presentation record
  // and the rectangles; all under picture_mutex_.
  mutable std::mutex picture_mutex_;
  std::unique_ptr<std::uint8_t[]> rgb_;
  bool have_picture_ = false;
  int picture_width_ = 0;
  int picture_height_ = 0;
  Rect source_view_;  // as the view set it; empty: whole picture
  Rect destination_;
  PresentationRecord record_;

  // Published motion cells.
  mutable std::mutex motion_mutex_;
  std::uint8_t cells_[kMotionMaxCells] = {};
  int cells_width_ = 0;
  int cells_height_ = 0;
  bool cells_valid_ = false;
  std::atomic<std::uint32_t> motion_updates_{0};

  std::atomic<std::size_t> buffer_bytes_{0};
  std::atomic<std::uint64_t> frames_presented_{0};
  std::atomic<std::uint64_t> frames_dropped_{0};
  std::atomic<std::uint64_t> frames_failed_{0};
  std::atomic<std::uint64_t> frames_held_{0};
};

template <class Draw>
bool VideoPipeline::with_presented_picture(const void* lparam, Draw&& draw) {
  if (lparam == nullptr) return false;
  const VideoPipeline* self = static_cast<const PresentationRecord*>(lparam)->pipeline;
  if (self == nullptr) return false;
  std::lock_guard lock(self->picture_mutex_);
  PresentationRecord copy;
  const std::uint8_t* rgb = nullptr;
  if (!self->read_presentation(&copy, &rgb)) return false;
  draw(static_cast<const PresentationRecord&>(copy), rgb);
  return true;
}

}  // namespace media
