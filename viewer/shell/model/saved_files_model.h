// What the saved-files browser does, without its dialogs: the walk over a
// recordings folder, the rows of the files dialog with the period each
// recording's trailer tells, and Play, Delete and Explore with their
// messages.
//
// The walk runs on a worker thread (a folder of thousands of recordings
// opens at once, rows come in as they are found); everything else runs on
// the user-interface thread. Each row keeps the full path of its file: Play
// and Delete act on exactly the file that was listed, however deep it lay.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace model {

class CameraList;

// The columns of the files dialog and their widths in pixels.
inline constexpr std::array<const char*, 4> kFileColumns = {"Camera Name", "File Name", "Start Time", "End Time"};
inline constexpr std::array<int, 4> kFileColumnWidths = {95, 135, 115, 115};

// Messages.
inline constexpr const char* kMsgSelectRow = "Please select a camera";
inline constexpr const char* kCaptionSelectRow = "warning";
inline constexpr const char* kMsgNoPlayer = "Cann't find any player assoicated with asf.";
inline constexpr const char* kMsgNoFileManager = "Can't find a file manager!";
inline constexpr const char* kDeleteFilePrefix = "file: ";
inline constexpr const char* kDeleteFileSuffix = "  will be deleted!";
inline constexpr const char* kCaptionDeleteFile = "warning";
inline constexpr const char* kMsgFileRecording = "The file is being recorded now, please stop the recording first!";
inline constexpr const char* kMsgDeleteFailedSuffix = "  can't be deleted!";

// One recording as listed.
struct SavedFileRow {
  std::string camera;  // the name of the folder that holds the file (a camera's MAC folder)
  std::string file;    // the file name
  std::string start;   // from the period trailer, or empty
  std::string end;
  std::string path;  // the full path
};

// Walks folder recursively and reports every regular file whose name
// contains ".asf", in the order met: each folder's entries by name, a
// sub-folder walked where it is met. Hidden entries (names starting with
// ".") are skipped, and so is everything that is not a regular file or a
// folder (FIFOs, devices, sockets, broken links), so that reading a trailer
// can never block; links to folders are not followed (no loops). Each row
// comes with its trailer read. found() returns false to stop the walk, and
// the walk also stops when stop() turns true. A missing folder gives
// nothing. Any thread.
void walk_recordings(const std::string& folder, const std::function<bool(SavedFileRow&&)>& found,
                     const std::function<bool()>& stop = {});

// How the desktop opens and shows files. The program's implementation asks
// the desktop's own services; tests give fakes.
class FileDesktop {
 public:
  virtual ~FileDesktop() = default;
  // True when the desktop has a default application for this file's type.
  virtual bool has_player(const std::string& path) = 0;
  // Starts the default application on the file without waiting for it;
  // false when it could not be started.
  virtual bool open_file(const std::string& path) = 0;
  // Shows a folder in the file manager without waiting; false when there is
  // no file manager to show it.
  virtual bool show_folder(const std::string& folder) = 0;
};

// Whether a camera has this very file open for recording (same file, by
// device and inode, whatever path named it).
using RecordingCheck = std::function<bool(const std::string& path)>;
[[nodiscard]] bool file_being_recorded(CameraList& list, const std::string& path);

// The rows of one files dialog (recorded videos, or motion videos) and its
// buttons.
class FilesModel {
 public:
  FilesModel(std::string folder, FileDesktop& desktop, RecordingCheck recording = {});

  const std::string& folder() const { return folder_; }
  // Rows top first: each file found is put on top, so the list shows the
  // walk's order reversed (with names from the local time, newest first).
  int row_count() const { return static_cast<int>(found_.size()); }
  const SavedFileRow& row(int index) const { return found_[found_.size() - 1 - static_cast<std::size_t>(index)]; }
  // Puts found rows on top, one after the other (the first ends up lowest).
  void add_found(std::vector<SavedFileRow> rows);

  // The buttons, on the selected row (-1: none selected, which shows
  // "Please select a camera"). play/explore: true when the application or
  // the file manager was started. remove: true when the file was deleted
  // and its row removed.
  bool play(int row);
  bool remove(int row);
  bool explore();

 private:
  bool selected(int row) const;

  std::string folder_;
  FileDesktop& desktop_;
  RecordingCheck recording_;
  std::vector<SavedFileRow> found_;  // in the order found: the last is the top row
};

// Explore, and "Snapshot Pictures" of the saved-files dialog: shows the
// folder, or says that there is no file manager.
bool show_folder_or_tell(FileDesktop& desktop, const std::string& folder);

}  // namespace model
