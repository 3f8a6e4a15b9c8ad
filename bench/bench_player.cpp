// The recording player's engine.
//
// 1. Decode and present at full speed: a 640 x 480 recording (the vga clip,
//    15 pictures a second, looped to 3 minutes) read, demultiplexed, decoded,
//    converted to RGB and presented by the engine with pacing off, against
//    `ffmpeg -i FILE -f null -` on the same file in the same run (its
//    pictures per second over the same number of pictures).
//    ratio = our pictures per second / ffmpeg's. Each side keeps its best
//    of three runs (the machine is shared).
// 2. A one-hour recording (the same clip looped, made here in a scratch
//    folder): the time from open() to the first picture shown, the time the
//    background scan takes to build the seek index, and a seek to half-way
//    once the index is there. The file has just been written, so it is read
//    from the page cache.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "player/engine/engine.h"
#include "tools/clipkit/asf.h"
#include "viewer/media/colour.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class Counter final : public player::EngineListener {
 public:
  void picture_presented(const player::PresentedPicture&) override { ++pictures; }
  void status_changed() override {}
  std::atomic<std::uint64_t> pictures{0};
};

template <class Pred>
bool wait_for(Pred&& done, double timeout_s) {
  const auto t0 = Clock::now();
  while (!done()) {
    if (seconds_since(t0) > timeout_s) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Seconds ffmpeg takes to decode the whole file to nothing.
double ffmpeg_seconds(const std::string& file) {
  const std::string command = "ffmpeg -nostdin -loglevel error -i '" + file + "' -f null - > /dev/null 2>&1";
  const auto t0 = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return seconds_since(t0);
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/bench_player-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  media::init_YUV2RGB_tab();
  clipkit::Clip clip;
  std::string error;
  if (!clipkit::load_clip(std::string(CAMVIEWER_CLIPS_DIR) + "/vga", &clip, &error)) {
    std::fprintf(stderr, "bench_player: %s\n", error.c_str());
    return 1;
  }

  // 1. Full speed against ffmpeg.
  const std::string minute = dir + "/vga_3min.asf";
  if (!clipkit::write_camera_asf(minute, clip, clipkit::MuxOptions{}, 180000, &error)) {
    std::fprintf(stderr, "bench_player: %s\n", error.c_str());
    return 1;
  }
  double ours = 0, theirs = 0;
  std::uint64_t frames = 0;
  for (int run = 0; run < 3; ++run) {
    Counter counter;
    player::EngineOptions options;
    options.paced = false;
    player::Engine engine(options, &counter);
    const auto t0 = Clock::now();
    std::string message;
    if (engine.open(minute, &message) != player::OpenError::None) {
      std::fprintf(stderr, "bench_player: %s\n", message.c_str());
      return 1;
    }
    if (!wait_for([&] { return engine.status().at_end; }, 300)) return 1;
    const double s = seconds_since(t0);
    frames = counter.pictures.load();
    ours = std::max(ours, static_cast<double>(frames) / s);
    const double f = ffmpeg_seconds(minute);
    if (f > 0) theirs = std::max(theirs, static_cast<double>(frames) / f);
  }
  std::printf("player_pictures: %llu\n", static_cast<unsigned long long>(frames));
  std::printf("player_full_speed_fps: %.1f\n", ours);
  std::printf("ffmpeg_null_fps: %.1f\n", theirs);
  std::printf("player_vs_ffmpeg_ratio: %.2f\n", theirs > 0 ? ours / theirs : 0.0);

  // 2. One hour.
  const std::string hour = dir + "/vga_1h.asf";
  auto t0 = Clock::now();
  if (!clipkit::write_camera_asf(hour, clip, clipkit::MuxOptions{}, 3600 * 1000, &error)) {
    std::fprintf(stderr, "bench_player: %s\n", error.c_str());
    return 1;
  }
  std::printf("hour_file_mb: %.0f\n", static_cast<double>(std::filesystem::file_size(hour)) / 1e6);
  std::printf("hour_file_write_s: %.1f\n", seconds_since(t0));
  {
    Counter counter;
    player::EngineOptions options;
    options.sound = false;
    options.start_playing = false;
    player::Engine engine(options, &counter);
    t0 = Clock::now();
    std::string message;
    if (engine.open(hour, &message) != player::OpenError::None) {
      std::fprintf(stderr, "bench_player: %s\n", message.c_str());
      return 1;
    }
    const double opened = seconds_since(t0);
    if (!wait_for([&] { return counter.pictures.load() >= 1; }, 60)) return 1;
    const double first = seconds_since(t0);
    if (!wait_for([&] { return engine.index().finished(); }, 600)) return 1;
    const double indexed = seconds_since(t0);
    const std::uint64_t before = counter.pictures.load();
    const auto s0 = Clock::now();
    engine.seek(1800 * 1000);
    if (!wait_for([&] { return counter.pictures.load() > before; }, 60)) return 1;
    std::printf("hour_open_ms: %.1f\n", opened * 1000);
    std::printf("hour_first_picture_ms: %.1f\n", first * 1000);
    std::printf("hour_index_build_s: %.2f\n", indexed);
    std::printf("hour_index_entries: %zu\n", engine.index().entries());
    std::printf("hour_seek_to_middle_ms: %.1f\n", seconds_since(s0) * 1000);
  }
  std::filesystem::remove_all(dir);
  media::delete_YUV2RGB_tab();
  return 0;
}
