// Throughput of the camera stream client: the look-ahead window and the
// demultiplexer reading camsim's endless stream over loopback as fast as
// camsim sends it, against a plain socket read of the same stream in the
// same run (ratio = stream client / plain read). Also the demultiplexer alone
// on bytes already in memory, and the memory a connected camera holds.
//
// camsim is found beside this program (build/bin) or in $CAMSIM.
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "viewer/net/asf_demux.h"
#include "viewer/net/camera_http.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/net/stream_connection.h"
#include "viewer/platform/tcp_socket.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "bench";

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string camsim_path() {
  if (const char* env = std::getenv("CAMSIM")) return env;
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/camsim";
}

// camsim as a child process, stopped when this goes away.
class Camsim {
 public:
  explicit Camsim(const std::string& clip) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {camsim_path(), "--port",  "0",      "--user", kUser,
                                     "--password",  kPassword, "--fast", clip};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[256];
    while (pid_ > 0 && f && std::fgets(line, sizeof line, f)) {
      const std::string l(line);
      if (l.rfind("listening ", 0) == 0) port_ = std::to_string(std::atoi(l.c_str() + l.rfind(':') + 1));
      if (l.rfind("ready", 0) == 0) break;
    }
    out_ = f;
  }
  ~Camsim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }
  const std::string& port() const { return port_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string port_;
};

class SocketReader final : public net::ByteReader {
 public:
  explicit SocketReader(platform::TcpSocket& s) : s_(s) {}
  bool read_byte(std::uint8_t* b) override { return s_.read_exactly(b, 1) == 1; }

 private:
  platform::TcpSocket& s_;
};

// The reference: request the stream and read it with plain receives of
// 64 KiB for `seconds`. Keeps the first `keep` bytes of the stream.
double plain_read(const std::string& port, double seconds, std::vector<std::uint8_t>* keep, std::size_t keep_bytes) {
  platform::TcpSocket s;
  const auto ip = platform::resolve_ipv4("127.0.0.1");
  if (!s.open() || !s.connect({*ip, static_cast<std::uint16_t>(std::atoi(port.c_str()))}, 5)) return 0;
  const std::string req = net::build_video_request("127.0.0.1", kUser, kPassword);
  if (!s.send_all(req.data(), req.size(), 5)) return 0;
  SocketReader reader(s);
  if (net::read_reply_head(reader) != net::ReplyStatus::Streaming) return 0;
  std::vector<std::uint8_t> buf(65536);
  std::uint64_t bytes = 0;
  const auto t0 = Clock::now();
  while (seconds_since(t0) < seconds) {
    if (s.read_exactly(buf.data(), buf.size()) != buf.size()) break;
    if (keep && keep->size() < keep_bytes) keep->insert(keep->end(), buf.begin(), buf.end());
    bytes += buf.size();
  }
  return bytes / seconds_since(t0);
}

// Counts what the demultiplexer reads and ends the run after `seconds`.
class TimedSource final : public net::ByteSource {
 public:
  TimedSource(net::ByteSource& inner, double seconds, std::atomic<bool>& stop)
      : inner_(inner), seconds_(seconds), stop_(stop), t0_(Clock::now()) {}
  int read(std::uint8_t* d, std::uint32_t n) override {
    const int r = inner_.read(d, n);
    if (r > 0) bytes_ += static_cast<std::uint64_t>(r);
    if ((++reads_ & 63) == 0 && seconds_since(t0_) >= seconds_) stop_ = true;
    return r;
  }
  std::uint64_t bytes() const { return bytes_; }
  double elapsed() const { return seconds_since(t0_); }

 private:
  net::ByteSource& inner_;
  double seconds_;
  std::atomic<bool>& stop_;
  Clock::time_point t0_;
  std::uint64_t bytes_ = 0;
  std::uint64_t reads_ = 0;
};

struct DemuxRate {
  double bytes_per_s = 0;
  double frames_per_s = 0;
};

// The consumers' side: frames are taken off the queues as fast as they come.
struct Drain {
  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> frames{0};
  std::thread thread;
  Drain() {
    thread = std::thread([this] {
      while (!done) {
        bool any = false;
        while (video.queue().take_front()) {
          ++frames;
          any = true;
        }
        while (audio.queue().take_front()) any = true;
        if (!any) std::this_thread::yield();
      }
    });
  }
  ~Drain() {
    done = true;
    thread.join();
  }
};

