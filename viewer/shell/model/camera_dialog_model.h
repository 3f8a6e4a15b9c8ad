// What the camera dialog does, without the dialog: its fields and modes, the
// connection test through the camera's information page, the network search,
// and the add, test-and-add, save and clear commands with their messages.
//
// The dialog window copies its edit controls into fields() before every
// command and shows fields() and result_list() again afterwards. Everything
// here runs on the user-interface thread. The two slow parts, the connection
// test (up to two HTTP fetches) and the search (several seconds), come in
// three steps each so that a window can run the middle one on a worker
// thread: begin (reads the fields, may warn), run (static: the network
// only, no fields, no messages) and finish (writes the fields and the result
// list). test() and search() do all three on the calling thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "viewer/net/camera_info.h"
#include "viewer/net/discovery.h"
#include "viewer/shell/model/camera_record.h"

namespace model {

class Camera;
class CameraList;

// The texts of the dialog's fields.
struct CameraDialogFields {
  std::string name;
  std::string mac;
  std::string description;
  std::string address;
  std::string port;
  std::string user;
  std::string password;
};

enum class CameraDialogMode : int {
  AddFound = 0,      // add a camera found by a search
  AddByAddress = 1,  // add a camera by its address
  EditLan = 2,       // change a camera added from a search
  EditInternet = 3,  // change a camera added by address
};

// Which controls the dialog enables in the current mode.
struct CameraDialogControls {
  bool name_enabled = true;  // the name is never typed; in edit modes it is greyed out too
  bool description_editable = false;
  bool address_editable = false;
  bool port_editable = false;
  bool tabs_enabled = false;  // switching between the two add modes
  bool add = false, search = false, test_and_add = false, test = false, clear = false, save = false;
};

// What the connection test needs from the fields, and what it found.
struct ConnectionTestInput {
  std::string address;
  std::string port;
};
struct ConnectionTestResult {
  const char* line = nullptr;           // the result line
  std::optional<net::CameraInfo> info;  // with kConnectionSuccessful
};

// The cameras a search found.
struct SearchResult {
  std::unique_ptr<net::DiscoveredCameraBlock> block;
  int count = 0;
};

// Result lines of the connection test, shown alone in the result list.
inline constexpr const char* kConnectionSuccessful = "Connection successful.";
inline constexpr const char* kConnectionFail = "Connection fail.";
inline constexpr const char* kPortNotCorrect = "port number not correct.";
inline constexpr const char* kAddressNotCorrect = "address not correct.";

class CameraDialogModel {
 public:
  // Searches the network into the block and sets the count (the program binds
  // net::Discovery::search).
  using Search = std::function<int(net::DiscoveredCameraBlock& block, int& count)>;
  // Fetches a URL with an HTTP GET; returns the whole body (zero bytes kept),
  // or nothing when the fetch timed out.
  using Fetch = std::function<std::optional<std::string>(const std::string& url)>;
  // Adds a new camera to the camera list, or changes the camera being
  // edited; 1 when done, 0 when the list refused (it shows its own message).
  using AddCamera = std::function<int(const CameraRecord& camera)>;
  using SaveCamera = std::function<int(const CameraRecord& camera)>;

  CameraDialogModel(Search search, Fetch fetch, AddCamera add_camera, SaveCamera save_camera);

  // The program's dialog: searches with discovery, fetches with the HTTP
  // client, adds to list, and saves into editing (may be null when adding).
  static std::unique_ptr<CameraDialogModel> for_program(net::Discovery& discovery, CameraList& list, Camera* editing);

  // Opens the dialog. Modes 0 and 1 add (camera is ignored); modes 2 and 3
  // edit camera, whose texts fill the dialog.
  void open(CameraDialogMode mode, const CameraRecord* camera = nullptr);
  // The tab buttons of the add modes; ignored while editing.
  void switch_mode(CameraDialogMode mode);

  CameraDialogMode mode() const { return mode_; }
  CameraDialogControls controls() const;
  CameraDialogFields& fields() { return fields_; }
  const CameraDialogFields& fields() const { return fields_; }
  const std::vector<std::string>& result_list() const { return result_list_; }

  // The connection test: asks the camera's information page and fills
  // description, MAC and name from it. Its outcome is the one line of the
  // result list; an empty address only shows a warning.
  void test();
  // Its steps. begin_test: false (after the warning) when there is no
  // address to test; else the input for run_test.
  [[nodiscard]] bool begin_test(ConnectionTestInput* input);
  // The checks, look-ups and fetches, with the given fetch. Any thread.
  [[nodiscard]] static ConnectionTestResult run_test(const ConnectionTestInput& input, const Fetch& fetch);
  void finish_test(const ConnectionTestResult& result);
  const Fetch& fetch() const { return fetch_; }

  // Searches the local network, lists the name of every camera found and
  // selects the first.
  void search();
  // Its steps: run_search on any thread, finish_search on this one.
  [[nodiscard]] static SearchResult run_search(const Search& search);
  void finish_search(SearchResult result);
  const Search& searcher() const { return search_; }
  // Fills the fields from the found camera at index; out of range does nothing.
  void select(int index);
  int found_count() const { return found_count_; }

  // The commands; each returns 1 when the camera was added or saved.
  [[nodiscard]] int add();
  [[nodiscard]] int test_and_add();
  // What test_and_add does after its test (a window that ran the test on a
  // worker calls this when the result is in).
  [[nodiscard]] int finish_test_and_add();
  // Asks "all recording directory will be changed too!" when the name or the
  // MAC (which names the recording folders) differs from the camera's.
  [[nodiscard]] int save();
  void clear();

 private:
  void set_result(const char* line);
  CameraRecord record(int location) const;
  [[nodiscard]] bool texts_acceptable() const;
  [[nodiscard]] int add_as(int location);

  Search search_;
  Fetch fetch_;
  AddCamera add_camera_;
  SaveCamera save_camera_;

  CameraDialogMode mode_ = CameraDialogMode::AddFound;
  bool adding_ = true;
  int location_ = 0;  // of the camera being edited
  CameraDialogFields fields_;
  std::string saved_name_;  // the edited camera's name as the camera list holds it
  std::string saved_mac_;   // and its MAC
  std::vector<std::string> result_list_;
  std::unique_ptr<net::DiscoveredCameraBlock> found_;  // allocated by the first search, then kept
  int found_count_ = 0;
};

// The decimal value of a port field as the dialog reads it: leading blanks,
// an optional sign, then digits up to the first other character; empty or
// non-numeric text is 0, and very long numbers stay above 65,535.
[[nodiscard]] long port_value(const std::string& text);

}  // namespace model
