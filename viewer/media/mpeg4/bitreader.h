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
    size_t size = 0;      // bytes of input
    size_t bit_pos = 0;   // bits consumed from the start of the input

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

}  // namespace mpeg4
