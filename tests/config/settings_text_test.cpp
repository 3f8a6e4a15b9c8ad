// The text layer of "param.dat": the key-value reader, the number scan and
// the CamInfo / CamSchedule values.
#include <gtest/gtest.h>

#include <algorithm>

#include "viewer/config/cam_info.h"
#include "viewer/config/key_value_reader.h"

namespace config {
namespace {

TEST(KeyValueReader, LineEndsCommentsAndKeys) {
  const std::string bytes =
      "    \n"
      "Slience=3\r\n"  // CR LF
      "Volume =7\n"    // a space makes it another key
      "JpegRatio=60\n"
      "JpegRatio=90\n"              // the first occurrence wins
      "MotionPath=/a/b//comment\n"  // cut at "//"
      "no equals sign here\n"
      "Url=x=y\xFF"  // 0xFF ends a line; the value keeps its "="
      "AutoRun=0";   // no line feed at the end
  KeyValueMap map = parse_key_values(bytes);
  EXPECT_EQ(map.at("Slience"), "3");
  EXPECT_EQ(map.count("Volume"), 0u);
  EXPECT_EQ(map.at("Volume "), "7");
  EXPECT_EQ(map.at("JpegRatio"), "60");
  EXPECT_EQ(map.at("MotionPath"), "/a/b");
  EXPECT_EQ(map.at("Url"), "x=y");
  EXPECT_EQ(map.at("AutoRun"), "0");
  EXPECT_EQ(map.size(), 6u);
}

TEST(KeyValueReader, CarriageReturnInsideALineIsDropped) { EXPECT_EQ(parse_key_values("Key=a\rb\n").at("Key"), "ab"); }

TEST(ScanInt, BehavesLikeADecimalScan) {
  std::int32_t v = 42;
  EXPECT_EQ(scan_int("abc", &v), 0u);
  EXPECT_EQ(v, 42);  // not a number: untouched
  EXPECT_EQ(scan_int("", &v), 0u);
  EXPECT_EQ(scan_int("-", &v), 0u);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(scan_int("  -17|5", &v), 5u);
  EXPECT_EQ(v, -17);
  EXPECT_EQ(scan_int("12abc", &v), 2u);
  EXPECT_EQ(v, 12);
  EXPECT_GT(scan_int("99999999999999999999", &v), 0u);
  EXPECT_EQ(v, 2147483647);
  EXPECT_GT(scan_int("-99999999999", &v), 0u);
  EXPECT_EQ(v, -2147483647 - 1);
}

CamInfo sample_camera(const std::string& mac, int layout) {
  CamInfo c;
  c.name = "Front door";
  c.address = "192.168.1.20";
  c.port = "80";
  c.mac = mac;
  c.description = "porch, north side";
  c.user = "admin";
  c.password = "pa%ss";
  c.connected = 1;
  c.channel = 3;
  c.location = 1;
  c.connection_state = 1;
  c.reserved = 7;
  c.muted = 1;
  c.volume = -1200;
  for (int z = 0; z < kZoneValues; ++z) c.zone_mask[z] = (z % 3 == 0) ? 1 : 0;
  c.zone_layout = layout;
  c.sensitivity = 5;
  return c;
}

TEST(CameraText, RoundTripKeepsEveryFieldAndZerosUnusedZones) {
  std::vector<CamInfo> cams = {sample_camera("0011223344aa", 2), sample_camera("0011223344bb", 0)};
  std::string text = build_camera_text(cams);
  std::vector<CamInfo> back = parse_camera_text(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0], cams[0]);  // 5x5: all 25 zones kept
  // 3x3: zones 10 to 25 are written as 0.
  CamInfo expected = cams[1];
  for (int z = 9; z < kZoneValues; ++z) expected.zone_mask[z] = 0;
  EXPECT_EQ(back[1], expected);
  // Plain records carry exactly 43 fields.
  std::string first = text.substr(0, text.find('\\'));
  EXPECT_EQ(std::count(first.begin(), first.end(), '|'), 42);
}

TEST(CameraText, HandWrittenRecords) {
  // Old-format record, a short record, and an unterminated last record.
  const std::string old_record =
      "Cam|10.0.0.5|8080|00aabbccddee|desc|u|p%7C|0|2|0|1|1|4|0|0|-300|"
      "1|1|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|3\\";
  std::vector<CamInfo> cams =
      parse_camera_text(old_record + "Short|h|1|00aabbccddef|d|u|p|1|x\\" + "Lost|h|1|m|d|u|p|0");
  ASSERT_EQ(cams.size(), 2u);
  EXPECT_EQ(cams[0].password, "p%7C");  // no marker: an old "%" stays as written
  EXPECT_EQ(cams[0].port, "8080");
  EXPECT_EQ(cams[0].channel, 2);
  EXPECT_EQ(cams[0].recording, 1);
  EXPECT_EQ(cams[0].connection_state, 4);
  EXPECT_EQ(cams[0].volume, -300);
  EXPECT_EQ(cams[0].zone_mask[2], 1);
  EXPECT_EQ(cams[0].zone_layout, 0);
  EXPECT_EQ(cams[0].sensitivity, 3);
  // The scan stops at the first value that is not a number; the rest keep defaults.
  EXPECT_EQ(cams[1].connected, 1);
  EXPECT_EQ(cams[1].channel, 0);
  EXPECT_EQ(cams[1].sensitivity, 3);
  EXPECT_TRUE(parse_camera_text("").empty());
}

TEST(CameraText, DangerousTextSurvivesTheWholeFileAndSparesLaterRecords) {
  CamInfo bad = sample_camera("0011223344aa", 1);
  bad.name = "a|b\\c";
  bad.description = "see http://cam.example/%41";
  bad.password = "line\nbreak\r\xFF";
  CamInfo good = sample_camera("0011223344bb", 2);
  std::string text = build_camera_text({bad, good});
  // Through the key-value reader, as the file is read.
  KeyValueMap map = parse_key_values("CamInfo=" + text + "\nCamSchedule=\n");
  std::vector<CamInfo> back = parse_camera_text(map.at("CamInfo"));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, bad.name);
  EXPECT_EQ(back[0].description, bad.description);
  EXPECT_EQ(back[0].password, bad.password);
  EXPECT_EQ(back[1], good);
}

