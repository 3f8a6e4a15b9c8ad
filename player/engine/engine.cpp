#include "player/engine/engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>

#include "viewer/media/colour.h"

namespace player {
namespace {

// Read-ahead: enough pictures to keep the sound queue a few seconds ahead,
// bounded in memory (frames are at most 64 KB each).
constexpr std::size_t kMaxQueuedFrames = 64;
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} << 20;
// After a jump, reading starts this many packets before the key frame, so
// that the sound block under way at the key frame's time is heard from its
// start rather than lost.
constexpr std::uint64_t kSoundLeadPackets = 32;
// A picture further ahead of the clock than this is a jump in the
// recording's times (a gap, a reset camera counter): shown at once and the
// clock follows it, rather than a frozen picture for the length of the gap.
constexpr std::int64_t kMaxWaitUs = 2'000'000;
// Packets read per round of the play loop, so that requests are seen soon.
constexpr int kPacketsPerRound = 16;
// The longest the play thread sleeps while a picture waits for its time;
// the sound clock moves on its own, so the wait is looked at again.
constexpr int kMaxSleepMs = 50;
constexpr std::size_t kRgbBytes = std::size_t{640} * 480 * 3;
constexpr int kCodeBits = 2;                // the cameras' G.726 at 16 kbit/s
constexpr std::int64_t kUsPerSample = 125;  // 8 kHz
constexpr std::size_t kPcmChunk = 4096;     // samples decoded per call

std::int64_t wall_us() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool valid_speed(int s) { return s == 1 || s == 2 || s == 4 || s == 8; }

}  // namespace

// Hands the demultiplexer's objects to the engine.
class Engine::Sink final : public DemuxSink {
 public:
  explicit Sink(Engine& e) : e_(e) {}
  void video_frame(const DemuxedObject& f) override { e_.on_video(f); }
  void audio_block(const DemuxedObject& b) override { e_.on_audio(b); }

 private:
  Engine& e_;
};

Engine::Engine(EngineOptions options, EngineListener* listener)
    : options_(options), listener_(listener), index_(options.index_entries) {
  speed_local_ = valid_speed(options.speed) ? options.speed : 1;
  speed_.store(speed_local_);
}

Engine::~Engine() {
  {
    std::lock_guard lock(mutex_);
    requests_.quit = true;
  }
  stop_index_.store(true);
  wake();
  if (play_thread_.joinable()) play_thread_.join();
  if (index_thread_.joinable()) index_thread_.join();
  feeder_.reset();  // its thread calls wake(): gone before the engine's members
}

OpenError Engine::open(const std::string& path, std::string* message) {
  path_ = path;
  OpenError error = OpenError::None;
  std::string reason;
  bytes_ = open_file_bytes(path, &error, &reason);
  if (bytes_) error = read_layout(*bytes_, &layout_);
  if (error != OpenError::None) {
    bytes_.reset();
    if (message) *message = open_error_text(error, path, reason);
    return error;
  }
  std::int64_t last = 0;
  probe_times(*bytes_, layout_, &base_, &last);
  duration_ms_.store(last);

  demux_ = std::make_unique<PacketDemux>(layout_.has_audio);
  decoder_ = std::make_unique<FrameDecoder>(layout_);
  g726_.reset(media::G726_decoder_create());
  front_rgb_.reset(new (std::nothrow) std::uint8_t[kRgbBytes]);
  back_rgb_.reset(new (std::nothrow) std::uint8_t[kRgbBytes]);
  packet_.resize(layout_.packet_size);
  pcm_.resize(kPcmChunk);
  if (!decoder_->ok() || !g726_ || !front_rgb_ || !back_rgb_) {
    bytes_.reset();
    if (message) *message = open_error_text(OpenError::CannotOpen, path, "not enough memory");
    return OpenError::CannotOpen;
  }
  g726_initial_ = *g726_;
  if (options_.sound && options_.paced && layout_.has_audio) {
    feeder_ = std::make_unique<SoundFeeder>([this] { wake(); });
    if (!feeder_->open()) feeder_.reset();
  }
  playing_local_ = options_.start_playing;
  playing_.store(playing_local_);
  index_thread_ = std::thread([this] { index_main(); });
  play_thread_ = std::thread([this] { play_main(); });
  return OpenError::None;
}

