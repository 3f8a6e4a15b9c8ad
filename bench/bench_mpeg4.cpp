// Speed of our MPEG-4 video decoder against ffmpeg's own (libavcodec, in
// process, one thread) on the same 640 x 480 elementary stream held in
// memory: the cameras' 18-byte VO + VOL header and bare VOPs, fed to both.
// Also counts heap allocations made while our decoder decodes.
//
// Prints name: value lines; ratio = our frames per second / ffmpeg's, each
// from its fastest of PASSES alternating passes over the clip.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include "support/child_process.h"
#include "support/files.h"
#include "tools/clipkit/m4v.h"
#include "viewer/media/mpeg4/decoder.h"

// --- allocation counting -------------------------------------------------
// glibc lets a program replace the allocator; every replacement forwards to
// glibc's own and counts calls while counting is on.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
bool g_counting = false;
long g_allocations = 0;
inline void count() {
  if (g_counting) ++g_allocations;
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  count();
  return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
  count();
  return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
  count();
  return __libc_realloc(p, n);
}
void* memalign(size_t alignment, size_t n) {
  count();
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  count();
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  count();
  void* p = __libc_memalign(alignment, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Decodes the whole clip with our decoder `passes` times; returns seconds.
double time_ours(const clipkit::M4vClip& clip, int passes, long* allocations_per_frame) {
  std::vector<uint8_t> first(clip.codec_data.begin(), clip.codec_data.end());
  first.insert(first.end(), clip.vops[0].bytes.begin(), clip.vops[0].bytes.end());
  std::vector<uint8_t> picture(static_cast<size_t>(clip.width) * clip.height * 3 / 2);
  double total = 0;
  long allocations = 0;
  long frames = 0;
  for (int pass = 0; pass < passes; ++pass) {
    DECODER* d = decoder_create();
    if (d == nullptr) return -1;
    d->deblocking_enabled = 0;
    int32_t status = 0;
    const Clock::time_point start = Clock::now();
    g_allocations = 0;
    g_counting = true;
    for (size_t i = 0; i < clip.vops.size(); ++i) {
      const std::vector<uint8_t>& in = i == 0 ? first : clip.vops[i].bytes;
      if (decoder_decode(d, picture.data(), in.data(), in.size(), &status) != kDecodeOk) {
        g_counting = false;
        std::fprintf(stderr, "our decoder failed at frame %zu\n", i);
        return -1;
      }
    }
    g_counting = false;
    total += seconds_since(start);
    allocations += g_allocations;
    frames += static_cast<long>(clip.vops.size());
    (void)decoder_destroy(d);
  }
  *allocations_per_frame = frames > 0 ? allocations / frames : 0;
  return total;
}

// Decodes the whole clip with libavcodec's MPEG-4 decoder, one thread.
double time_ffmpeg(const clipkit::M4vClip& clip, int passes) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return -1;
  double total = 0;
  for (int pass = 0; pass < passes; ++pass) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(clip.codec_data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, clip.codec_data.data(), clip.codec_data.size());
    ctx->extradata_size = static_cast<int>(clip.codec_data.size());
    if (avcodec_open2(ctx, codec, nullptr) < 0) return -1;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    // Packets with ffmpeg's required padding, prepared outside the timing.
    std::vector<std::vector<uint8_t>> padded;
    for (const clipkit::Vop& vop : clip.vops) {
      std::vector<uint8_t> p(vop.bytes);
      p.resize(p.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      padded.push_back(std::move(p));
    }
    long frames = 0;
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < padded.size(); ++i) {
      packet->data = padded[i].data();
      packet->size = static_cast<int>(clip.vops[i].bytes.size());
      if (avcodec_send_packet(ctx, packet) < 0) break;
      while (avcodec_receive_frame(ctx, frame) == 0) ++frames;
    }
    avcodec_send_packet(ctx, nullptr);
    while (avcodec_receive_frame(ctx, frame) == 0) ++frames;
    total += seconds_since(start);
    if (frames != static_cast<long>(clip.vops.size()))
      std::fprintf(stderr, "ffmpeg gave %ld of %zu frames\n", frames, clip.vops.size());
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
  }
  return total;
}

