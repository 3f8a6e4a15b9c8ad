#include "viewer/media/video_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <system_error>

#include "viewer/media/colour.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/platform/thread_name.h"
#include "viewer/platform/tick.h"

namespace media {
namespace {

// Every VOP starts with its start code (ISO/IEC 14496-2, 6.2.5); a frame
// without one cannot be decoded and is dropped before the decoder sees it.
constexpr std::uint8_t kVopStartCode[4] = {0x00, 0x00, 0x01, 0xB6};

bool starts_with_vop(const std::uint8_t* data, std::uint32_t length) {
  return length >= 4 && std::memcmp(data, kVopStartCode, 4) == 0;
}

// Intersection of r with the picture; the whole picture when nothing of r is
// inside, so a view never reads outside the image.
Rect clamp_to_picture(const Rect& r, int width, int height) {
  const Rect whole{0, 0, width, height};
  if (r.empty()) return whole;
  Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width), std::min(r.bottom, height)};
  return c.empty() ? whole : c;
}

// Grows a buffer to n bytes without throwing; false when memory ran out.
bool reserve_bytes(std::vector<std::uint8_t>& v, std::size_t n) {
  try {
    v.resize(n);
  } catch (const std::bad_alloc&) {
    v.clear();
    v.shrink_to_fit();
    return false;
  }
  return true;
}

void free_bytes(std::vector<std::uint8_t>& v) {
  v.clear();
  v.shrink_to_fit();
}

}  // namespace

void VideoPipeline::DecoderDeleter::operator()(DECODER* d) const { (void)decoder_destroy(d); }

VideoPipeline::VideoPipeline() {
  queue_.set_on_push([this] { frame_queued(); });
}

VideoPipeline::~VideoPipeline() { stop(); }

bool VideoPipeline::setup(int width, int height, const std::uint8_t* codec_data, int codec_len) {
  std::lock_guard control(control_mutex_);
  if (codec_data == nullptr || codec_len <= 0 || codec_len > static_cast<int>(kMaxCodecDataBytes)) return false;
  // The size comes from the stream header; the buffers hold no more than
  // the largest picture the cameras send.
  if (width <= 0 || height <= 0 || width > kMaxWidth || height > kMaxHeight) return false;
  if (thread_.joinable() && !thread_ended_.load()) return false;  // still decoding the last stream
  std::lock_guard work(work_mutex_);
  ready_ = false;

  width_ = width;
  height_ = height;
  std::memcpy(codec_data_, codec_data, static_cast<std::size_t>(codec_len));
  codec_len_ = codec_len;
  codec_pending_ = true;
  video_decoded_.store(false);

  // A new decoder for every connection: one that has already read headers
  // would misread the codec data put in front of the first frame.
  {
    std::lock_guard lock(yuv_mutex_);
    have_decoded_ = false;
    decoder_.reset(decoder_create());
    if (!decoder_) return false;
  }

  {
    std::lock_guard lock(motion_mutex_);
    std::memset(cells_, 0, sizeof cells_);
    cells_valid_ = false;
  }

  // Sized to this connection's pictures. The input buffer only carries the
  // codec data in front of the first frames; later frames are decoded where
  // they lie.
  const std::size_t luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (!reserve_bytes(key_luma_, luma)) return false;
  decode_bytes_.store(key_luma_.size() + decoder_allocated_bytes());
  ready_ = true;
  return true;
}

bool VideoPipeline::start() {
  std::lock_guard control(control_mutex_);
  if (!ready_) return false;
  if (thread_.joinable() && !thread_ended_.load()) {
    stop_flag_.store(false);
    return true;
  }
  if (thread_.joinable()) thread_.join();  // it ended on its own

  // Each start begins a new backlog and motion history.
  {
    std::lock_guard work(work_mutex_);
    backlog_armed_ = false;
    resync_ = false;
    have_key_frame_ = false;
    failed_ = false;
    awaiting_.reset();
    has_awaiting_.store(false);
  }
  caught_up_.store(false);
  stop_flag_.store(false);
  thread_ended_.store(false);
  thread_result_.store(kThreadStopped);
  wake_.reset();
  try {
    thread_ = std::thread([this] { thread_main(); });
  } catch (const std::system_error&) {
    thread_ended_.store(true);
    return false;
  }
  decode_here_.store(true);
  return true;
}

