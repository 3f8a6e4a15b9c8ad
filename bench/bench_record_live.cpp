// Live recording: eight cameras from one camsim (as fast as the client
// reads, on loopback) recorded at once by the program's own composition —
// a ViewerCore reads a param.dat that lists the eight cameras, plays them
// (streams, decode pipelines, sound) and the user's record action starts a
// manual recording on each, carried on by the real manual recording loop on
// the real clock. After --seconds N (default 20) every recording is stopped
// and the core shut down. Measured over the recording window:
//
//   packets_per_s, mb_per_s   whole packets and bytes in the recorded files
//                             (sizes taken from the files), per second
//   delay_ms_p50/p99/max      from a packet's arrival tick (stamped by the
//                             demultiplexer when it read the packet) to the
//                             moment the recording loop's Flush wrote it;
//                             millisecond ticks, so +-1 ms
//   frames_decoded_per_s      pictures the eight pipelines decoded and
//                             presented meanwhile
//   cpu_cores                 CPU time of this process / wall time
//   ratio                     our mb_per_s / the MB/s of a plain reference
//                             in the same run: one thread reading the same
//                             eight camsim streams over plain sockets and
//                             appending what arrives to eight files
//
// Afterwards every file is checked: the connection's header (compared with
// the first bytes of the same camera's stream read by the reference), then
// only whole packets that each start with the packet's error-correction
// byte; ffprobe reads one file.
//
// --paced lets camsim send in real time (as cameras do) instead, which
// shows the delay of a steady stream.
//
// Usage: bench_record_live [--seconds N] [--reference-seconds N] [--clip PREFIX] [--paced]
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim_process.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/tick.h"
#include "viewer/platform/ui_seams.h"
#include "viewer/record/loop_thread.h"
#include "viewer/record/manual_recording.h"
#include "viewer/shell/model/viewer_core.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kCameras = 8;

