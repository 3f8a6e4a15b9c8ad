#include "player/engine/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "viewer/net/asf_guids.h"
#include "viewer/net/byte_source.h"
#include "viewer/record/period_trailer.h"

namespace player {
namespace asf = net::asf;

namespace {

// A file opened read-only; pread lets several threads read at once.
class PosixFileBytes final : public FileBytes {
 public:
  PosixFileBytes(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFileBytes() override { ::close(fd_); }
  PosixFileBytes(const PosixFileBytes&) = delete;
  PosixFileBytes& operator=(const PosixFileBytes&) = delete;

  std::uint64_t size() const override { return size_; }
  std::size_t read_at(std::uint64_t offset, std::uint8_t* destination, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, destination + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  const int fd_;
  const std::uint64_t size_;
};

// How far the probes look at each end of the file.
constexpr std::uint64_t kProbePackets = 256;

}  // namespace

std::size_t MemoryFileBytes::read_at(std::uint64_t offset, std::uint8_t* destination, std::size_t n) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - offset));
  std::memcpy(destination, bytes_.data() + offset, take);
  return take;
}

std::unique_ptr<FileBytes> open_file_bytes(const std::string& path, OpenError* error, std::string* reason) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = OpenError::CannotOpen;
    *reason = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = OpenError::NotRegularFile;
    return nullptr;
  }
  // Regular files never block; the flag only mattered for the open.
  (void)::fcntl(fd, F_SETFL, 0);
  if (st.st_size == 0) {
    ::close(fd);
    *error = OpenError::Empty;
    return nullptr;
  }
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *error = OpenError::None;
  return std::make_unique<PosixFileBytes>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::string open_error_text(OpenError error, const std::string& path, const std::string& reason) {
  const std::string name = "\"" + path + "\"";
  switch (error) {
    case OpenError::None:
      return {};
    case OpenError::CannotOpen:
      return "Cannot open " + name + ": " + reason + ".";
    case OpenError::NotRegularFile:
      return name + " is not a file that can be played (it is a folder, a pipe or a device).";
    case OpenError::Empty:
      return name + " is empty.";
    case OpenError::NotCameraRecording:
      return name + " is not a camera recording: it is not an ASF file as the cameras send it.";
    case OpenError::NoPackets:
      return name + " holds no recorded pictures: it ends right after its header.";
  }
  return name + " cannot be played.";
}