void VideoPipeline::set_audio_source(net::AudioSink* audio) {
  net::AudioSink* old = audio_source_.exchange(audio);
  // The decode thread asks the source to wake it only while it holds a
  // picture back (pace); a source let go must not wake it any more.
  if (old && old != audio) old->set_clock_wakeup(nullptr);
}

void VideoPipeline::resume() {
  paused_.store(false);
  wake_.set();
}

void VideoPipeline::stop() {
  std::lock_guard control(control_mutex_);
  // Everything below is idempotent, so a second stop (or a stop after a
  // set-up that failed half-way) finds nothing to do or frees what was left.
  decode_here_.store(false);
  stop_flag_.store(true);
  wake_.set();
  if (thread_.joinable()) thread_.join();
  std::lock_guard work(work_mutex_);
  awaiting_.reset();
  has_awaiting_.store(false);
  queue_.clear();
  release_decoding();
  codec_len_ = 0;
  codec_pending_ = true;
  ready_ = false;
  video_decoded_.store(false);
  thread_ended_.store(false);
  set_audio_source(nullptr);
}

void VideoPipeline::release_decoding() {
  {
    std::lock_guard lock(yuv_mutex_);
    have_decoded_ = false;
    decoder_.reset();
  }
  {
    std::lock_guard lock(motion_mutex_);
    cells_valid_ = false;
  }
  // A window that shows the camera keeps its last picture (it shows that the
  // camera is reconnecting); everything else goes.
  if (!wanted_.load()) {
    std::lock_guard lock(picture_mutex_);
    presented_.reset();
  }
  for (auto& b : buffers_) b.reset();
  free_bytes(key_luma_);
  free_bytes(input_);
  decode_bytes_.store(0);
}

void VideoPipeline::thread_main() {
  platform::name_this_thread("cam-decode");
  int result = kThreadFailed;
  try {
    result = run();
  } catch (...) {
    // Nothing in the loop throws by design; whatever did, the stream must
    // learn that this camera's video has ended.
    result = kThreadFailed;
  }
  // Nothing decodes for this connection any more, on either thread.
  decode_here_.store(false);
  thread_result_.store(result);
  thread_ended_.store(true);
}

int VideoPipeline::run() {
  while (!stop_flag_.load()) {
    std::unique_lock work(work_mutex_);
    if (failed_) return kThreadFailed;
    if (convert_now_.exchange(false)) present_decoded();
    if (awaiting_) {
      // Decoded on the stream thread and ahead of the sound, with a frame
      // come in behind it: paced here like any other picture.
      std::unique_ptr<net::MediaFrame> frame = std::move(awaiting_);
      has_awaiting_.store(false);
      pace(*frame);
      publish(*frame);
      continue;
    }
    if (paused_.load()) {
      trim_while_paused();
      work.unlock();
      (void)wake_.wait(kIdleWaitMs);
      continue;
    }
    std::unique_ptr<net::MediaFrame> frame;
    switch (take_and_decode(frame)) {
      case Take::kIdle:
        work.unlock();
        (void)wake_.wait(kIdleWaitMs);
        break;
      case Take::kSkipped:
        break;
      case Take::kFatal:
        return kThreadFailed;
      case Take::kDecoded:
        pace(*frame);
        publish(*frame);
        break;
    }
  }
  return kThreadStopped;
}

VideoPipeline::Take VideoPipeline::take_and_decode(std::unique_ptr<net::MediaFrame>& frame) {
  int marker = 0;
  if (!queue_.peek_front([&](const net::MediaFrame& f) { marker = f.marker(); })) return Take::kIdle;
  if (resync_ && marker != net::kMarkerVideoKey) {
    // Frames were dropped while paused: predicted frames would be drawn
    // on the wrong picture until the next key frame.
    if (queue_.take_front()) frames_dropped_.fetch_add(1);
    return Take::kSkipped;
  }
  resync_ = false;

  if (marker == net::kMarkerVideoKey) {
    if (!backlog_armed_) {
      backlog_armed_ = true;
    } else if (!pass_backlog_check()) {
      return Take::kSkipped;  // stopping
    }
  }

  frame = queue_.take_front();
  if (!frame) return Take::kSkipped;
  bool fatal = false;
  if (!decode_frame(*frame, &fatal)) return fatal ? Take::kFatal : Take::kSkipped;
  if (frame->marker() == net::kMarkerVideoKey) detect_motion(decoder_->width, decoder_->height);
  return Take::kDecoded;
}

