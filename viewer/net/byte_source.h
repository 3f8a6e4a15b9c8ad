// Where the demultiplexer and the reply reader get their bytes from: the
// camera connection when streaming, a plain buffer in tests and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace net {

// Largest single read a camera stream serves: the size of the connection's
// look-ahead window. Headers and packets larger than this cannot be read.
inline constexpr std::uint32_t kStreamWindowBytes = 12800;

// Exact-size reads of a byte stream.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Blocks until n bytes could be taken and copies them to destination.
  // Returns n, or -1 when the stream has ended or failed (then nothing more
  // can be read). n must be at least 1; a source may refuse large n with -1.
  [[nodiscard]] virtual int read(std::uint8_t* destination, std::uint32_t n) = 0;
  // Tick (platform::tick_ms) at which the last byte of the latest read
  // arrived from the network; 0 when the source cannot tell.
  virtual std::uint32_t arrival_tick() const { return 0; }
};

// One byte at a time, for the reply's status and header lines.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // True with the next byte in *b, false when the stream ended or failed.
  [[nodiscard]] virtual bool read_byte(std::uint8_t* b) = 0;
};

// Both views of a fixed buffer; reads past its end fail.
class BufferByteSource final : public ByteSource, public ByteReader {
 public:
  explicit BufferByteSource(std::span<const std::uint8_t> bytes, std::uint32_t max_read = 0xFFFFFFFFu)
      : bytes_(bytes), max_read_(max_read) {}

  int read(std::uint8_t* destination, std::uint32_t n) override {
    if (destination == nullptr || n == 0 || n > max_read_ || n > bytes_.size() - pos_) return -1;
    std::memcpy(destination, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  bool read_byte(std::uint8_t* b) override {
    if (pos_ >= bytes_.size()) return false;
    *b = bytes_[pos_++];
    return true;
  }
  std::size_t position() const { return pos_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::uint32_t max_read_;
};

}  // namespace net
