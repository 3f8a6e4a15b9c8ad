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

// Copies the rows y .. y + n - 1, columns x .. x + w - 1, of an unpadded
// plane into the padded plane's interior.
void copy_span(uint8_t* padded, int padded_stride, const uint8_t* plane, int width, int x, int y, int w, int n)
{
    uint8_t* dst = padded + y * padded_stride + x;
    const uint8_t* src = plane + y * width + x;
    for (int r = 0; r < n; ++r) std::memcpy(dst + r * padded_stride, src + r * width, static_cast<size_t>(w));
}

// Reference update of one plane for the macroblocks in `changed` (n x n
// pixels each in this plane): their interiors, the left and right borders
// of their rows where they touch the picture's sides, and the columns of
// the top and bottom borders above and below them (with the corners where
// they sit at a corner). Every other byte of the padded plane already holds
// what a full update would write.
void update_plane_changed(uint8_t* padded, int stride, int border, const uint8_t* plane, int width, int height, int n,
                          const MacroblockRecord* mbs, int mb_cols, int mb_rows)
{
    uint8_t* origin = padded + border * stride + border;
    for (int row = 0; row < mb_rows; ++row) {
        const MacroblockRecord* line = mbs + row * mb_cols;
        // Neighbouring coded macroblocks are copied together, a row of
        // pixels at a time: a picture where most of them changed costs a
        // few long copies per macroblock row, not one short copy per pixel
        // row of every macroblock.
        for (int col = 0; col < mb_cols;) {
            if (line[col].not_coded) {
                ++col;
                continue;
            }
            const int first = col;
            while (col < mb_cols && !line[col].not_coded) ++col;
            copy_span(origin, stride, plane, width, n * first, n * row, n * (col - first), n);
        }
        for (int r = n * row; r < n * row + n; ++r) {
            uint8_t* picture_row = origin + r * stride;
            if (!line[0].not_coded) std::memset(picture_row - border, picture_row[0], static_cast<size_t>(border));
            if (!line[mb_cols - 1].not_coded)
                std::memset(picture_row + width, picture_row[width - 1], static_cast<size_t>(border));
        }
    }
    for (const bool top : {true, false}) {
        const MacroblockRecord* line = mbs + (top ? 0 : mb_rows - 1) * mb_cols;
        uint8_t* source = origin + (top ? 0 : height - 1) * stride;
        const int step = top ? -stride : stride;
        for (int col = 0; col < mb_cols; ++col) {
            if (line[col].not_coded) continue;
            const int from = col == 0 ? -border : n * col;
            const int to = col == mb_cols - 1 ? width + border : n * col + n;
            for (int k = 1; k <= border; ++k)
                std::memcpy(source + k * step + from, source + from, static_cast<size_t>(to - from));
        }
    }
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

void update_reference_changed(DECODER& d)
{
    update_plane_changed(d.ref_y, d.luma_stride, 32, d.cur_y, d.width, d.height, 16, d.macroblocks, d.mb_cols,
                         d.mb_rows);
    const int cw = d.width / 2, ch = d.height / 2;
    update_plane_changed(d.ref_cb, d.chroma_stride, 16, d.cur_cb, cw, ch, 8, d.macroblocks, d.mb_cols, d.mb_rows);
    update_plane_changed(d.ref_cr, d.chroma_stride, 16, d.cur_cr, cw, ch, 8, d.macroblocks, d.mb_cols, d.mb_rows);
}

}  // namespace mpeg4
