// The inner loops of the drawing operations and of the decoder, internal to the
// library. They trust their bounds: the public functions check and clip nothing
// either, and the decoder has validated the header before it calls them.
//
// Every kernel has a portable version and SIMD versions beside it: on x86-64
// SSE2, which is part of x86-64 and always there, and SSSE3 and AVX2, asked of
// the CPU once; on aarch64 NEON, which is always there. Callers pass the level
// to use, normally best_simd_level(); the tests pass every level the machine
// has and hold each to the plain loops. Defining VELMORA_PORTABLE builds the
// portable versions alone.
//
// Where the code lives: kernels_loops.h holds what every level shares (the row
// walks, the 24-bit packet decoder, the pixel-at-a-time spans) and
// kernels_format_loops.h the decoder of every other stored format; each
// instruction set builds them for its own levels around its own spans, in
// kernels_portable.cpp, kernels_x86.cpp with kernels_x86_formats.cpp, and
// kernels_neon.cpp with kernels_neon_formats.cpp; kernels.cpp picks the level.
//
// None of them allocates; each reads its source once.
#pragma once

#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>

enum class simd_level { portable, sse2, ssse3, avx2, neon };

// The highest level this build and this CPU support; fixed for the process.
simd_level best_simd_level();

// Whether this build and this CPU can run `level` (the tests run each that can).
bool level_runs_here(simd_level level);

// floor(y / 255) for every y < 65536, the way the SIMD blends compute it: the
// high half of y * 0x8081, shifted right by 7 more. Proven exhaustively in the tests.
constexpr unsigned div255_by_multiply(unsigned y)
{
    return (y * 0x8081u) >> 23;
}

// floor(y / 255) for every y < 65535, the way the NEON blend computes it, in
// 16-bit lanes without a widening multiply: (y + (y >> 8) + 1) >> 8. Also
// proven exhaustively in the tests.
constexpr unsigned div255_by_add_shift(unsigned y)
{
    return (y + (y >> 8) + 1) >> 8;
}

// row j, pixel i < w:  first[j * stride + i] = value
void fill_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
               std::size_t stride, pixel16 value);

// to[i] = from[i] for i = 0, 1, ..., n - 1 in that order, so where the ranges
// overlap with `to` ahead of `from`, pixels already written are read again and
// the first (to - from) pixels repeat. Otherwise it is memcpy or memmove.
void copy_forward(pixel16* to, const pixel16* from, std::size_t n);

// row j, pixel i < w:  to[j * to_stride + i] = from[j * from_stride + i], rows in
// order, each row as copy_forward has it. The C library's memcpy is as fast as
// a row copy gets (the benchmarks tried an AVX2 loop: no better), so there is
// no SIMD level here.
void copy_rows(pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
               std::size_t w, std::size_t h);

// row j, pixel i < w, p = from[j * from_stride + i]:
//   out[2 * (j * w + i)] = p >> 8, out[2 * (j * w + i) + 1] = p & 0xFF
// Every level loads a pixel before it stores its bytes and walks forward, so
// `out` may be the source's own bytes (an in-place swap) or lie anywhere
// before them; any other overlap is the caller's fault.
void copy_be_rows(simd_level level, std::uint8_t* out, const pixel16* from,
                  std::size_t from_stride, std::size_t w, std::size_t h);

// per field c (red 5, green 6, blue 5 bits), for row j, pixel i < w:
//   T.c = ((255 - weight) * F.c + weight * T.c) / 255
// with T = to[j * to_stride + i], F = from[j * from_stride + i]; rows and pixels
// in order, so an overlap between `to` and `from` gives the pixel-by-pixel result.
// This is the 8-bit blend of sprite_blit_alpha_16 exactly: see sprite.cpp.
void blend_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight);

// ---- Transparent blits: colour key and alpha plane ----
// Rows and pixels in order, like blend_rows: an overlap between `to` and `from`
// gives the pixel-by-pixel result.

