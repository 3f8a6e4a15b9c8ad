// Frame driver of the video decoder: creation and destruction of the record
// and the per-call sequence (headers, VOP, checks, deblocking, reference
// update, output).
#include "viewer/media/mpeg4/decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "viewer/media/mpeg4/headers.h"
#include "viewer/media/mpeg4/internal.h"

namespace mpeg4 {
namespace {

constexpr size_t kAlign = 64;
constexpr int kMaxMacroblocks = (kMaxWidth / 16) * (kMaxHeight / 16);
constexpr size_t kRefLumaBytes = size_t{kMaxWidth + 64} * (kMaxHeight + 64);
constexpr size_t kRefChromaBytes = size_t{kMaxWidth / 2 + 32} * (kMaxHeight / 2 + 32);
constexpr size_t kLumaBytes = size_t{kMaxWidth} * kMaxHeight;
constexpr size_t kChromaBytes = kLumaBytes / 4;

// Zero-filled, cache-line aligned allocation; nullptr on failure.
void* zalloc(size_t bytes)
{
    const size_t rounded = (bytes + kAlign - 1) & ~(kAlign - 1);
    void* p = std::aligned_alloc(kAlign, rounded);
    if (p != nullptr) std::memset(p, 0, rounded);
    return p;
}

void free_buffers(DECODER* d)
{
    std::free(d->macroblocks);
    std::free(d->vectors);
    std::free(d->ref_y);
    std::free(d->ref_cb);
    std::free(d->ref_cr);
    std::free(d->cur_y);
    std::free(d->cur_cb);
    std::free(d->cur_cr);
}

void copy_planes_from_reference(DECODER& d)
{
    const int cw = d.width / 2, ch = d.height / 2;
    for (int y = 0; y < d.height; ++y)
        std::memcpy(d.cur_y + y * d.width, d.ref_y + d.luma_origin + y * d.luma_stride, static_cast<size_t>(d.width));
    for (int y = 0; y < ch; ++y) {
        std::memcpy(d.cur_cb + y * cw, d.ref_cb + d.chroma_origin + y * d.chroma_stride, static_cast<size_t>(cw));
        std::memcpy(d.cur_cr + y * cw, d.ref_cr + d.chroma_origin + y * d.chroma_stride, static_cast<size_t>(cw));
    }
}

// End-of-VOP alignment: a partly read byte counts as consumed; at a byte
// boundary after a non-zero byte one more (stuffing) byte is skipped.
size_t aligned_end(const BitReader& br)
{
    if ((br.bit_pos & 7) != 0) return br.byte_pos();
    const size_t pos = br.bit_pos >> 3;
    const uint8_t last = pos > 0 && pos <= br.size ? br.data[pos - 1] : 0;
    return last != 0 ? pos + 1 : pos;
}

}  // namespace

void derive_layout(DECODER& d)
{
    d.mb_cols = d.width >> 4;
    d.mb_rows = d.height >> 4;
    d.luma_stride = d.width + 64;
    d.luma_origin = d.luma_stride * 32 + 32;
    d.chroma_stride = d.width / 2 + 32;
    d.chroma_origin = d.chroma_stride * 16 + 16;
}

}  // namespace mpeg4

using namespace mpeg4;

extern "C" size_t decoder_allocated_bytes()
{
    const auto rounded = [](size_t bytes) { return (bytes + kAlign - 1) & ~(kAlign - 1); };
    return rounded(sizeof(DECODER)) + rounded(sizeof(MacroblockRecord) * kMaxMacroblocks) +
           rounded(sizeof(MotionVector) * 5 * kMaxMacroblocks) + rounded(kRefLumaBytes) + 2 * rounded(kRefChromaBytes) +
           rounded(kLumaBytes) + 2 * rounded(kChromaBytes);
}