double seconds_between(SteadyClock::time_point a, SteadyClock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double process_cpu_s() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Delays of one camera's written packets, in whole milliseconds. A fixed
// histogram, so that the observer neither allocates nor takes time while the
// writer's lock is held; only the recording loop's thread touches it while
// the hook is set.
struct DelayHistogram {
  static constexpr std::uint32_t kBuckets = 60000;  // the last one holds everything longer
  std::vector<std::uint64_t> count = std::vector<std::uint64_t>(kBuckets, 0);
  std::uint32_t max_ms = 0;
  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;

  static void hook(void* self, std::uint32_t arrival_tick, std::uint32_t length) {
    auto* h = static_cast<DelayHistogram*>(self);
    const std::uint32_t now = platform::tick_ms();
    const std::uint32_t ms = platform::tick_elapsed(arrival_tick, now);
    ++h->count[std::min(ms, kBuckets - 1)];
    h->max_ms = std::max(h->max_ms, ms);
    ++h->packets;
    h->bytes += length;
  }
};

// The smallest value (ms) at or below which the given share of all counts lies.
std::uint32_t percentile(const std::vector<const std::vector<std::uint64_t>*>& all, double share) {
  std::uint64_t total = 0;
  for (const auto* h : all)
    for (std::uint64_t c : *h) total += c;
  if (total == 0) return 0;
  const auto target = std::max<std::uint64_t>(static_cast<std::uint64_t>(share * static_cast<double>(total) + 0.5), 1);
  std::uint64_t seen = 0;
  for (std::size_t ms = 0; ms < all.front()->size(); ++ms) {
    for (const auto* h : all) seen += (*h)[ms];
    if (seen >= target) return static_cast<std::uint32_t>(ms);
  }
  return static_cast<std::uint32_t>(all.front()->size() - 1);
}

// The system clock, which also times the manual recording loop's passes: the
// loop ends each pass with its one 10 ms wait (it waits 5 ms before each
// camera), so the time between two such waits on the loop's thread is one
// pass over all cameras, flushes included.
class PassTimingClock final : public record::Clock {
 public:
  std::int64_t now_ms() override { return base_.now_ms(); }
  record::LocalTime local(std::int64_t seconds) override { return base_.local(seconds); }
  std::int64_t seconds_from_local(const record::LocalTime& t) override { return base_.seconds_from_local(t); }
  void sleep_ms(int ms) override { base_.sleep_ms(ms); }
  bool wait_ms(int ms, platform::Event& wake) override {
    if (ms == record::kBusyPassMs) {
      // While it records, only the manual loop waits this long between
      // passes (the schedule loop has no window here and waits longer); the
      // first thread that does is it.
      std::thread::id none;
      const std::thread::id self = std::this_thread::get_id();
      if (loop_thread_.compare_exchange_strong(none, self) || none == self) {
        const std::uint32_t now = platform::tick_ms();
        if (timing_) ++pass_ms[std::min<std::uint32_t>(platform::tick_elapsed(last_, now), kBuckets - 1)];
        last_ = now;
        timing_ = measuring.load();
      }
    }
    return base_.wait_ms(ms, wake);
  }

  static constexpr std::uint32_t kBuckets = 60000;
  // Set while the recording window runs; the histogram is read after the
  // loop has been joined.
  std::atomic<bool> measuring{false};
  std::vector<std::uint64_t> pass_ms = std::vector<std::uint64_t>(kBuckets, 0);

 private:
  record::SystemClock base_;
  std::atomic<std::thread::id> loop_thread_{};
  std::uint32_t last_ = 0;
  bool timing_ = false;
};

std::string mac_of(int index) {
  char mac[13];
  std::snprintf(mac, sizeof mac, "000e530000%02x", index + 1);
  return mac;
}

// One camera of param.dat: a camsim camera on loopback, playing on its
// channel, only the first one audible.
std::string camera_record(int index, int port) {
  std::string zones;
  for (int z = 0; z < 25; ++z) zones += z < 9 ? "1|" : "0|";
  const std::string muted = index == 0 ? "0" : "1";
  return "cam" + std::to_string(index + 1) + "|127.0.0.1|" + std::to_string(port) + "|" + mac_of(index) +
         "|camsim|admin|admin|1|" + std::to_string(index + 1) + "|0|0|0|1|0|" + muted + "|0|" + zones + "0|3\\";
}

bool write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t le64(const std::uint8_t* p) { return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32; }

// Header Object, File Properties Object and Data Object GUIDs as they appear
// in the file (Advanced Systems Format 1.2, 10.1 and 10.2).
constexpr std::array<std::uint8_t, 16> kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::array<std::uint8_t, 16> kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                          0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::array<std::uint8_t, 16> kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::size_t kDataObjectHead = 50;
constexpr std::size_t kMinPacketSizeOffset = 92;  // in the File Properties Object

bool same_guid(const std::uint8_t* p, const std::array<std::uint8_t, 16>& guid) {
  return std::memcmp(p, guid.data(), guid.size()) == 0;
}

// Header length (Header Object + Data Object start) and packet size of a
// stream that starts with `head`; false when it does not start like one.
bool parse_head(const std::vector<std::uint8_t>& head, std::size_t* header_length, std::uint32_t* packet_size) {
  if (head.size() < 30 || !same_guid(head.data(), kHeaderObject)) return false;
  const std::uint64_t object_size = le64(head.data() + 16);
  if (object_size < 30 || object_size + kDataObjectHead > head.size()) return false;
  *packet_size = 0;
  for (std::uint64_t at = 30; at + 24 <= object_size;) {
    const std::uint64_t size = le64(head.data() + at + 16);
    if (size < 24 || size > object_size - at) return false;
    if (same_guid(head.data() + at, kFileProperties) && size >= kMinPacketSizeOffset + 4)
      *packet_size = le32(head.data() + at + kMinPacketSizeOffset);
    at += size;
  }
  if (*packet_size == 0 || !same_guid(head.data() + object_size, kDataObject)) return false;
  *header_length = static_cast<std::size_t>(object_size) + kDataObjectHead;
  return true;
}

// Checks a recorded file: it starts with the header the camera sends on a
// connection (`stream_head`: the first bytes of the same camera's stream,
// read separately) and then holds only whole packets of the size its File
// Properties give, each starting with the error-correction flags the
// cameras send (0x82). Counts the packets.
bool check_recording(const fs::path& path, const std::vector<std::uint8_t>& stream_head, std::uint64_t* packets,
                     std::string* why) {
  *packets = 0;
  std::size_t header_length = 0;
  std::uint32_t packet_size = 0;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    *why = "cannot open";
    return false;
  }
  std::vector<std::uint8_t> head(4096);
  const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
  head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  bool ok = parse_head(head, &header_length, &packet_size);
  if (!ok) *why = "does not start with an ASF header and a Data Object";
  if (ok &&
      (stream_head.size() < header_length ||
       !std::equal(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(header_length), stream_head.begin()))) {
    ok = false;
    *why = "its header is not the one the camera sends";
  }
  if (ok && ::lseek(fd, static_cast<off_t>(header_length), SEEK_SET) < 0) ok = false;
  std::vector<std::uint8_t> buffer(std::size_t{packet_size} * 256);
  std::uint64_t n = 0;
  std::size_t filled = 0;
  while (ok) {
    const ssize_t r = ::read(fd, buffer.data() + filled, buffer.size() - filled);
    if (r < 0) {
      ok = false;
      *why = "read error";
      break;
    }
    filled += static_cast<std::size_t>(r);
    std::size_t at = 0;
    for (; at + packet_size <= filled; at += packet_size, ++n) {
      if (buffer[at] != 0x82) {
        ok = false;
        *why = "packet " + std::to_string(n) + " does not start a packet";
        break;
      }
    }
    if (!ok) break;
    std::memmove(buffer.data(), buffer.data() + at, filled - at);
    filled -= at;
    if (r == 0) {
      if (filled != 0) {
        ok = false;
        *why = "ends with " + std::to_string(filled) + " bytes of a packet";
      }
      break;
    }
  }
  ::close(fd);
  *packets = n;
  return ok;
}

