// One running instance per user: an exclusive lock on a file in the user's
// runtime folder, held for the life of the object.
//
// The lock belongs to the open file, so the kernel drops it when the holder
// ends in any way (a crash, SIGKILL): a killed first instance never leaves a
// stale lock behind, and no process id is ever compared. The descriptor is
// close-on-exec, so programs the viewer starts (the help page's handler, the
// analysis tool) never inherit it.
#pragma once

#include <string>

namespace platform {

// The user's runtime folder: $XDG_RUNTIME_DIR when it names an absolute
// path, else the system's temporary folder.
std::string runtime_folder();

class SingleInstance {
 public:
  // Locks folder/NAME.lock (folder: runtime_folder()); outside
  // $XDG_RUNTIME_DIR the user id is part of the name, so that users do not
  // share a lock.
  explicit SingleInstance(const std::string& name, const std::string& folder = runtime_folder());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this object holds the lock: no other instance runs. Also true
  // when no lock file could be made at all (an unusable folder must not
  // keep the program from starting).
  bool first() const { return first_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool first_ = true;
};

}  // namespace platform
