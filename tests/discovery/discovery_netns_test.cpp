// The camera search on private test networks: the searcher runs in one
// network namespace, stand-in cameras in another, joined by veth pairs. Skips
// when namespaces cannot be made (no privilege); it never falls back to a
// real network.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "support/camsim.h"
#include "support/child_process.h"
#include "support/netns.h"

namespace {

using Process = test_support::ChildProcess;
using testnet::TestNetwork;

struct Found {
  std::vector<std::string> cameras;  // "mac|name|description|address|port"
  int count = -1;
  long elapsed_ms = -1;
};

Found parse_search_output(const std::string& text) {
  Found f;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("camera ", 0) == 0) f.cameras.push_back(line.substr(7));
    if (line.rfind("count ", 0) == 0) f.count = std::stoi(line.substr(6));
    if (line.rfind("elapsed_ms ", 0) == 0) f.elapsed_ms = std::stol(line.substr(11));
  }
  return f;
}

struct Request {
  long at_ms;
  std::string from;
};

std::vector<Request> parse_requests(const std::string& text) {
  std::vector<Request> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    std::string word, length;
    Request r;
    if (l >> word >> r.at_ms >> length >> r.from && word == "request") out.push_back(r);
  }
  return out;
}

class DiscoveryNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    searcher_ = net_.add_namespace();
    cameras_ = net_.add_namespace();
    if (searcher_.empty() || cameras_.empty()) GTEST_SKIP() << "cannot create network namespaces here";
    ASSERT_TRUE(net_.link(searcher_, "192.0.2.1/24", cameras_, "192.0.2.2/24"));
  }

  // Starts a stand-in camera in the cameras' namespace with these answers.
  std::unique_ptr<Process> start_responder(const std::vector<std::string>& answers,
                                           const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{DISCOVERY_RESPONDER_BIN};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& a : answers) {
      argv.push_back("--answer");
      argv.push_back(a);
    }
    auto p = std::make_unique<Process>(TestNetwork::inside(cameras_, argv));
    EXPECT_TRUE(p->started());
    EXPECT_TRUE(p->wait_for_line("ready", 5000)) << "responder did not start";
    return p;
  }

  Found run_search(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{DISCOVERY_SEARCH_BIN};
    argv.insert(argv.end(), extra.begin(), extra.end());
    Process search(TestNetwork::inside(searcher_, argv));
    EXPECT_TRUE(search.started());
    return parse_search_output(search.finish(60000));
  }

  TestNetwork net_;
  std::string searcher_;
  std::string cameras_;
};

// A shortened wait keeps the suite quick where the exact listening time does
// not matter; it still covers the three requests sent until 1,200 ms.
const std::vector<std::string> kQuick{"--wait-ms", "1500"};

TEST_F(DiscoveryNetns, FindsTheSimulatedCameras) {
  test_support::CamsimProcess camsim({"--bind",
                                      "192.0.2.2",
                                      "--discovery-port",
                                      "916",
                                      "--discovery-bind",
                                      "0.0.0.0",
                                      "--port",
                                      "0",
                                      "--name",
                                      "Yard",
                                      "--description",
                                      "Back yard",
                                      "--mac",
                                      "00:0e:53:00:00:22",
                                      "small",
                                      "--camera",
                                      "0:admin:admin:small",
                                      "--name",
                                      "Gate",
                                      "--description",
                                      "Main gate",
                                      "--mac",
                                      "00:0e:53:00:00:11"},
                                     TestNetwork::inside(cameras_, {}), std::chrono::seconds(10));
  ASSERT_TRUE(camsim.ready()) << "camsim did not start";
  const Found f = run_search(kQuick);
  ASSERT_EQ(f.count, 2);
  EXPECT_EQ(f.cameras[0], "000e53000011|Gate|Main gate|192.0.2.2|80");
  EXPECT_EQ(f.cameras[1], "000e53000022|Yard|Back yard|192.0.2.2|80");
}

TEST_F(DiscoveryNetns, NoCameraGivesNothingAfterTheFullWait) {
  const Found f = run_search();
  EXPECT_EQ(f.count, 0);
  EXPECT_TRUE(f.cameras.empty());
  EXPECT_GE(f.elapsed_ms, 3900);
  EXPECT_LT(f.elapsed_ms, 6000);
}

