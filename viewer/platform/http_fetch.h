// One-shot HTTP GET of a whole reply body.
//
// Used for the dynamic-DNS look-up of a camera name (its reply carries
// "URL=http://host:port") and for a camera's information page. Each use
// creates its own HttpFetcher, fetches once or a few times, and destroys it.
//
// Outcomes of fetch(url):
//   - nothing (std::nullopt): no URL given (last_error() is then -1), the
//     server did not begin to answer within 300 ms + send_wait_ms of the
//     start (it accepted the connection and then stayed silent), or cancel()
//     was called;
//   - an empty text: the connection was refused, the host is unknown, the
//     request could not be sent, or the body is empty;
//   - otherwise the body as received, whatever the HTTP status, zero bytes
//     included (callers search text that may follow a zero byte).
// A body is cut at 16 MiB; a body that stalls for send_wait_ms after the
// answer began ends there with what has arrived.
//
// The transfer runs on the calling thread through libcurl's multi interface
// and is checked at least every 50 ms, so a transfer past its deadline or
// cancelled is aborted and cleaned up before fetch returns: no worker thread
// is left behind.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Initialises libcurl for the process. Call once from main() before any
// thread starts (the tests do so too); later calls do nothing. False when
// libcurl could not be initialised (every fetch then gives an empty text).
[[nodiscard]] bool http_global_init();

inline constexpr int kHttpSendWaitMs = 30000;

class HttpFetcher {
 public:
  explicit HttpFetcher(int send_wait_ms = kHttpSendWaitMs);
  ~HttpFetcher();
  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // GETs url ("http://host[:port]/path") and returns the body; see above.
  // Blocks the calling thread; one fetch at a time per fetcher.
  [[nodiscard]] std::optional<std::string> fetch(std::string_view url);

  // Makes a running or later fetch of this fetcher return nothing at once.
  // Any thread.
  void cancel();

  // -1 after a fetch without URL, else 0.
  int last_error() const { return last_error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int send_wait_ms_;
  int last_error_ = 0;
};

}  // namespace platform
