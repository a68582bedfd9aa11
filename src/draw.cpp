#include "draw.h"

#include <cstddef>

int area_fill_16(sprite_t* dst, pixel16 value, const area_t* area)
{
    const std::size_t stride = dst->w;
    for (std::size_t y = area->y; y < std::size_t{area->y} + area->h; ++y) {
        pixel16* row = dst->pixels + y * stride + area->x;
        for (std::size_t x = 0; x < area->w; ++x)
            row[x] = value;
    }
    return 0;
}
