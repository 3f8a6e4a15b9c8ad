#include "viewer/record/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace record {

int PosixFileSystem::create_exclusive(const std::string& path) {
  // Mode 0644 (less the umask): recordings are the user's files.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::uint64_t PosixFileSystem::write_all(int fd, const iovec* parts, int count) {
  std::uint64_t total = 0;
  // Work on a local copy so that short writes can advance the parts.
  iovec local[64];
  int index = 0;
  while (index < count) {
    const int n = count - index < 64 ? count - index : 64;
    std::memcpy(local, parts + index, sizeof(iovec) * static_cast<std::size_t>(n));
    int first = 0;
    while (first < n) {
      const ssize_t w = ::writev(fd, local + first, n - first);
      if (w < 0) {
        if (errno == EINTR) continue;
        return total;
      }
      if (w == 0) {
        errno = ENOSPC;
        return total;
      }
      total += static_cast<std::uint64_t>(w);
      std::size_t left = static_cast<std::size_t>(w);
      while (first < n && left >= local[first].iov_len) {
        left -= local[first].iov_len;
        ++first;
      }
      if (first < n && left > 0) {
        local[first].iov_base = static_cast<char*>(local[first].iov_base) + left;
        local[first].iov_len -= left;
      }
    }
    index += n;
  }
  return total;
}

bool PosixFileSystem::truncate(int fd, std::uint64_t length) {
  if (::ftruncate(fd, static_cast<off_t>(length)) != 0) return false;
  return ::lseek(fd, static_cast<off_t>(length), SEEK_SET) == static_cast<off_t>(length);
}

std::int64_t PosixFileSystem::length(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void PosixFileSystem::close(int fd) {
  if (fd >= 0) ::close(fd);
}

bool PosixFileSystem::remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileSystem::make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::list_directory(const std::string& path, std::vector<DirEntry>& out) {
  out.clear();
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) return false;
  const int dfd = ::dirfd(dir.get());
  while (dirent* e = ::readdir(dir.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st {};
    // A file removed between the listing and the stat is simply left out.
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry entry;
    entry.name = e->d_name;
    entry.is_directory = S_ISDIR(st.st_mode);
    entry.size = static_cast<std::uint64_t>(st.st_size);
    entry.mtime_ms = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    out.push_back(std::move(entry));
  }
  return true;
}

bool PosixFileSystem::write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  iovec part{const_cast<std::uint8_t*>(data), size};
  const bool ok = write_all(fd, &part, 1) == size;
  return ::close(fd) == 0 && ok;
}

FileSystem& posix_file_system() {
  static PosixFileSystem fs;
  return fs;
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace record
