#include "viewer/media/video_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "viewer/media/colour.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/platform/tick.h"

namespace media {
namespace {

// Every VOP starts with its start code (ISO/IEC 14496-2, 6.2.5); a frame
// without one cannot be decoded and is dropped before the decoder sees it.
constexpr std::uint8_t kVopStartCode[4] = {0x00, 0x00, 0x01, 0xB6};

// The decoder's own planes, allocated by decoder_create for the largest
// picture: current Y, Cb, Cr and the references with their borders.
constexpr std::size_t kDecoderPlaneBytes =
    std::size_t{640} * 480 * 3 / 2 + std::size_t{704} * 544 + 2 * std::size_t{352} * 272;

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

}  // namespace

void VideoPipeline::DecoderDeleter::operator()(DECODER* d) const { (void)decoder_destroy(d); }

VideoPipeline::VideoPipeline() { record_.pipeline = this; }

VideoPipeline::~VideoPipeline() { stop(); }

bool VideoPipeline::setup(int width, int height, const std::uint8_t* codec_data, int codec_len,
                          platform::View* view) {
  std::lock_guard control(control_mutex_);
  if (view == nullptr || codec_data == nullptr || codec_len <= 0 ||
      codec_len > static_cast<int>(kMaxCodecDataBytes)) {
    return false;
  }
  // The size comes from the stream header; the buffers hold no more than
  // the largest picture the cameras send.
  if (width <= 0 || height <= 0 || width > kMaxWidth || height > kMaxHeight) return false;
  if (thread_.joinable() && !thread_ended_.load()) return false;  // still decoding the last stream
  ready_ = false;

  view_.store(view);
  {
    std::lock_guard lock(picture_mutex_);
    width_ = width;
    height_ = height;
    source_view_ = Rect{};  // whole picture
    have_picture_ = false;
  }
  std::memcpy(codec_data_, codec_data, static_cast<std::size_t>(codec_len));
  codec_len_ = codec_len;
  codec_pending_ = true;

  // A new decoder for every connection: one that has already read headers
  // would misread the codec data put in front of the first frame.
  decoder_.reset(decoder_create());
  if (!decoder_) return false;

  {
    std::lock_guard lock(motion_mutex_);
    std::memset(cells_, 0, sizeof cells_);
    cells_valid_ = false;
  }

  if (!yuv_) yuv_.reset(new (std::nothrow) std::uint8_t[kYuvBytes]);
  if (!key_luma_) key_luma_.reset(new (std::nothrow) std::uint8_t[kKeyLumaBytes]);
  if (!input_) input_.reset(new (std::nothrow) std::uint8_t[kInputBytes]);
  {
    std::lock_guard lock(picture_mutex_);
    if (!rgb_) rgb_.reset(new (std::nothrow) std::uint8_t[kRgbBytes]);
    if (!rgb_) return false;
  }
  if (!yuv_ || !key_luma_ || !input_) return false;
  buffer_bytes_.store(kYuvBytes + kKeyLumaBytes + kInputBytes + kRgbBytes + kDecoderPlaneBytes + sizeof(DECODER));
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
  backlog_armed_ = false;
  resync_ = false;
  have_key_frame_ = false;
  stop_flag_.store(false);
  thread_ended_.store(false);
  thread_result_.store(kThreadStopped);
  try {
    thread_ = std::thread([this] { thread_main(); });
  } catch (const std::system_error&) {
    thread_ended_.store(true);
    return false;
  }
  return true;
}

void VideoPipeline::stop() {
  std::lock_guard control(control_mutex_);
  // Everything below is idempotent, so a second stop (or a stop after a
  // set-up that failed half-way) finds nothing to do or frees what was left.
  stop_flag_.store(true);
  if (thread_.joinable()) thread_.join();
  queue_.clear();
  release_buffers();
  codec_len_ = 0;
  codec_pending_ = true;
  ready_ = false;
  thread_ended_.store(false);
  audio_source_.store(nullptr);
}

void VideoPipeline::release_buffers() {
  {
    // A view that handles its last message late, or a snapshot, holds this
    // lock while it reads the picture.
    std::lock_guard lock(picture_mutex_);
    rgb_.reset();
    have_picture_ = false;
    record_.rgb = nullptr;
  }
  {
    std::lock_guard lock(motion_mutex_);
    cells_valid_ = false;
  }
  yuv_.reset();
  key_luma_.reset();
  input_.reset();
  decoder_.reset();
  buffer_bytes_.store(0);
}

void VideoPipeline::thread_main() {
  int result = kThreadFailed;
  try {
    result = run();
  } catch (...) {
    // Nothing in the loop throws by design; whatever did, the stream must
    // learn that this camera's video has ended.
    result = kThreadFailed;
  }
  thread_result_.store(result);
  thread_ended_.store(true);
}

int VideoPipeline::run() {
  while (!stop_flag_.load()) {
    platform::sleep_ms(1);
    if (paused_.load()) {
      trim_while_paused();
      continue;
    }
    int marker = 0;
    if (!queue_.peek_front([&](const net::MediaFrame& f) { marker = f.marker(); })) continue;
    if (resync_ && marker != net::kMarkerVideoKey) {
      // Frames were dropped while paused: predicted frames would be drawn
      // on the wrong picture until the next key frame.
      if (queue_.take_front()) frames_dropped_.fetch_add(1);
      continue;
    }
    resync_ = false;

    if (marker == net::kMarkerVideoKey) {
      if (!backlog_armed_) {
        backlog_armed_ = true;
      } else if (!pass_backlog_check()) {
        continue;  // stopping
      }
    }

    std::unique_ptr<net::MediaFrame> frame = queue_.take_front();
    if (!frame) continue;
    bool fatal = false;
    if (!decode_frame(*frame, &fatal)) {
      if (fatal) return kThreadFailed;
      continue;
    }
    const int width = decoder_->width;
    const int height = decoder_->height;
    if (frame->marker() == net::kMarkerVideoKey) detect_motion(width, height);
    {
      std::lock_guard lock(picture_mutex_);
      ConvertYUVtoRGB(yuv_.get(), rgb_.get(), width, height);
      picture_width_ = width;
      picture_height_ = height;
      have_picture_ = true;
    }
    pace(*frame);
    present(*frame);
  }
  return kThreadStopped;
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
    platform::sleep_ms(1);
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
  // zeros), so the input needs no padding.
  if (prefix > 0) std::memcpy(input_.get(), codec_data_, prefix);
  std::memcpy(input_.get() + prefix, data, length);

  std::int32_t status = 0;
  const int result = decoder_decode(decoder_.get(), yuv_.get(), input_.get(), prefix + length, &status);
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
  codec_pending_ = false;
  const int w = decoder_->width, h = decoder_->height;
  if (w <= 0 || h <= 0 || w > kMaxWidth || h > kMaxHeight || (w & 1) || (h & 1)) {
    frames_failed_.fetch_add(1);
    return false;
  }
  return true;
}

void VideoPipeline::detect_motion(int width, int height) {
  // Motion is measured between consecutive key frames: they come every
  // second or two and are whole pictures, so the comparison sees the
  // scene, not the coding error of a chain of predicted pictures.
  const std::size_t luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (have_key_frame_ && width == cells_width_ && height == cells_height_) {
    MotionDetect(key_luma_.get(), yuv_.get(), cells_scratch_, width, height, kMotionThreshold);
    std::lock_guard lock(motion_mutex_);
    std::memcpy(cells_, cells_scratch_, sizeof cells_);
    motion_updates_.fetch_add(1);
  }
  std::memcpy(key_luma_.get(), yuv_.get(), luma);
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
  // millisecond counter runs.
  net::AudioSink* audio = audio_source_.load();
  if (audio == nullptr) return;
  bool held = false;
  while (!stop_flag_.load() && queue_.count() > 0) {
    const std::uint32_t clock = audio->clock();
    if (clock == 0 || frame.time() <= clock) break;
    held = true;
    platform::sleep_ms(1);
  }
  if (held) frames_held_.fetch_add(1);
}

void VideoPipeline::present(const net::MediaFrame& frame) {
  platform::View* view = view_.load();
  {
    std::lock_guard lock(picture_mutex_);
    record_.width = picture_width_;
    record_.height = picture_height_;
    record_.source = clamp_to_picture(source_view_, picture_width_, picture_height_);
    record_.destination = destination_;
    record_.rgb = rgb_.get();
    record_.time_ms = frame.time();
  }
  // The send waits for the view at most kSendTimeoutMs; the record stays
  // the pipeline's, so a view that answers later still finds it.
  if (view != nullptr) (void)view->send_message(platform::kMsgPresentFrame, &record_, kSendTimeoutMs);
  frames_presented_.fetch_add(1);
  frame_shown_.store(true);
}

void VideoPipeline::set_destination_rect(const Rect& r) {
  std::lock_guard lock(picture_mutex_);
  destination_ = r;
}

void VideoPipeline::set_source_rect(const Rect& view_rect) {
  std::lock_guard lock(picture_mutex_);
  if (view_rect.empty()) {
    source_view_ = Rect{};
    return;
  }
  source_view_ = Rect{view_rect.left - destination_.left, view_rect.top - destination_.top,
                      view_rect.right - destination_.left, view_rect.bottom - destination_.top};
}

Rect VideoPipeline::source_rect() const {
  std::lock_guard lock(picture_mutex_);
  const int w = have_picture_ ? picture_width_ : width_;
  const int h = have_picture_ ? picture_height_ : height_;
  return clamp_to_picture(source_view_, w, h);
}

bool VideoPipeline::read_presentation(PresentationRecord* copy, const std::uint8_t** rgb) const {
  // Caller holds picture_mutex_.
  if (stop_flag_.load() || !have_picture_ || !rgb_) return false;
  *copy = record_;
  copy->rgb = rgb_.get();
  *rgb = rgb_.get();
  return true;
}

bool VideoPipeline::copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) const {
  std::lock_guard lock(picture_mutex_);
  if (!have_picture_ || !rgb_) return false;
  const std::size_t bytes = std::size_t{3} * static_cast<std::size_t>(picture_width_) *
                            static_cast<std::size_t>(picture_height_);
  out.assign(rgb_.get(), rgb_.get() + bytes);
  if (width) *width = picture_width_;
  if (height) *height = picture_height_;
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
