// Drawing opaque sprites: the copies, the fill and the weighted blend against
// the plain loops, SDL 1.2's software blitters and memcpy/memset per row.
#include <SDL.h>

#include <cstring>

#include "bench_common.h"
#include "peers.h"
#include "plain.h"
#include <velmora/sprite.h>

namespace {

// A 256 x 256 rectangle drawn into the 512 x 512 target.
constexpr std::uint16_t part_size = 256;
constexpr std::size_t part_pixels = std::size_t{part_size} * part_size;

// SDL's per-surface alpha is opacity; velmora's weight is the destination's share.
constexpr std::uint8_t sdl_alpha = 77;
constexpr std::uint8_t velmora_weight = 255 - sdl_alpha;

struct drawing {
    pixels target, part, big_source;
    sprite_t target_sprite, part_sprite, big_source_sprite;
};

// Fresh, seeded pixels every time, so each check starts from the same state.
void reset(drawing& d)
{
    d.target = random_pixels(target_pixels, 1);
    d.part = random_pixels(part_pixels, 2);
    d.big_source = random_pixels(target_pixels, 3);
    d.target_sprite = {target_size, target_size, 16, d.target.data()};
    d.part_sprite = {part_size, part_size, 16, d.part.data()};
    d.big_source_sprite = {target_size, target_size, 16, d.big_source.data()};
}

const area_t source_area{128, 128, part_size, part_size};
const area_t fill_area{at_x, at_y, part_size, part_size};
constexpr pixel16 fill_value = 0x39E7;

enum class draw_op { blit, area_blit, fill, blend };

void draw_velmora(drawing& d, draw_op op)
{
    switch (op) {
    case draw_op::blit: sprite_blit_16(&d.target_sprite, &d.part_sprite, at_x, at_y); break;
    case draw_op::area_blit:
        sprite_area_blit_16(&d.target_sprite, &d.big_source_sprite, &source_area, at_x, at_y);
        break;
    case draw_op::fill: area_fill_16(&d.target_sprite, fill_value, &fill_area); break;
    case draw_op::blend:
        sprite_blit_alpha_16(&d.target_sprite, &d.part_sprite, at_x, at_y, velmora_weight);
        break;
    }
}

void draw_plain(drawing& d, draw_op op, std::uint8_t weight = velmora_weight)
{
    switch (op) {
    case draw_op::blit: plain::sprite_blit_16(&d.target_sprite, &d.part_sprite, at_x, at_y); break;
    case draw_op::area_blit:
        plain::sprite_area_blit_16(&d.target_sprite, &d.big_source_sprite, &source_area, at_x, at_y);
        break;
    case draw_op::fill: plain::area_fill_16(&d.target_sprite, fill_value, &fill_area); break;
    case draw_op::blend:
        plain::sprite_blit_alpha_16(&d.target_sprite, &d.part_sprite, at_x, at_y, weight);
        break;
    }
}

pixels expected_drawing(draw_op op, std::uint8_t weight = velmora_weight)
{
    drawing d;
    reset(d);
    draw_plain(d, op, weight);
    return d.target;
}

void bench_draw_velmora(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    draw_velmora(d, op);
    if (d.target != expected_drawing(op))
        return fail_check(state, "velmora differs from the plain loop");
    for (auto _ : state) {
        draw_velmora(d, op);
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

void bench_draw_plain(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    for (auto _ : state) {
        draw_plain(d, op);
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

// SDL 1.2 on software surfaces over the same pixel memory. Blits and fills
// clip to the target, which holds the rectangle whole, so no pixel is lost.
struct sdl_drawing {
    SDL_Surface* target;
    SDL_Surface* part;
    SDL_Surface* big_source;
};

sdl_drawing wrap(drawing& d)
{
    return {surface_over(d.target_sprite), surface_over(d.part_sprite),
            surface_over(d.big_source_sprite)};
}

void release(sdl_drawing& s)
{
    SDL_FreeSurface(s.big_source);
    SDL_FreeSurface(s.part);
    SDL_FreeSurface(s.target);
}

void draw_sdl(sdl_drawing& s, draw_op op)
{
    // SDL writes the clipped rectangles back, so they are made afresh each time.
    SDL_Rect at{at_x, at_y, part_size, part_size};
    SDL_Rect area{static_cast<Sint16>(source_area.x), static_cast<Sint16>(source_area.y),
                  source_area.w, source_area.h};
    switch (op) {
    case draw_op::blit:
    case draw_op::blend: SDL_BlitSurface(s.part, nullptr, s.target, &at); break;
    case draw_op::area_blit: SDL_BlitSurface(s.big_source, &area, s.target, &at); break;
    case draw_op::fill: SDL_FillRect(s.target, &at, fill_value); break;
    }
}

void bench_draw_sdl(benchmark::State& state, draw_op op, int alpha)
{
    drawing d;
    reset(d);
    sdl_drawing s = wrap(d);
    if (op == draw_op::blend)
        SDL_SetAlpha(s.part, SDL_SRCALPHA, static_cast<Uint8>(alpha));
    draw_sdl(s, op);
    const pixels expected = expected_drawing(op, static_cast<std::uint8_t>(255 - alpha));
    if (op == draw_op::blend) {
        const std::size_t outside = expected.size() - part_pixels; // untouched, equal anyway
        report_exact_share(state, same_count(d.target, expected) - outside, part_pixels);
    } else if (d.target != expected) {
        release(s);
        return fail_check(state, "SDL differs from the plain loop");
    }
    for (auto _ : state) {
        draw_sdl(s, op);
        benchmark::ClobberMemory();
    }
    release(s);
    count_pixels(state, part_pixels);
}

// The floor for a copy or a fill: memcpy or memset of each row's bytes.
void bench_draw_limit(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    // Hidden from the compiler, which would otherwise expand a constant-size
    // memcpy inline (rep movs) instead of calling the C library's best one.
    std::size_t row_bytes = part_size * sizeof(pixel16);
    benchmark::DoNotOptimize(row_bytes);
    for (auto _ : state) {
        for (std::size_t j = 0; j < part_size; ++j) {
            pixel16* to = d.target.data() + (at_y + j) * target_size + at_x;
            if (op == draw_op::fill)
                std::memset(to, fill_value & 0xFF, row_bytes);
            else
                std::memcpy(to, d.part.data() + j * part_size, row_bytes);
        }
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

} // namespace

void register_drawing()
{
    benchmark::RegisterBenchmark("copy/sprite_blit_16/velmora", bench_draw_velmora, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/plain", bench_draw_plain, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/sdl_blitsurface", bench_draw_sdl, draw_op::blit, 0);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/memcpy_rows", bench_draw_limit, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/velmora", bench_draw_velmora, draw_op::area_blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/plain", bench_draw_plain, draw_op::area_blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/sdl_blitsurface", bench_draw_sdl, draw_op::area_blit, 0);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/memcpy_rows", bench_draw_limit, draw_op::area_blit);
    benchmark::RegisterBenchmark("fill/area_fill_16/velmora", bench_draw_velmora, draw_op::fill);
    benchmark::RegisterBenchmark("fill/area_fill_16/plain", bench_draw_plain, draw_op::fill);
    benchmark::RegisterBenchmark("fill/area_fill_16/sdl_fillrect", bench_draw_sdl, draw_op::fill, 0);
    benchmark::RegisterBenchmark("fill/area_fill_16/memset_rows", bench_draw_limit, draw_op::fill);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/velmora", bench_draw_velmora, draw_op::blend);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/plain", bench_draw_plain, draw_op::blend);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/sdl_alpha_77", bench_draw_sdl, draw_op::blend,
                                 int{sdl_alpha});
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/sdl_alpha_128", bench_draw_sdl, draw_op::blend, 128);
}
