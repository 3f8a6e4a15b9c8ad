#include "viewer/shell/model/camera.h"

namespace model {

Camera::Camera(int pool_index, const ConnectionFactory& make_connection)
    : pool_index_(pool_index), connection_(make_connection ? make_connection(tag()) : nullptr) {}

Camera::~Camera() {
  if (connection_ && running_.load()) connection_->stop();
}

CameraRecord Camera::record() const {
  CameraRecord r;
  {
    std::lock_guard lock(mutex_);
    r = texts_;
  }
  r.location = location_.load();
  r.connected = connected();
  r.connection_state = connection_state();
  r.recording = recording_.load();
  r.motion_recording = motion_recording_.load();
  r.reserved = reserved_.load();
  return r;
}

std::string Camera::name() const {
  std::lock_guard lock(mutex_);
  return texts_.name;
}

std::string Camera::mac() const {
  std::lock_guard lock(mutex_);
  return texts_.mac;
}

void Camera::set_texts(const CameraRecord& texts) {
  std::lock_guard lock(mutex_);
  texts_.name = texts.name;
  texts_.address = texts.address;
  texts_.port = texts.port;
  texts_.mac = texts.mac;
  texts_.description = texts.description;
  texts_.user = texts.user;
  texts_.password = texts.password;
}

void Camera::set_muted(bool muted) {
  muted_.store(muted);
  if (connection_) connection_->set_muted(muted);
}

void Camera::set_volume(int volume) {
  volume_.store(volume);
  if (connection_) connection_->set_volume(volume);
}

void Camera::set_output_volume(int volume) {
  output_volume_.store(volume);
  net::AudioSink* audio = sinks().audio;
  if (audio) audio->set_volume(volume);
}

MotionSettings Camera::motion_settings() const {
  std::lock_guard lock(mutex_);
  return motion_;
}

void Camera::set_motion_settings(const MotionSettings& settings) {
  std::lock_guard lock(mutex_);
  motion_ = settings;
}

Rect Camera::picture_rect() const {
  std::lock_guard lock(mutex_);
  return picture_rect_;
}

void Camera::set_picture_rect(Rect rect) {
  std::lock_guard lock(mutex_);
  picture_rect_ = rect;
}

void Camera::set_sinks(const net::StreamSinks& sinks) {
  {
    std::lock_guard lock(mutex_);
    sinks_ = sinks;
  }
  if (connection_ && !running_.load()) connection_->set_sinks(sinks);
}

net::StreamSinks Camera::sinks() const {
  std::lock_guard lock(mutex_);
  return sinks_;
}

bool Camera::writer_open(int writer) const {
  net::PacketSink* w = sinks().writers[writer];
  return w && w->IsOpen();
}

void Camera::close_writers() {
  net::StreamSinks s = sinks();
  for (net::PacketSink* w : s.writers) {
    if (w && w->IsOpen()) w->Close();
  }
}

bool Camera::start_stream() {
  if (!connection_) return false;
  CameraRecord texts;
  net::StreamSinks sinks;
  {
    std::lock_guard lock(mutex_);
    texts = texts_;
    sinks = sinks_;
  }
  if (!running_.load()) connection_->set_sinks(sinks);
  connection_->set_account({texts.address, texts.port, texts.user, texts.password});
  connection_->set_muted(muted_.load());
  connection_->set_volume(volume_.load());
  driven_.store(true);
  if (connection_->start() != 1) return false;
  running_.store(true);
  return true;
}

void Camera::stop() {
  driven_.store(true);
  running_.store(false);
  if (connection_) connection_->stop();
  // The stream's clean-up has closed any recording.
  recording_.store(false);
  motion_recording_.store(false);
}

void Camera::pause() {
  if (connection_) connection_->pause();
}

void Camera::resume() {
  if (connection_) connection_->resume();
}

int Camera::connection_state() const {
  if (!driven_.load() || !connection_) return stored_state_.load();
  return connection_->connection_state();
}

int Camera::connected() const {
  if (!driven_.load() || !connection_) return stored_connected_.load();
  return connection_->connected() ? 1 : 0;
}

bool Camera::header_arrived() const { return connection_ && connection_->header_length() > 0; }

void Camera::take_for(const CameraRecord& record, const std::string& mac, int location) {
  // A pool slot is reused after a delete. Nothing of the previous camera may
  // stay behind: its schedules would record the new camera, its zones and
  // sound settings would apply to it.
  if (running_.load()) stop();
  {
    std::lock_guard lock(mutex_);
    texts_ = record;
    texts_.mac = mac;
    motion_ = MotionSettings{};
    picture_rect_ = kOffWindowRect;
  }
  location_.store(location);
  channel_.store(0);
  popup_.store(false);
  muted_.store(false);
  volume_.store(0);
  output_volume_.store(0);
  recording_.store(record.recording != 0);
  motion_recording_.store(record.motion_recording != 0);
  manual_request_.store(false);
  reserved_.store(record.reserved);
  driven_.store(false);
  stored_state_.store(record.connection_state);
  stored_connected_.store(record.connected);
  schedules_.clear();
  if (connection_) {
    connection_->set_muted(false);
    connection_->set_volume(0);
  }
}

}  // namespace model
