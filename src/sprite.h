// Copies and blends of whole sprites and of areas between 16-bit sprites.
//
// Nothing is clipped: the caller keeps the destination rectangle inside `dst`
// and, for an area copy, the area inside `src`. Only dst's pixels are written.
#pragma once

#include <cstdint>

#include "draw.h"

// dst(x + i, y + j) = src(i, j)
int sprite_blit_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y);

// dst(x + i, y + j) = src(area.x + i, area.y + j), in rows top to bottom and pixels
// left to right, one at a time: when src and dst are one sprite and the rectangles
// overlap, pixels already written are read again (this is not memmove).
int sprite_area_blit_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                        std::uint16_t x, std::uint16_t y);

// per channel, on 8-bit expansions: D = ((255 - weight) * S + weight * D) / 255
// weight is the share of the destination that survives: 0 copies, 255 leaves dst alone.
int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight);