TEST_F(DiscoveryNetns, CameraAnsweringEveryRequestIsListedOnceWithItsData) {
  auto camera = start_responder({"10,0011223344aa,Lobby,Front door camera"});
  const Found f = run_search(kQuick);
  const std::vector<Request> requests = parse_requests(camera->terminate());

  ASSERT_EQ(f.count, 1);
  ASSERT_EQ(f.cameras.size(), 1u);
  EXPECT_EQ(f.cameras[0], "0011223344aa|Lobby|Front door camera|192.0.2.2|80");

  // Asked three times, 600 ms apart, each time both at the limited broadcast
  // and at the interface's own broadcast address.
  ASSERT_EQ(requests.size(), 6u);
  int at_0 = 0, at_600 = 0, at_1200 = 0;
  for (const Request& r : requests) {
    EXPECT_EQ(r.from, "192.0.2.1");
    if (r.at_ms < 150) ++at_0;
    if (r.at_ms > 450 && r.at_ms < 800) ++at_600;
    if (r.at_ms > 1050 && r.at_ms < 1450) ++at_1200;
  }
  EXPECT_EQ(at_0, 2);
  EXPECT_EQ(at_600, 2);
  EXPECT_EQ(at_1200, 2);
}

TEST_F(DiscoveryNetns, CancelledSearchEndsAtOnceWithNothing) {
  // The camera answers, but the search is cancelled before its listening
  // would end: it returns at once, with no cameras.
  auto camera = start_responder({"10,0011223344aa,Lobby,Hall"});
  const Found f = run_search({"--cancel-after-ms", "300"});
  EXPECT_EQ(f.count, 0);
  EXPECT_GE(f.elapsed_ms, 250);
  EXPECT_LT(f.elapsed_ms, 1500);
}

TEST_F(DiscoveryNetns, SearchAimedAtOneAddressSendsOnlyThere) {
  auto camera = start_responder({"16,0011223344aa,Lobby,Hall"});
  std::vector<std::string> args = kQuick;
  args.insert(args.end(), {"--broadcast", "192.0.2.255"});
  const Found f = run_search(args);
  EXPECT_EQ(f.count, 1);
  EXPECT_EQ(parse_requests(camera->terminate()).size(), 3u);
}

TEST_F(DiscoveryNetns, CamerasComeBackSortedByMacWhateverTheReplyOrder) {
  auto camera = start_responder({"15,bb0000000002,Second,b", "19,0a0000000009,First,a", "10,b00000000001,Middle,m"});
  const Found f = run_search(kQuick);
  ASSERT_EQ(f.count, 3);
  EXPECT_EQ(f.cameras[0].substr(0, 12), "0a0000000009");
  EXPECT_EQ(f.cameras[1].substr(0, 12), "b00000000001");
  EXPECT_EQ(f.cameras[2].substr(0, 12), "bb0000000002");
}

TEST_F(DiscoveryNetns, IgnoresOtherReplyCodesAndShortReplies) {
  auto camera = start_responder({
      "11,000000000001,WrongCode,x",
      "10,000000000002,TooShort,x,84",
      "10,000000000003,JustLongEnough,x,85",
      "0,000000000004,Zero,x",
  });
  const Found f = run_search(kQuick);
  ASSERT_EQ(f.count, 1);
  EXPECT_EQ(f.cameras[0].substr(0, 12), "000000000003");
}

TEST_F(DiscoveryNetns, MoreCamerasThanTheBlockHoldsAreCutAtItsSize) {
  // Every camera answers all six requests; only distinct cameras use room.
  auto camera = start_responder({}, {"--many", "400", "--gap-us", "300"});
  const Found f = run_search(kQuick);
  EXPECT_EQ(f.count, 384);
  ASSERT_EQ(f.cameras.size(), 384u);
  EXPECT_LT(f.cameras.front(), f.cameras.back());
}

TEST_F(DiscoveryNetns, SearchesFromEveryInterfaceAndListsACameraReachableOnBothOnce) {
  ASSERT_TRUE(net_.link(searcher_, "198.51.100.1/24", cameras_, "198.51.100.2/24"));
  auto camera = start_responder({"10,0011223344aa,Lobby,Hall"});
  const Found f = run_search(kQuick);
  const std::vector<Request> requests = parse_requests(camera->terminate());

  ASSERT_EQ(f.count, 1);
  bool from_first = false, from_second = false;
  for (const Request& r : requests) {
    from_first = from_first || r.from == "192.0.2.1";
    from_second = from_second || r.from == "198.51.100.1";
  }
  EXPECT_TRUE(from_first);
  EXPECT_TRUE(from_second);
}

}  // namespace