DemuxRate demux_run(net::ByteSource& source, double seconds) {
  Drain drain;
  net::StreamSinks sinks;
  sinks.video = &drain.video;
  sinks.audio = &drain.audio;
  net::StreamBuffers buffers;
  if (!buffers.allocate()) return {};
  std::atomic<bool> stop{false}, muted{false};
  TimedSource timed(source, seconds, stop);
  net::AsfDemux demux;
  (void)demux.run(timed, sinks, buffers, net::DemuxControl{&stop, &muted});
  const double t = timed.elapsed();
  return {timed.bytes() / t, drain.frames.load() / t};
}

DemuxRate stream_client(const std::string& port, double seconds) {
  net::StreamConnection c(30);
  if (c.start("127.0.0.1", port, kUser, kPassword) != net::kConnectStreaming) return {};
  const DemuxRate r = demux_run(c, seconds);
  c.close();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string clip = argc > 1 ? argv[1] : "vga";
  Camsim cam(clip);
  if (cam.port().empty()) {
    std::fprintf(stderr, "bench_demux: camsim did not start (%s)\n", camsim_path().c_str());
    return 1;
  }

  // Alternating rounds on fresh connections; each side keeps its best.
  constexpr int kRounds = 4;
  constexpr double kRoundSeconds = 1.0;
  std::vector<std::uint8_t> recorded;
  double plain_best = 0;
  DemuxRate client_best;
  for (int round = 0; round < kRounds; ++round) {
    plain_best = std::max(plain_best, plain_read(cam.port(), kRoundSeconds, &recorded, 16u << 20));
    const DemuxRate r = stream_client(cam.port(), kRoundSeconds);
    if (r.bytes_per_s > client_best.bytes_per_s) client_best = r;
  }

  // The demultiplexer alone, on the start of the recorded stream held in
  // memory (short enough that the frames of one pass fit the video queue),
  // pass after pass; frames are counted as they are queued.
  if (recorded.size() > (4u << 20)) recorded.resize(4u << 20);
  DemuxRate memory_best;
  for (int round = 0; round < kRounds && !recorded.empty(); ++round) {
    net::QueueVideoSink video;
    net::QueueAudioSink audio;
    net::StreamSinks sinks;
    sinks.video = &video;
    sinks.audio = &audio;
    net::StreamBuffers buffers;
    if (!buffers.allocate()) break;
    std::atomic<bool> stop{false}, muted{false};
    std::uint64_t bytes = 0, frames = 0;
    const auto t0 = Clock::now();
    while (seconds_since(t0) < kRoundSeconds) {
      net::BufferByteSource src(recorded, net::kStreamWindowBytes);
      net::AsfDemux demux;
      (void)demux.run(src, sinks, buffers, net::DemuxControl{&stop, &muted});
      bytes += src.position();
      frames += video.queue().count();
      video.queue().clear();
      audio.queue().clear();
    }
    const double t = seconds_since(t0);
    if (bytes / t > memory_best.bytes_per_s) memory_best = {bytes / t, frames / t};
  }

  const double mb = 1e6;
  std::printf("clip: %s\n", clip.c_str());
  std::printf("stream_client_MBps: %.1f\n", client_best.bytes_per_s / mb);
  std::printf("stream_client_frames_per_s: %.0f\n", client_best.frames_per_s);
  std::printf("plain_socket_read_MBps: %.1f\n", plain_best / mb);
  std::printf("demux_in_memory_MBps: %.1f\n", memory_best.bytes_per_s / mb);
  std::printf("demux_in_memory_frames_per_s: %.0f\n", memory_best.frames_per_s);
  std::printf("memory_per_connected_camera_bytes: %zu\n",
              net::StreamBuffers::kTotalBytes + static_cast<std::size_t>(net::StreamConnection::kWindowBytes));
  std::printf("ratio: %.2f\n", plain_best > 0 ? client_best.bytes_per_s / plain_best : 0.0);
  return 0;
}
