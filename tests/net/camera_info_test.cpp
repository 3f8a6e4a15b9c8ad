#include <gtest/gtest.h>

#include <string>

#include "viewer/net/camera_info.h"

namespace {

using namespace std::string_literals;

TEST(CameraInfoReply, ThreePiecesSeparatedByZeroBytes) {
  const std::string body =
      "camerainfo=Warehouse gate\0"
      "00:0f:a0:12:bc:ff\0"
      "Gate\0"s;
  const auto info = net::parse_camera_info(body);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->description, "Warehouse gate");
  EXPECT_EQ(info->mac, "000fa012bcff");
  EXPECT_EQ(info->name, "Gate");
}

TEST(CameraInfoReply, LastPieceMayEndWithTheBody) {
  const auto info = net::parse_camera_info(
      "camerainfo=\0"
      "000FA012BCFF\0"
      "Gate"s);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->description, "");
  EXPECT_EQ(info->mac, "000FA012BCFF");  // kept as the camera gives it
  EXPECT_EQ(info->name, "Gate");
  // A body that ends right after the MAC has an empty name.
  const auto no_name = net::parse_camera_info(
      "camerainfo=d\0"
      "000fa012bcff"s);
  ASSERT_TRUE(no_name);
  EXPECT_EQ(no_name->name, "");
}

TEST(CameraInfoReply, RefusedWithoutMarkerOrWithoutAUsableMac) {
  EXPECT_FALSE(net::parse_camera_info(""));
  EXPECT_FALSE(net::parse_camera_info("<html>401 Unauthorized</html>"));
  EXPECT_FALSE(net::parse_camera_info("camerainfo="));
  EXPECT_FALSE(
      net::parse_camera_info("camerainfo=desc\0"
                             "000fa012bcf\0"
                             "n"s));  // 11 digits
  EXPECT_FALSE(
      net::parse_camera_info("camerainfo=desc\0"
                             "000fa012bcff0\0"
                             "n"s));  // 13 digits
  EXPECT_FALSE(
      net::parse_camera_info("camerainfo=desc\0"
                             "../../etc/pa\0"
                             "n"s));  // names a folder
  EXPECT_FALSE(
      net::parse_camera_info("camerainfo=desc\0"
                             "00-0f-a0-12-bc-ff\0"
                             "n"s));
  EXPECT_FALSE(net::parse_camera_info("camerainfo=no zero byte at all"));
}

TEST(CameraInfoReply, LongPiecesAreCutAt255Bytes) {
  const std::string long_text(1000, 'x');
  const std::string body = "camerainfo=" + long_text +
                           "\0"
                           "000fa012bcff\0"s +
                           long_text;
  const auto info = net::parse_camera_info(body);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->description, std::string(255, 'x'));
  EXPECT_EQ(info->mac, "000fa012bcff");
  EXPECT_EQ(info->name, std::string(255, 'x'));
}

TEST(CameraInfoReply, MarkerAfterLeadingBytesIsReadFromWhereItIs) {
  const auto info = net::parse_camera_info(
      "\r\ncamerainfo=d\0"
      "000fa012bcff\0"
      "n"s);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->description, "d");
  EXPECT_EQ(info->name, "n");
}

}  // namespace