// row j, pixel i < w, F = from[j * from_stride + i]:  to[j * to_stride + i] = F wherever F != key
void blit_key_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                   std::size_t from_stride, std::size_t w, std::size_t h, pixel16 key);

// per field c, for row j, pixel i < w, with a = alpha[j * alpha_stride + i]:
//   T.c = (a * F.c + (255 - a) * T.c) / 255
// T, F as in blend_rows: this is blend_rows's pixel at weight 255 - a, and so the
// 8-bit formula of sprite_blit_a8_16 exactly. `alpha` must not overlap `to`.
void blit_a8_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                  std::size_t from_stride, const std::uint8_t* alpha, std::size_t alpha_stride,
                  std::size_t w, std::size_t h);

// to[i] = rgb24_to_16(bgr[3i + 2], bgr[3i + 1], bgr[3i]), i < n; reads exactly 3n
// bytes. `to` must not overlap `bgr`.
void convert_bgr(simd_level level, pixel16* to, const std::uint8_t* bgr, std::size_t n);

// Where a decoded picture goes: the r-th stored row is sprite row r (top row
// first) or h - 1 - r (bottom row first), and its pixels run left to right or,
// mirrored, right to left. The pixels must not overlap the file's bytes.
struct picture_rows {
    pixel16* pixels;
    std::size_t w, h;
    bool top_down;
    bool right_to_left;
};

// Converts the w * h stored pixels at `bgr` (3 * w * h bytes) into the rows.
void expand_raw(simd_level level, const std::uint8_t* bgr, const picture_rows& rows);

// Expands run-length packets (see tga.h) into the rows until w * h pixels are
// written, cutting a packet that reaches past the last one; packets cross row
// ends freely. Reads nothing beyond data[size - 1]. Returns false when the
// packets end early; then only the packets that were whole have been written.
bool expand_rle(simd_level level, const std::uint8_t* data, std::size_t size,
                const picture_rows& rows);

// ---------------------------------------------------------------- decoding every stored format
//
// The decoder of every TGA variant but 24-bit true colour (which has the kernels
// above): stored pixels of one kind become RGB565 pixels and 8-bit opacities.

enum class stored_kind : std::uint8_t {
    bgra32,       // blue, green, red, alpha
    argb16,       // little-endian word: alpha bit 15, red 14-10, green 9-5, blue 4-0
    grey8,        // grey
    grey_alpha16, // grey, alpha
    index8,       // an index into a colour map packed beforehand
};

// Bytes of one stored pixel of `kind`.
constexpr std::size_t stored_bytes(stored_kind kind)
{
    return kind == stored_kind::bgra32                                        ? 4
           : kind == stored_kind::argb16 || kind == stored_kind::grey_alpha16 ? 2
                                                                              : 1;
}

// What an index outside the map finds in stored_format::map: bit 31, which no
// entry has (an entry is pixel | opacity << 16), so a level may test the entry
// it loaded rather than the index.
constexpr std::uint32_t outside_map = 0x80000000u;

// How to read one kind of stored pixel. For index8, the colour map packed once
// into a table indexed by the stored byte itself: index i stands for the pixel
// map[i] & 0xFFFF with opacity map[i] >> 16, valid only for first <= i < end
// (end <= 256); the rest of the table holds outside_map.
struct stored_format {
    stored_kind kind;
    bool alpha_counts; // bgra32: the 4th byte, else 255; argb16: bit 15 (255 or 0), else 255
    const std::uint32_t* map; // index8: 256 entries, outside_map outside [first, end)
    unsigned first, end;
    // index8: the same map as three planes of 256 bytes (the pixels' low bytes,
    // their high bytes, the opacities), for lookups by byte shuffles.
    const std::uint8_t* map_planes = nullptr;
    // index8: every entry in [first, end) has the same opacity (a map of 24-bit
    // or 16-bit entries, or of 32-bit ones without alpha), so the opacities
    // need no lookup.
    bool one_opacity = false;
};

