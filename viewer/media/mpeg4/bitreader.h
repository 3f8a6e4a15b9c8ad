// Bit reader of the video decoder: most significant bit first, bounded by
// the length of the input it was given. Bits past the end read as zero, as
// if the frame were followed by endless zero bytes; so a truncated frame
// decodes into zero-valued codes and nothing outside the input is touched.
// The caller needs no padding after the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mpeg4 {

struct BitReader {
    const uint8_t* data = nullptr;
    size_t size = 0;     // bytes of input
    size_t bit_pos = 0;  // bits consumed from the start of the input

    void reset(const uint8_t* input, size_t input_size)
    {
        data = input;
        size = input_size;
        bit_pos = 0;
    }

    // The next 32 bits, first bit in the most significant place, without
    // consuming them.
    uint32_t peek32() const
    {
        const size_t byte = bit_pos >> 3;
        uint64_t word;
        if (byte + 8 <= size) {
            std::memcpy(&word, data + byte, 8);
            word = __builtin_bswap64(word);
        } else {
            word = 0;
            for (size_t i = 0; i < 8; ++i) {
                const size_t at = byte + i;
                word = (word << 8) | (at < size ? data[at] : 0u);
            }
        }
        return static_cast<uint32_t>((word << (bit_pos & 7)) >> 32);
    }

    void skip(unsigned n) { bit_pos += n; }

    // Reads n bits, n in 0..32; a read of 0 bits returns 0.
    uint32_t read(unsigned n)
    {
        if (n == 0) return 0;
        const uint32_t v = peek32() >> (32 - n);
        bit_pos += n;
        return v;
    }

    uint32_t read1() { return read(1); }

    // Bytes started so far: the byte position of a byte-wise reader that
    // loads the next byte when it needs a bit.
    size_t byte_pos() const { return (bit_pos + 7) >> 3; }

    // True once more bits were consumed than the input holds.
    bool overrun() const { return bit_pos > size * 8; }
};

// The macroblock layer's reader over the bits of a BitReader: a 64-bit
// window refilled 32 bits at a time, so that a code look-up depends on a
// register rather than on a load at a computed address. The refill address
// moves in steps of four bytes whatever the codes consumed, so it is known
// long before it is needed. Bits past the end of the input read as zero,
// exactly as through the BitReader; nothing outside the input is touched.
// Copy it into a local for a loop and store() it back afterwards.
class BitCursor {
public:
    explicit BitCursor(const BitReader& br) : data_(br.data), size_(br.size), next_(br.bit_pos >> 3)
    {
        refill();
        skip(static_cast<unsigned>(br.bit_pos & 7));
    }

    // Writes the position back into the reader the cursor was made from.
    void store(BitReader& br) const { br.bit_pos = next_ * 8 - static_cast<size_t>(count_); }

    // Makes at least 32 bits available to peek32() and skip().
    void refill()
    {
        if (count_ >= 32) return;
        uint32_t word;
        if (next_ + 4 <= size_) {
            std::memcpy(&word, data_ + next_, 4);
            word = __builtin_bswap32(word);
        } else {
            word = 0;
            for (size_t i = 0; i < 4; ++i) {
                const size_t at = next_ + i;
                word = (word << 8) | (at < size_ ? data_[at] : 0u);
            }
        }
        cache_ |= static_cast<uint64_t>(word) << (32 - count_);
        next_ += 4;
        count_ += 32;
    }

    // The next 32 bits without consuming them; refills first.
    uint32_t peek32()
    {
        refill();
        return static_cast<uint32_t>(cache_ >> 32);
    }

    // The next 32 bits; valid only while 32 bits are buffered (after refill).
    uint32_t window() const { return static_cast<uint32_t>(cache_ >> 32); }

    // Consumes n bits, n in 0..32.
    void skip(unsigned n)
    {
        if (count_ < static_cast<int>(n)) refill();
        consume(n);
    }

    // Consumes n bits that are known to be buffered (n <= 32 after a refill).
    void consume(unsigned n)
    {
        cache_ <<= n;
        count_ -= static_cast<int>(n);
    }

    // Reads n bits, n in 0..32; a read of 0 bits returns 0.
    uint32_t read(unsigned n)
    {
        if (n == 0) return 0;
        refill();
        const uint32_t v = static_cast<uint32_t>(cache_ >> (64 - n));
        consume(n);
        return v;
    }

    uint32_t read1() { return read(1); }

    // True once more bits were consumed than the input holds.
    bool overrun() const { return next_ * 8 - static_cast<size_t>(count_) > size_ * 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t next_;         // next byte to move into the window (may pass size_)
    uint64_t cache_ = 0;  // unread bits, first one in the top bit; the rest zero
    int count_ = 0;       // bits in cache_
};

}  // namespace mpeg4
