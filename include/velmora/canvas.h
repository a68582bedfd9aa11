// The canvas: drawing that clips. Sprites drawn anywhere, partly or wholly off
// the destination, flipped, faded, stretched and turned, each pixel exact.
//
// The functions of sprite.h trust their caller to keep every rectangle inside;
// a canvas carries a clip rectangle, intersects every operation with it (and
// with the sprite again, so a hand-written clip is harmless), and hands the
// kernels of sprite.h what is left. No function here allocates.
//
// The pixel that lands. An operation maps destination pixel (X, Y) of the clip
// to a position (i, j) of the area A (*d->area, or all of src):
//   1. nothing happens unless 0 <= i < A.w and 0 <= j < A.h;
//   2. draw_flip_x: i = A.w - 1 - i; draw_flip_y: j = A.h - 1 - j;
//   3. S = src(A.x + i, A.y + j); nothing happens if that lies outside src;
//   4. draw_key: nothing happens when S == key;
//   5. a = alpha[(A.y + j) * src->w + A.x + i] (255 without a plane) and the
//      effective opacity e = (a * opacity + 127) / 255;
//   6. per field s of S, d of D:  D = floor((e * s + (255 - e) * d) / 255),
//      the blend of sprite_blit_a8_16: e = 255 writes S, e = 0 leaves D.
//
// Every function returns 0, or -1 without drawing when a pointer it needs is
// null (the canvas, its sprite or pixels, d, d->src, r, to, m) or d->src has a
// size but no pixels. `drawn`, when not null, receives the smallest rectangle
// holding every destination pixel the operation considered (w = h = 0 for none,
// and after -1). Any values of positions, rectangles, areas, flags and matrices
// are safe. A source that shares memory with the canvas gives undefined pixels,
// within the bounds.
#pragma once

#include <cstdint>

#include <velmora/draw.h>

// A rectangle in signed coordinates: x, y may be anywhere; w <= 0 or h <= 0 is empty.
struct rect_t {
    std::int32_t x, y, w, h;
};

// A destination and the part of it that drawing may touch (half-open, like area_t).
struct canvas_t {
    sprite_t* sprite;
    area_t clip;  // kept inside the sprite by canvas_of and canvas_set_clip
};

// clip = the whole sprite (null: a canvas that draws nothing)
canvas_t canvas_of(sprite_t* sprite);

// clip = clip ∩ sprite; null: the whole sprite. A null canvas is left alone.
void canvas_set_clip(canvas_t* canvas, const rect_t* clip);

enum draw_flags : std::uint32_t {
    draw_flip_x = 1,  // mirror left-right within the area
    draw_flip_y = 2,  // mirror top-bottom within the area
    draw_key = 4,     // skip source pixels equal to `key`
    draw_smooth = 8,  // canvas_stretch and canvas_transform: bilinear, soft edges
};

// How one sprite is drawn. `draw_t d{&sprite};` draws the whole sprite, opaque, as it is.
struct draw_t {
    const sprite_t* src;
    const area_t* area = nullptr;         // the part of src (a sprite-sheet cell); null: all of src
    const std::uint8_t* alpha = nullptr;  // opacity plane with src's stride (w * h bytes), or null: opaque
    std::uint32_t flags = 0;
    pixel16 key = 0xF81F;                 // used with draw_key
    std::uint8_t opacity = 255;           // multiplies every pixel's opacity
};

// A map from the destination to the source in 16.16 fixed point: the centre of
// destination pixel (X, Y) lands on the area point
//   u = (xx (X + 1/2) + xy (Y + 1/2) + tx) / 65536,  v = (yx (X + 1/2) + yy (Y + 1/2) + ty) / 65536
// and samples pixel (floor(u), floor(v)) of the area.
struct transform_t {
    std::int32_t xx, xy, tx, yx, yy, ty;
};

// every pixel of r ∩ clip: D = value at opacity `opacity` (255: a plain fill)
int canvas_fill(canvas_t* canvas, const rect_t* r, pixel16 value, std::uint8_t opacity,
                rect_t* drawn);

// the area with its top-left pixel at (x, y): i = X - x, j = Y - y
int canvas_draw(canvas_t* canvas, const draw_t* d, std::int32_t x, std::int32_t y, rect_t* drawn);

// the area scaled to fill `to`:  i = floor((2 (X - to.x) + 1) A.w / (2 to.w)), j likewise
int canvas_stretch(canvas_t* canvas, const draw_t* d, const rect_t* to, rect_t* drawn);

// the area through the map m (see transform_t)
int canvas_transform(canvas_t* canvas, const draw_t* d, const transform_t* m, rect_t* drawn);

// The map that puts the area point (pivot_x, pivot_y) at the destination point
// (x, y), scaled by scale_x and scale_y (negative mirrors), then turned `degrees`
// clockwise on the screen (y down). Multiples of 90 degrees are exact turns.
// A NaN or infinite input, a zero scale or a coefficient past int32 gives
// {0, 0, -65536, 0, 0, -65536}: a map that draws nothing.
transform_t transform_rotozoom(double degrees, double scale_x, double scale_y, double pivot_x,
                               double pivot_y, double x, double y);
