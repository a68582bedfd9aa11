// 16-bit drawing: the RGB565 pixel, the sprite and area records, packing and fill.
//
// A sprite never owns its pixels and no operation here allocates or clips:
// callers keep every rectangle inside the sprite it refers to.
#pragma once

#include <cstdint>

// One pixel, RGB565: red in bits 15-11, green in 10-5, blue in 4-0.
using pixel16 = std::uint16_t;

// A 16-bit picture. `w` is also the row stride; pixel (x, y) is pixels[y * w + x].
// bpp is 16 for a picture and 0 for the empty sprite of a refused decode.
struct sprite_t {
    std::uint16_t w, h, bpp;
    pixel16* pixels;
};

// A rectangle in the coordinates of the sprite it refers to.
struct area_t {
    std::uint16_t x, y, w, h;
};

// pixel = (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3   (truncates, never rounds)
constexpr pixel16 rgb24_to_16(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<pixel16>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}

// dst(area) = value
int area_fill_16(sprite_t* dst, pixel16 value, const area_t* area);
