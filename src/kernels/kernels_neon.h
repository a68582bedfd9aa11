// What the NEON kernel files share: the fill that runs of pixels use and
// the packing of 8-bit channels into the bytes of sixteen 565 pixels. Internal;
// see kernels_neon.cpp for how the level is built.
//
// On 32-bit ARM everything after this header is compiled for NEON, which the
// baseline lacks: it must be the last header a NEON file includes (but for
// kernels_index_walk.h, all templates of a level), so that no inline function
// it shares with the portable files (whose one copy the linker keeps) is
// compiled with NEON instructions. Only the NEON level, chosen where
// the processor has NEON, calls what is defined below it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>

#if defined(__arm__) && !defined(__ARM_NEON)
#pragma GCC target("fpu=neon")
#endif

#include <arm_neon.h>

#if !defined(__aarch64__)
// The aarch64 intrinsics the kernels use that 32-bit ARM lacks, under the same
// names, built from ARMv7 NEON instructions. Three kinds have helpers below
// instead, which both builds use: tests across a register (all_zero, all_ones),
// loads and stores of two registers (load_pixels16, store_pixels16, the fill's
// stores) and lookups in 64 bytes (table64), each cheaper on ARMv7 in a form
// of its own.

// The upper halves' widening forms.
inline uint16x8_t vmull_high_u8(uint8x16_t a, uint8x16_t b)
{
    return vmull_u8(vget_high_u8(a), vget_high_u8(b));
}

inline uint16x8_t vmlal_high_u8(uint16x8_t sum, uint8x16_t a, uint8x16_t b)
{
    return vmlal_u8(sum, vget_high_u8(a), vget_high_u8(b));
}

inline uint8x16_t vaddhn_high_u16(uint8x8_t low, uint16x8_t a, uint16x8_t b)
{
    return vcombine_u8(low, vaddhn_u16(a, b));
}

inline uint8x16_t vuzp2q_u8(uint8x16_t a, uint8x16_t b) { return vuzpq_u8(a, b).val[1]; }

inline uint8x16_t vcltzq_s8(int8x16_t v) { return vcltq_s8(v, vdupq_n_s8(0)); }

#endif