// ---- controls ----

void Engine::wake() {
  wakes_.fetch_add(1);
  // Taken and released so that a play thread between its check and its
  // wait cannot miss the notification.
  { std::lock_guard lock(mutex_); }
  wake_.notify_all();
}

void Engine::play() {
  {
    std::lock_guard lock(mutex_);
    requests_.play_set = true;
    requests_.play = true;
  }
  wake();
}

void Engine::pause() {
  {
    std::lock_guard lock(mutex_);
    requests_.play_set = true;
    requests_.play = false;
  }
  wake();
}

void Engine::toggle_play() {
  {
    std::lock_guard lock(mutex_);
    const bool now = requests_.play_set ? requests_.play : playing_.load();
    requests_.play_set = true;
    requests_.play = !now;
  }
  wake();
}

void Engine::step() {
  {
    std::lock_guard lock(mutex_);
    ++requests_.steps;
  }
  wake();
}

void Engine::set_speed(int speed) {
  if (!valid_speed(speed)) return;
  {
    std::lock_guard lock(mutex_);
    requests_.speed = speed;
  }
  wake();
}

void Engine::seek(std::int64_t time_ms) {
  {
    std::lock_guard lock(mutex_);
    requests_.seek = true;
    requests_.seek_ms = time_ms;
  }
  wake();
}

EngineStatus Engine::status() const {
  EngineStatus s;
  s.playing = playing_.load();
  s.at_end = at_end_.load();
  s.speed = speed_.load();
  s.position_ms = position_ms_.load();
  s.duration_ms = std::max(duration_ms_.load(), index_.last_ms());
  s.index_ready = index_.finished();
  s.index_progress = layout_.packet_count == 0
                         ? 1.0
                         : static_cast<double>(index_.scanned_packets()) / static_cast<double>(layout_.packet_count);
  s.sound = sound_playing_.load();
  s.pictures = pictures_.load();
  s.no_picture = no_picture_.load();
  return s;
}

bool Engine::copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) {
  return with_picture([&](const PresentedPicture& p) {
    out.assign(p.rgb, p.rgb + static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3);
    *width = p.width;
    *height = p.height;
  });
}

bool Engine::idle() const {
  if (!play_thread_.joinable()) return true;
  return waiting_.load() && wakes_.load() == handled_.load() && (!feeder_ || feeder_->idle());
}

void Engine::notify_status() {
  if (listener_) listener_->status_changed();
}

// ---- the index thread ----

void Engine::index_main() {
  std::uint64_t last_report = 0;
  const std::uint64_t report_every = std::max<std::uint64_t>(1, layout_.packet_count / 50);
  (void)scan_key_frames(*bytes_, layout_, base_, index_, [&] {
    if (stop_index_.load()) return false;
    // A seek waiting for the index looks again; the position bar hears of
    // the progress now and then.
    if (seek_waiting_.load()) wake();
    const std::uint64_t scanned = index_.scanned_packets();
    if (scanned - last_report >= report_every) {
      last_report = scanned;
      notify_status();
    }
    return true;
  });
  wake();
  notify_status();
}

// ---- the play thread ----

bool Engine::sound_active() const { return feeder_ != nullptr && speed_local_ == 1; }

void Engine::anchor_clock(std::int64_t media_us) {
  anchor_media_us_ = media_us;
  anchor_wall_us_ = wall_us();
}

std::int64_t Engine::media_now_us() {
  std::int64_t t = 0;
  clock_from_sound_ = sound_active() && feeder_->clock_us(&t);
  if (clock_from_sound_) {
    // The sound's clock rules while it plays; the wall clock takes over
    // from the same point when it stops.
    anchor_media_us_ = t;
    anchor_wall_us_ = wall_us();
    return t;
  }
  if (!playing_local_) return anchor_media_us_;
  return anchor_media_us_ + (wall_us() - anchor_wall_us_) * speed_local_;
}

void Engine::recycle_front() {
  Frame& f = frames_.front();
  queued_bytes_ -= f.length;
  spare_frames_.push_back(std::move(f));
  frames_.pop_front();
}

void Engine::clear_read_ahead() {
  while (!frames_.empty()) recycle_front();
  pending_sound_.clear();
  pending_marks_.clear();
  pending_pos_ = 0;
}

