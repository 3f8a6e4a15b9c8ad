#include "viewer/net/camera_stream.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "support/asf_builder.h"
#include "support/loopback_server.h"
#include "support/netns.h"
#include "support/wait.h"
#include "viewer/net/camera_http.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/http_fetch.h"

namespace {

using Clock = std::chrono::steady_clock;
using testasf::Bytes;
using testnet::Conn;
using testnet::LoopbackServer;

constexpr std::uintptr_t kTag = 0xCA11;

long ms_since(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

bool eventually(const std::function<bool()>& pred, int timeout_ms = 5000) {
  return test_support::wait_until(pred, timeout_ms, 5);
}

// A camera's stream: header, a key frame, two more frames and an audio
// block, then empty packets so that the look-ahead window can deliver all.
struct CameraClip {
  testasf::Layout layout;
  Bytes bytes;
  int frames = 0;
  CameraClip() {
    const std::vector<testasf::MediaObject> objects = {
        {0x81, 1000, testasf::pattern(6000, 1)},
        {0x02, 1000, testasf::pattern(800, 2)},
        {0x01, 1040, testasf::pattern(900, 3)},
        {0x01, 1080, testasf::pattern(700, 4)},
    };
    frames = 3;
    const auto p = testasf::packetize(layout.packet_size, objects);
    bytes = testasf::join(testasf::header(layout), p.packets);
    const Bytes fill = testasf::filler(layout.packet_size, net::kStreamWindowBytes + 1024);
    bytes.insert(bytes.end(), fill.begin(), fill.end());
  }
};

const CameraClip& clip() {
  static const CameraClip c;
  return c;
}

std::string reply_head(const std::string& status, int header_lines = 2) {
  std::string r = status + "\r\n";
  for (int i = 0; i < header_lines; ++i) r += "X-Header-" + std::to_string(i) + ": value\r\n";
  return r + "\r\n";
}

// Answers status 200 and the clip, then keeps the connection open.
void stream_and_hold(Conn& c, const std::string& status = "HTTP/1.1 200 OK") {
  c.read_request();
  c.send(reply_head(status));
  c.send_bytes(clip().bytes);
  c.hold();
}

class CameraStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::http_global_init());
    threads_before_ = testnet::thread_count();
    fds_before_ = testnet::open_fd_count();
  }

  // Wires the queue sinks into a stream aimed at the server.
  std::unique_ptr<net::CameraStream> make_stream(std::uint16_t port, int timeout_s = 30, std::string user = "admin",
                                                 std::string password = "1234") {
    auto s = std::make_unique<net::CameraStream>(kTag, timeout_s);
    net::StreamSinks sinks;
    sinks.video = &video;
    sinks.audio = &audio;
    sinks.recording = &recording;
    s->set_sinks(sinks);
    s->set_account({"127.0.0.1", std::to_string(port), std::move(user), std::move(password)});
    s->set_retry_delay_ms(50);
    return s;
  }

  // Nothing of the stream may outlive it: threads and descriptors are back
  // to where they were.
  void expect_nothing_left() {
    EXPECT_TRUE(eventually([&] { return testnet::thread_count() == threads_before_; }, 2000))
        << testnet::thread_count() << " threads, " << threads_before_ << " before";
    EXPECT_EQ(testnet::open_fd_count(), fds_before_);
  }

  platform::ScopedHeadlessUi ui;
  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  net::QueuePacketSink recording;
  int threads_before_ = 0;
  int fds_before_ = 0;
};

