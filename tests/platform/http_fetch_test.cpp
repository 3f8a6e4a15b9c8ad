#include "viewer/platform/http_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/loopback_server.h"
#include "support/netns.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class HttpFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(platform::http_global_init()); }
};

std::string url(const testnet::LoopbackServer& s, const std::string& path = "/") {
  return "http://127.0.0.1:" + s.port_text() + path;
}

TEST_F(HttpFetch, LargeBodyArrivesCompleteInOrderWithZeroBytes) {
  std::string body;
  for (int i = 0; i < 30000; ++i) body.push_back(static_cast<char>(i % 251));  // holds zero bytes
  body += "camerainfo=after-zero";
  std::string request;
  testnet::LoopbackServer server([&](testnet::Conn& c, int index) {
    request = c.read_request(0);
    if (index == 0) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    } else {
      // No length: the body ends when the server closes, sent in small pieces.
      c.send(std::string("HTTP/1.0 200 OK\r\n\r\n"));
      for (std::size_t at = 0; at < body.size(); at += 1000) c.send(body.substr(at, 1000));
    }
  });
  platform::HttpFetcher f;
  const auto first = f.fetch(url(server, "/util/util2.cgi"));
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, body);
  EXPECT_NE(request.find("GET /util/util2.cgi HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(request.find("User-Agent: DDNS HTTP Poster 1.0\r\n"), std::string::npos);
  const auto second = f.fetch(url(server));
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, body);
  EXPECT_EQ(f.last_error(), 0);
}

TEST_F(HttpFetch, BodyOfAnErrorStatusIsStillTheReply) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) {
    c.read_request(0);
    c.send(std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!"));
  });
  platform::HttpFetcher f;
  EXPECT_EQ(f.fetch(url(server)), std::optional<std::string>("not here!"));
}

TEST_F(HttpFetch, EmptyBodyAndRefusedConnectionGiveAnEmptyReply) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) {
    c.read_request(0);
    c.send(std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  });
  platform::HttpFetcher f;
  EXPECT_EQ(f.fetch(url(server)), std::optional<std::string>(""));
  const auto t0 = Clock::now();
  EXPECT_EQ(f.fetch("http://127.0.0.1:" + std::to_string(testnet::closed_port()) + "/"),
            std::optional<std::string>(""));
  EXPECT_LT(ms_since(t0), 3000);
}

TEST_F(HttpFetch, UnknownHostGivesAnEmptyReply) {
  // In a namespace of our own the look-up fails without asking a real server.
  const int rc = testnet::run_in_private_netns([] {
    platform::HttpFetcher f(2000);
    const auto r = f.fetch("http://no-such-camera.invalid/");
    return r && r->empty() ? 0 : 1;
  });
  if (rc == testnet::kNoNamespace) GTEST_SKIP() << "no private network namespace here";
  EXPECT_EQ(rc, 0);
}

TEST_F(HttpFetch, SilentServerMakesTheFetchReturnNothing) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) { c.hold(); });
  platform::HttpFetcher f(400);  // 300 ms + 400 ms instead of 300 ms + 30 s
  const auto t0 = Clock::now();
  EXPECT_FALSE(f.fetch(url(server)));
  const long took = ms_since(t0);
  EXPECT_GE(took, 650);
  EXPECT_LT(took, 3000);
  // Nothing of the abandoned transfer is left: the next fetch works normally.
  testnet::LoopbackServer ok([](testnet::Conn& c, int) {
    c.read_request(0);
    c.send(std::string("HTTP/1.0 200 OK\r\n\r\nfine"));
  });
  EXPECT_EQ(f.fetch(url(ok)), std::optional<std::string>("fine"));
}

TEST_F(HttpFetch, MissingUrlAndCancelReturnNothing) {
  platform::HttpFetcher f;
  EXPECT_FALSE(f.fetch(""));
  EXPECT_EQ(f.last_error(), -1);

  testnet::LoopbackServer server([](testnet::Conn& c, int) { c.hold(); });
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    f.cancel();
  });
  const auto t0 = Clock::now();
  EXPECT_FALSE(f.fetch(url(server)));
  EXPECT_LT(ms_since(t0), 2000);
  canceller.join();
}

}  // namespace
