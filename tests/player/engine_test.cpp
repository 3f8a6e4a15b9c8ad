// The player's engine without a window: it must present exactly the pictures
// and play exactly the samples that asf2yuv (the live stream's demultiplexer
// and our decoders, run straight through) gets from the same file; seek to
// the key frame at or before a time and go on from there; play a file cut in
// the middle of a packet, or begun in the middle of a picture, up to its last
// whole packet; show every picture in order and no sound at 8x; and refuse
// what is not a recording with a message, without blocking on a FIFO.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "player/engine/recording_texts.h"
#include "player/engine/seek_index.h"
#include "player_test_util.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/platform/headless/virtual_sound_device.h"

namespace {

using namespace playertest;
using player::Engine;
using player::EngineOptions;
using player::OpenError;

class PlayerEngine : public ::testing::Test {
 protected:
  void SetUp() override { media::init_YUV2RGB_tab(); }
  void TearDown() override {
    platform::release_sound_device();
    platform::set_sound_device_factory(nullptr);
  }

  // A sound device whose clock moves only when the test says, keeping
  // every byte its cursor passes.
  platform::VirtualSoundDevice* install_sound(bool manual_clock) {
    platform::VirtualSoundDevice* made = nullptr;
    platform::set_sound_device_factory([&made, manual_clock] {
      platform::VirtualSoundDevice::Options o;
      o.manual_clock = manual_clock;
      o.capture = true;
      auto d = std::make_unique<platform::VirtualSoundDevice>(o);
      made = d.get();
      return d;
    });
    (void)platform::sound_device();
    return made;
  }

  // Plays to the end on a simulated sound clock: each time nothing more
  // can happen without time passing, 100 ms go by. The sound is therefore
  // never starved, however slow the machine.
  static std::vector<std::uint8_t> play_on_sound_clock(Engine& engine, platform::VirtualSoundDevice* device) {
    for (int round = 0; round < 2000 && !engine.status().at_end; ++round) {
      EXPECT_TRUE(wait_until([&] { return engine.idle() || engine.status().at_end; }, 10000));
      device->advance_ms(100);
    }
    EXPECT_TRUE(engine.status().at_end);
    const auto buffers = device->buffers();
    return buffers.empty() ? std::vector<std::uint8_t>{} : buffers.front()->played();
  }

  TempDir dir_{"player-engine"};
};

// The clip's pictures decoded straight from its VOPs, from `first` on, with
// a new decoder: the codec data in front of the first one, the deblocking
// filter on that one only (as the live pipeline decodes).
std::vector<std::vector<std::uint8_t>> decode_vops(const clipkit::Clip& clip, std::size_t first, std::size_t count) {
  std::vector<std::vector<std::uint8_t>> out;
  DECODER* d = decoder_create();
  const std::size_t n = clip.video.vops.size();
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(clip.video.width) * clip.video.height * 3 / 2);
  for (std::size_t i = first; i < first + count; ++i) {
    std::vector<std::uint8_t> in = clip.video.vops[i % n].bytes;
    if (i == first) in.insert(in.begin(), clip.video.codec_data.begin(), clip.video.codec_data.end());
    std::int32_t status = 0;
    if (decoder_decode(d, picture.data(), in.data(), in.size(), &status) == kDecodeOk) out.push_back(picture);
    d->deblocking_enabled = 0;
  }
  (void)decoder_destroy(d);
  return out;
}

TEST_F(PlayerEngine, PresentsThePicturesAndPlaysTheSamplesAsf2yuvWrites) {
  // Large packets carry several sound blocks each; the default ones split
  // pictures over many packets.
  for (std::uint32_t packet_bytes : {clipkit::kDefaultPacketBytes, clipkit::kMaxPacketBytes}) {
    const clipkit::Clip clip = load_clip("qvga");
    const std::string file = write_clip_file(dir_, "qvga.asf", clip, 0, packet_bytes);
    const Asf2Yuv expected = run_asf2yuv(dir_, file, true);
    ASSERT_EQ(expected.pictures.size(), clip.video.vops.size());
    ASSERT_FALSE(expected.samples.empty());

    platform::VirtualSoundDevice* device = install_sound(true);
    Recorder recorder;
    std::vector<std::uint8_t> played;
    {
      Engine engine(EngineOptions{}, &recorder);
      std::string message;
      ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
      played = play_on_sound_clock(engine, device);
      EXPECT_FALSE(engine.status().playing);
      EXPECT_EQ(engine.status().position_ms, clip.video.vops.back().time_ms);
    }
    platform::release_sound_device();

    const auto shots = recorder.shots();
    EXPECT_EQ(recorder.rgb_mismatches(), 0) << "the picture shown is not the conversion of the one decoded";
    ASSERT_EQ(shots.size(), expected.pictures.size()) << packet_bytes;
    EXPECT_TRUE(pictures_of(shots) == expected.pictures) << packet_bytes;
    for (std::size_t i = 0; i < shots.size(); ++i) ASSERT_EQ(shots[i].time_ms, clip.video.vops[i].time_ms);
    // The sound from its first sample to its last, nothing cut, added or
    // repeated; only silence after it.
    ASSERT_GE(played.size(), expected.samples.size()) << packet_bytes;
    EXPECT_TRUE(std::equal(expected.samples.begin(), expected.samples.end(), played.begin())) << packet_bytes;
    const auto noise = std::find_if(played.begin() + static_cast<long>(expected.samples.size()), played.end(),
                                    [](std::uint8_t b) { return b != 0; });
    EXPECT_EQ(noise, played.end()) << "sound after the end at byte " << (noise - played.begin()) << " of "
                                   << played.size() << ", the recording's sound has " << expected.samples.size();
  }
}

