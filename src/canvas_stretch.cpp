// The area scaled to fill a rectangle, nearest or smooth.
//
// Nearest: destination column X samples area column i = floor((2k + 1) A.w / (2 to.w)),
// k = X - to.x, the column whose span holds the destination pixel's centre. The
// visible columns are found by inverting that rule exactly; each run of columns
// then gets a table of source offsets (on the stack, in chunks) and the rows a
// table likewise, and the kernels pick pixels through both. Whole-number
// enlargements repeat rows: the kernel copies those from the row above.
//
// Smooth: a table of two taps per column, into a window of source columns, and
// one of two taps per row, with their weights; the kernels sum each row's two
// source rows over the window and then each pixel's two column sums.
#include <velmora/canvas.h>

#include <algorithm>
#include <cstdint>

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
            job.row_width = d->src->w;
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
// weights, a weight 0 where the tap's pixel lies outside src; such a tap takes
// the other's offset, so that every offset is one inside src (`any` false:
// neither is, and the offsets are 0).
struct tap_pair {
    std::size_t at[2];
    std::uint32_t weight[2];
    bool any;
};

// floor(128 ((2k + 1) a - n) / n) for k = first - start, first + 1 - start, ...:
// the positions in 1/256 pixel, stepped by quotient and remainder like the
// nearest tables (a division per entry was most of the filter's time).
void smooth_positions(const axis& ax, i64 first, std::size_t count, i64* out)
{
    const i64 num = 128 * ((2 * (first - ax.start) + 1) * ax.a - ax.n);
    i64 s = floor_div(num, ax.n);
    i64 rest = num - s * ax.n;
    const i64 step = 256 * ax.a / ax.n;
    const i64 step_rest = 256 * ax.a % ax.n;
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = s;
        s += step;
        rest += step_rest;
        if (rest >= ax.n) {
            rest -= ax.n;
            ++s;
        }
    }
}

tap_pair smooth_taps(const axis& ax, i64 s, std::size_t scale)
{
    const i64 i0 = s >= 0 ? s / 256 : -((255 - s) / 256); // floor, as shifts
    const auto f = static_cast<std::uint32_t>(s - 256 * i0);
    const std::uint32_t weights[2] = {256 - f, f};
    tap_pair t{};
    bool inside[2];
    for (int q = 0; q < 2; ++q) {
        const i64 i = std::clamp<i64>(i0 + q, 0, ax.a - 1);
        inside[q] = i >= ax.visible.lo && i < ax.visible.hi;
        t.weight[q] = inside[q] ? weights[q] : 0;
        t.at[q] = inside[q] ? static_cast<std::size_t>(source_of(ax, i)) * scale : 0;
    }
    t.any = inside[0] || inside[1];
    if (!inside[0])
        t.at[0] = t.at[1];
    if (!inside[1])
        t.at[1] = t.at[0];
    return t;
}

// The positions in `within` whose taps reach src: a run, since the taps move
// right with the position. Every position has a tap in the area and the two
// weights sum to 256, so with the whole area inside src that is all of them.
span smooth_range(const axis& ax, span within)
{
    if (ax.visible.lo == 0 && ax.visible.hi == ax.a)
        return is_empty(within) ? span{0, 0} : within;
    span out{within.hi, within.hi};
    for (i64 p = within.lo; p < within.hi; ++p) {
        i64 s = 0;
        smooth_positions(ax, p, 1, &s);
        const tap_pair t = smooth_taps(ax, s, 1);
        if (t.weight[0] != 0 || t.weight[1] != 0) {
            out.lo = std::min(out.lo, p);
            out.hi = p + 1;
        }
    }
    return out.lo < out.hi ? out : span{0, 0};
}

// How many destination columns from x one job takes: at most smooth_width,
// and few enough that their taps span at most smooth_window source columns
// (a position's taps move by a / n columns a step, plus four for the two taps
// and the rounding at each end).
std::size_t smooth_block_width(const axis& ax, i64 x, i64 end)
{
    const i64 most = (static_cast<i64>(smooth_window) - 4) * ax.n / ax.a + 1;
    return static_cast<std::size_t>(std::min({end - x, most, static_cast<i64>(smooth_width)}));
}

