#include "viewer/platform/qt/qt_sound_device.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <vector>

#include "viewer/platform/sound_ring.h"

namespace platform {
namespace {

// Runs f on the event loop of context's thread and waits for it; directly
// when the caller is already there (a blocking call to oneself would hang).
//
// Qt's event queue and its blocking queued call hand over on raw futexes,
// which race detectors cannot see: what the caller prepared for f, and what
// the device thread did up to f's return (its feeding timer included),
// would look unordered against the other side. Two atomic flags make both
// edges explicit: a release store before posting, read with acquire in f's
// thread, orders the caller's writes before f; a release store after f,
// read with acquire once the call returns, orders f and everything before
// it on that thread before the caller goes on (destroying a buffer, say).
// The lambda holds only references, so its destruction on the device
// thread touches nothing of ours.
template <class F>
void run_on(QObject* context, F&& f) {
  if (QThread::currentThread() == context->thread()) {
    f();
    return;
  }
  std::atomic<bool> sent{false};
  std::atomic<bool> done{false};
  sent.store(true, std::memory_order_release);
  QMetaObject::invokeMethod(
      context,
      [&] {
        // Always true here (set before posting): the load is the ordering.
        if (!sent.load(std::memory_order_acquire)) return;
        f();
        done.store(true, std::memory_order_release);
      },
      Qt::BlockingQueuedConnection);
  // False only when Qt dropped the call unrun; then nothing needs ordering.
  (void)done.load(std::memory_order_acquire);
}

// How often the bytes the cursor passed go to the sink while the buffer is
// heard. PulseAudio keeps about 110 ms queued, so 5 ms steps never let it
// run dry. A silenced buffer sends nothing and wakes only when its next
// notification is due: at most one camera is heard at a time, and each
// muted one costs a few wake-ups a second.
constexpr int kFeedIntervalMs = 5;
constexpr int kLongestSleepMs = 1000;

// A looping buffer on the speakers. Its cursor runs on the monotonic clock,
// so notifications come at exactly the pace the camera's writer expects and
// never depend on how much the sound server wants queued; the bytes the
// cursor passes are handed to a QAudioSink, heard a little later.
class QtSoundBuffer final : public RingSoundBuffer {
 public:
  QtSoundBuffer(QObject* context, const PcmFormat& format, std::size_t bytes)
      : RingSoundBuffer(format, bytes), context_(context) {}

  ~QtSoundBuffer() override {
    run_on(context_, [this] { close(); });
  }

  // Makes and starts the sink on the device's thread; false when the
  // machine cannot play this format.
  bool open() {
    bool ok = false;
    run_on(context_, [&] { ok = open_here(); });
    return ok;
  }

  void set_volume(int hundredths_db) override {
    RingSoundBuffer::set_volume(hundredths_db);
    const int v = volume();
    run_on(context_, [this, v] {
      if (!sink_) return;
      sink_->setVolume(v <= -10000 ? 0.0
                                   : QAudio::convertVolume(static_cast<float>(v / 100.0), QAudio::DecibelVolumeScale,
                                                           QAudio::LinearVolumeScale));
      // Heard again: feeding resumes now, not at the next notification.
      if (timer_) timer_->start(0);
    });
  }

  // These move the next notification: the feeding timer looks again.
  void set_position(std::size_t offset) override {
    RingSoundBuffer::set_position(offset);
    kick();
  }
  bool play_looping() override {
    const bool ok = RingSoundBuffer::play_looping();
    kick();
    return ok;
  }
  void set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) override {
    RingSoundBuffer::set_notifications(target, points);
    kick();
  }

 private:
  // Feeds at once, on the device thread, without waiting for it. Queued
  // behind it, the destructor's close() runs after it.
  void kick() {
    QMetaObject::invokeMethod(
        context_,
        [this] {
          if (timer_) timer_->start(0);
        },
        Qt::QueuedConnection);
  }

