// What the canvas operations share: their checks, the clip, the part of the
// area that lies inside the source, the `drawn` rectangle and where an area
// position lies in the source (the kernels do the landing). Private to the
// library.
//
// All rectangle arithmetic is in 64 bits, on half-open ranges [x0, x1): with
// int32 positions and sizes and 16-bit sprites nothing here can overflow.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <velmora/canvas.h>

namespace canvas_detail {

using i64 = std::int64_t;

// floor(a / b) for b > 0, also for negative a.
inline i64 floor_div(i64 a, i64 b)
{
    const i64 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// ceil(a / b) for b > 0.
inline i64 ceil_div(i64 a, i64 b)
{
    return -floor_div(-a, b);
}

struct span {
    i64 lo, hi; // [lo, hi), empty when hi <= lo
};

inline span meet(span a, span b)
{
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

inline bool is_empty(span s)
{
    return s.hi <= s.lo;
}

struct box {
    span x, y;
};

inline bool is_empty(const box& b)
{
    return is_empty(b.x) || is_empty(b.y);
}

inline bool canvas_usable(const canvas_t* c)
{
    return c != nullptr && c->sprite != nullptr && c->sprite->pixels != nullptr;
}

inline bool source_usable(const draw_t* d)
{
    return d != nullptr && d->src != nullptr &&
           (d->src->pixels != nullptr || d->src->w == 0 || d->src->h == 0);
}

// The clip, intersected with the sprite again: a hand-written clip may lie outside.
inline box clip_box(const canvas_t* c)
{
    const area_t& k = c->clip;
    return {{k.x, std::min<i64>(i64{k.x} + k.w, c->sprite->w)},
            {k.y, std::min<i64>(i64{k.y} + k.h, c->sprite->h)}};
}

// The area being drawn and the positions (i, j) of it, before the flips, whose
// source pixel lies inside src: the area as given, mirrored with it where it
// reaches past the sprite.
struct source_view {
    area_t area;
    span i, j;
};

inline span visible_part(i64 start, i64 length, i64 limit, bool flipped)
{
    const i64 inside = std::clamp<i64>(limit - start, 0, length);
    return flipped ? span{length - inside, length} : span{0, inside};
}

inline source_view view_of(const draw_t* d)
{
    const sprite_t& s = *d->src;
    const area_t a = d->area != nullptr ? *d->area : area_t{0, 0, s.w, s.h};
    return {a, visible_part(a.x, a.w, s.w, d->flags & draw_flip_x),
            visible_part(a.y, a.h, s.h, d->flags & draw_flip_y)};
}

inline bool is_empty(const source_view& v)
{
    return is_empty(v.i) || is_empty(v.j);
}

inline rect_t rect_of(const box& b)
{
    if (is_empty(b))
        return {0, 0, 0, 0};
    return {static_cast<std::int32_t>(b.x.lo), static_cast<std::int32_t>(b.y.lo),
            static_cast<std::int32_t>(b.x.hi - b.x.lo), static_cast<std::int32_t>(b.y.hi - b.y.lo)};
}

inline void report(rect_t* drawn, const box& b)
{
    if (drawn != nullptr)
        *drawn = rect_of(b);
}

inline void report_nothing(rect_t* drawn)
{
    if (drawn != nullptr)
        *drawn = {0, 0, 0, 0};
}

// Grows a box pixel row by pixel row (rows may come in any order).
struct box_builder {
    box b{{1, 0}, {1, 0}};

    void add_row(i64 y, span x)
    {
        if (is_empty(x))
            return;
        if (is_empty(b)) {
            b = {x, {y, y + 1}};
            return;
        }
        b.x = {std::min(b.x.lo, x.lo), std::max(b.x.hi, x.hi)};
        b.y = {std::min(b.y.lo, y), std::max(b.y.hi, y + 1)};
    }
};

// Where area position (i, j), before the flips, is in src.
inline std::size_t source_index(const draw_t* d, const area_t& a, i64 i, i64 j)
{
    if (d->flags & draw_flip_x)
        i = a.w - 1 - i;
    if (d->flags & draw_flip_y)
        j = a.h - 1 - j;
    return static_cast<std::size_t>((a.y + j) * d->src->w + a.x + i);
}

} // namespace canvas_detail
