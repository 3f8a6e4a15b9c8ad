// Snapshots, read back with libjpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "record_fixtures.h"
#include "viewer/record/snapshot.h"

using namespace record;

namespace {

struct Picture : SnapshotSource {
  std::vector<std::uint8_t> bgr;  // bottom row first
  int width = 0, height = 0;
  bool available = true;
  bool copy_snapshot(std::vector<std::uint8_t>& out, int* w, int* h) override {
    if (!available) return false;
    out = bgr;
    *w = width;
    *h = height;
    return true;
  }
  // A smooth picture with a red top edge and a blue bottom edge, so that a
  // picture stored upside down or with swapped channels is caught.
  void paint(int w, int h, int shift = 0) {
    width = w;
    height = h;
    bgr.assign(static_cast<std::size_t>(w * h * 3), 0);
    for (int y = 0; y < h; ++y) {  // y counts from the top
      const int row = h - 1 - y;   // stored bottom-up
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = &bgr[static_cast<std::size_t>((row * w + x) * 3)];
        p[2] = static_cast<std::uint8_t>(255 * (h - 1 - y) / (h - 1));  // red fades downwards
        p[0] = static_cast<std::uint8_t>(255 * y / (h - 1));            // blue grows downwards
        p[1] = static_cast<std::uint8_t>((x * 255 / (w - 1) + shift) & 255);
      }
    }
  }
};

struct Sound : SoundPlayer {
  int plays = 0;
  std::size_t bytes = 0;
  void play_async(const std::uint8_t*, std::size_t size) override {
    ++plays;
    bytes = size;
  }
};

struct Decoded {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // top row first
  std::array<unsigned, 64> quant{};
};

struct DecodeError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

bool decode(const std::vector<std::uint8_t>& jpeg, Decoded* out) {
  jpeg_decompress_struct d;
  DecodeError err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<DecodeError*>(c->err)->jump, 1); };
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), jpeg.size());
  jpeg_read_header(&d, TRUE);
  for (int i = 0; i < 64; ++i) out->quant[static_cast<std::size_t>(i)] = d.quant_tbl_ptrs[0]->quantval[i];
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  out->width = static_cast<int>(d.output_width);
  out->height = static_cast<int>(d.output_height);
  out->rgb.resize(static_cast<std::size_t>(out->width * out->height * 3));
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = &out->rgb[static_cast<std::size_t>(d.output_scanline) * static_cast<std::size_t>(out->width) * 3];
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return true;
}

// The luminance table libjpeg builds for a quality.
std::array<unsigned, 64> table_for(int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  std::array<unsigned, 64> t{};
  for (int i = 0; i < 64; ++i) t[static_cast<std::size_t>(i)] = c.quant_tbl_ptrs[0]->quantval[i];
  jpeg_destroy_compress(&c);
  return t;
}

double psnr(const Picture& p, const Decoded& d) {
  double se = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        const int src = p.bgr[static_cast<std::size_t>(((p.height - 1 - y) * p.width + x) * 3 + (2 - ch))];
        const int dst = d.rgb[static_cast<std::size_t>((y * p.width + x) * 3 + ch)];
        se += (src - dst) * (src - dst);
      }
  const double mse = se / (p.width * p.height * 3.0);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

struct Rig {
  rectest::TempDir dir;
  SimulatedClock clock;
  rectest::FailingFileSystem fs;
  Sound sound;
  Snapshotter snap{RecordingEnv{&fs, &clock, nullptr}, &sound};
  RecordingSettings settings;
  Picture picture;
  Rig() {
    settings.SnapshotPath = dir / "Snapshot";
    (void)posix_file_system().make_directory(settings.SnapshotPath);
    clock.set_local(2005, 4, 12, 15, 30, 7);
    picture.paint(640, 480);
  }
  std::string file() const { return dir / "Snapshot/00aabbccddee/2005_0412_153007.jpg"; }
};

}  // namespace