TEST_F(PlayerEngine, SeekingLandsOnTheKeyFrameAtOrBeforeTheTimeAndGoesOnFromThere) {
  const clipkit::Clip clip = load_clip("qvga");  // 25 pictures a second, a key frame every second
  const std::string file = write_clip_file(dir_, "qvga.asf", clip);
  const Asf2Yuv expected = run_asf2yuv(dir_, file, false);
  ASSERT_EQ(expected.pictures.size(), clip.video.vops.size());
  const auto& vops = clip.video.vops;
  auto key_at_or_before = [&](std::int64_t t) {
    std::size_t k = 0;
    for (std::size_t i = 0; i < vops.size(); ++i)
      if (vops[i].key && vops[i].time_ms <= t) k = i;
    return k;
  };

  Recorder recorder;
  EngineOptions options;
  options.sound = false;
  options.start_playing = false;
  Engine engine(options, &recorder);
  std::string message;
  ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
  ASSERT_TRUE(wait_until([&] { return recorder.count() == 1; }, 10000));  // the first picture, paused

  // Times inside a second, on a key frame, before the start and past the end.
  for (std::int64_t target : {1500, 2000, 999, -40, 3960, 60000}) {
    const std::size_t k = key_at_or_before(target);
    std::size_t n = recorder.count();
    engine.seek(target);
    ASSERT_TRUE(wait_until([&] { return recorder.count() == n + 1; }, 10000)) << target;
    // ... and stepping shows the pictures that follow it.
    for (int s = 0; s < 3; ++s) {
      engine.step();
      ASSERT_TRUE(wait_until([&] { return recorder.count() == n + 2 + s; }, 10000)) << target;
    }
    const auto shots = recorder.shots();
    for (int s = 0; s <= 3; ++s) {
      const auto& shot = shots[n + s];
      EXPECT_EQ(shot.time_ms, vops[k + s].time_ms) << target;
      EXPECT_TRUE(shot.yuv == expected.pictures[k + s]) << "target " << target << " picture " << k + s;
    }
    EXPECT_FALSE(engine.status().playing);
  }

  // Played from a seek, the rest of the recording follows in order.
  const std::size_t k = key_at_or_before(2500);
  std::size_t n = recorder.count();
  engine.seek(2500);
  ASSERT_TRUE(wait_until([&] { return recorder.count() == n + 1; }, 10000));
  engine.set_speed(8);
  engine.play();
  ASSERT_TRUE(wait_for_end(engine));
  const auto shots = recorder.shots();
  ASSERT_EQ(shots.size() - n, vops.size() - k);
  for (std::size_t i = n; i < shots.size(); ++i) EXPECT_TRUE(shots[i].yuv == expected.pictures[k + i - n]) << i;
  EXPECT_TRUE(engine.index().finished());
}

