// The plain loops: the library's kernels as first written, one pixel at a time,
// straight from their definitions. They are the yardstick the fast kernels in
// src/kernels/ are tested against (tests/kernel_test.cpp) and timed against (bench/).
// Same interfaces and behaviour as the library's functions, in namespace plain;
// they need only the library's headers, not its code.
#pragma once

#include <cstdint>

#include <velmora/canvas.h>
#include <velmora/draw.h>
#include <velmora/tga.h>

namespace plain {

// dst(area) = value
int area_fill_16(sprite_t* dst, pixel16 value, const area_t* area);

// dst(x + i, y + j) = src(i, j)
int sprite_blit_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y);

// dst(x + i, y + j) = src(area.x + i, area.y + j), element by element, rows top to
// bottom, pixels left to right: an overlapping copy within one sprite reads back
// what it has already written.
int sprite_area_blit_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                        std::uint16_t x, std::uint16_t y);

// out[2k], out[2k + 1] = the high and low byte of the area's k-th pixel, row after row
int sprite_area_copy_be_16(std::uint8_t* out, const sprite_t* src, const area_t* area);

// per channel, on 8-bit expansions: D = ((255 - weight) * S + weight * D) / 255
int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight);

// dst(x + i, y + j) = src(i, j) wherever src(i, j) != key
int sprite_blit_key_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y,
                       pixel16 key);
int sprite_area_blit_key_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                            std::uint16_t x, std::uint16_t y, pixel16 key);

// per channel, on 8-bit expansions: D = (a * S + (255 - a) * D) / 255, a = alpha[row * src->w + col],
// row and col of the source pixel S
int sprite_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                      std::uint16_t x, std::uint16_t y);
int sprite_area_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                           const area_t* area, std::uint16_t x, std::uint16_t y);

// The decoder, with the library's checks, refusals and messages.
void tga24_to_sprite16(const tga_info_t* info, sprite_t* sprite);

// The decoder of every variant, one pixel at a time straight from the rules in
// tga.h, reading the colour map entry for each pixel afresh.
tga_check_t tga_check(const tga_info_t* info);
tga_check_t tga_to_sprite16(const tga_info_t* info, sprite_t* sprite, std::uint8_t* alpha);

// The canvas (canvas.h), in plain_canvas.cpp: every pixel of the clip visited,
// mapped by its operation's rule in 64-bit integers and landed by the six steps
// of canvas.h one at a time; the smooth filter from its four taps, field by field.
canvas_t canvas_of(sprite_t* sprite);
void canvas_set_clip(canvas_t* canvas, const rect_t* clip);
int canvas_fill(canvas_t* canvas, const rect_t* r, pixel16 value, std::uint8_t opacity,
                rect_t* drawn);
int canvas_draw(canvas_t* canvas, const draw_t* d, std::int32_t x, std::int32_t y, rect_t* drawn);
int canvas_stretch(canvas_t* canvas, const draw_t* d, const rect_t* to, rect_t* drawn);
int canvas_transform(canvas_t* canvas, const draw_t* d, const transform_t* m, rect_t* drawn);

} // namespace plain
