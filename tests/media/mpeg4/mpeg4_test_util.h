// Helpers shared by the video decoder's tests: a bit writer for hand-made
// streams, the cameras' VO + VOL header with any field changed, and clips
// made and decoded by ffmpeg.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"
#include "support/psnr.h"

namespace mpeg4_test {

class BitWriter {
public:
    void put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) put_bit((value >> i) & 1);
    }
    void put_bits(const char* text)
    {
        for (const char* c = text; *c; ++c)
            if (*c == '0' || *c == '1') put_bit(*c == '1');
    }
    void put_bit(bool bit)
    {
        if (fill_ == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> fill_);
        fill_ = (fill_ + 1) & 7;
    }
    // next_start_code() stuffing: a 0 bit, then 1 bits to the byte boundary.
    void stuff()
    {
        put_bit(false);
        while (fill_ != 0) put_bit(true);
    }
    size_t bit_count() const { return bytes_.size() * 8 - (fill_ ? 8 - fill_ : 0); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int fill_ = 0;
};

// Fields of the cameras' 18-byte VO + VOL header.
struct VolFields {
    uint32_t vo_code = 0x00000100;
    uint32_t vol_code = 0x00000120;
    uint32_t object_layer_identifier = 0;
    uint32_t aspect_ratio = 1;
    uint32_t vol_control = 0;
    uint32_t shape = 0;
    uint32_t resolution = 25;
    uint32_t fixed_rate = 0;
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t flags4 = 0x4;  // interlaced, obmc_disable, sprite_enable, not_8_bit
    uint32_t quant_type = 0;
    uint32_t load_matrices = 0;
    uint32_t marker = 1;
};

inline std::vector<uint8_t> vol_header(const VolFields& f)
{
    BitWriter w;
    w.put(f.vo_code, 32);
    w.put(f.vol_code, 32);
    w.put(0, 1);
    w.put(1, 8);
    w.put(f.object_layer_identifier, 1);
    w.put(f.aspect_ratio, 4);
    w.put(f.vol_control, 1);
    w.put(f.shape, 2);
    w.put(f.marker, 1);
    w.put(f.resolution, 16);
    w.put(1, 1);
    w.put(f.fixed_rate, 1);
    w.put(1, 1);
    w.put(f.width, 13);
    w.put(1, 1);
    w.put(f.height, 13);
    w.put(1, 1);
    w.put(f.flags4, 4);
    w.put(f.quant_type, 1);
    if (f.quant_type) w.put(f.load_matrices, 2);
    w.put(1, 1);  // complexity_estimation_disable
    w.put(1, 1);  // resync_marker_disable
    w.put(0, 1);  // data_partitioned
    w.put(0, 1);  // scalability
    w.stuff();
    return w.bytes();
}

// Start of a VOP header up to and including vop_quant (and fcode for P).
inline void vop_header(BitWriter& w, int type, int quant, int time_bits, int fcode = 1, int rounding = 0, int coded = 1)
{
    w.put(0x000001b6, 32);
    w.put(static_cast<uint32_t>(type), 2);
    w.put(0, 1);  // modulo_time_base
    w.put(1, 1);
    w.put(0, time_bits);
    w.put(1, 1);
    w.put(static_cast<uint32_t>(coded), 1);
    if (!coded) return;
    if (type == 1) w.put(static_cast<uint32_t>(rounding), 1);
    w.put(0, 3);  // intra_dc_vlc_thr
    w.put(static_cast<uint32_t>(quant), 5);
    if (type == 1) w.put(static_cast<uint32_t>(fcode), 3);
}

inline std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using TempDir = test_support::TempDir;

// Runs a fixed shell command line; true when it exits with 0.
inline bool run(const std::string& command)
{
    return test_support::run_shell(command) == 0;
}

inline std::vector<uint8_t> read_all(const std::string& path)
{
    return test_support::read_bytes(path);
}

using test_support::psnr;

}  // namespace mpeg4_test