namespace neon {

// ---------------------------------------------------------------- tests across a register

// Whether every lane is zero, or has every bit set: on aarch64 one reduction
// across the register; on 32-bit ARM, whose pairwise steps take three, the two
// halves are combined, then the two words, and one word is tested.
#if defined(__aarch64__)
inline bool all_zero(uint8x16_t v) { return vmaxvq_u8(v) == 0; }

inline bool all_ones(uint8x16_t v) { return vminvq_u8(v) == 0xFF; }

inline bool all_ones(uint16x8_t v) { return vminvq_u16(v) == 0xFFFF; }

inline bool all_zero(uint8x8_t v) { return vmaxv_u8(v) == 0; }
#else
// The larger or the smaller of a register's two 32-bit words.
inline std::uint32_t max_word(uint8x8_t v)
{
    const uint32x2_t w = vreinterpret_u32_u8(v);
    return vget_lane_u32(vpmax_u32(w, w), 0);
}

inline std::uint32_t min_word(uint8x8_t v)
{
    const uint32x2_t w = vreinterpret_u32_u8(v);
    return vget_lane_u32(vpmin_u32(w, w), 0);
}

inline bool all_zero(uint8x8_t v) { return max_word(v) == 0; }

inline bool all_zero(uint8x16_t v) { return all_zero(vorr_u8(vget_low_u8(v), vget_high_u8(v))); }

inline bool all_ones(uint8x16_t v)
{
    return min_word(vand_u8(vget_low_u8(v), vget_high_u8(v))) == 0xFFFFFFFF;
}

inline bool all_ones(uint16x8_t v) { return all_ones(vreinterpretq_u8_u16(v)); }
#endif

// ---------------------------------------------------------------- sixteen pixels

// Sixteen pixels in two registers, loaded and stored by one instruction: ldp
// and stp on aarch64; on 32-bit ARM, where GCC 12's vld1 fills one register,
// vld2 and vst2. vld2 deals the pixels out to the two registers alternately:
// work lane by lane with both sides loaded alike is the same, and vst2 puts
// the pixels back in order.
inline uint16x8x2_t load_pixels16(const pixel16* p)
{
#if defined(__aarch64__)
    return {{vld1q_u16(p), vld1q_u16(p + 8)}};
#else
    return vld2q_u16(p);
#endif
}

inline void store_pixels16(pixel16* p, uint16x8x2_t v)
{
#if defined(__aarch64__)
    vst1q_u16(p, v.val[0]);
    vst1q_u16(p + 8, v.val[1]);
#else
    vst2q_u16(p, v);
#endif
}

// Sixty-four bytes in four registers: one ld1 or st1 on aarch64; GCC 12 has
// no four-register vld1 on 32-bit ARM.
inline uint8x16x4_t load_bytes64(const std::uint8_t* p)
{
#if defined(__aarch64__)
    return vld1q_u8_x4(p);
#else
    return {{vld1q_u8(p), vld1q_u8(p + 16), vld1q_u8(p + 32), vld1q_u8(p + 48)}};
#endif
}

inline void store_bytes64(std::uint8_t* p, uint8x16x4_t v)
{
#if defined(__aarch64__)
    vst1q_u8_x4(p, v);
#else
    vst1q_u8(p, v.val[0]);
    vst1q_u8(p + 16, v.val[1]);
    vst1q_u8(p + 32, v.val[2]);
    vst1q_u8(p + 48, v.val[3]);
#endif
}

// ---------------------------------------------------------------- lookups in 64 bytes

// lookup64(t, index): t's byte at each index, 0 past 63; lookup64_or_keep keeps
// `out`'s lane there instead.
#if defined(__aarch64__)
using table64 = uint8x16x4_t;

inline table64 load_table64(const std::uint8_t* p) { return vld1q_u8_x4(p); }

inline uint8x16_t lookup64(const table64& t, uint8x16_t index) { return vqtbl4q_u8(t, index); }

inline uint8x8_t lookup64(const table64& t, uint8x8_t index) { return vqtbl4_u8(t, index); }

inline uint8x16_t lookup64_or_keep(uint8x16_t out, const table64& t, uint8x16_t index)
{
    return vqtbx4q_u8(out, t, index);
}
#else
// vtbl and vtbx reach 32 bytes in four d registers, which only vld4 fills
// without a trip through memory. vld4 deals bytes out, byte 4i + k to lane i
// of register k, so table entry j lies at 8 (j mod 4) + (j mod 32) / 4 of its
// half; dealt() moves each index there. Bits 5-7 stay: indices of the upper
// half are 32 more, and indices past 63 fall outside both halves.
struct table64 {
    uint8x8x4_t lower, upper;
};

inline table64 load_table64(const std::uint8_t* p) { return {vld4_u8(p), vld4_u8(p + 32)}; }

inline uint8x8_t dealt(uint8x8_t j)
{
    return vbsl_u8(vdup_n_u8(0xE0), j, vsli_n_u8(vshr_n_u8(j, 2), j, 3));
}

// The upper half with the index less 32, which wraps past its 32 bytes for
// the lower half's indices and leaves those lanes alone.
inline uint8x8_t lookup64_or_keep(uint8x8_t out, const table64& t, uint8x8_t index)
{
    const uint8x8_t at = dealt(index);
    out = vtbx4_u8(out, t.lower, at);
    return vtbx4_u8(out, t.upper, vsub_u8(at, vdup_n_u8(32)));
}

// vtbl gives 0 past the lower half, where vtbx would need a register of zeros.
inline uint8x8_t lookup64(const table64& t, uint8x8_t index)
{
    const uint8x8_t at = dealt(index);
    return vtbx4_u8(vtbl4_u8(t.lower, at), t.upper, vsub_u8(at, vdup_n_u8(32)));
}

// Sixteen indices are dealt at once, in three instructions rather than six;
// two lookups of the same indices (the planes of one map) share them.
inline uint8x16_t dealt(uint8x16_t j)
{
    return vbslq_u8(vdupq_n_u8(0xE0), j, vsliq_n_u8(vshrq_n_u8(j, 2), j, 3));
}

inline uint8x16_t lookup64_or_keep(uint8x16_t out, const table64& t, uint8x16_t index)
{
    const uint8x16_t at = dealt(index);
    const uint8x16_t upper = vsubq_u8(at, vdupq_n_u8(32));
    const uint8x8_t low = vtbx4_u8(vget_low_u8(out), t.lower, vget_low_u8(at));
    const uint8x8_t high = vtbx4_u8(vget_high_u8(out), t.lower, vget_high_u8(at));
    return vcombine_u8(vtbx4_u8(low, t.upper, vget_low_u8(upper)),
                       vtbx4_u8(high, t.upper, vget_high_u8(upper)));
}

inline uint8x16_t lookup64(const table64& t, uint8x16_t index)
{
    const uint8x16_t at = dealt(index);
    const uint8x16_t upper = vsubq_u8(at, vdupq_n_u8(32));
    const uint8x8_t low = vtbl4_u8(t.lower, vget_low_u8(at));
    const uint8x8_t high = vtbl4_u8(t.lower, vget_high_u8(at));
    return vcombine_u8(vtbx4_u8(low, t.upper, vget_low_u8(upper)),
                       vtbx4_u8(high, t.upper, vget_high_u8(upper)));
}
#endif

// ---------------------------------------------------------------- fill

// Sixteen pixels; on 32-bit ARM, where no vst1 of GCC 12 stores two registers,
// as the pair of one vst2, whose interleaving changes nothing with the same
// value in both: 32 bytes an instruction, as stp gives on aarch64.
#if defined(__aarch64__)
using fill_vector = uint16x8_t;

inline fill_vector fill_vector_of(uint16x8_t v) { return v; }

inline void store_16(pixel16* to, fill_vector v)
{
    vst1q_u16(to, v); // the two pair up into one stp
    vst1q_u16(to + 8, v);
}
#else
using fill_vector = uint16x8x2_t;

inline fill_vector fill_vector_of(uint16x8_t v) { return {{v, v}}; }

inline void store_16(pixel16* to, const fill_vector& v) { vst2q_u16(to, v); }
#endif

inline void store_32(pixel16* to, const fill_vector& v)
{
    store_16(to, v);
    store_16(to + 16, v);
}

inline void store_64(pixel16* to, const fill_vector& v)
{
    store_32(to, v);
    store_32(to + 32, v);
}

// Runs longer than 64 pixels: 64 a turn, and last the group that ends the
// run, which may overlap the one before.
inline void fill_long_neon(pixel16* to, std::size_t n, const fill_vector& v)
{
    pixel16* const last = to + n - 64;
    for (; to < last; to += 64)
        store_64(to, v);
    store_64(last, v);
}

// Short runs, which run-length data is full of, take two stores that may
// overlap, from both ends, and no loop.
inline void fill_short_neon(pixel16* to, std::size_t n, uint16x8_t v)
{
    if (n >= 8) {
        vst1q_u16(to, v);
        vst1q_u16(to + n - 8, v);
    } else if (n >= 4) {
        vst1_u16(to, vget_low_u16(v));
        vst1_u16(to + n - 4, vget_low_u16(v));
    } else if (n > 0) {
        // 0, n / 2 and n - 1 cover every pixel of one, two or three.
        const pixel16 p = vgetq_lane_u16(v, 0);
        to[0] = p;
        to[n / 2] = p;
        to[n - 1] = p;
    }
}

// to[i] = value. Up to 64 pixels in stores from both ends, longer runs by
// fill_long_neon.
inline void fill_span_neon(pixel16* to, std::size_t n, pixel16 value)
{
    const uint16x8_t v = vdupq_n_u16(value);
    if (n <= 16) {
        fill_short_neon(to, n, v);
        return;
    }
    const fill_vector group = fill_vector_of(v);
    if (n <= 32) {
        store_16(to, group);
        store_16(to + n - 16, group);
        return;
    }
    if (n <= 64) {
        store_32(to, group);
        store_32(to + n - 32, group);
        return;
    }
    fill_long_neon(to, n, group);
}

// ---------------------------------------------------------------- 565 from 8-bit channels

inline std::uint8_t* bytes_of(pixel16* p)
{
    return reinterpret_cast<std::uint8_t*>(p);
}

// Sixteen pixels from 8-bit channels, as the low and high bytes that st2 puts
// together: high = red's top five bits, then green's top three; low = green's
// next three bits, then blue's top five.
inline uint8x16x2_t pack_565(uint8x16_t red, uint8x16_t green, uint8x16_t blue)
{
    uint8x16x2_t out;
    out.val[0] = vsriq_n_u8(vshlq_n_u8(green, 3), blue, 3);
    out.val[1] = vsriq_n_u8(red, green, 5);
    return out;
}

} // namespace neon