// The streams of a file as ffprobe lists them ("audio:adpcm_g726 video:mpeg4").
std::string probe_streams(const fs::path& path) {
  const std::string cmd =
      "ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 '" + path.string() + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  if (!pipe) return "";
  std::vector<std::string> streams;
  char line[256];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const std::size_t comma = s.find(',');
    if (comma != std::string::npos) streams.push_back(s.substr(comma + 1) + ":" + s.substr(0, comma));
  }
  std::sort(streams.begin(), streams.end());
  std::string out;
  for (const std::string& s : streams) out += (out.empty() ? "" : " ") + s;
  return out;
}

struct ReferenceResult {
  double seconds = 0;
  std::uint64_t bytes = 0;
  bool ok = false;
};

// The plain reference: one thread reads the same camsim streams over plain
// sockets and appends whatever arrives to one file per camera, in turn, for
// the given time. Stream heads (everything after the HTTP reply head) are
// kept in `heads` for the header comparison.
ReferenceResult run_reference(const std::vector<std::uint16_t>& ports, const fs::path& dir, int seconds,
                              std::vector<std::vector<std::uint8_t>>* heads) {
  ReferenceResult result;
  std::vector<std::unique_ptr<tooltest::Connection>> connections;
  std::vector<int> files;
  struct CloseFiles {
    std::vector<int>& fds;
    ~CloseFiles() {
      for (int fd : fds) ::close(fd);
    }
  } close_files{files};
  heads->assign(ports.size(), {});
  for (std::size_t i = 0; i < ports.size(); ++i) {
    connections.push_back(std::make_unique<tooltest::Connection>(ports[i]));
    if (!connections.back()->ok() || !connections.back()->send_text(tooltest::viewer_request("admin", "admin")) ||
        connections.back()->read_head().find(" 200") == std::string::npos)
      return result;
    const fs::path path = dir / ("reference" + std::to_string(i) + ".asf");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return result;
    files.push_back(fd);
  }
  constexpr std::size_t kHeadBytes = 4096;
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::vector<pollfd> polls(ports.size());
  const auto t0 = SteadyClock::now();
  const auto end = t0 + std::chrono::seconds(seconds);
  while (SteadyClock::now() < end) {
    for (std::size_t i = 0; i < polls.size(); ++i) polls[i] = {connections[i]->fd(), POLLIN, 0};
    if (::poll(polls.data(), polls.size(), 100) <= 0) continue;
    for (std::size_t i = 0; i < polls.size(); ++i) {
      if ((polls[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t r = ::recv(polls[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (r <= 0) continue;
      const auto n = static_cast<std::size_t>(r);
      auto& head = (*heads)[i];
      if (head.size() < kHeadBytes) {
        const std::size_t take = std::min(n, kHeadBytes - head.size());
        head.insert(head.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(take));
      }
      if (::write(files[i], buffer.data(), n) != r) return result;
      result.bytes += n;
    }
  }
  result.seconds = seconds_between(t0, SteadyClock::now());
  result.ok = true;
  return result;
}

std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20;
  int reference_seconds = 0;  // 0: as long as the recording
  std::string clip = std::string(CAMVIEWER_CLIPS_DIR) + "/vga";
  bool paced = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--reference-seconds" && i + 1 < argc) {
      reference_seconds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--clip" && i + 1 < argc) {
      clip = argv[++i];
    } else if (a == "--paced") {
      paced = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_record_live [--seconds N] [--reference-seconds N] [--clip PREFIX] [--paced]\n");
      return 2;
    }
  }
  if (reference_seconds == 0) reference_seconds = seconds;

  char scratch_template[] = "/tmp/bench-record-live-XXXXXX";
  const char* scratch = ::mkdtemp(scratch_template);
  if (scratch == nullptr) return 1;
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{scratch};
  const fs::path program = cleanup.dir / "program";
  const fs::path reference_dir = cleanup.dir / "reference";
  fs::create_directories(program);
  fs::create_directories(reference_dir);

  std::vector<std::string> args = {"--port", "0", "--user", "admin", "--password", "admin", clip};
  if (!paced) args.insert(args.begin(), "--fast");
  for (int i = 1; i < kCameras; ++i) {
    args.push_back("--camera");
    args.push_back("0:admin:admin:" + clip);
  }
  tooltest::CamsimProcess camsim(args);
  if (!camsim.ready() || camsim.ports().size() != static_cast<std::size_t>(kCameras)) {
    std::fprintf(stderr, "camsim did not start:\n%s\n", camsim.startup_text().c_str());
    return 1;
  }

  std::string cameras_text;
  for (int i = 0; i < kCameras; ++i) cameras_text += camera_record(i, camsim.port(static_cast<std::size_t>(i)));
  // Longer than the run, so no recording ends by itself; no quota.
  const std::string instance_minutes = std::to_string(seconds / 60 + 10);
  if (!write_text(program / "param.dat", "AutoPlay=1\nAutoRun=0\nInstanceTime=" + instance_minutes +
                                             "\nDiskLimit=0\nCamInfo=" + cameras_text + "\n")) {
    return 1;
  }

  platform::ScopedHeadlessUi ui;
  std::vector<DelayHistogram> delays(kCameras);
  PassTimingClock pass_clock;
  double wall = 0, cpu = 0;
  std::uint64_t frames = 0, dropped = 0, hook_packets = 0;
  std::vector<std::string> macs;
  std::size_t queue_max = 0;
  {
    model::ViewerCoreOptions options;
    options.stream_timeout_s = 5;
    options.env.clock = &pass_clock;
    model::ViewerCore core(options);
    if (core.start(program.string()) != 1 || core.cameras().count() != kCameras) {
      std::fprintf(stderr, "the core did not list the cameras\n");
      return 1;
    }
    std::vector<model::Camera*> cameras;
    for (int p = 1; p <= kCameras; ++p) cameras.push_back(core.cameras().camera_at(p));

    // Until every camera has its header and shows pictures.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(20);
    for (;;) {
      bool all = true;
      for (model::Camera* c : cameras) all = all && c->header_arrived() && c->video().frames_presented() > 0;
      if (all) break;
      if (SteadyClock::now() > deadline) {
        std::fprintf(stderr, "not every camera played\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    for (int i = 0; i < kCameras; ++i)
      cameras[static_cast<std::size_t>(i)]->recording().manual_writer().set_written_hook(
          &DelayHistogram::hook, &delays[static_cast<std::size_t>(i)]);
    const auto presented = [&] {
      std::uint64_t n = 0, d = 0;
      for (model::Camera* c : cameras) {
        n += c->video().frames_presented();
        d += c->video().frames_dropped();
      }
      return std::make_pair(n, d);
    };

    const auto [frames0, dropped0] = presented();
    const double cpu0 = process_cpu_s();
    const auto t0 = SteadyClock::now();
    pass_clock.measuring = true;
    for (model::Camera* c : cameras) {
      if (core.record_action(*c) != record::kRecordStarted) {
        std::fprintf(stderr, "a manual recording did not start\n");
        return 1;
      }
    }
    // Packets waiting in the writers' queues, sampled every 10 ms: a queue
    // that keeps growing would mean the loop cannot keep up.
    const auto t_end = t0 + std::chrono::seconds(seconds);
    while (SteadyClock::now() < t_end) {
      for (model::Camera* c : cameras) queue_max = std::max(queue_max, c->recording().manual_writer().queued());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (model::Camera* c : cameras) core.stop_recording(*c);
    pass_clock.measuring = false;
    const auto t1 = SteadyClock::now();
    cpu = process_cpu_s() - cpu0;
    wall = seconds_between(t0, t1);
    const auto [frames1, dropped1] = presented();
    frames = frames1 - frames0;
    dropped = dropped1 - dropped0;

    // Taking the writer's lock once more orders the loop's last hook calls
    // before the histograms are read.
    for (model::Camera* c : cameras) {
      c->recording().manual_writer().set_written_hook(nullptr, nullptr);
      macs.push_back(c->mac());
    }
    (void)core.shutdown();
  }
  for (const auto& h : delays) hook_packets += h.packets;

  // Recorded files, measured from the disk.
  std::uint64_t file_bytes = 0;
  std::size_t file_count = 0;
  std::vector<std::vector<fs::path>> recorded(kCameras);
  for (int i = 0; i < kCameras; ++i) {
    recorded[static_cast<std::size_t>(i)] = files_in(program / "Record" / macs[static_cast<std::size_t>(i)]);
    for (const fs::path& f : recorded[static_cast<std::size_t>(i)]) {
      file_bytes += fs::file_size(f);
      ++file_count;
    }
  }

  // The reference, on the same camsim streams.
  std::vector<std::vector<std::uint8_t>> heads;
  const ReferenceResult reference = run_reference(camsim.ports(), reference_dir, reference_seconds, &heads);
  (void)camsim.stop();
  std::error_code ec;
  fs::remove_all(reference_dir, ec);  // gigabytes, not needed any more

  // Every file: the connection's header, then whole packets.
  std::uint64_t packets = 0;
  std::size_t bad_files = 0;
  for (int i = 0; i < kCameras; ++i) {
    const std::vector<std::uint8_t> none;
    const auto& head = heads.size() > static_cast<std::size_t>(i) ? heads[static_cast<std::size_t>(i)] : none;
    for (const fs::path& f : recorded[static_cast<std::size_t>(i)]) {
      std::uint64_t n = 0;
      std::string why;
      if (!check_recording(f, head, &n, &why)) {
        std::fprintf(stderr, "%s: %s\n", f.c_str(), why.c_str());
        ++bad_files;
      }
      packets += n;
    }
  }
  std::string probe = "no file";
  for (const auto& files : recorded)
    if (!files.empty()) {
      probe = probe_streams(files.front());
      break;
    }

  const double mb_per_s = static_cast<double>(file_bytes) / 1e6 / wall;
  const double reference_mb_per_s =
      reference.ok && reference.seconds > 0 ? static_cast<double>(reference.bytes) / 1e6 / reference.seconds : 0.0;

  std::printf("cameras: %d\n", kCameras);
  std::printf("seconds: %.1f\n", wall);
  std::printf("camsim_pacing: %s\n", paced ? "real time" : "as fast as read");
  std::printf("files: %zu\n", file_count);
  // Each connection the stream lost and made again starts a new file.
  std::printf("reconnections: %zu\n", file_count > static_cast<std::size_t>(kCameras) ? file_count - kCameras : 0);
  std::printf("files_bad: %zu\n", bad_files);
  std::printf("ffprobe_streams: %s\n", probe.empty() ? "unreadable" : probe.c_str());
  std::printf("packets_written: %llu\n", static_cast<unsigned long long>(packets));
  std::printf("packets_seen_by_observer: %llu\n", static_cast<unsigned long long>(hook_packets));
  std::printf("packets_per_s: %.0f\n", static_cast<double>(packets) / wall);
  std::printf("mb_per_s: %.1f\n", mb_per_s);
  std::vector<const std::vector<std::uint64_t>*> delay_counts;
  for (const auto& h : delays) delay_counts.push_back(&h.count);
  std::printf("delay_ms_p50: %u\n", percentile(delay_counts, 0.50));
  std::printf("delay_ms_p99: %u\n", percentile(delay_counts, 0.99));
  std::uint32_t max_ms = 0;
  for (const auto& h : delays) max_ms = std::max(max_ms, h.max_ms);
  std::printf("delay_ms_max: %u\n", max_ms);
  const std::vector<const std::vector<std::uint64_t>*> passes = {&pass_clock.pass_ms};
  std::uint32_t pass_max = 0;
  for (std::uint32_t ms = 0; ms < PassTimingClock::kBuckets; ++ms)
    if (pass_clock.pass_ms[ms] != 0) pass_max = ms;
  std::printf("loop_pass_ms_p50: %u\n", percentile(passes, 0.50));
  std::printf("loop_pass_ms_p99: %u\n", percentile(passes, 0.99));
  std::printf("loop_pass_ms_max: %u\n", pass_max);
  std::printf("queue_max_packets: %zu\n", queue_max);
  std::printf("frames_decoded_per_s: %.1f\n", static_cast<double>(frames) / wall);
  std::printf("frames_dropped_per_s: %.1f\n", static_cast<double>(dropped) / wall);
  std::printf("cpu_cores: %.3f\n", cpu / wall);
  std::printf("messages_shown: %zu\n", ui->shown().size());
  std::printf("reference_mb_per_s: %.1f\n", reference_mb_per_s);
  std::printf("reference: one thread, plain sockets on the same camsim streams, appended to eight files\n");
  std::printf("ratio: %.3f\n", reference_mb_per_s > 0 ? mb_per_s / reference_mb_per_s : 0.0);
  return bad_files == 0 && file_count > 0 ? 0 : 1;
}