TEST_F(PlayerEngine, ARecordingCutInAPacketPlaysToItsLastWholePacket) {
  const clipkit::Clip clip = load_clip("qvga");
  const std::string whole = write_clip_file(dir_, "whole.asf", clip);
  std::vector<std::uint8_t> bytes = read_bytes(whole);
  // Killed while writing: half a packet at the end, no trailer.
  const std::size_t header = clipkit::kHeaderObjectBytesAv + clipkit::kDataObjectStartBytes;
  const std::size_t packets = (bytes.size() - header) / clipkit::kDefaultPacketBytes;
  bytes.resize(header + packets / 2 * clipkit::kDefaultPacketBytes + 700);
  const std::string cut = dir_.file("cut.asf");
  ASSERT_TRUE(write_bytes(cut, bytes.data(), bytes.size()));
  const Asf2Yuv expected = run_asf2yuv(dir_, cut, false);  // reads whole packets only
  ASSERT_GT(expected.pictures.size(), 10u);
  ASSERT_LT(expected.pictures.size(), clip.video.vops.size());

  Recorder recorder;
  EngineOptions options;
  options.paced = false;
  Engine engine(options, &recorder);
  std::string message;
  ASSERT_EQ(engine.open(cut, &message), OpenError::None) << message;
  EXPECT_EQ(engine.layout().packet_count, packets / 2);
  EXPECT_EQ(engine.layout().cut_bytes, 700u);
  ASSERT_TRUE(wait_for_end(engine));
  EXPECT_TRUE(pictures_of(recorder.shots()) == expected.pictures);
  EXPECT_FALSE(engine.status().no_picture);
}

TEST_F(PlayerEngine, ARecordingBegunInThePictureStreamStartsAtItsFirstWholeKeyFrame) {
  // 25 pictures a second, a key frame every second, looping: recorded from
  // the packet after the first key frame up to 6 s.
  const clipkit::Clip clip = load_clip("qvga");
  const std::string file = write_recording(dir_, "LAN_20240501_100000.asf", clip, 6000);
  std::vector<std::uint8_t> first(clipkit::kDefaultPacketBytes);
  {
    std::ifstream in(file, std::ios::binary);
    in.seekg(clipkit::kHeaderObjectBytesAv + clipkit::kDataObjectStartBytes);
    in.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
  }
  bool starts_inside_a_picture = false;
  (void)net::asf::for_each_payload(first.data(), clipkit::kDefaultPacketBytes, [&](const net::asf::Payload& p) {
    if ((p.stream & 0x7F) != 1) return true;  // sound
    starts_inside_a_picture = !p.new_object;
    return false;
  });
  ASSERT_TRUE(starts_inside_a_picture) << "the recording should begin with the rest of a picture";

  Recorder recorder;
  EngineOptions options;
  options.paced = false;
  Engine engine(options, &recorder);
  std::string message;
  ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
  ASSERT_TRUE(wait_for_end(engine));
  const auto shots = recorder.shots();
  // Pictures 1 to 24 predict from picture 0, which lies before the file:
  // playing starts at picture 25, the next key frame, and runs to the last
  // picture before 6 s, every one exactly as a new decoder makes it.
  const std::size_t first_picture = 25, last_picture = 149;
  ASSERT_EQ(shots.size(), last_picture - first_picture + 1);
  EXPECT_EQ(shots.front().stream_time, 1000u);
  EXPECT_EQ(shots.back().stream_time, static_cast<std::uint32_t>(last_picture * 40));
  EXPECT_TRUE(pictures_of(shots) == decode_vops(clip, first_picture, shots.size()));
}

TEST_F(PlayerEngine, EightTimesSpeedShowsEveryPictureInOrderWithoutSound) {
  const clipkit::Clip clip = load_clip("qvga");
  const std::string file = write_clip_file(dir_, "qvga.asf", clip);
  const Asf2Yuv expected = run_asf2yuv(dir_, file, false);
  platform::VirtualSoundDevice* device = install_sound(false);
  Recorder recorder;
  EngineOptions options;
  options.speed = 8;
  Engine engine(options, &recorder);
  std::string message;
  ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
  ASSERT_TRUE(wait_for_end(engine));
  EXPECT_EQ(engine.status().speed, 8);
  EXPECT_TRUE(pictures_of(recorder.shots()) == expected.pictures);
  for (auto* buffer : device->buffers()) EXPECT_TRUE(buffer->played().empty()) << "sound played at 8x";
}

TEST_F(PlayerEngine, WhenTheSoundDeviceStopsPlayingGoesOnByTheClock) {
  // The sound server goes away under a playing recording: the pictures must
  // not freeze on a cursor that no longer moves.
  const clipkit::Clip clip = load_clip("small");
  const std::string file = write_clip_file(dir_, "small.asf", clip);
  platform::VirtualSoundDevice* device = install_sound(false);
  Recorder recorder;
  Engine engine(EngineOptions{}, &recorder);
  std::string message;
  ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
  ASSERT_TRUE(wait_until([&] { return engine.status().sound; }, 10000));
  for (auto* buffer : device->buffers()) buffer->stop();
  ASSERT_TRUE(wait_for_end(engine));
  EXPECT_EQ(recorder.count(), clip.video.vops.size());
}