void VideoPipeline::frame_queued() {
  if (!decode_here()) wake_.set();
}

bool VideoPipeline::decode_here() {
  // Only a frame that found the stream caught up, and only the frame the
  // stream just queued with nothing before it: a queue means the decode
  // thread is behind or busy, and then it keeps the order and the pacing.
  if (!caught_up_.exchange(false) || !decode_here_.load()) return false;
  std::unique_lock work(work_mutex_, std::try_to_lock);
  if (!work.owns_lock()) return false;
  if (stop_flag_.load() || paused_.load() || failed_ || awaiting_ || convert_now_.load() || queue_.count() != 1)
    return false;
  // With one frame queued the backlog check passes at once and nothing
  // below waits.
  std::unique_ptr<net::MediaFrame> frame;
  switch (take_and_decode(frame)) {
    case Take::kIdle:
    case Take::kSkipped:
      return true;
    case Take::kFatal:
      // The decode thread ends the stream's video, as if it had met it.
      failed_ = true;
      decode_here_.store(false);
      return false;
    case Take::kDecoded:
      break;
  }
  frames_by_stream_.fetch_add(1);
  if (ahead_of_sound(*frame)) {
    // Shown once the stream has nothing more for now (stream_waiting), or
    // paced by the decode thread if a frame arrives behind it first.
    awaiting_ = std::move(frame);
    has_awaiting_.store(true);
    return true;
  }
  publish(*frame);
  return true;
}

void VideoPipeline::stream_waiting() {
  caught_up_.store(true);
  if (!has_awaiting_.load()) return;
  // When the decode thread holds the lock it finds the picture itself
  // before it waits again; so it does when a frame came in behind the
  // picture (that woke it), and then it paces the picture.
  std::unique_lock work(work_mutex_, std::try_to_lock);
  if (!work.owns_lock() || !awaiting_ || queue_.count() > 0) return;
  std::unique_ptr<net::MediaFrame> frame = std::move(awaiting_);
  has_awaiting_.store(false);
  publish(*frame);
}

bool VideoPipeline::ahead_of_sound(const net::MediaFrame& frame) const {
  net::AudioSink* audio = audio_source_.load();
  if (audio == nullptr) return false;
  const std::uint32_t clock = audio->clock();
  return clock != 0 && frame.time() > clock;
}

void VideoPipeline::trim_while_paused() {
  // A paused camera keeps streaming (its recordings go on), and a queue
  // that grew to the stream's limit would end the connection. So a paused
  // pipeline keeps only the newest frames, and after resuming starts again
  // at a key frame.
  while (queue_.count() >= backlog_threshold()) {
    if (!queue_.take_front()) break;
    frames_dropped_.fetch_add(1);
    resync_ = true;
  }
}

std::size_t VideoPipeline::backlog_threshold() const { return width_ == kMaxWidth ? kBacklogLarge : kBacklogSmall; }

bool VideoPipeline::pass_backlog_check() {
  // The check runs at every second key frame. When the decoder has fallen
  // this far behind, everything up to the first key frame that arrives
  // with a short queue is dropped: the display jumps back to live, and
  // decoding resumes at a picture that needs no reference.
  const std::size_t threshold = backlog_threshold();
  while (!stop_flag_.load()) {
    int marker = 0;
    if (queue_.peek_front([&](const net::MediaFrame& f) { marker = f.marker(); })) {
      if (marker == net::kMarkerVideoKey && queue_.count() < threshold) {
        backlog_armed_ = false;
        return true;
      }
      if (queue_.take_front()) frames_dropped_.fetch_add(1);
      continue;
    }
    (void)wake_.wait(kIdleWaitMs);
  }
  return false;
}

