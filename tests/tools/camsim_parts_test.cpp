// camsim's pieces without the program: command line, HTTP, discovery reply.
#include <gtest/gtest.h>

#include "tools/camsim/discovery.h"
#include "tools/camsim/http.h"
#include "tools/camsim/options.h"

namespace {

camsim::ParseResult parse(std::vector<const char*> args, camsim::Config* config, std::string* error) {
  args.insert(args.begin(), "camsim");
  return camsim::parse_args(static_cast<int>(args.size()), args.data(), config, error);
}

TEST(CamsimOptions, CameraOptionsApplyToTheCameraBeingDefined) {
  camsim::Config c;
  std::string error;
  ASSERT_EQ(parse({"--name",
                   "one",
                   "--port",
                   "8080",
                   "--user",
                   "u",
                   "--password",
                   "p",
                   "clips/a",
                   "--no-audio",
                   "--camera",
                   "0:v:q:clips/b:c",
                   "--close-after",
                   "7",
                   "--mac",
                   "00-11-22-33-44-55",
                   "--fast",
                   "--discovery-port",
                   "0",
                   "--discovery-bind",
                   "0.0.0.0"},
                  &c, &error),
            camsim::ParseResult::kRun)
      << error;
  ASSERT_EQ(c.cameras.size(), 2u);
  EXPECT_EQ(c.cameras[0].port, 8080);
  EXPECT_EQ(c.cameras[0].name, "one");
  EXPECT_FALSE(c.cameras[0].audio);
  EXPECT_EQ(c.cameras[0].faults.close_after, 0u);
  EXPECT_EQ(camsim::mac_with_colons(c.cameras[0].mac), "00:0e:53:00:00:01");
  EXPECT_EQ(c.cameras[1].user, "v");
  EXPECT_EQ(c.cameras[1].password, "q");
  EXPECT_EQ(c.cameras[1].clip, "clips/b:c");
  EXPECT_TRUE(c.cameras[1].audio);
  EXPECT_EQ(c.cameras[1].faults.close_after, 7u);
  EXPECT_EQ(c.cameras[1].name, "camsim2");
  EXPECT_EQ(camsim::mac_with_colons(c.cameras[1].mac), "00:11:22:33:44:55");
  EXPECT_TRUE(c.fast);
  EXPECT_TRUE(c.discovery);
  EXPECT_EQ(c.discovery_bind, "0.0.0.0");
  EXPECT_EQ(c.bind_address, "127.0.0.1");
  ASSERT_EQ(parse({"--port", "1", "clip"}, &c, &error), camsim::ParseResult::kRun);
  EXPECT_FALSE(c.discovery);  // never without --discovery-port
}

TEST(CamsimOptions, RefusesIncompleteOrOutOfRangeSettings) {
  const std::vector<std::vector<const char*>> bad = {
      {},
      {"--port", "1"},
      {"clip"},
      {"--port", "70000", "clip"},
      {"--port", "1", "clip", "--packet-size", "63"},
      {"--port", "1", "clip", "--packet-size", "12801"},
      {"--port", "1", "clip", "--mac", "00:11:22:33:44"},
      {"--port", "1", "clip", "other"},
      {"--no-audio", "--camera", "1:u:p:clip"},
      {"--camera", "1:u:clip"},
      {"--port", "1", "clip", "--ddns-target", "2"},
      {"--port", "1", "clip", "--discovery-length", "4"},
      {"--port", "1", "clip", "--close-after"},
  };
  for (const auto& args : bad) {
    camsim::Config c;
    std::string error;
    EXPECT_EQ(parse(args, &c, &error), camsim::ParseResult::kError) << (args.empty() ? "" : args.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(CamsimHttp, BasicAuthToleratesTheViewersExtraPadding) {
  // "u:p" 3 bytes, "ab:cd" 5, "abc:d" 5, "a:b12" ... the viewer appends "==".
  EXPECT_EQ(camsim::decode_base64_lenient("dTpw=="), "u:p");
  EXPECT_EQ(camsim::decode_base64_lenient("YWRtaW46YWRtaW4==="), "admin:admin");
  EXPECT_EQ(camsim::decode_base64_lenient("YTpi===="), "a:b");
  EXPECT_TRUE(camsim::basic_auth_matches("Basic YWRtaW46YWRtaW4===", "admin", "admin"));
  EXPECT_TRUE(camsim::basic_auth_matches("basic YWRtaW46YWRtaW4=", "admin", "admin"));
  EXPECT_FALSE(camsim::basic_auth_matches("Basic YWRtaW46YWRtaW4=", "admin", "admin2"));
  EXPECT_FALSE(camsim::basic_auth_matches("Digest YWRtaW46YWRtaW4=", "admin", "admin"));
  EXPECT_FALSE(camsim::basic_auth_matches("Basic ", "", ""));
}

TEST(CamsimHttp, RequestHeadsWithEitherLineEnding) {
  camsim::HttpRequest r;
  ASSERT_TRUE(camsim::parse_request_head("GET /util/util2.cgi?x=1 HTTP/1.0\nauthorization:  Basic abc \n\n", &r));
  EXPECT_EQ(r.path, "/util/util2.cgi");
  EXPECT_EQ(r.target, "/util/util2.cgi?x=1");
  EXPECT_TRUE(r.has_authorization);
  EXPECT_EQ(r.authorization, "Basic abc");
  EXPECT_FALSE(camsim::parse_request_head("GET /img/video.asf\r\n\r\n", &r));
  EXPECT_FALSE(camsim::parse_request_head("GET / HTTP/1.1 extra\r\n\r\n", &r));
  EXPECT_FALSE(camsim::parse_request_head("", &r));
}

TEST(CamsimDiscovery, ReplyFieldsAreCutToTheirSlotsAndTheLength) {
  const std::array<uint8_t, 6> mac = {1, 2, 3, 4, 5, 6};
  const auto full = camsim::build_discovery_reply(19, mac, std::string(40, 'n'), std::string(40, 'd'), 128);
  ASSERT_EQ(full.size(), 128u);
  EXPECT_EQ(full[8], 19);
  EXPECT_EQ(full[9], 0);
  EXPECT_EQ(full[29], 1);
  EXPECT_EQ(full[34], 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&full[35])), std::string(16, 'n'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&full[52])), std::string(32, 'd'));
  const auto short_reply = camsim::build_discovery_reply(10, mac, "x", "y", 40);
  ASSERT_EQ(short_reply.size(), 40u);
  EXPECT_EQ(short_reply[35], 'x');
}

}  // namespace