void Engine::reposition(const StreamPosition& video_from, bool need_key, std::int64_t sound_from_us) {
  clear_read_ahead();
  demux_->reset();
  video_from_ = video_from;
  need_key_ = need_key;
  sound_from_us_ = sound_from_us;
  const std::uint64_t lead = sound_active() ? kSoundLeadPackets : 0;
  next_packet_ = video_from.packet > lead ? video_from.packet - lead : 0;
  eof_ = false;
  end_told_ = false;
  // The sound starts again from a new place: a fresh decoder state, as at
  // the start of a stream.
  *g726_ = g726_initial_;
  if (feeder_) feeder_->reset();
  sound_playing_.store(false);
}

void Engine::resync_sound() {
  // Read again from the next picture on, so that its sound is queued with it.
  StreamPosition next{next_packet_, 0};
  if (!frames_.empty()) {
    next = frames_.front().start;
  } else {
    (void)demux_->video_in_progress(&next);
  }
  reposition(next, need_key_, last_time_ms_ * 1000);
}

void Engine::apply(Requests& r) {
  bool changed = false;
  if (r.speed != 0 && r.speed != speed_local_) {
    const bool had_sound = sound_active();
    anchor_clock(media_now_us());
    speed_local_ = r.speed;
    speed_.store(r.speed);
    if (had_sound) {
      feeder_->reset();
      pending_sound_.clear();
      pending_marks_.clear();
      pending_pos_ = 0;
      sound_playing_.store(false);
    } else if (sound_active()) {
      resync_sound();
    }
    changed = true;
  }
  if (r.seek) {
    seek_pending_ = true;
    seek_ms_ = r.seek_ms;
    seek_waiting_.store(true);
  }
  const bool want_play = r.play_set ? r.play : playing_local_;
  if (want_play && (!playing_local_ || at_end_.load()) && r.steps == 0) {
    if (at_end_.load()) {
      // Playing again from the end starts at the beginning.
      seek_pending_ = true;
      seek_ms_ = std::numeric_limits<std::int64_t>::min();
      seek_waiting_.store(true);
      at_end_.store(false);
    } else if (moved_while_paused_ && sound_active()) {
      resync_sound();
    }
    moved_while_paused_ = false;
    playing_local_ = true;
    anchor_clock(last_time_ms_ * 1000);
    changed = true;
  } else if ((!want_play || r.steps > 0) && playing_local_) {
    anchor_clock(media_now_us());
    playing_local_ = false;
    changed = true;
  }
  if (r.steps > 0 && !at_end_.load()) steps_ += r.steps;
  if (feeder_) feeder_->set_paused(!playing_local_);
  playing_.store(playing_local_);
  if (changed) notify_status();
}

bool Engine::try_seek() {
  KeyEntry key;
  std::uint64_t stretch_end = 0;
  const SeekIndex::Lookup found = index_.lookup(seek_ms_, &key, &stretch_end);
  if (found == SeekIndex::Lookup::NotYet) return false;  // the index thread wakes us as it goes on
  seek_pending_ = false;
  seek_waiting_.store(false);
  steps_ = 0;
  if (found == SeekIndex::Lookup::NoKeyFrame) {
    reposition(StreamPosition{}, true, std::numeric_limits<std::int64_t>::min());
    anchor_clock(0);
  } else {
    key = refine_key(*bytes_, layout_, base_, key, stretch_end, seek_ms_);
    reposition(key.start, true, key.time_ms * 1000);
    // Back at the first picture: decoded as it was when playing began, so
    // that a place always shows the same pictures however it was reached.
    if (first_decoded_ && key.start == first_decoded_at_) decoder_->restart();
    anchor_clock(key.time_ms * 1000);
  }
  show_next_ = true;
  at_end_.store(false);
  notify_status();
  return true;
}

void Engine::on_video(const DemuxedObject& f) {
  if (f.start < video_from_) return;  // before the place read from: already shown or not wanted
  Frame frame;
  if (!spare_frames_.empty()) {
    frame = std::move(spare_frames_.back());
    spare_frames_.pop_back();
  }
  frame.data.assign(f.data, f.data + f.length);
  frame.length = f.length;
  frame.time_ms = base_.relative(f.time);
  frame.stream_time = f.time;
  frame.key = f.key;
  frame.start = f.start;
  queued_bytes_ += f.length;
  frames_.push_back(std::move(frame));
}

