#include "player/engine/sound_feeder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace player {
namespace {

static_assert(std::endian::native == std::endian::little, "PCM is written as host-order 16-bit samples");

constexpr platform::PcmFormat kFormat{1, SoundFeeder::kSampleRate, 16};
constexpr std::int64_t kUsPerSample = 1'000'000 / SoundFeeder::kSampleRate;  // 125
constexpr std::size_t kBytesPerSample = 2;
// Playing starts once half a second waits (or nothing more will come soon).
constexpr std::size_t kStartSamples = SoundFeeder::kSampleRate / 2;
// With nothing to play, silence is kept this far ahead of the cursor: two
// parts, as the thread looks again each time the cursor enters a part.
constexpr std::size_t kSilenceLeadBytes = 2 * SoundFeeder::kSegmentBytes;

constexpr std::uint32_t bit(int signal) { return 1u << signal; }

}  // namespace

SoundFeeder::SoundFeeder(std::function<void()> wake)
    : wake_(std::move(wake)), queue_(kQueueSamples), scratch_(kBufferBytes) {}

SoundFeeder::~SoundFeeder() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  signals_.raise(kSignalWake);
  if (thread_.joinable()) thread_.join();
  if (buffer_) buffer_->stop();
}

bool SoundFeeder::open() {
  if (buffer_) return true;
  platform::SoundDevice* device = platform::sound_device();
  if (device == nullptr) return false;
  std::unique_ptr<platform::SoundBuffer> buffer = device->create_buffer(kFormat, kBufferBytes);
  if (!buffer) return false;
  std::vector<platform::SoundNotification> points;
  for (int i = 0; i < kSegments; ++i) points.push_back({static_cast<std::size_t>(i) * kSegmentBytes, i});
  points.push_back({platform::SoundNotification::kNotifyOnStop, kSignalStopped});
  buffer->set_notifications(&signals_, points);
  buffer_ = std::move(buffer);
  thread_ = std::thread([this] { run(); });
  return true;
}

std::size_t SoundFeeder::room() const {
  std::lock_guard lock(mutex_);
  return kQueueSamples - queued();
}

void SoundFeeder::push(const std::int16_t* samples, std::size_t n, std::int64_t time_us) {
  {
    std::lock_guard lock(mutex_);
    n = std::min(n, kQueueSamples - queued());
    if (n == 0) return;
    markers_.push_back({pushed_, time_us});
    for (std::size_t i = 0; i < n; ++i) queue_[(pushed_ + i) % kQueueSamples] = samples[i];
    pushed_ += n;
  }
  signals_.raise(kSignalWake);
}

void SoundFeeder::end_of_data() {
  {
    std::lock_guard lock(mutex_);
    end_of_data_ = true;
  }
  signals_.raise(kSignalWake);
}

void SoundFeeder::kick() {
  {
    std::lock_guard lock(mutex_);
    if (kicked_ || started_) return;
    kicked_ = true;
  }
  signals_.raise(kSignalWake);
}

void SoundFeeder::reset() {
  {
    std::lock_guard lock(mutex_);
    taken_ = pushed_;
    markers_.clear();
    end_of_data_ = false;
    kicked_ = false;
    started_ = false;
    written_ = played_ = data_end_ = 0;
    last_position_ = 0;
    spans_.clear();
    // Stopped here rather than on the thread, so that nothing of the old
    // place is heard once reset() has returned; the buffer's own lock is a
    // leaf, never held while it calls anyone.
    playing_ = false;
  }
  if (buffer_) buffer_->stop();
  signals_.raise(kSignalWake);
}

void SoundFeeder::set_paused(bool paused) {
  {
    std::lock_guard lock(mutex_);
    if (paused_ == paused) return;
    paused_ = paused;
  }
  signals_.raise(kSignalWake);
}

bool SoundFeeder::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

bool SoundFeeder::clock_us(std::int64_t* t) const {
  if (!buffer_) return false;
  const std::size_t position = buffer_->position();
  std::lock_guard lock(mutex_);
  // Only a cursor that moves (or is held on purpose) is a clock.
  if (!started_ || spans_.empty() || lost_ || !(playing_ || paused_)) return false;
  // The thread brings played_ up to date each time the cursor enters a part;
  // what it moved since then is added here. A reading older than the
  // thread's last look shows as a jump of nearly a whole buffer: ignored.
  std::size_t moved = (position + kBufferBytes - last_position_) % kBufferBytes;
  if (moved > kBufferBytes / 2) moved = 0;
  *t = time_at(played_ + moved);
  return true;
}

bool SoundFeeder::drained() const {
  std::lock_guard lock(mutex_);
  if (lost_) return true;
  if (!end_of_data_ || queued() != 0) return false;
  return !started_ || played_ >= data_end_;
}

std::size_t SoundFeeder::lead_bytes() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(written_ - std::min(written_, played_));
}

bool SoundFeeder::idle() const {
  if (!buffer_) return true;
  const std::size_t position = buffer_->position();
  std::lock_guard lock(mutex_);
  if (lost_) return true;
  if (!started_) return queued() < kStartSamples && !kicked_ && !(end_of_data_ && queued() > 0);
  if (paused_ || !playing_) return paused_ && !playing_;
  // What the thread writes at its next look: samples (or, after the end,
  // silence) up to a whole buffer ahead of the cursor, else a little
  // silence ahead of it.
  std::size_t moved = (position + kBufferBytes - last_position_) % kBufferBytes;
  if (moved > kBufferBytes / 2) moved = 0;
  const std::uint64_t cursor = played_ + moved;
  const bool more = queued() > 0 || end_of_data_;
  return written_ >= cursor + (more ? kBufferBytes : kSilenceLeadBytes);
}

