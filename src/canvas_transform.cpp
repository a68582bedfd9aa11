// The area through an affine map, nearest or smooth, and the rotozoom map.
//
// Destination pixel (X, Y) samples at U = xx (2X + 1) + xy (2Y + 1) + 2 tx (and V
// likewise), area column floor(U / 131072). Along a row U grows by 2 xx per
// pixel, so the pixels whose sample falls inside the visible part of the area
// are one run, found exactly by dividing once per row: the cost follows the
// sprite's footprint, not the clip. The rows worth asking are found from the
// inverse map in double, widened by more than its rounding can miss.
#include <velmora/canvas.h>

#include <algorithm>
#include <cmath>

#include "canvas_geometry.h"
#include "canvas_level.h"

using namespace canvas_detail;

namespace {

constexpr i64 one = 131072; // an area pixel, in units of U and V

// The X in `within` with lo <= a X + b < hi.
span solve_linear(i64 a, i64 b, span want, span within)
{
    if (a == 0)
        return want.lo <= b && b < want.hi ? within : span{0, 0};
    if (a > 0)
        return meet(within, {ceil_div(want.lo - b, a), ceil_div(want.hi - b, a)});
    const i64 n = -a;
    return meet(within, {floor_div(b - want.hi, n) + 1, floor_div(b - want.lo, n) + 1});
}

// The rows of `clip` that can hold a pixel whose (U, V) lies in u x v.
span footprint_rows(const transform_t& m, span u, span v, span clip)
{
    const double xx = m.xx;
    const double xy = m.xy;
    const double yx = m.yx;
    const double yy = m.yy;
    const double det = xx * yy - xy * yx;
    const double size = std::fabs(xx * yy) + std::fabs(xy * yx);
    if (size == 0 || std::fabs(det) < 1e-6 * size)
        return clip; // (nearly) degenerate: every row is asked
    // Q = 2Y + 1 at the corners of the sampled rectangle: Q is linear in (U, V).
    double lo = HUGE_VAL;
    double hi = -HUGE_VAL;
    double reach = 0;
    for (const i64 cu : {u.lo, u.hi}) {
        for (const i64 cv : {v.lo, v.hi}) {
            const double du = static_cast<double>(cu - 2 * i64{m.tx});
            const double dv = static_cast<double>(cv - 2 * i64{m.ty});
            const double q = (xx * dv - yx * du) / det;
            lo = std::min(lo, q);
            hi = std::max(hi, q);
            const double terms = (std::fabs(xx * dv) + std::fabs(yx * du)) / std::fabs(det);
            reach = std::max(reach, std::fabs(q) + terms);
        }
    }
    const double margin = 4 + 1e-9 * reach;
    const double first = std::floor((lo - 1) / 2 - margin);
    const double last = std::ceil((hi - 1) / 2 + margin);
    if (!(first < static_cast<double>(clip.hi)) || !(last >= static_cast<double>(clip.lo)))
        return {0, 0};
    return meet(clip, {first <= static_cast<double>(clip.lo) ? clip.lo : static_cast<i64>(first),
                       last >= static_cast<double>(clip.hi) ? clip.hi : static_cast<i64>(last) + 1});
}

struct row_start {
    i64 u, v; // U and V at the row's pixel X = 0
};

row_start start_of_row(const transform_t& m, i64 y)
{
    return {i64{m.xx} + i64{m.xy} * (2 * y + 1) + 2 * i64{m.tx},
            i64{m.yx} + i64{m.yy} * (2 * y + 1) + 2 * i64{m.ty}};
}

// Nearest: the pixels whose (U, V) lie in u x v, run by run.
template <typename Paint>
box each_run(const transform_t& m, span u, span v, const box& k, Paint paint)
{
    box_builder built;
    const span rows = footprint_rows(m, u, v, k.y);
    for (i64 y = rows.lo; y < rows.hi; ++y) {
        const row_start s = start_of_row(m, y);
        const span run = solve_linear(2 * i64{m.yx}, s.v, v, solve_linear(2 * i64{m.xx}, s.u, u, k.x));
        if (is_empty(run))
            continue;
        built.add_row(y, run);
        paint(y, run, s.u + 2 * i64{m.xx} * run.lo, s.v + 2 * i64{m.yx} * run.lo);
    }
    return built.b;
}

// Where area position (i, j), before the flips, is in src.
struct source_map {
    source_view view;
    bool flip_x, flip_y;
    std::size_t src_w;

