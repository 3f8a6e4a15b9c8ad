#include "viewer/platform/http_fetch.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

// What the system has always called itself towards dynamic-DNS servers.
constexpr const char* kAgent = "DDNS HTTP Poster 1.0";
constexpr std::size_t kMaxBody = 16u * 1024u * 1024u;
constexpr int kPollMs = 50;

bool g_curl_ok = false;
std::once_flag g_curl_once;

struct Transfer {
  std::string body;
  bool answered = false;  // a header line or body byte has arrived
  bool truncated = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  t->answered = true;
  const size_t room = kMaxBody - t->body.size();
  if (n > room) {
    t->body.append(data, room);
    t->truncated = true;
    return 0;  // ends the transfer; what fits is kept
  }
  t->body.append(data, n);
  return n;
}

size_t on_header(char*, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->answered = true;
  return size * count;
}

// Loopback is never sent through a proxy, whatever the environment says.
std::string no_proxy_list() {
  std::string list = "localhost,127.0.0.0/8,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* v = std::getenv(name); v != nullptr && *v != '\0') {
      list += ',';
      list += v;
      break;
    }
  }
  return list;
}

}  // namespace

bool http_global_init() {
  std::call_once(g_curl_once, [] { g_curl_ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return g_curl_ok;
}

struct HttpFetcher::Impl {
  CURLM* multi = nullptr;
  std::atomic<bool> cancelled{false};
  std::mutex wake_mutex;  // guards multi against wakeups during destruction
};

HttpFetcher::HttpFetcher(int send_wait_ms)
    : impl_(std::make_unique<Impl>()), send_wait_ms_(send_wait_ms < 0 ? 0 : send_wait_ms) {
  if (http_global_init()) impl_->multi = curl_multi_init();
}

HttpFetcher::~HttpFetcher() {
  std::lock_guard lock(impl_->wake_mutex);
  if (impl_->multi) curl_multi_cleanup(impl_->multi);
  impl_->multi = nullptr;
}

void HttpFetcher::cancel() {
  impl_->cancelled.store(true);
  std::lock_guard lock(impl_->wake_mutex);
  if (impl_->multi) curl_multi_wakeup(impl_->multi);
}

std::optional<std::string> HttpFetcher::fetch(std::string_view url) {
  if (url.empty()) {
    last_error_ = -1;
    return std::nullopt;
  }
  last_error_ = 0;
  if (impl_->cancelled.load()) return std::nullopt;
  if (impl_->multi == nullptr) return std::string();

  CURL* easy = curl_easy_init();
  if (easy == nullptr) return std::string();

  using Clock = std::chrono::steady_clock;
  // The answer must begin within 300 ms plus the send wait: the time the
  // request was always allowed before it counted as lost.
  const auto deadline = Clock::now() + std::chrono::milliseconds(300 + send_wait_ms_);
  const long wait_ms = 300L + send_wait_ms_;
  const std::string target(url);
  const std::string no_proxy = no_proxy_list();
  Transfer t;

  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kAgent);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L);
  curl_easy_setopt(easy, CURLOPT_NOPROXY, no_proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, wait_ms);
  // A body that stops arriving ends the transfer with what came so far.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(send_wait_ms_ / 1000 > 0 ? send_wait_ms_ / 1000 : 1));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);

  bool timed_out = false;
  bool cancelled = false;
  if (curl_multi_add_handle(impl_->multi, easy) == CURLM_OK) {
    for (;;) {
      int running = 0;
      if (curl_multi_perform(impl_->multi, &running) != CURLM_OK) break;
      if (running == 0) break;
      if (impl_->cancelled.load()) {
        cancelled = true;
        break;
      }
      if (!t.answered && Clock::now() >= deadline) {
        timed_out = true;
        break;
      }
      if (curl_multi_poll(impl_->multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK) break;
    }
    // Removing the handle aborts a transfer still in progress and closes
    // its connection, so nothing outlives this call.
    curl_multi_remove_handle(impl_->multi, easy);
  }
  curl_easy_cleanup(easy);

  if (timed_out || cancelled) return std::nullopt;
  return std::move(t.body);
}

}  // namespace platform
