// The area scaled to fill a rectangle, nearest or smooth.
//
// Nearest: destination column X samples area column i = floor((2k + 1) A.w / (2 to.w)),
// k = X - to.x, the column whose span holds the destination pixel's centre. The
// visible columns are found by inverting that rule exactly; each run of columns
// then gets a table of source offsets (on the stack, in chunks) and the rows a
// table likewise, and the kernels pick pixels through both. Whole-number
// enlargements repeat rows: the kernel copies those from the row above.
//
// Smooth: the same tables hold two taps per column and per row with their
// weights, and each pixel sums its four taps (canvas.h, section 4).
#include <velmora/canvas.h>

#include <algorithm>

#include "canvas_geometry.h"
#include "canvas_level.h"

using namespace canvas_detail;

namespace {

constexpr std::size_t chunk = 256;

// The k in [0, n) whose sample floor((2k + 1) a / (2n)) lies in `want`.
span nearest_range(span want, i64 a, i64 n)
{
    const span k{ceil_div(2 * n * want.lo - a, 2 * a), ceil_div(2 * n * want.hi - a, 2 * a)};
    return meet(k, {0, n});
}

// One axis of the stretch: area length a onto destination length n at `start`.
struct axis {
    i64 start, a, n;
    i64 area_start; // A.x or A.y
    bool flipped;
    span visible; // area positions, before the flip, inside src
};

i64 source_of(const axis& ax, i64 i)
{
    return ax.area_start + (ax.flipped ? ax.a - 1 - i : i);
}

// The samples of positions first, first + 1, ... by stepping the quotient and
// remainder of (2k + 1) a / (2n): one division per table, not one per entry
// (those divisions were most of a 2x enlargement's time).
void nearest_table(const axis& ax, i64 first, std::size_t count, std::size_t scale, std::size_t* out)
{
    const i64 den = 2 * ax.n;
    const i64 num = (2 * (first - ax.start) + 1) * ax.a; // >= 0: first is inside the stretch
    i64 i = num / den;
    i64 rest = num % den;
    const i64 step = 2 * ax.a / den;
    const i64 step_rest = 2 * ax.a % den;
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = static_cast<std::size_t>(source_of(ax, i)) * scale;
        i += step;
        rest += step_rest;
        if (rest >= den) {
            rest -= den;
            ++i;
        }
    }
}

int stretch_nearest(simd_level level, canvas_t* canvas, const draw_t* d, const axis& ax,
                    const axis& ay, const box& k, rect_t* drawn)
{
    const span kx = nearest_range(ax.visible, ax.a, ax.n);
    const span ky = nearest_range(ay.visible, ay.a, ay.n);
    const box b{meet(k.x, {ax.start + kx.lo, ax.start + kx.hi}),
                meet(k.y, {ay.start + ky.lo, ay.start + ky.hi})};
    if (is_empty(b))
        return 0;
    report(drawn, b);
    if (d->opacity == 0)
        return 0;
    const paint_style style{(d->flags & draw_key) != 0, d->key, d->opacity};
    const std::size_t stride = canvas->sprite->w;
    // A whole-number enlargement, unmirrored: column k - to.x samples (k - to.x) / repeat.
    const i64 repeat = !ax.flipped && ax.n % ax.a == 0 ? ax.n / ax.a : 0;
    // A plain copy of such an enlargement needs only the first column's offset,
    // so its rows are done whole: one repeat and then one copy per row.
    const bool whole_rows =
        repeat > 0 && !style.keyed && style.opacity == 255 && d->alpha == nullptr;
    const i64 x_step = whole_rows ? b.x.hi - b.x.lo : i64{chunk};
    std::size_t columns[chunk];
    std::size_t rows[chunk];
    for (i64 x = b.x.lo; x < b.x.hi; x += x_step) {
        const auto w = static_cast<std::size_t>(std::min<i64>(x_step, b.x.hi - x));
        nearest_table(ax, x, std::min<std::size_t>(w, chunk), 1, columns);
        for (i64 y = b.y.lo; y < b.y.hi; y += chunk) {
            const auto h = static_cast<std::size_t>(std::min<i64>(chunk, b.y.hi - y));
            nearest_table(ay, y, h, d->src->w, rows);
            paint_picked_job job{canvas->sprite->pixels + y * static_cast<i64>(stride) + x,
                                 stride, d->src->pixels, d->alpha, rows, columns, w, h};
            if (repeat > 0) {
                job.repeat = static_cast<std::size_t>(repeat);
                job.phase = static_cast<std::size_t>((x - ax.start) % repeat);
            }
            paint_picked_rows(level, job, style);
        }
    }
    return 0;
}