    std::size_t at(i64 i, i64 j) const
    {
        const i64 x = view.area.x + (flip_x ? view.area.w - 1 - i : i);
        const i64 y = view.area.y + (flip_y ? view.area.h - 1 - j : j);
        return static_cast<std::size_t>(y) * src_w + static_cast<std::size_t>(x);
    }
};

source_map map_of(const draw_t* d)
{
    return {view_of(d), (d->flags & draw_flip_x) != 0, (d->flags & draw_flip_y) != 0, d->src->w};
}

// An opaque copy or key is picked as it lands, a whole run per kernel call (at
// AVX2 by gathers). Otherwise each run's source offsets go into a table on the
// stack, and the kernel that picks pixels by table paints them (plane and
// opacity as in a stretch).
int transform_nearest(simd_level level, canvas_t* canvas, const draw_t* d, const transform_t& m,
                      const box& k, rect_t* drawn)
{
    constexpr std::size_t chunk = 256;
    const source_map src = map_of(d);
    const source_view& sv = src.view;
    const std::size_t stride = canvas->sprite->w;
    const i64 du = 2 * i64{m.xx};
    const i64 dv = 2 * i64{m.yx};
    const bool visible = d->opacity != 0;
    const paint_style style{(d->flags & draw_key) != 0, d->key, d->opacity};
    const std::size_t no_row = 0;
    std::size_t columns[chunk];
    const box b = each_run(m, {one * sv.i.lo, one * sv.i.hi}, {one * sv.j.lo, one * sv.j.hi}, k,
                           [&](i64 y, span run, i64 u, i64 v) {
        if (!visible)
            return;
        pixel16* to = canvas->sprite->pixels + static_cast<std::size_t>(y) * stride;
        // A flip mirrors U within the area: A.w - 1 - floor(U / one) = floor((one A.w - 1 - U) / one).
        const i64 su = src.flip_x ? -du : du;
        const i64 sv2 = src.flip_y ? -dv : dv;
        i64 pu = src.flip_x ? one * sv.area.w - 1 - u : u;
        i64 pv = src.flip_y ? one * sv.area.h - 1 - v : v;
        const std::size_t first = std::size_t{sv.area.y} * src.src_w + sv.area.x;
        if (d->alpha == nullptr && d->opacity == 255) { // a copy or a key: picked as it lands
            const pick_affine_job job{to + run.lo, d->src->pixels,
                                      std::size_t{d->src->w} * d->src->h, first, src.src_w,
                                      pu, pv, su, sv2, static_cast<std::size_t>(run.hi - run.lo)};
            pick_affine_run(level, job, style.keyed, style.key);
            return;
        }
        for (i64 x = run.lo; x < run.hi; x += chunk) {
            const auto n = static_cast<std::size_t>(std::min<i64>(chunk, run.hi - x));
            // Inside the run U and V (mirrored or not) are not negative: the shifts are floors.
            for (std::size_t q = 0; q < n; ++q, pu += su, pv += sv2)
                columns[q] = first + static_cast<std::size_t>(pv >> 17) * src.src_w +
                             static_cast<std::size_t>(pu >> 17);
            const paint_picked_job job{to + x, stride, d->src->pixels, d->alpha, &no_row, columns,
                                       n, 1};
            paint_picked_rows(level, job, style);
        }
    });
    report(drawn, b);
    return 0;
}

// Smooth: positions in 1/256 pixel, s = floor((U - 65536) / 512); a pixel counts
// when a tap of non-zero weight lies in the visible part [lo, hi), which is
// U in [131072 lo - 65024, 131072 hi + 65536): its taps then lie at most one
// step outside, mirrored or not, which the kernel's edge mode allows.
//
// Both tap columns lie inside where s is in [256 lo, 256 (hi - 1)). Under a
// flip the mirrored s is 256 (w - 1) - s, whose second tap, of zero weight
// where s is a whole pixel, is read too: one step further in.
span interior(span visible, bool flipped)
{
    const i64 shift = 65536 + (flipped ? 512 : 0);
    return {one * visible.lo + shift, one * (visible.hi - 1) + shift};
}

// Each run splits where taps start to fall outside the visible part: its
// inside goes to the kernel without checks, its ends with them. The kernel is
// chosen once per call.
int transform_smooth(simd_level level, canvas_t* canvas, const draw_t* d, const transform_t& m,
                     const box& k, rect_t* drawn)
{
    const source_map src = map_of(d);
    const source_view& sv = src.view;
    const std::size_t stride = canvas->sprite->w;
    const i64 du = 2 * i64{m.xx};
    const i64 dv = 2 * i64{m.yx};
    const span u{one * sv.i.lo - 65024, one * sv.i.hi + 65536};
    const span v{one * sv.j.lo - 65024, one * sv.j.hi + 65536};
    const span inner_u = interior(sv.i, src.flip_x);
    const span inner_v = interior(sv.j, src.flip_y);
    const paint_style style{(d->flags & draw_key) != 0, d->key, d->opacity};
    const bool visible = d->opacity != 0;
    smooth_affine_job job{};
    job.from = d->src->pixels;
    job.alpha = d->alpha;
    job.count = std::size_t{d->src->w} * d->src->h;
    // The visible part counted from its first pixel in src, whatever the flips.
    job.first = std::size_t{sv.area.y} * src.src_w + sv.area.x;
    job.stride = src.src_w;
    job.w = static_cast<std::size_t>(sv.i.hi - sv.i.lo);
    job.h = static_cast<std::size_t>(sv.j.hi - sv.j.lo);
    job.du = du;
    job.dv = dv;
    job.flip_u = src.flip_x;
    job.flip_v = src.flip_y;
    job.mirror_u = 256 * (i64{sv.area.w} - 1);
    job.mirror_v = 256 * (i64{sv.area.h} - 1);
    const box b = each_run(m, u, v, k, [&](i64 y, span run, i64 pu, i64 pv) {
        if (!visible)
            return;
        pixel16* to = canvas->sprite->pixels + static_cast<std::size_t>(y) * stride + run.lo;
        // Offsets from run.lo: U = pu + du x.
        const span all{0, run.hi - run.lo};
        span inner = solve_linear(dv, pv, inner_v, solve_linear(du, pu, inner_u, all));
        if (is_empty(inner))
            inner = {all.hi, all.hi};
        const auto paint = [&](i64 from, i64 end, bool edge) {
            if (from >= end)
                return;
            job.to = to + from;
            job.u = pu + du * from - 65536;
            job.v = pv + dv * from - 65536;
            job.n = static_cast<std::size_t>(end - from);
            job.edge = edge;
            smooth_affine_run(level, job, style);
        };
        paint(0, inner.lo, true);
        paint(inner.lo, inner.hi, false);
        paint(inner.hi, all.hi, true);
    });
    report(drawn, b);
    return 0;
}

} // namespace

