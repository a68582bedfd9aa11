// The canvas's peers, each drawing a case the way a program built on it would:
// Allegro 4.4 on 16-bit memory bitmaps, SDL 1.2's clipping SDL_BlitSurface,
// SDL_gfx's zoom and rotozoom (a new 32-bit surface, then a blit), and pixman's
// composite with an affine transform. None of them is exact in every case (5-bit
// alpha, rounded products, other sampling rules), so each reports its share of
// the drawn rectangle's pixels equal to the plain model's.
#define ALLEGRO_NO_MAGIC_MAIN
#include <allegro.h>

#include <SDL.h>
#include <SDL_rotozoom.h>
#include <pixman.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "canvas_cases.h"
#include "peers.h"

namespace canvas_bench {

namespace {

bool keyed(const canvas_case& c) { return (c.flags & draw_key) != 0; }
bool smooth(const canvas_case& c) { return (c.flags & draw_smooth) != 0; }

// What one peer works on, made once before it is timed.
struct peer_run {
    rect_t drawn{};
    BITMAP* allegro_to = nullptr;
    BITMAP* allegro_from = nullptr;
    SDL_Surface* sdl_to = nullptr;
    SDL_Surface* sdl_from = nullptr;
    pixman_image_t* pixman_to = nullptr;
    pixman_image_t* pixman_from = nullptr;
    pixman_image_t* pixman_mask = nullptr;
    bytes opaque; // an opacity plane of 255s for SDL_gfx's 32-bit copy of an opaque sprite
};

// ---- Allegro 4.4: 16-bit bitmaps; a 32-bit RGBA sprite for the alpha plane

BITMAP* allegro_copy(const sprite_t& s)
{
    BITMAP* b = create_bitmap_ex(16, s.w, s.h);
    for (int y = 0; y < s.h; ++y)
        std::memcpy(b->line[y], s.pixels + std::size_t(y) * s.w, s.w * sizeof(pixel16));
    return b;
}

// Each channel the 8-bit expansion velmora blends on (5 or 6 bits shifted up),
// in the ARGB order of SDL's surface. Not makeacol32: without a graphics mode
// Allegro's 32-bit layout is ABGR, but its alpha blender reads ARGB.
BITMAP* allegro_rgba(const sprite_t& s, const std::uint8_t* alpha)
{
    BITMAP* b = create_bitmap_ex(32, s.w, s.h);
    for (int y = 0; y < s.h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(b->line[y]);
        for (int x = 0; x < s.w; ++x) {
            const std::size_t i = std::size_t(y) * s.w + x;
            const std::uint32_t p = s.pixels[i];
            row[x] = std::uint32_t{alpha[i]} << 24 | (p & 0xF800u) << 8 | (p & 0x07E0u) << 5 |
                     (p & 0x001Fu) << 3;
        }
    }
    return b;
}

pixels allegro_pixels(const BITMAP* b)
{
    pixels out(std::size_t(b->w) * b->h);
    for (int y = 0; y < b->h; ++y)
        std::memcpy(out.data() + std::size_t(y) * b->w, b->line[y], b->w * sizeof(pixel16));
    return out;
}

bool allegro_prepare(peer_run& r, const scene& s, const canvas_case& c)
{
    static const bool ready = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    if (!ready)
        return false;
    r.allegro_to = allegro_copy(s.target_sprite);
    r.allegro_from = c.plane ? allegro_rgba(s.src.sprite, s.src.alpha.data()) : allegro_copy(s.src.sprite);
    return r.allegro_to != nullptr && r.allegro_from != nullptr;
}

// The transform: the sprite's centre turned about the canvas's centre, placed
// as rotate_scaled_sprite places it (by the top-left of the unturned sprite).
void allegro_run(const peer_run& r, const canvas_case& c)
{
    BITMAP* to = r.allegro_to;
    BITMAP* from = r.allegro_from;
    switch (c.what) {
    case op::draw:
        if (c.plane) {
            set_alpha_blender();
            draw_trans_sprite(to, from, c.x, c.y);
        } else if (c.opacity != 255) {
            set_trans_blender(0, 0, 0, c.opacity);
            draw_trans_sprite(to, from, c.x, c.y);
        } else if (c.flags & draw_flip_x) {
            draw_sprite_h_flip(to, from, c.x, c.y);
        } else if (keyed(c)) {
            draw_sprite(to, from, c.x, c.y);
        } else {
            blit(from, to, 0, 0, c.x, c.y, from->w, from->h);
        }
        break;
    case op::stretch: stretch_sprite(to, from, c.to.x, c.to.y, c.to.w, c.to.h); break;
    case op::transform: {
        const fixed scale = ftofix(c.scale);
        rotate_scaled_sprite(to, from, c.canvas_w / 2 - ((from->w * scale) / 2 >> 16),
                             c.canvas_h / 2 - ((from->h * scale) / 2 >> 16),
                             ftofix(c.degrees * 256 / 360), scale);
        break;
    }
    }
}

// ---- SDL 1.2's clipping blit: the target a surface over the scene's pixels

bool sdl_prepare(peer_run& r, const scene& s, const canvas_case& c, Uint32 key_flags)
{
    r.sdl_to = surface_over(s.target_sprite);
    if (c.plane) {
        r.sdl_from = argb_surface(s.src.sprite, s.src.alpha.data());
        return r.sdl_to != nullptr && r.sdl_from != nullptr &&
               SDL_SetAlpha(r.sdl_from, SDL_SRCALPHA, SDL_ALPHA_OPAQUE) == 0;
    }
    r.sdl_from = surface_copy(s.src.sprite);
    if (r.sdl_to == nullptr || r.sdl_from == nullptr)
        return false;
    if (keyed(c))
        return SDL_SetColorKey(r.sdl_from, key_flags, mask) == 0;
    return c.opacity == 255 || SDL_SetAlpha(r.sdl_from, SDL_SRCALPHA, c.opacity) == 0;
}

void sdl_blit_at(SDL_Surface* from, SDL_Surface* to, int x, int y)
{
    // SDL writes the clipped rectangle back, so it is made afresh each time.
    SDL_Rect at{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(from, nullptr, to, &at);
}

// ---- SDL_gfx: a 32-bit RGBA source (what it works on; others it converts
// on every call), zoomed or turned into a new surface, blitted with its alpha.

bool sdl_gfx_prepare(peer_run& r, const scene& s, const canvas_case& c)
{
    r.opaque.assign(std::size_t(s.src.sprite.w) * s.src.sprite.h, 255);
    r.sdl_to = surface_over(s.target_sprite);
    r.sdl_from = argb_surface(s.src.sprite, c.plane ? s.src.alpha.data() : r.opaque.data());
    return r.sdl_to != nullptr && r.sdl_from != nullptr;
}

bool sdl_gfx_run(const peer_run& r, const canvas_case& c)
{
    const int filter = smooth(c) ? SMOOTHING_ON : SMOOTHING_OFF;
    const SDL_Surface* from = r.sdl_from;
    // SDL_gfx turns counter-clockwise; the canvas's angles are clockwise on the screen.
    SDL_Surface* made = c.what == op::stretch
                            ? zoomSurface(r.sdl_from, double(c.to.w) / from->w, double(c.to.h) / from->h, filter)
                            : rotozoomSurface(r.sdl_from, -c.degrees, c.scale, filter);
    if (made == nullptr)
        return false;
    // An opaque enlargement is a plain converting blit; a turn needs its transparent corners.
    SDL_SetAlpha(made, c.plane || c.what == op::transform ? SDL_SRCALPHA : 0, SDL_ALPHA_OPAQUE);
    if (c.what == op::stretch)
        sdl_blit_at(made, r.sdl_to, c.to.x, c.to.y);
    else
        sdl_blit_at(made, r.sdl_to, c.canvas_w / 2 - made->w / 2, c.canvas_h / 2 - made->h / 2);
    SDL_FreeSurface(made);
    return true;
}

// ---- pixman: r5g6b5 images over the scene's pixels, the plane an a8 mask

bool plain_placement(const canvas_case& c)
{
    return c.what == op::draw && (c.flags & (draw_flip_x | draw_flip_y)) == 0;
}

// pixman's transform maps a destination pixel's centre to the source, as the
// canvas's does: for a transform it is the case's own, for a stretch the
// scale (rounded to 16.16), for a flip the mirror about the placed area.
pixman_transform_t pixman_map(const canvas_case& c, const sprite_t& src)
{
    std::int64_t xx = 65536, yy = 65536, xy = 0, yx = 0, tx = 0, ty = 0;
    switch (c.what) {
    case op::draw:
        xx = c.flags & draw_flip_x ? -65536 : 65536;
        yy = c.flags & draw_flip_y ? -65536 : 65536;
        tx = c.flags & draw_flip_x ? std::int64_t{c.x + src.w} << 16 : -(std::int64_t{c.x} << 16);
        ty = c.flags & draw_flip_y ? std::int64_t{c.y + src.h} << 16 : -(std::int64_t{c.y} << 16);
        break;
    case op::stretch:
        xx = std::llround(65536.0 * src.w / c.to.w);
        yy = std::llround(65536.0 * src.h / c.to.h);
        tx = -xx * c.to.x;
        ty = -yy * c.to.y;
        break;
    case op::transform:
        xx = c.m.xx, xy = c.m.xy, tx = c.m.tx, yx = c.m.yx, yy = c.m.yy, ty = c.m.ty;
        break;
    }
    pixman_transform_t t;
    pixman_transform_init_identity(&t);
    const std::int64_t row0[] = {xx, xy, tx}, row1[] = {yx, yy, ty};
    for (int k = 0; k < 3; ++k) {
        t.matrix[0][k] = static_cast<pixman_fixed_t>(row0[k]);
        t.matrix[1][k] = static_cast<pixman_fixed_t>(row1[k]);
    }
    return t;
}

void pixman_sample(pixman_image_t* image, const canvas_case& c, const pixman_transform_t& t)
{
    pixman_image_set_transform(image, &t);
    pixman_image_set_filter(image, smooth(c) ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
    // The canvas's stretch repeats the edge pixels under its filter; its turn fades them.
    pixman_image_set_repeat(image, c.what == op::stretch ? PIXMAN_REPEAT_PAD : PIXMAN_REPEAT_NONE);
}

bool pixman_prepare(peer_run& r, scene& s, const canvas_case& c)
{
    r.pixman_to = pixman_565_over(s.target_sprite);
    r.pixman_from = pixman_565_over(s.src.sprite);
    if (c.plane)
        r.pixman_mask = pixman_a8_over(s.src.alpha.data(), s.src.sprite.w, s.src.sprite.h);
    if (r.pixman_to == nullptr || r.pixman_from == nullptr || (c.plane && r.pixman_mask == nullptr))
        return false;
    if (!plain_placement(c)) {
        const pixman_transform_t t = pixman_map(c, s.src.sprite);
        pixman_sample(r.pixman_from, c, t);
        if (r.pixman_mask != nullptr)
            pixman_sample(r.pixman_mask, c, t);
    }
    return true;
}

// A plain placement composites the sprite at (x, y) and lets pixman clip; a
// transformed one covers the drawn rectangle, the source sampled at the same
// coordinates. SRC where the rectangle is all sprite and opaque, OVER elsewhere.
void pixman_run(const peer_run& r, const canvas_case& c)
{
    const pixman_op_t how = c.plane || c.what == op::transform ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
    if (plain_placement(c)) {
        pixman_image_composite32(how, r.pixman_from, r.pixman_mask, r.pixman_to, 0, 0, 0, 0, c.x, c.y,
                                 pixman_image_get_width(r.pixman_from),
                                 pixman_image_get_height(r.pixman_from));
        return;
    }
    const rect_t& d = r.drawn;
    pixman_image_composite32(how, r.pixman_from, r.pixman_mask, r.pixman_to, d.x, d.y, d.x, d.y, d.x,
                             d.y, d.w, d.h);
}

// ---- the same steps for every peer

bool prepare(peer_run& r, peer p, scene& s, const canvas_case& c)
{
    switch (p) {
    case peer::allegro: return allegro_prepare(r, s, c);
    case peer::sdl: return sdl_prepare(r, s, c, SDL_SRCCOLORKEY);
    case peer::sdl_rle: return sdl_prepare(r, s, c, SDL_SRCCOLORKEY | SDL_RLEACCEL);
    case peer::sdl_gfx: return sdl_gfx_prepare(r, s, c);
    case peer::pixman: return pixman_prepare(r, s, c);
    }
    return false;
}

bool run(const peer_run& r, peer p, const canvas_case& c)
{
    switch (p) {
    case peer::allegro: allegro_run(r, c); return true;
    case peer::sdl:
    case peer::sdl_rle: sdl_blit_at(r.sdl_from, r.sdl_to, c.x, c.y); return true;
    case peer::sdl_gfx: return sdl_gfx_run(r, c);
    case peer::pixman: pixman_run(r, c); return true;
    }
    return false;
}

// Allegro draws into its own bitmap; the others into the scene's pixels.
pixels result_of(const peer_run& r, peer p, const scene& s)
{
    return p == peer::allegro ? allegro_pixels(r.allegro_to) : s.target;
}

void release(peer_run& r)
{
    if (r.allegro_from != nullptr)
        destroy_bitmap(r.allegro_from);
    if (r.allegro_to != nullptr)
        destroy_bitmap(r.allegro_to);
    SDL_FreeSurface(r.sdl_from);
    SDL_FreeSurface(r.sdl_to);
    for (pixman_image_t* image : {r.pixman_mask, r.pixman_from, r.pixman_to})
        if (image != nullptr)
            pixman_image_unref(image);
}

} // namespace

std::string peer_name(peer p, const canvas_case& c)
{
    switch (p) {
    case peer::allegro: return "allegro";
    case peer::sdl_rle: return "sdl_colorkey_rle";
    case peer::sdl_gfx: return "sdl_gfx";
    case peer::pixman: return smooth(c) ? "pixman_bilinear" : "pixman";
    case peer::sdl: break;
    }
    if (c.plane)
        return "sdl_pixel_alpha";
    if (keyed(c))
        return "sdl_colorkey";
    return c.opacity == 255 ? "sdl_blitsurface" : "sdl_alpha_" + std::to_string(c.opacity);
}

void bench_peer(benchmark::State& state, canvas_case c, peer p)
{
    const expected e = expected_for(c);
    scene s;
    reset(s, c);
    peer_run r;
    r.drawn = e.drawn;
    if (!prepare(r, p, s, c) || !run(r, p, c)) {
        release(r);
        return fail_check(state, c.name + ": " + peer_name(p, c) + " could not draw");
    }
    // Every pixel outside the drawn rectangle should be untouched, hence equal, and is not counted.
    const std::size_t outside = e.target.size() - area_of(e.drawn);
    const std::size_t same = same_count(result_of(r, p, s), e.target);
    report_exact_share(state, same > outside ? same - outside : 0, area_of(e.drawn));
    for (auto _ : state) {
        run(r, p, c);
        benchmark::ClobberMemory();
    }
    release(r);
    count_pixels(state, area_of(e.drawn));
}

} // namespace canvas_bench
