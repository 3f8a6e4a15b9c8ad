// Replacing a file that holds user data without ever leaving a truncated one:
// the new contents go to a temporary file in the same folder, which is
// flushed to disk and then renamed over the old file. A crash or a full disk
// leaves either the old file or the new one, never half of either.
#pragma once

#include <string>
#include <string_view>

namespace config {

// The file operations the writer needs; tests substitute a layer that fails
// (a full disk, an unwritable folder) at a chosen step.
class FileLayer {
 public:
  virtual ~FileLayer() = default;
  // Creates a new file (failing if it exists) with the given mode; returns a
  // descriptor or -1 with errno set.
  virtual int create_exclusive(const std::string& path, unsigned mode) = 0;
  // Writes part of data; returns the bytes written or -1 with errno set.
  virtual long write_some(int fd, const char* data, std::size_t size) = 0;
  virtual int sync(int fd) = 0;
  virtual int close(int fd) = 0;
  virtual int rename(const std::string& from, const std::string& to) = 0;
  virtual int unlink(const std::string& path) = 0;
  // Flushes the folder entry after a rename; failure here is not an error.
  virtual void sync_folder(const std::string& folder) = 0;
};

// The real file system.
FileLayer& posix_file_layer();

// Writes data to path through a temporary file created with `mode` (the
// permissions the final file gets) and renames it into place. Returns true on
// success; on failure the old file is untouched, the temporary file removed,
// and *error (when given) says what failed. Any thread; two writers of the
// same path must not run at once.
[[nodiscard]] bool write_file_atomically(const std::string& path, std::string_view data, unsigned mode,
                                         std::string* error = nullptr, FileLayer& files = posix_file_layer());

}  // namespace config