TEST_F(CameraStreamTest, RequestBytesOnTheWire) {
  // Joined credential lengths 6, 4 and 5 leave remainders 0, 1 and 2.
  const struct {
    const char* user;
    const char* password;
    const char* padding;
  } accounts[] = {{"adm", "12", "=="}, {"a", "bc", "===="}, {"ab", "cd", "==="}};
  for (const auto& a : accounts) {
    SCOPED_TRACE(a.user);
    // Written by the server's connection thread, polled from here.
    std::mutex request_mutex;
    std::string request;
    LoopbackServer server([&](Conn& c, int) {
      std::string r = c.read_request(300);
      {
        std::lock_guard lock(request_mutex);
        request = std::move(r);
      }
      c.hold();
    });
    auto s = make_stream(server.port(), 30, a.user, a.password);
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(server.wait_connections(1, 3000));
    ASSERT_TRUE(eventually(
        [&] {
          std::lock_guard lock(request_mutex);
          return request.size() > 4 && request.back() == '\0';
        },
        3000));
    s->stop();
    server.stop();  // its threads are joined: request is ours again
    EXPECT_EQ(request, net::build_video_request("127.0.0.1", a.user, a.password));
    const std::string tail = std::string(a.padding) + "\r\n\r\n" + '\0';
    EXPECT_EQ(request.substr(request.size() - tail.size()), tail);
    EXPECT_EQ(request.substr(request.size() - tail.size() - 1, 1).find('='), std::string::npos);
  }
  expect_nothing_left();
}

TEST_F(CameraStreamTest, Status200StreamsForHttp10And11) {
  for (const char* status : {"HTTP/1.0 200 OK", "HTTP/1.1 200 OK"}) {
    SCOPED_TRACE(status);
    video.queue().clear();
    audio.queue().clear();
    LoopbackServer server([&](Conn& c, int) { stream_and_hold(c, status); });
    auto s = make_stream(server.port());
    s->set_volume(-700);
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(eventually([&] { return video.queue().count() == 3; }));
    EXPECT_TRUE(s->connected());
    EXPECT_TRUE(s->wait_connected(0));
    EXPECT_TRUE(s->take_state_change());
    EXPECT_FALSE(s->is_closed());
    EXPECT_FALSE(s->is_dead());
    EXPECT_EQ(s->connection_state(), net::kStatePlaying);
    EXPECT_EQ(s->header_length(), 481u);
    // What the windows ask of the connection.
    EXPECT_TRUE(s->has_audio());
    EXPECT_EQ(s->picture_width(), 320);
    EXPECT_EQ(audio.volume(), -700);
    EXPECT_EQ(audio.queue().count(), 1u);
    s->stop();
    EXPECT_FALSE(s->connected());
    EXPECT_TRUE(s->is_closed());
    EXPECT_EQ(s->connection_state(), net::kStatePaused);
    EXPECT_EQ(s->header_length(), 0u);
    EXPECT_FALSE(video.running());
    // The views learn that the connection changed.
    EXPECT_TRUE(s->take_state_change());
    EXPECT_FALSE(s->take_state_change());
  }
  EXPECT_TRUE(ui->shown().empty());
  expect_nothing_left();
}

TEST_F(CameraStreamTest, RefusalsTellTheUserAndTheMainWindowOnce) {
  const struct {
    const char* status;
    const char* message;
  } cases[] = {{"HTTP/1.1 401 Unauthorized", "account is error!"}, {"HTTP/1.1 404 Not Found", "open connection fail!"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.status);
    ui->clear();
    LoopbackServer server([&](Conn& c, int) {
      c.read_request();
      c.send(reply_head(k.status));
      c.hold();
    });
    auto s = make_stream(server.port());
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(ui->wait_posted(1, 5000));
    ASSERT_TRUE(eventually([&] { return !s->running(); }));
    const auto shown = ui->shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, k.message);
    EXPECT_EQ(shown[0].caption, "warning");
    const auto posted = ui->posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].msg, platform::kMsgCameraRefused);
    EXPECT_EQ(posted[0].wparam, 0u);
    EXPECT_EQ(posted[0].lparam, kTag);
    EXPECT_EQ(s->connection_state(), net::kStateRefused);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(server.connections(), 1);  // no second attempt
    s->stop();                           // what the main window does on the message
    EXPECT_EQ(s->connection_state(), net::kStatePaused);
  }
  expect_nothing_left();
}

