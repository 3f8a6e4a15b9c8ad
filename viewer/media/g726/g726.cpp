#include "viewer/media/g726/g726.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "viewer/media/g726/g726_tables.h"

namespace media {
namespace {

// Number of significant bits of v (0 for 0): the exponent of G.726's
// floating formats.
inline int bit_length(unsigned v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

inline std::int16_t saturate16(int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); }

// G.726, 4.2.6, FLOATA/FLOATB: sign in bit 10, 4-bit exponent, 6-bit
// mantissa; mag is below 32768.
inline std::uint16_t to_float(bool negative, unsigned mag) {
  const int exp = bit_length(mag);
  const unsigned mant = mag == 0 ? 32u : (mag << 6) >> exp;
  return static_cast<std::uint16_t>((negative ? 0x400u : 0u) | static_cast<unsigned>(exp << 6) | mant);
}

// G.726, 4.2.6, FMULT: a predictor coefficient (16-bit two's complement,
// scaled by 2^14) times a value in floating format, giving a 16-bit product.
inline int fmult(std::int16_t an, std::uint16_t fl) {
  const bool an_neg = an < 0;
  const unsigned an_mag = an_neg ? static_cast<unsigned>(-(an >> 2)) & 8191u : static_cast<unsigned>(an >> 2);
  const int an_exp = bit_length(an_mag);
  const unsigned an_mant = an_mag == 0 ? 32u : (an_mag << 6) >> an_exp;

  const int wa_exp = static_cast<int>((fl >> 6) & 15u) + an_exp;
  const unsigned wa_mant = ((fl & 63u) * an_mant + 48u) >> 4;
  const int wa_mag = wa_exp <= 26 ? static_cast<int>((wa_mant << 7) >> (26 - wa_exp))
                                  : static_cast<int>(((wa_mant << 7) << (wa_exp - 26)) & 32767u);
  const bool neg = (((fl >> 10) & 1u) != 0) != an_neg;
  return neg ? -wa_mag : wa_mag;
}

template <int Bits>
struct RateTables;
template <>
struct RateTables<2> {
  static constexpr const std::int16_t* dqln = g726_tables::kDqln2;
  static constexpr const std::int16_t* w = g726_tables::kW2;
  static constexpr const std::int16_t* f = g726_tables::kF2;
};
template <>
struct RateTables<3> {
  static constexpr const std::int16_t* dqln = g726_tables::kDqln3;
  static constexpr const std::int16_t* w = g726_tables::kW3;
  static constexpr const std::int16_t* f = g726_tables::kF3;
};
template <>
struct RateTables<4> {
  static constexpr const std::int16_t* dqln = g726_tables::kDqln4;
  static constexpr const std::int16_t* w = g726_tables::kW4;
  static constexpr const std::int16_t* f = g726_tables::kF4;
};
template <>
struct RateTables<5> {
  static constexpr const std::int16_t* dqln = g726_tables::kDqln5;
  static constexpr const std::int16_t* w = g726_tables::kW5;
  static constexpr const std::int16_t* f = g726_tables::kF5;
};

// Decodes one code and updates the state; returns the reconstructed signal
// sr (G.726, 4.2.6, ADDB) before any wrap to 16 bits.
template <int Bits>
int decode_code(G726State& s, unsigned code) {
  using T = RateTables<Bits>;

  // Signal estimate (G.726, 4.2.6, FMULT and ACCUM). The Recommendation
  // sums in 16 bits, so the sums wrap like its registers would.
  int sezi = 0;
  for (int i = 0; i < 6; ++i) sezi += fmult(s.b[i], s.dq[i]);
  sezi = static_cast<std::int16_t>(sezi);
  const int sei = static_cast<std::int16_t>(sezi + fmult(s.a[1], s.sr[1]) + fmult(s.a[0], s.sr[0]));
  const int sez = sezi >> 1;
  const int se = sei >> 1;

  // Scale factor (G.726, 4.2.4, LIMA and MIX): y moves between the slow and
  // the fast factor with the speed control; the product is truncated
  // toward zero as the Recommendation's sign-magnitude multiply does.
  const int al = s.ap >= 256 ? 64 : s.ap >> 2;
  const int yl6 = s.yl >> 6;
  const int dif = s.yu - yl6;
  const int prod = dif >= 0 ? (dif * al) >> 6 : -((-dif * al) >> 6);
  const int y = yl6 + prod;

  // Inverse adaptive quantiser (G.726, 4.2.3, RECONST, ADDA, ANTILOG). A
  // negative log magnitude means a zero difference. y stays below 5121, so
  // dql stays below 1920 and the exponent below 15.
  const bool dq_neg = (code >> (Bits - 1)) != 0;
  const int dql = T::dqln[code] + (y >> 2);
  int dq_mag = 0;
  if (dql >= 0) {
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    dq_mag = (dqt << dex) >> 7;
  }
  const int dq = dq_neg ? -dq_mag : dq_mag;

  // Reconstructed signal (ADDB) and partial reconstruction (ADDC), in the
  // Recommendation's 16-bit registers.
  const int sr = se + dq;
  const std::int16_t sr16 = static_cast<std::int16_t>(sr);
  const int dqsez = static_cast<std::int16_t>(dq + sez);
  const int pk0 = dqsez < 0 ? 1 : 0;
  const bool sigpk = dqsez == 0;

  // Transition detector (G.726, 4.2.7, TRANS), with the old yl and td.
  const int ylint = s.yl >> 15;
  const int ylfrac = (s.yl >> 10) & 31;
  const int thr1 = (32 + ylfrac) << ylint;
  const int thr2 = ylint > 9 ? 31 << 10 : thr1;
  const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
  const bool tr = s.td != 0 && dq_mag > dqthr;

  // Scale factor adaptation (G.726, 4.2.4, FUNCTW, FILTD, LIMB, FILTE).
  const int yut = y + ((T::w[code] * 32 - y) >> 5);
  s.yu = static_cast<std::int16_t>(std::clamp(yut, 544, 5120));
  s.yl = s.yl + s.yu + ((-s.yl) >> 6);

  // Predictor coefficients (G.726, 4.2.6, UPA2, LIMC, UPA1, LIMD, UPB,
  // TRIGB): a transition resets them all.
  int a2p = 0;
  if (tr) {
    s.a[0] = s.a[1] = 0;
    for (auto& bi : s.b) bi = 0;
  } else {
    const bool pks1 = pk0 != s.pk[0];
    const bool pks2 = pk0 != s.pk[1];
    a2p = s.a[1] - (s.a[1] >> 7);
    int a1p = s.a[0] - (s.a[0] >> 8);
    if (!sigpk) {
      // -f(a1) sgn(p0) sgn(p1): 4 a1 within +-1/2, else 2 sgn(a1); the
      // Recommendation's truncation makes the positive limit 255.
      const int fa1 = pks1 ? s.a[0] : -s.a[0];
      a2p += fa1 < -8191 ? -256 : fa1 > 8191 ? 255 : fa1 >> 5;
      a2p += pks2 ? -128 : 128;
      a1p += pks1 ? -192 : 192;
    }
    a2p = std::clamp(a2p, -12288, 12288);
    const int a1ul = 15360 - a2p;
    a1p = std::clamp(a1p, -a1ul, a1ul);
    s.a[0] = static_cast<std::int16_t>(a1p);
    s.a[1] = static_cast<std::int16_t>(a2p);

    // The zero predictor leaks faster at 40 kbit/s.
    constexpr int leak = Bits == 5 ? 9 : 8;
    for (int i = 0; i < 6; ++i) {
      int bi = s.b[i] - (s.b[i] >> leak);
      if (dq_mag != 0) bi += (dq_neg != ((s.dq[i] & 0x400u) != 0)) ? -128 : 128;
      s.b[i] = static_cast<std::int16_t>(bi);
    }
  }

  // Delay lines (G.726, 4.2.6, FLOATA, FLOATB and the DELAY blocks).
  for (int i = 5; i > 0; --i) s.dq[i] = s.dq[i - 1];
  s.dq[0] = to_float(dq_neg, static_cast<unsigned>(dq_mag));
  s.sr[1] = s.sr[0];
  s.sr[0] = sr16 < 0 ? to_float(true, static_cast<unsigned>(-static_cast<int>(sr16)) & 32767u)
                     : to_float(false, static_cast<unsigned>(sr16));
  s.pk[1] = s.pk[0];
  s.pk[0] = static_cast<std::int16_t>(pk0);

  // Tone detector (G.726, 4.2.7, TONE, TRIGB).
  const bool tdp = a2p < -11776;
  s.td = (!tr && tdp) ? 1 : 0;

  // Adaptation speed control (G.726, 4.2.5, FILTA, FILTB, SUBTC, FILTC,
  // TRIGA).
  const int fi = T::f[code];
  s.dms = static_cast<std::int16_t>(s.dms + ((fi * 512 - s.dms) >> 5));
  s.dml = static_cast<std::int16_t>(s.dml + ((fi * 2048 - s.dml) >> 7));
  if (tr) {
    s.ap = 256;
  } else {
    const int difm = std::abs(s.dms * 4 - s.dml);
    const bool ax = y < 1536 || tdp || difm >= (s.dml >> 3);
    s.ap = static_cast<std::int16_t>(s.ap + (((ax ? 512 : 0) - s.ap) >> 4));
  }
  return sr;
}

// Low-pass after the decoder (ours, not G.726): a second-order section with
// a double zero at 4 kHz that takes the edge off the ADPCM's quantisation
// noise. Gain 0.877 at 0 Hz, 0.49 at 3 kHz. Its peak gain on a worst-case
// input is about 1.33, so 2y can leave 16 bits: saturate rather than wrap.
inline std::int16_t post_filter(G726State& s, int v) {
  const int x = v >> 1;
  const int y = (1832 * x + 3665 * s.pf_x[0] + 1832 * s.pf_x[1] - 3142 * s.pf_y[0] - 1115 * s.pf_y[1] + 2048) >> 12;
  s.pf_x[1] = s.pf_x[0];
  s.pf_x[0] = static_cast<std::int16_t>(x);
  s.pf_y[1] = s.pf_y[0];
  s.pf_y[0] = saturate16(y);
  return saturate16(2 * y);
}

template <int Bits, bool Filter>
int decode_run(G726State& s, const std::uint8_t* in, int in_len, std::int16_t* out) {
  std::uint32_t acc = s.bit_acc;
  int count = s.bit_count;
  // Bits kept from a call with larger codes can hold a whole code of this
  // size; decoding them would write more samples than in_len bytes give
  // room for. They belong to no code of this size: drop them.
  if (count >= Bits) {
    acc = 0;
    count = 0;
  }
  int pos = 0;
  int n = 0;
  for (;;) {
    if (count < Bits) {
      if (pos == in_len) break;
      acc = (acc << 8) | in[pos++];
      count += 8;
    }
    // Most significant bits first: the oldest code sits highest.
    count -= Bits;
    const unsigned code = (acc >> count) & ((1u << Bits) - 1u);
    // Linear output is 4 x sr (sr has 14 bits of range); a reconstruction
    // past that range saturates instead of wrapping into the other sign.
    const std::int16_t linear = saturate16(4 * decode_code<Bits>(s, code));
    out[n++] = Filter ? post_filter(s, linear) : linear;
  }
  s.bit_acc = acc & ((1u << count) - 1u);
  s.bit_count = count;
  return n;
}

template <bool Filter>
int decode_any(G726State* state, int bits, const std::uint8_t* in, int in_len, std::int16_t* out) {
  if (state == nullptr || in == nullptr || out == nullptr || in_len <= 0) return 0;
  switch (bits) {
    case 2:
      return decode_run<2, Filter>(*state, in, in_len, out);
    case 3:
      return decode_run<3, Filter>(*state, in, in_len, out);
    case 4:
      return decode_run<4, Filter>(*state, in, in_len, out);
    case 5:
      return decode_run<5, Filter>(*state, in, in_len, out);
    default:
      return 0;
  }
}

}  // namespace

G726State* G726_decoder_create() {
  auto* s = new (std::nothrow) G726State{};
  if (s == nullptr) return nullptr;
  // Reset values of G.726, 4.2 (the rest is zero).
  s->yl = 34816;
  s->yu = 544;
  for (auto& v : s->dq) v = 32;
  for (auto& v : s->sr) v = 32;
  return s;
}

int G726_dec(G726State* state, int bits, const std::uint8_t* in, int in_len, std::int16_t* out) {
  return decode_any<true>(state, bits, in, in_len, out);
}

int G726_dec_unfiltered(G726State* state, int bits, const std::uint8_t* in, int in_len, std::int16_t* out) {
  return decode_any<false>(state, bits, in, in_len, out);
}

int G726_decoder_destroy(G726State* state) {
  if (state == nullptr) return -1;
  delete state;
  return 0;
}

}  // namespace media
