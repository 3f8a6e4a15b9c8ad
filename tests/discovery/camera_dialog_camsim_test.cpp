// The camera dialog as the program wires it (HTTP client, camera list)
// against simulated cameras on loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "shell/fake_connection.h"
#include "support/camsim.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/model/camera_dialog_model.h"
#include "viewer/shell/model/camera_list.h"

namespace {

using model::CameraDialogMode;
using platform::MsgAnswer;

using test_support::CamsimProcess;

// The camera's port as camsim printed it.
std::string port_of(const CamsimProcess& cam) { return std::to_string(cam.port()); }

class CameraDialogCamsim : public ::testing::Test {
 protected:
  CameraDialogCamsim()
      : list_(connections_.factory()), dialog_(model::CameraDialogModel::for_program(discovery_, list_, nullptr)) {}

  std::vector<std::string> texts() { return ui_->shown_texts(); }

  platform::ScopedHeadlessUi ui_;
  testing_support::FakeConnections connections_;  // the dialog never starts a camera
  net::Discovery discovery_;                      // never searched here: searches run only on test networks
  model::CameraList list_;
  std::unique_ptr<model::CameraDialogModel> dialog_;
};

TEST_F(CameraDialogCamsim, TestFillsTheIdentityAndTestAndAddListsTheCamera) {
  CamsimProcess cam(
      {"--port", "0", "--name", "Dock", "--description", "Loading bay", "--mac", "00:0e:53:00:00:07", "small"});
  ASSERT_TRUE(cam.ready()) << "camsim did not start";

  dialog_->open(CameraDialogMode::AddByAddress);
  dialog_->fields().address = "127.0.0.1";
  dialog_->fields().port = port_of(cam);
  dialog_->test();
  EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"Connection successful."});
  EXPECT_EQ(dialog_->fields().description, "Loading bay");
  EXPECT_EQ(dialog_->fields().mac, "000e53000007");
  EXPECT_EQ(dialog_->fields().name, "Dock");

  dialog_->fields().user = "admin";
  dialog_->fields().password = "admin";
  EXPECT_EQ(dialog_->test_and_add(), 1);
  ASSERT_EQ(list_.count(), 1);
  const model::CameraRecord added = list_.camera_at(1)->record();
  EXPECT_EQ(added.mac, "000e53000007");
  EXPECT_EQ(added.location, 1);
  EXPECT_EQ(added.port, port_of(cam));
  EXPECT_EQ(texts().back(), "Camera added successfully to list");

  // The same camera again: the list refuses it with its own message only.
  EXPECT_EQ(dialog_->test_and_add(), 0);
  EXPECT_EQ(list_.count(), 1);
  EXPECT_EQ(texts().back(), model::kMsgCameraExists);
}

TEST_F(CameraDialogCamsim, AnythingButACameraAnsweringIsAFailure) {
  CamsimProcess cam({"--port", "0", "--info-body", "<html>router login</html>", "small"});
  ASSERT_TRUE(cam.ready()) << "camsim did not start";
  dialog_->open(CameraDialogMode::AddByAddress);
  dialog_->fields().address = "127.0.0.1";
  dialog_->fields().port = port_of(cam);
  dialog_->test();
  EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"Connection fail."});
  EXPECT_EQ(dialog_->fields().mac, "");

  EXPECT_EQ(dialog_->test_and_add(), 0);
  EXPECT_EQ(texts().back(), "can't find any cam device.");
  EXPECT_EQ(list_.count(), 0);

  // The highest port passes the port check and is tried (nothing listens).
  dialog_->fields().port = "65535";
  dialog_->test();
  EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"Connection fail."});
  dialog_->fields().port = "65536";
  dialog_->test();
  EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"port number not correct."});
  dialog_->fields().address = "no-such-camera.invalid";
  dialog_->fields().port = port_of(cam);
  dialog_->test();
  EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"address not correct."});
}

TEST_F(CameraDialogCamsim, WithoutAPortTheDynamicDnsPageLeadsToTheCamera) {
  // The page is asked at the address itself, on the HTTP port; a loopback
  // address of this process's own keeps parallel runs apart.
  const int pid = static_cast<int>(::getpid());
  const std::string address = "127.78." + std::to_string((pid >> 8) & 0xff) + "." + std::to_string((pid & 0xff) | 1);
  CamsimProcess cam(
      {"--bind", address, "--port", "0", "--ddns-port", "80", "--name", "Roof", "--mac", "000e53000009", "small"});
  if (!cam.ready()) GTEST_SKIP() << "cannot serve port 80 on " << address << " here";

  dialog_->open(CameraDialogMode::AddByAddress);
  dialog_->fields().address = address;
  for (const char* port : {"", "0"}) {
    dialog_->fields().port = port;
    dialog_->fields().name.clear();
    dialog_->test();
    EXPECT_EQ(dialog_->result_list(), std::vector<std::string>{"Connection successful."}) << "port '" << port << "'";
    EXPECT_EQ(dialog_->fields().name, "Roof");
  }
}

TEST_F(CameraDialogCamsim, SaveChangesTheListedCamera) {
  model::CameraRecord record;
  record.name = "Dock";
  record.address = "127.0.0.1";
  record.port = "80";
  record.mac = "000e53000007";
  record.user = "admin";
  record.password = "old";
  record.location = 1;
  ASSERT_EQ(list_.add_camera(record), 1);
  model::Camera& camera = *list_.camera_at(1);
  auto editor = model::CameraDialogModel::for_program(discovery_, list_, &camera);
  const model::CameraRecord current = camera.record();
  editor->open(CameraDialogMode::EditInternet, &current);

  editor->fields().password = "new";
  EXPECT_EQ(editor->save(), 1);
  EXPECT_EQ(camera.record().password, "new");
  EXPECT_EQ(texts(), std::vector<std::string>{"Save Successful."});

  editor->fields().name = "Dock east";
  ui_->script_answers({MsgAnswer::No});
  EXPECT_EQ(editor->save(), 0);
  EXPECT_EQ(camera.name(), "Dock");
  EXPECT_EQ(ui_.get().shown().back().text, "all recording directory will be changed too!");
  EXPECT_EQ(ui_.get().shown().back().caption, "warning");
  EXPECT_EQ(ui_.get().shown().back().buttons, platform::MsgButtons::YesNo);
  ui_->script_answers({MsgAnswer::Yes});
  EXPECT_EQ(editor->save(), 1);
  EXPECT_EQ(camera.name(), "Dock east");

  // Once saved, the new name is the camera's: saving again does not ask.
  ui_.get().clear();
  EXPECT_EQ(editor->save(), 1);
  EXPECT_EQ(texts(), std::vector<std::string>{"Save Successful."});
}

}  // namespace
