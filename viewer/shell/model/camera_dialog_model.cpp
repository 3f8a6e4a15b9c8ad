#include "viewer/shell/model/camera_dialog_model.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "viewer/net/camera_http.h"
#include "viewer/net/camera_info.h"
#include "viewer/platform/http_fetch.h"
#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/model/camera_connection.h"
#include "viewer/shell/model/camera_list.h"

namespace model {
namespace {

constexpr long kPortLimit = 0x10000;

// The first IPv4 address of a host name or dotted address, as dotted text.
std::optional<std::string> look_up_ipv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof(text)) != nullptr;
  ::freeaddrinfo(found);
  if (!ok) return std::nullopt;
  return std::string(text);
}

}  // namespace

long port_value(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    // Saturate: any number this large is out of range, however many digits follow.
    if (value < kPortLimit * 10) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

CameraDialogModel::CameraDialogModel(Search search, Fetch fetch, AddCamera add_camera, SaveCamera save_camera)
    : search_(std::move(search)),
      fetch_(std::move(fetch)),
      add_camera_(std::move(add_camera)),
      save_camera_(std::move(save_camera)) {}

std::unique_ptr<CameraDialogModel> CameraDialogModel::for_program(net::Discovery& discovery, CameraList& list,
                                                                  Camera* editing) {
  return std::make_unique<CameraDialogModel>(
      [&discovery](net::DiscoveredCameraBlock& block, int& count) { return discovery.search(block, count); },
      [](const std::string& url) {
        // One client per fetch, as every other user of the HTTP client does.
        platform::HttpFetcher fetcher;
        return fetcher.fetch(url);
      },
      [&list](const CameraRecord& camera) { return list.add_camera(camera); },
      [&list, editing](const CameraRecord& camera) { return editing ? list.change_camera(*editing, camera) : 0; });
}

void CameraDialogModel::open(CameraDialogMode mode, const CameraRecord* camera) {
  adding_ = mode == CameraDialogMode::AddFound || mode == CameraDialogMode::AddByAddress;
  fields_ = {};
  saved_name_.clear();
  saved_mac_.clear();
  location_ = 0;
  result_list_.clear();
  if (!adding_ && camera != nullptr) {
    fields_ = {camera->name, camera->mac,  camera->description, camera->address,
               camera->port, camera->user, camera->password};
    saved_name_ = camera->name;
    saved_mac_ = normalize_mac(camera->mac).value_or(camera->mac);
    location_ = camera->location;
  }
  mode_ = mode;
  if (adding_) switch_mode(mode);
}

void CameraDialogModel::switch_mode(CameraDialogMode mode) {
  if (!adding_ || (mode != CameraDialogMode::AddFound && mode != CameraDialogMode::AddByAddress)) return;
  mode_ = mode;
  result_list_.clear();
  if (mode == CameraDialogMode::AddByAddress) {
    // What a search filled in does not belong to a camera typed in by hand.
    fields_.mac.clear();
    fields_.port.clear();
    fields_.address.clear();
    fields_.name.clear();
  }
}

CameraDialogControls CameraDialogModel::controls() const {
  CameraDialogControls c;
  switch (mode_) {
    case CameraDialogMode::AddFound:
      c.description_editable = true;
      c.tabs_enabled = true;
      c.add = c.search = true;
      break;
    case CameraDialogMode::AddByAddress:
      c.description_editable = c.address_editable = c.port_editable = true;
      c.tabs_enabled = true;
      c.test_and_add = c.test = c.clear = true;
      break;
    case CameraDialogMode::EditLan:
    case CameraDialogMode::EditInternet:
      c.name_enabled = false;
      c.address_editable = c.port_editable = true;
      c.test = c.save = true;
      break;
  }
  return c;
}

void CameraDialogModel::set_result(const char* line) {
  result_list_.clear();
  result_list_.emplace_back(line);
}

void CameraDialogModel::test() {
  ConnectionTestInput input;
  if (!begin_test(&input)) return;
  finish_test(run_test(input, fetch_));
}

bool CameraDialogModel::begin_test(ConnectionTestInput* input) {
  if (fields_.address.empty()) {
    (void)platform::ask("please enter the address of cam", "warning");
    return false;
  }
  *input = {fields_.address, fields_.port};
  return true;
}

ConnectionTestResult CameraDialogModel::run_test(const ConnectionTestInput& input, const Fetch& fetch) {
  const long port = port_value(input.port);
  if (port >= kPortLimit) return {kPortNotCorrect, std::nullopt};
  const std::optional<std::string> ip = look_up_ipv4(input.address);
  if (!ip) return {kAddressNotCorrect, std::nullopt};

  std::string base;
  if (port > 0) {
    base = *ip + ":" + std::to_string(port);
  } else {
    // No port: the address names a dynamic-DNS entry whose page tells where
    // the camera is now.
    const std::optional<std::string> page = fetch ? fetch("http://" + input.address) : std::nullopt;
    std::string host, port_text;
    if (!page || !net::parse_ddns_reply(*page, host, port_text) || net::parse_port_text(port_text) <= 0) {
      return {kConnectionFail, std::nullopt};
    }
    base = host + ":" + std::to_string(net::parse_port_text(port_text));
  }

  const std::optional<std::string> reply =
      fetch ? fetch("http://" + base + std::string(net::kCameraInfoPath)) : std::nullopt;
  std::optional<net::CameraInfo> info = reply ? net::parse_camera_info(*reply) : std::nullopt;
  if (!info) return {kConnectionFail, std::nullopt};
  return {kConnectionSuccessful, std::move(info)};
}

void CameraDialogModel::finish_test(const ConnectionTestResult& result) {
  if (result.info) {
    fields_.description = result.info->description;
    fields_.mac = result.info->mac;
    fields_.name = result.info->name;
  }
  set_result(result.line ? result.line : kConnectionFail);
}

void CameraDialogModel::search() { finish_search(run_search(search_)); }

SearchResult CameraDialogModel::run_search(const Search& search) {
  SearchResult result;
  result.block = std::make_unique<net::DiscoveredCameraBlock>();
  if (search) (void)search(*result.block, result.count);
  result.count = std::clamp(result.count, 0, static_cast<int>(net::kMaxDiscoveredCameras));
  return result;
}

void CameraDialogModel::finish_search(SearchResult result) {
  // The dialog keeps one block from its first search on.
  if (!found_) found_ = std::make_unique<net::DiscoveredCameraBlock>();
  found_count_ = result.block ? std::clamp(result.count, 0, static_cast<int>(net::kMaxDiscoveredCameras)) : 0;
  if (found_count_ > 0) std::copy_n(result.block->begin(), found_count_, found_->begin());
  result_list_.clear();
  for (int i = 0; i < found_count_; ++i) result_list_.emplace_back((*found_)[i].name);
  if (found_count_ > 0) select(0);
}

void CameraDialogModel::select(int index) {
  if (!found_ || index < 0 || index >= found_count_) return;
  const net::DiscoveredCamera& r = (*found_)[index];
  fields_.name = r.name;
  fields_.mac = r.mac;
  fields_.description = r.description;
  fields_.address = r.address;
  fields_.port = std::to_string(r.port);
}

CameraRecord CameraDialogModel::record(int location) const {
  CameraRecord r;
  r.name = fields_.name;
  r.address = fields_.address;
  r.port = fields_.port;
  r.mac = fields_.mac;
  r.description = fields_.description;
  r.user = fields_.user;
  r.password = fields_.password;
  r.location = location;
  r.connection_state = kStatePlaying;
  return r;
}

bool CameraDialogModel::texts_acceptable() const {
  // The camera list's own rule: the name first, then every text its settings
  // file could not store.
  if (const std::optional<std::string_view> problem = check_camera_texts(record(location_))) {
    (void)platform::ask(*problem, "");
    return false;
  }
  return true;
}

int CameraDialogModel::add_as(int location) {
  if (!add_camera_ || add_camera_(record(location)) != 1) return 0;
  (void)platform::ask("Camera added successfully to list", "");
  return 1;
}

int CameraDialogModel::add() {
  if (!texts_acceptable()) return 0;
  if (result_list_.empty()) {
    (void)platform::ask("can't find any cam device.", "");
    return 0;
  }
  return add_as(0);
}

int CameraDialogModel::test_and_add() {
  test();
  return finish_test_and_add();
}

int CameraDialogModel::finish_test_and_add() {
  // Only a camera that did not answer stops the add; a port or address the
  // test could not use still lets the user keep what an earlier test found.
  if (result_list_.empty() || result_list_.front() == kConnectionFail) {
    (void)platform::ask("can't find any cam device.", "");
    return 0;
  }
  if (fields_.name.empty()) {
    (void)platform::ask("please enter a camera name", "");
    return 0;
  }
  if (!texts_acceptable()) return 0;
  return add_as(1);
}

int CameraDialogModel::save() {
  if (!texts_acceptable()) return 0;
  // The folders of a camera's recordings are named after it: a changed
  // identity moves them, and the user is asked first.
  const std::optional<std::string> mac = normalize_mac(fields_.mac);
  const bool mac_changed = (mac ? *mac : fields_.mac) != saved_mac_;
  if ((fields_.name != saved_name_ || mac_changed) &&
      platform::ask("all recording directory will be changed too!", "warning", platform::MsgButtons::YesNo) !=
          platform::MsgAnswer::Yes) {
    return 0;
  }
  if (!save_camera_ || save_camera_(record(location_)) != 1) return 0;
  saved_name_ = fields_.name;
  saved_mac_ = mac ? *mac : fields_.mac;
  (void)platform::ask("Save Successful.", "");
  return 1;
}

void CameraDialogModel::clear() {
  // The MAC stays: it is never typed, only brought by a test.
  fields_.address.clear();
  fields_.port.clear();
  fields_.name.clear();
  fields_.user.clear();
  fields_.password.clear();
  fields_.description.clear();
}

}  // namespace model
