#include "record_fixtures.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace rectest {

std::vector<std::uint8_t> read_file(const std::string& path) { return test_support::read_bytes(path); }

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  (void)test_support::write_bytes(path, bytes.data(), bytes.size());
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

::testing::AssertionResult decodes_cleanly(const std::string& path, bool allow_no_keyframe_start) {
  const RunResult r = run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
  if (r.status != 0) return ::testing::AssertionFailure() << "ffmpeg exit " << r.status << ": " << r.err;
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line)) {
    if (allow_no_keyframe_start && line.find("first frame is no keyframe") != std::string::npos) continue;
    if (!line.empty()) return ::testing::AssertionFailure() << "ffmpeg: " << line;
  }
  return ::testing::AssertionSuccess();
}

std::vector<bool> video_key_frames(const std::string& path) {
  const RunResult r = run(
      {"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "frame=key_frame", "-of", "csv=p=0", path});
  std::vector<bool> keys;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty()) keys.push_back(line[0] == '1');
  return keys;
}

std::vector<std::string> probe_streams(const std::string& path) {
  const RunResult r =
      run({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name", "-of", "csv=p=0", path});
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
  const RunResult r = run({"ffmpeg",
                           "-nostdin",
                           "-v",
                           "error",
                           "-y",
                           "-f",
                           "lavfi",
                           "-i",
                           "testsrc=size=320x240:rate=10",
                           "-f",
                           "lavfi",
                           "-i",
                           "sine=frequency=440:sample_rate=8000",
                           "-t",
                           "6",
                           "-c:v",
                           "mpeg4",
                           "-g",
                           "10",
                           "-b:v",
                           "200k",
                           "-c:a",
                           "g726",
                           "-b:a",
                           "16k",
                           "-ar",
                           "8000",
                           "-ac",
                           "1",
                           "-f",
                           "asf",
                           "-packet_size",
                           "3200",
                           path});
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
  // Where the key frames begin, as ffmpeg's demultiplexer sees it: a video
  // packet's position is that of the data packet holding its first byte.
  clip.key_start.assign(clip.packets.size(), false);
  const RunResult probe = run(
      {"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=pos,flags", "-of", "csv=p=0", path});
  std::istringstream lines(probe.out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || line.find('K', comma) == std::string::npos) continue;
    const std::size_t pos = std::stoul(line.substr(0, comma));
    if (pos >= data_start && (pos - data_start) / clip.packet_size < clip.packets.size())
      clip.key_start[(pos - data_start) / clip.packet_size] = true;
  }
  if (std::count(clip.key_start.begin(), clip.key_start.end(), true) < 5)
    throw std::runtime_error("ffprobe found too few key frames in the test clip");
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

std::vector<std::size_t> clip_indices(const std::vector<std::uint8_t>& file) {
  const AsfClip& clip = asf_clip();
  std::vector<std::size_t> out;
  if (!is_header_and_whole_packets(file)) return out;
  for (std::size_t off = clip.header.size(); off < file.size(); off += clip.packet_size) {
    for (std::size_t i = 0; i < clip.packets.size(); ++i) {
      if (std::equal(clip.packets[i].begin(), clip.packets[i].end(), file.begin() + static_cast<long>(off))) {
        out.push_back(i);
        break;
      }
    }
  }
  return out;
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
  if (refuse_remove.load()) {
    errno = EACCES;
    return false;
  }
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
  rec_.SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
  header_len.store(static_cast<std::uint32_t>(header.size()));
  dead.store(false);
  connected.store(true);
}

void FakeCamera::feed(const std::vector<std::uint8_t>& packet, bool key_start, std::uint32_t tick) {
  if (!connected.load()) return;
  // ffmpeg's packets are not laid out as the cameras' are: a key frame counts
  // as beginning with the packet's first payload, so files take them whole.
  rec_.AddPacket(packet.data(), static_cast<std::uint32_t>(packet.size()), tick, key_start ? 14 : 0);
}

void FakeCamera::feed_clip(std::size_t i, std::uint32_t tick) {
  const AsfClip& clip = asf_clip();
  feed(clip.packets[i % clip.packets.size()], clip.key_start[i % clip.packets.size()], tick);
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