TEST_F(PlayerEngine, SteppingThenPlayingShowsEveryPictureOnceWithItsSound) {
  const clipkit::Clip clip = load_clip("qvga");
  const std::string file = write_clip_file(dir_, "qvga.asf", clip);
  const Asf2Yuv expected = run_asf2yuv(dir_, file, true);
  platform::VirtualSoundDevice* device = install_sound(true);
  Recorder recorder;
  std::vector<std::uint8_t> played;
  {
    EngineOptions options;
    options.start_playing = false;
    Engine engine(options, &recorder);
    std::string message;
    ASSERT_EQ(engine.open(file, &message), OpenError::None) << message;
    for (std::size_t n = 1; n <= 30; ++n) {
      if (n > 1) engine.step();
      ASSERT_TRUE(wait_until([&] { return recorder.count() == n; }, 10000)) << n;
    }
    // 4x for a while, then back to 1x: the sound is read again from the
    // picture shown on.
    engine.set_speed(4);
    engine.play();
    ASSERT_TRUE(wait_until([&] { return recorder.count() >= 45; }, 10000));
    engine.set_speed(1);
    played = play_on_sound_clock(engine, device);
  }
  EXPECT_TRUE(pictures_of(recorder.shots()) == expected.pictures);
  // The sound resumed from the middle of the recording: a run of the
  // recording's samples from some point on, at a sample boundary.
  const std::size_t tail = expected.samples.size() / 4;
  const auto it = std::search(played.begin(), played.end(), expected.samples.end() - static_cast<long>(tail),
                              expected.samples.end());
  EXPECT_NE(it, played.end()) << "the end of the sound was not played";
}

TEST_F(PlayerEngine, WhatIsNotARecordingGivesAMessageAndNothingBlocks) {
  auto open = [](const std::string& path, std::string* message) {
    Engine engine(EngineOptions{});
    return engine.open(path, message);
  };
  std::string message;
  const std::string text = dir_.file("notes.asf");
  ASSERT_TRUE(test_support::write_text(text, "this is not an ASF file, only text that goes on for a while\n"));
  EXPECT_EQ(open(text, &message), OpenError::NotCameraRecording);
  EXPECT_NE(message.find("is not a camera recording"), std::string::npos) << message;

  const std::string empty = dir_.file("empty.asf");
  ASSERT_TRUE(test_support::write_text(empty, ""));
  EXPECT_EQ(open(empty, &message), OpenError::Empty);
  EXPECT_NE(message.find("is empty"), std::string::npos) << message;

  // Opening a FIFO would wait for a writer; it is refused at once instead.
  const std::string fifo = dir_.file("pipe.asf");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(open(fifo, &message), OpenError::NotRegularFile);
  EXPECT_NE(message.find("not a file that can be played"), std::string::npos) << message;
  EXPECT_EQ(open(dir_.path(), &message), OpenError::NotRegularFile);

  EXPECT_EQ(open(dir_.file("missing.asf"), &message), OpenError::CannotOpen);
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;

  // A camera header with nothing behind it, and headers that are not the
  // cameras' (a Header Object of 432 bytes, a VOL that disagrees with the
  // picture height).
  const clipkit::Clip clip = load_clip("small");
  const std::vector<std::uint8_t> good = read_bytes(write_clip_file(dir_, "small.asf", clip));
  const std::size_t header = clipkit::kHeaderObjectBytesAv + clipkit::kDataObjectStartBytes;
  std::vector<std::uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(header + 100));
  ASSERT_TRUE(write_bytes(dir_.file("header.asf"), bytes.data(), bytes.size()));
  EXPECT_EQ(open(dir_.file("header.asf"), &message), OpenError::NoPackets);
  EXPECT_NE(message.find("holds no recorded pictures"), std::string::npos) << message;
  bytes = good;
  bytes[16] = 0xB0;  // Header Object size 432
  ASSERT_TRUE(write_bytes(dir_.file("size.asf"), bytes.data(), bytes.size()));
  EXPECT_EQ(open(dir_.file("size.asf"), &message), OpenError::NotCameraRecording);

  // A camera header followed by garbage: it opens, plays to the end, and
  // says that no picture could be decoded.
  bytes.assign(good.begin(), good.begin() + static_cast<long>(header));
  std::uint32_t x = 12345;
  for (int i = 0; i < 200 * 1600; ++i) {
    x = x * 1103515245 + 12345;
    bytes.push_back(static_cast<std::uint8_t>(x >> 16));
  }
  ASSERT_TRUE(write_bytes(dir_.file("garbage.asf"), bytes.data(), bytes.size()));
  EngineOptions options;
  options.paced = false;
  Engine engine(options);
  ASSERT_EQ(engine.open(dir_.file("garbage.asf"), &message), OpenError::None);
  ASSERT_TRUE(wait_for_end(engine));
  EXPECT_TRUE(engine.status().no_picture);
}