// ---- smooth

// Two taps of one axis for one destination position: source offsets and
// weights, a weight 0 where the tap's pixel lies outside src.
struct tap_pair {
    std::size_t at[2];
    std::uint32_t weight[2];
};

tap_pair smooth_taps(const axis& ax, i64 pos, std::size_t scale)
{
    const i64 k = pos - ax.start;
    const i64 s = floor_div(128 * ((2 * k + 1) * ax.a - ax.n), ax.n);
    const i64 i0 = floor_div(s, 256);
    const auto f = static_cast<std::uint32_t>(s - 256 * i0);
    tap_pair t{};
    const std::uint32_t weights[2] = {256 - f, f};
    for (int q = 0; q < 2; ++q) {
        const i64 i = std::clamp<i64>(i0 + q, 0, ax.a - 1);
        const bool inside = i >= ax.visible.lo && i < ax.visible.hi;
        t.weight[q] = inside ? weights[q] : 0;
        t.at[q] = inside ? static_cast<std::size_t>(source_of(ax, i)) * scale : 0;
    }
    return t;
}

bool counts(const tap_pair& t)
{
    return t.weight[0] != 0 || t.weight[1] != 0;
}

// The positions in `within` whose taps reach src: a run, since the taps move
// right with the position.
span smooth_range(const axis& ax, span within)
{
    span out{within.hi, within.hi};
    for (i64 p = within.lo; p < within.hi; ++p) {
        if (counts(smooth_taps(ax, p, 1))) {
            out.lo = std::min(out.lo, p);
            out.hi = p + 1;
        }
    }
    return out.lo < out.hi ? out : span{0, 0};
}

void smooth_pixel(const draw_t* d, const tap_pair& col, const tap_pair& row, pixel16& p)
{
    tap_sums sums;
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            const std::uint32_t weight = row.weight[r] * col.weight[c];
            if (weight != 0)
                add_tap(d, weight, row.at[r] + col.at[c], sums);
        }
    }
    p = land_smooth(sums, p);
}

int stretch_smooth(canvas_t* canvas, const draw_t* d, const axis& ax, const axis& ay, const box& k,
                   rect_t* drawn)
{
    const box b{smooth_range(ax, meet(k.x, {ax.start, ax.start + ax.n})),
                smooth_range(ay, meet(k.y, {ay.start, ay.start + ay.n}))};
    if (is_empty(b))
        return 0;
    report(drawn, b);
    if (d->opacity == 0)
        return 0;
    const std::size_t stride = canvas->sprite->w;
    tap_pair columns[chunk];
    for (i64 x = b.x.lo; x < b.x.hi; x += chunk) {
        const auto w = static_cast<std::size_t>(std::min<i64>(chunk, b.x.hi - x));
        for (std::size_t c = 0; c < w; ++c)
            columns[c] = smooth_taps(ax, x + static_cast<i64>(c), 1);
        for (i64 y = b.y.lo; y < b.y.hi; ++y) {
            const tap_pair row = smooth_taps(ay, y, d->src->w);
            pixel16* to = canvas->sprite->pixels + y * static_cast<i64>(stride) + x;
            for (std::size_t c = 0; c < w; ++c)
                smooth_pixel(d, columns[c], row, to[c]);
        }
    }
    return 0;
}

} // namespace

int canvas_stretch_at(simd_level level, canvas_t* canvas, const draw_t* d, const rect_t* to,
                      rect_t* drawn)
{
    report_nothing(drawn);
    if (!canvas_usable(canvas) || !source_usable(d) || to == nullptr)
        return -1;
    const source_view v = view_of(d);
    if (is_empty(v) || to->w <= 0 || to->h <= 0)
        return 0;
    const axis ax{to->x, v.area.w, to->w, v.area.x, (d->flags & draw_flip_x) != 0, v.i};
    const axis ay{to->y, v.area.h, to->h, v.area.y, (d->flags & draw_flip_y) != 0, v.j};
    const box k = clip_box(canvas);
    if (d->flags & draw_smooth)
        return stretch_smooth(canvas, d, ax, ay, k, drawn);
    return stretch_nearest(level, canvas, d, ax, ay, k, drawn);
}

int canvas_stretch(canvas_t* canvas, const draw_t* d, const rect_t* to, rect_t* drawn)
{
    return canvas_stretch_at(best_simd_level(), canvas, d, to, drawn);
}