// Where a decoded picture goes, as picture_rows, with an opacity plane of the
// same layout (w bytes a row) or none (null).
struct picture_planes {
    pixel16* pixels;
    std::uint8_t* alpha;
    std::size_t w, h;
    bool top_down;
    bool right_to_left;
};

enum class stored_status { ok, truncated, corrupt };

// Decodes w * h stored pixels of `format` from data[0, size), raw or as
// run-length packets (see tga.h), in the data's order, and stops at the first
// fault: an index outside [first, end) gives corrupt, the data ending before
// w * h pixels truncated. Every whole pixel before the fault has been written
// (a run packet counts once its pixel is whole); nothing after it.
stored_status decode_stored(simd_level level, const stored_format& format, const std::uint8_t* data,
                            std::size_t size, bool run_length, const picture_planes& planes);

// ---------------------------------------------------------------- the canvas (canvas.h)
//
// Rows painted by the canvas's rule: for source pixel S with opacity a (from an
// alpha plane, or 255 without one), nothing happens when the style is keyed and
// S == key; otherwise e = (a * opacity + 127) / 255 and per field c
//   T.c = (e * S.c + (255 - e) * T.c) / 255
// so e = 255 writes S and e = 0 leaves T. Sources and alpha planes must not
// overlap `to`. The canvas has clipped every row before it calls these.

struct paint_style {
    bool keyed;
    pixel16 key;
    unsigned opacity; // 0 to 255
};

// row r < h, pixel i < w:  T = to[r * to_stride + i], S = from[r * from_stride + k],
// a = alpha[r * alpha_stride + k] with k = i, or k = -i when `reversed` (a row
// drawn mirrored reads its source leftwards from `from`). Strides may be negative.
struct paint_rows_job {
    pixel16* to;
    std::ptrdiff_t to_stride;
    const pixel16* from;
    std::ptrdiff_t from_stride;
    const std::uint8_t* alpha; // null: opaque
    std::ptrdiff_t alpha_stride;
    std::size_t w, h;
    bool reversed;
};
void paint_rows(simd_level level, const paint_rows_job& job, const paint_style& style);

// row r < h, pixel i < w:  T = to[r * to_stride + i], S = from[rows[r] + columns[i]],
// a = alpha[rows[r] + columns[i]]: source pixels picked by index (stretched and turned sprites).
// Where rows repeat and the style is a plain copy, the first of them is copied.
// repeat > 0 says that the columns are a whole-number enlargement:
// columns[i] = columns[0] + (phase + i) / repeat, phase < repeat; a plain copy
// then reads columns[0] only, so the table may be shorter than w.
// row_width > 0 lets a kernel read any of from[rows[r] + [0, row_width)], not
// only the picked pixels (a whole source row: loads of eight neighbours).
struct paint_picked_job {
    pixel16* to;
    std::size_t to_stride;
    const pixel16* from;
    const std::uint8_t* alpha; // null: opaque
    const std::size_t* rows;
    const std::size_t* columns;
    std::size_t w, h;
    std::size_t repeat = 0, phase = 0;
    std::size_t row_width = 0;
};
void paint_picked_rows(simd_level level, const paint_picked_job& job, const paint_style& style);

// One run of a turned sprite, opaque (a copy, or a colour key when keyed): pixel
// q < n lands at to[q] from from[first + (v_q >> 17) * stride + (u_q >> 17)],
// u_q = u + q du and v_q = v + q dv, each not negative, every index < count.
struct pick_affine_job {
    pixel16* to;
    const pixel16* from;
    std::size_t count; // pixels at from
    std::size_t first, stride;
    std::int64_t u, v, du, dv;
    std::size_t n;
};
void pick_affine_run(simd_level level, const pick_affine_job& job, bool keyed, pixel16 key);

