// A camera's video: the decode thread that takes the frames the demultiplexer
// queues, decodes them, compares key frames for motion, holds each picture
// back until the camera's sound has caught up with it and then publishes it
// for the views.
//
// One VideoPipeline belongs to a camera for its whole life. Each connection
// runs setup(), start(), frames, stop(); the decoder and the decoding
// buffers exist from setup() to stop() only, so an idle camera holds no
// picture memory.
//
// Publishing never waits for a view. The decode thread converts a picture to
// RGB only while some view wants it (the camera is drawn in a cell or a
// pop-up window) and swaps it in as the presented picture under a short
// lock; views take a reference to the presented picture whenever they
// repaint and draw it without holding any lock of the pipeline. A view that
// stalls for seconds costs no decoding, and stop() never waits for a view.
//
// A frame that arrives while the stream is caught up with the network (the
// stream thread had to wait for it) is decoded on the stream thread itself,
// right after it was queued: handing it to the decode thread would cost two
// thread switches per frame and find the frame's bytes gone cold. The
// picture is published there and then when it is due by the sound clock;
// otherwise it waits until the stream thread is about to wait for the
// network again, and is published then unless another frame came in behind
// it, in which case the decode thread paces it as every other picture. A
// frame that finds the stream behind (it was read without waiting), the
// decode thread busy or anything else to do goes to the decode thread, so a
// camera whose pictures cost more than the stream allows still falls back
// on the queue and its backlog check, and pacing is the same rule either way.
//
// Threads: setup/start/stop come from the camera's stream thread (stop also
// from the owner's destructor); pause/resume, the wanted flag, the source
// area, the snapshot and motion copies from the user-interface and recording
// threads; picture() from any thread.
#pragma once

#include <array>
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
#include "viewer/platform/event.h"

struct DECODER;

namespace media {

struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// A presented picture: 24-bit, bottom row first, blue, green, red, rows of
// 3 x width bytes. Immutable once published; a view keeps it alive as long
// as it holds the reference.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t time_ms = 0;   // the frame's presentation time
  std::uint64_t sequence = 0;  // pictures published by the pipeline before this one, plus one
  // The decoded picture is scale times this size: 2 when it was converted
  // at half size for a view that draws it at most that large. Source areas
  // stay in the decoded picture's coordinates.
  int scale = 1;

  // Counts the bytes of the pictures a pipeline made that are still alive
  // (held by the pipeline or by a view), for its memory figure.
  struct Tally {
    std::shared_ptr<std::atomic<std::size_t>> counter;
    std::size_t bytes = 0;
    Tally() = default;
    Tally(const Tally&) = delete;
    Tally& operator=(const Tally&) = delete;
    ~Tally() {
      if (counter) counter->fetch_sub(bytes);
    }
  } tally;
};

// Something that wants to know, at once, that a picture was published (tests,
// benchmarks; the windows repaint on their own timer instead). Called on the
// thread that decoded the picture (the decode thread or the stream thread)
// with no lock but the decoding one held; it must return promptly and must
// not call stop().
class PictureListener {
 public:
  virtual ~PictureListener() = default;
  virtual void picture_published(const class VideoPipeline& pipeline) = 0;
};

// Results of the decode thread, for tests and diagnostics.
inline constexpr int kThreadStopped = 0;  // ended by stop()
inline constexpr int kThreadFailed = -1;  // an oversized frame or an internal error ended it

// Publication delays (frame arrival to picture published), counted in
// buckets of kLatencyBucketMs, for the benchmarks.
inline constexpr int kLatencyBucketMs = 5;
inline constexpr int kLatencyBuckets = 400;  // the last bucket counts everything from 1,995 ms on

class VideoPipeline final : public net::VideoSink {
 public:
  // Largest picture the cameras send.
  static constexpr int kMaxWidth = 640;
  static constexpr int kMaxHeight = 480;
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
  // Longest single wait of the decode thread; it is woken earlier by every
  // frame, clock step, resume and stop.
  static constexpr std::uint32_t kIdleWaitMs = 1000;

  VideoPipeline();
  ~VideoPipeline() override;  // stops
  VideoPipeline(const VideoPipeline&) = delete;
  VideoPipeline& operator=(const VideoPipeline&) = delete;

  // Prepares a connection: width x height pictures (sides multiples of 16, at
  // most 640 x 480), codec data (VO + VOL headers, 1..66 bytes) decoded in
  // front of the first frame. Allocates the decoding buffers for that size
  // and a decoder. False (nothing started) for missing codec data, a size out
  // of range, no memory, or while the decode thread runs. Stream thread.
  [[nodiscard]] bool setup(int width, int height, const std::uint8_t* codec_data, int codec_len) override;

  // Clears the stop flag and starts the decode thread unless one runs.
  // False when no thread could be started or setup() did not succeed.
  // Stream thread.
  [[nodiscard]] bool start() override;