bool VideoPipeline::decode_frame(const net::MediaFrame& frame, bool* fatal) {
  const std::uint8_t* data = frame.data();
  const std::uint32_t length = frame.length();
  if (data == nullptr) return false;
  // Once the headers are in, anything but a VOP is not ours to decode.
  if (!codec_pending_ && !starts_with_vop(data, length)) return false;

  const std::size_t prefix = codec_pending_ ? static_cast<std::size_t>(codec_len_) : 0;
  if (prefix + length >= kInputBytes) {
    // Larger than any picture the cameras send: the stream is broken, and
    // ending the thread makes the stream reconnect.
    *fatal = true;
    return false;
  }
  // The decoder reads only the bytes it is given (it treats the rest as
  // zeros), so the input needs no padding, and a frame after the headers is
  // decoded where it lies. The codec data goes in front of the first frames
  // until one decodes with it.
  const std::uint8_t* input = data;
  if (prefix > 0) {
    if (!reserve_bytes(input_, prefix + length)) {
      frames_failed_.fetch_add(1);
      return false;
    }
    std::memcpy(input_.data(), codec_data_, prefix);
    std::memcpy(input_.data() + prefix, data, length);
    input = input_.data();
  }

  std::int32_t status = 0;
  int result = 0;
  {
    std::lock_guard lock(yuv_mutex_);
    result = decoder_decode(decoder_.get(), nullptr, input, prefix + length, &status);
    if (result == kDecodeOk) {
      const int w = decoder_->width, h = decoder_->height;
      // The decoder refuses sizes other than the header's multiples of 16;
      // a picture larger than this connection's is not shown (the motion
      // copy is sized to the connection).
      if (w <= 0 || h <= 0 || w > width_ || h > height_) {
        result = -1;
      } else {
        have_decoded_ = true;
        decoded_width_ = w;
        decoded_height_ = h;
        decoded_time_ = frame.time();
      }
    }
  }
  // The decoder switches its deblocking filter on whenever it reads the
  // headers; the camera's pictures get it on the first picture only.
  decoder_->deblocking_enabled = 0;
  if (result != kDecodeOk) {
    // The codec data stays pending until a frame decodes with it, so that a
    // lost or damaged first frame does not leave the decoder without its
    // headers for the rest of the connection.
    frames_failed_.fetch_add(1);
    return false;
  }
  if (codec_pending_) {
    codec_pending_ = false;
    free_bytes(input_);
  }
  video_decoded_.store(true);
  return true;
}

void VideoPipeline::detect_motion(int width, int height) {
  // Motion is measured between consecutive key frames: they come every
  // second or two and are whole pictures, so the comparison sees the
  // scene, not the coding error of a chain of predicted pictures.
  const std::size_t luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (luma > key_luma_.size()) return;
  const std::uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
  if (decoder_picture(decoder_.get(), &y, &cb, &cr) != 0) return;
  if (have_key_frame_ && width == cells_width_ && height == cells_height_) {
    MotionDetect(key_luma_.data(), y, cells_scratch_, width, height, kMotionThreshold);
    std::lock_guard lock(motion_mutex_);
    std::memcpy(cells_, cells_scratch_, sizeof cells_);
    motion_updates_.fetch_add(1);
  }
  std::memcpy(key_luma_.data(), y, luma);
  have_key_frame_ = true;
  std::lock_guard lock(motion_mutex_);
  cells_width_ = width;
  cells_height_ = height;
  cells_valid_ = true;
}

void VideoPipeline::pace(const net::MediaFrame& frame) {
  // Video waits for the sound only while more frames are queued behind it:
  // the newest frame is shown at once, so a camera whose audio lags or
  // stalls never freezes its picture. The clock is 0 until the first block
  // plays. Presentation times are compared unsigned, as the camera's
  // millisecond counter runs. The audio output sets wake_ whenever its
  // clock moves, and every queued frame sets it too.
  // The clock wakes this thread only while a picture is held here: every
  // block of sound moving it would otherwise wake an idle decode thread
  // for nothing, ten times a second per camera. The clock is read again
  // after the wake-up is registered, so a move in between is not missed.
  net::AudioSink* audio = audio_source_.load();
  if (audio == nullptr) return;
  bool held = false;
  bool registered = false;
  while (!stop_flag_.load() && queue_.count() > 0) {
    const std::uint32_t clock = audio->clock();
    if (clock == 0 || frame.time() <= clock) break;
    if (!registered) {
      registered = true;
      audio->set_clock_wakeup(&wake_);
      continue;
    }
    held = true;
    if (convert_now_.exchange(false)) present_decoded();
    (void)wake_.wait(kIdleWaitMs);
  }
  if (registered) audio->set_clock_wakeup(nullptr);
  if (held) frames_held_.fetch_add(1);
}

