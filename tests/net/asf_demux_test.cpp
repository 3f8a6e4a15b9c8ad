#include "viewer/net/asf_demux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "support/asf_builder.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/platform/headless/headless_ui.h"

namespace {

using testasf::Bytes;
using testasf::Layout;
using testasf::MediaObject;
using testasf::Payload;

struct Rig {
  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  net::QueuePacketSink recording;
  net::StreamSinks sinks;
  net::StreamBuffers buffers;
  net::AsfDemux demux;
  std::atomic<bool> stop{false};
  std::atomic<bool> muted{false};

  Rig() {
    sinks.video = &video;
    sinks.audio = &audio;
    sinks.recording = &recording;
    EXPECT_TRUE(buffers.allocate());
  }

  int run(const Bytes& stream) {
    net::BufferByteSource src(stream, net::kStreamWindowBytes);
    return demux.run(src, sinks, buffers, net::DemuxControl{&stop, &muted});
  }

  std::vector<std::unique_ptr<net::MediaFrame>> drain(net::FrameQueue& q) {
    std::vector<std::unique_ptr<net::MediaFrame>> out;
    while (auto f = q.take_front()) out.push_back(std::move(f));
    return out;
  }
};

Bytes bytes_of(const net::MediaFrame& f) { return Bytes(f.data(), f.data() + f.length()); }

Bytes stream_of(const Layout& l, const std::vector<Bytes>& packets) {
  return testasf::join(testasf::header(l), packets);
}

TEST(AsfDemux, QueuesTheStreamsFramesFromTheFirstKeyFrameOn) {
  Rig rig;
  const Layout l;  // 320 x 240 with audio, 1,024-byte packets
  std::vector<MediaObject> objects = {
      {0x01, 100, testasf::pattern(1500, 1)},  // before any key frame: dropped
      {0x02, 110, testasf::pattern(800, 2)},
      {0x81, 200, testasf::pattern(5000, 3)},  // spans several packets
      {0x02, 210, testasf::pattern(800, 4)},
      {0x01, 300, testasf::pattern(700, 5)},
      {0x02, 310, testasf::pattern(800, 6)},
      {0x02, 320, testasf::pattern(800, 7)},
      {0x01, 400, testasf::pattern(9000, 8)},
      {0x81, 500, testasf::pattern(64000, 9)},  // close to the largest frame the buffer holds
      {0x01, 600, testasf::pattern(1, 10)},
  };
  const testasf::Packets p = testasf::packetize(l.packet_size, objects);
  EXPECT_EQ(rig.run(stream_of(l, p.packets)), -1);

  EXPECT_EQ(rig.video.setups(), 1);
  EXPECT_EQ(rig.video.width(), 320);
  EXPECT_EQ(rig.video.height(), 240);
  EXPECT_EQ(rig.video.codec_data(), testasf::codec_data(240));
  EXPECT_EQ(rig.video.audio_source(), &rig.audio);
  EXPECT_EQ(rig.demux.header_length(), 481u);
  EXPECT_EQ(rig.demux.packet_size(), 1024u);

  auto frames = rig.drain(rig.video.queue());
  std::vector<const MediaObject*> expected;
  for (std::size_t i = 2; i < objects.size(); ++i) {
    if (objects[i].stream != 0x02) expected.push_back(&objects[i]);
  }
  ASSERT_EQ(frames.size(), expected.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytes_of(*frames[i]), expected[i]->data);
    EXPECT_EQ(frames[i]->time(), expected[i]->time_ms);
    EXPECT_EQ(frames[i]->marker(), expected[i]->stream);
  }

  // Nobody took audio: only the newest three blocks wait.
  auto blocks = rig.drain(rig.audio.queue());
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(bytes_of(*blocks[0]), objects[3].data);
  EXPECT_EQ(bytes_of(*blocks[2]), objects[6].data);
  EXPECT_EQ(blocks[2]->time(), 320u);
  EXPECT_EQ(blocks[2]->marker(), 0);
}