  bool open_here() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;
    QAudioFormat qformat;
    qformat.setSampleRate(format_.sample_rate);
    qformat.setChannelCount(format_.channels);
    if (format_.bits_per_sample != 16) return false;
    qformat.setSampleFormat(QAudioFormat::Int16);
    sink_ = std::make_unique<QAudioSink>(device, qformat);
    io_ = sink_->start();
    if (io_ == nullptr) {
      sink_.reset();
      return false;
    }
    // The sound system gave up (server gone, device lost): playback has
    // stopped, and the writer hears of it through the stop notification.
    QObject::connect(sink_.get(), &QAudioSink::stateChanged, sink_.get(), [this](QAudio::State state) {
      if (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError) RingSoundBuffer::stop();
    });
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(true);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { feed(); });
    clock_.start();
    last_ns_ = 0;
    timer_->start(kFeedIntervalMs);
    return true;
  }

  void close() {
    timer_.reset();
    if (sink_) {
      sink_->disconnect();
      sink_->stop();
      sink_.reset();
    }
    io_ = nullptr;
  }

  void feed() {
    const qint64 now = clock_.nsecsElapsed();
    passed_.clear();
    advance_ns(now - last_ns_, &passed_);
    last_ns_ = now;
    const bool heard = volume() > -10000;
    if (heard && !passed_.empty() && io_ != nullptr) {
      // A sound card slower than our clock fills the sink up; what does not
      // fit is dropped so that the sound stays close to live.
      const qint64 room = sink_->bytesFree() & ~qint64{1};
      const qint64 n = std::min<qint64>(room, static_cast<qint64>(passed_.size()));
      if (n > 0) io_->write(reinterpret_cast<const char*>(passed_.data()), n);
    }
    int next_ms = kFeedIntervalMs;
    if (!heard) {
      const std::int64_t due_ns = ns_to_next_notification();
      next_ms = due_ns < 0 ? kLongestSleepMs
                           : static_cast<int>(std::min<std::int64_t>(kLongestSleepMs, due_ns / 1'000'000 + 1));
    }
    if (timer_) timer_->start(next_ms);
  }

  QObject* const context_;
  // The device thread's own: the sink, its input and the feeding clock.
  std::unique_ptr<QAudioSink> sink_;
  QIODevice* io_ = nullptr;
  std::unique_ptr<QTimer> timer_;
  QElapsedTimer clock_;
  qint64 last_ns_ = 0;
  std::vector<std::uint8_t> passed_;
};

class QtSoundDevice final : public SoundDevice {
 public:
  QtSoundDevice() {
    thread_.setObjectName(QStringLiteral("sound"));
    context_.moveToThread(&thread_);
    thread_.start();
  }

  ~QtSoundDevice() override {
    thread_.quit();
    thread_.wait();
  }

  QtSoundDevice(const QtSoundDevice&) = delete;
  QtSoundDevice& operator=(const QtSoundDevice&) = delete;

  bool has_output() {
    bool present = false;
    run_on(&context_, [&] { present = !QMediaDevices::defaultAudioOutput().isNull(); });
    return present;
  }

  std::unique_ptr<SoundBuffer> create_buffer(const PcmFormat& format, std::size_t bytes) override {
    if (format.block_align() <= 0 || bytes == 0 || bytes % static_cast<std::size_t>(format.block_align()) != 0)
      return nullptr;
    auto buffer = std::make_unique<QtSoundBuffer>(&context_, format, bytes);
    if (!buffer->open()) return nullptr;
    return buffer;
  }

 private:
  QThread thread_;
  // Lives on thread_; every call into Qt Multimedia runs through it.
  QObject context_;
};

}  // namespace

std::unique_ptr<SoundDevice> make_qt_sound_device() {
  if (QCoreApplication::instance() == nullptr) return nullptr;
  auto device = std::make_unique<QtSoundDevice>();
  if (!device->has_output()) return nullptr;
  return device;
}

void install_qt_sound_device() {
  set_sound_device_factory([] { return make_qt_sound_device(); });
}

}  // namespace platform
