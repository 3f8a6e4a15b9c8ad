#include "record_fixtures.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace rectest {

TempDir::TempDir() {
  char tmpl[] = "/tmp/rectest-XXXXXX";
  const char* p = ::mkdtemp(tmpl);
  if (p == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = p;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

RunResult run(const std::vector<std::string>& argv) {
  RunResult r;
  int out_pipe[2], err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return r;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
  posix_spawn_file_actions_addclose(&fa, out_pipe[0]);
  posix_spawn_file_actions_addclose(&fa, err_pipe[0]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  auto drain = [](int fd, std::string& into) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) into.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  };
  if (rc != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    return r;
  }
  // Outputs are small (ffprobe lines, ffmpeg errors): stdout first is safe.
  drain(out_pipe[0], r.out);
  drain(err_pipe[0], r.err);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

::testing::AssertionResult decodes_cleanly(const std::string& path) {
  const RunResult r = run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
  if (r.status != 0) return ::testing::AssertionFailure() << "ffmpeg exit " << r.status << ": " << r.err;
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("first frame is no keyframe") != std::string::npos) continue;
    if (!line.empty()) return ::testing::AssertionFailure() << "ffmpeg: " << line;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> probe_streams(const std::string& path) {
  const RunResult r = run({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name", "-of",
                           "csv=p=0", path});
  std::vector<std::string> streams;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    // csv lines are "codec_name,codec_type"
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    streams.push_back(line.substr(comma + 1) + ":" + line.substr(0, comma));
  }
  std::sort(streams.begin(), streams.end());
  return streams;
}

namespace {

std::uint64_t le64(const std::vector<std::uint8_t>& d, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | d.at(at + static_cast<std::size_t>(i));
  return v;
}

std::uint32_t le32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return static_cast<std::uint32_t>(d.at(at)) | static_cast<std::uint32_t>(d.at(at + 1)) << 8 |
         static_cast<std::uint32_t>(d.at(at + 2)) << 16 | static_cast<std::uint32_t>(d.at(at + 3)) << 24;
}

AsfClip make_clip() {
  TempDir dir;
  const std::string path = dir / "clip.asf";
  const RunResult r = run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc=size=320x240:rate=10", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000",
                           "-t", "6", "-c:v", "mpeg4", "-g", "10", "-b:v", "200k", "-c:a", "g726", "-b:a", "16k",
                           "-ar", "8000", "-ac", "1", "-f", "asf", "-packet_size", "3200", path});
  if (r.status != 0) throw std::runtime_error("ffmpeg could not make the test clip: " + r.err);
  const std::vector<std::uint8_t> d = read_file(path);
  AsfClip clip;
  const std::uint64_t header_size = le64(d, 16);
  const std::uint32_t objects = le32(d, 24);
  std::size_t off = 30;
  // File Properties Object {8CABDCA1-A947-11CF-8EE4-00C00C205365}: the
  // minimum data packet size is at offset 92 (the ASF File Properties Object, section 3.2 of the format).
  static const std::uint8_t kFileProps[4] = {0xA1, 0xDC, 0xAB, 0x8C};
  for (std::uint32_t i = 0; i < objects; ++i) {
    if (std::memcmp(&d.at(off), kFileProps, 4) == 0) clip.packet_size = le32(d, off + 92);
    off += static_cast<std::size_t>(le64(d, off + 16));
  }
  const std::size_t data_start = static_cast<std::size_t>(header_size) + 50;
  const std::uint64_t data_size = le64(d, static_cast<std::size_t>(header_size) + 16);
  clip.header.assign(d.begin(), d.begin() + static_cast<long>(data_start));
  const std::size_t data_end = static_cast<std::size_t>(header_size + data_size);
  for (std::size_t p = data_start; p + clip.packet_size <= data_end; p += clip.packet_size)
    clip.packets.emplace_back(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(p + clip.packet_size));
  if (clip.packet_size == 0 || clip.packets.size() < 20) throw std::runtime_error("unexpected test clip layout");
  return clip;
}

}  // namespace

const AsfClip& asf_clip() {
  static const AsfClip clip = make_clip();
  return clip;
}

