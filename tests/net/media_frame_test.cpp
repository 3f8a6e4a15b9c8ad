#include "viewer/net/media_frame.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<net::MediaFrame> frame_of(std::uint8_t byte, std::uint32_t time) {
  auto f = std::make_unique<net::MediaFrame>();
  EXPECT_TRUE(f->set(&byte, 1, time, 0));
  return f;
}

TEST(FrameQueue, KeepsOrderAndOwnership) {
  net::FrameQueue q;
  EXPECT_EQ(q.take_front(), nullptr);
  for (std::uint32_t i = 0; i < 5; ++i) q.push_back(frame_of(static_cast<std::uint8_t>(i), i * 10));
  EXPECT_EQ(q.count(), 5u);
  int seen = -1;
  EXPECT_TRUE(q.peek_front([&](net::MediaFrame& f) { seen = f.data()[0]; }));
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(q.count(), 5u);
  for (std::uint32_t i = 0; i < 3; ++i) {
    auto f = q.take_front();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->time(), i * 10);
  }
  q.clear();
  EXPECT_EQ(q.count(), 0u);
  EXPECT_FALSE(q.peek_front([](net::MediaFrame&) {}));
}

TEST(MediaFrame, RefusesMissingSourceAndReplacesData) {
  net::MediaFrame f;
  const std::uint8_t* d = nullptr;
  std::uint32_t len = 0, t = 0;
  EXPECT_FALSE(f.get(&d, &len, &t));
  EXPECT_FALSE(f.set(nullptr, 4, 0, 0));
  const std::uint8_t a[3] = {1, 2, 3};
  ASSERT_TRUE(f.set(a, 3, 77, net::kMarkerVideoKey));
  const std::uint8_t b[1] = {9};
  ASSERT_TRUE(f.set(b, 1, 78, net::kMarkerVideo));
  int marker = 0;
  ASSERT_TRUE(f.get(&d, &len, &t, &marker));
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(d[0], 9);
  EXPECT_EQ(t, 78u);
  EXPECT_EQ(marker, net::kMarkerVideo);
}

}  // namespace
