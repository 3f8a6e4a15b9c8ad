// streamprobe --port P --user U --password W [--seconds N] [host]
//
// Streams one camera through CameraStream into queue sinks that only count
// what they get, and prints once a second: whether it is connected, the
// stream header's size, video frames per second and key frames, audio
// blocks, data packets handed to the recording side, and any message the stream
// would have shown the user. Ends after N seconds (default 10; 0 runs until
// interrupted) or on Ctrl-C. Exit status 0 when video frames arrived.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "viewer/net/camera_stream.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/http_fetch.h"
#include "viewer/platform/tick.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void on_signal(int) { g_interrupted = 1; }

void usage() { std::fprintf(stderr, "usage: streamprobe --port P --user U --password W [--seconds N] [host]\n"); }

struct Counts {
  std::uint64_t frames = 0, key_frames = 0, video_bytes = 0, blocks = 0, packets = 0, packet_bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  net::CameraAccount account;
  account.address = "127.0.0.1";
  int seconds = 10;
  bool have_port = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--port" && value(&account.port)) {
      have_port = true;
    } else if (a == "--user" && value(&account.user)) {
    } else if (a == "--password" && value(&account.password)) {
    } else if (a == "--seconds" && value(&v)) {
      seconds = std::atoi(v.c_str());
    } else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] != '-') {
      account.address = a;
    } else {
      usage();
      return 2;
    }
  }
  if (!have_port) {
    usage();
    return 2;
  }
  if (!platform::http_global_init()) std::fprintf(stderr, "streamprobe: libcurl could not be initialised\n");
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);

  platform::ScopedHeadlessUi ui;
  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  net::QueuePacketSink recorder;  // counts the packets handed to the recording side
  net::StreamSinks sinks;
  sinks.video = &video;
  sinks.audio = &audio;
  sinks.recording = &recorder;

  net::CameraStream stream(1, 30);
  stream.set_sinks(sinks);
  stream.set_account(account);
  std::printf("streamprobe: %s port %s as %s\n", account.address.c_str(),
              account.port.empty() ? "(dynamic DNS)" : account.port.c_str(), account.user.c_str());
  if (stream.start() != net::kStartOk) {
    std::fprintf(stderr, "streamprobe: the stream could not be started\n");
    return 1;
  }

  Counts total, last_second;
  std::size_t messages_seen = 0;
  const std::uint32_t t0 = platform::tick_ms();
  std::uint32_t next_report = t0 + 1000;
  int reports = 0;
  while (!g_interrupted && (seconds <= 0 || reports < seconds)) {
    // The queues are emptied often, as the real consumers would.
    while (auto f = video.queue().take_front()) {
      ++last_second.frames;
      if (f->marker() == net::kMarkerVideoKey) ++last_second.key_frames;
      last_second.video_bytes += f->length();
    }
    while (audio.queue().take_front()) ++last_second.blocks;
    while (auto p = recorder.queue().take_front()) {
      ++last_second.packets;
      last_second.packet_bytes += p->length();
    }

    const auto shown = ui->shown();
    for (; messages_seen < shown.size(); ++messages_seen) {
      std::printf("message box: \"%s\" (caption \"%s\")\n", shown[messages_seen].text.c_str(),
                  shown[messages_seen].caption.c_str());
    }

    const std::uint32_t now = platform::tick_ms();
    if (static_cast<std::int32_t>(now - next_report) >= 0) {
      ++reports;
      next_report += 1000;
      std::printf(
          "%3ds connected=%d state=%d header=%u frames/s=%llu key=%llu video-bytes=%llu audio-blocks=%llu "
          "packets=%llu (%llu bytes)\n",
          reports, stream.connected() ? 1 : 0, stream.connection_state(), stream.header_length(),
          static_cast<unsigned long long>(last_second.frames), static_cast<unsigned long long>(last_second.key_frames),
          static_cast<unsigned long long>(last_second.video_bytes), static_cast<unsigned long long>(last_second.blocks),
          static_cast<unsigned long long>(last_second.packets),
          static_cast<unsigned long long>(last_second.packet_bytes));
      std::fflush(stdout);
      total.frames += last_second.frames;
      total.key_frames += last_second.key_frames;
      total.blocks += last_second.blocks;
      total.packets += last_second.packets;
      last_second = Counts{};
      if (stream.connection_state() == net::kStateRefused && !stream.running()) break;
    }
    platform::sleep_ms(5);
  }
  stream.stop();
  std::printf("total: %llu frames (%llu key), %llu audio blocks, %llu packets in %.1f s; %d connection(s) set up\n",
              static_cast<unsigned long long>(total.frames), static_cast<unsigned long long>(total.key_frames),
              static_cast<unsigned long long>(total.blocks), static_cast<unsigned long long>(total.packets),
              platform::tick_elapsed(t0, platform::tick_ms()) / 1000.0, video.setups());
  return total.frames > 0 ? 0 : 1;
}
