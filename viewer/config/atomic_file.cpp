#include "viewer/config/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace config {
namespace {

class PosixFileLayer final : public FileLayer {
 public:
  int create_exclusive(const std::string& path, unsigned mode) override {
    // O_EXCL also refuses to follow a link someone may have planted under the
    // temporary name.
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  }
  long write_some(int fd, const char* data, std::size_t size) override { return ::write(fd, data, size); }
  int sync(int fd) override { return ::fsync(fd); }
  int close(int fd) override { return ::close(fd); }
  int rename(const std::string& from, const std::string& to) override { return std::rename(from.c_str(), to.c_str()); }
  int unlink(const std::string& path) override { return ::unlink(path.c_str()); }
  void sync_folder(const std::string& folder) override {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
  }
};

std::string describe(const char* step, const std::string& path, int err) {
  return std::string(step) + " " + path + ": " + std::strerror(err);
}

}  // namespace

FileLayer& posix_file_layer() {
  static PosixFileLayer layer;
  return layer;
}

bool write_file_atomically(const std::string& path, std::string_view data, unsigned mode, std::string* error,
                           FileLayer& files) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  auto fail = [&](const char* step, const std::string& what, int err) {
    if (error) *error = describe(step, what, err);
    return false;
  };

  // A temporary file left by a crash would block the exclusive create.
  (void)files.unlink(temp);
  int fd = files.create_exclusive(temp, mode);
  if (fd < 0) return fail("cannot create", temp, errno);

  std::size_t done = 0;
  while (done < data.size()) {
    long n = files.write_some(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n == 0 ? ENOSPC : errno;
      files.close(fd);
      files.unlink(temp);
      return fail("cannot write", temp, err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (files.sync(fd) != 0) {
    int err = errno;
    files.close(fd);
    files.unlink(temp);
    return fail("cannot flush", temp, err);
  }
  if (files.close(fd) != 0) {
    int err = errno;
    files.unlink(temp);
    return fail("cannot close", temp, err);
  }
  if (files.rename(temp, path) != 0) {
    int err = errno;
    files.unlink(temp);
    return fail("cannot replace", path, err);
  }
  std::size_t slash = path.rfind('/');
  files.sync_folder(slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash));
  return true;
}

}  // namespace config
