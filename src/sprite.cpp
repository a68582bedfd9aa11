#include <velmora/sprite.h>

#include <cstddef>

#include "kernels/kernels.h"

// The blend on the fields themselves. With s, d a 5-bit field and k = 8 (6-bit
// field: k = 4), the 8-bit expansion is k * s, the 8-bit mix is
// floor(k * ((255 - w) * s + w * d) / 255), and packing keeps that divided by k,
// floor again. floor(floor(a / 255) / k) = floor(a / (255 * k)), so the packed
// field is floor(((255 - w) * s + w * d) / 255): kernels.h's blend_rows. The
// tests check it against the 8-bit formula for every field pair and weight.
//
// The alpha-plane blit is the same blend with the source's share a per pixel:
// a * S + (255 - a) * D is the sum above at weight 255 - a, so the same
// argument makes it floor((a * s + (255 - a) * d) / 255) on the fields, and
// a = 255 gives s, a = 0 gives d, exactly. kernels.h's blit_a8_rows; the tests
// check it against the 8-bit formula for every field pair and alpha.

namespace {

bool is_empty(std::size_t w, std::size_t h)
{
    return w == 0 || h == 0;
}

} // namespace

int sprite_blit_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_16(dst, src, &whole, x, y);
}

int sprite_area_blit_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                        std::uint16_t x, std::uint16_t y)
{
    if (is_empty(area->w, area->h))
        return 0;
    const std::size_t w = area->w;
    const std::size_t h = area->h;
    const std::size_t src_stride = src->w;
    const std::size_t dst_stride = dst->w;
    const pixel16* from = src->pixels + area->y * src_stride + area->x;
    pixel16* to = dst->pixels + y * dst_stride + x;
    // The kernels keep the pixel-by-pixel order, so an overlapping copy within one
    // sprite reads back what it has written, exactly as the loop would.
    if (w == src_stride && w == dst_stride) {
        copy_forward(to, from, w * h); // both packed: the rows are one run
        return 0;
    }
    copy_rows(to, dst_stride, from, src_stride, w, h);
    return 0;
}

int sprite_area_copy_be_16(std::uint8_t* out, const sprite_t* src, const area_t* area)
{
    if (out == nullptr || src == nullptr || area == nullptr)
        return -1;
    // An empty sprite (a refused decode's) may have no pixels: nothing to copy.
    if (is_empty(area->w, area->h))
        return 0;
    if (src->pixels == nullptr)
        return -1;
    const std::size_t stride = src->w;
    copy_be_rows(best_simd_level(), out, src->pixels + area->y * stride + area->x, stride, area->w,
                 area->h);
    return 0;
}

int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight)
{
    if (is_empty(src->w, src->h))
        return 0;
    // Weight 255 gives every destination pixel back unchanged; weight 0 gives the
    // source pixel unchanged, which is the copy, overlap rule included.
    if (weight == 255)
        return 0;
    // The caller guarantees 0 <= x and 0 <= y, so the casts only widen.
    const auto x0 = static_cast<std::size_t>(x);
    const auto y0 = static_cast<std::size_t>(y);
    if (weight == 0)
        return sprite_blit_16(dst, src, static_cast<std::uint16_t>(x0),
                              static_cast<std::uint16_t>(y0));
    blend_rows(best_simd_level(), dst->pixels + y0 * dst->w + x0, dst->w, src->pixels, src->w,
               src->w, src->h, weight);
    return 0;
}

// ---- transparent blits

namespace {

// Where a rectangle of `area` goes in dst at (x, y): its first pixel on each
// side, and whether source and destination rows follow each other without a
// gap (both sprites as wide as the area), so that the rows make one run. In
// that case the pixel-by-pixel order over the run is the order of the rows.
struct blit_rect {
    pixel16* to;
    const pixel16* from;
    std::size_t first; // index of the area's first pixel in src (and its alpha plane)
    std::size_t w, h, to_stride, from_stride;
};

blit_rect place(sprite_t* dst, const sprite_t* src, const area_t* area, std::uint16_t x,
                std::uint16_t y)
{
    const std::size_t src_stride = src->w;
    const std::size_t dst_stride = dst->w;
    const std::size_t first = area->y * src_stride + area->x;
    blit_rect r{dst->pixels + y * dst_stride + x, src->pixels + first, first, area->w, area->h,
                dst_stride, src_stride};
    if (r.w == r.from_stride && r.w == r.to_stride) {
        r.w *= r.h;
        r.h = 1;
    }
    return r;
}

} // namespace

int sprite_blit_key_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y,
                       pixel16 key)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_key_16(dst, src, &whole, x, y, key);
}

int sprite_area_blit_key_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                            std::uint16_t x, std::uint16_t y, pixel16 key)
{
    if (is_empty(area->w, area->h))
        return 0;
    const blit_rect r = place(dst, src, area, x, y);
    blit_key_rows(best_simd_level(), r.to, r.to_stride, r.from, r.from_stride, r.w, r.h, key);
    return 0;
}

int sprite_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                      std::uint16_t x, std::uint16_t y)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_a8_16(dst, src, alpha, &whole, x, y);
}

int sprite_area_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                           const area_t* area, std::uint16_t x, std::uint16_t y)
{
    if (is_empty(area->w, area->h))
        return 0;
    const blit_rect r = place(dst, src, area, x, y);
    blit_a8_rows(best_simd_level(), r.to, r.to_stride, r.from, r.from_stride, alpha + r.first,
                 r.from_stride, r.w, r.h);
    return 0;
}
