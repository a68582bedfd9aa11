// Transparent blits: the colour key and the alpha plane, against the plain
// loops, SDL 1.2's colour-key blit (with and without SDL_RLEACCEL), its
// per-pixel-alpha blit of a 32-bit surface into a 565 one, pixman's OVER
// through an a8 mask, and memcpy of the same rows.
//
// Sources: a 256 x 256 soft-edged disc, a glow whose every pixel is partly
// transparent, and a sheet of sixteen 64 x 64 tiles drawn by the area forms.
// For the colour key, the sprites' fully transparent pixels are the key.
#include <SDL.h>
#include <pixman.h>

#include <cstring>
#include <map>
#include <string>

#include "bench_common.h"
#include "peers.h"
#include "pictures.h"
#include "plain.h"
#include <velmora/sprite.h>

namespace {

constexpr pixel16 key = 0xF81F; // magenta, the traditional transparent colour
constexpr std::uint16_t sprite_size = 256;

enum class transparency { key, alpha8 };
enum class layer { disc, glow, tiles };

struct blit_case {
    transparency how;
    layer what;
};

std::string name_of(const blit_case& c)
{
    const bool tiles = c.what == layer::tiles;
    const std::string op = c.how == transparency::key
                               ? (tiles ? "key/sprite_area_blit_key_16" : "key/sprite_blit_key_16")
                               : (tiles ? "alpha8/sprite_area_blit_a8_16" : "alpha8/sprite_blit_a8_16");
    return op + "/" + (c.what == layer::disc ? "disc" : c.what == layer::glow ? "glow" : "tiles");
}

// Where a blit puts its rectangles: the whole sprite once, or the sheet's
// sixteen tiles on a grid with gaps between them. Either way 256 x 256 pixels.
struct placement {
    area_t area;
    std::uint16_t x, y;
};
constexpr std::size_t blit_pixels = std::size_t{sprite_size} * sprite_size;

std::vector<placement> make_placements(layer what)
{
    if (what != layer::tiles)
        return {{{0, 0, sprite_size, sprite_size}, at_x, at_y}};
    std::vector<placement> out;
    constexpr int pitch = 80;
    for (std::uint16_t ty = 0; ty < sheet_size; ty += tile_size)
        for (std::uint16_t tx = 0; tx < sheet_size; tx += tile_size)
            out.push_back({{tx, ty, tile_size, tile_size},
                           static_cast<std::uint16_t>(at_x + tx / tile_size * pitch),
                           static_cast<std::uint16_t>(at_y + ty / tile_size * pitch)});
    return out;
}

const std::vector<placement>& placements(layer what)
{
    static const std::vector<placement> whole = make_placements(layer::disc);
    static const std::vector<placement> tiles = make_placements(layer::tiles);
    return what == layer::tiles ? tiles : whole;
}

struct source_sprite {
    pixels colour; // the sprite packed to RGB565
    pixels keyed;  // the same with the key where it is fully transparent
    bytes alpha;
};

source_sprite make_source(layer what)
{
    const rgba_picture s = what == layer::disc  ? soft_disc(sprite_size, 7)
                          : what == layer::glow ? glow(sprite_size, 8)
                                                : sprite_sheet(9);
    return {pixels_565(s), keyed_565(s, key), opacity(s)};
}

// Made on first use, so a filtered run makes only what it times.
const source_sprite& source_for(layer what)
{
    static std::map<layer, source_sprite> made;
    auto found = made.find(what);
    if (found == made.end())
        found = made.emplace(what, make_source(what)).first;
    return found->second;
}

struct scene {
    pixels target, source;
    bytes alpha;
    sprite_t target_sprite, source_sprite;
};

// Fresh, seeded pixels every time, so each check starts from the same state.
void reset(scene& s, const blit_case& c)
{
    const source_sprite& from = source_for(c.what);
    s.target = random_pixels(target_pixels, 1);
    s.source = c.how == transparency::key ? from.keyed : from.colour;
    s.alpha = from.alpha;
    s.target_sprite = {target_size, target_size, 16, s.target.data()};
    s.source_sprite = {sprite_size, sprite_size, 16, s.source.data()};
}

void blit_velmora(scene& s, const blit_case& c)
{
    sprite_t* dst = &s.target_sprite;
    const sprite_t* src = &s.source_sprite;
    if (c.what != layer::tiles) {
        if (c.how == transparency::key)
            sprite_blit_key_16(dst, src, at_x, at_y, key);
        else
            sprite_blit_a8_16(dst, src, s.alpha.data(), at_x, at_y);
        return;
    }
    for (const placement& p : placements(c.what)) {
        if (c.how == transparency::key)
            sprite_area_blit_key_16(dst, src, &p.area, p.x, p.y, key);
        else
            sprite_area_blit_a8_16(dst, src, s.alpha.data(), &p.area, p.x, p.y);
    }
}

void blit_plain(scene& s, const blit_case& c)
{
    sprite_t* dst = &s.target_sprite;
    const sprite_t* src = &s.source_sprite;
    if (c.what != layer::tiles) {
        if (c.how == transparency::key)
            plain::sprite_blit_key_16(dst, src, at_x, at_y, key);
        else
            plain::sprite_blit_a8_16(dst, src, s.alpha.data(), at_x, at_y);
        return;
    }
    for (const placement& p : placements(c.what)) {
        if (c.how == transparency::key)
            plain::sprite_area_blit_key_16(dst, src, &p.area, p.x, p.y, key);
        else
            plain::sprite_area_blit_a8_16(dst, src, s.alpha.data(), &p.area, p.x, p.y);
    }
}

const pixels& expected_for(const blit_case& c)
{
    static std::map<std::string, pixels> made;
    const std::string name = name_of(c);
    auto found = made.find(name);
    if (found == made.end()) {
        scene s;
        reset(s, c);
        blit_plain(s, c);
        found = made.emplace(name, s.target).first;
    }
    return found->second;
}

// The share of the blitted pixels that equal the plain loop's; every other
// pixel of the target is untouched, hence equal, and not counted.
void report_share(benchmark::State& state, const pixels& result, const blit_case& c)
{
    const pixels& expected = expected_for(c);
    const std::size_t outside = expected.size() - blit_pixels;
    report_exact_share(state, same_count(result, expected) - outside, blit_pixels);
}

void bench_velmora(benchmark::State& state, blit_case c)
{
    scene s;
    reset(s, c);
    blit_velmora(s, c);
    if (s.target != expected_for(c))
        return fail_check(state, name_of(c) + ": velmora differs from the plain loop");
    for (auto _ : state) {
        blit_velmora(s, c);
        benchmark::ClobberMemory();
    }
    count_pixels(state, blit_pixels);
}

void bench_plain(benchmark::State& state, blit_case c)
{
    scene s;
    reset(s, c);
    for (auto _ : state) {
        blit_plain(s, c);
        benchmark::ClobberMemory();
    }
    count_pixels(state, blit_pixels);
}

void blit_sdl(SDL_Surface* from, SDL_Surface* to, layer what)
{
    for (const placement& p : placements(what)) {
        // SDL writes the clipped rectangles back, so they are made afresh each time.
        SDL_Rect area{static_cast<Sint16>(p.area.x), static_cast<Sint16>(p.area.y), p.area.w, p.area.h};
        SDL_Rect at{static_cast<Sint16>(p.x), static_cast<Sint16>(p.y), p.area.w, p.area.h};
        SDL_BlitSurface(from, &area, to, &at);
    }
}

// SDL 1.2 on software surfaces: the target over the scene's pixels, the source
// a surface of its own. The colour key must give the plain loop's bytes; the
// per-pixel alpha blend cuts alpha to 5 bits, so its exact share is reported.
void bench_sdl(benchmark::State& state, blit_case c, Uint32 key_flags)
{
    scene s;
    reset(s, c);
    SDL_Surface* target = surface_over(s.target_sprite);
    SDL_Surface* source = c.how == transparency::key ? surface_copy(s.source_sprite)
                                                     : argb_surface(s.source_sprite, s.alpha.data());
    const int set = source == nullptr ? -1
                    : c.how == transparency::key ? SDL_SetColorKey(source, key_flags, key)
                                                 : SDL_SetAlpha(source, SDL_SRCALPHA, SDL_ALPHA_OPAQUE);
    if (target == nullptr || set != 0) {
        SDL_FreeSurface(source);
        SDL_FreeSurface(target);
        return fail_check(state, name_of(c) + ": SDL could not make its surfaces");
    }
    blit_sdl(source, target, c.what);
    const bool exact = s.target == expected_for(c);
    if (c.how == transparency::alpha8)
        report_share(state, s.target, c);
    if (c.how == transparency::key && !exact) {
        SDL_FreeSurface(source);
        SDL_FreeSurface(target);
        return fail_check(state, name_of(c) + ": SDL differs from the plain loop");
    }
    for (auto _ : state) {
        blit_sdl(source, target, c.what);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(source);
    SDL_FreeSurface(target);
    count_pixels(state, blit_pixels);
}

void bench_sdl_colorkey(benchmark::State& state, blit_case c)
{
    bench_sdl(state, c, SDL_SRCCOLORKEY);
}

void bench_sdl_colorkey_rle(benchmark::State& state, blit_case c)
{
    bench_sdl(state, c, SDL_SRCCOLORKEY | SDL_RLEACCEL);
}

void bench_sdl_pixel_alpha(benchmark::State& state, blit_case c)
{
    bench_sdl(state, c, 0);
}

void composite_pixman(pixman_image_t* src, pixman_image_t* mask, pixman_image_t* dst, layer what)
{
    for (const placement& p : placements(what))
        pixman_image_composite(PIXMAN_OP_OVER, src, mask, dst, static_cast<std::int16_t>(p.area.x),
                               static_cast<std::int16_t>(p.area.y), static_cast<std::int16_t>(p.area.x),
                               static_cast<std::int16_t>(p.area.y), static_cast<std::int16_t>(p.x),
                               static_cast<std::int16_t>(p.y), p.area.w, p.area.h);
}

// pixman widens 5 and 6 bits by repeating their top bits and rounds its
// products, so its exact share is reported.
void bench_pixman(benchmark::State& state, blit_case c)
{
    scene s;
    reset(s, c);
    pixman_image_t* dst = pixman_565_over(s.target_sprite);
    pixman_image_t* src = pixman_565_over(s.source_sprite);
    pixman_image_t* mask = pixman_a8_over(s.alpha.data(), sprite_size, sprite_size);
    if (dst == nullptr || src == nullptr || mask == nullptr)
        return fail_check(state, name_of(c) + ": pixman could not make its images");
    composite_pixman(src, mask, dst, c.what);
    report_share(state, s.target, c);
    for (auto _ : state) {
        composite_pixman(src, mask, dst, c.what);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(mask);
    pixman_image_unref(src);
    pixman_image_unref(dst);
    count_pixels(state, blit_pixels);
}

// The floor for a blit: memcpy of each row's bytes, transparent or not.
void bench_memcpy_rows(benchmark::State& state, blit_case c)
{
    scene s;
    reset(s, c);
    for (auto _ : state) {
        for (const placement& p : placements(c.what)) {
            // Hidden from the compiler, which would otherwise expand a
            // constant-size memcpy inline instead of calling the C library's.
            std::size_t row_bytes = p.area.w * sizeof(pixel16);
            benchmark::DoNotOptimize(row_bytes);
            for (std::size_t j = 0; j < p.area.h; ++j)
                std::memcpy(s.target.data() + (p.y + j) * target_size + p.x,
                            s.source.data() + (p.area.y + j) * sprite_size + p.area.x, row_bytes);
        }
        benchmark::ClobberMemory();
    }
    count_pixels(state, blit_pixels);
}

} // namespace

void register_transparent_blits()
{
    for (layer what : {layer::disc, layer::tiles}) {
        const blit_case c{transparency::key, what};
        const std::string name = name_of(c);
        benchmark::RegisterBenchmark((name + "/velmora").c_str(), bench_velmora, c);
        benchmark::RegisterBenchmark((name + "/plain").c_str(), bench_plain, c);
        benchmark::RegisterBenchmark((name + "/sdl_colorkey").c_str(), bench_sdl_colorkey, c);
        benchmark::RegisterBenchmark((name + "/sdl_colorkey_rle").c_str(), bench_sdl_colorkey_rle, c);
        benchmark::RegisterBenchmark((name + "/memcpy_rows").c_str(), bench_memcpy_rows, c);
    }
    for (layer what : {layer::disc, layer::glow, layer::tiles}) {
        const blit_case c{transparency::alpha8, what};
        const std::string name = name_of(c);
        benchmark::RegisterBenchmark((name + "/velmora").c_str(), bench_velmora, c);
        benchmark::RegisterBenchmark((name + "/plain").c_str(), bench_plain, c);
        benchmark::RegisterBenchmark((name + "/sdl_pixel_alpha").c_str(), bench_sdl_pixel_alpha, c);
        benchmark::RegisterBenchmark((name + "/pixman").c_str(), bench_pixman, c);
    }
}
