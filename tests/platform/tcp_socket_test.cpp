#include "viewer/platform/tcp_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "support/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Ipv4Endpoint;
using platform::TcpSocket;

long ms_since(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

Ipv4Endpoint loopback(std::uint16_t port) { return {*platform::resolve_ipv4("127.0.0.1"), port}; }

TEST(HostLookup, DottedQuadAndHostsFileNames) {
  const auto a = platform::resolve_ipv4("127.0.0.1");
  ASSERT_TRUE(a);
  EXPECT_EQ(platform::ipv4_text(*a), "127.0.0.1");
  const auto l = platform::resolve_ipv4("localhost");
  ASSERT_TRUE(l);
  EXPECT_EQ(platform::ipv4_text(*l).rfind("127.", 0), 0u);
  EXPECT_FALSE(platform::resolve_ipv4(""));
  EXPECT_FALSE(platform::resolve_ipv4(std::string("127.0.0.1\0x", 11)));
}

TEST(TcpSocket, ConnectRefusedAndClosedSocketFailWithoutHarm) {
  TcpSocket s;
  EXPECT_TRUE(s.is_dead(0));
  std::uint8_t b = 0;
  EXPECT_EQ(s.read_exactly(&b, 1), 0u);
  EXPECT_EQ(s.send(&b, 1, 1), 0u);
  s.close();  // closing a closed socket does nothing
  ASSERT_TRUE(s.open());
  const auto t0 = Clock::now();
  EXPECT_FALSE(s.connect(loopback(testnet::closed_port()), 5));
  EXPECT_LT(ms_since(t0), 2000);
}

TEST(TcpSocket, ReadsExactlyAcrossPiecesAndFailsOnCloseOrTimeout) {
  testnet::LoopbackServer server([](testnet::Conn& c, int index) {
    if (index == 0) {
      c.send(std::string("abc"));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      c.send(std::string("defgh"));
      c.send(std::string("xy"));  // then the server closes: "xy" + more cannot be read
    } else {
      c.hold();  // connected but silent
    }
  });
  TcpSocket s;
  ASSERT_TRUE(s.open());
  ASSERT_TRUE(s.connect(loopback(server.port()), 1));
  EXPECT_FALSE(s.is_dead(1));
  char buf[8] = {};
  ASSERT_EQ(s.read_exactly(buf, 8), 8u);
  EXPECT_EQ(std::string(buf, 8), "abcdefgh");
  EXPECT_EQ(s.read_exactly(buf, 3), 0u);  // peer closed after two bytes

  TcpSocket silent;
  ASSERT_TRUE(silent.open());
  ASSERT_TRUE(silent.connect(loopback(server.port()), 1));
  const auto t0 = Clock::now();
  EXPECT_EQ(silent.read_exactly(buf, 1), 0u);  // the 1-second receive time-out
  EXPECT_GE(ms_since(t0), 900);
  EXPECT_LT(ms_since(t0), 3000);
}

TEST(TcpSocket, ReadAtLeastTakesWhatArrivedAndSaysBeforeItWaits) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) {
    c.send(std::string("abcdef"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.send(std::string("ghij"));
    c.hold();
  });
  TcpSocket s;
  ASSERT_TRUE(s.open());
  ASSERT_TRUE(s.connect(loopback(server.port()), 5));
  ASSERT_TRUE(s.wait_readable(2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all six bytes in
  int waits = 0;
  const std::function<void()> before_wait = [&] { ++waits; };
  char buf[16] = {};
  // More than asked has arrived: all of it, without waiting.
  ASSERT_EQ(s.read_at_least(buf, 4, sizeof buf, before_wait), 6u);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(waits, 0);
  // Nothing has: the caller hears of the wait once, before it starts.
  const auto t0 = Clock::now();
  ASSERT_EQ(s.read_at_least(buf, 4, sizeof buf, before_wait), 4u);
  EXPECT_EQ(std::string(buf, 4), "ghij");
  EXPECT_EQ(waits, 1);
  EXPECT_GE(ms_since(t0), 100);
}

TEST(TcpSocket, ShutdownFromAnotherThreadWakesABlockedRead) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) { c.hold(); });
  TcpSocket s;
  ASSERT_TRUE(s.open());
  ASSERT_TRUE(s.connect(loopback(server.port()), 30));
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.shutdown();
  });
  const auto t0 = Clock::now();
  char b;
  EXPECT_EQ(s.read_exactly(&b, 1), 0u);
  EXPECT_LT(ms_since(t0), 2000);
  waker.join();
}

TEST(TcpSocket, SendAllDeliversEverythingAndTimesOutOnAStuckPeer) {
  std::vector<std::uint8_t> big(3 * 1024 * 1024);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> got;
  std::atomic<bool> done{false};
  testnet::LoopbackServer server([&](testnet::Conn& c, int) {
    std::vector<std::uint8_t> buf(65536);
    while (got.size() < big.size() && c.wait_readable(3000)) {
      const ssize_t n = ::recv(c.fd(), buf.data(), buf.size(), 0);
      if (n <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    done.store(true);
  });
  {
    TcpSocket s;
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(s.connect(loopback(server.port()), 5));
    EXPECT_TRUE(s.send_all(big.data(), big.size(), 5));
  }
  for (int i = 0; i < 500 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  server.stop();
  EXPECT_EQ(got, big);

  testnet::LoopbackServer stuck([](testnet::Conn& c, int) { c.sit(); });
  TcpSocket s;
  ASSERT_TRUE(s.open());
  ASSERT_TRUE(s.connect(loopback(stuck.port()), 1));
  std::vector<std::uint8_t> huge(64 * 1024 * 1024);
  const auto t0 = Clock::now();
  EXPECT_FALSE(s.send_all(huge.data(), huge.size(), 1));
  EXPECT_LT(ms_since(t0), 5000);
}

TEST(TcpSocket, ObserverHandleLeavesTheConnectionAlone) {
  testnet::LoopbackServer server([](testnet::Conn& c, int) {
    c.read_request(0);
    c.send(std::string("ok"));
  });
  TcpSocket s;
  ASSERT_TRUE(s.open());
  ASSERT_TRUE(s.connect(loopback(server.port()), 2));
  {
    TcpSocket observer;
    ASSERT_TRUE(s.share_into(observer));
    EXPECT_FALSE(observer.is_dead(1));
  }  // the observer's handle is released here
  const std::string req = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(s.send_all(req.data(), req.size(), 2));
  char buf[2];
  ASSERT_EQ(s.read_exactly(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "ok");
}

}  // namespace
