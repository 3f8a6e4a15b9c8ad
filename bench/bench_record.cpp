// Recording throughput and latency.
//
// 1. Throughput: eight writers (eight cameras) each hold the same number of
//    queued 3,200-byte packets and flush at once, one thread each. The
//    reference writes the same bytes sequentially, one write() per packet,
//    into eight files from one thread, in the same run.
//    ratio = our MB/s / reference MB/s.
// 2. Delay: eight streams deliver a packet every 2 ms each while one thread
//    serves the writers the way the recording loops do (5 ms wait per
//    camera, 10 ms per pass); the delay from a packet's arrival to its write
//    is measured.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "viewer/record/recording_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriters = 8;
constexpr std::uint32_t kPacket = 3200;
constexpr int kPacketsEach = 4000;  // 12.8 MB per writer

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::uint32_t now_us() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count());
}

struct Delays {
  std::vector<std::uint32_t> us;
  static void hook(void* self, std::uint32_t tick, std::uint32_t) {
    static_cast<Delays*>(self)->us.push_back(now_us() - tick);
  }
};

}  // namespace

int main() {
  char tmpl[] = "/tmp/bench_record-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  std::vector<std::uint8_t> header(820, 0x11);
  std::vector<std::uint8_t> packet(kPacket);
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i * 7);

  // ---- reference: plain sequential writes ----
  double ref_s = 0;
  {
    const auto t0 = Clock::now();
    for (int w = 0; w < kWriters; ++w) {
      const std::string path = dir + "/ref" + std::to_string(w);
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd < 0) return 1;
      if (::write(fd, header.data(), header.size()) < 0) return 1;
      for (int i = 0; i < kPacketsEach; ++i)
        if (::write(fd, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size())) return 1;
      ::close(fd);
    }
    ref_s = seconds_since(t0);
    for (int w = 0; w < kWriters; ++w) std::filesystem::remove(dir + "/ref" + std::to_string(w));
  }

  // ---- eight writers flushing at once ----
  double ours_s = 0;
  {
    std::vector<std::unique_ptr<record::RecordingWriter>> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.push_back(std::make_unique<record::RecordingWriter>());
      (void)writers.back()->SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
      if (writers.back()->Open(dir + "/cam" + std::to_string(w) + ".asf") != 1) return 1;
      for (int i = 0; i < kPacketsEach; ++i) writers.back()->AddPacket(packet.data(), kPacket, 0);
    }
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) threads.emplace_back([&, w] { (void)writers[w]->Flush(); });
    for (auto& t : threads) t.join();
    ours_s = seconds_since(t0);
    for (auto& w : writers) w->Close();
  }

  const double total_packets = static_cast<double>(kWriters) * kPacketsEach;
  const double total_mb = total_packets * kPacket / 1e6;
  std::printf("writers: %d\n", kWriters);
  std::printf("packets_per_s: %.0f\n", total_packets / ours_s);
  std::printf("mb_per_s: %.1f\n", total_mb / ours_s);
  std::printf("reference_mb_per_s: %.1f\n", total_mb / ref_s);
  std::printf("ratio: %.2f\n", ref_s / ours_s);

  // ---- delay from arrival to write, served like the recording loops ----
  {
    std::vector<std::unique_ptr<record::RecordingWriter>> writers;
    std::vector<Delays> delays(kWriters);
    for (int w = 0; w < kWriters; ++w) {
      writers.push_back(std::make_unique<record::RecordingWriter>());
      (void)writers.back()->SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
      if (writers.back()->Open(dir + "/lat" + std::to_string(w) + ".asf") != 1) return 1;
      delays[static_cast<std::size_t>(w)].us.reserve(4000);
      writers.back()->set_written_hook(&Delays::hook, &delays[static_cast<std::size_t>(w)]);
    }
    std::atomic<bool> run{true};
    std::vector<std::thread> streams;
    for (int w = 0; w < kWriters; ++w)
      streams.emplace_back([&, w] {
        while (run.load()) {
          writers[static_cast<std::size_t>(w)]->AddPacket(packet.data(), kPacket, now_us());
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
      });
    const auto t0 = Clock::now();
    while (seconds_since(t0) < 2.0) {
      for (auto& w : writers) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        (void)w->Flush();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run = false;
    for (auto& t : streams) t.join();
    std::vector<std::uint32_t> all;
    for (auto& d : delays) all.insert(all.end(), d.us.begin(), d.us.end());
    std::sort(all.begin(), all.end());
    if (!all.empty()) {
      double sum = 0;
      for (auto v : all) sum += v;
      std::printf("delay_mean_ms: %.2f\n", sum / static_cast<double>(all.size()) / 1000.0);
      std::printf("delay_p99_ms: %.2f\n", all[all.size() * 99 / 100] / 1000.0);
      std::printf("delay_max_ms: %.2f\n", all.back() / 1000.0);
    }
    for (auto& w : writers) w->Close();
  }
  std::filesystem::remove_all(dir);
  return 0;
}