TEST(AsfDemux, RecordingSideGetsTheHeaderAndEveryPacketMarkedWhereAKeyFrameBegins) {
  Rig rig;
  const Layout l;
  const std::vector<MediaObject> objects = {
      {0x01, 10, testasf::pattern(3000, 1)},  // before any key frame
      {0x81, 20, testasf::pattern(3000, 2)},  // begins in the packet that ends the frame before
      {0x01, 30, testasf::pattern(3000, 3)}, {0x02, 35, testasf::pattern(800, 4)},
      {0x81, 40, testasf::pattern(5000, 5)}, {0x01, 50, testasf::pattern(100, 6)},
  };
  testasf::Packets p = testasf::packetize(l.packet_size, objects);
  // A packet the demultiplexer cannot read ends the stream and is not
  // recorded; neither is anything behind it.
  testasf::Payload unknown;
  unknown.stream = 0x03;
  unknown.data = testasf::pattern(10, 7);
  std::vector<Bytes> stream_packets = p.packets;
  stream_packets.push_back(testasf::packet(l.packet_size, {unknown}));
  stream_packets.push_back(p.packets.back());
  const Bytes header = testasf::header(l);
  EXPECT_EQ(rig.run(testasf::join(header, stream_packets)), -1);

  EXPECT_EQ(rig.recording.header(), header);
  EXPECT_EQ(rig.recording.headers_set(), 1);
  auto got = rig.drain(rig.recording.queue());
  ASSERT_EQ(got.size(), p.packets.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(bytes_of(*got[k]), p.packets[k]);
    const bool key_start = k == p.started_in[1] || k == p.started_in[4];
    ASSERT_EQ(got[k]->marker() != 0, key_start);
    if (key_start) {
      // The marker is where that frame's first payload begins.
      const Bytes& packet = p.packets[k];
      const auto at = static_cast<std::size_t>(got[k]->marker());
      EXPECT_EQ(packet[at], 0x81);
      EXPECT_EQ(packet[at + 2] | packet[at + 3] | packet[at + 4] | packet[at + 5], 0);  // offset 0
    }
  }
  EXPECT_NE(p.started_in[1], p.completed_in[1]);  // the flag marks where the frame begins
}

TEST(AsfDemux, PacketFromAPayloadLeavesOutThePayloadsAheadOfIt) {
  const Layout l;
  // A packet holding the end of one picture, a sound block and the start of
  // a key frame.
  testasf::Payload tail, sound, key;
  tail.stream = 0x01;
  tail.offset = 500;
  tail.data = testasf::pattern(100, 1);
  sound.stream = 0x02;
  sound.replicated = testasf::replicated(40, 990);
  sound.data = testasf::pattern(40, 2);
  key.stream = 0x81;
  key.replicated = testasf::replicated(300, 1000);
  key.data = testasf::pattern(300, 3);
  const Bytes packet = testasf::packet(l.packet_size, {tail, sound, key});
  const std::uint32_t key_at = 14 + (7 + 2 + 100) + (7 + 8 + 2 + 40);
  ASSERT_EQ(packet[key_at], 0x81);

  Bytes out(l.packet_size, 0xEE);
  ASSERT_EQ(net::packet_from_payload(packet.data(), l.packet_size, key_at, out.data()), l.packet_size);
  EXPECT_TRUE(std::equal(packet.begin(), packet.begin() + 5, out.begin()));
  EXPECT_EQ(out[13], 0x80 | 1);  // one payload left, 16-bit lengths still
  const std::uint32_t padding_before = packet[5] | packet[6] << 8;
  EXPECT_EQ(static_cast<std::uint32_t>(out[5] | out[6] << 8), padding_before + (key_at - 14));
  const std::size_t key_bytes = 7 + 8 + 2 + 300;
  EXPECT_TRUE(
      std::equal(packet.begin() + key_at, packet.begin() + static_cast<long>(key_at + key_bytes), out.begin() + 14));
  EXPECT_TRUE(
      std::all_of(out.begin() + static_cast<long>(14 + key_bytes), out.end(), [](std::uint8_t b) { return b == 0; }));

  // Read as a stream, the copy holds just the key frame.
  Rig rig;
  EXPECT_EQ(rig.run(testasf::join(testasf::header(l), {out})), -1);
  auto frames = rig.drain(rig.video.queue());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(bytes_of(*frames[0]), key.data);
  EXPECT_EQ(frames[0]->time(), 1000u);
  EXPECT_EQ(rig.audio.queue().count(), 0u);

  // Nothing to leave out, or no payload there: no copy.
  EXPECT_EQ(net::packet_from_payload(packet.data(), l.packet_size, 14, out.data()), 0u);
  EXPECT_EQ(net::packet_from_payload(packet.data(), l.packet_size, key_at + 1, out.data()), 0u);
  EXPECT_EQ(net::packet_from_payload(packet.data(), l.packet_size, l.packet_size, out.data()), 0u);
  Bytes broken = packet;
  broken[13] = 0x80 | 63;  // claims more payloads than the packet holds
  EXPECT_EQ(net::packet_from_payload(broken.data(), l.packet_size, key_at, out.data()), 0u);
}

