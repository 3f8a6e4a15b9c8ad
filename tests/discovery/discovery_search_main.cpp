// Runs one camera search and prints what it found, one camera a line, then
// how long it took. The namespace tests start it inside a private network
// namespace; it is never meant to run on a real network by a test.
//
//   discovery_search [--broadcast A.B.C.D] [--port N] [--wait-ms N] [--cancel-after-ms N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "viewer/net/discovery.h"

int main(int argc, char** argv) {
  net::DiscoveryOptions options;
  net::SearchCancel cancel;
  int cancel_after_ms = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--broadcast") == 0) {
      options.broadcast_address = argv[i + 1];
    } else if (std::strcmp(argv[i], "--port") == 0) {
      options.port = static_cast<std::uint16_t>(std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--wait-ms") == 0) {
      options.reply_wait_ms = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--cancel-after-ms") == 0) {
      cancel_after_ms = std::atoi(argv[i + 1]);
      options.cancel = &cancel;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  net::Discovery discovery;
  (void)discovery.start();
  auto block = std::make_unique<net::DiscoveredCameraBlock>();
  int count = 0;
  const auto t0 = std::chrono::steady_clock::now();
  // Another thread cancels, as the camera dialog does when it is closed.
  std::thread canceller;
  if (cancel_after_ms >= 0) {
    canceller = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(cancel_after_ms));
      cancel.cancel();
    });
  }
  (void)discovery.search(*block, count, options);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  if (canceller.joinable()) canceller.join();
  for (int i = 0; i < count; ++i) {
    const net::DiscoveredCamera& r = (*block)[i];
    std::printf("camera %s|%s|%s|%s|%d\n", r.mac, r.name, r.description, r.address, r.port);
  }
  std::printf("count %d\nelapsed_ms %lld\n", count, static_cast<long long>(ms));
  discovery.finish();
  return 0;
}
