// "param.dat" as the program meets it at start and leaves it at exit: the
// input is loaded into a camera list (fake connections, nothing reaches the
// network), saved, loaded again and saved again. Whatever the bytes, the save
// must be a fixed point: the second load finds the same cameras and
// schedules, and the second save writes the same file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "../shell/fake_connection.h"
#include "viewer/config/settings_file.h"
#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/settings_catalog.h"

namespace {

namespace fs = std::filesystem;

struct Cleanup {
  std::string path;
  ~Cleanup() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// One scratch folder for the whole run; the autostart entry goes there too.
// Every save is flushed to disk, so a memory file system (when there is one)
// keeps the run fast.
const std::string& folder() {
  static const std::string path = [] {
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "fuzz-settings-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    static const Cleanup cleanup{pattern};
    ::setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
    // Messages at load are questions of the user-interface thread.
    platform::set_ui_thread(std::this_thread::get_id());
    return pattern;
  }();
  return path;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Result {
  std::string saved;
  std::vector<config::CamInfo> cameras;
  std::vector<config::CamScheduleRecord> schedules;
};

// The pool of 128 cameras is made once (making it for every input would
// cost more than everything else); between runs the user deletes every
// listed camera, which leaves the pool as a fresh start does.
struct Program {
  testing_support::FakeConnections fakes;
  model::CameraList list{fakes.factory()};
  model::SettingsCatalog catalog{list};
  void clear() {
    while (list.count() > 0) {
      list.select(1);
      if (!list.delete_selected()) std::abort();
    }
  }
};

// A program run: load, then save at exit.
Result run_program() {
  static Program program;
  program.clear();
  model::SettingsCatalog& catalog = program.catalog;
  config::Settings settings;
  settings.program_folder = folder();
  settings.program_file = "viewer";
  config::load_settings(settings, &catalog);
  config::build_camera_texts(settings, catalog);
  if (config::save_settings(settings) != 1) std::abort();
  return {read_all(config::settings_file_path(folder())), catalog.camera_records(), catalog.schedule_records()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = config::settings_file_path(folder());
  // Copies kept by earlier inputs would run out of names.
  for (const auto& e : fs::directory_iterator(folder())) {
    if (e.path().filename().string().rfind("param.dat", 0) == 0) fs::remove_all(e.path());
  }
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const Result first = run_program();
  const Result second = run_program();
  if (second.cameras != first.cameras || second.schedules != first.schedules) std::abort();
  if (second.saved != first.saved) std::abort();
  return 0;
}
