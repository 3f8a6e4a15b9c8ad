// Cameras at 640 x 480, whole and headless: one camsim process serves N
// cameras (default eight) on loopback; this process runs N CameraStreams,
// each with its VideoPipeline and AudioOutput (virtual sound device). The
// first --visible of them are drawn (their pictures are converted to RGB and
// published, as for the cells and pop-ups of the windows); the others decode
// unseen, as cameras scrolled off the grid do. Measured over the run:
//
//   cpu_cores    CPU time of this process / wall time (1.0 = one core busy)
//   buffers_mb   heap held by the streaming cameras (malloc's count, taken
//                while they stream, less what was held before)
//   buffers_mb_per_camera   the same per camera
//   pipeline_buffers_mb   of that, the pipelines' pictures and decoders
//   peak_rss_mb  peak resident memory of this process
//   wakeups_per_second    context switches of every thread of this process
//                (voluntary and not, from /proc) per second
//   latency_p50_ms, latency_p99_ms   from a frame's last byte taken off the
//                connection to its picture published for the views
//   ratio        our CPU per presented frame (everything: stream, sound,
//                decode, conversion, waiting threads) / libavcodec's
//                single-threaded decode + libswscale's conversion to BGR24
//                per frame of the same clip, measured in this run (the
//                median of four measurements spread over the window, taken
//                while the cameras run; their CPU is not counted as ours)
//   decode_convert_ratio   the same for our decoder + conversion alone
//   our_decode_convert_interleaved_ms_per_frame   our decoder + conversion
//                for as many decoders as cameras taking turns frame by
//                frame: the part of the live cost that is the cameras'
//                pictures not sharing the cache
//
// --view WxH draws the visible cameras at that size (the main window's
// cells are 176x132): pictures are then converted no larger than needed.
// The committed vga clip runs at 15 frames/s; camsim has no rate option, so
// a 30 frames/s version of it (testsrc2, same encoder settings) is made with
// ffmpeg into a scratch folder first. --clip PREFIX uses another clip.
//
// --no-audio serves the cameras without sound (nothing paces the video);
// --idle makes every camera stop sending after its first packets while the
// connection stays open (an idle connected camera: what it costs at rest).
//
// Usage: bench_cameras [--seconds N] [--cameras N] [--visible N] [--view WxH] [--clip PREFIX] [--no-audio]
//                      [--idle]
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_clips.h"
#include "support/camsim.h"
#include "support/child_process.h"
#include "support/files.h"
#include "tools/clipkit/m4v.h"
#include "viewer/media/camera_media.h"
#include "viewer/media/colour.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/net/camera_stream.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/sound_device.h"

namespace {

using Clock = std::chrono::steady_clock;

// camsim's arguments for N cameras of one clip.
std::vector<std::string> camsim_args(const std::string& clip, int cameras, bool audio, bool idle) {
  std::vector<std::string> per_camera;
  if (!audio) per_camera.push_back("--no-audio");
  if (idle) per_camera.insert(per_camera.end(), {"--stall-after", "40"});
  std::vector<std::string> args = {"--port", "0", "--user", "admin", "--password", "admin", clip};
  args.insert(args.end(), per_camera.begin(), per_camera.end());
  for (int i = 1; i < cameras; ++i) {
    args.push_back("--camera");
    args.push_back("0:admin:admin:" + clip);
    args.insert(args.end(), per_camera.begin(), per_camera.end());
  }
  return args;
}

// Context switches of every thread of this process so far (the threads that
// ended took theirs with them; the cameras' threads live through the run).
std::uint64_t context_switches() {
  std::uint64_t total = 0;
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return 0;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
      }
    }
  }
  ::closedir(dir);
  return total;
}

