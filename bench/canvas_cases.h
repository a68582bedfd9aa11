// The canvas benchmarks' cases, shared by bench_canvas.cpp (velmora, the plain
// model, memcpy) and peers_canvas.cpp (Allegro 4.4, SDL 1.2, SDL_gfx, pixman).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "bench_common.h"
#include "tga_writer.h"
#include <velmora/canvas.h>

namespace canvas_bench {

constexpr pixel16 mask = 0xF81F; // magenta: Allegro's mask colour in 16 bits too

struct source {
    pixels colour;
    bytes alpha;
    sprite_t sprite;
};

enum class op { draw, stretch, transform };

struct canvas_case {
    std::string name;
    std::uint16_t canvas_w, canvas_h;
    op what;
    bool keyed_source, plane;
    std::uint32_t flags;
    std::uint8_t opacity;
    std::int32_t x, y;      // draw
    rect_t to;              // stretch
    transform_t m;          // transform: the area's centre turned about the canvas's centre
    double degrees, scale;  // transform, for the peers that take an angle and a scale
    std::function<rgba_picture()> picture;
};

struct scene {
    source src;
    pixels target;
    sprite_t target_sprite;
    draw_t d;
};

// Fresh, seeded pixels every time, so each check starts from the same state.
void reset(scene& s, const canvas_case& c);

std::size_t area_of(const rect_t& r);

// The expected picture and the drawn rectangle of each case, from the plain model.
struct expected {
    pixels target;
    rect_t drawn;
};
expected expected_for(const canvas_case& c);

// What a program would use instead; each draws the case in its own way (the
// variant the case asks for: copy, key, plane, opacity, nearest or smooth).
enum class peer {
    allegro,     // blit, draw_sprite(_h_flip), draw_trans_sprite, stretch_sprite, rotate_scaled_sprite
    sdl,         // the clipping SDL_BlitSurface: copy, colour key, per-pixel or surface alpha
    sdl_rle,     // the same colour key with SDL_RLEACCEL
    sdl_gfx,     // zoomSurface or rotozoomSurface into a new surface, then SDL_BlitSurface
    pixman,      // pixman_image_composite32, transformed where the case is not a plain placement
};

// The contender's name in the benchmark's name (sdl: sdl_blitsurface, sdl_colorkey, ...).
std::string peer_name(peer p, const canvas_case& c);

// Draws the case once on fresh pixels, reports the share of the drawn rectangle's
// pixels equal to the plain model's, then times the peer.
void bench_peer(benchmark::State& state, canvas_case c, peer p);

} // namespace canvas_bench