extern "C" DECODER* decoder_create()
{
    void* raw = zalloc(sizeof(DECODER));
    if (raw == nullptr) return nullptr;
    DECODER* d = new (raw) DECODER();
    d->macroblocks = static_cast<MacroblockRecord*>(zalloc(sizeof(MacroblockRecord) * kMaxMacroblocks));
    d->vectors = static_cast<MotionVector*>(zalloc(sizeof(MotionVector) * 5 * kMaxMacroblocks));
    d->ref_y = static_cast<uint8_t*>(zalloc(kRefLumaBytes));
    d->ref_cb = static_cast<uint8_t*>(zalloc(kRefChromaBytes));
    d->ref_cr = static_cast<uint8_t*>(zalloc(kRefChromaBytes));
    d->cur_y = static_cast<uint8_t*>(zalloc(kLumaBytes));
    d->cur_cb = static_cast<uint8_t*>(zalloc(kChromaBytes));
    d->cur_cr = static_cast<uint8_t*>(zalloc(kChromaBytes));
    if (!d->macroblocks || !d->vectors || !d->ref_y || !d->ref_cb || !d->ref_cr || !d->cur_y || !d->cur_cb ||
        !d->cur_cr) {
        free_buffers(d);
        d->~DECODER();
        std::free(raw);
        return nullptr;
    }
    derive_layout(*d);
    return d;
}

extern "C" int decoder_picture(const DECODER* d, const uint8_t** y, const uint8_t** cb, const uint8_t** cr)
{
    if (d == nullptr || y == nullptr || cb == nullptr || cr == nullptr) return -1;
    *y = d->cur_y;
    *cb = d->cur_cb;
    *cr = d->cur_cr;
    return 0;
}

extern "C" int decoder_destroy(DECODER* d)
{
    if (d == nullptr) return -1;
    free_buffers(d);
    d->~DECODER();
    std::free(d);
    return 0;
}

namespace {

// What one attempt at a VOP came to.
enum class Attempt {
    kFailed,   // the VOP could not be decoded; the pictures are as before
    kDecoded,  // decoded, the reference updated and the picture written out
    kUndone,   // decoded, but it did not read as sound: the pictures are as before
};

// A VOP that is not coded holds its header and stuffing only; more than
// this after its last bit means the header was read with the wrong layout.
constexpr size_t kNotCodedSlackBytes = 2;

// Decodes the VOP at `vop` with time_bits increment bits. With undo_unsound
// a VOP that does not read as sound (see parse_vop_header; a coded VOP must
// also decode without error, an uncoded one must end there) is not
// committed. *sound reports the check either way.
Attempt decode_vop(DECODER& d, uint8_t* output, const BitReader& vop, int time_bits, bool undo_unsound, int32_t* status,
                   bool* sound)
{
    BitReader br = vop;
    bool header_sound = false;
    *sound = false;
    const VopParse parsed = parse_vop_header(d, br, time_bits, &header_sound);
    // Headers cut short read zeros past the frame; whatever they seem to say
    // (an uncoded VOP, say) was never sent, so the frame is refused.
    if (parsed == VopParse::kFailed || br.overrun()) return Attempt::kFailed;

    d.error = 0;
    const bool decodes = parsed == VopParse::kCoded && d.vop.coding_type <= 1;
    if (decodes) {
        if (d.vop.coding_type == 0)
            decode_i_vop(d, br);
        else
            decode_p_vop(d, br);
        // A VOP that needs more bits than the frame holds was truncated.
        if (br.overrun()) d.error = 1;
    }
    if (parsed == VopParse::kNotCoded)
        *sound = header_sound && br.size - std::min(br.size, br.byte_pos()) <= kNotCodedSlackBytes;
    else
        *sound = header_sound && !d.error;
    if (d.error || (undo_unsound && !*sound)) {
        // The reference keeps the previous picture; so does the current
        // picture, which later skipped macroblocks show.
        if (decodes) copy_planes_from_reference(d);
        return d.error ? Attempt::kFailed : Attempt::kUndone;
    }

    const size_t consumed = aligned_end(br);
    if (parsed == VopParse::kCoded) {
        // The reference holds the previous picture; bring it up to date with
        // what this VOP changed. Skipped macroblocks of a P-VOP changed
        // nothing, and VOPs of types 2 and 3 decode nothing, unless the
        // filter touched the whole picture.
        if (d.deblocking_enabled) {
            deblock_luma(d.cur_y, d.width, d.height, d.vop.quant);
            update_reference(d);
        } else if (d.vop.coding_type == 0) {
            update_reference(d);
        } else if (d.vop.coding_type == 1) {
            update_reference_changed(d);
        }
    }
    d.headers_pending = 0;
    *status = static_cast<int32_t>(consumed);

    if (output != nullptr) {
        const size_t luma = static_cast<size_t>(d.width) * d.height;
        std::memcpy(output, d.cur_y, luma);
        std::memcpy(output + luma, d.cur_cb, luma / 4);
        std::memcpy(output + luma + luma / 4, d.cur_cr, luma / 4);
    }
    return Attempt::kDecoded;
}

}  // namespace

