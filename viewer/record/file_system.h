// The few file operations recording needs, behind an interface so that tests
// can make them fail (a full disk, removed media) and check that nothing is
// lost silently. The real layer is plain POSIX.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace record {

struct DirEntry {
  std::string name;
  std::uint64_t size = 0;
  std::int64_t mtime_ms = 0;  // modification time, ms since the Unix epoch
  bool is_directory = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates a new file for reading and writing; fails when the name exists.
  // Returns a descriptor >= 0, or -1.
  [[nodiscard]] virtual int create_exclusive(const std::string& path) = 0;

  // Writes the buffers in order at the end of the file, retrying short
  // writes. Returns the number of bytes written; fewer than asked means an
  // error stopped it (errno tells which).
  [[nodiscard]] virtual std::uint64_t write_all(int fd, const iovec* parts, int count) = 0;

  // Cuts the file back to length bytes and places the position there.
  [[nodiscard]] virtual bool truncate(int fd, std::uint64_t length) = 0;

  // Current length of the open file, or -1.
  [[nodiscard]] virtual std::int64_t length(int fd) = 0;

  virtual void close(int fd) = 0;

  // Whole-file helpers.
  [[nodiscard]] virtual bool remove(const std::string& path) = 0;
  [[nodiscard]] virtual bool rename(const std::string& from, const std::string& to) = 0;
  // Creates one directory; an existing one counts as success.
  [[nodiscard]] virtual bool make_directory(const std::string& path) = 0;
  // Lists a directory without "." and ".."; false when it cannot be read.
  [[nodiscard]] virtual bool list_directory(const std::string& path, std::vector<DirEntry>& out) = 0;
  // Writes a whole new file (create or replace in place); false on any error.
  [[nodiscard]] virtual bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) = 0;
};

class PosixFileSystem final : public FileSystem {
 public:
  int create_exclusive(const std::string& path) override;
  std::uint64_t write_all(int fd, const iovec* parts, int count) override;
  bool truncate(int fd, std::uint64_t length) override;
  std::int64_t length(int fd) override;
  void close(int fd) override;
  bool remove(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool make_directory(const std::string& path) override;
  bool list_directory(const std::string& path, std::vector<DirEntry>& out) override;
  bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) override;
};

// The process-wide real file system.
FileSystem& posix_file_system();

// Joins a directory and a name with '/' (no doubled separator).
std::string join_path(const std::string& dir, const std::string& name);

}  // namespace record
