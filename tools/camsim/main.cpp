// camsim: simulated network cameras for the viewer's tests and demo.
// See usage_text() in options.cpp (camsim --help) and README.md here.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <map>
#include <memory>

#include "tools/camsim/discovery.h"
#include "tools/camsim/http.h"
#include "tools/camsim/options.h"
#include "tools/camsim/server.h"

namespace {

int run(const camsim::Config& config) {
  // Signals are taken by sigwait() below, on this thread only: block them
  // before any thread starts so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::map<std::string, std::unique_ptr<clipkit::Clip>> clips;  // one copy per distinct clip
  for (const auto& camera : config.cameras) {
    const std::string prefix = camsim::resolve_clip_prefix(camera.clip);
    if (clips.count(prefix)) continue;
    auto clip = std::make_unique<clipkit::Clip>();
    std::string error;
    if (!clipkit::load_clip(prefix, clip.get(), &error)) {
      std::fprintf(stderr, "camsim: %s\n", error.c_str());
      return 1;
    }
    clips[prefix] = std::move(clip);
  }

  camsim::Stopper stop;
  camsim::ServerSettings settings;
  settings.fast = config.fast;
  settings.verbose = config.verbose;
  settings.ddns_path = config.ddns_path;

  // Declared in this order so that they are destroyed (and joined) before
  // the settings and clips they read.
  std::vector<std::unique_ptr<camsim::CameraServer>> cameras;
  std::unique_ptr<camsim::DdnsServer> ddns;
  std::unique_ptr<camsim::DiscoveryResponder> discovery;
  auto fail = [&](const std::string& error) {
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    stop.fire();
    return 1;
  };

  std::string error;
  for (size_t i = 0; i < config.cameras.size(); ++i) {
    const auto& camera = config.cameras[i];
    cameras.push_back(std::make_unique<camsim::CameraServer>(
        static_cast<int>(i + 1), camera, *clips[camsim::resolve_clip_prefix(camera.clip)], settings, stop));
    if (!cameras.back()->open(config.bind_address, &error)) return fail(error);
  }
  if (config.ddns_port_set) {
    ddns = std::make_unique<camsim::DdnsServer>(settings, stop);
    if (!ddns->open(config.bind_address, config.ddns_port, &error)) return fail(error);
  }
  if (config.discovery) {
    discovery = std::make_unique<camsim::DiscoveryResponder>(config, stop);
    if (!discovery->open(&error)) return fail(error);
  }
  const std::string host = config.ddns_host.empty() ? config.bind_address : config.ddns_host;
  settings.ddns_reply =
      camsim::simple_response(200, "text/html", camsim::ddns_body(host, cameras[config.ddns_target - 1]->port()));

  for (const auto& camera : cameras) std::printf("listening %s:%u\n", config.bind_address.c_str(), camera->port());
  if (ddns) std::printf("ddns %s:%u\n", config.bind_address.c_str(), ddns->port());
  if (discovery)
    std::printf("discovery %s:%u\n",
                (config.discovery_bind.empty() ? config.bind_address : config.discovery_bind).c_str(),
                discovery->port());
  for (const auto& camera : cameras) camera->start();
  if (ddns) ddns->start();
  if (discovery) discovery->start();
  std::printf("ready\n");
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&signals, &signal_number);
  if (config.verbose) std::fprintf(stderr, "camsim: signal %d, stopping\n", signal_number);
  stop.fire();
  return 0;  // the servers join their threads as they go
}

}  // namespace

int main(int argc, char** argv) {
  camsim::Config config;
  std::string error;
  switch (camsim::parse_args(argc, argv, &config, &error)) {
    case camsim::ParseResult::kHelp:
      std::fputs(camsim::usage_text().c_str(), stdout);
      return 0;
    case camsim::ParseResult::kError:
      std::fprintf(stderr, "camsim: %s\n", error.c_str());
      return 2;
    case camsim::ParseResult::kRun:
      break;
  }
  return run(config);
}