  // The audio output whose clock paces the video; nullptr for none. Cleared
  // by stop(). Stream thread.
  void set_audio_source(net::AudioSink* audio) override;

  bool thread_ended() const override { return thread_ended_.load(); }
  net::FrameQueue& queue() override { return queue_; }
  // Publishes a picture decoded on the stream thread that waited for the
  // sound, now that no frame has come in behind it; and lets the next frame
  // be decoded there. Stream thread.
  void stream_waiting() override;

  // Ends and joins the decode thread, drops the queue and frees the decoding
  // buffers and the decoder. The presented picture stays while a view wants
  // it (a window keeps showing the last picture of a lost connection).
  // Returns at once: nothing it waits for waits on a view. Harmless to
  // repeat.
  void stop() override;

  // While paused nothing is decoded or shown; the queue keeps only the
  // newest frames (fewer than the backlog threshold), and decoding resumes
  // at a key frame. Any thread.
  void pause() override { paused_.store(true); }
  void resume() override;
  bool paused() const { return paused_.load(); }

  // Set by stop(), cleared by start(). Any thread.
  bool stopping() const { return stop_flag_.load(); }
  // Result of the last decode thread (kThreadStopped / kThreadFailed).
  int thread_result() const { return thread_result_.load(); }

  // --- for the views (any thread) ---

  // Some view draws this camera: publish RGB pictures. While nobody wants
  // them, pictures are decoded (motion, snapshots and recordings need the
  // stream) but not converted, and no RGB memory is held.
  void set_wanted(bool wanted);
  bool wanted() const { return wanted_.load(); }
  // The same with the size, in device pixels, at which the view draws the
  // picture (0 x 0: nobody draws it). A view at most half the picture's
  // width and height, showing the whole picture, gets pictures converted
  // at half size: a quarter of the work and of the memory written, and
  // nothing it could show is lost.
  void set_view_size(int width, int height);
  // The presented picture, or nullptr when there is none (nothing decoded
  // yet, or nobody wanted pictures). When the camera becomes wanted, the
  // decode thread converts its last decoded picture at once, so a view
  // waits no longer than that for a paused or slow camera's picture.
  std::shared_ptr<const Picture> picture() const;
  // Counts published pictures (wanted or not); a view compares it with the
  // number it drew last to know whether to repaint.
  std::uint64_t picture_sequence() const { return sequence_.load(); }
  // The part of the picture to show, in the decoded picture's coordinates
  // (whatever the scale of the presented one); an empty rectangle is the
  // whole picture. The result of source_rect() is clamped to the decoded
  // size of the current picture.
  void set_source_rect(const Rect& picture_rect);
  Rect source_rect() const;
  // A picture was decoded on this connection (cleared by setup() and stop()).
  bool video_decoded() const { return video_decoded_.load(); }
  void set_listener(PictureListener* listener) { listener_.store(listener); }

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

  // Bytes of picture memory held now: decoding buffers, the decoder's
  // planes and the RGB pictures. Any thread.
  std::size_t buffer_bytes() const { return decode_bytes_.load() + rgb_bytes_->load(); }
  // Pictures published since construction, frames dropped by the backlog
  // check, frames that did not decode. Any thread.
  std::uint64_t frames_presented() const { return frames_presented_.load(); }
  std::uint64_t frames_dropped() const { return frames_dropped_.load(); }
  std::uint64_t frames_failed() const { return frames_failed_.load(); }
  // Pictures that waited for the audio clock before they were published.
  std::uint64_t frames_held() const { return frames_held_.load(); }
  // Frames decoded on the stream thread.
  std::uint64_t frames_decoded_by_stream() const { return frames_by_stream_.load(); }
  // Delay from each frame's arrival to its publication, as counts per
  // kLatencyBucketMs bucket. Any thread.
  std::array<std::uint64_t, kLatencyBuckets> latency_histogram() const;

 private:
  struct DecoderDeleter {
    void operator()(DECODER* d) const;
  };

  void thread_main();
  [[nodiscard]] int run();
  // What became of the front frame of the queue.
  enum class Take { kIdle, kSkipped, kDecoded, kFatal };
  // Takes the front frame through the resynchronisation and backlog rules
  // and decodes it; on kDecoded, frame holds it and the picture is in the
  // decoder. work_mutex_ held.
  [[nodiscard]] Take take_and_decode(std::unique_ptr<net::MediaFrame>& frame);
  // The queue's push hook, on the stream thread: decodes the frame there
  // when it may (decode_here), else wakes the decode thread.
  void frame_queued();
  [[nodiscard]] bool decode_here();
  // The frame is ahead of a running sound clock.
  bool ahead_of_sound(const net::MediaFrame& frame) const;
  // Steps of one round of the decode loop.
  [[nodiscard]] bool pass_backlog_check();
  void trim_while_paused();
  std::size_t backlog_threshold() const;
  [[nodiscard]] bool decode_frame(const net::MediaFrame& frame, bool* fatal);
  void detect_motion(int width, int height);
  void pace(const net::MediaFrame& frame);
  void publish(const net::MediaFrame& frame);
  void count_latency(std::uint32_t arrival_tick);
  std::shared_ptr<Picture> free_buffer(int width, int height);
  // Converts the last decoded picture into a free buffer and presents it
  // (decode thread; used when a view starts wanting pictures).
  void present_decoded();
  void release_decoding();
  // Converts the decoder's last picture into rgb at full size (scale 1) or
  // half size (2). The decode thread, or yuv_mutex_ held.
  void convert_decoded(std::uint8_t* rgb, int width, int height, int scale = 1) const;
  // The scale at which a width x height picture is converted for the view
  // now.
  int view_scale(int width, int height) const;
  // Converts the decoder's last picture (width x height) into a free buffer
  // and presents it; false when no buffer was free.
  bool convert_and_present(int width, int height, std::uint32_t time_ms, std::uint64_t sequence);

