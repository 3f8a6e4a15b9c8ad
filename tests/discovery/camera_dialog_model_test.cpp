// The camera dialog's rules with a scripted network: fetches answer from a
// table, the search returns prepared records, message boxes go to a headless
// user interface. Nothing here touches a network.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera_dialog_model.h"

namespace {

using namespace std::string_literals;
using model::CameraDialogFields;
using model::CameraDialogMode;
using model::CameraRecord;
using platform::MsgAnswer;

const std::string kInfoBody =
    "camerainfo=Loading bay\0"
    "00:0f:a0:12:bc:ff\0"
    "Dock\0"s;

net::DiscoveredCamera found(const char* mac, const char* name, const char* address) {
  net::DiscoveredCamera r{};
  std::strncpy(r.mac, mac, sizeof(r.mac) - 1);
  std::strncpy(r.name, name, sizeof(r.name) - 1);
  std::strncpy(r.description, "found", sizeof(r.description) - 1);
  std::strncpy(r.address, address, sizeof(r.address) - 1);
  r.port = 80;
  return r;
}

class CameraDialog : public ::testing::Test {
 protected:
  CameraDialog()
      : model_(
            [this](net::DiscoveredCameraBlock& block, int& count) {
              count = static_cast<int>(search_results_.size());
              std::copy(search_results_.begin(), search_results_.end(), block.begin());
              return 0;
            },
            [this](const std::string& url) -> std::optional<std::string> {
              fetched_.push_back(url);
              const auto it = pages_.find(url);
              if (it == pages_.end()) return std::string();  // refused connection: empty body
              return it->second;
            },
            [this](const CameraRecord& camera) {
              added_.push_back(camera);
              return list_accepts_;
            },
            [this](const CameraRecord& camera) {
              saved_.push_back(camera);
              return list_accepts_;
            }) {}

  std::vector<std::string> texts() { return ui_->shown_texts(); }

  platform::ScopedHeadlessUi ui_;
  std::vector<net::DiscoveredCamera> search_results_;
  std::map<std::string, std::optional<std::string>> pages_;
  std::vector<std::string> fetched_;
  std::vector<CameraRecord> added_;
  int list_accepts_ = 1;
  std::vector<CameraRecord> saved_;
  model::CameraDialogModel model_;
};

TEST_F(CameraDialog, SuccessfulTestFillsIdentityFromTheInformationPage) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().address = "localhost";
  model_.fields().port = "8080";
  pages_["http://127.0.0.1:8080/util/util2.cgi"] = kInfoBody;
  model_.test();
  EXPECT_EQ(fetched_, std::vector<std::string>{"http://127.0.0.1:8080/util/util2.cgi"});
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection successful."});
  EXPECT_EQ(model_.fields().description, "Loading bay");
  EXPECT_EQ(model_.fields().mac, "000fa012bcff");
  EXPECT_EQ(model_.fields().name, "Dock");
  EXPECT_TRUE(ui_.get().shown().empty());
}

TEST_F(CameraDialog, AnythingButCameraInformationIsAFailedConnection) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().address = "127.0.0.1";
  model_.fields().port = "80";
  model_.fields().name = "kept";
  for (const std::optional<std::string>& body :
       {std::optional<std::string>("<html>Not Found</html>"), std::optional<std::string>(),
        std::optional<std::string>("camerainfo=x\0"
                                   "not-a-mac\0"
                                   "n"s)}) {
    pages_["http://127.0.0.1:80/util/util2.cgi"] = body;
    model_.test();
    EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection fail."});
    EXPECT_EQ(model_.fields().name, "kept");
  }
}

TEST_F(CameraDialog, PortAndAddressChecksComeBeforeAnyFetch) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().address = "127.0.0.1";
  for (const char* port : {"65536", "70000", "99999999999999999999999"}) {
    model_.fields().port = port;
    model_.test();
    EXPECT_EQ(model_.result_list(), std::vector<std::string>{"port number not correct."}) << port;
  }
  model_.fields().address = "no-such-camera.invalid";
  model_.fields().port = "80";
  model_.test();
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"address not correct."});
  EXPECT_TRUE(fetched_.empty());

  model_.fields().address = "127.0.0.1";
  model_.fields().port = "65535";
  model_.test();
  EXPECT_EQ(fetched_, std::vector<std::string>{"http://127.0.0.1:65535/util/util2.cgi"});
}

