#include "viewer/platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string runtime_folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return runtime;
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

SingleInstance::SingleInstance(const std::string& name, const std::string& folder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool private_folder = runtime && folder == runtime;
  path_ = folder + "/" + name + (private_folder ? "" : "-" + std::to_string(::getuid())) + ".lock";
  // O_NOFOLLOW: in a shared folder a link planted under our name must not
  // redirect the open.
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || st.st_uid != ::getuid() || !S_ISREG(st.st_mode)) {
    // Someone else's file: it can neither prove nor keep us apart.
    ::close(fd_);
    fd_ = -1;
    return;
  }
  int r;
  do {
    r = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    first_ = errno != EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
  }
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);  // drops the lock; the file stays for the next start
}

}  // namespace platform
