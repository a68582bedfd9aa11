// The canvas, one destination pixel at a time: every pixel of clip ∩ sprite is
// mapped to the area by its operation's rule and goes through the six steps of
// canvas.h. No spans, no tables: the yardstick the library is held to.
#include "plain.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace plain {
namespace {

using i64 = std::int64_t;

i64 floor_div(i64 a, i64 b) // b > 0
{
    i64 q = a / b;
    if (a % b != 0 && a < 0)
        --q;
    return q;
}

struct box {
    i64 x0, y0, x1, y1;
};

box clip_of(const canvas_t* c)
{
    const area_t& k = c->clip;
    return {k.x, k.y, std::min<i64>(i64{k.x} + k.w, c->sprite->w),
            std::min<i64>(i64{k.y} + k.h, c->sprite->h)};
}

bool canvas_usable(const canvas_t* c)
{
    return c != nullptr && c->sprite != nullptr && c->sprite->pixels != nullptr;
}

bool source_usable(const draw_t* d)
{
    return d != nullptr && d->src != nullptr &&
           (d->src->pixels != nullptr || d->src->w == 0 || d->src->h == 0);
}

area_t area_of(const draw_t* d)
{
    return d->area != nullptr ? *d->area : area_t{0, 0, d->src->w, d->src->h};
}

// The smallest rectangle around the pixels noted.
struct bounds {
    i64 x0 = std::numeric_limits<i64>::max(), y0 = x0, x1 = -1, y1 = -1;

    void note(i64 x, i64 y)
    {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    rect_t rect() const
    {
        if (x1 < 0)
            return {0, 0, 0, 0};
        return {static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0),
                static_cast<std::int32_t>(x1 - x0 + 1), static_cast<std::int32_t>(y1 - y0 + 1)};
    }
};

void report(rect_t* drawn, const bounds& b)
{
    if (drawn != nullptr)
        *drawn = b.rect();
}

// Steps 1 to 5 for area position (i, j): false when no source pixel is selected,
// else the pixel and its effective opacity (0 when keyed).
bool fetch(const draw_t* d, const area_t& A, i64 i, i64 j, pixel16& s, unsigned& e)
{
    if (i < 0 || i >= A.w || j < 0 || j >= A.h)
        return false;
    if (d->flags & draw_flip_x)
        i = A.w - 1 - i;
    if (d->flags & draw_flip_y)
        j = A.h - 1 - j;
    const i64 x = A.x + i, y = A.y + j;
    if (x >= d->src->w || y >= d->src->h)
        return false;
    const std::size_t at = static_cast<std::size_t>(y * d->src->w + x);
    s = d->src->pixels[at];
    if ((d->flags & draw_key) && s == d->key) {
        e = 0;
        return true;
    }
    const unsigned a = d->alpha != nullptr ? d->alpha[at] : 255;
    e = (a * d->opacity + 127) / 255;
    return true;
}

constexpr unsigned field_shift[3] = {11, 5, 0};
constexpr unsigned field_mask[3] = {0x1F, 0x3F, 0x1F};

// Step 6.
pixel16 land(pixel16 s, pixel16 d, unsigned e)
{
    unsigned out = 0;
    for (int f = 0; f < 3; ++f) {
        const unsigned sf = s >> field_shift[f] & field_mask[f];
        const unsigned df = d >> field_shift[f] & field_mask[f];
        out |= (e * sf + (255 - e) * df) / 255 << field_shift[f];
    }
    return static_cast<pixel16>(out);
}

pixel16& canvas_pixel(canvas_t* c, i64 x, i64 y)
{
    return c->sprite->pixels[static_cast<std::size_t>(y * c->sprite->w + x)];
}

// Nearest sampling: `map` gives the area position of destination pixel (X, Y).
template <typename Map>
void sample_nearest(canvas_t* c, const draw_t* d, Map map, bounds& b)
{
    const area_t A = area_of(d);
    const box k = clip_of(c);
    for (i64 y = k.y0; y < k.y1; ++y) {
        for (i64 x = k.x0; x < k.x1; ++x) {
            i64 i = 0, j = 0;
            map(x, y, i, j);
            pixel16 s = 0;
            unsigned e = 0;
            if (!fetch(d, A, i, j, s, e))
                continue;
            b.note(x, y);
            pixel16& p = canvas_pixel(c, x, y);
            p = land(s, p, e);
        }
    }
}

// Smooth sampling: `map` gives the position in 1/256 pixel (s_u, s_v) of
// destination pixel (X, Y), or false when the pixel is not the operation's;
// `clamp` moves taps outside the area onto its edge (the stretch).
template <typename Map>
void sample_smooth(canvas_t* c, const draw_t* d, Map map, bool clamp, bounds& b)
{
    const area_t A = area_of(d);
    const box k = clip_of(c);
    for (i64 y = k.y0; y < k.y1; ++y) {
        for (i64 x = k.x0; x < k.x1; ++x) {
            i64 su = 0, sv = 0;
            if (!map(x, y, su, sv))
                continue;
            const i64 i0 = floor_div(su, 256), j0 = floor_div(sv, 256);
            const unsigned f = static_cast<unsigned>(su - 256 * i0);
            const unsigned g = static_cast<unsigned>(sv - 256 * j0);
            const unsigned wu[2] = {256 - f, f}, wv[2] = {256 - g, g};
            bool considered = false;
            std::uint32_t W = 0, C[3] = {0, 0, 0};
            for (int t = 0; t < 4; ++t) {
                i64 i = i0 + (t & 1), j = j0 + (t >> 1);
                if (clamp) {
                    i = std::clamp<i64>(i, 0, A.w - 1);
                    j = std::clamp<i64>(j, 0, A.h - 1);
                }
                const std::uint32_t weight = wu[t & 1] * wv[t >> 1];
                pixel16 s = 0;
                unsigned e = 0;
                if (!fetch(d, A, i, j, s, e))
                    continue;
                considered = considered || weight != 0;
                W += weight * e;
                for (int q = 0; q < 3; ++q)
                    C[q] += weight * e * (s >> field_shift[q] & field_mask[q]);
            }
            if (!considered)
                continue;
            b.note(x, y);
            pixel16& p = canvas_pixel(c, x, y);
            unsigned out = 0;
            for (int q = 0; q < 3; ++q) {
                const std::uint32_t dq = p >> field_shift[q] & field_mask[q];
                out |= (C[q] + (16711680u - W) * dq) / 16711680u << field_shift[q];
            }
            p = static_cast<pixel16>(out);
        }
    }
}

} // namespace

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
    const i64 w = canvas->sprite->w, h = canvas->sprite->h;
    i64 x0 = 0, y0 = 0, x1 = w, y1 = h;
    if (clip != nullptr) {
        x0 = std::clamp<i64>(clip->x, 0, w);
        y0 = std::clamp<i64>(clip->y, 0, h);
        x1 = std::clamp<i64>(i64{clip->x} + std::max(clip->w, 0), x0, w);
        y1 = std::clamp<i64>(i64{clip->y} + std::max(clip->h, 0), y0, h);
    }
    if (x1 == x0 || y1 == y0)
        x0 = y0 = x1 = y1 = 0; // nothing: written as one empty clip
    canvas->clip = {static_cast<std::uint16_t>(x0), static_cast<std::uint16_t>(y0),
                    static_cast<std::uint16_t>(x1 - x0), static_cast<std::uint16_t>(y1 - y0)};
}