TEST(AsfDemux, HeaderSizes) {
  {
    // 327 bytes: video only. Audio payloads are skipped.
    Rig rig;
    Layout l;
    l.audio = false;
    const Bytes h = testasf::header(l);
    ASSERT_EQ(h.size(), 327u + 50u);
    const auto p =
        testasf::packetize(l.packet_size, {{0x81, 1, testasf::pattern(100, 1)}, {0x02, 2, testasf::pattern(800, 2)}});
    EXPECT_EQ(rig.run(testasf::join(h, p.packets)), -1);
    EXPECT_EQ(rig.demux.header_length(), 377u);
    EXPECT_FALSE(rig.demux.audio_active());
    EXPECT_EQ(rig.audio.setups(), 0);
    EXPECT_EQ(rig.video.queue().count(), 1u);
    EXPECT_EQ(rig.audio.queue().count(), 0u);
  }
  {
    // 432 bytes: refused after the consumers were set up.
    Rig rig;
    const Layout l;
    std::vector<Bytes> children = {testasf::file_properties(l.packet_size), testasf::video_stream_properties(320, 240),
                                   testasf::object(net::asf::kHeaderExtensionObject, 47),
                                   testasf::audio_stream_properties()};
    const Bytes h = testasf::header(l, &children);
    ASSERT_EQ(h.size(), 432u + 50u);
    EXPECT_EQ(rig.run(testasf::join(h, {testasf::filler(l.packet_size, 4096)})), -1);
    EXPECT_EQ(rig.video.setups(), 1);
    EXPECT_EQ(rig.audio.setups(), 1);
    EXPECT_EQ(rig.demux.header_length(), 0u);
    EXPECT_EQ(rig.recording.headers_set(), 0);
  }
}

TEST(AsfDemux, MalformedHeadersEndTheStreamBeforeAnySetUp) {
  const Layout l;
  auto expect_refused = [&](Bytes stream, const char* what, int setups = 0) {
    SCOPED_TRACE(what);
    Rig rig;
    stream.resize(stream.size() + 20000, 0);
    EXPECT_EQ(rig.run(stream), -1);
    EXPECT_EQ(rig.video.setups(), setups);
    EXPECT_EQ(rig.demux.header_length(), 0u);
  };
  Bytes h = testasf::header(l);
  Bytes bad = h;
  bad[0] ^= 1;
  expect_refused(bad, "wrong Header Object GUID");
  bad = h;
  testasf::put64(bad, 16, 29);
  expect_refused(bad, "size below the preamble");
  bad = h;
  testasf::put64(bad, 16, 30 + 12801);
  expect_refused(bad, "larger than the window");
  bad = h;
  testasf::put64(bad, 16, 0x100000000ull + 431);
  expect_refused(bad, "size with high bits");
  bad = h;
  testasf::put32(bad, 24, 50);
  expect_refused(bad, "more objects than the header holds", 1);  // found out after the video object
  bad = h;
  testasf::put64(bad, 30 + 16, 5000);
  expect_refused(bad, "first child runs past the header");
  bad = h;
  testasf::put64(bad, 30 + 16, 0);
  expect_refused(bad, "child of size 0");
  bad = h;
  testasf::put64(bad, 30 + 104 + 16, 100);  // video stream properties too short for its bitmap header
  expect_refused(bad, "stream properties cut short");
  bad = h;
  bad[30 + 104 + 129 + 15] = 0x78;  // says 120 lines, the bitmap header says 240
  expect_refused(bad, "height disagrees with the codec data");
}

