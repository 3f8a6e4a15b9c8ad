// Frame store of the video decoder: the luma deblocking filter (the
// informative post-filter of ISO/IEC 14496-2, Annex F) and the update of
// the padded reference pictures after every VOP.
#include "viewer/media/mpeg4/internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mpeg4 {
namespace {

// Filters the ten samples s[0] .. s[9 * step] across one block edge, which
// lies between s[4 * step] and s[5 * step].
void filter_edge(uint8_t* p, int step, int qp)
{
    int s[10];
    for (int i = 0; i < 10; ++i) s[i] = p[i * step];

    int eq_cnt = 0;
    for (int i = 0; i < 9; ++i) eq_cnt += std::abs(s[i] - s[i + 1]) < 3 ? 1 : 0;

    if (eq_cnt >= 6) {
        // DC offset mode: strong smoothing of a flat area.
        int mx = s[1], mn = s[1];
        for (int i = 2; i <= 8; ++i) {
            mx = std::max(mx, s[i]);
            mn = std::min(mn, s[i]);
        }
        if (mx - mn >= 2 * qp) return;
        const int before = std::abs(s[1] - s[0]) < qp ? s[0] : s[1];
        const int after = std::abs(s[8] - s[9]) < qp ? s[9] : s[8];
        // Padded sample line: indices 0..3 before S1, 4..11 = S1..S8, 12..15 after.
        int v[16];
        for (int i = 0; i < 4; ++i) v[i] = before;
        for (int i = 1; i <= 8; ++i) v[3 + i] = s[i];
        for (int i = 12; i < 16; ++i) v[i] = after;
        static constexpr int kWeights[9] = {1, 1, 2, 2, 4, 2, 2, 1, 1};
        for (int n = 1; n <= 8; ++n) {
            int sum = 8;
            for (int k = 0; k < 9; ++k) sum += kWeights[k] * v[n - 1 + k];
            p[n * step] = static_cast<uint8_t>(sum >> 4);
        }
        return;
    }

    // Default mode: correct the edge pair only.
    const int a = 5 * (s[5] - s[4]) + 2 * (s[3] - s[6]);
    if (std::abs(a) >= 8 * qp) return;
    const int b = 5 * (s[3] - s[2]) + 2 * (s[1] - s[4]);
    const int c = 5 * (s[7] - s[6]) + 2 * (s[5] - s[8]);
    const int m = std::min(std::abs(b), std::abs(c));
    const int diff = std::abs(a) - m;
    if (diff <= 0) return;
    int d = (5 * diff + 32) >> 6;
    if (a > 0) d = -d;
    const int limit = (s[4] - s[5]) >> 1;
    d = limit >= 0 ? std::clamp(d, 0, limit) : std::clamp(d, limit, 0);
    p[4 * step] = static_cast<uint8_t>(s[4] - d);
    p[5 * step] = static_cast<uint8_t>(s[5] + d);
}

void extend_plane(uint8_t* plane, int stride, int width, int height, int border)
{
    uint8_t* first = plane + border * stride + border;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = first + y * stride;
        std::memset(row - border, row[0], static_cast<size_t>(border));
        std::memset(row + width, row[width - 1], static_cast<size_t>(border));
    }
    const uint8_t* top = plane + border * stride;
    const uint8_t* bottom = plane + (border + height - 1) * stride;
    for (int y = 0; y < border; ++y) {
        std::memcpy(plane + y * stride, top, static_cast<size_t>(stride));
        std::memcpy(plane + (border + height + y) * stride, bottom, static_cast<size_t>(stride));
    }
}

void copy_plane(uint8_t* dst, int dst_stride, const uint8_t* src, int width, int height)
{
    for (int y = 0; y < height; ++y) std::memcpy(dst + y * dst_stride, src + y * width, static_cast<size_t>(width));
}

}  // namespace

void deblock_luma(uint8_t* y, int width, int height, int qp)
{
    // Horizontal edges first (one run per column across each edge), then
    // vertical edges, on every internal 8-pixel block boundary.
    for (int edge = 8; edge < height; edge += 8) {
        uint8_t* p = y + (edge - 5) * width;
        for (int x = 0; x < width; ++x) filter_edge(p + x, width, qp);
    }
    for (int edge = 8; edge < width; edge += 8) {
        for (int r = 0; r < height; ++r) filter_edge(y + r * width + edge - 5, 1, qp);
    }
}

void update_reference(DECODER& d)
{
    const int cw = d.width / 2, ch = d.height / 2;
    copy_plane(d.ref_y + d.luma_origin, d.luma_stride, d.cur_y, d.width, d.height);
    copy_plane(d.ref_cb + d.chroma_origin, d.chroma_stride, d.cur_cb, cw, ch);
    copy_plane(d.ref_cr + d.chroma_origin, d.chroma_stride, d.cur_cr, cw, ch);
    extend_plane(d.ref_y, d.luma_stride, d.width, d.height, 32);
    extend_plane(d.ref_cb, d.chroma_stride, cw, ch, 16);
    extend_plane(d.ref_cr, d.chroma_stride, cw, ch, 16);
}

}  // namespace mpeg4
