// The Qt sound back end on real sound: a PulseAudio server of the test's own
// (private runtime folder, a null sink) plays a camera's audio through
// AudioOutput while parecord records the sink's monitor. The recording must
// carry our decode of the G.726 blocks, and a volume of -600 must lower it by
// about 6 dB. Without a server, set-up fails cleanly.
//
// Each test needs a fresh process (Qt's sound engine keeps its first
// connection); ctest runs them that way.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/media/media_test_util.h"
#include "viewer/media/audio_output.h"
#include "viewer/media/g726/g726.h"
#include "viewer/platform/qt/qt_sound_device.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A child process of this test, ended (by its id) when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() { end(SIGTERM); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  void end(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

bool wait_for(const std::function<bool()>& done, int timeout_ms) {
  const auto end = Clock::now() + milliseconds(timeout_ms);
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

// The samples of a 16-bit mono WAV file: everything after the "data" tag
// (parecord may leave the sizes unset when it is interrupted).
std::vector<std::int16_t> wav_samples(const std::string& path) {
  const auto bytes = media_test::read_bytes(path);
  for (std::size_t i = 12; i + 8 <= bytes.size(); ++i) {
    if (bytes[i] == 'd' && bytes[i + 1] == 'a' && bytes[i + 2] == 't' && bytes[i + 3] == 'a') {
      std::vector<std::int16_t> s((bytes.size() - i - 8) / 2);
      for (std::size_t k = 0; k < s.size(); ++k)
        s[k] = static_cast<std::int16_t>(bytes[i + 8 + 2 * k] | (bytes[i + 9 + 2 * k] << 8));
      return s;
    }
  }
  return {};
}

double rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t n) {
  double e = 0;
  for (std::size_t i = from; i < from + n && i < s.size(); ++i) e += double(s[i]) * s[i];
  return std::sqrt(e / double(n));
}

// Where a one-second window of the recording lies in the expected sound:
// the offset with the best normalised correlation, and that correlation.
std::pair<std::size_t, double> locate(const std::vector<std::int16_t>& recorded, std::size_t window_at,
                                      const std::vector<std::int16_t>& expected) {
  const std::size_t n = 8000;
  const double rr = rms(recorded, window_at, n);
  double best = -1;
  std::size_t best_at = 0;
  for (std::size_t at = 0; at + n <= expected.size(); ++at) {
    double dot = 0, ee = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double e = expected[at + i];
      dot += e * recorded[window_at + i];
      ee += e * e;
    }
    if (ee <= 0) continue;
    const double c = dot / (std::sqrt(ee) * rr * std::sqrt(double(n)));
    if (c > best) best = c, best_at = at;
  }
  return {best_at, best};
}

// Qt's sound engine, once started in a process, keeps talking to the server
// it found first.
bool g_sound_used = false;

class QtSound : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_sound_used) GTEST_SKIP() << "needs a process of its own (ctest runs each test alone)";
    g_sound_used = true;
    ASSERT_FALSE(dir_.path().empty());
    runtime_ = dir_.file("runtime");
    std::filesystem::create_directory(runtime_);
    chmod(runtime_.c_str(), 0700);
    // Only our own server may be found: private runtime folder and home.
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("HOME", dir_.path().c_str(), 1);
    unsetenv("PULSE_SERVER");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }

  media_test::TempDir dir_;
  std::string runtime_;
  int argc_ = 1;
  char arg0_[16] = "test_qt_sound";
  char* argv_[2] = {arg0_, nullptr};
};

TEST_F(QtSound, WithoutServerSetupFails) {
  QCoreApplication app(argc_, argv_);
  platform::install_qt_sound_device();
  media::AudioOutput out;
  EXPECT_FALSE(out.setup());
  out.stop();
  platform::release_sound_device();
  platform::set_sound_device_factory(nullptr);
}

