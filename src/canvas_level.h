// The canvas operations at a chosen kernel level, for the tests that hold each
// level to the plain model. Internal: not installed.
#pragma once

#include <cstdint>

#include <velmora/canvas.h>

#include "kernels/kernels.h"

int canvas_fill_at(simd_level level, canvas_t* canvas, const rect_t* r, pixel16 value,
                   std::uint8_t opacity, rect_t* drawn);
int canvas_draw_at(simd_level level, canvas_t* canvas, const draw_t* d, std::int32_t x,
                   std::int32_t y, rect_t* drawn);
int canvas_stretch_at(simd_level level, canvas_t* canvas, const draw_t* d, const rect_t* to,
                      rect_t* drawn);
int canvas_transform_at(simd_level level, canvas_t* canvas, const draw_t* d, const transform_t* m,
                        rect_t* drawn);
