// Motion detection: the counting rules and the cell grid.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "viewer/media/motion.h"

namespace {

using media::MotionDetect;

struct Pictures {
  int w, h;
  std::vector<std::uint8_t> prev, cur;
  Pictures(int w_, int h_) : w(w_), h(h_), prev(w_ * h_ * 3 / 2, 100), cur(w_ * h_ * 3 / 2, 100) {}
  std::uint8_t& at(int x, int y) { return cur[y * w + x]; }
  // Runs the detection into an array with guard bytes past the grid.
  std::vector<std::uint8_t> detect(int threshold = 40) {
    const int cells = media::motion_grid_columns(w) * media::motion_grid_rows(h);
    std::vector<std::uint8_t> out(cells + 16, 0xEE);
    MotionDetect(prev.data(), cur.data(), out.data(), w, h, threshold);
    for (int i = cells; i < cells + 16; ++i) EXPECT_EQ(out[i], 0xEE) << "wrote past the grid";
    out.resize(cells);
    return out;
  }
};

TEST(MotionDetect, FullSizeGridIs41By31AndIdenticalPicturesGiveZero) {
  Pictures p(640, 480);
  EXPECT_EQ(media::kMotionMaxCells, 1271);
  // Chroma differences are not looked at.
  for (std::size_t i = 640 * 480; i < p.cur.size(); ++i) p.cur[i] = 0;
  const auto cells = p.detect();
  ASSERT_EQ(cells.size(), 1271u);
  for (std::uint8_t c : cells) ASSERT_EQ(c, 0);

  // Everything changed: every real cell saturates at 255 (256 pixels), the
  // extra column 40 and row 30 cover nothing and stay 0.
  std::fill(p.cur.begin(), p.cur.begin() + 640 * 480, 200);
  const auto all = p.detect();
  for (int r = 0; r < 31; ++r)
    for (int c = 0; c < 41; ++c) ASSERT_EQ(all[r * 41 + c], (r == 30 || c == 40) ? 0 : 255) << r << "," << c;
}

TEST(MotionDetect, ThresholdIsStrictAndEitherDirectionCounts) {
  Pictures p(320, 240);
  // Cell (row 2, column 3): 40 pixels brighter by exactly 40, 30 darker by
  // 41, 20 brighter by 41. Only the 50 above the threshold count.
  int n = 0;
  for (int y = 32; y < 48; ++y)
    for (int x = 48; x < 64; ++x, ++n) {
      if (n < 40)
        p.at(x, y) = 140;
      else if (n < 70)
        p.at(x, y) = 59;
      else if (n < 90)
        p.at(x, y) = 141;
    }
  const auto cells = p.detect();
  ASSERT_EQ(cells.size(), 21u * 16u);
  for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(cells[i], i == 2 * 21 + 3 ? 50 : 0) << i;
  // A lower threshold also counts the exact-40 pixels.
  EXPECT_EQ(p.detect(39)[2 * 21 + 3], 90);
}

TEST(MotionDetect, PartialCellsAtOddSizes) {
  // 40 x 20: three columns, two rows; the last real column and row hold
  // 8 x 16 and 16 x 4 pixels.
  Pictures p(40, 20);
  std::fill(p.cur.begin(), p.cur.begin() + 40 * 20, 0);
  const auto cells = p.detect();
  ASSERT_EQ(cells.size(), 6u);
  EXPECT_EQ(std::vector<std::uint8_t>(cells.begin(), cells.end()),
            (std::vector<std::uint8_t>{255, 255, 128, 64, 64, 32}));
}

TEST(MotionDetect, RefusesMissingBuffersAndOversizedPictures) {
  std::vector<std::uint8_t> a(1280 * 960 * 3 / 2, 0), b(a.size(), 255), cells(2000, 9);
  MotionDetect(a.data(), b.data(), cells.data(), 1280, 960, 40);
  MotionDetect(a.data(), b.data(), cells.data(), 0, 16, 40);
  MotionDetect(nullptr, b.data(), cells.data(), 16, 16, 40);
  MotionDetect(a.data(), b.data(), nullptr, 16, 16, 40);
  EXPECT_EQ(cells, std::vector<std::uint8_t>(2000, 9));
}

}  // namespace