void Engine::on_audio(const DemuxedObject& b) {
  if (!sound_active() || b.length == 0) return;
  pending_marks_.push_back({pending_sound_.size(), base_.relative(b.time) * 1000});
  pending_sound_.insert(pending_sound_.end(), b.data, b.data + b.length);
}

bool Engine::feed_pending_sound() {
  bool progress = false;
  while (pending_pos_ < pending_sound_.size() && sound_active()) {
    const std::size_t room = feeder_->room();
    if (room < 4) break;
    const Mark mark = pending_marks_.front();
    const std::size_t block_end = pending_marks_.size() > 1 ? pending_marks_[1].offset : pending_sound_.size();
    // Four 2-bit codes a byte; a block is decoded in pieces when the queue
    // takes only part of it, on the same decoder state.
    const std::size_t bytes = std::min({block_end - pending_pos_, room / 4, kPcmChunk / 4});
    const int n = media::G726_dec(g726_.get(), kCodeBits, pending_sound_.data() + pending_pos_, static_cast<int>(bytes),
                                  pcm_.data());
    const std::int64_t time = mark.time_us + static_cast<std::int64_t>(pending_pos_ - mark.offset) * 4 * kUsPerSample;
    // Samples before the place read from (a seek, a resumed picture) are
    // decoded for the decoder's state but not played.
    std::int64_t skip = sound_from_us_ > time ? (sound_from_us_ - time + kUsPerSample - 1) / kUsPerSample : 0;
    skip = std::min<std::int64_t>(skip, n);
    if (n > skip) {
      feeder_->push(pcm_.data() + skip, static_cast<std::size_t>(n - skip), time + skip * kUsPerSample);
    }
    pending_pos_ += bytes;
    if (pending_pos_ == block_end) pending_marks_.pop_front();
    progress = true;
  }
  if (pending_pos_ == pending_sound_.size()) {
    pending_sound_.clear();
    pending_marks_.clear();
    pending_pos_ = 0;
  }
  return progress;
}

bool Engine::read_one() {
  if (next_packet_ >= layout_.packet_count || !read_packet(*bytes_, layout_, next_packet_, packet_.data())) {
    eof_ = true;
    return false;
  }
  Sink sink(*this);
  (void)demux_->feed(packet_.data(), layout_.packet_size, next_packet_, sink);
  ++next_packet_;
  return true;
}

bool Engine::fill() {
  bool progress = false;
  // A picture is wanted now (a step, or the one after a seek) while the
  // sound queue is full and not draining (paused): the sound gives way,
  // and is read again from the picture on when playing resumes.
  if (pending_pos_ < pending_sound_.size() && frames_.empty() && (steps_ > 0 || show_next_) && !playing_local_) {
    pending_sound_.clear();
    pending_marks_.clear();
    pending_pos_ = 0;
    moved_while_paused_ = true;
  }
  for (int i = 0; i < kPacketsPerRound; ++i) {
    const bool room = frames_.size() < kMaxQueuedFrames && queued_bytes_ < kMaxQueuedBytes;
    if (eof_ || !room || pending_pos_ < pending_sound_.size() || !read_one()) break;
    progress = true;
    if (feed_pending_sound()) progress = true;
  }
  if (feed_pending_sound()) progress = true;
  if (sound_active()) {
    // Nothing more can be read for now: the sound starts with what it has.
    if (eof_ && pending_pos_ == pending_sound_.size()) {
      if (!end_told_) feeder_->end_of_data();
      end_told_ = true;
    } else if (pending_pos_ < pending_sound_.size() || frames_.size() >= kMaxQueuedFrames ||
               queued_bytes_ >= kMaxQueuedBytes) {
      feeder_->kick();
    }
  }
  return progress;
}