int canvas_fill(canvas_t* canvas, const rect_t* r, pixel16 value, std::uint8_t opacity,
                rect_t* drawn)
{
    bounds b;
    if (!canvas_usable(canvas) || r == nullptr) {
        report(drawn, b);
        return -1;
    }
    const box k = clip_of(canvas);
    for (i64 y = k.y0; y < k.y1; ++y) {
        for (i64 x = k.x0; x < k.x1; ++x) {
            if (x < r->x || x >= i64{r->x} + r->w || y < r->y || y >= i64{r->y} + r->h)
                continue;
            b.note(x, y);
            pixel16& p = canvas_pixel(canvas, x, y);
            p = land(value, p, opacity);
        }
    }
    report(drawn, b);
    return 0;
}

int canvas_draw(canvas_t* canvas, const draw_t* d, std::int32_t x, std::int32_t y, rect_t* drawn)
{
    bounds b;
    if (!canvas_usable(canvas) || !source_usable(d)) {
        report(drawn, b);
        return -1;
    }
    sample_nearest(
        canvas, d,
        [&](i64 X, i64 Y, i64& i, i64& j) {
            i = X - x;
            j = Y - y;
        },
        b);
    report(drawn, b);
    return 0;
}

int canvas_stretch(canvas_t* canvas, const draw_t* d, const rect_t* to, rect_t* drawn)
{
    bounds b;
    if (!canvas_usable(canvas) || !source_usable(d) || to == nullptr) {
        report(drawn, b);
        return -1;
    }
    const area_t A = area_of(d);
    const auto inside_to = [&](i64 X, i64 Y) {
        return X >= to->x && X < i64{to->x} + to->w && Y >= to->y && Y < i64{to->y} + to->h;
    };
    if (d->flags & draw_smooth) {
        sample_smooth(
            canvas, d,
            [&](i64 X, i64 Y, i64& su, i64& sv) {
                if (!inside_to(X, Y))
                    return false;
                su = floor_div(128 * ((2 * (X - to->x) + 1) * A.w - to->w), to->w);
                sv = floor_div(128 * ((2 * (Y - to->y) + 1) * A.h - to->h), to->h);
                return true;
            },
            true, b);
    } else {
        sample_nearest(
            canvas, d,
            [&](i64 X, i64 Y, i64& i, i64& j) {
                i = j = -1;
                if (!inside_to(X, Y))
                    return;
                i = (2 * (X - to->x) + 1) * A.w / (2 * i64{to->w});
                j = (2 * (Y - to->y) + 1) * A.h / (2 * i64{to->h});
            },
            b);
    }
    report(drawn, b);
    return 0;
}

int canvas_transform(canvas_t* canvas, const draw_t* d, const transform_t* m, rect_t* drawn)
{
    bounds b;
    if (!canvas_usable(canvas) || !source_usable(d) || m == nullptr) {
        report(drawn, b);
        return -1;
    }
    const auto U = [&](i64 X, i64 Y) { return i64{m->xx} * (2 * X + 1) + i64{m->xy} * (2 * Y + 1) + 2 * i64{m->tx}; };
    const auto V = [&](i64 X, i64 Y) { return i64{m->yx} * (2 * X + 1) + i64{m->yy} * (2 * Y + 1) + 2 * i64{m->ty}; };
    if (d->flags & draw_smooth) {
        sample_smooth(
            canvas, d,
            [&](i64 X, i64 Y, i64& su, i64& sv) {
                su = floor_div(U(X, Y) - 65536, 512);
                sv = floor_div(V(X, Y) - 65536, 512);
                return true;
            },
            false, b);
    } else {
        sample_nearest(
            canvas, d,
            [&](i64 X, i64 Y, i64& i, i64& j) {
                i = floor_div(U(X, Y), 131072);
                j = floor_div(V(X, Y), 131072);
            },
            b);
    }
    report(drawn, b);
    return 0;
}

} // namespace plain