TEST_F(CameraDialog, EmptyAddressOnlyWarns) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().port = "80";
  model_.test();
  ASSERT_EQ(ui_.get().shown().size(), 1u);
  EXPECT_EQ(ui_.get().shown()[0].text, "please enter the address of cam");
  EXPECT_EQ(ui_.get().shown()[0].caption, "warning");
  EXPECT_TRUE(model_.result_list().empty());
  EXPECT_TRUE(fetched_.empty());
}

TEST_F(CameraDialog, NoPortAsksTheDynamicDnsPageFirst) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().address = "localhost";
  pages_["http://localhost"] = "<html>URL=http://127.0.0.1:8081\"</html>";
  pages_["http://127.0.0.1:8081/util/util2.cgi"] = kInfoBody;
  for (const char* port : {"", "0", "-3", "abc"}) {
    fetched_.clear();
    model_.fields().port = port;
    model_.test();
    EXPECT_EQ(fetched_, (std::vector<std::string>{"http://localhost", "http://127.0.0.1:8081/util/util2.cgi"}))
        << "port '" << port << "'";
    EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection successful."});
  }

  // A page without the camera's address ends the test there.
  fetched_.clear();
  pages_["http://localhost"] = "<html>no such host</html>";
  model_.test();
  EXPECT_EQ(fetched_.size(), 1u);
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection fail."});

  // Without a port in the page the camera is asked on the default HTTP port.
  fetched_.clear();
  pages_["http://localhost"] = "URL=http://127.0.0.1/";
  model_.test();
  EXPECT_EQ(fetched_.back(), "http://127.0.0.1:80/util/util2.cgi");
}

TEST_F(CameraDialog, SearchListsNamesAndSelectFillsTheFields) {
  search_results_ = {found("000000000001", "Yard", "192.0.2.10"), found("000000000002", "Hall", "192.0.2.11")};
  model_.open(CameraDialogMode::AddFound);
  model_.search();
  EXPECT_EQ(model_.result_list(), (std::vector<std::string>{"Yard", "Hall"}));
  EXPECT_EQ(model_.fields().name, "Yard");
  EXPECT_EQ(model_.fields().address, "192.0.2.10");
  EXPECT_EQ(model_.fields().port, "80");

  model_.select(1);
  EXPECT_EQ(model_.fields().mac, "000000000002");
  EXPECT_EQ(model_.fields().description, "found");
  model_.select(2);
  model_.select(-1);
  EXPECT_EQ(model_.fields().name, "Hall");
}

TEST_F(CameraDialog, AddNeedsAFoundCameraAndPassesItAsLocal) {
  model_.open(CameraDialogMode::AddFound);
  EXPECT_EQ(model_.add(), 0);
  EXPECT_EQ(texts(), std::vector<std::string>{"can't find any cam device."});
  EXPECT_TRUE(added_.empty());

  search_results_ = {found("000000000001", "Yard", "192.0.2.10")};
  model_.search();
  model_.fields().user = "admin";
  model_.fields().password = "secret";
  EXPECT_EQ(model_.add(), 1);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].location, 0);
  EXPECT_EQ(added_[0].connection_state, 1);
  EXPECT_EQ(added_[0].mac, "000000000001");
  EXPECT_EQ(added_[0].port, "80");
  EXPECT_EQ(added_[0].password, "secret");
  EXPECT_EQ(texts().back(), "Camera added successfully to list");

  // A list that refuses (it shows its own message) gets no success message.
  list_accepts_ = 0;
  const std::size_t shown = texts().size();
  EXPECT_EQ(model_.add(), 0);
  EXPECT_EQ(texts().size(), shown);
}

