// camsim as a peer: started as a program, spoken to over loopback.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/tools/camsim_process.h"
#include "tests/tools/tool_test_util.h"
#include "tools/clipkit/m4v.h"

namespace {

using tooltest::CamsimProcess;
using tooltest::Connection;
using tooltest::le32;
using tooltest::viewer_request;

std::string clip(const std::string& name) { return tooltest::clips_dir() + "/" + name; }

std::string status_line(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// Requests the stream and reads the reply head and the ASF header.
struct Stream {
  explicit Stream(uint16_t port, const std::string& user = "u", const std::string& password = "p") : connection(port) {
    if (!connection.send_text(viewer_request(user, password))) return;
    head = connection.read_head();
    if (status_line(head).find(" 200 ") == std::string::npos) return;
    std::vector<uint8_t> preamble;
    if (!connection.read_exact(&preamble, 30)) return;
    const uint32_t size = le32(preamble.data() + 16);
    std::vector<uint8_t> rest;
    if (size < 30 || size > 12830 || !connection.read_exact(&rest, size - 30 + 50)) return;
    header = preamble;
    header.insert(header.end(), rest.begin(), rest.end());
    packet_bytes = le32(header.data() + 30 + 92);
  }
  bool next(std::vector<uint8_t>* packet) { return connection.read_exact(packet, packet_bytes); }

  Connection connection;
  std::string head;
  std::vector<uint8_t> header;  // Header Object + Data Object start
  uint32_t packet_bytes = 0;
};

TEST(CamsimHttp, RefusesWrongAccountsAndAcceptsTheViewersRequest) {
  CamsimProcess camsim({"--port", "0", "--user", "admin", "--password", "secret", clip("small"), "--fast"});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  for (const auto& [user, password] : {std::pair{"admin", "wrong"}, {"other", "secret"}, {"admin", ""}}) {
    Connection c(camsim.port());
    ASSERT_TRUE(c.send_text(viewer_request(user, password)));
    const std::string reply = c.read_all();
    EXPECT_EQ(status_line(reply), "HTTP/1.1 401 Unauthorized") << user << ":" << password;
    EXPECT_NE(reply.find("WWW-Authenticate: Basic"), std::string::npos);
  }
  {
    Connection c(camsim.port());
    ASSERT_TRUE(c.send_text("GET /img/video.asf HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(status_line(c.read_all()), "HTTP/1.1 401 Unauthorized");
  }
  Stream s(camsim.port(), "admin", "secret");
  EXPECT_EQ(status_line(s.head), "HTTP/1.1 200 OK");
  EXPECT_EQ(s.header.size(), 481u);
  // The viewer's two extra '=' follow any padding: joined lengths leaving
  // remainders 1, 2 and 0 all pass.
  CamsimProcess other({"--port", "0", "--user", "ab", "--password", "c", clip("small"), "--fast", "--camera",
                       "0:abc:d:" + clip("small"), "--camera", "0:abcd:e:" + clip("small")});
  ASSERT_TRUE(other.ready());
  EXPECT_EQ(Stream(other.port(0), "ab", "c").header.size(), 481u);
  EXPECT_EQ(Stream(other.port(1), "abc", "d").header.size(), 481u);
  EXPECT_EQ(Stream(other.port(2), "abcd", "e").header.size(), 481u);
  EXPECT_EQ(status_line(Stream(other.port(2), "abc", "d").head), "HTTP/1.1 401 Unauthorized");
}

TEST(CamsimHttp, AnswersTheFirstRequestsWithTheChosenStatus) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("small"), "--fast", "--fail-first", "2",
                        "--fail-status", "404", "--camera", "0:u:p:" + clip("small"), "--fail-first", "1"});
  ASSERT_TRUE(camsim.ready());
  EXPECT_EQ(status_line(Stream(camsim.port(0)).head), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(status_line(Stream(camsim.port(0), "u", "bad").head), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(status_line(Stream(camsim.port(0)).head), "HTTP/1.1 200 OK");
  EXPECT_EQ(status_line(Stream(camsim.port(1)).head), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(status_line(Stream(camsim.port(1)).head), "HTTP/1.1 200 OK");
}

TEST(CamsimStream, HeaderSizeAndCodecDataFollowTheClip) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("vga"), "--fast", "--camera",
                        "0:u:p:" + clip("small"), "--no-audio", "--packet-size", "3000"});
  ASSERT_TRUE(camsim.ready());
  struct Case {
    size_t port_index;
    uint32_t header_size;
    uint32_t height;
    uint8_t byte15;
    uint32_t packet_bytes;
  };
  for (const Case& c : {Case{0, 431, 480, 0xE0, 1600}, Case{1, 327, 128, 128, 3000}}) {
    Stream s(camsim.port(c.port_index));
    ASSERT_EQ(s.header.size(), c.header_size + 50u);
    EXPECT_EQ(le32(s.header.data() + 16), c.header_size);
    const size_t video = 30 + 104;  // the video Stream Properties Object
    EXPECT_EQ(le32(s.header.data() + video + 97), c.height);
    EXPECT_EQ(s.header[video + 129 + 15], c.byte15);
    EXPECT_EQ(s.packet_bytes, c.packet_bytes);
    std::vector<uint8_t> packet;
    EXPECT_TRUE(s.next(&packet));
  }
}

// Reads packets until `frames` video frames are complete.
std::vector<tooltest::Object> read_objects(Stream& s, size_t frames, std::vector<tooltest::Packet>* packets = nullptr) {
  tooltest::Reassembler joiner;
  size_t videos = 0;
  std::vector<uint8_t> bytes;
  while (videos < frames && s.next(&bytes)) {
    tooltest::Packet p;
    EXPECT_TRUE(tooltest::parse_packet(bytes.data(), bytes.size(), &p));
    std::string why;
    const size_t before = joiner.objects.size();
    EXPECT_TRUE(joiner.add(p, &why)) << why;
    for (size_t i = before; i < joiner.objects.size(); ++i) videos += (joiner.objects[i].stream_byte & 0x7F) == 1;
    if (packets) packets->push_back(std::move(p));
  }
  return std::move(joiner.objects);
}

TEST(CamsimStream, PacketLayoutHoldsAndTimesRunOnAcrossTheLoop) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("small"), "--fast"});
  ASSERT_TRUE(camsim.ready());
  clipkit::M4vClip source;
  std::string error;
  ASSERT_TRUE(clipkit::load_m4v_file(clip("small") + ".m4v", &source, &error)) << error;
  Stream s(camsim.port());
  std::vector<tooltest::Packet> packets;
  const auto objects = read_objects(s, 75, &packets);  // two and a half passes of 30 frames
  for (const auto& p : packets) {
    EXPECT_EQ(p.ec_flags, 0x82);
    EXPECT_EQ(p.length_flags, 0x11);
    EXPECT_EQ(p.property_flags, 0x5D);
    EXPECT_EQ(p.padding, s.packet_bytes - p.payload_end);
  }
  std::vector<uint32_t> video, audio;
  size_t frame = 0;
  for (const auto& o : objects) {
    if ((o.stream_byte & 0x7F) == 2) {
      audio.push_back(o.time_ms);
      continue;
    }
    video.push_back(o.time_ms);
    EXPECT_EQ(o.data, source.vops[frame % source.vops.size()].bytes) << frame;
    EXPECT_EQ(o.stream_byte == 0x81, source.vops[frame % source.vops.size()].key) << frame;
    ++frame;
  }
  ASSERT_GE(video.size(), 75u);
  EXPECT_EQ(video[30], 2000u);
  EXPECT_EQ(video[60], 4000u);
  for (size_t i = 1; i < video.size(); ++i) {
    EXPECT_TRUE(video[i] - video[i - 1] == 66 || video[i] - video[i - 1] == 67) << i << ": " << video[i];
  }
  ASSERT_GE(audio.size(), 20u);
  for (size_t i = 1; i < audio.size(); ++i) EXPECT_EQ(audio[i], audio[i - 1] + 200) << i;
}