TEST(PlayerSeekIndex, StaysWithinItsEntriesAndStillFindsEveryKeyFrame) {
  TempDir dir("player-index");
  const clipkit::Clip clip = load_clip("qvga");
  const std::string file = write_clip_file(dir, "long.asf", clip, 30000);  // 30 key frames, one a second
  OpenError error;
  std::string reason;
  auto bytes = player::open_file_bytes(file, &error, &reason);
  ASSERT_TRUE(bytes);
  player::RecordingLayout layout;
  ASSERT_EQ(player::read_layout(*bytes, &layout), OpenError::None);
  player::TimeBase base;
  std::int64_t last = 0;
  player::probe_times(*bytes, layout, &base, &last);
  for (std::size_t limit : {std::size_t{2}, std::size_t{5}, std::size_t{1000}}) {
    player::SeekIndex index(limit);
    ASSERT_TRUE(player::scan_key_frames(*bytes, layout, base, index, [] { return true; }));
    EXPECT_LE(index.entries(), limit);
    EXPECT_EQ(index.stride() > 1, limit < 30);
    EXPECT_GE(index.last_ms(), 29960);
    for (std::int64_t t = -500; t <= 31000; t += 333) {
      player::KeyEntry key;
      std::uint64_t end = 0;
      ASSERT_EQ(index.lookup(t, &key, &end), player::SeekIndex::Lookup::Found);
      key = player::refine_key(*bytes, layout, base, key, end, t);
      EXPECT_EQ(key.time_ms, std::clamp<std::int64_t>(t / 1000 * 1000, 0, 29000)) << "limit " << limit << " t " << t;
    }
  }
  // Before the scan has gone past a time, the answer is "not yet".
  player::SeekIndex early;
  early.add_key({0, {0, 0}});
  early.progress(10, 400);
  player::KeyEntry key;
  std::uint64_t end = 0;
  EXPECT_EQ(early.lookup(1000, &key, &end), player::SeekIndex::Lookup::NotYet);
  EXPECT_EQ(early.lookup(300, &key, &end), player::SeekIndex::Lookup::Found);
}

TEST(PlayerTexts, TitleSaysCameraFolderAndPeriodAndSnapshotsFollowTheViewersFolders) {
  player::RecordingLayout layout;
  EXPECT_EQ(player::window_title("/rec/00a0b1c2d3e4/LAN_20240501_100000.asf", layout),
            "00a0b1c2d3e4: LAN_20240501_100000.asf - asfplay");
  layout.has_trailer = true;
  layout.period_start = "2024/05/01   10:00";
  layout.period_end = "2024/05/01   11:00";
  EXPECT_EQ(player::window_title("/rec/00a0b1c2d3e4/LAN_20240501_100000.asf", layout),
            "00a0b1c2d3e4: 2024/05/01   10:00 - 2024/05/01   11:00 - asfplay");
  EXPECT_EQ(player::format_time(0), "0:00");
  EXPECT_EQ(player::format_time(61999), "1:01");
  EXPECT_EQ(player::format_time(3600000 + 62000), "1:01:02");
  EXPECT_EQ(player::format_time(-5), "0:00");

  TempDir dir("player-texts");
  // Started on its own: the snapshot goes into the recording's own folder.
  player::SnapshotPlace place = player::snapshot_place(dir.file("rec/00a0b1c2d3e4/x.asf"), dir.file("nowhere"));
  EXPECT_EQ(place.root, dir.file("rec"));
  EXPECT_EQ(place.camera, "00a0b1c2d3e4");
  EXPECT_EQ(place.jpeg_quality, 80);
  // Beside the viewer: its SnapshotPath and JpegRatio.
  ASSERT_TRUE(test_support::write_text(dir.file("param.dat"), "SnapshotPath=/shots\nJpegRatio=300\n"));
  place = player::snapshot_place(dir.file("rec/00a0b1c2d3e4/x.asf"), dir.path());
  EXPECT_EQ(place.root, "/shots");
  EXPECT_EQ(place.jpeg_quality, 300);
  ASSERT_TRUE(test_support::write_text(dir.file("param.dat"), "SnapshotPath=\n"));
  EXPECT_EQ(player::snapshot_place(dir.file("rec/m/x.asf"), dir.path()).root, dir.path() + "/Snapshot");
}

}  // namespace