bool Engine::present_next() {
  if (frames_.empty()) return false;
  Frame& f = frames_.front();
  // After a jump nothing is shown before a key frame has decoded: a
  // predicted frame would be drawn on the wrong picture.
  if (need_key_ && !f.key) {
    recycle_front();
    return true;
  }
  const bool forced = show_next_ || steps_ > 0;
  if (!forced) {
    if (!playing_local_ || at_end_.load()) return false;
    if (options_.paced) {
      const std::int64_t now = media_now_us();
      const std::int64_t t = f.time_ms * 1000;
      if (t > now) {
        if (t - now <= kMaxWaitUs) return false;
        if (!clock_from_sound_) anchor_clock(t);
      }
    }
  }
  const bool with_headers = decoder_->headers_pending();
  if (decoder_->decode(f.data.data(), f.length, f.key)) {
    need_key_ = false;
    if (with_headers) {
      first_decoded_ = true;
      first_decoded_at_ = f.start;
    }
    publish(decoder_->picture(), decoder_->width(), decoder_->height(), f);
    if (show_next_) {
      show_next_ = false;
      // The clock starts again at a picture shown out of turn (the sound's
      // clock, when it plays, takes over again at the next look).
      anchor_clock(f.time_ms * 1000);
    } else if (steps_ > 0) {
      --steps_;
    }
    if (!playing_local_) moved_while_paused_ = true;
  }
  recycle_front();
  return true;
}

void Engine::publish(const std::uint8_t* yuv, int width, int height, const Frame& frame) {
  const std::int64_t time_ms = frame.time_ms;
  media::ConvertYUVtoRGB(yuv, back_rgb_.get(), width, height);
  {
    std::lock_guard lock(picture_mutex_);
    std::swap(front_rgb_, back_rgb_);
    picture_width_ = width;
    picture_height_ = height;
    have_picture_ = true;
  }
  last_time_ms_ = time_ms;
  position_ms_.store(std::max<std::int64_t>(time_ms, 0));
  const std::uint64_t number = pictures_.fetch_add(1) + 1;
  if (listener_) {
    PresentedPicture p;
    p.width = width;
    p.height = height;
    p.time_ms = time_ms;
    p.stream_time = frame.stream_time;
    p.number = number;
    p.yuv = yuv;
    p.rgb = front_rgb_.get();  // only this thread swaps the buffers
    listener_->picture_presented(p);
  }
}

void Engine::check_end() {
  const bool sound_now = sound_active() && playing_local_ && feeder_->started();
  if (sound_now != sound_playing_.load()) {
    sound_playing_.store(sound_now);
    notify_status();
  }
  if (at_end_.load() || seek_pending_ || !eof_ || !frames_.empty() || pending_pos_ < pending_sound_.size()) return;
  // Playing ends when the last picture has been shown and its sound heard.
  if (playing_local_ && sound_active() && feeder_->started() && !feeder_->drained()) return;
  at_end_.store(true);
  playing_local_ = false;
  playing_.store(false);
  steps_ = 0;
  show_next_ = false;
  if (feeder_) feeder_->set_paused(true);
  sound_playing_.store(false);
  if (pictures_.load() == 0) no_picture_.store(true);
  notify_status();
}

void Engine::wait_for_work() {
  int timeout_ms = -1;
  if (playing_local_ && !frames_.empty() && !seek_pending_ && options_.paced) {
    // Until the next picture is due, at the current speed; looked at again
    // every so often, as the sound's clock does not run on the wall clock.
    const std::int64_t ahead_us = frames_.front().time_ms * 1000 - media_now_us();
    timeout_ms = static_cast<int>(std::clamp<std::int64_t>(ahead_us / 1000 / speed_local_, 1, kMaxSleepMs));
  }
  std::unique_lock lock(mutex_);
  const auto ready = [&] { return wakes_.load() != handled_.load(); };
  waiting_.store(true);
  if (timeout_ms < 0) {
    wake_.wait(lock, ready);
  } else {
    (void)wake_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
  waiting_.store(false);
}

void Engine::play_main() {
  reposition(StreamPosition{}, true, std::numeric_limits<std::int64_t>::min());
  show_next_ = true;
  for (;;) {
    handled_.store(wakes_.load());
    Requests r;
    {
      std::lock_guard lock(mutex_);
      r = requests_;
      requests_ = Requests{};
      requests_.quit = r.quit;
    }
    if (r.quit) break;
    apply(r);
    bool progress = false;
    if (seek_pending_) progress = try_seek();
    if (!seek_pending_) {
      if (fill()) progress = true;
      if (present_next()) progress = true;
      check_end();
    }
    if (!progress) wait_for_work();
  }
  if (feeder_) feeder_->reset();
}

}  // namespace player