::testing::AssertionResult is_header_and_whole_packets(const std::vector<std::uint8_t>& file,
                                                       std::size_t* packet_count) {
  const AsfClip& clip = asf_clip();
  if (file.size() < clip.header.size() || !std::equal(clip.header.begin(), clip.header.end(), file.begin()))
    return ::testing::AssertionFailure() << "file does not start with the stream header";
  const std::size_t body = file.size() - clip.header.size();
  if (body % clip.packet_size != 0)
    return ::testing::AssertionFailure() << "body of " << body << " bytes is not whole packets";
  for (std::size_t off = clip.header.size(); off < file.size(); off += clip.packet_size) {
    const bool known = std::any_of(clip.packets.begin(), clip.packets.end(), [&](const auto& p) {
      return std::equal(p.begin(), p.end(), file.begin() + static_cast<long>(off));
    });
    if (!known) return ::testing::AssertionFailure() << "packet at " << off << " is not one the stream sent";
  }
  if (packet_count) *packet_count = body / clip.packet_size;
  return ::testing::AssertionSuccess();
}

// ---- failing file system ----

int FailingFileSystem::create_exclusive(const std::string& path) {
  if (refuse_create.load()) {
    errno = EACCES;
    return -1;
  }
  return real().create_exclusive(path);
}

std::uint64_t FailingFileSystem::write_all(int fd, const iovec* parts, int count) {
  std::int64_t budget = write_budget.load();
  if (budget < 0) return real().write_all(fd, parts, count);
  // Write as much as the budget allows, cutting a part in the middle if need
  // be, as a disk that fills up does.
  std::uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t take = std::min<std::uint64_t>(parts[i].iov_len, static_cast<std::uint64_t>(budget));
    if (take > 0) {
      iovec part{parts[i].iov_base, static_cast<std::size_t>(take)};
      const std::uint64_t w = real().write_all(fd, &part, 1);
      total += w;
      budget -= static_cast<std::int64_t>(w);
    }
    if (take < parts[i].iov_len) {
      write_budget.store(budget);
      errno = ENOSPC;
      return total;
    }
  }
  write_budget.store(budget);
  return total;
}

bool FailingFileSystem::remove(const std::string& path) {
  ++removals;
  return real().remove(path);
}

bool FailingFileSystem::list_directory(const std::string& path, std::vector<record::DirEntry>& out) {
  ++listings;
  return real().list_directory(path, out);
}

bool FailingFileSystem::write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::int64_t budget = write_budget.load();
  if (budget >= 0 && static_cast<std::int64_t>(size) > budget) {
    // Leave a partial file behind, as a full disk would.
    (void)real().write_file(path, data, static_cast<std::size_t>(budget));
    write_budget.store(0);
    return false;
  }
  if (budget >= 0) write_budget.store(budget - static_cast<std::int64_t>(size));
  return real().write_file(path, data, size);
}

// ---- fake camera ----

FakeCamera::FakeCamera(record::RecordingEnv env, std::string mac, int location)
    : mac_(std::move(mac)), location_(location), rec_(env) {}

int FakeCamera::start_stream() {
  ++starts;
  if (connect_on_start.load() && !pending_header.empty()) connect(pending_header);
  return 1;
}

void FakeCamera::connect(const std::vector<std::uint8_t>& header) {
  for (int i = 0; i < 3; ++i) (void)rec_.writer(i).SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
  header_len.store(static_cast<std::uint32_t>(header.size()));
  dead.store(false);
  connected.store(true);
}

void FakeCamera::feed(const std::vector<std::uint8_t>& packet, std::uint32_t tick) {
  if (!connected.load()) return;
  for (int i = 0; i < 3; ++i) {
    record::RecordingWriter& w = rec_.writer(i);
    if (w.IsOpen()) w.AddPacket(packet.data(), static_cast<std::uint32_t>(packet.size()), tick);
    else w.ClearQueue();
  }
}

void FakeCamera::lose_connection() {
  dead.store(true);
  connected.store(false);
  header_len.store(0);
  rec_.on_stream_cleanup();
}

bool FakeCamera::motion_sample(record::MotionSample& out) {
  std::lock_guard lock(motion_mutex_);
  if (sample_.width == 0) return false;
  out = sample_;
  return true;
}

void FakeCamera::set_motion_level(int v) {
  std::lock_guard lock(motion_mutex_);
  sample_.width = 320;
  sample_.height = 240;
  sample_.zones.flags.fill(1);
  sample_.zones.layout = 0;
  sample_.zones.sensitivity = 3;
  sample_.cells.fill(0);
  // One changed cell carrying the whole value (threshold at 320 x 240 and
  // level 3 is 21).
  sample_.cells[0] = static_cast<std::uint8_t>(v);
}

}  // namespace rectest