std::int64_t SoundFeeder::time_at(std::uint64_t byte) const {
  // The last span that starts at or before the byte.
  auto it =
      std::upper_bound(spans_.begin(), spans_.end(), byte, [](std::uint64_t b, const Span& s) { return b < s.byte; });
  if (it != spans_.begin()) --it;
  const std::int64_t samples = static_cast<std::int64_t>((byte - std::min(byte, it->byte)) / kBytesPerSample);
  return it->time_us + samples * kUsPerSample;
}

void SoundFeeder::update_cursor() {
  const std::size_t position = buffer_->position();
  played_ += (position + kBufferBytes - last_position_) % kBufferBytes;
  last_position_ = position;
  // Spans wholly behind the cursor are no longer asked about.
  while (spans_.size() > 1 && spans_[1].byte <= played_) spans_.pop_front();
}

void SoundFeeder::write(std::size_t bytes, bool data) {
  // Samples (or silence) go in at the write position, in at most two pieces
  // where the ring wraps.
  const std::int64_t end_time = spans_.empty() ? 0 : time_at(written_);
  if (data) {
    std::size_t n = bytes / kBytesPerSample;
    auto* out = reinterpret_cast<std::int16_t*>(scratch_.data());
    std::size_t done = 0;
    while (done < n) {
      // A new block starts a span of its own when its time does not follow
      // on from what was written before.
      std::int64_t time = end_time;
      bool new_span = spans_.empty() || !spans_.back().data;
      if (!markers_.empty() && markers_.front().sample == taken_) {
        time = markers_.front().time_us;
        markers_.pop_front();
        new_span = new_span || time != time_at(written_);
      }
      if (new_span) spans_.push_back({written_, time, true});
      std::size_t run = n - done;
      if (!markers_.empty())
        run = std::min<std::size_t>(run, static_cast<std::size_t>(markers_.front().sample - taken_));
      for (std::size_t i = 0; i < run; ++i) out[done + i] = queue_[(taken_ + i) % kQueueSamples];
      taken_ += run;
      written_ += run * kBytesPerSample;
      done += run;
    }
    data_end_ = written_;
  } else {
    std::memset(scratch_.data(), 0, bytes);
    if (spans_.empty() || spans_.back().data) spans_.push_back({written_, end_time, false});
    written_ += bytes;
  }
  const std::size_t start = static_cast<std::size_t>((written_ - bytes) % kBufferBytes);
  const std::size_t first = std::min(bytes, kBufferBytes - start);
  auto put = [&](std::size_t at, const std::uint8_t* p, std::size_t n) {
    platform::SoundWrite r = buffer_->write(at, p, n);
    if (r == platform::SoundWrite::Lost && buffer_->restore()) (void)buffer_->write(at, p, n);
  };
  put(start, scratch_.data(), first);
  if (first < bytes) put(0, scratch_.data() + first, bytes - first);
}

void SoundFeeder::service() {
  if (!started_) {
    const bool ready = queued() >= kStartSamples || (queued() > 0 && (kicked_ || end_of_data_));
    if (!ready) return;
    written_ = played_ = data_end_ = 0;
    last_position_ = 0;
    spans_.clear();
    write(std::min(queued() * kBytesPerSample, kBufferBytes), true);
    if (written_ < kSilenceLeadBytes) write(kSilenceLeadBytes - written_, false);
    buffer_->set_position(0);
    started_ = true;
    playing_ = false;
  } else {
    update_cursor();
    // Stopped by the device (the sound server went away): no more sound,
    // and the clock is no longer the cursor's.
    if (playing_ && !buffer_->playing()) {
      lost_ = true;
      playing_ = false;
    }
  }
  if (lost_) return;
  if (paused_) {
    if (playing_) buffer_->stop();
    playing_ = false;
    return;
  }
  // Everything up to a whole buffer ahead of the cursor may be written.
  const std::uint64_t limit = played_ + kBufferBytes;
  const std::size_t samples =
      std::min<std::size_t>(queued(), static_cast<std::size_t>((limit - written_) / kBytesPerSample));
  if (samples > 0) write(samples * kBytesPerSample, true);
  if (queued() == 0) {
    // Nothing to play: the end of the recording's sound (fill the buffer, the
    // clock runs on through silence) or samples that are late (keep just
    // enough silence ahead of the cursor).
    const std::uint64_t want = end_of_data_ ? limit : std::min(limit, played_ + kSilenceLeadBytes);
    if (written_ < want) write(static_cast<std::size_t>(want - written_), false);
  }
  if (!playing_) playing_ = buffer_->play_looping();
}

void SoundFeeder::run() {
  const std::uint32_t all = (bit(kSignalWake + 1)) - 1;
  for (;;) {
    (void)signals_.wait_any(all);
    {
      std::lock_guard lock(mutex_);
      if (quit_) return;
      service();
    }
    // The cursor moved or playing began: video waiting for the clock looks again.
    wake_();
  }
}

}  // namespace player
