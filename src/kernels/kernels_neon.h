// What the NEON kernel files share: the fill that runs of pixels use and
// the packing of 8-bit channels into the bytes of sixteen 565 pixels. Internal;
// see kernels_neon.cpp for how the level is built.
//
// On 32-bit ARM everything after this header is compiled for NEON, which the
// baseline lacks: it must be the last header a NEON file includes, so that no
// inline function it shares with the portable files (whose one copy the linker
// keeps) is compiled with NEON instructions. Only the NEON level, chosen where
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
// names, built from ARMv7 NEON instructions.

// Across all lanes, by pairwise steps.
inline std::uint8_t vmaxv_u8(uint8x8_t v)
{
    v = vpmax_u8(v, v);
    v = vpmax_u8(v, v);
    return vget_lane_u8(vpmax_u8(v, v), 0);
}

inline std::uint8_t vmaxvq_u8(uint8x16_t v)
{
    return vmaxv_u8(vmax_u8(vget_low_u8(v), vget_high_u8(v)));
}

inline std::uint8_t vminvq_u8(uint8x16_t v)
{
    uint8x8_t m = vmin_u8(vget_low_u8(v), vget_high_u8(v));
    m = vpmin_u8(m, m);
    m = vpmin_u8(m, m);
    return vget_lane_u8(vpmin_u8(m, m), 0);
}

inline std::uint16_t vminvq_u16(uint16x8_t v)
{
    uint16x4_t m = vmin_u16(vget_low_u16(v), vget_high_u16(v));
    m = vpmin_u16(m, m);
    return vget_lane_u16(vpmin_u16(m, m), 0);
}

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

// Loads and stores of several registers.
inline uint16x8x2_t vld1q_u16_x2(const std::uint16_t* p)
{
    return {{vld1q_u16(p), vld1q_u16(p + 8)}};
}

inline void vst1q_u16_x2(std::uint16_t* p, uint16x8x2_t v)
{
    vst1q_u16(p, v.val[0]);
    vst1q_u16(p + 8, v.val[1]);
}

inline uint8x16x4_t vld1q_u8_x4(const std::uint8_t* p)
{
    return {{vld1q_u8(p), vld1q_u8(p + 16), vld1q_u8(p + 32), vld1q_u8(p + 48)}};
}

// Table lookups in 64 bytes: vtbl and vtbx reach 32, so the upper 32 bytes
// are looked up with the index less 32, which wraps past the table for the
// lower ones and leaves their lanes alone. Indices past 63 find nothing in
// either half: 0 from tbl, the lane kept by tbx, as on aarch64.
inline uint8x8x4_t lower_32(const uint8x16x4_t& t)
{
    return {{vget_low_u8(t.val[0]), vget_high_u8(t.val[0]), vget_low_u8(t.val[1]),
             vget_high_u8(t.val[1])}};
}

inline uint8x8x4_t upper_32(const uint8x16x4_t& t)
{
    return {{vget_low_u8(t.val[2]), vget_high_u8(t.val[2]), vget_low_u8(t.val[3]),
             vget_high_u8(t.val[3])}};
}

inline uint8x8_t vqtbx4_u8(uint8x8_t out, uint8x16x4_t t, uint8x8_t index)
{
    out = vtbx4_u8(out, lower_32(t), index);
    return vtbx4_u8(out, upper_32(t), vsub_u8(index, vdup_n_u8(32)));
}

inline uint8x8_t vqtbl4_u8(uint8x16x4_t t, uint8x8_t index)
{
    return vqtbx4_u8(vdup_n_u8(0), t, index);
}

inline uint8x16_t vqtbx4q_u8(uint8x16_t out, uint8x16x4_t t, uint8x16_t index)
{
    return vcombine_u8(vqtbx4_u8(vget_low_u8(out), t, vget_low_u8(index)),
                       vqtbx4_u8(vget_high_u8(out), t, vget_high_u8(index)));
}

inline uint8x16_t vqtbl4q_u8(uint8x16x4_t t, uint8x16_t index)
{
    return vqtbx4q_u8(vdupq_n_u8(0), t, index);
}
#endif

namespace neon {

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