TEST(Snapshot, SavesThePictureAtFullSizeAsJpeg) {
  Rig rig;
  ASSERT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotSaved);
  EXPECT_EQ(rig.snap.last_path(), rig.file());
  EXPECT_EQ(rig.sound.plays, 1);
  Decoded d;
  ASSERT_TRUE(decode(rectest::read_file(rig.file()), &d));
  EXPECT_EQ(d.width, 640);
  EXPECT_EQ(d.height, 480);
  EXPECT_GT(psnr(rig.picture, d), 30.0);
  EXPECT_EQ(d.quant, table_for(80));
  // Top left is red, bottom left blue.
  EXPECT_GT(d.rgb[0], 200);
  EXPECT_LT(d.rgb[2], 50);
  EXPECT_GT(d.rgb[static_cast<std::size_t>(479 * 640 * 3 + 2)], 200);
  EXPECT_EQ(rectest::list_names(rig.dir / "Snapshot/00aabbccddee"), std::vector<std::string>{"2005_0412_153007.jpg"});
}

TEST(Snapshot, QualityIsTheLowByteOfJpegRatio) {
  Rig rig;
  rig.settings.JpegRatio = 300;
  rig.picture.paint(320, 240);
  ASSERT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotSaved);
  Decoded d;
  ASSERT_TRUE(decode(rectest::read_file(rig.file()), &d));
  EXPECT_EQ(d.quant, table_for(44));
  EXPECT_NE(d.quant, table_for(80));
  EXPECT_EQ(d.width, 320);
}

TEST(Snapshot, TwoInOneSecondLeaveTheSecond) {
  Rig rig;
  ASSERT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotSaved);
  rig.picture.paint(640, 480, 128);
  ASSERT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotSaved);
  EXPECT_EQ(rectest::list_names(rig.dir / "Snapshot/00aabbccddee"), std::vector<std::string>{"2005_0412_153007.jpg"});
  Decoded d;
  ASSERT_TRUE(decode(rectest::read_file(rig.file()), &d));
  EXPECT_GT(psnr(rig.picture, d), 30.0);
  EXPECT_EQ(rig.sound.plays, 2);
}

TEST(Snapshot, NoPictureDoesNothingAndAFailedWriteStillClicks) {
  Rig rig;
  rig.picture.available = false;
  EXPECT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotNone);
  EXPECT_EQ(rig.sound.plays, 0);
  EXPECT_FALSE(rectest::exists(rig.dir / "Snapshot/00aabbccddee"));

  rig.picture.available = true;
  rig.settings.SnapshotPath = rig.dir / "no-root";  // the root is not created
  EXPECT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotFailed);
  EXPECT_EQ(rig.sound.plays, 1);
  EXPECT_FALSE(rectest::exists(rig.dir / "no-root"));

  // A full disk leaves neither a half picture nor a stray part file, and an
  // earlier snapshot of the same name survives.
  rig.settings.SnapshotPath = rig.dir / "Snapshot";
  ASSERT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotSaved);
  const auto before = rectest::read_file(rig.file());
  rig.fs.write_budget = 1000;
  rig.picture.paint(640, 480, 77);
  EXPECT_EQ(rig.snap.take("00aabbccddee", rig.picture, rig.settings), kSnapshotFailed);
  EXPECT_EQ(rectest::read_file(rig.file()), before);
  EXPECT_EQ(rectest::list_names(rig.dir / "Snapshot/00aabbccddee"), std::vector<std::string>{"2005_0412_153007.jpg"});
}

TEST(Snapshot, SoundIsAWaveWithSilenceAtTheEnd) {
  const auto& wav = snapshot_sound_wav();
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  const std::uint32_t data = wav[40] | wav[41] << 8 | wav[42] << 16 | static_cast<std::uint32_t>(wav[43]) << 24;
  EXPECT_EQ(data + 44, wav.size());
  // At 8 kHz, 16 bits: the last 250 ms are silence, and something is heard before.
  const std::size_t tail = 8000 * 2 / 4;
  EXPECT_TRUE(std::all_of(wav.end() - static_cast<long>(tail), wav.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_FALSE(
      std::all_of(wav.begin() + 44, wav.end() - static_cast<long>(tail), [](std::uint8_t b) { return b == 0; }));
  // Rejected pictures: nothing encoded.
  std::vector<std::uint8_t> out;
  EXPECT_EQ(encode_jpeg(nullptr, 16, 16, 80, out), 0);
  std::vector<std::uint8_t> px(16 * 16 * 3, 9);
  EXPECT_EQ(encode_jpeg(px.data(), 0, 16, 80, out), 0);
  EXPECT_EQ(encode_jpeg(px.data(), 16, 16, 0, out), 1);  // quality 0 is libjpeg's lowest
}