// Destination columns x, x + 1, ... as taps of a window of source columns that
// begins at the returned column; `window` receives its width.
std::size_t smooth_columns(const axis& ax, i64 x, std::size_t w, smooth_column* out,
                           std::size_t& window)
{
    i64 s[smooth_width];
    tap_pair taps[smooth_width];
    smooth_positions(ax, x, w, s);
    std::size_t lo = SIZE_MAX;
    std::size_t hi = 0;
    for (std::size_t c = 0; c < w; ++c) {
        taps[c] = smooth_taps(ax, s[c], 1);
        if (taps[c].any) {
            lo = std::min({lo, taps[c].at[0], taps[c].at[1]});
            hi = std::max({hi, taps[c].at[0], taps[c].at[1]});
        }
    }
    if (lo > hi) // no column reaches src: every weight is 0
        lo = hi = 0;
    window = hi - lo + 1;
    for (std::size_t c = 0; c < w; ++c) {
        const tap_pair& t = taps[c];
        const auto at0 = static_cast<std::uint16_t>(t.any ? t.at[0] - lo : 0);
        const auto at1 = static_cast<std::uint16_t>(t.any ? t.at[1] - lo : 0);
        const auto u0 = static_cast<std::uint16_t>(t.weight[0]);
        const auto u1 = static_cast<std::uint16_t>(t.weight[1]);
        // Neighbours in either order (a flip reverses them), or one column
        // (clamped at the area's edge, or the other outside src).
        if (at1 == at0 + 1)
            out[c] = {at0, {u0, u1}};
        else if (at0 == at1 + 1)
            out[c] = {at1, {u1, u0}};
        else
            out[c] = {at0, {static_cast<std::uint16_t>(u0 + u1), 0}};
    }
    return lo;
}

void smooth_rows(const axis& ay, i64 y, std::size_t h, std::size_t stride, smooth_row* out)
{
    i64 s[chunk];
    smooth_positions(ay, y, h, s);
    for (std::size_t r = 0; r < h; ++r) {
        const tap_pair t = smooth_taps(ay, s[r], stride);
        out[r] = {{t.at[0], t.at[1]},
                  {static_cast<std::uint16_t>(t.weight[0]), static_cast<std::uint16_t>(t.weight[1])}};
    }
}

int stretch_smooth(simd_level level, canvas_t* canvas, const draw_t* d, const axis& ax,
                   const axis& ay, const box& k, rect_t* drawn)
{
    const box b{smooth_range(ax, meet(k.x, {ax.start, ax.start + ax.n})),
                smooth_range(ay, meet(k.y, {ay.start, ay.start + ay.n}))};
    if (is_empty(b))
        return 0;
    report(drawn, b);
    if (d->opacity == 0)
        return 0;
    const paint_style style{(d->flags & draw_key) != 0, d->key, d->opacity};
    // Every tap opaque: each field is the weighted sum over 65536.
    const bool opaque = !style.keyed && style.opacity == 255 && d->alpha == nullptr &&
                        ax.visible.lo == 0 && ax.visible.hi == ax.a && ay.visible.lo == 0 &&
                        ay.visible.hi == ay.a;
    const std::size_t stride = canvas->sprite->w;
    const std::size_t src_stride = d->src->w;
    smooth_column columns[smooth_width];
    smooth_row rows[chunk];
    for (i64 x = b.x.lo; x < b.x.hi;) {
        const std::size_t w = smooth_block_width(ax, x, b.x.hi);
        std::size_t window = 0;
        const std::size_t first = smooth_columns(ax, x, w, columns, window);
        for (i64 y = b.y.lo; y < b.y.hi; y += chunk) {
            const auto h = static_cast<std::size_t>(std::min<i64>(chunk, b.y.hi - y));
            smooth_rows(ay, y, h, src_stride, rows);
            const smooth_stretch_job job{
                canvas->sprite->pixels + y * static_cast<i64>(stride) + x,
                stride,
                d->src->pixels + first,
                d->alpha != nullptr ? d->alpha + first : nullptr,
                window,
                columns,
                rows,
                w,
                h,
                opaque};
            smooth_stretch_rows(level, job, style);
        }
        x += static_cast<i64>(w);
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
        return stretch_smooth(level, canvas, d, ax, ay, k, drawn);
    return stretch_nearest(level, canvas, d, ax, ay, k, drawn);
}

int canvas_stretch(canvas_t* canvas, const draw_t* d, const rect_t* to, rect_t* drawn)
{
    return canvas_stretch_at(best_simd_level(), canvas, d, to, drawn);
}