std::shared_ptr<Picture> VideoPipeline::free_buffer(int width, int height) {
  // A buffer nobody else holds: not the presented picture, not one a view
  // is still drawing. The count can only grow through presented_, which
  // none of these is, so a count of one stays one.
  const std::size_t bytes = std::size_t{3} * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::shared_ptr<const Picture> shown;
  {
    std::lock_guard lock(picture_mutex_);
    shown = presented_;
  }
  for (auto& b : buffers_) {
    if (!b || b == shown || b.use_count() != 1) continue;
    std::atomic_thread_fence(std::memory_order_acquire);
    if (b->rgb.size() != bytes) {
      b.reset();
      break;
    }
    return b;
  }
  for (auto& b : buffers_) {
    if (b && (b == shown || b.use_count() != 1)) continue;
    b.reset();
    auto picture = std::make_shared<Picture>();
    if (!reserve_bytes(picture->rgb, bytes)) return nullptr;
    picture->tally.counter = rgb_bytes_;
    picture->tally.bytes = bytes;
    rgb_bytes_->fetch_add(bytes);
    b = picture;
    return b;
  }
  return nullptr;  // three pictures in use: this one is not converted
}

int VideoPipeline::view_scale(int width, int height) const {
  const int vw = view_width_.load(), vh = view_height_.load();
  if (vw <= 0 || vh <= 0 || 2 * vw > width || 2 * vh > height || width % 4 != 0 || height % 4 != 0) return 1;
  // A zoomed view shows part of the picture larger: it needs every pixel.
  std::lock_guard lock(picture_mutex_);
  return source_.empty() ? 2 : 1;
}

bool VideoPipeline::convert_and_present(int width, int height, std::uint32_t time_ms, std::uint64_t sequence) {
  const int scale = view_scale(width, height);
  std::shared_ptr<Picture> picture = free_buffer(width / scale, height / scale);
  if (!picture) return false;
  convert_decoded(picture->rgb.data(), width, height, scale);
  picture->width = width / scale;
  picture->height = height / scale;
  picture->scale = scale;
  picture->time_ms = time_ms;
  picture->sequence = sequence;
  std::lock_guard lock(picture_mutex_);
  presented_ = picture;
  return true;
}

void VideoPipeline::publish(const net::MediaFrame& frame) {
  // The picture is the decoder's last one, of the size it decoded.
  const int width = decoder_->width;
  const int height = decoder_->height;
  const std::uint64_t sequence = sequence_.load() + 1;
  if (wanted_.load()) {
    // Only the thread that decodes, holding the decoding lock, changes the
    // decoder's planes (under yuv_mutex_, for the snapshots that read
    // them), so it reads them without yuv_mutex_.
    (void)convert_and_present(width, height, frame.time(), sequence);
  } else {
    // Nobody draws this camera: no RGB memory is kept for it.
    {
      std::lock_guard lock(picture_mutex_);
      presented_.reset();
    }
    for (auto& b : buffers_) b.reset();
  }
  sequence_.store(sequence);
  count_latency(frame.arrival_tick());
  if (PictureListener* listener = listener_.load()) listener->picture_published(*this);
  // Counted once the listener has seen it, so that whoever waits for the
  // count finds what the listener recorded.
  frames_presented_.fetch_add(1);
}

void VideoPipeline::present_decoded() {
  if (!wanted_.load()) return;
  std::lock_guard yuv(yuv_mutex_);
  if (!have_decoded_) return;
  (void)convert_and_present(decoded_width_, decoded_height_, decoded_time_, sequence_.load());
}