TEST(CamsimStream, IsPacedInRealTime) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("small")});
  ASSERT_TRUE(camsim.ready());
  Stream s(camsim.port());
  const auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> bytes;
  uint32_t newest_ms = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500) && s.next(&bytes)) {
    tooltest::Packet p;
    ASSERT_TRUE(tooltest::parse_packet(bytes.data(), bytes.size(), &p));
    for (const auto& pl : p.payloads)
      if (pl.replicated == 8) newest_ms = std::max(newest_ms, pl.time_ms);
  }
  const auto elapsed_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // Nothing arrives before its time; a loaded machine may run late.
  EXPECT_LE(newest_ms, elapsed_ms + 100);
  EXPECT_GE(newest_ms, 800u);
}

TEST(CamsimFaults, CloseStallAndCorruptAfterNPackets) {
  CamsimProcess camsim({"--port",          "0", "--user",       "u",
                        "--password",      "p", clip("small"),  "--fast",
                        "--close-after",   "5", "--camera",     "0:u:p:" + clip("small"),
                        "--stall-after",   "4", "--camera",     "0:u:p:" + clip("small"),
                        "--corrupt-after", "3", "--camera",     "0:u:p:" + clip("small"),
                        "--close-after",   "2", "--faults-for", "1"});
  ASSERT_TRUE(camsim.ready());
  std::vector<uint8_t> packet;
  {
    Stream s(camsim.port(0));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(s.next(&packet)) << i;
    EXPECT_TRUE(s.connection.closed_within(2000));
  }
  {
    Stream s(camsim.port(1));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(s.next(&packet)) << i;
    bool got_data = true;
    EXPECT_FALSE(s.connection.closed_within(700, &got_data));  // silent, still open
    EXPECT_FALSE(got_data);
  }
  {
    Stream s(camsim.port(2));
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(s.next(&packet));
      tooltest::Packet p;
      EXPECT_TRUE(tooltest::parse_packet(packet.data(), packet.size(), &p));
    }
    ASSERT_TRUE(s.next(&packet));
    EXPECT_EQ(packet[0], 0x82);  // packet header kept, payloads destroyed
    EXPECT_EQ(packet[14], 0xFF);
    EXPECT_TRUE(std::all_of(packet.begin() + 14, packet.end(), [](uint8_t b) { return b == 0xFF; }));
    ASSERT_TRUE(s.next(&packet));  // and the stream goes on
    tooltest::Packet p;
    EXPECT_TRUE(tooltest::parse_packet(packet.data(), packet.size(), &p));
  }
  {
    // --faults-for 1: the first connection closes after 2, the next runs on.
    Stream first(camsim.port(3));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(first.next(&packet));
    EXPECT_TRUE(first.connection.closed_within(2000));
    Stream second(camsim.port(3));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(second.next(&packet)) << i;
  }
}

