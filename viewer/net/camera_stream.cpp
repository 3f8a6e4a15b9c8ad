#include "viewer/net/camera_stream.h"

#include <system_error>

#include "viewer/platform/thread_name.h"
#include "viewer/platform/tick.h"
#include "viewer/platform/ui_seams.h"

namespace net {
namespace {

// connect_camera: connected, but the stream buffers could not be allocated.
constexpr int kNoMemory = -1;

}  // namespace

CameraStream::CameraStream(std::uintptr_t owner_tag, int timeout_s) : owner_tag_(owner_tag), connection_(timeout_s) {
  stop_flag_.store(true);  // nothing to stop until started
  // The sinks change only while no stream thread runs, and the connection
  // calls this on that thread.
  connection_.set_before_wait([this] {
    if (sinks_.video) sinks_.video->stream_waiting();
  });
}

CameraStream::~CameraStream() { stop(); }

void CameraStream::set_sinks(const StreamSinks& sinks) {
  std::lock_guard lock(control_mutex_);
  if (!thread_running_.load()) sinks_ = sinks;
}

void CameraStream::set_cleanup_hook(std::function<void()> hook) {
  std::lock_guard lock(control_mutex_);
  if (!thread_running_.load()) cleanup_hook_ = std::move(hook);
}

void CameraStream::set_account(const CameraAccount& account) {
  {
    std::lock_guard lock(account_mutex_);
    if (account.address == account_.address && account.port == account_.port && account.user == account_.user &&
        account.password == account_.password) {
      return;
    }
    account_ = account;
  }
  // An attempt in progress uses the old values and may take its whole
  // time-out to fail; the next one starts with the new ones.
  if (!connected_.load()) connection_.cancel_attempt();
}

CameraAccount CameraStream::account() const {
  std::lock_guard lock(account_mutex_);
  return account_;
}

int CameraStream::start() {
  if (std::this_thread::get_id() == stream_thread_id_.load()) {
    // From the stream thread itself: just drop the connection, which makes
    // the thread connect again.
    connection_.interrupt();
    return kStartOk;
  }
  std::unique_lock lock(control_mutex_, std::try_to_lock);
  if (!lock.owns_lock() || stopping_.load()) return kStartBusy;
  if (thread_.joinable() && thread_running_.load()) {
    connection_.interrupt();
    return kStartOk;
  }
  if (thread_.joinable()) thread_.join();  // it ended after a refusal

  stop_flag_.store(false);
  connection_.clear_abort();
  wake_.reset();
  connected_event_.reset();
  thread_running_.store(true);
  try {
    thread_ = std::thread([this] { thread_main(); });
  } catch (const std::system_error&) {
    thread_running_.store(false);
    stop_flag_.store(true);
    cleanup();
    return kStartBusy;
  }
  return kStartOk;
}

void CameraStream::stop() {
  if (std::this_thread::get_id() == stream_thread_id_.load()) {
    // The stream thread cannot wait for itself: it only learns to end.
    stop_flag_.store(true);
    connection_.abort();
    wake_.set();
    return;
  }
  std::lock_guard lock(control_mutex_);
  if (!thread_.joinable() && stop_flag_.load()) return;
  stopping_.store(true);
  stop_flag_.store(true);
  // Wakes the stream thread wherever it blocks: connect, request, reply,
  // window wait, dynamic-DNS fetch, or the pause between attempts.
  connection_.abort();
  wake_.set();
  connected_event_.set();
  if (thread_.joinable()) thread_.join();
  cleanup();
  stopping_.store(false);
}

bool CameraStream::wait_connected(std::uint32_t timeout_ms) {
  if (connected_.load()) return true;
  if (stop_flag_.load()) return false;
  (void)connected_event_.wait(timeout_ms);
  return connected_.load();
}

void CameraStream::pause() {
  paused_.store(true);
  state_.store(kStatePaused);
  if (sinks_.video) sinks_.video->pause();
  if (sinks_.audio) sinks_.audio->pause();
}

void CameraStream::resume() {
  paused_.store(false);
  state_.store(kStatePlaying);
  if (sinks_.video) sinks_.video->resume();
  if (sinks_.audio) sinks_.audio->resume();
}

void CameraStream::pace_next_attempt(std::uint32_t last_attempt_tick, bool first) {
  if (first) return;
  const std::uint32_t delay = static_cast<std::uint32_t>(retry_delay_ms_.load());
  const std::uint32_t elapsed = platform::tick_elapsed(last_attempt_tick, platform::tick_ms());
  // At least a millisecond between attempts, as the thread always yielded.
  const std::uint32_t wait = elapsed < delay ? delay - elapsed : 1;
  (void)wake_.wait(wait);
}

int CameraStream::connect_camera() {
  // Cleared before the values are read: a change from now on cancels this
  // attempt, an earlier one is already in the values.
  connection_.clear_attempt_cancel();
  const CameraAccount a = account();
  const int r = connection_.start(a.address, a.port, a.user, a.password);
  if (r == kConnectRefused) {
    connected_.store(false);
    state_.store(kStateRefused);
    state_changed_.store(true);
    return r;
  }
  const int running_state = paused_.load() ? kStatePaused : kStatePlaying;
  if (r != kConnectStreaming) {
    connected_.store(false);
    state_.store(running_state);
    return kConnectRetry;
  }
  if (!buffers_.allocate()) {
    // Without its buffers the camera cannot stream at all: it stops as if
    // asked to.
    connected_.store(false);
    stop_flag_.store(true);
    return kNoMemory;
  }
  connected_.store(true);
  state_.store(running_state);
  state_changed_.store(true);
  connected_event_.set();
  return kConnectStreaming;
}

void CameraStream::thread_main() {
  platform::name_this_thread("cam-stream");
  stream_thread_id_.store(std::this_thread::get_id());
  std::uint32_t last_attempt = 0;
  bool first = true;
  while (!stop_flag_.load()) {
    pace_next_attempt(last_attempt, first);
    first = false;
    if (stop_flag_.load()) break;
    last_attempt = platform::tick_ms();

    const int r = connect_camera();
    if (r == kConnectStreaming) {
      if (sinks_.audio) sinks_.audio->set_volume(muted_.load() ? kMutedVolume : volume_.load());
      if (paused_.load()) {
        if (sinks_.video) sinks_.video->pause();
        if (sinks_.audio) sinks_.audio->pause();
      }
      const DemuxControl control{&stop_flag_, &muted_};
      (void)demux_.run(connection_, sinks_, buffers_, control);
      cleanup();
      continue;
    }
    if (r == kConnectRefused) {
      if (!stop_flag_.load()) {
        platform::post_to_main_window(platform::kMsgCameraRefused, 0, owner_tag_);
      }
      break;
    }
    if (r == kNoMemory) {
      cleanup();
      break;
    }
    connection_.close();
  }
  stream_thread_id_.store(std::thread::id());
  // Nobody should go on waiting for a connection of a thread that ended.
  connected_event_.set();
  thread_running_.store(false);
}

void CameraStream::cleanup() {
  connection_.close();
  if (sinks_.audio) sinks_.audio->stop();
  if (sinks_.video) sinks_.video->stop();
  demux_.reset();
  if (!stop_flag_.load()) connected_event_.reset();
  if (connected_.exchange(false)) state_changed_.store(true);
  state_.store(kStatePaused);
  if (cleanup_hook_) cleanup_hook_();
  if (sinks_.recording) sinks_.recording->StreamEnded();
  buffers_.release();
}

}  // namespace net