TEST_F(CameraStreamTest, BusyCameraAndBrokenRepliesReconnectQuietly) {
  // 503, then a header block of 100 lines, then a line of 9,000 bytes, then
  // a camera that closes at once; the fifth connection streams.
  LoopbackServer server([&](Conn& c, int index) {
    c.read_request();
    switch (index) {
      case 0:
        c.send(reply_head("HTTP/1.1 503 Service Unavailable"));
        break;
      case 1:
        c.send(reply_head("HTTP/1.1 200 OK", 100));
        c.send_bytes(clip().bytes);
        break;
      case 2:
        c.send("HTTP/1.1 200 OK\r\nX: " + std::string(9000, 'x') + "\r\n\r\n");
        break;
      case 3:
        return;  // closes without a word
      default:
        c.send(reply_head("HTTP/1.1 200 OK", 99));
        c.send_bytes(clip().bytes);
        c.hold();
        return;
    }
    c.hold();
  });
  auto s = make_stream(server.port());
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(eventually([&] { return video.queue().count() == 3; }, 8000))
      << server.connections() << " connections, " << video.queue().count() << " frames";
  EXPECT_EQ(server.connections(), 5);
  EXPECT_EQ(video.setups(), 1);  // nothing before the good connection reached the demultiplexer
  EXPECT_TRUE(ui->shown().empty());
  EXPECT_TRUE(ui->posted().empty());
  EXPECT_EQ(s->connection_state(), net::kStatePlaying);
  s->stop();
  server.stop();
  expect_nothing_left();
}

