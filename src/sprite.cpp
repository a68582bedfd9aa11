#include "sprite.h"

#include <cstddef>

namespace {

bool is_empty(std::size_t w, std::size_t h)
{
    return w == 0 || h == 0;
}

// Element by element on purpose: within one sprite an overlapping copy must see
// the pixels it has already written, exactly as the documented order says.
void copy_row(pixel16* to, const pixel16* from, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = from[i];
}

// 8-bit channels of an RGB565 pixel, low bits zero.
constexpr unsigned red8(pixel16 p) { return (p & 0xF800u) >> 8; }
constexpr unsigned green8(pixel16 p) { return (p & 0x07E0u) >> 3; }
constexpr unsigned blue8(pixel16 p) { return (p & 0x001Fu) << 3; }

// At most 255 * 255 / 255: the result always fits 8 bits.
constexpr std::uint8_t mix(unsigned s, unsigned d, unsigned weight)
{
    return static_cast<std::uint8_t>(((255 - weight) * s + weight * d) / 255);
}

pixel16 blend(pixel16 s, pixel16 d, unsigned weight)
{
    return rgb24_to_16(mix(red8(s), red8(d), weight), mix(green8(s), green8(d), weight),
                       mix(blue8(s), blue8(d), weight));
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
    for (std::size_t j = 0; j < area->h; ++j) {
        const pixel16* from = src->pixels + (area->y + j) * src->w + area->x;
        pixel16* to = dst->pixels + (y + j) * dst->w + x;
        copy_row(to, from, area->w);
    }
    return 0;
}

int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight)
{
    if (is_empty(src->w, src->h))
        return 0;
    // The caller guarantees 0 <= x and 0 <= y, so the casts only widen.
    const auto x0 = static_cast<std::size_t>(x);
    const auto y0 = static_cast<std::size_t>(y);
    for (std::size_t j = 0; j < src->h; ++j) {
        const pixel16* from = src->pixels + j * src->w;
        pixel16* to = dst->pixels + (y0 + j) * dst->w + x0;
        for (std::size_t i = 0; i < src->w; ++i)
            to[i] = blend(from[i], to[i], weight);
    }
    return 0;
}
