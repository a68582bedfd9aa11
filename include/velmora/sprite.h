// Copies and blends of whole sprites and of areas between 16-bit sprites.
//
// Nothing is clipped: the caller keeps the destination rectangle inside `dst`
// and, for an area copy, the area inside `src`. Only dst's pixels are written.
//
// The transparent blits (colour key, alpha plane) walk like the copies: rows
// top to bottom, pixels left to right, one at a time, so within one sprite an
// overlapping blit reads back pixels it has already written.
#pragma once

#include <cstdint>

#include <velmora/draw.h>

// dst(x + i, y + j) = src(i, j)
int sprite_blit_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y);

// dst(x + i, y + j) = src(area.x + i, area.y + j), in rows top to bottom and pixels
// left to right, one at a time: when src and dst are one sprite and the rectangles
// overlap, pixels already written are read again (this is not memmove).
int sprite_area_blit_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                        std::uint16_t x, std::uint16_t y);

// Writes the area's pixels row after row to `out` (area.w * area.h * 2 bytes), each
// pixel high byte first: the order SPI and 8080-parallel RGB565 panels take.
int sprite_area_copy_be_16(std::uint8_t* out, const sprite_t* src, const area_t* area);

// per channel, on 8-bit expansions: D = ((255 - weight) * S + weight * D) / 255
// weight is the share of the destination that survives: 0 copies, 255 leaves dst alone.
int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight);

// dst(x + i, y + j) = src(i, j) wherever src(i, j) != key
int sprite_blit_key_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y,
                       pixel16 key);

// dst(x + i, y + j) = src(area.x + i, area.y + j) wherever that pixel != key
int sprite_area_blit_key_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                            std::uint16_t x, std::uint16_t y, pixel16 key);

// per channel, on 8-bit expansions: D = (a * S + (255 - a) * D) / 255, a = alpha[j * src->w + i]
// The alpha plane has the source's stride and must not overlap dst's pixels;
// a = 255 copies the pixel exactly, a = 0 leaves the destination as it was.
int sprite_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                      std::uint16_t x, std::uint16_t y);

// as sprite_blit_a8_16 on the area, a = alpha[(area.y + j) * src->w + area.x + i]
int sprite_area_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                           const area_t* area, std::uint16_t x, std::uint16_t y);
