// The canvas: its clip, fills and straight draws. Each operation clips once,
// in 64 bits, to the rectangle it may touch, then hands whole rows to the
// kernels; the unflipped opaque draws are the blits of sprite.h, row for row.
#include <velmora/canvas.h>

#include "canvas_geometry.h"
#include "canvas_level.h"
#include "kernels/kernels.h"

using namespace canvas_detail;

canvas_t canvas_of(sprite_t* sprite)
{
    if (sprite == nullptr)
        return {nullptr, {0, 0, 0, 0}};
    return {sprite, {0, 0, sprite->w, sprite->h}};
}

void canvas_set_clip(canvas_t* canvas, const rect_t* clip)
{
    if (canvas == nullptr)
        return;
    if (canvas->sprite == nullptr) {
        canvas->clip = {0, 0, 0, 0};
        return;
    }
    const sprite_t& s = *canvas->sprite;
    box b{{0, s.w}, {0, s.h}};
    if (clip != nullptr) {
        b.x = meet(b.x, {clip->x, i64{clip->x} + clip->w});
        b.y = meet(b.y, {clip->y, i64{clip->y} + clip->h});
    }
    if (is_empty(b)) {
        canvas->clip = {0, 0, 0, 0};
        return;
    }
    canvas->clip = {static_cast<std::uint16_t>(b.x.lo), static_cast<std::uint16_t>(b.y.lo),
                    static_cast<std::uint16_t>(b.x.hi - b.x.lo),
                    static_cast<std::uint16_t>(b.y.hi - b.y.lo)};
}

int canvas_fill_at(simd_level level, canvas_t* canvas, const rect_t* r, pixel16 value,
                   std::uint8_t opacity, rect_t* drawn)
{
    report_nothing(drawn);
    if (!canvas_usable(canvas) || r == nullptr)
        return -1;
    const box k = clip_box(canvas);
    const box b{meet(k.x, {r->x, i64{r->x} + r->w}), meet(k.y, {r->y, i64{r->y} + r->h})};
    if (is_empty(b))
        return 0;
    report(drawn, b);
    const std::size_t stride = canvas->sprite->w;
    pixel16* first = canvas->sprite->pixels + b.y.lo * stride + b.x.lo;
    const auto w = static_cast<std::size_t>(b.x.hi - b.x.lo);
    const auto h = static_cast<std::size_t>(b.y.hi - b.y.lo);
    // The effective opacity of a lone colour is (255 * opacity + 127) / 255 = opacity.
    if (opacity == 255)
        fill_rows(level, first, w, h, stride, value);
    else if (opacity != 0)
        fill_blend_rows(level, first, w, h, stride, value, opacity);
    return 0;
}

namespace {

// The unflipped opaque cases, key or plane (not both): sprite.h's own kernels.
bool draw_with_blit_kernels(simd_level level, const paint_rows_job& job, const draw_t* d)
{
    const bool keyed = d->flags & draw_key;
    if (job.reversed || job.from_stride < 0 || d->opacity != 255 || (keyed && job.alpha != nullptr))
        return false;
    const auto to_stride = static_cast<std::size_t>(job.to_stride);
    const auto from_stride = static_cast<std::size_t>(job.from_stride);
    if (keyed)
        blit_key_rows(level, job.to, to_stride, job.from, from_stride, job.w, job.h,
                      d->key);
    else if (job.alpha != nullptr)
        blit_a8_rows(level, job.to, to_stride, job.from, from_stride, job.alpha,
                     from_stride, job.w, job.h);
    else
        copy_rows(job.to, to_stride, job.from, from_stride, job.w, job.h);
    return true;
}

} // namespace

int canvas_draw_at(simd_level level, canvas_t* canvas, const draw_t* d, std::int32_t x,
                   std::int32_t y, rect_t* drawn)
{
    report_nothing(drawn);
    if (!canvas_usable(canvas) || !source_usable(d))
        return -1;
    const source_view v = view_of(d);
    const box k = clip_box(canvas);
    const box b{meet(k.x, {x + v.i.lo, x + v.i.hi}), meet(k.y, {y + v.j.lo, y + v.j.hi})};
    if (is_empty(v) || is_empty(b))
        return 0;
    report(drawn, b);
    if (d->opacity == 0)
        return 0; // every effective opacity is 0: nothing changes
    // The first visible pixel's source, and which way the source runs from it.
    const std::size_t first = source_index(d, v.area, b.x.lo - x, b.y.lo - y);
    const auto src_w = static_cast<std::ptrdiff_t>(d->src->w);
    const std::ptrdiff_t from_stride = (d->flags & draw_flip_y) ? -src_w : src_w;
    const auto to_stride = static_cast<std::ptrdiff_t>(canvas->sprite->w);
    const paint_rows_job job{canvas->sprite->pixels + b.y.lo * to_stride + b.x.lo,
                             to_stride,
                             d->src->pixels + first,
                             from_stride,
                             d->alpha != nullptr ? d->alpha + first : nullptr,
                             from_stride,
                             static_cast<std::size_t>(b.x.hi - b.x.lo),
                             static_cast<std::size_t>(b.y.hi - b.y.lo),
                             (d->flags & draw_flip_x) != 0};
    if (!draw_with_blit_kernels(level, job, d))
        paint_rows(level, job, {(d->flags & draw_key) != 0, d->key, d->opacity});
    return 0;
}

int canvas_fill(canvas_t* canvas, const rect_t* r, pixel16 value, std::uint8_t opacity,
                rect_t* drawn)
{
    return canvas_fill_at(best_simd_level(), canvas, r, value, opacity, drawn);
}

int canvas_draw(canvas_t* canvas, const draw_t* d, std::int32_t x, std::int32_t y, rect_t* drawn)
{
    return canvas_draw_at(best_simd_level(), canvas, d, x, y, drawn);
}