int canvas_transform_at(simd_level level, canvas_t* canvas, const draw_t* d, const transform_t* m,
                        rect_t* drawn)
{
    report_nothing(drawn);
    if (!canvas_usable(canvas) || !source_usable(d) || m == nullptr)
        return -1;
    if (is_empty(view_of(d)))
        return 0;
    const box k = clip_box(canvas);
    if (is_empty(k))
        return 0;
    if (d->flags & draw_smooth)
        return transform_smooth(level, canvas, d, *m, k, drawn);
    return transform_nearest(level, canvas, d, *m, k, drawn);
}

int canvas_transform(canvas_t* canvas, const draw_t* d, const transform_t* m, rect_t* drawn)
{
    return canvas_transform_at(best_simd_level(), canvas, d, m, drawn);
}

// ---- the rotozoom map

namespace {

// Sine and cosine of an angle in [0, 360), exact at the quarter turns.
void turn(double degrees, double& s, double& c)
{
    if (degrees == 0) {
        s = 0;
        c = 1;
    } else if (degrees == 90) {
        s = 1;
        c = 0;
    } else if (degrees == 180) {
        s = 0;
        c = -1;
    } else if (degrees == 270) {
        s = -1;
        c = 0;
    } else {
        const double r = degrees * (3.14159265358979323846 / 180);
        s = std::sin(r);
        c = std::cos(r);
    }
}

// value * 65536 rounded, halves away from zero; false outside int32 (or NaN).
bool fixed(double value, std::int32_t& out)
{
    const double r = std::round(value * 65536);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        return false;
    out = static_cast<std::int32_t>(r);
    return true;
}

} // namespace

transform_t transform_rotozoom(double degrees, double scale_x, double scale_y, double pivot_x,
                               double pivot_y, double x, double y)
{
    const transform_t nothing{0, 0, -65536, 0, 0, -65536};
    for (const double v : {degrees, scale_x, scale_y, pivot_x, pivot_y, x, y}) {
        if (!std::isfinite(v))
            return nothing;
    }
    if (scale_x == 0 || scale_y == 0)
        return nothing;
    double a = std::fmod(degrees, 360.0);
    if (a < 0)
        a += 360;
    if (a >= 360)
        a -= 360;
    double s = 0;
    double c = 0;
    turn(a, s, c);
    // u = (c (X - x) + s (Y - y)) / scale_x + pivot_x,  v = (-s (X - x) + c (Y - y)) / scale_y + pivot_y
    transform_t m{};
    const bool ok = fixed(c / scale_x, m.xx) && fixed(s / scale_x, m.xy) &&
                    fixed((c * -x + s * -y) / scale_x + pivot_x, m.tx) &&
                    fixed(-s / scale_y, m.yx) && fixed(c / scale_y, m.yy) &&
                    fixed((-s * -x + c * -y) / scale_y + pivot_y, m.ty);
    return ok ? m : nothing;
}