bool make_clip(const std::string& dir, clipkit::M4vClip* clip) {
  const std::string es = dir + "/bench.m4v";
  const test_support::RunResult made = test_support::run_command({"ffmpeg",
                                                                  "-hide_banner",
                                                                  "-loglevel",
                                                                  "error",
                                                                  "-nostdin",
                                                                  "-y",
                                                                  "-f",
                                                                  "lavfi",
                                                                  "-i",
                                                                  "testsrc2=size=640x480:rate=25",
                                                                  "-t",
                                                                  "4",
                                                                  "-c:v",
                                                                  "mpeg4",
                                                                  "-bf",
                                                                  "0",
                                                                  "-threads",
                                                                  "1",
                                                                  "-sc_threshold",
                                                                  "1000000000",
                                                                  "-g",
                                                                  "25",
                                                                  "-q:v",
                                                                  "4",
                                                                  "-f",
                                                                  "m4v",
                                                                  es},
                                                                 test_support::Stderr::Inherit);
  if (made.status != 0) return false;
  std::string error;
  if (!clipkit::load_m4v_file(es, clip, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  return true;
}

// The machine is shared: the two decoders take turns, one pass over the
// clip each, and each keeps its fastest pass (other work only ever slows a
// pass down), so that both are measured under the same conditions.
void report(const char* name, const clipkit::M4vClip& clip, int passes, bool main_figures) {
  long allocations_per_frame = 0;
  // Warm up both once, then measure.
  time_ours(clip, 1, &allocations_per_frame);
  time_ffmpeg(clip, 1);
  double ours = 1e30, theirs = 1e30;
  for (int pass = 0; pass < passes; ++pass) {
    ours = std::min(ours, time_ours(clip, 1, &allocations_per_frame));
    theirs = std::min(theirs, time_ffmpeg(clip, 1));
  }
  if (ours <= 0 || theirs <= 0) {
    std::printf("%s_error: decode failed\n", name);
    return;
  }
  const double frames = static_cast<double>(clip.vops.size());
  const double ours_fps = frames / ours, theirs_fps = frames / theirs;
  std::printf("%s_frames: %zu\n", name, clip.vops.size());
  std::printf("%s_ours_fps: %.1f\n", name, ours_fps);
  std::printf("%s_ffmpeg_fps: %.1f\n", name, theirs_fps);
  std::printf("%s_ratio: %.3f\n", name, ours_fps / theirs_fps);
  if (main_figures) {
    std::printf("ours_fps: %.1f\n", ours_fps);
    std::printf("ffmpeg_fps: %.1f\n", theirs_fps);
    std::printf("ratio: %.3f\n", ours_fps / theirs_fps);
    std::printf("allocs_per_frame: %ld\n", allocations_per_frame);
  }
}

}  // namespace

// bench_mpeg4 [PASSES] [--ours | --ffmpeg]: with --ours or --ffmpeg only
// that decoder runs, once over the clip without warm-up, so that
// instruction counters (valgrind --tool=callgrind) see one decoder alone.
int main(int argc, char** argv) {
  int passes = 20;
  bool ours_only = false, ffmpeg_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ours") == 0)
      ours_only = true;
    else if (std::strcmp(argv[i], "--ffmpeg") == 0)
      ffmpeg_only = true;
    else
      passes = std::max(1, std::atoi(argv[i]));
  }
  clipkit::M4vClip clip;
  bool made = false;
  try {
    const test_support::TempDir dir("bench_mpeg4");
    made = make_clip(dir.path(), &clip);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (!made) {
    std::printf("error: could not make the 640x480 clip with ffmpeg\n");
    return 1;
  }
  if (ours_only || ffmpeg_only) {
    long allocations_per_frame = 0;
    const double seconds = ours_only ? time_ours(clip, passes, &allocations_per_frame) : time_ffmpeg(clip, passes);
    if (seconds <= 0) return 1;
    std::printf("%s_fps: %.1f\n", ours_only ? "ours" : "ffmpeg",
                static_cast<double>(clip.vops.size()) * passes / seconds);
    return 0;
  }
  std::printf("reference: libavcodec mpeg4 decoder in process, thread_count 1\n");
  std::printf("clip: testsrc2 640x480, 25 fps, 4 s, -q:v 4, I-VOP every 25\n");
  report("vga_q4", clip, passes, true);

  // The committed camera clip (lower bit rate, 15 fps).
  clipkit::M4vClip camera;
  std::string error;
  if (clipkit::load_m4v_file(std::string(CAMVIEWER_CLIPS_DIR) + "/vga.m4v", &camera, &error))
    report("camsim_vga", camera, passes, false);
  return 0;
}