void VideoPipeline::convert_decoded(std::uint8_t* rgb, int width, int height, int scale) const {
  const std::uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
  if (!decoder_ || decoder_picture(decoder_.get(), &y, &cb, &cr) != 0) return;
  if (scale == 2)
    ConvertYUVtoRGB_half(y, cb, cr, rgb, width, height);
  else
    ConvertYUVtoRGB_planes(y, cb, cr, rgb, width, height);
}

void VideoPipeline::count_latency(std::uint32_t arrival_tick) {
  if (arrival_tick == 0) return;
  const std::uint32_t delay = platform::tick_elapsed(arrival_tick, platform::tick_ms());
  const std::size_t bucket = std::min<std::size_t>(delay / kLatencyBucketMs, kLatencyBuckets - 1);
  std::lock_guard lock(latency_mutex_);
  ++latency_[bucket];
}

std::array<std::uint64_t, kLatencyBuckets> VideoPipeline::latency_histogram() const {
  std::lock_guard lock(latency_mutex_);
  return latency_;
}

void VideoPipeline::set_view_size(int width, int height) {
  const bool wanted = width > 0 && height > 0;
  const int old_width = view_width_.exchange(wanted ? width : 0);
  const int old_height = view_height_.exchange(wanted ? height : 0);
  // A view that grew past half the picture must not show a half-size
  // picture stretched until the next frame (a paused camera sends none):
  // the decode thread converts the last picture again at once.
  if (wanted && wanted_.load() && (old_width != width || old_height != height)) {
    convert_now_.store(true);
    wake_.set();
  }
  set_wanted(wanted);
}

void VideoPipeline::set_wanted(bool wanted) {
  if (!wanted) {
    view_width_.store(0);
    view_height_.store(0);
  }
  const bool was = wanted_.exchange(wanted);
  if (wanted && !was) {
    convert_now_.store(true);
    wake_.set();
  } else if (!wanted) {
    std::lock_guard lock(picture_mutex_);
    presented_.reset();
  }
}

std::shared_ptr<const Picture> VideoPipeline::picture() const {
  std::lock_guard lock(picture_mutex_);
  return presented_;
}

void VideoPipeline::set_source_rect(const Rect& picture_rect) {
  {
    std::lock_guard lock(picture_mutex_);
    const Rect source = picture_rect.empty() ? Rect{} : picture_rect;
    if (source == source_) return;
    source_ = source;
  }
  // Zooming in needs the full-size picture, zooming out may use the half
  // one: the last picture is converted again rather than shown wrongly
  // until the next frame.
  if (wanted_.load()) {
    convert_now_.store(true);
    wake_.set();
  }
}

Rect VideoPipeline::source_rect() const {
  std::lock_guard lock(picture_mutex_);
  const int w = presented_ ? presented_->width * presented_->scale : width_;
  const int h = presented_ ? presented_->height * presented_->scale : height_;
  return clamp_to_picture(source_, w, h);
}

bool VideoPipeline::copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) const {
  // The presented picture when it is the newest one; otherwise (nobody draws
  // the camera) the newest decoded picture, converted now.
  std::shared_ptr<const Picture> shown = picture();
  std::lock_guard yuv(yuv_mutex_);
  if (!have_decoded_) return false;
  if (shown && shown->width == decoded_width_ && shown->height == decoded_height_ && shown->time_ms == decoded_time_) {
    out.assign(shown->rgb.begin(), shown->rgb.end());
  } else {
    out.resize(std::size_t{3} * static_cast<std::size_t>(decoded_width_) * static_cast<std::size_t>(decoded_height_));
    convert_decoded(out.data(), decoded_width_, decoded_height_);
  }
  if (width) *width = decoded_width_;
  if (height) *height = decoded_height_;
  return true;
}

bool VideoPipeline::copy_motion_cells(std::uint8_t* cells, int* width, int* height) const {
  if (cells == nullptr) return false;
  std::lock_guard lock(motion_mutex_);
  if (!cells_valid_) return false;
  std::memcpy(cells, cells_, sizeof cells_);
  if (width) *width = cells_width_;
  if (height) *height = cells_height_;
  return true;
}

}  // namespace media
