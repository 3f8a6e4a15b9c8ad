// Bit-level reading and writing, most significant bit first, as MPEG-4
// Visual headers are laid out (ISO/IEC 14496-2, 5.2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace clipkit {

// Reads bits from a byte range it does not own. Never reads past the end:
// a read beyond it yields zero bits and clears ok(), so a parser can read a
// whole header and check once.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Reads n bits (0..32) as an unsigned number.
  uint32_t read(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 1) | read_bit();
    return value;
  }

  uint32_t read_bit() {
    if (pos_ >= size_ * 8) {
      ok_ = false;
      return 0;
    }
    const uint32_t bit = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
    ++pos_;
    return bit;
  }

  // A marker bit must be 1 (ISO/IEC 14496-2, 6.2.3); a 0 means the header is
  // not what we think it is.
  bool marker() { return read_bit() == 1 && ok_; }

  bool ok() const { return ok_; }
  size_t bit_position() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class BitWriter {
 public:
  void put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) put_bit((value >> i) & 1u);
  }

  void put_bit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
    used_ = (used_ + 1) & 7;
  }

  // next_start_code() stuffing: one 0 bit, then 1 bits up to the byte
  // boundary (ISO/IEC 14496-2, 5.2.4); always at least one bit.
  void stuff_to_byte() {
    put_bit(0);
    while (used_ != 0) put_bit(1);
  }

  void put_bytes(std::initializer_list<uint8_t> list) {
    for (uint8_t b : list) put(b, 8);
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int used_ = 0;  // bits already used in the last byte
};

}  // namespace clipkit
