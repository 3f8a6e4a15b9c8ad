#include "viewer/shell/model/saved_files_model.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "viewer/platform/ui_seams.h"
#include "viewer/record/period_trailer.h"
#include "viewer/shell/model/camera_list.h"

namespace model {
namespace {

// Deep enough for any layout of ours; a limit all the same, for folders
// nested on purpose.
constexpr int kMaxDepth = 32;

std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string last_name(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  const std::size_t slash = f.rfind('/');
  return slash == std::string::npos ? f : f.substr(slash + 1);
}

// Returns false when the walk was told to stop.
bool walk(const std::string& folder, int depth, const std::function<bool(SavedFileRow&&)>& found,
          const std::function<bool()>& stop) {
  if (depth > kMaxDepth) return true;
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      // ".", ".." and hidden entries.
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(dir);
  }
  // By name, as a listing shows them; recordings are named from the time.
  std::sort(names.begin(), names.end());
  const std::string camera = last_name(folder);
  for (const std::string& name : names) {
    if (stop && stop()) return false;
    const std::string path = join(folder, name);
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) continue;
    if (S_ISDIR(link.st_mode)) {
      if (!walk(path, depth + 1, found, stop)) return false;
      continue;
    }
    if (name.find(".asf") == std::string::npos) continue;
    // A link counts when it leads to a regular file; a FIFO or a device
    // named like a recording would block the trailer's read.
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) continue;
    SavedFileRow row;
    row.camera = camera;
    row.file = name;
    row.path = path;
    record::read_period_trailer(path, &row.start, &row.end);
    if (!found(std::move(row))) return false;
  }
  return true;
}

}  // namespace

void walk_recordings(const std::string& folder, const std::function<bool(SavedFileRow&&)>& found,
                     const std::function<bool()>& stop) {
  if (folder.empty()) return;
  (void)walk(folder, 0, found, stop);
}

bool file_being_recorded(CameraList& list, const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return false;
  std::vector<record::RecordingCamera*> cameras;
  list.list_cameras(cameras);
  for (record::RecordingCamera* camera : cameras) {
    for (int w = 0; w < 3; ++w) {
      const std::string open = camera->recording().writer(w).path();
      struct stat other {};
      if (!open.empty() && ::stat(open.c_str(), &other) == 0 && other.st_dev == file.st_dev &&
          other.st_ino == file.st_ino) {
        return true;
      }
    }
  }
  return false;
}

FilesModel::FilesModel(std::string folder, FileDesktop& desktop, RecordingCheck recording)
    : folder_(std::move(folder)), desktop_(desktop), recording_(std::move(recording)) {}

void FilesModel::add_found(std::vector<SavedFileRow> rows) {
  for (SavedFileRow& r : rows) found_.push_back(std::move(r));
}

bool FilesModel::selected(int row) const {
  if (row >= 0 && row < row_count()) return true;
  (void)platform::ask(kMsgSelectRow, kCaptionSelectRow);
  return false;
}

bool FilesModel::play(int row) {
  if (!selected(row)) return false;
  const std::string& path = this->row(row).path;
  // Starting an opener that then finds no player would look like success.
  if (!desktop_.has_player(path) || !desktop_.open_file(path)) {
    (void)platform::ask(kMsgNoPlayer, "");
    return false;
  }
  return true;
}

bool FilesModel::remove(int row) {
  if (!selected(row)) return false;
  const std::string path = this->row(row).path;
  // Unlinking a file a camera still writes would succeed here and lose the
  // rest of that recording without a word. (A file cannot start being
  // recorded later: every recording gets a new name.)
  if (recording_ && recording_(path)) {
    (void)platform::ask(kMsgFileRecording, kCaptionDeleteFile);
    return false;
  }
  const std::string question = std::string(kDeleteFilePrefix) + path + kDeleteFileSuffix;
  if (platform::ask(question, kCaptionDeleteFile, platform::MsgButtons::YesNo) != platform::MsgAnswer::Yes) {
    return false;
  }
  // A file already gone is as good as deleted.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    const std::string reason = std::strerror(errno);
    (void)platform::ask(std::string(kDeleteFilePrefix) + path + kMsgDeleteFailedSuffix + " (" + reason + ")",
                        kCaptionDeleteFile);
    return false;
  }
  found_.erase(found_.begin() + static_cast<std::ptrdiff_t>(found_.size() - 1 - static_cast<std::size_t>(row)));
  return true;
}

bool FilesModel::explore() { return show_folder_or_tell(desktop_, folder_); }

bool show_folder_or_tell(FileDesktop& desktop, const std::string& folder) {
  if (desktop.show_folder(folder)) return true;
  (void)platform::ask(kMsgNoFileManager, "");
  return false;
}

}  // namespace model