OpenError read_layout(FileBytes& bytes, RecordingLayout* out) {
  *out = RecordingLayout{};
  const std::uint64_t file_size = bytes.size();
  if (file_size == 0) return OpenError::Empty;

  std::uint8_t preamble[asf::kPreambleBytes];
  if (bytes.read_at(0, preamble, sizeof preamble) != sizeof preamble) return OpenError::NotCameraRecording;
  if (!asf::guid_at(preamble, asf::kHeaderObject)) return OpenError::NotCameraRecording;
  // The cameras send one of two header sizes; anything else, like a header
  // the live stream could not take in one read, is not theirs.
  const std::uint64_t header_size = asf::le64(preamble + 16);
  if (header_size != asf::kHeaderWithAudio && header_size != asf::kHeaderVideoOnly) {
    return OpenError::NotCameraRecording;
  }
  const auto body_len = static_cast<std::uint32_t>(header_size - asf::kPreambleBytes);
  std::uint8_t body[asf::kHeaderWithAudio];
  if (bytes.read_at(asf::kPreambleBytes, body, body_len) != body_len) return OpenError::NotCameraRecording;

  bool have_video = false;
  bool have_file_properties = false;
  std::uint32_t packet_size = 0;
  asf::VideoFormat format;
  const bool walked =
      asf::walk_header_children(body, body_len, asf::le32(preamble + 24), [&](const asf::HeaderChild& c) {
        if (asf::guid_at(c.object, asf::kHeaderExtensionObject)) return c.readable >= asf::kHeaderExtensionBytes;
        if (asf::guid_at(c.object, asf::kFilePropertiesObject)) {
          if (c.readable < asf::kFilePropertiesBytes) return false;
          packet_size = asf::le32(c.object + asf::kMinPacketSizeOffset);
          have_file_properties = true;
          return true;
        }
        if (!asf::guid_at(c.object, asf::kStreamPropertiesObject)) return true;
        if (c.readable < asf::kStreamPropertiesFixed) return false;
        const std::uint8_t* type = c.object + asf::kStreamTypeOffset;
        if (asf::guid_at(type, asf::kVideoMedia)) {
          if (!asf::read_video_format(c, &format)) return false;
          have_video = true;
        } else if (asf::guid_at(type, asf::kAudioMedia)) {
          out->has_audio = true;
        }
        return true;
      });
  // The picture must fit the buffers the decoder and the converter are
  // sized for, as the live pipeline requires.
  if (!walked || !have_video || !have_file_properties || format.width <= 0 || format.height <= 0 ||
      format.width > 640 || format.height > 480) {
    return OpenError::NotCameraRecording;
  }
  if (packet_size < asf::kPacketFixedBytes || packet_size > net::kStreamWindowBytes) {
    return OpenError::NotCameraRecording;
  }
  const std::uint64_t data_offset = header_size + asf::kDataObjectStartBytes;
  std::uint8_t data_start[asf::kDataObjectStartBytes];
  if (bytes.read_at(header_size, data_start, sizeof data_start) != sizeof data_start ||
      !asf::guid_at(data_start, asf::kDataObject)) {
    return OpenError::NotCameraRecording;
  }

  out->width = format.width;
  out->height = format.height;
  std::memcpy(out->codec_data, format.codec_data, sizeof out->codec_data);
  out->header_size = static_cast<std::uint32_t>(header_size);
  out->data_offset = data_offset;
  out->packet_size = packet_size;

  std::uint64_t data_end = file_size;
  std::uint8_t tail[record::kPeriodTrailerSize];
  if (file_size >= data_offset + sizeof tail &&
      bytes.read_at(file_size - sizeof tail, tail, sizeof tail) == sizeof tail &&
      record::is_period_trailer(tail, sizeof tail)) {
    record::parse_period_trailer(tail, sizeof tail, &out->period_start, &out->period_end);
    out->has_trailer = true;
    data_end -= sizeof tail;
  }
  out->packet_count = (data_end - data_offset) / packet_size;
  out->cut_bytes = (data_end - data_offset) % packet_size;
  return out->packet_count == 0 ? OpenError::NoPackets : OpenError::None;
}

bool read_packet(FileBytes& bytes, const RecordingLayout& layout, std::uint64_t index, std::uint8_t* destination) {
  return read_packets(bytes, layout, index, 1, destination) == 1;
}

std::uint64_t read_packets(FileBytes& bytes, const RecordingLayout& layout, std::uint64_t first, std::uint64_t count,
                           std::uint8_t* destination) {
  if (first >= layout.packet_count) return 0;
  count = std::min(count, layout.packet_count - first);
  const std::size_t want = static_cast<std::size_t>(count * layout.packet_size);
  const std::size_t got = bytes.read_at(layout.data_offset + first * layout.packet_size, destination, want);
  return got / layout.packet_size;
}

void probe_times(FileBytes& bytes, const RecordingLayout& layout, TimeBase* base, std::int64_t* last_ms) {
  *base = TimeBase{};
  *last_ms = 0;
  std::vector<std::uint8_t> packet(layout.packet_size);
  bool found = false;
  const std::uint64_t head = std::min(layout.packet_count, kProbePackets);
  for (std::uint64_t i = 0; i < head && !found; ++i) {
    if (!read_packet(bytes, layout, i, packet.data())) break;
    (void)asf::for_each_payload(packet.data(), layout.packet_size, [&](const asf::Payload& p) {
      if (!p.new_object) return true;
      base->base = p.object_time;
      found = true;
      return false;
    });
  }
  const std::uint64_t first_tail = layout.packet_count > kProbePackets ? layout.packet_count - kProbePackets : 0;
  for (std::uint64_t i = first_tail; i < layout.packet_count; ++i) {
    if (!read_packet(bytes, layout, i, packet.data())) break;
    (void)asf::for_each_payload(packet.data(), layout.packet_size, [&](const asf::Payload& p) {
      if (p.new_object) *last_ms = std::max(*last_ms, base->relative(p.object_time));
      return true;
    });
  }
}

}  // namespace player