// The delay below which the given share of all counted publications fell.
double latency_percentile(const std::array<std::uint64_t, media::kLatencyBuckets>& histogram, double share) {
  std::uint64_t total = 0;
  for (std::uint64_t n : histogram) total += n;
  if (total == 0) return 0;
  const double wanted = share * static_cast<double>(total);
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < histogram.size(); ++i) {
    seen += histogram[i];
    if (static_cast<double>(seen) >= wanted) return static_cast<double>((i + 1) * media::kLatencyBucketMs);
  }
  return static_cast<double>(histogram.size() * media::kLatencyBucketMs);
}

double thread_cpu_s() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double process_cpu_s() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double heap_in_use_mb() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

// CPU seconds per frame of libavcodec's MPEG-4 decoder (one thread) and
// libswscale's yuv420p -> bgr24 on the clip, best of a few passes; the
// reference for what decoding and converting one frame costs.
double reference_cpu_per_frame(const clipkit::M4vClip& clip) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return 0;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  SwsContext* sws = sws_getContext(clip.width, clip.height, AV_PIX_FMT_YUV420P, clip.width, clip.height,
                                   AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
  std::vector<std::uint8_t> bgr(std::size_t{3} * clip.width * clip.height);
  double best = 0;
  if (ctx != nullptr && frame != nullptr && packet != nullptr && sws != nullptr) {
    ctx->thread_count = 1;
    ctx->extradata = static_cast<std::uint8_t*>(av_mallocz(clip.codec_data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, clip.codec_data.data(), clip.codec_data.size());
    ctx->extradata_size = static_cast<int>(clip.codec_data.size());
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
      std::vector<std::uint8_t> data;
      std::uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
      const int dst_stride[4] = {3 * clip.width, 0, 0, 0};
      for (int pass = 0; pass < 3; ++pass) {
        long frames = 0;
        const double t0 = thread_cpu_s();
        const auto take = [&] {
          while (avcodec_receive_frame(ctx, frame) == 0) {
            sws_scale(sws, frame->data, frame->linesize, 0, clip.height, dst, dst_stride);
            ++frames;
          }
        };
        for (const clipkit::Vop& vop : clip.vops) {
          data.assign(vop.bytes.begin(), vop.bytes.end());
          data.resize(vop.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
          packet->data = data.data();
          packet->size = static_cast<int>(vop.bytes.size());
          if (avcodec_send_packet(ctx, packet) < 0) break;
          take();
        }
        avcodec_flush_buffers(ctx);
        const double per_frame = (thread_cpu_s() - t0) / static_cast<double>(frames > 0 ? frames : 1);
        if (best == 0 || per_frame < best) best = per_frame;
      }
    }
  }
  sws_freeContext(sws);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return best;
}

// CPU seconds per frame of our own decoder and conversion alone on the clip,
// best of a few passes: what of our per-frame cost is decoding, the rest
// being the stream, the sound and the threads' waiting.
double our_decode_convert_per_frame(const clipkit::M4vClip& clip) {
  std::vector<std::uint8_t> input, yuv(std::size_t{3} * 640 * 480 / 2), rgb(std::size_t{3} * 640 * 480);
  double best = 0;
  for (int pass = 0; pass < 3; ++pass) {
    DECODER* d = decoder_create();
    if (d == nullptr) return 0;
    long frames = 0;
    const double t0 = thread_cpu_s();
    for (std::size_t i = 0; i < clip.vops.size(); ++i) {
      input.assign(clip.vops[i].bytes.begin(), clip.vops[i].bytes.end());
      if (i == 0) input.insert(input.begin(), clip.codec_data.begin(), clip.codec_data.end());
      std::int32_t status = 0;
      const int r = decoder_decode(d, yuv.data(), input.data(), input.size(), &status);
      d->deblocking_enabled = 0;
      if (r != kDecodeOk) continue;
      media::ConvertYUVtoRGB(yuv.data(), rgb.data(), d->width, d->height);
      ++frames;
    }
    const double per_frame = (thread_cpu_s() - t0) / static_cast<double>(frames > 0 ? frames : 1);
    (void)decoder_destroy(d);
    if (best == 0 || per_frame < best) best = per_frame;
  }
  return best;
}

// The same, but for `cameras` decoders taking turns frame by frame, each
// converting into its own three RGB buffers as a camera's pipeline does:
// what decoding costs once the cameras' pictures no longer share the cache.
double our_decode_convert_interleaved_per_frame(const clipkit::M4vClip& clip, int cameras) {
  struct One {
    DECODER* d = nullptr;
    std::vector<std::uint8_t> input, yuv, rgb[3];
  };
  std::vector<One> all(static_cast<std::size_t>(cameras));
  for (One& o : all) {
    o.d = decoder_create();
    if (o.d == nullptr) return 0;
    o.yuv.resize(std::size_t{3} * 640 * 480 / 2);
    for (auto& b : o.rgb) b.resize(std::size_t{3} * 640 * 480);
  }
  long frames = 0;
  const double t0 = thread_cpu_s();
  for (std::size_t i = 0; i < clip.vops.size(); ++i) {
    for (One& o : all) {
      o.input.assign(clip.vops[i].bytes.begin(), clip.vops[i].bytes.end());
      if (i == 0) o.input.insert(o.input.begin(), clip.codec_data.begin(), clip.codec_data.end());
      std::int32_t status = 0;
      const int r = decoder_decode(o.d, o.yuv.data(), o.input.data(), o.input.size(), &status);
      o.d->deblocking_enabled = 0;
      if (r != kDecodeOk) continue;
      media::ConvertYUVtoRGB(o.yuv.data(), o.rgb[i % 3].data(), o.d->width, o.d->height);
      ++frames;
    }
  }
  const double per_frame = (thread_cpu_s() - t0) / static_cast<double>(frames > 0 ? frames : 1);
  for (One& o : all) (void)decoder_destroy(o.d);
  return per_frame;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int cameras = 8;
  int visible = -1;  // all
  bool audio = true;
  bool idle = false;
  int view_width = 0, view_height = 0;  // 0: drawn at the picture's own size
  std::string clip_prefix;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--cameras" && i + 1 < argc) {
      cameras = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--visible" && i + 1 < argc) {
      visible = std::max(0, std::atoi(argv[++i]));
    } else if (a == "--clip" && i + 1 < argc) {
      clip_prefix = argv[++i];
    } else if (a == "--no-audio") {
      audio = false;
    } else if (a == "--idle") {
      idle = true;
    } else if (a == "--view" && i + 1 < argc && std::sscanf(argv[i + 1], "%dx%d", &view_width, &view_height) == 2) {
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: bench_cameras [--seconds N] [--cameras N] [--visible N] [--view WxH] [--clip PREFIX] "
                   "[--no-audio] [--idle]\n");
      return 2;
    }
  }
  if (visible < 0 || visible > cameras) visible = cameras;

  std::optional<test_support::TempDir> scratch;
  try {
    scratch.emplace("bench-cameras");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (clip_prefix.empty()) clip_prefix = bench::make_vga30(*scratch);
  if (clip_prefix.empty()) {
    std::fprintf(stderr, "ffmpeg could not make the 30 frames/s clip; using the 15 frames/s one\n");
    clip_prefix = std::string(CAMVIEWER_CLIPS_DIR) + "/vga";
  }
  clipkit::M4vClip clip;
  std::string error;
  if (!clipkit::load_m4v_file(clip_prefix + ".m4v", &clip, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double fps = 1000.0 * static_cast<double>(clip.vops.size()) / clip.duration_ms;

  test_support::CamsimProcess camsim(camsim_args(clip_prefix, cameras, audio, idle));
  if (!camsim.ready() || static_cast<int>(camsim.ports().size()) != cameras) {
    std::fprintf(stderr, "camsim did not start\n");
    return 1;
  }

  media::init_YUV2RGB_tab();
  platform::ScopedHeadlessUi ui;
  const double heap_before = heap_in_use_mb();
  {
    std::vector<std::unique_ptr<media::CameraMedia>> media;
    std::vector<std::unique_ptr<net::CameraStream>> streams;
    for (int i = 0; i < cameras; ++i) {
      media.push_back(std::make_unique<media::CameraMedia>());
      if (i < visible && view_width > 0 && view_height > 0)
        media.back()->video.set_view_size(view_width, view_height);
      else
        media.back()->video.set_wanted(i < visible);
      // An idle camera is left connected for the whole run.
      streams.push_back(std::make_unique<net::CameraStream>(0, idle ? 60 : 5));
      streams.back()->set_sinks(media.back()->sinks());
      streams.back()->set_account(
          {"127.0.0.1", std::to_string(camsim.ports()[static_cast<std::size_t>(i)]), "admin", "admin"});
      if (streams.back()->start() != net::kStartOk) {
        std::fprintf(stderr, "camera %d did not start\n", i);
        return 1;
      }
    }
    const auto presented = [&] {
      std::uint64_t n = 0;
      for (const auto& m : media) n += m->video.frames_presented();
      return n;
    };
    // Until every camera shows pictures, and a little more for the sound.
    const auto deadline = Clock::now() + std::chrono::seconds(20 + cameras / 4);
    for (;;) {
      bool all = true;
      if (idle) {
        for (const auto& st : streams) all = all && st->connected() && st->header_length() > 0;
      } else {
        for (const auto& m : media) all = all && m->video.frames_presented() > 0;
      }
      if (all) break;
      if (Clock::now() > deadline) {
        std::fprintf(stderr, "not every camera showed a picture\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const double buffers_mb = heap_in_use_mb() - heap_before;
    std::size_t pipeline_bytes = 0;
    for (const auto& m : media) pipeline_bytes += m->video.buffer_bytes();

    const std::uint64_t frames0 = presented();
    std::uint64_t dropped0 = 0, by_stream0 = 0, held0 = 0;
    for (const auto& m : media) {
      dropped0 += m->video.frames_dropped();
      by_stream0 += m->video.frames_decoded_by_stream();
      held0 += m->video.frames_held();
    }
    std::array<std::uint64_t, media::kLatencyBuckets> latency0{};
    for (const auto& m : media) {
      const auto h = m->video.latency_histogram();
      for (std::size_t b = 0; b < h.size(); ++b) latency0[b] += h[b];
    }
    // The references are measured on this thread at the start, at each
    // third and at the end of the window, while the cameras run: this
    // machine's speed drifts by a fifth from minute to minute, and a
    // reference taken at another time than the cameras' own measurement
    // would carry that drift into the ratio. Their CPU time is taken out of
    // the process's.
    std::vector<double> references, decode_onlys;
    double sampling_cpu = 0;
    const auto sample_references = [&] {
      const double t0 = thread_cpu_s();
      references.push_back(reference_cpu_per_frame(clip));
      decode_onlys.push_back(our_decode_convert_per_frame(clip));
      sampling_cpu += thread_cpu_s() - t0;
    };
    const std::uint64_t switches0 = context_switches();
    const double cpu0 = process_cpu_s();
    const auto wall0 = Clock::now();
    sample_references();
    for (int third = 1; third <= 3; ++third) {
      std::this_thread::sleep_until(wall0 + std::chrono::milliseconds(1000LL * seconds * third / 3));
      sample_references();
    }
    const double cpu = process_cpu_s() - cpu0 - sampling_cpu;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const std::uint64_t switches = context_switches() - switches0;
    std::array<std::uint64_t, media::kLatencyBuckets> latency{};
    for (const auto& m : media) {
      const auto h = m->video.latency_histogram();
      for (std::size_t b = 0; b < h.size(); ++b) latency[b] += h[b];
    }
    for (std::size_t b = 0; b < latency.size(); ++b) latency[b] -= latency0[b];
    const std::uint64_t frames = presented() - frames0;
    std::uint64_t dropped = 0, failed = 0, by_stream = 0, held = 0;
    for (const auto& m : media) {
      dropped += m->video.frames_dropped();
      failed += m->video.frames_failed();
      by_stream += m->video.frames_decoded_by_stream();
      held += m->video.frames_held();
    }
    dropped -= dropped0;
    by_stream -= by_stream0;
    held -= held0;
    bool all_connected = true;
    for (const auto& s : streams) all_connected = all_connected && s->connected();

    for (auto& s : streams) s->stop();

    const auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v.empty() ? 0.0 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
    };
    const double reference = median(references);
    const double decode_only = median(decode_onlys);
    const double decode_interleaved = our_decode_convert_interleaved_per_frame(clip, cameras);
    const double ours = frames > 0 ? cpu / static_cast<double>(frames) : 0;
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);

    std::printf("cameras: %d\n", cameras);
    std::printf("visible: %d\n", visible);
    if (view_width > 0) std::printf("view: %dx%d\n", view_width, view_height);
    std::printf("audio: %s\n", audio ? "yes" : "no");
    std::printf("idle: %s\n", idle ? "yes" : "no");
    std::printf("picture: %dx%d\n", clip.width, clip.height);
    std::printf("clip_fps: %.1f\n", fps);
    std::printf("seconds: %.1f\n", wall);
    std::printf("frames_presented: %llu\n", static_cast<unsigned long long>(frames));
    std::printf("presented_fps_per_camera: %.2f\n", static_cast<double>(frames) / wall / cameras);
    std::printf("frames_dropped: %llu\n", static_cast<unsigned long long>(dropped));
    std::printf("frames_failed: %llu\n", static_cast<unsigned long long>(failed));
    std::printf("frames_held_for_sound: %llu\n", static_cast<unsigned long long>(held));
    std::printf("frames_decoded_by_stream_thread: %.2f\n",
                frames > 0 ? static_cast<double>(by_stream) / static_cast<double>(frames) : 0.0);
    std::printf("all_connected: %s\n", all_connected ? "yes" : "no");
    std::printf("cpu_cores: %.3f\n", cpu / wall);
    std::printf("buffers_mb: %.1f\n", buffers_mb);
    std::printf("buffers_mb_per_camera: %.2f\n", buffers_mb / cameras);
    std::printf("wakeups_per_second: %.1f\n", static_cast<double>(switches) / wall);
    std::printf("latency_p50_ms: %.0f\n", latency_percentile(latency, 0.50));
    std::printf("latency_p99_ms: %.0f\n", latency_percentile(latency, 0.99));
    std::printf("pipeline_buffers_mb: %.1f\n", static_cast<double>(pipeline_bytes) / (1024.0 * 1024.0));
    std::printf("peak_rss_mb: %.1f\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
    std::printf("our_cpu_ms_per_frame: %.3f\n", ours * 1000.0);
    std::printf("our_decode_convert_ms_per_frame: %.3f\n", decode_only * 1000.0);
    std::printf("our_decode_convert_interleaved_ms_per_frame: %.3f\n", decode_interleaved * 1000.0);
    std::printf("reference_cpu_ms_per_frame: %.3f\n", reference * 1000.0);
    std::printf("reference_cpu_ms_per_frame_min: %.3f\n",
                *std::min_element(references.begin(), references.end()) * 1000.0);
    std::printf("reference_cpu_ms_per_frame_max: %.3f\n",
                *std::max_element(references.begin(), references.end()) * 1000.0);
    std::printf("decode_convert_ratio: %.2f\n", reference > 0 ? decode_only / reference : 0.0);
    std::printf("reference: libavcodec mpeg4 (thread_count 1) + libswscale yuv420p->bgr24, same clip\n");
    std::printf("ratio: %.2f\n", reference > 0 ? ours / reference : 0.0);
  }
  platform::release_sound_device();
  media::delete_YUV2RGB_tab();
  return 0;
}