extern "C" int decoder_decode(DECODER* d, uint8_t* output, const uint8_t* input, size_t input_size, int32_t* status)
{
    if (status != nullptr) *status = 0;
    if (d == nullptr || input == nullptr || status == nullptr) {
        if (status != nullptr) *status = kDecodeFailedStatus;
        return kDecodeFailed;
    }
    BitReader br;
    br.reset(input, input_size);

    if (d->headers_pending) {
        VolInfo vol;
        if (!parse_vo_vol(br, vol)) {
            *status = kDecodeFailedStatus;
            return kDecodeFailed;
        }
        d->width = vol.width;
        d->height = vol.height;
        d->time_increment_resolution = vol.time_increment_resolution;
        // The cameras count the bits of the resolution value itself; the
        // standard, the bits of its largest increment. For a power of two
        // they differ by one, and streams of both kinds exist: the cameras'
        // count is tried first, and the first VOP that reads as sound with
        // one of them decides for the stream.
        const int camera_bits = camera_time_increment_bits(vol.time_increment_resolution);
        const int standard_bits = time_increment_bits(vol.time_increment_resolution);
        d->time_increment_bits = camera_bits;
        d->time_increment_bits_other = standard_bits != camera_bits ? standard_bits : 0;
        d->time_increment_settled = 0;
        d->quant_type = vol.quant_type;
        derive_layout(*d);
    }

    const bool choosing = d->time_increment_bits_other != 0 && !d->time_increment_settled;
    const uint32_t seconds = d->seconds;
    bool sound = false;
    Attempt attempt = decode_vop(*d, output, br, d->time_increment_bits, choosing, status, &sound);
    if (choosing) {
        if (attempt == Attempt::kDecoded) {
            d->time_increment_settled = 1;
        } else {
            const uint32_t seconds_after = d->seconds;
            d->seconds = seconds;
            if (decode_vop(*d, output, br, d->time_increment_bits_other, true, status, &sound) == Attempt::kDecoded) {
                const int32_t bits = d->time_increment_bits;
                d->time_increment_bits = d->time_increment_bits_other;
                d->time_increment_bits_other = bits;
                d->time_increment_settled = 1;
                attempt = Attempt::kDecoded;
            } else if (attempt == Attempt::kUndone) {
                // Sound with neither count: decoded as the current count
                // reads it, as a stream without a choice would be.
                d->seconds = seconds;
                attempt = decode_vop(*d, output, br, d->time_increment_bits, false, status, &sound);
            } else {
                d->seconds = seconds_after;
            }
        }
    }
    if (attempt != Attempt::kDecoded) {
        *status = kDecodeFailedStatus;
        return kDecodeFailed;
    }
    return kDecodeOk;
}
