// Table look-up decoding of the variable-length codes of tables.h. Each
// table is turned at compile time into a two-level look-up table that gives
// the same value and length as walking the code tree bit by bit; a code
// that is not in the table gives kVlcInvalid and consumes nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "viewer/media/mpeg4/bitreader.h"
#include "viewer/media/mpeg4/tables.h"

namespace mpeg4 {

// One slot of a look-up table. A leaf has len > 0 (total code length). A
// slot with len 0 and sub > 0 points at a second-level table of 2^sub
// slots starting at index value; len 0 and sub 0 marks an invalid code.
struct VlcEntry {
    int16_t value;
    uint8_t len;
    uint8_t sub;
};

inline constexpr int kVlcInvalid = -1;

// TCOEF values, sign bit included: (negative << 13) | (last << 12) |
// (run << 6) | level, or kTcoefEscapeValue for ESCAPE.
inline constexpr int kTcoefEscapeValue = 0x7fff;
inline constexpr int kTcoefNegative = 0x2000;
inline constexpr bool tcoef_negative(int v)
{
    return (v & kTcoefNegative) != 0;
}
inline constexpr int tcoef_last(int v)
{
    return (v >> 12) & 1;
}
inline constexpr int tcoef_run(int v)
{
    return (v >> 6) & 63;
}
inline constexpr int tcoef_level(int v)
{
    return v & 63;
}

// First-level widths of the tables below.
inline constexpr int kMcbpcIBits = 9;
inline constexpr int kMcbpcPBits = 9;
inline constexpr int kCbpyBits = 6;
inline constexpr int kMvdBits = 9;
inline constexpr int kDcLumaBits = 8;
inline constexpr int kDcChromaBits = 8;
inline constexpr int kTcoefBits = 10;

namespace vlc_detail {

struct Code {
    uint32_t word;  // the code, right-aligned
    int len;
    int value;
};

constexpr int code_length(const char* bits)
{
    int n = 0;
    while (bits[n] != '\0') ++n;
    return n;
}

constexpr uint32_t code_word(const char* bits)
{
    uint32_t w = 0;
    for (int i = 0; bits[i] != '\0'; ++i) w = (w << 1) | (bits[i] == '1' ? 1u : 0u);
    return w;
}

template <size_t N>
constexpr int longest_code(const std::array<Code, N>& codes)
{
    int longest = 0;
    for (const Code& c : codes) longest = c.len > longest ? c.len : longest;
    return longest;
}

constexpr Code make_code(const char* bits, int value)
{
    return Code{code_word(bits), code_length(bits), value};
}

// Size of the two-level table: 2^first slots plus 2^(longest - first) for
// every distinct first-level prefix of a longer code.
template <size_t N>
constexpr size_t lut_size(const std::array<Code, N>& codes, int first)
{
    const int longest = longest_code(codes);
    std::array<bool, 4096> prefix_used{};
    size_t subs = 0;
    for (const Code& c : codes) {
        const int len = c.len;
        if (len <= first) continue;
        const uint32_t prefix = c.word >> (len - first);
        if (!prefix_used[prefix]) {
            prefix_used[prefix] = true;
            ++subs;
        }
    }
    return (size_t{1} << first) + subs * (longest > first ? (size_t{1} << (longest - first)) : 0);
}

// Fills the table. Two codes claiming one slot (a table that is not
// prefix-free) stop the compilation.
template <size_t Size, size_t N>
constexpr std::array<VlcEntry, Size> build_lut(const std::array<Code, N>& codes, int first)
{
    std::array<VlcEntry, Size> lut{};
    const int longest = longest_code(codes);
    const int second = longest > first ? longest - first : 0;
    size_t next_sub = size_t{1} << first;
    for (const Code& c : codes) {
        const int len = c.len;
        const uint32_t word = c.word;
        if (len <= first) {
            const uint32_t start = word << (first - len);
            for (uint32_t i = 0; i < (1u << (first - len)); ++i) {
                VlcEntry& e = lut[start + i];
                if (e.len != 0 || e.sub != 0) throw "codes overlap";
                e = VlcEntry{static_cast<int16_t>(c.value), static_cast<uint8_t>(len), 0};
            }
            continue;
        }
        const uint32_t prefix = word >> (len - first);
        VlcEntry& head = lut[prefix];
        if (head.len != 0) throw "codes overlap";
        if (head.sub == 0) {
            head = VlcEntry{static_cast<int16_t>(next_sub), 0, static_cast<uint8_t>(second)};
            next_sub += size_t{1} << second;
        }
        const uint32_t rest = word & ((1u << (len - first)) - 1);
        const uint32_t start = static_cast<uint32_t>(head.value) + (rest << (longest - len));
        for (uint32_t i = 0; i < (1u << (longest - len)); ++i) {
            VlcEntry& e = lut[start + i];
            if (e.len != 0) throw "codes overlap";
            e = VlcEntry{static_cast<int16_t>(c.value), static_cast<uint8_t>(len), 0};
        }
    }
    return lut;
}

template <size_t N>
constexpr std::array<Code, N> plain(const CodeEntry (&table)[N])
{
    std::array<Code, N> out{};
    for (size_t i = 0; i < N; ++i) out[i] = make_code(table[i].bits, table[i].value);
    return out;
}

// TCOEF codes with the sign bit that follows them folded in: two codes per
// event, plus ESCAPE (which has no sign bit).
template <size_t N>
constexpr std::array<Code, 2 * N + 1> tcoef(const TcoefEntry (&table)[N])
{
    std::array<Code, 2 * N + 1> out{};
    for (size_t i = 0; i < N; ++i) {
        const Code c = make_code(table[i].bits, 0);
        const int v = (table[i].last << 12) | (table[i].run << 6) | table[i].level;
        out[2 * i] = Code{c.word << 1, c.len + 1, v};
        out[2 * i + 1] = Code{(c.word << 1) | 1u, c.len + 1, v | kTcoefNegative};
    }
    out[2 * N] = make_code(kTcoefEscape, kTcoefEscapeValue);
    return out;
}

inline constexpr auto kMcbpcICodes = plain(TableB6_MCBPC_I);
inline constexpr auto kMcbpcPCodes = plain(TableB7_MCBPC_P);
inline constexpr auto kCbpyCodes = plain(TableB8_CBPY);
inline constexpr auto kMvdCodes = plain(TableB12_MVD);
inline constexpr auto kDcLumaCodes = plain(TableB13_DCSizeLuma);
inline constexpr auto kDcChromaCodes = plain(TableB14_DCSizeChroma);
inline constexpr auto kIntraTcoefCodes = tcoef(TableB16_IntraTCOEF);
inline constexpr auto kInterTcoefCodes = tcoef(TableB17_InterTCOEF);

}  // namespace vlc_detail

#define MPEG4_VLC_LUT(name, codes, first)    \
    alignas(64) inline constexpr auto name = \
        vlc_detail::build_lut<vlc_detail::lut_size(vlc_detail::codes, first)>(vlc_detail::codes, first)

MPEG4_VLC_LUT(kMcbpcILut, kMcbpcICodes, kMcbpcIBits);
MPEG4_VLC_LUT(kMcbpcPLut, kMcbpcPCodes, kMcbpcPBits);
MPEG4_VLC_LUT(kCbpyLut, kCbpyCodes, kCbpyBits);
MPEG4_VLC_LUT(kMvdLut, kMvdCodes, kMvdBits);
MPEG4_VLC_LUT(kDcLumaLut, kDcLumaCodes, kDcLumaBits);
MPEG4_VLC_LUT(kDcChromaLut, kDcChromaCodes, kDcChromaBits);
MPEG4_VLC_LUT(kIntraTcoefLut, kIntraTcoefCodes, kTcoefBits);
MPEG4_VLC_LUT(kInterTcoefLut, kInterTcoefCodes, kTcoefBits);

#undef MPEG4_VLC_LUT

// TCOEF look-up tables for the coefficient loops: the tables above with
// every slot re-encoded as one 32-bit word that needs no further decoding.
// Leaf: bits 0..5 code length (sign bit included), 6..11 run, 12 last,
// 13 ESCAPE, 16..31 the signed level. Second-level pointer: length 0, bits
// 6..11 its width, 16..31 its first slot. Invalid code: 0.
inline constexpr uint32_t kRunLevelLast = 1u << 12;
inline constexpr uint32_t kRunLevelEscape = 1u << 13;

namespace vlc_detail {

template <size_t N>
constexpr std::array<uint32_t, N> run_level(const std::array<VlcEntry, N>& lut)
{
    std::array<uint32_t, N> out{};
    for (size_t i = 0; i < N; ++i) {
        const VlcEntry e = lut[i];
        if (e.len == 0) {
            out[i] = e.sub == 0 ? 0u : (uint32_t{e.sub} << 6) | (static_cast<uint32_t>(e.value) << 16);
            continue;
        }
        if (e.len > 63) throw "code too long";
        if (e.value == kTcoefEscapeValue) {
            out[i] = e.len | kRunLevelEscape;
            continue;
        }
        const int level = tcoef_negative(e.value) ? -tcoef_level(e.value) : tcoef_level(e.value);
        out[i] = e.len | (static_cast<uint32_t>(tcoef_run(e.value)) << 6) | (tcoef_last(e.value) ? kRunLevelLast : 0u) |
                 (static_cast<uint32_t>(static_cast<uint16_t>(level)) << 16);
    }
    return out;
}

}  // namespace vlc_detail

// First-level width of the run-level tables: wide enough that nearly all
// codes resolve in one look-up (the longest, with its sign, have 13 bits).
inline constexpr int kRunLevelBits = 11;

alignas(64) inline constexpr auto kIntraRunLevelLut =
    vlc_detail::run_level(vlc_detail::build_lut<vlc_detail::lut_size(vlc_detail::kIntraTcoefCodes, kRunLevelBits)>(
        vlc_detail::kIntraTcoefCodes, kRunLevelBits));
alignas(64) inline constexpr auto kInterRunLevelLut =
    vlc_detail::run_level(vlc_detail::build_lut<vlc_detail::lut_size(vlc_detail::kInterTcoefCodes, kRunLevelBits)>(
        vlc_detail::kInterTcoefCodes, kRunLevelBits));

inline constexpr unsigned run_level_length(uint32_t e)
{
    return e & 63;
}
inline constexpr int run_level_run(uint32_t e)
{
    return static_cast<int>((e >> 6) & 63);
}
inline constexpr int32_t run_level_level(uint32_t e)
{
    return static_cast<int32_t>(e) >> 16;
}

// Looks up the TCOEF code at the top of `w`; 0 for a code not in the table.
inline uint32_t run_level_lookup(uint32_t w, const uint32_t* lut)
{
    uint32_t e = lut[w >> (32 - kRunLevelBits)];
    if (__builtin_expect(run_level_length(e) == 0, 0)) {
        const unsigned sub = (e >> 6) & 63;
        if (sub == 0) return 0;
        e = lut[(e >> 16) + ((w << kRunLevelBits) >> (32 - sub))];
    }
    return e;
}

// Looks up the code at the top of `w` in a table whose first level is
// `first_bits` wide. Returns the slot of the code (len > 0) or a slot with
// len 0 for a code that is not in the table.
template <int first_bits>
inline VlcEntry vlc_lookup(uint32_t w, const VlcEntry* lut)
{
    VlcEntry e = lut[w >> (32 - first_bits)];
    if (e.len == 0 && e.sub != 0) e = lut[e.value + ((w << first_bits) >> (32 - e.sub))];
    return e;
}

// Decodes one code of a table whose first level is `first_bits` wide.
// Returns its value, or kVlcInvalid without consuming anything.
template <int first_bits>
inline int vlc_read(BitReader& br, const VlcEntry* lut)
{
    const VlcEntry e = vlc_lookup<first_bits>(br.peek32(), lut);
    if (e.len == 0) return kVlcInvalid;
    br.skip(e.len);
    return e.value;
}

template <int first_bits>
inline int vlc_read(BitCursor& c, const VlcEntry* lut)
{
    const VlcEntry e = vlc_lookup<first_bits>(c.peek32(), lut);
    if (e.len == 0) return kVlcInvalid;
    c.consume(e.len);
    return e.value;
}

}  // namespace mpeg4
