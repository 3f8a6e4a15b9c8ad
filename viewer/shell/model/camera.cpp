#include "viewer/shell/model/camera.h"

#include <cmath>

namespace model {
namespace {

// The recording loops read the pipeline's cells into their own sample.
static_assert(record::kMaxMotionCells == static_cast<std::size_t>(media::kMotionMaxCells));

}  // namespace

Camera::Camera(int pool_index, const ConnectionFactory& make_connection, record::RecordingEnv env)
    : pool_index_(pool_index),
      recording_(env),
      media_(std::make_unique<media::CameraMedia>()),
      connection_(make_connection ? make_connection(tag()) : nullptr) {
  if (connection_) {
    // Every clean-up after a connection closes the camera's open recordings.
    connection_->set_cleanup_hook([this] { recording_.on_stream_cleanup(); });
    connection_->set_sinks(sinks_locked());
  }
}

Camera::~Camera() {
  // The stream thread feeds this camera's media and writers, and its
  // clean-up stops the pipeline and the audio output: it must end first.
  if (connection_) connection_->stop();
  connection_.reset();
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
  r.recording = recording_.recording_indicator.load() ? 1 : 0;
  r.motion_recording = recording_.motion_recording.load() ? 1 : 0;
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
  {
    std::lock_guard lock(mutex_);
    texts_.name = texts.name;
    texts_.address = texts.address;
    texts_.port = texts.port;
    texts_.mac = texts.mac;
    texts_.description = texts.description;
    texts_.user = texts.user;
    texts_.password = texts.password;
  }
  // A running stream that keeps failing with the old address or account
  // tries the new ones at once, instead of until the user restarts it.
  if (connection_) connection_->set_account({texts.address, texts.port, texts.user, texts.password});
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
  media_->audio.set_volume(volume);
}

bool Camera::writer_open(int writer) const { return recording_.writer(writer).IsOpen(); }

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

void Camera::set_picture_rect(Rect rect, double device_scale) {
  {
    std::lock_guard lock(mutex_);
    picture_rect_ = rect;
  }
  // A picture nobody draws is not converted to RGB; one drawn small is
  // converted small.
  if (rect == kOffWindowRect || rect.width() <= 0 || rect.height() <= 0) {
    media_->video.set_wanted(false);
    return;
  }
  const double scale = device_scale > 0 ? device_scale : 1.0;
  media_->video.set_view_size(static_cast<int>(std::ceil(rect.width() * scale)),
                              static_cast<int>(std::ceil(rect.height() * scale)));
}

void Camera::set_source_area(Rect area) {
  media_->video.set_source_rect({area.left, area.top, area.right, area.bottom});
}

Rect Camera::source_area() const {
  const media::Rect r = media_->video.source_rect();
  return {r.left, r.top, r.right, r.bottom};
}

bool Camera::has_audio() const { return connection_ && connection_->has_audio(); }

int Camera::picture_width() const { return connection_ ? connection_->picture_width() : 0; }

bool Camera::take_state_change() { return connection_ && connection_->take_state_change(); }

bool Camera::wait_connected(std::uint32_t timeout_ms) {
  return connection_ && running_.load() && connection_->wait_connected(timeout_ms);
}

net::StreamSinks Camera::sinks_locked() const {
  net::StreamSinks sinks = media_->sinks();
  sinks.recording = &recording_;
  return sinks;
}

bool Camera::copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) {
  return media_->video.copy_snapshot(out, width, height);
}

void Camera::set_record_button_reset(std::function<void()> reset) {
  std::lock_guard lock(mutex_);
  reset_record_button_ = std::move(reset);
}

void Camera::reset_record_button() {
  std::function<void()> reset;
  {
    std::lock_guard lock(mutex_);
    reset = reset_record_button_;
  }
  if (reset) reset();
}

int Camera::start_stream() {
  if (!connection_) return 0;
  CameraRecord texts;
  net::StreamSinks sinks;
  {
    std::lock_guard lock(mutex_);
    texts = texts_;
    sinks = sinks_locked();
  }
  if (!running_.load()) connection_->set_sinks(sinks);
  connection_->set_account({texts.address, texts.port, texts.user, texts.password});
  connection_->set_muted(muted_.load());
  connection_->set_volume(volume_.load());
  driven_.store(true);
  const int result = connection_->start();
  if (result == 1) running_.store(true);
  return result;
}

void Camera::stop() {
  driven_.store(true);
  running_.store(false);
  if (connection_) connection_->stop();
  // The stream's clean-up did this already when it ran; a camera whose stream
  // never ran still must not show a recording.
  recording_.on_stream_cleanup();
}

void Camera::pause() {
  if (connection_) connection_->pause();
}

void Camera::resume_stream() {
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

bool Camera::connection_dead() { return !connection_ || connection_->is_dead(); }

std::uint32_t Camera::header_length() const { return connection_ ? connection_->header_length() : 0; }

bool Camera::stream_stopping() const { return connection_ && connection_->stopping(); }

void Camera::silence() {
  set_muted(true);
  set_output_volume(kSilentVolume);
}

bool Camera::motion_sample(record::MotionSample& out) {
  // The cells of the pipeline's latest key-frame comparison, with the size
  // of the picture they describe; nothing before the connection's first
  // decoded picture.
  out.zones = motion_settings();
  int width = 0;
  int height = 0;
  if (!media_->video.copy_motion_cells(out.cells.data(), &width, &height)) {
    out.width = 0;
    out.height = 0;
    return false;
  }
  out.width = width;
  out.height = height;
  return true;
}

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
  media_->video.set_wanted(false);
  media_->video.set_source_rect({});
  {
    std::lock_guard lock(recording_.mutex());
    record::ScheduleTable& table = recording_.schedule();
    for (int i = 0; i < record::kMaxScheduleEntries; ++i) table.slot(i) = {};
    table.state = record::ScheduleState{};
  }
  recording_.recording_indicator.store(record.recording != 0);
  recording_.motion_recording.store(record.motion_recording != 0);
  recording_.manual_request.store(false);
  location_.store(location);
  channel_.store(0);
  popup_.store(false);
  muted_.store(false);
  volume_.store(0);
  output_volume_.store(0);
  reserved_.store(record.reserved);
  driven_.store(false);
  stored_state_.store(record.connection_state);
  stored_connected_.store(record.connected);
  if (connection_) {
    connection_->set_muted(false);
    connection_->set_volume(0);
  }
}

}  // namespace model