TEST_F(CameraDialog, NamesAndOtherStoredTextsMayNotHoldSeparators) {
  search_results_ = {found("000000000001", "Yard", "192.0.2.10")};
  model_.open(CameraDialogMode::AddFound);
  model_.search();
  for (const char* name : {"|Yard", "Ya|rd", "Yard|", "Ya\\rd"}) {
    model_.fields().name = name;
    EXPECT_EQ(model_.add(), 0) << name;
    EXPECT_EQ(texts().back(), "the name can't include '\\' or '|'");
    EXPECT_EQ(ui_.get().shown().back().caption, "");
  }
  model_.fields().name = "Yard";
  model_.fields().password = "pa|ss";
  EXPECT_EQ(model_.add(), 0);
  EXPECT_EQ(texts().back(), model::kMsgTextRule);
  EXPECT_TRUE(added_.empty());
}

TEST_F(CameraDialog, TestAndAddStopsOnlyWhenTheCameraDidNotAnswer) {
  model_.open(CameraDialogMode::AddByAddress);
  model_.fields().address = "127.0.0.1";
  model_.fields().port = "80";
  pages_["http://127.0.0.1:80/util/util2.cgi"] = "<html>busy</html>";
  EXPECT_EQ(model_.test_and_add(), 0);
  EXPECT_EQ(texts().back(), "can't find any cam device.");

  pages_["http://127.0.0.1:80/util/util2.cgi"] = kInfoBody;
  model_.test();
  ASSERT_EQ(model_.fields().name, "Dock");
  // The earlier test's identity is still added when this test cannot even
  // look the address up.
  model_.fields().address = "moved-away.invalid";
  EXPECT_EQ(model_.test_and_add(), 1);
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"address not correct."});
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].location, 1);
  EXPECT_EQ(added_[0].mac, "000fa012bcff");
  EXPECT_EQ(added_[0].address, "moved-away.invalid");
  EXPECT_EQ(texts().back(), "Camera added successfully to list");
}

TEST_F(CameraDialog, TestAndAddWantsANameAndAnAnswer) {
  model_.open(CameraDialogMode::AddByAddress);
  EXPECT_EQ(model_.test_and_add(), 0);  // no address: warning, then nothing listed
  EXPECT_EQ(texts(), (std::vector<std::string>{"please enter the address of cam", "can't find any cam device."}));

  model_.fields().address = "127.0.0.1";
  model_.fields().port = "80";
  pages_["http://127.0.0.1:80/util/util2.cgi"] =
      "camerainfo=d\0"
      "000fa012bcff\0"s;
  EXPECT_EQ(model_.test_and_add(), 0);
  EXPECT_EQ(texts().back(), "please enter a camera name");
  EXPECT_TRUE(added_.empty());
}

TEST_F(CameraDialog, TestThatBringsAnotherNameMakesSaveAsk) {
  const CameraRecord camera{"Old name", "127.0.0.1", "80", "000fa012bcff", "d", "admin", "pw"};
  model_.open(CameraDialogMode::EditLan, &camera);
  pages_["http://127.0.0.1:80/util/util2.cgi"] = kInfoBody;
  model_.test();
  ui_->script_answers({MsgAnswer::No});
  EXPECT_EQ(model_.save(), 0);
  EXPECT_EQ(texts().front(), "all recording directory will be changed too!");
}

TEST_F(CameraDialog, TestThatBringsAnotherMacMakesSaveAskToo) {
  // Same name, another device answering at the address: its MAC names other
  // recording folders, so Save asks as it does for a new name.
  const CameraRecord camera{"Dock", "127.0.0.1", "80", "000FA012BC00", "d", "admin", "pw"};
  model_.open(CameraDialogMode::EditLan, &camera);
  pages_["http://127.0.0.1:80/util/util2.cgi"] = kInfoBody;  // name "Dock", MAC 000fa012bcff
  model_.test();
  ASSERT_EQ(model_.fields().name, "Dock");
  ui_->script_answers({MsgAnswer::No});
  EXPECT_EQ(model_.save(), 0);
  EXPECT_TRUE(saved_.empty());
  EXPECT_EQ(texts().back(), "all recording directory will be changed too!");

  ui_->script_answers({MsgAnswer::Yes});
  EXPECT_EQ(model_.save(), 1);
  ASSERT_EQ(saved_.size(), 1u);
  EXPECT_EQ(saved_[0].mac, "000fa012bcff");
  // Saved: the camera now has that MAC, and saving again asks nothing.
  ui_->clear();
  EXPECT_EQ(model_.save(), 1);
  EXPECT_EQ(texts(), std::vector<std::string>{"Save Successful."});

  // A stored MAC in upper case is the same MAC: no question.
  const CameraRecord upper{"Dock", "127.0.0.1", "80", "000FA012BCFF", "d", "admin", "pw"};
  model_.open(CameraDialogMode::EditLan, &upper);
  ui_->clear();
  EXPECT_EQ(model_.save(), 1);
  EXPECT_EQ(texts(), std::vector<std::string>{"Save Successful."});
}