TEST(CameraText, ProtectionIsReversible) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(unprotect_text(protect_text(all)), all);
  EXPECT_FALSE(text_needs_protection(protect_text(all)));
  EXPECT_EQ(unprotect_text("100%"), "100%");
  EXPECT_EQ(unprotect_text("%zz%4"), "%zz%4");
}

TEST(ScheduleText, RoundTripAndFormat) {
  std::vector<CamScheduleRecord> recs = {
      {"0011223344aa", 0, {{0, 1, 830, 60}, {1, 20260315, 2200, 480}}},
      {"0011223344bb", 1, {}},
  };
  std::string text = build_schedule_text(recs);
  EXPECT_EQ(text, "0011223344aa0|2|0|1|830|60|1|20260315|2200|480\\0011223344bb1|0\\");
  std::vector<CamScheduleRecord> back = parse_schedule_text(text);
  // A count without a following "|" holds no entries and is left out.
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], recs[0]);
}

TEST(ScheduleText, HandWrittenRecords) {
  std::vector<CamScheduleRecord> back = parse_schedule_text(
      "aabbccddeeff0|5|0|1|900|30|1|2|1000|15\\"       // count larger than the entries present
      "aabbccddeeff1|1|0|3|700\\"                      // incomplete entry
      "nodigit|1|0|1|1|1\\"                            // key without a location digit
      "aabbccddee001|2|0|4|100|5|0|4|100|5|0|5|1|1\\"  // count smaller than the entries
      "aabbccddee011|1|0|1|1|1");                      // unterminated
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].entries.size(), 2u);
  EXPECT_EQ(back[0].entries[1], (ScheduleValues{1, 2, 1000, 15}));
  EXPECT_EQ(back[1].location, 1);
  EXPECT_TRUE(back[1].entries.empty());
  EXPECT_EQ(back[2].mac, "aabbccddee00");
  EXPECT_EQ(back[2].entries.size(), 2u);
}

}  // namespace
}  // namespace config