TEST_F(QtSound, PlaysCameraAudioAndVolumeLowersIt) {
  Child server({"pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
                "--load=module-null-sink sink_name=nullsink", "--load=module-native-protocol-unix"},
               dir_.file("pulseaudio.log"));
  if (!wait_for([&] { return std::filesystem::exists(runtime_ + "/pulse/native"); }, 5000) || !server.alive())
    GTEST_SKIP() << "pulseaudio could not start here";
  const std::string wav = dir_.file("monitor.wav");
  Child recorder({"parecord", "--latency-msec=20", "--device=nullsink.monitor", "--file-format=wav", "--rate=8000",
                  "--channels=1", "--format=s16le", wav},
                 dir_.file("parecord.log"));
  // Recording for real once the silence of the idle sink comes in.
  ASSERT_TRUE(wait_for([&] { return std::filesystem::exists(wav) && std::filesystem::file_size(wav) > 8044; }, 10000))
      << "parecord did not start";

  // Six seconds of a sweep from 200 to 2,000 Hz (no repeating period, so
  // the lag is unambiguous), as the camera would send it.
  const auto coded = media_test::encode_g726(dir_, "0.5*sin(2*PI*(200*t+150*t*t))", 6, 2);
  ASSERT_EQ(coded.size(), 12000u);
  std::vector<std::int16_t> expected(coded.size() * 4);
  {
    media::G726Decoder dec(media::G726_decoder_create());
    ASSERT_EQ(media::G726_dec(dec.get(), 2, coded.data(), static_cast<int>(coded.size()), expected.data()), 48000);
  }

  QCoreApplication app(argc_, argv_);
  platform::install_qt_sound_device();
  {
    media::AudioOutput out;
    ASSERT_TRUE(out.setup());
    out.start();
    // 400-byte blocks every 200 ms, as the stream would deliver them (it
    // keeps at most three waiting). The first three go at once: two fill
    // the buffer and the writer holds the third, so from then on it takes
    // each block the moment the cursor enters a half, every 200 ms after
    // it started. Each later block arrives half-way between two such takes:
    // arriving on the very moment, a block delayed by a scheduler (or a
    // race detector's slowdown) by a millisecond would find the writer
    // gone back to silence. The volume drops to -6 dB about 2.7 s in, with
    // block 16, clear of both windows measured below.
    const auto t0 = Clock::now();
    for (std::size_t k = 0; k * 400 < coded.size(); ++k) {
      if (k >= 3) std::this_thread::sleep_until(t0 + milliseconds(200 * (k - 2) - 100));
      if (k == 16) out.set_volume(-600);
      auto frame = std::make_unique<net::MediaFrame>();
      ASSERT_TRUE(frame->set(coded.data() + 400 * k, 400, static_cast<std::uint32_t>(200 * k), 0));
      out.queue().push_back(std::move(frame));
    }
    std::this_thread::sleep_for(milliseconds(2500));
    EXPECT_EQ(out.clock(), 200u * 29u);
    out.stop();
  }
  platform::release_sound_device();
  platform::set_sound_device_factory(nullptr);
  recorder.end(SIGINT);
  server.end(SIGTERM);

  const auto recorded = wav_samples(wav);
  ASSERT_GT(recorded.size(), 48000u) << "the monitor recording is too short";
  // Where our sound lies in the recording (the sound server and the
  // recorder add their own delays): a window one second after the sound
  // begins, found in what we sent.
  std::size_t start = 0;
  while (start + 800 < recorded.size() && rms(recorded, start, 800) < 1000) start += 800;
  const std::size_t window = start + 8000;
  ASSERT_LT(window + 8000, recorded.size()) << "no sound recorded";
  const auto [at, correlation] = locate(recorded, window, expected);
  EXPECT_GT(correlation, 0.9) << "the recording does not carry the decoded audio";

  // Against what was sent, the sound after the volume change (at 3 s) is
  // 6 dB quieter than before it; full volume passes the samples unchanged.
  // Windows of 1.5 s clear of the change and of the edges.
  ASSERT_GE(window, at);
  const std::size_t lag = window - at;
  ASSERT_LT(lag + 44000, recorded.size()) << "the recording ends too early";
  const double before = rms(recorded, lag + 8000, 12000) / rms(expected, 8000, 12000);
  const double after = rms(recorded, lag + 32000, 12000) / rms(expected, 32000, 12000);
  EXPECT_NEAR(before, 1.0, 0.1);
  EXPECT_NEAR(20 * std::log10(after / before), -6.0, 0.5);
}

}  // namespace
