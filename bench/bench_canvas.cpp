// The canvas: clipped, flipped, keyed, faded, stretched and turned sprites,
// against the plain model (one pixel at a time over the rectangle the operation
// draws), memcpy of the drawn rows where a copy is the bound, and Allegro 4.4's
// memory-bitmap sprites where it has the operation (its exact share reported).
//
// Sources: a 256 x 256 soft-edged disc (its transparent pixels are the key),
// a 320 x 240 game screen, 64 x 64 and 128 x 128 pixel art.
#define ALLEGRO_NO_MAGIC_MAIN
#include <allegro.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "bench_common.h"
#include "pictures.h"
#include "plain.h"
#include <velmora/canvas.h>

namespace {

constexpr pixel16 mask = 0xF81F; // magenta: Allegro's mask colour in 16 bits too

struct source {
    pixels colour;
    bytes alpha;
    sprite_t sprite;
};

source make_source(const rgba_picture& p, bool keyed)
{
    source s{keyed ? keyed_565(p, mask) : pixels_565(p), opacity(p), {}};
    s.sprite = {p.w, p.h, 16, s.colour.data()};
    return s;
}

enum class op { draw, stretch, transform };

struct canvas_case {
    std::string name;
    std::uint16_t canvas_w, canvas_h;
    op what;
    bool keyed_source, plane;
    std::uint32_t flags;
    std::uint8_t opacity;
    std::int32_t x, y;  // draw
    rect_t to;          // stretch
    transform_t m;      // transform
    std::function<rgba_picture()> picture;
};

struct scene {
    source src;
    pixels target;
    sprite_t target_sprite;
    draw_t d;
};

void reset(scene& s, const canvas_case& c)
{
    s.src = make_source(c.picture(), c.keyed_source);
    s.target = random_pixels(std::size_t{c.canvas_w} * c.canvas_h, 1);
    s.target_sprite = {c.canvas_w, c.canvas_h, 16, s.target.data()};
    s.d = draw_t{&s.src.sprite};
    s.d.alpha = c.plane ? s.src.alpha.data() : nullptr;
    s.d.flags = c.flags;
    s.d.opacity = c.opacity;
}

rect_t run_velmora(scene& s, const canvas_case& c)
{
    canvas_t canvas = canvas_of(&s.target_sprite);
    rect_t drawn{};
    switch (c.what) {
    case op::draw: canvas_draw(&canvas, &s.d, c.x, c.y, &drawn); break;
    case op::stretch: canvas_stretch(&canvas, &s.d, &c.to, &drawn); break;
    case op::transform: canvas_transform(&canvas, &s.d, &c.m, &drawn); break;
    }
    return drawn;
}

// The model visits its clip: clipped to the drawn rectangle, it is the plain
// loop over the pixels the operation can touch.
void run_plain(scene& s, const canvas_case& c, const rect_t& drawn)
{
    canvas_t canvas = plain::canvas_of(&s.target_sprite);
    plain::canvas_set_clip(&canvas, &drawn);
    switch (c.what) {
    case op::draw: plain::canvas_draw(&canvas, &s.d, c.x, c.y, nullptr); break;
    case op::stretch: plain::canvas_stretch(&canvas, &s.d, &c.to, nullptr); break;
    case op::transform: plain::canvas_transform(&canvas, &s.d, &c.m, nullptr); break;
    }
}

std::size_t area_of(const rect_t& r)
{
    return std::size_t(r.w) * std::size_t(r.h);
}

// The expected picture and the drawn rectangle of each case, from the plain model.
struct expected {
    pixels target;
    rect_t drawn;
};

expected expected_for(const canvas_case& c)
{
    scene s;
    reset(s, c);
    pixels before = s.target;
    const rect_t drawn = run_velmora(s, c);
    s.target = before;
    run_plain(s, c, drawn);
    return {s.target, drawn};
}

void bench_velmora(benchmark::State& state, canvas_case c)
{
    const expected e = expected_for(c);
    scene s;
    reset(s, c);
    run_velmora(s, c);
    if (s.target != e.target)
        return fail_check(state, c.name + ": velmora differs from the plain model");
    for (auto _ : state) {
        run_velmora(s, c);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_of(e.drawn));
}

void bench_plain(benchmark::State& state, canvas_case c)
{
    const expected e = expected_for(c);
    scene s;
    reset(s, c);
    for (auto _ : state) {
        run_plain(s, c, e.drawn);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_of(e.drawn));
}

// The bound of a copy: memcpy of the drawn rectangle's rows from a buffer as wide.
void bench_memcpy_rows(benchmark::State& state, canvas_case c)
{
    const expected e = expected_for(c);
    scene s;
    reset(s, c);
    const pixels from = random_pixels(area_of(e.drawn), 2);
    for (auto _ : state) {
        std::size_t row_bytes = std::size_t(e.drawn.w) * sizeof(pixel16);
        benchmark::DoNotOptimize(row_bytes);
        for (std::int32_t j = 0; j < e.drawn.h; ++j)
            std::memcpy(s.target.data() + std::size_t(e.drawn.y + j) * c.canvas_w + e.drawn.x,
                        from.data() + std::size_t(j) * e.drawn.w, row_bytes);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_of(e.drawn));
}

// ---- Allegro 4.4, 16-bit memory bitmaps (RGB565, magenta the mask colour)

BITMAP* allegro_copy(const sprite_t& s)
{
    static const bool ready = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    if (!ready)
        return nullptr;
    BITMAP* b = create_bitmap_ex(16, s.w, s.h);
    for (int y = 0; y < s.h; ++y)
        std::memcpy(b->line[y], s.pixels + std::size_t(y) * s.w, s.w * sizeof(pixel16));
    return b;
}

pixels allegro_pixels(const BITMAP* b)
{
    pixels out(std::size_t(b->w) * b->h);
    for (int y = 0; y < b->h; ++y)
        std::memcpy(out.data() + std::size_t(y) * b->w, b->line[y], b->w * sizeof(pixel16));
    return out;
}

// What Allegro draws for the case: a keyed sprite, flipped, stretched or turned
// about its centre by the case's angle and scale.
void allegro_run(BITMAP* to, BITMAP* from, const canvas_case& c, double degrees, double scale)
{
    switch (c.what) {
    case op::draw:
        if (c.flags & draw_flip_x)
            draw_sprite_h_flip(to, from, c.x, c.y);
        else
            draw_sprite(to, from, c.x, c.y);
        break;
    case op::stretch: stretch_sprite(to, from, c.to.x, c.to.y, c.to.w, c.to.h); break;
    case op::transform:
        pivot_scaled_sprite(to, from, c.canvas_w / 2, c.canvas_h / 2, from->w / 2, from->h / 2,
                            ftofix(degrees * 256 / 360), ftofix(scale));
        break;
    }
}

void bench_allegro(benchmark::State& state, canvas_case c, double degrees, double scale)
{
    const expected e = expected_for(c);
    scene s;
    reset(s, c);
    BITMAP* to = allegro_copy(s.target_sprite);
    BITMAP* from = allegro_copy(s.src.sprite);
    if (to == nullptr || from == nullptr)
        return fail_check(state, "Allegro did not start");
    allegro_run(to, from, c, degrees, scale);
    const pixels result = allegro_pixels(to);
    const std::size_t outside = e.target.size() - area_of(e.drawn);
    const std::size_t same = same_count(result, e.target);
    report_exact_share(state, same > outside ? same - outside : 0, area_of(e.drawn));
    for (auto _ : state) {
        allegro_run(to, from, c, degrees, scale);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_of(e.drawn));
    destroy_bitmap(from);
    destroy_bitmap(to);
}

rgba_picture disc() { return soft_disc(256, 7); }
rgba_picture disc64() { return soft_disc(64, 5); }
rgba_picture disc128() { return soft_disc(128, 6); }
rgba_picture art128() { return pixel_art(128, 6); }

rgba_picture screen_320x240()
{
    rgba_picture p = pixel_art(320, 3);
    p.h = 240;
    p.pixels.resize(320 * 240);
    return p;
}

canvas_case drawing(std::string name, std::int32_t x, bool keyed, bool plane, std::uint32_t flags,
                    std::uint8_t opacity)
{
    return {std::move(name), 512, 512, op::draw, keyed, plane, flags, opacity, x, 128, {}, {},
            disc};
}

canvas_case turning(std::string name, std::uint16_t canvas, double degrees, double scale,
                    bool keyed, bool plane, std::uint32_t flags, std::function<rgba_picture()> p,
                    std::uint16_t side)
{
    const transform_t m = transform_rotozoom(degrees, scale, scale, side / 2.0, side / 2.0,
                                             canvas / 2, canvas / 2);
    return {std::move(name), canvas, canvas, op::transform, keyed, plane, flags, 255, 0, 0, {}, m,
            std::move(p)};
}

} // namespace