// One run of a smoothly turned sprite. Pixel q < n: t = floor((u + q du) / 512),
// s = t, or mirror_u - t when flip_u; i = floor(s / 256), f = s mod 256; j and g
// likewise from v. Its four taps at columns i, i + 1 and rows j, j + 1 of the
// w x h pixels at from[first] (row stride `stride`) weigh (256 - f)(256 - g),
// f (256 - g), (256 - f) g, f g, and each has the opacity e of the rule above
// (alpha at the same offset, or 255; 0 when keyed); a tap outside w x h has
// e = 0 and is not read. With W = sum of weight e and per field C = sum of
// weight e S.c:
//   T.c = floor((C + (16711680 - W) T.c) / 16711680),  T = to[q]
// (16711680 = 65536 * 255). Every i lies in [-1, w - 1], every j in [-1, h - 1],
// u + q du and v + q dv >= -131072; without `edge`, every tap lies inside.
struct smooth_affine_job {
    pixel16* to;
    const pixel16* from;
    const std::uint8_t* alpha; // null: opaque
    std::size_t count;         // pixels at from (and bytes at alpha)
    std::size_t first, stride, w, h;
    std::int64_t u, v, du, dv;
    bool flip_u, flip_v;
    std::int64_t mirror_u, mirror_v;
    bool edge;
    std::size_t n;
};
void smooth_affine_run(simd_level level, const smooth_affine_job& job, const paint_style& style);

// row j, pixel i < w:  first[j * stride + i] = value at opacity e (0 to 255) by the rule above
void fill_blend_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
                     std::size_t stride, pixel16 value, unsigned e);

// ---- the smooth stretch (canvas_stretch with draw_smooth)
//
// A block of destination pixels, each the bilinear sum of four source taps:
// two rows and two neighbouring columns of a window of source columns. Per
// axis the two taps weigh weight[0] and weight[1] (0 to 256; a tap the canvas
// leaves out weighs 0). With row taps (t0, v0), (t1, v1), column taps
// (c, u0), (c + 1, u1) and e the tap's effective opacity (the rule above; 255
// for every tap of an opaque job), per field
//   W = sum of v u e,  C = sum of v u e s,  T = floor((C + (16711680 - W) T) / 16711680)
// which is floor(sum of v u s / 65536) when every tap is opaque and the weights
// of each axis sum to 256. Sums stay below 2^32 in every order.

// The most window columns and destination columns one job may have.
constexpr std::size_t smooth_window = 512;
constexpr std::size_t smooth_width = 256;

// floor(n / 16711680) (16711680 = 255 * 65536) for every n < 16711680 * 64: the
// smooth landing's division, as the kernels compute it. Proven in the tests.
constexpr unsigned div_smooth_whole(std::uint32_t n)
{
    return div255_by_multiply(n >> 16);
}

// Destination column i takes window columns at and at + 1 (at + 1 may be the
// window's end when weight[1] is 0: the kernels keep a zero there).
struct smooth_column {
    std::uint16_t at;
    std::uint16_t weight[2];
};

// Destination row r takes the source rows beginning at from + at[0] and from + at[1].
struct smooth_row {
    std::size_t at[2];
    std::uint16_t weight[2];
};

// Pixel i < w of row r < h lands at to[r * to_stride + i]; the window's column k
// of the row at offset o is from[o + k], its opacity alpha[o + k] (alpha null:
// 255). `opaque` promises no plane, no key, opacity 255 and weights summing to 256.
struct smooth_stretch_job {
    pixel16* to;
    std::size_t to_stride;
    const pixel16* from;
    const std::uint8_t* alpha;
    std::size_t window; // 1 to smooth_window
    const smooth_column* columns;
    const smooth_row* rows;
    std::size_t w, h; // w <= smooth_width
    bool opaque;
};
void smooth_stretch_rows(simd_level level, const smooth_stretch_job& job, const paint_style& style);
