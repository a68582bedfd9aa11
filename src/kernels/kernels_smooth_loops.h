// The smooth stretch's rows (kernels.h), shared by every level. Each
// destination row first sums its two source rows over the window's columns
// (the vertical pass), then each destination pixel sums two neighbouring
// column sums (the horizontal pass): the four-tap sum regrouped, so exact.
//
// An opaque job's column sums, 256 * 63 at most, fit 16-bit lanes and its pixel
// sums 32-bit ones, and floor(sum / 65536) is a shift. A blended job carries W
// and C per column in 32 bits (256 * 255 * 63 < 2^22; a pixel's stay below
// 2^30) and lands them through div_smooth_whole.
//
// Like kernels_loops.h, the row loop is a template over a level tag whose
// spans are found by argument-dependent lookup:
//   column_plan(tag, job)                     what the horizontal spans need of the columns
//   vertical_opaque(tag, top, bottom, n, v0, v1, sums)
//   horizontal_opaque(tag, plan, sums, columns, n, to)
//   vertical_blended(tag, top, bottom, alpha_top, alpha_bottom, n, v0, v1, style, sums)
//   horizontal_blended(tag, plan, sums, columns, n, to)
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels.h"

namespace smooth_loops {

// The window, its zero column and the reach of a 32-byte load past it.
constexpr std::size_t window_room = smooth_window + 24;

struct opaque_sums {
    std::int16_t r[window_room], g[window_room], b[window_room];
};

struct blended_sums {
    std::uint32_t w[window_room], r[window_room], g[window_room], b[window_room];
};

inline unsigned red(pixel16 p)
{
    return p >> 11;
}
inline unsigned green(pixel16 p)
{
    return p >> 5 & 0x3F;
}
inline unsigned blue(pixel16 p)
{
    return p & 0x1F;
}

inline void vertical_opaque_portable(const pixel16* top, const pixel16* bottom, std::size_t n,
                                     unsigned v0, unsigned v1, std::int16_t* r, std::int16_t* g,
                                     std::int16_t* b)
{
    for (std::size_t k = 0; k < n; ++k) {
        r[k] = static_cast<std::int16_t>(v0 * red(top[k]) + v1 * red(bottom[k]));
        g[k] = static_cast<std::int16_t>(v0 * green(top[k]) + v1 * green(bottom[k]));
        b[k] = static_cast<std::int16_t>(v0 * blue(top[k]) + v1 * blue(bottom[k]));
    }
}

// Sums of 65536 times each field: (sum >> 16) is the field.
inline pixel16 pack_opaque(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return static_cast<pixel16>((r >> 16) << 11 | (g >> 16) << 5 | b >> 16);
}

inline std::uint32_t pair_sum(const std::int16_t* plane, const smooth_column& c)
{
    return c.weight[0] * static_cast<std::uint32_t>(plane[c.at]) +
           c.weight[1] * static_cast<std::uint32_t>(plane[c.at + 1]);
}

inline void horizontal_opaque_portable(const opaque_sums& s, const smooth_column* columns,
                                       std::size_t n, pixel16* to)
{
    for (std::size_t i = 0; i < n; ++i) {
        const smooth_column& c = columns[i];
        to[i] = pack_opaque(pair_sum(s.r, c), pair_sum(s.g, c), pair_sum(s.b, c));
    }
}

// Steps 4 and 5 of the canvas's rule for one tap: 0 when keyed.
inline unsigned tap_opacity(pixel16 s, unsigned a, const paint_style& style)
{
    if (style.keyed && s == style.key)
        return 0;
    return div255_by_multiply(a * style.opacity + 127);
}

inline void vertical_blended_portable(const pixel16* top, const pixel16* bottom,
                                      const std::uint8_t* alpha_top,
                                      const std::uint8_t* alpha_bottom, std::size_t n, unsigned v0,
                                      unsigned v1, const paint_style& style, std::uint32_t* w,
                                      std::uint32_t* r, std::uint32_t* g, std::uint32_t* b)
{
    for (std::size_t k = 0; k < n; ++k) {
        const pixel16 s0 = top[k];
        const pixel16 s1 = bottom[k];
        const unsigned e0 = v0 * tap_opacity(s0, alpha_top ? alpha_top[k] : 255, style);
        const unsigned e1 = v1 * tap_opacity(s1, alpha_bottom ? alpha_bottom[k] : 255, style);
        w[k] = e0 + e1;
        r[k] = e0 * red(s0) + e1 * red(s1);
        g[k] = e0 * green(s0) + e1 * green(s1);
        b[k] = e0 * blue(s0) + e1 * blue(s1);
    }
}

inline std::uint32_t pair_sum(const std::uint32_t* plane, const smooth_column& c)
{
    return c.weight[0] * plane[c.at] + c.weight[1] * plane[c.at + 1];
}

// floor((C + (16711680 - W) d) / 16711680) for one field.
inline unsigned land_field(std::uint32_t c, std::uint32_t keep, unsigned d)
{
    return div_smooth_whole(c + keep * d);
}

inline void horizontal_blended_portable(const blended_sums& s, const smooth_column* columns,
                                        std::size_t n, pixel16* to)
{
    for (std::size_t i = 0; i < n; ++i) {
        const smooth_column& c = columns[i];
        const std::uint32_t keep = 16711680 - pair_sum(s.w, c);
        const pixel16 d = to[i];
        to[i] = static_cast<pixel16>(land_field(pair_sum(s.r, c), keep, red(d)) << 11 |
                                     land_field(pair_sum(s.g, c), keep, green(d)) << 5 |
                                     land_field(pair_sum(s.b, c), keep, blue(d)));
    }
}

template <typename Level>
void smooth_stretch_with(Level level, const smooth_stretch_job& job, const paint_style& style)
{
    const auto plan = column_plan(level, job);
    const std::size_t n = job.window;
    if (job.opaque) {
        opaque_sums s;
        for (std::size_t k = n; k < window_room; ++k)
            s.r[k] = s.g[k] = s.b[k] = 0;
        for (std::size_t r = 0; r < job.h; ++r) {
            const smooth_row& row = job.rows[r];
            vertical_opaque(level, job.from + row.at[0], job.from + row.at[1], n, row.weight[0],
                            row.weight[1], s);
            horizontal_opaque(level, plan, s, job.columns, job.w, job.to + r * job.to_stride);
        }
        return;
    }
    blended_sums s;
    for (std::size_t k = n; k < window_room; ++k)
        s.w[k] = s.r[k] = s.g[k] = s.b[k] = 0;
    for (std::size_t r = 0; r < job.h; ++r) {
        const smooth_row& row = job.rows[r];
        const std::uint8_t* a0 = job.alpha != nullptr ? job.alpha + row.at[0] : nullptr;
        const std::uint8_t* a1 = job.alpha != nullptr ? job.alpha + row.at[1] : nullptr;
        vertical_blended(level, job.from + row.at[0], job.from + row.at[1], a0, a1, n,
                         row.weight[0], row.weight[1], style, s);
        horizontal_blended(level, plan, s, job.columns, job.w, job.to + r * job.to_stride);
    }
}

} // namespace smooth_loops