TEST_F(CameraDialog, SlowStepsSplitForAWorkerGiveTheSameOutcome) {
  // begin: reads the fields (and warns on the UI thread); run: network only,
  // with the fetch it is handed; finish: fills the fields.
  model_.open(CameraDialogMode::AddByAddress);
  model::ConnectionTestInput input;
  EXPECT_FALSE(model_.begin_test(&input));
  EXPECT_EQ(texts(), std::vector<std::string>{"please enter the address of cam"});

  model_.fields().address = "localhost";
  model_.fields().port = "8080";
  ASSERT_TRUE(model_.begin_test(&input));
  // The fields change while the test runs; the test uses what it was given.
  model_.fields().port = "9";
  std::vector<std::string> asked;
  const model::ConnectionTestResult result =
      model::CameraDialogModel::run_test(input, [&](const std::string& url) -> std::optional<std::string> {
        asked.push_back(url);
        return kInfoBody;
      });
  EXPECT_EQ(asked, std::vector<std::string>{"http://127.0.0.1:8080/util/util2.cgi"});
  EXPECT_EQ(model_.fields().name, "");  // nothing written before finish
  model_.finish_test(result);
  EXPECT_EQ(model_.fields().name, "Dock");
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection successful."});
  model_.fields().user = "admin";
  EXPECT_EQ(model_.finish_test_and_add(), 1);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].location, 1);

  // A fetch that gives nothing (cancelled, timed out) is a failed connection.
  model_.finish_test(model::CameraDialogModel::run_test(
      input, [](const std::string&) -> std::optional<std::string> { return std::nullopt; }));
  EXPECT_EQ(model_.result_list(), std::vector<std::string>{"Connection fail."});

  // The search: run with the given searcher, then listed and the first selected.
  search_results_ = {found("000000000002", "Gate", "192.0.2.11"), found("000000000001", "Yard", "192.0.2.10")};
  model_.switch_mode(CameraDialogMode::AddFound);
  model::SearchResult found_now = model::CameraDialogModel::run_search(model_.searcher());
  EXPECT_TRUE(model_.result_list().empty());
  model_.finish_search(std::move(found_now));
  EXPECT_EQ(model_.result_list(), (std::vector<std::string>{"Gate", "Yard"}));
  EXPECT_EQ(model_.fields().address, "192.0.2.11");
  // An abandoned search hands over nothing: the list shows no camera.
  model_.finish_search({});
  EXPECT_TRUE(model_.result_list().empty());
  EXPECT_EQ(model_.found_count(), 0);
}

TEST_F(CameraDialog, SwitchingToAddByAddressDropsWhatTheSearchFilledIn) {
  search_results_ = {found("000000000001", "Yard", "192.0.2.10")};
  model_.open(CameraDialogMode::AddFound);
  model_.search();
  model_.fields().user = "admin";

  model_.switch_mode(CameraDialogMode::AddByAddress);
  EXPECT_EQ(model_.fields().mac, "");
  EXPECT_EQ(model_.fields().name, "");
  EXPECT_EQ(model_.fields().address, "");
  EXPECT_EQ(model_.fields().port, "");
  EXPECT_EQ(model_.fields().user, "admin");
  EXPECT_TRUE(model_.result_list().empty());

  const CameraRecord camera{"Dock", "127.0.0.1", "80", "000fa012bcff", "d", "admin", "pw"};
  model_.open(CameraDialogMode::EditLan, &camera);
  model_.switch_mode(CameraDialogMode::AddFound);  // the tabs are off while editing
  EXPECT_EQ(model_.mode(), CameraDialogMode::EditLan);
  EXPECT_EQ(model_.fields().name, "Dock");
}

}  // namespace
