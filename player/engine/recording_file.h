// A recording as the player reads it: the camera's stream header at the
// start of the file, then data packets of one fixed size, possibly a 50-byte
// period trailer at the end, and possibly half a packet before that when the
// recorder was killed while writing.
//
// Nothing in the file is trusted. The header is read with the bounds the live
// stream's demultiplexer uses (the cameras' two header layouts, every child
// object inside the header, a packet size that fits the stream window), and
// only whole packets are ever read. Opening a name that is not a regular file
// (a FIFO, a device, a folder) fails at once instead of blocking on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "viewer/net/asf_parse.h"

namespace player {

// Random access to a file's bytes. Reads may come from several threads at
// once.
class FileBytes {
 public:
  virtual ~FileBytes() = default;
  // The size when the file was opened.
  virtual std::uint64_t size() const = 0;
  // Copies up to n bytes from offset into destination; returns how many were
  // copied (fewer at the end of the file or on a read error).
  virtual std::size_t read_at(std::uint64_t offset, std::uint8_t* destination, std::size_t n) = 0;
};

// A file in memory (fuzzing, tests).
class MemoryFileBytes final : public FileBytes {
 public:
  explicit MemoryFileBytes(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t read_at(std::uint64_t offset, std::uint8_t* destination, std::size_t n) override;

 private:
  std::vector<std::uint8_t> bytes_;
};

enum class OpenError {
  None,
  CannotOpen,      // missing, no permission, ...
  NotRegularFile,  // a folder, a FIFO, a device
  Empty,
  NotCameraRecording,  // not an ASF file in the cameras' profile
  NoPackets,           // a header, but not one whole packet behind it
};

// Opens path for reading without ever blocking (a FIFO is refused, not
// waited on). On failure returns nullptr with the reason in *error and the
// system's errno text in *reason (CannotOpen only).
std::unique_ptr<FileBytes> open_file_bytes(const std::string& path, OpenError* error, std::string* reason);

// The message a user sees for an open failure of path.
std::string open_error_text(OpenError error, const std::string& path, const std::string& reason);

// What the header and the size of a recording tell.
struct RecordingLayout {
  int width = 0;
  int height = 0;
  std::uint8_t codec_data[net::asf::kCodecDataBytes] = {};
  bool has_audio = false;
  std::uint32_t header_size = 0;   // the Header Object: 431 or 327 bytes
  std::uint64_t data_offset = 0;   // first packet: behind the 50-byte Data Object start
  std::uint32_t packet_size = 0;   // 14 .. 12,800 bytes
  std::uint64_t packet_count = 0;  // whole packets before the trailer
  std::uint64_t cut_bytes = 0;     // bytes of an unfinished last packet, not read
  bool has_trailer = false;
  std::string period_start;  // from the trailer, e.g. "2005/04/12   15:30"
  std::string period_end;
};

// Reads the header and the trailer of a recording. Returns None and fills
// *out, or NotCameraRecording / NoPackets / Empty.
[[nodiscard]] OpenError read_layout(FileBytes& bytes, RecordingLayout* out);

// Reads packet `index` (< packet_count) into destination (packet_size
// bytes); false when the file has become shorter.
[[nodiscard]] bool read_packet(FileBytes& bytes, const RecordingLayout& layout, std::uint64_t index,
                               std::uint8_t* destination);

// Reads `count` packets from `first` on into destination; returns how many
// whole packets it read.
std::uint64_t read_packets(FileBytes& bytes, const RecordingLayout& layout, std::uint64_t first, std::uint64_t count,
                           std::uint8_t* destination);

// Presentation times of a file, in milliseconds relative to its first media
// object (the camera's millisecond counter may start anywhere and wrap).
struct TimeBase {
  std::uint32_t base = 0;  // presentation time of the first object
  // Time of `t` on the file's timeline. Times up to 24 days either side of
  // the first object map as the distance to it, so a counter that wraps
  // inside a recording keeps its order.
  std::int64_t relative(std::uint32_t t) const { return static_cast<std::int32_t>(t - base); }
};

// The first object's time (looked for in the first packets) and the latest
// object time near the end of the file, relative to it: the recording's
// length before the whole file has been scanned. Reads at most a few hundred
// packets at each end.
void probe_times(FileBytes& bytes, const RecordingLayout& layout, TimeBase* base, std::int64_t* last_ms);

}  // namespace player