TEST(CamsimInfo, CameraInformationAndDynamicDnsReplies) {
  CamsimProcess camsim({"--port",
                        "0",
                        "--user",
                        "u",
                        "--password",
                        "p",
                        clip("small"),
                        "--name",
                        "Front door",
                        "--description",
                        "porch",
                        "--mac",
                        "00:11:22:aa:bb:cc",
                        "--camera",
                        "0:u:p:" + clip("small"),
                        "--info-body",
                        "hello",
                        "--ddns-port",
                        "0",
                        "--ddns-path",
                        "/dyn/cam",
                        "--ddns-target",
                        "2",
                        "--ddns-host",
                        "localhost"});
  ASSERT_TRUE(camsim.ready());
  auto get = [](uint16_t port, const std::string& path) {
    Connection c(port);
    c.send_text("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string reply = c.read_all();
    return std::pair{status_line(reply), reply.substr(std::min(reply.size(), reply.find("\r\n\r\n") + 4))};
  };
  const auto [status, body] = get(camsim.port(0), "/util/util2.cgi");
  EXPECT_EQ(status, "HTTP/1.1 200 OK");
  EXPECT_EQ(body, std::string("camerainfo=porch\0"
                              "00:11:22:aa:bb:cc\0"
                              "Front door\0",
                              46));
  EXPECT_EQ(get(camsim.port(1), "/util/util2.cgi").second, "hello");

  const std::string target = "URL=http://localhost:" + std::to_string(camsim.port(1)) + "\"";
  for (const auto& [port, path] :
       {std::pair{camsim.ddns_port(), std::string("/")}, std::pair{camsim.ddns_port(), std::string("/any/thing")},
        std::pair{camsim.port(0), std::string("/dyn/cam")}}) {
    const auto [s, b] = get(port, path);
    EXPECT_EQ(s, "HTTP/1.1 200 OK") << path;
    EXPECT_NE(b.find(target), std::string::npos) << b;
  }
  EXPECT_EQ(get(camsim.port(0), "/nothing").first, "HTTP/1.1 404 Not Found");
}

TEST(CamsimDiscovery, AnswersTheEightByteRequestOnLoopback) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("small"), "--name", "Garden",
                        "--description", "a description longer than its thirty-two byte slot", "--mac", "0a0b0c0d0e0f",
                        "--camera", "0:u:p:" + clip("small"), "--discovery-port", "0"});
  ASSERT_TRUE(camsim.ready());
  ASSERT_NE(camsim.discovery_port(), 0);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(camsim.discovery_port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto receive = [&](int timeout_ms) {
    std::vector<uint8_t> reply(3072);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return std::vector<uint8_t>{};
    const ssize_t n = recv(fd, reply.data(), reply.size(), 0);
    reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return reply;
  };
  const uint8_t wrong[8] = {0, 0, 0, 0, 0x03, 0xE9, 0, 0};
  sendto(fd, wrong, 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  EXPECT_TRUE(receive(300).empty());

  const uint8_t request[8] = {0, 0, 0, 0, 0x03, 0xE8, 0, 0};
  sendto(fd, request, 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const auto first = receive(2000), second = receive(2000);
  ASSERT_GE(first.size(), 85u);
  ASSERT_GE(second.size(), 85u);
  EXPECT_EQ(tooltest::le16(first.data() + 8), 10u);
  EXPECT_EQ(std::vector<uint8_t>(first.begin() + 29, first.begin() + 35),
            (std::vector<uint8_t>{0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}));
  EXPECT_STREQ(reinterpret_cast<const char*>(first.data() + 35), "Garden");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data() + 52)),
            "a description longer than its th");  // 32 bytes and the zero
  EXPECT_EQ(first[84], 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(second.data() + 35), "camsim2");
  EXPECT_EQ(second[34], 2);  // default MAC 00:0e:53:00:00:02
  close(fd);

  // A short reply with another code, for the viewer's refusals.
  CamsimProcess odd(
      {"--port", "0", clip("small"), "--discovery-port", "0", "--discovery-code", "11", "--discovery-length", "40"});
  ASSERT_TRUE(odd.ready());
  const int fd2 = socket(AF_INET, SOCK_DGRAM, 0);
  to.sin_port = htons(odd.discovery_port());
  sendto(fd2, request, 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  pollfd p{fd2, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  uint8_t reply[3072];
  EXPECT_EQ(recv(fd2, reply, sizeof reply, 0), 40);
  EXPECT_EQ(tooltest::le16(reply + 8), 11u);
  close(fd2);
}

TEST(CamsimCapture, FfprobeAndFfmpegReadASavedStream) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("vga"), "--fast"});
  ASSERT_TRUE(camsim.ready());
  Stream s(camsim.port());
  ASSERT_EQ(s.header.size(), 481u);
  tooltest::ScratchDir dir;
  const std::string path = dir.file("capture.asf");
  {
    // Eight seconds of stream, two passes of the clip, whole packets only.
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(s.header.data()), static_cast<std::streamsize>(s.header.size()));
    std::vector<uint8_t> packet;
    uint32_t newest_ms = 0;
    while (newest_ms < 8000 && s.next(&packet)) {
      out.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
      tooltest::Packet p;
      ASSERT_TRUE(tooltest::parse_packet(packet.data(), packet.size(), &p));
      for (const auto& pl : p.payloads)
        if (pl.replicated == 8) newest_ms = std::max(newest_ms, pl.time_ms);
    }
    ASSERT_GE(newest_ms, 8000u);
  }
  std::string probe;
  ASSERT_EQ(tooltest::run("ffprobe -v error -show_entries format=format_name:stream=codec_name,width,height "
                          "-of compact " +
                              path,
                          &probe),
            0);
  EXPECT_NE(probe.find("format_name=asf"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=mpeg4|width=640|height=480"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=adpcm_g726"), std::string::npos) << probe;

  // The last frame may be cut by the end of the capture: decode what is
  // complete, and nothing of it may be in error.
  std::string errors, frames;
  EXPECT_EQ(tooltest::run("ffmpeg -v error -nostdin -i " + path + " -t 7.9 -f null - 2>&1", &errors), 0);
  EXPECT_EQ(errors, "");
  tooltest::run(
      "ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 " + path,
      &frames);
  EXPECT_GE(std::stoi(frames), 120);
}