  net::FrameQueue queue_;
  // Wakes the decode thread: a frame was queued, the clock moved, resume,
  // stop.
  platform::Event wake_{platform::Event::Reset::Auto};

  std::atomic<bool> paused_{false};
  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> thread_ended_{false};
  std::atomic<int> thread_result_{kThreadStopped};
  std::atomic<net::AudioSink*> audio_source_{nullptr};
  std::atomic<PictureListener*> listener_{nullptr};
  std::atomic<bool> wanted_{false};
  // The view's size in device pixels; 0 when unknown (full-size pictures).
  std::atomic<int> view_width_{0};
  std::atomic<int> view_height_{0};
  std::atomic<bool> convert_now_{false};  // a view started wanting pictures
  std::atomic<bool> video_decoded_{false};

  // setup/start/stop one at a time.
  std::mutex control_mutex_;
  // Whoever decodes (the decode thread, or the stream thread in
  // decode_here) holds this for the decoding state below and the decoder;
  // the stream thread only ever tries it, so it never waits on the decode
  // thread.
  std::mutex work_mutex_;
  // Between start() and stop(): the stream thread may decode.
  std::atomic<bool> decode_here_{false};
  // The stream thread waited for the network since it last decoded a
  // frame: the next frame finds it caught up.
  std::atomic<bool> caught_up_{false};
  // A picture decoded on the stream thread that waits for the sound clock
  // (in the decoder's planes, its frame here); has_awaiting_ mirrors it for
  // a check without the lock.
  std::unique_ptr<net::MediaFrame> awaiting_;
  std::atomic<bool> has_awaiting_{false};
  // A frame decoded on the stream thread ended the stream's video.
  bool failed_ = false;
  std::thread thread_;
  bool ready_ = false;  // setup succeeded since the last stop

  // Of the connection; written by setup() before the thread starts.
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
  std::vector<std::uint8_t> key_luma_;
  std::vector<std::uint8_t> input_;  // codec data + first frame; empty once the codec data went in
  std::uint8_t cells_scratch_[kMotionMaxCells] = {};
  // RGB buffers the decode thread converts into; one of them may be the
  // presented picture, and a view may still hold an older one.
  std::shared_ptr<Picture> buffers_[3];

  // The decoded picture stays in the decoder's own planes (no copy per
  // frame): written by the decode thread while it decodes, read by a
  // snapshot or a late view conversion. yuv_mutex_ covers the decoder's
  // planes and its replacement (setup, release), not only these fields.
  mutable std::mutex yuv_mutex_;
  bool have_decoded_ = false;
  int decoded_width_ = 0;
  int decoded_height_ = 0;
  std::uint32_t decoded_time_ = 0;

  // The presented picture and the source area; under picture_mutex_, held
  // only to swap or copy a reference.
  mutable std::mutex picture_mutex_;
  mutable std::shared_ptr<const Picture> presented_;
  Rect source_;  // picture coordinates; empty: whole picture
  std::atomic<std::uint64_t> sequence_{0};

  // Published motion cells.
  mutable std::mutex motion_mutex_;
  std::uint8_t cells_[kMotionMaxCells] = {};
  int cells_width_ = 0;
  int cells_height_ = 0;
  bool cells_valid_ = false;
  std::atomic<std::uint32_t> motion_updates_{0};

  std::atomic<std::size_t> decode_bytes_{0};
  std::shared_ptr<std::atomic<std::size_t>> rgb_bytes_ = std::make_shared<std::atomic<std::size_t>>(0);
  std::atomic<std::uint64_t> frames_presented_{0};
  std::atomic<std::uint64_t> frames_dropped_{0};
  std::atomic<std::uint64_t> frames_failed_{0};
  std::atomic<std::uint64_t> frames_held_{0};
  std::atomic<std::uint64_t> frames_by_stream_{0};
  mutable std::mutex latency_mutex_;
  std::array<std::uint64_t, kLatencyBuckets> latency_{};
};

}  // namespace media
