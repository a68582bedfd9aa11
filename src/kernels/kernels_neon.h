// What the aarch64 kernel files share: the fill that runs of pixels use and
// the packing of 8-bit channels into the bytes of sixteen 565 pixels. Internal;
// see kernels_neon.cpp for how the level is built.
#pragma once

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>

namespace neon {

// ---------------------------------------------------------------- fill

inline void store_16(pixel16* to, uint16x8_t v)
{
    vst1q_u16(to, v);
    vst1q_u16(to + 8, v);
}

inline void store_32(pixel16* to, uint16x8_t v)
{
    store_16(to, v);
    store_16(to + 16, v);
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

// to[i] = value. Up to 64 pixels in stores from both ends, longer runs 32 a
// turn (the stores pair up, two vectors an instruction) and one last group
// that may overlap.
inline void fill_span_neon(pixel16* to, std::size_t n, pixel16 value)
{
    const uint16x8_t v = vdupq_n_u16(value);
    if (n <= 16) {
        fill_short_neon(to, n, v);
        return;
    }
    if (n <= 32) {
        store_16(to, v);
        store_16(to + n - 16, v);
        return;
    }
    if (n <= 64) {
        store_32(to, v);
        store_32(to + n - 32, v);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        store_32(to + i, v);
    if (i < n)
        store_32(to + n - 32, v);
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
