#include <velmora/draw.h>

#include <cstddef>

#include "kernels/kernels.h"

int area_fill_16(sprite_t* dst, pixel16 value, const area_t* area)
{
    if (area->w == 0 || area->h == 0)
        return 0;
    const std::size_t stride = dst->w;
    pixel16* first = dst->pixels + area->y * stride + area->x;
    // Rows as wide as the sprite follow each other in memory: fill them as one.
    if (area->w == stride)
        fill_rows(best_simd_level(), first, stride * area->h, 1, 0, value);
    else
        fill_rows(best_simd_level(), first, area->w, area->h, stride, value);
    return 0;
}