TEST(AsfDemux, ConsumersThatRefuse) {
  const Layout l;
  const auto p =
      testasf::packetize(l.packet_size, {{0x81, 1, testasf::pattern(100, 1)}, {0x02, 2, testasf::pattern(800, 2)}});
  {
    Rig rig;
    rig.video.set_setup_result(false);
    EXPECT_EQ(rig.run(stream_of(l, p.packets)), -1);
    EXPECT_FALSE(rig.demux.video_active());
    EXPECT_EQ(rig.demux.header_length(), 0u);
  }
  {
    Rig rig;  // no sound: the stream goes on without audio
    rig.audio.set_setup_result(false);
    EXPECT_EQ(rig.run(stream_of(l, p.packets)), -1);
    EXPECT_FALSE(rig.demux.audio_active());
    EXPECT_EQ(rig.video.queue().count(), 1u);
    EXPECT_EQ(rig.audio.queue().count(), 0u);
    EXPECT_EQ(rig.video.audio_source(), nullptr);
  }
  {
    Rig rig;  // muted camera: sound set up silent
    rig.muted = true;
    EXPECT_EQ(rig.run(stream_of(l, p.packets)), -1);
    EXPECT_EQ(rig.audio.volume(), -10000);
  }
  {
    Rig rig;  // the decode thread has ended: the stream ends at the first frame
    rig.video.set_thread_ended(true);
    EXPECT_EQ(rig.run(stream_of(l, p.packets)), -1);
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  {
    Rig rig;  // 480 lines are announced as 0xE0 in the codec data
    Layout vga;
    vga.width = 640;
    vga.height = 480;
    EXPECT_EQ(rig.run(stream_of(vga, p.packets)), -1);
    EXPECT_EQ(rig.video.height(), 480);
    EXPECT_EQ(rig.video.queue().count(), 1u);
  }
}

TEST(AsfDemux, PayloadRules) {
  const Layout l;
  const std::uint32_t ps = l.packet_size;
  auto run_packets = [&](const std::vector<Bytes>& packets, Rig& rig) { return rig.run(stream_of(l, packets)); };
  auto video = [](std::uint8_t stream, std::uint32_t offset, Bytes rep, Bytes data) {
    Payload p;
    p.stream = stream;
    p.offset = offset;
    p.replicated = std::move(rep);
    p.data = std::move(data);
    return p;
  };
  const Bytes a = testasf::pattern(300, 1), b = testasf::pattern(300, 2), c = testasf::pattern(300, 3);
  Bytes whole = a;
  whole.insert(whole.end(), b.begin(), b.end());
  whole.insert(whole.end(), c.begin(), c.end());

  {
    // One frame in three payloads, only the first with replicated data.
    Rig rig;
    run_packets({testasf::packet(ps, {video(0x81, 0, testasf::replicated(900, 77), a)}),
                 testasf::packet(ps, {video(0x81, 300, {}, b), video(0x81, 600, {}, c)})},
                rig);
    auto frames = rig.drain(rig.video.queue());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytes_of(*frames[0]), whole);
    EXPECT_EQ(frames[0]->time(), 77u);
  }
  {
    // Audio arriving in the middle of a frame does not change the frame's time.
    Rig rig;
    Payload audio = video(0x02, 0, testasf::replicated(300, 999), a);
    run_packets({testasf::packet(ps, {video(0x81, 0, testasf::replicated(600, 40), a), audio}),
                 testasf::packet(ps, {video(0x81, 300, {}, b)})},
                rig);
    auto frames = rig.drain(rig.video.queue());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->time(), 40u);
    EXPECT_EQ(rig.audio.queue().count(), 1u);
  }
  {
    // Replicated data on a continuation: the frame before was incomplete.
    Rig rig;
    run_packets({testasf::packet(ps, {video(0x81, 0, testasf::replicated(900, 1), a),
                                      video(0x81, 300, testasf::replicated(900, 1), b)}),
                 testasf::packet(ps, {video(0x81, 0, testasf::replicated(300, 2), c)})},
                rig);
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  {
    // 0x82 (audio with the key-frame bit) is no stream of ours.
    Rig rig;
    run_packets({testasf::packet(ps, {video(0x82, 0, testasf::replicated(300, 1), a)}),
                 testasf::packet(ps, {video(0x81, 0, testasf::replicated(300, 2), c)})},
                rig);
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  {
    // Longer replicated data carries extension bytes, which are skipped;
    // lengths 1 to 7 end the stream.
    Rig rig;
    Bytes rep16 = testasf::replicated(300, 5);
    rep16.resize(16, 0xEE);
    run_packets({testasf::packet(ps, {video(0x81, 0, rep16, a)}), testasf::packet(ps, {video(0x81, 0, Bytes(3, 0), b)}),
                 testasf::packet(ps, {video(0x01, 0, testasf::replicated(300, 6), c)})},
                rig);
    auto frames = rig.drain(rig.video.queue());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(bytes_of(*frames[0]), a);
  }
  {
    // A payload longer than the rest of its packet ends the stream.
    Rig rig;
    Bytes pk = testasf::packet(ps, {video(0x81, 0, testasf::replicated(300, 1), a)});
    testasf::put16(pk, 14 + 7 + 8, 2000);
    run_packets({pk, testasf::packet(ps, {video(0x81, 0, testasf::replicated(300, 2), b)})}, rig);
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
}

TEST(AsfDemux, VideoSizeLimits) {
  platform::ScopedHeadlessUi ui;
  const Layout l;
  const std::uint32_t ps = l.packet_size;
  auto payload = [](std::uint32_t offset, Bytes rep, std::size_t n) {
    Payload p;
    p.stream = 0x81;
    p.offset = offset;
    p.replicated = std::move(rep);
    p.data = testasf::pattern(n, offset);
    return p;
  };
  {
    Rig rig;
    rig.run(stream_of(l, {testasf::packet(ps, {payload(0, testasf::replicated(307201, 1), 500)})}));
    ASSERT_EQ(ui->shown().size(), 1u);
    EXPECT_EQ(ui->shown()[0].text, "error video data");
    EXPECT_EQ(ui->shown()[0].caption, "warning");
  }
  ui->clear();
  {
    // 307,200 is announced without complaint, but nothing may be placed at
    // or beyond byte 65,535 of the frame.
    Rig rig;
    rig.run(
        stream_of(l, {testasf::packet(ps, {payload(0, testasf::replicated(307200, 1), 500)}),
                      testasf::packet(ps, {payload(65000, {}, 534)}), testasf::packet(ps, {payload(65534, {}, 1)})}));
    EXPECT_TRUE(ui->shown().empty());
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  {
    // Overlapping pieces that add up to an announced size larger than the
    // frame buffer do not make a frame. (990 bytes: a piece with its
    // replicated data still fits a 1,024-byte packet.)
    Rig rig;
    std::vector<Bytes> packets = {testasf::packet(ps, {payload(0, testasf::replicated(70 * 990, 1), 990)})};
    for (int i = 0; i < 69; ++i) packets.push_back(testasf::packet(ps, {payload(0, {}, 990)}));
    rig.run(stream_of(l, packets));
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  {
    // More than 1,024 frames waiting ends the stream.
    Rig rig;
    std::vector<MediaObject> objects;
    for (int i = 0; i < 1100; ++i)
      objects.push_back(
          {static_cast<std::uint8_t>(i == 0 ? 0x81 : 0x01), static_cast<std::uint32_t>(i), testasf::pattern(20, i)});
    rig.run(stream_of(l, testasf::packetize(ps, objects).packets));
    EXPECT_EQ(rig.video.queue().count(), 1025u);
  }
}

TEST(AsfDemux, UnusablePacketSizesEndTheStreamAtTheFirstPacket) {
  for (std::uint32_t size : {0u, 13u, 12801u}) {
    SCOPED_TRACE(size);
    Rig rig;
    Layout l;
    l.packet_size = size;
    EXPECT_EQ(rig.run(testasf::join(testasf::header(l), {Bytes(20000, 0)})), -1);
    EXPECT_EQ(rig.recording.headers_set(), 1);  // the header was complete
    EXPECT_EQ(rig.video.queue().count(), 0u);
  }
  Rig rig;
  Layout l;
  l.file_properties = false;
  std::vector<Bytes> children = {testasf::video_stream_properties(320, 240), testasf::header_extension()};
  EXPECT_EQ(rig.run(testasf::join(testasf::header(l, &children), {Bytes(20000, 0)})), -1);
  EXPECT_EQ(rig.demux.packet_size(), 0u);
}

// Sets the stop flag after a number of reads.
class StoppingSource final : public net::ByteSource {
 public:
  StoppingSource(const Bytes& b, std::atomic<bool>& stop, int reads) : inner_(b), stop_(stop), left_(reads) {}
  int read(std::uint8_t* d, std::uint32_t n) override {
    ++reads_;
    if (--left_ == 0) stop_ = true;
    return inner_.read(d, n);
  }
  int reads() const { return reads_; }

 private:
  net::BufferByteSource inner_;
  std::atomic<bool>& stop_;
  int left_;
  int reads_ = 0;
};

TEST(AsfDemux, StopsAtTheNextCheckAfterAStopRequest) {
  Rig rig;
  const Layout l;
  const Bytes s = testasf::join(testasf::header(l), {testasf::filler(l.packet_size, 200000)});
  StoppingSource src(s, rig.stop, 10);
  EXPECT_EQ(rig.demux.run(src, rig.sinks, rig.buffers, net::DemuxControl{&rig.stop, &rig.muted}), -1);
  EXPECT_EQ(src.reads(), 10);
  rig.demux.reset();
  EXPECT_EQ(rig.demux.header_length(), 0u);
  EXPECT_FALSE(rig.demux.first_key_frame_seen());
}

}  // namespace
