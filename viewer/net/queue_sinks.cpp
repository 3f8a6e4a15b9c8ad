#include "viewer/net/queue_sinks.h"

namespace net {

bool QueueVideoSink::setup(int width, int height, const std::uint8_t* codec_data, int codec_len) {
  setups_.fetch_add(1);
  if (!setup_result_.load() || codec_data == nullptr || codec_len < 0) return false;
  width_.store(width);
  height_.store(height);
  std::lock_guard lock(mutex_);
  codec_data_.assign(codec_data, codec_data + codec_len);
  return true;
}

bool QueueVideoSink::start() {
  starts_.fetch_add(1);
  running_.store(true);
  return true;
}

void QueueVideoSink::stop() {
  if (running_.exchange(false)) stops_.fetch_add(1);
  audio_source_.store(nullptr);
}

std::vector<std::uint8_t> QueueVideoSink::codec_data() const {
  std::lock_guard lock(mutex_);
  return codec_data_;
}

bool QueueAudioSink::setup() {
  setups_.fetch_add(1);
  return setup_result_.load();
}

void QueueAudioSink::start() { running_.store(true); }

void QueueAudioSink::stop() {
  if (running_.exchange(false)) stops_.fetch_add(1);
}

void QueuePacketSink::SetHeader(const std::uint8_t* bytes, std::uint32_t length) {
  std::lock_guard lock(mutex_);
  header_.assign(bytes, bytes + length);
  headers_set_.fetch_add(1);
}

void QueuePacketSink::AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick,
                                std::uint32_t key_frame_at) {
  auto f = std::make_unique<MediaFrame>();
  if (f->set(bytes, length, arrival_tick, static_cast<int>(key_frame_at))) queue_.push_back(std::move(f));
}

std::vector<std::uint8_t> QueuePacketSink::header() const {
  std::lock_guard lock(mutex_);
  return header_;
}

}  // namespace net