TEST(CamsimProcessLife, StopsCleanlyOnSigtermWithClientsConnected) {
  CamsimProcess camsim({"--port", "0", "--user", "u", "--password", "p", clip("small"), "--camera",
                        "0:u:p:" + clip("small"), "--stall-after", "1", "--discovery-port", "0"});
  ASSERT_TRUE(camsim.ready());
  Stream streaming(camsim.port(0));
  Stream stalled(camsim.port(1));
  Connection idle(camsim.port(0));  // connected, never sends its request
  std::vector<uint8_t> packet;
  ASSERT_TRUE(streaming.next(&packet));
  ASSERT_TRUE(stalled.next(&packet));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(camsim.stop(std::chrono::milliseconds(3000)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

TEST(CamsimProcessLife, BadArgumentsAndClipsEndWithAReason) {
  std::string out;
  const std::string camsim = tooltest::camsim_path();
  EXPECT_EQ(tooltest::run(camsim + " 2>&1", &out), 2);
  EXPECT_NE(out.find("no camera"), std::string::npos) << out;
  EXPECT_EQ(tooltest::run(camsim + " --port 0 --bogus 1 x 2>&1", &out), 2);
  EXPECT_NE(out.find("--bogus"), std::string::npos) << out;
  EXPECT_EQ(tooltest::run(camsim + " --port 0 /nonexistent/clip 2>&1", &out), 1);
  EXPECT_NE(out.find("/nonexistent/clip.m4v"), std::string::npos) << out;
  EXPECT_EQ(tooltest::run(camsim + " --help", &out), 0);
  for (const char* option : {"--close-after", "--stall-after", "--corrupt-after", "--discovery-port", "--ddns-port",
                             "--no-audio", "--fast", "--camera", "--fail-first"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  // A bare clip name finds the built-in clips.
  CamsimProcess by_name({"--port", "0", "small"});
  EXPECT_TRUE(by_name.ready()) << by_name.startup_text();
}

}  // namespace