void register_canvas()
{
    const auto add = [](const canvas_case& c, bool memcpy_bound) {
        benchmark::RegisterBenchmark((c.name + "/velmora").c_str(), bench_velmora, c);
        benchmark::RegisterBenchmark((c.name + "/plain").c_str(), bench_plain, c);
        if (memcpy_bound)
            benchmark::RegisterBenchmark((c.name + "/memcpy_rows").c_str(), bench_memcpy_rows, c);
    };
    const auto allegro = [](const canvas_case& c, double degrees, double scale) {
        benchmark::RegisterBenchmark((c.name + "/allegro").c_str(), bench_allegro, c, degrees, scale);
    };
    add(drawing("canvas_draw/copy/half_off", -128, false, false, 0, 255), true);
    add(drawing("canvas_draw/copy/inside", 128, false, false, 0, 255), true);
    const canvas_case flipped = drawing("canvas_draw/flip_copy/half_off", -128, false, false, draw_flip_x, 255);
    add(flipped, true);
    const canvas_case keyed = drawing("canvas_draw/key/half_off", -128, true, false, draw_key, 255);
    add(keyed, false);
    allegro(keyed, 0, 1);
    const canvas_case flip_key = drawing("canvas_draw/flip_key/half_off", -128, true, false,
                                         draw_key | draw_flip_x, 255);
    add(flip_key, false);
    allegro(flip_key, 0, 1);
    add(drawing("canvas_draw/alpha8/half_off", -128, false, true, 0, 255), false);
    add(drawing("canvas_draw/alpha8/inside", 128, false, true, 0, 255), false);
    add(drawing("canvas_draw/alpha8_opacity128/inside", 128, false, true, 0, 128), false);
    add(drawing("canvas_draw/opacity128/inside", 128, false, false, 0, 128), false);

    for (const int k : {2, 3}) {
        const std::uint16_t w = static_cast<std::uint16_t>(320 * k), h = static_cast<std::uint16_t>(240 * k);
        canvas_case c{"canvas_stretch/nearest_" + std::to_string(k) + "x/320x240", w, h, op::stretch,
                      false, false, 0, 255, 0, 0, {0, 0, w, h}, {}, screen_320x240};
        add(c, true);
        c.name = "canvas_stretch/smooth_" + std::to_string(k) + "x/320x240";
        c.flags = draw_smooth;
        add(c, false);
    }
    const rect_t odd{40, 30, 97, 131};
    const canvas_case near{"canvas_stretch/nearest/64_to_97x131", 256, 256, op::stretch, false, false,
                           0, 255, 0, 0, odd, {}, disc64};
    add(near, false);
    const canvas_case near_key{"canvas_stretch/key/64_to_97x131", 256, 256, op::stretch, true,
                               false, draw_key, 255, 0, 0, odd, {}, disc64};
    add(near_key, false);
    allegro(near_key, 0, 1);
    add({"canvas_stretch/smooth_alpha8/64_to_97x131", 256, 256, op::stretch, false, true, draw_smooth,
         255, 0, 0, odd, {}, disc64},
        false);

    const canvas_case turn_key = turning("canvas_transform/key_30deg_scale1/128", 512, 30, 1, true,
                                         false, draw_key, disc128, 128);
    add(turn_key, false);
    allegro(turn_key, 30, 1);
    const canvas_case turn_key15 = turning("canvas_transform/key_30deg_scale1.5/128", 512, 30, 1.5,
                                           true, false, draw_key, disc128, 128);
    add(turn_key15, false);
    allegro(turn_key15, 30, 1.5);
    add(turning("canvas_transform/opaque_30deg_scale1/128", 512, 30, 1, false, false, 0, art128, 128), false);
    add(turning("canvas_transform/smooth_alpha8_30deg_scale1/128", 512, 30, 1, false, true,
                draw_smooth, disc128, 128), false);
    add(turning("canvas_transform/smooth_alpha8_30deg_scale1.5/128", 512, 30, 1.5, false, true,
                draw_smooth, disc128, 128), false);
    add(turning("canvas_transform/key_30deg/64_on_2048", 2048, 30, 1, true, false, draw_key, disc64, 64), false);
    add(turning("canvas_transform/key_30deg/64_on_96", 96, 30, 1, true, false, draw_key, disc64, 64), false);
}
