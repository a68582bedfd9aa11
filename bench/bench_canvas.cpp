// The canvas: clipped, flipped, keyed, faded, stretched and turned sprites,
// against the plain model (one pixel at a time over the rectangle the operation
// draws), memcpy of the drawn rows where a copy is the bound, and the peers of
// peers_canvas.cpp where they have the operation (their exact shares reported).
//
// Sources: a 256 x 256 soft-edged disc (its transparent pixels are the key),
// a 320 x 240 game screen, 64 x 64 and 128 x 128 discs, 128 x 128 pixel art.
#include <cstring>
#include <string>
#include <vector>

#include "canvas_cases.h"
#include "pictures.h"
#include "plain.h"

namespace canvas_bench {

namespace {

source make_source(const rgba_picture& p, bool keyed)
{
    source s{keyed ? keyed_565(p, mask) : pixels_565(p), opacity(p), {}};
    s.sprite = {p.w, p.h, 16, s.colour.data()};
    return s;
}

} // namespace

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

namespace {

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

} // namespace

std::size_t area_of(const rect_t& r)
{
    return std::size_t(r.w) * std::size_t(r.h);
}

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

namespace {

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

// A 256 x 256 disc placed at x, 128 on a 512 x 512 canvas.
canvas_case drawing(std::string name, std::int32_t x, bool keyed, bool plane, std::uint32_t flags,
                    std::uint8_t opacity)
{
    return {std::move(name), 512, 512, op::draw, keyed, plane, flags, opacity, x, 128, {}, {}, 0, 1,
            disc};
}

canvas_case stretching(std::string name, std::uint16_t canvas_w, std::uint16_t canvas_h,
                       const rect_t& to, bool keyed, bool plane, std::uint32_t flags,
                       std::function<rgba_picture()> p)
{
    return {std::move(name), canvas_w, canvas_h, op::stretch, keyed, plane, flags, 255, 0, 0, to, {},
            0, 1, std::move(p)};
}

// A side x side sprite turned about its centre, put at the canvas's centre.
canvas_case turning(std::string name, std::uint16_t canvas, double degrees, double scale,
                    bool keyed, bool plane, std::uint32_t flags, std::function<rgba_picture()> p,
                    std::uint16_t side)
{
    const transform_t m = transform_rotozoom(degrees, scale, scale, side / 2.0, side / 2.0,
                                             canvas / 2, canvas / 2);
    return {std::move(name), canvas, canvas, op::transform, keyed, plane, flags, 255, 0, 0, {}, m,
            degrees, scale, std::move(p)};
}

// A case and who runs it besides velmora and the plain model.
struct entry {
    canvas_case c;
    bool memcpy_bound;
    std::vector<peer> peers;
};

std::vector<entry> canvas_entries()
{
    using P = peer;
    const rect_t odd{40, 30, 97, 131};
    std::vector<entry> out = {
        {drawing("canvas_draw/copy/half_off", -128, false, false, 0, 255), true,
         {P::allegro, P::sdl, P::pixman}},
        {drawing("canvas_draw/copy/inside", 128, false, false, 0, 255), true,
         {P::allegro, P::sdl, P::pixman}},
        {drawing("canvas_draw/flip_copy/half_off", -128, false, false, draw_flip_x, 255), true,
         {P::allegro, P::pixman}},
        {drawing("canvas_draw/key/half_off", -128, true, false, draw_key, 255), false,
         {P::allegro, P::sdl, P::sdl_rle}},
        {drawing("canvas_draw/key/inside", 128, true, false, draw_key, 255), false,
         {P::allegro, P::sdl, P::sdl_rle}},
        {drawing("canvas_draw/flip_key/half_off", -128, true, false, draw_key | draw_flip_x, 255),
         false, {P::allegro}},
        {drawing("canvas_draw/alpha8/half_off", -128, false, true, 0, 255), false,
         {P::allegro, P::sdl, P::pixman}},
        {drawing("canvas_draw/alpha8/inside", 128, false, true, 0, 255), false,
         {P::allegro, P::sdl, P::pixman}},
        // No peer has a plane times an opacity: SDL's plane-only blit is the yardstick.
        {drawing("canvas_draw/alpha8_opacity128/inside", 128, false, true, 0, 128), false, {P::sdl}},
        {drawing("canvas_draw/opacity128/inside", 128, false, false, 0, 128), false,
         {P::allegro, P::sdl}},
        {stretching("canvas_stretch/nearest/64_to_97x131", 256, 256, odd, false, false, 0, disc64),
         false, {P::sdl_gfx, P::pixman}},
        {stretching("canvas_stretch/key/64_to_97x131", 256, 256, odd, true, false, draw_key, disc64),
         false, {P::allegro}},
        {stretching("canvas_stretch/smooth_alpha8/64_to_97x131", 256, 256, odd, false, true,
                    draw_smooth, disc64),
         false, {P::sdl_gfx, P::pixman}},
        {turning("canvas_transform/key_30deg_scale1/128", 512, 30, 1, true, false, draw_key, disc128,
                 128),
         false, {P::allegro}},
        {turning("canvas_transform/key_30deg_scale1.5/128", 512, 30, 1.5, true, false, draw_key,
                 disc128, 128),
         false, {P::allegro}},
        {turning("canvas_transform/opaque_30deg_scale1/128", 512, 30, 1, false, false, 0, art128, 128),
         false, {P::allegro, P::pixman}},
        {turning("canvas_transform/smooth_alpha8_30deg_scale1/128", 512, 30, 1, false, true,
                 draw_smooth, disc128, 128),
         false, {P::sdl_gfx, P::pixman}},
        {turning("canvas_transform/smooth_alpha8_30deg_scale1.5/128", 512, 30, 1.5, false, true,
                 draw_smooth, disc128, 128),
         false, {P::sdl_gfx, P::pixman}},
        // The same turn on a large and a small canvas: the cost follows the footprint.
        {turning("canvas_transform/key_30deg/64_on_2048", 2048, 30, 1, true, false, draw_key, disc64, 64),
         false, {P::allegro}},
        {turning("canvas_transform/key_30deg/64_on_96", 96, 30, 1, true, false, draw_key, disc64, 64),
         false, {P::allegro}},
    };
    // The 2x and 3x enlargements of a 320 x 240 game screen, filling the canvas.
    for (const int k : {2, 3}) {
        const auto w = static_cast<std::uint16_t>(320 * k), h = static_cast<std::uint16_t>(240 * k);
        const std::string times = std::to_string(k) + "x/320x240";
        out.push_back({stretching("canvas_stretch/nearest_" + times, w, h, {0, 0, w, h}, false, false,
                                  0, screen_320x240),
                       true, {P::sdl_gfx, P::pixman}});
        out.push_back({stretching("canvas_stretch/smooth_" + times, w, h, {0, 0, w, h}, false, false,
                                  draw_smooth, screen_320x240),
                       false, {P::sdl_gfx, P::pixman}});
    }
    return out;
}

} // namespace

} // namespace canvas_bench

void register_canvas()
{
    using namespace canvas_bench;
    for (const entry& e : canvas_entries()) {
        const canvas_case& c = e.c;
        benchmark::RegisterBenchmark((c.name + "/velmora").c_str(), bench_velmora, c);
        benchmark::RegisterBenchmark((c.name + "/plain").c_str(), bench_plain, c);
        if (e.memcpy_bound)
            benchmark::RegisterBenchmark((c.name + "/memcpy_rows").c_str(), bench_memcpy_rows, c);
        for (const peer p : e.peers)
            benchmark::RegisterBenchmark((c.name + "/" + peer_name(p, c)).c_str(), bench_peer, c, p);
    }
}