// Seen before: a peer trickling one header byte per second held a
// connection for 70 s and longer, each read within its own time-out. The
// whole reply head now has one deadline (the stream's time-out, 1 s here),
// then the stream connects again.
TEST_F(CameraStreamTest, ATricklingReplyHeadIsGivenUpAtItsDeadline) {
  std::mutex m;
  std::vector<long> held_ms;
  LoopbackServer server([&](Conn& c, int index) {
    if (index >= 2) {
      stream_and_hold(c);
      return;
    }
    c.read_request();
    const auto start = Clock::now();
    // A valid status line, then header bytes one every 200 ms for as long
    // as the viewer reads them (far below any per-read time-out).
    const std::string head = "HTTP/1.1 200 OK\r\nX-Trickle: " + std::string(200, 'x');
    for (char ch : head) {
      if (!c.send(&ch, 1)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      pollfd pf{c.fd(), POLLIN, 0};
      if (::poll(&pf, 1, 0) > 0) break;  // the viewer hung up
    }
    std::lock_guard lock(m);
    held_ms.push_back(ms_since(start));
  });
  auto s = make_stream(server.port(), 1);
  const auto start = Clock::now();
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(eventually([&] { return video.queue().count() == 3; }, 10000)) << server.connections();
  EXPECT_EQ(server.connections(), 3);
  EXPECT_LT(ms_since(start), 6000);
  {
    std::lock_guard lock(m);
    ASSERT_EQ(held_ms.size(), 2u);
    for (long ms : held_ms) EXPECT_LT(ms, 3000) << "the viewer kept reading the head for " << ms << " ms";
  }
  EXPECT_TRUE(ui->shown().empty());
  s->stop();
  server.stop();
  expect_nothing_left();
}

TEST_F(CameraStreamTest, DroppedStalledAndCorruptStreamsEndInACleanReconnect) {
  // Connection 0 drops after the clip, 1 stalls after the clip, 2 sends a
  // corrupt packet, 3 streams and stays.
  Bytes corrupt = clip().bytes;
  corrupt[481 + 14] = 0x07;  // first payload's stream byte
  std::vector<long> connected_at;
  std::mutex m;
  const auto t0 = Clock::now();
  LoopbackServer server([&](Conn& c, int index) {
    {
      std::lock_guard lock(m);
      connected_at.push_back(ms_since(t0));
    }
    c.read_request();
    c.send(reply_head("HTTP/1.1 200 OK"));
    if (index == 2) {
      c.send_bytes(corrupt);
      c.hold();
      return;
    }
    c.send_bytes(clip().bytes);
    if (index == 1) c.sit();  // stalls: sends nothing more, reads nothing
    if (index >= 3) c.hold();
  });
  auto s = make_stream(server.port(), 1);  // 1-second time-out for the stall
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(server.wait_connections(4, 10000));
  ASSERT_TRUE(eventually([&] { return video.setups() == 4 && video.queue().count() == 9; }));
  {
    std::lock_guard lock(m);
    // The drop is noticed at once, not after the receive time-out.
    EXPECT_LT(connected_at[1] - connected_at[0], 700);
    // The stall ends after about the time-out.
    EXPECT_GE(connected_at[2] - connected_at[1], 900);
    EXPECT_LT(connected_at[2] - connected_at[1], 4000);
  }
  // Each end of a stream stopped the consumers and closed the recording.
  EXPECT_EQ(video.stops(), 3);
  EXPECT_EQ(audio.stops(), 3);
  EXPECT_EQ(recording.ends(), 3);
  EXPECT_TRUE(s->take_state_change());
  EXPECT_TRUE(s->connected());
  s->stop();
  server.stop();
  expect_nothing_left();
}

TEST_F(CameraStreamTest, BytesAreHandedOnAsSoonAsTheyArriveNotWhenAWindowIsFull) {
  // The header and the first eight packets (the key frame and the sound
  // block after it), then nothing for a while: a connection that waited for
  // a full window before reading would show nothing of them.
  std::atomic<bool> send_rest{false};
  const Bytes& all = clip().bytes;
  const std::size_t first = 481 + 8 * std::size_t{clip().layout.packet_size};
  ASSERT_LT(first, net::kStreamWindowBytes);
  LoopbackServer server([&](Conn& c, int) {
    c.read_request();
    c.send(reply_head("HTTP/1.1 200 OK"));
    c.send(all.data(), first);
    while (!send_rest.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.send(all.data() + first, all.size() - first);
    c.hold();
  });
  auto s = make_stream(server.port());
  ASSERT_EQ(s->start(), net::kStartOk);
  EXPECT_TRUE(eventually([&] { return s->header_length() == 481u; }));
  EXPECT_TRUE(eventually([&] { return video.queue().count() >= 1 && audio.queue().count() >= 1; }));
  send_rest = true;
  EXPECT_TRUE(eventually([&] { return video.queue().count() == 3; }));
  s->stop();
}

TEST_F(CameraStreamTest, StopReturnsPromptlyInEveryPhase) {
  struct Phase {
    const char* name;
    std::function<void(Conn&)> script;
    bool wait_connected;
  };
  const std::vector<Phase> phases = {
      {"waiting for the reply",
       [](Conn& c) {
         c.read_request();
         c.sit();
       },
       false},
      {"reading the reply head",
       [](Conn& c) {
         c.read_request();
         c.send(std::string("HTTP/1.1 200 OK\r\n"));
         c.sit();
       },
       false},
      {"streaming", [](Conn& c) { stream_and_hold(c); }, true},
      {"waiting for stream bytes",
       [](Conn& c) {
         c.read_request();
         c.send(reply_head("HTTP/1.1 200 OK"));
         c.sit();
       },
       true},
  };
  for (const Phase& p : phases) {
    SCOPED_TRACE(p.name);
    LoopbackServer server([&](Conn& c, int) { p.script(c); });
    auto s = make_stream(server.port());
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(server.wait_connections(1, 3000));
    if (p.wait_connected) {
      ASSERT_TRUE(eventually([&] { return s->connected(); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = Clock::now();
    s->stop();
    EXPECT_LT(ms_since(t0), 500);
    EXPECT_FALSE(s->running());
    s.reset();
    server.stop();
  }
  {
    SCOPED_TRACE("between attempts");
    auto s = make_stream(testnet::closed_port());
    s->set_retry_delay_ms(60000);
    ASSERT_EQ(s->start(), net::kStartOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(s->connection_state(), net::kStatePlaying);  // failed attempts keep the camera playing
    const auto t0 = Clock::now();
    s->stop();
    EXPECT_LT(ms_since(t0), 500);
  }
  expect_nothing_left();
}

TEST_F(CameraStreamTest, StartWhileRunningReconnectsAndStartStopRepeat) {
  LoopbackServer server([&](Conn& c, int) { stream_and_hold(c); });
  auto s = make_stream(server.port());
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(s->start(), net::kStartOk);
    ASSERT_TRUE(eventually([&] { return s->header_length() == 481u; }));
    s->stop();
  }
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(eventually([&] { return s->header_length() == 481u; }));
  const int before = server.connections();
  EXPECT_EQ(s->start(), net::kStartOk);  // running: drops the connection and connects again
  EXPECT_TRUE(server.wait_connections(before + 1, 3000));
  EXPECT_TRUE(eventually([&] { return s->header_length() == 481u; }));
  s.reset();  // destruction stops
  server.stop();
  expect_nothing_left();
}

TEST_F(CameraStreamTest, PauseLastsAcrossAReconnection) {
  LoopbackServer server([&](Conn& c, int index) {
    c.read_request();
    c.send(reply_head("HTTP/1.1 200 OK"));
    c.send_bytes(clip().bytes);
    if (index > 0) c.hold();  // the first connection drops
  });
  auto s = make_stream(server.port());
  s->pause();
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(server.wait_connections(2, 5000));
  ASSERT_TRUE(eventually([&] { return s->connected() && video.setups() == 2; }));
  EXPECT_EQ(s->connection_state(), net::kStatePaused);
  EXPECT_TRUE(video.paused());
  EXPECT_TRUE(audio.paused());
  s->resume();
  EXPECT_EQ(s->connection_state(), net::kStatePlaying);
  EXPECT_FALSE(video.paused());
  s->stop();
}

TEST_F(CameraStreamTest, MutedCameraGetsSilenceAtEachConnection) {
  LoopbackServer server([&](Conn& c, int) { stream_and_hold(c); });
  auto s = make_stream(server.port());
  s->set_volume(-300);
  s->set_muted(true);
  ASSERT_EQ(s->start(), net::kStartOk);
  ASSERT_TRUE(eventually([&] { return s->header_length() == 481u; }));
  EXPECT_EQ(audio.volume(), net::kMutedVolume);
  s->stop();
}

TEST_F(CameraStreamTest, EmptyPortAsksTheDynamicDnsPage) {
  // The dynamic-DNS page is always fetched from port 80, so this runs in a
  // network namespace of its own where the test may listen there.
  const int rc = testnet::run_in_private_netns([] {
    if (!platform::http_global_init()) return 10;
    LoopbackServer camera([](Conn& c, int) { stream_and_hold(c); });
    const std::string answer = "<html>URL=http://127.0.0.1:" + camera.port_text() + "\"</html>";
    LoopbackServer ddns(
        [&](Conn& c, int) {
          c.read_request(0);
          c.send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(answer.size()) + "\r\n\r\n" + answer);
        },
        80);
    if (ddns.port() != 80) return 11;
    net::QueueVideoSink video;
    net::StreamSinks sinks;
    sinks.video = &video;
    net::CameraStream s(kTag, 5);
    s.set_sinks(sinks);
    s.set_account({"127.0.0.1", "", "admin", "1234"});
    if (s.start() != net::kStartOk) return 12;
    const bool ok = eventually([&] { return video.queue().count() == 3; }, 8000);
    s.stop();
    return ok && ddns.connections() >= 1 ? 0 : 13;
  });
  if (rc == testnet::kNoNamespace) GTEST_SKIP() << "no private network namespace here";
  EXPECT_EQ(rc, 0);
}

}  // namespace
