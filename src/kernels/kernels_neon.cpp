// The aarch64 level: NEON, which every aarch64 processor has. This file has
// the fill, the BGR conversion, the blend, the transparent blits and the 24-bit
// decoder; kernels_neon_formats.cpp the decoder of every other stored format.
//
// The spans work on bytes: ld3 splits 16 stored BGR pixels into one vector per
// channel, and ld2/st2 split 16 pixels of 565 into their low bytes (green's low
// three bits, blue) and high bytes (red, green's high three bits). The fields
// are shifted and inserted (sri/sli) between those vectors, never unpacked to
// one lane per pixel and packed again, which is where most of a plain loop's
// instructions go. Byte order matters here, so this level is built on
// little-endian aarch64 only (kernels_levels.h).
//
// Loads and stores need no alignment beyond the pixel's own. Nothing is read
// or written past a span: spans shorter than a vector go through a small local
// buffer.
#include "kernels_levels.h"

#if VELMORA_NEON

#include <cstring>

#include "kernels_loops.h"
#include "kernels_neon.h"

namespace {

using namespace kernel_loops;
using namespace neon;

void convert16_neon(pixel16* to, const std::uint8_t* bgr)
{
    const uint8x16x3_t in = vld3q_u8(bgr);
    vst2q_u8(bytes_of(to), pack_565(in.val[2], in.val[1], in.val[0]));
}

// Sixteen at a time; the last sixteen may overlap the others (harmless: `to`
// and `bgr` are distinct, so converting a pixel twice gives the same value).
void convert_bgr_neon(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    if (n < 16) {
        std::uint8_t in[48] = {};
        pixel16 out[16];
        std::memcpy(in, bgr, 3 * n);
        convert16_neon(out, in);
        std::memcpy(to, out, n * sizeof(pixel16));
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        convert16_neon(to + i, bgr + 3 * i);
    if (i < n)
        convert16_neon(to + n - 16, bgr + 3 * (n - 16));
}

// ---------------------------------------------------------------- blend

// The last n < 16 pixels of a span that reads its destination, both sides
// copied out before any of it is written back: the order of a whole group.
// Lanes past n read zeros and are never put back.
struct tail {
    pixel16 to[16];
    pixel16 from[16];
};

tail copy_tail(const pixel16* to, const pixel16* from, std::size_t n)
{
    tail t{};
    std::memcpy(t.to, to, n * sizeof(pixel16));
    std::memcpy(t.from, from, n * sizeof(pixel16));
    return t;
}

void put_back(pixel16* to, const tail& t, std::size_t n)
{
    std::memcpy(to, t.to, n * sizeof(pixel16));
}

// floor(y / 255) for y < 65535 as div255_by_add_shift has it, on eight 16-bit
// lanes, narrowed to bytes: y + (y >> 8), then the high byte of that plus one.
uint8x8_t div255_low(uint16x8_t y)
{
    return vaddhn_u16(vsraq_n_u16(y, y, 8), vdupq_n_u16(1));
}

uint8x16_t div255_high(uint8x8_t low, uint16x8_t y)
{
    return vaddhn_high_u16(low, vsraq_n_u16(y, y, 8), vdupq_n_u16(1));
}

// (take * s + keep * d) / 255 on sixteen fields of up to 6 bits; with
// take + keep = 255 every sum stays below 255 * 64.
uint8x16_t mix(uint8x16_t s, uint8x16_t d, uint8x16_t take, uint8x16_t keep)
{
    const uint16x8_t low = vmlal_u8(vmull_u8(vget_low_u8(s), vget_low_u8(take)), vget_low_u8(d),
                                    vget_low_u8(keep));
    const uint16x8_t high = vmlal_high_u8(vmull_high_u8(s, take), d, keep);
    return div255_high(div255_low(low), high);
}

struct fields {
    uint8x16_t red, green, blue;
};

// From the low and high bytes of sixteen pixels.
fields split(uint8x16x2_t px)
{
    const uint8x16_t low = px.val[0];
    const uint8x16_t high = px.val[1];
    const uint8x16_t green = vandq_u8(vsliq_n_u8(vshrq_n_u8(low, 5), high, 3), vdupq_n_u8(0x3F));
    return {vshrq_n_u8(high, 3), green, vandq_u8(low, vdupq_n_u8(0x1F))};
}

uint8x16x2_t join(fields f)
{
    uint8x16x2_t px;
    px.val[0] = vsliq_n_u8(f.blue, f.green, 5);
    px.val[1] = vsliq_n_u8(vshrq_n_u8(f.green, 3), f.red, 3);
    return px;
}

// Both groups of sixteen are loaded whole before the result is stored, so `to`
// behind or equal to `from` reads only pixels not yet written, as the plain
// loop does.
void blend16_neon(pixel16* to, const pixel16* from, uint8x16_t take, uint8x16_t keep)
{
    const fields s = split(vld2q_u8(reinterpret_cast<const std::uint8_t*>(from)));
    const fields d = split(vld2q_u8(reinterpret_cast<const std::uint8_t*>(to)));
    const fields out{mix(s.red, d.red, take, keep), mix(s.green, d.green, take, keep),
                     mix(s.blue, d.blue, take, keep)};
    vst2q_u8(bytes_of(to), join(out));
}

void blend_span_neon(pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    const uint8x16_t take = vdupq_n_u8(static_cast<std::uint8_t>(255 - weight));
    const uint8x16_t keep = vdupq_n_u8(static_cast<std::uint8_t>(weight));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        blend16_neon(to + i, from + i, take, keep);
    if (i < n) {
        tail t = copy_tail(to + i, from + i, n - i);
        blend16_neon(t.to, t.from, take, keep);
        put_back(to + i, t, n - i);
    }
}

// ---------------------------------------------------------------- transparent blits

// Where the source pixel is the key the destination stays (bsl picks per 16-bit
// lane). Sprites have long stretches of key only, and a group of sixteen that
// is all key is left without loading the destination.
void blit_key16_neon(pixel16* to, const pixel16* from, uint16x8_t key)
{
    const uint16x8x2_t s = load_pixels16(from);
    const uint16x8_t k0 = vceqq_u16(s.val[0], key);
    const uint16x8_t k1 = vceqq_u16(s.val[1], key);
    if (all_ones(vandq_u16(k0, k1)))
        return;
    const uint16x8x2_t d = load_pixels16(to);
    store_pixels16(to, {{vbslq_u16(k0, d.val[0], s.val[0]), vbslq_u16(k1, d.val[1], s.val[1])}});
}

void blit_key_span_neon(pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    const uint16x8_t k = vdupq_n_u16(key);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        blit_key16_neon(to + i, from + i, k);
    if (i < n) {
        tail t = copy_tail(to + i, from + i, n - i);
        blit_key16_neon(t.to, t.from, k);
        put_back(to + i, t, n - i);
    }
}

// The blend with a share per pixel: take = a, keep = 255 - a in each byte lane.
// Sixteen alphas all 0 leave the destination and all 255 copy the source,
// exactly what the formula gives, without it.
void blit_a8_16_neon(pixel16* to, const pixel16* from, uint8x16_t a)
{
    if (all_zero(a))
        return;
    if (all_ones(a)) {
        store_pixels16(to, load_pixels16(from));
        return;
    }
    blend16_neon(to, from, a, vmvnq_u8(a));
}

void blit_a8_span_neon(pixel16* to, const pixel16* from, const std::uint8_t* alpha, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        blit_a8_16_neon(to + i, from + i, vld1q_u8(alpha + i));
    if (i < n) {
        std::uint8_t a[16] = {}; // 0 past the tail: those lanes are left alone
        std::memcpy(a, alpha + i, n - i);
        tail t = copy_tail(to + i, from + i, n - i);
        blit_a8_16_neon(t.to, t.from, vld1q_u8(a));
        put_back(to + i, t, n - i);
    }
}

// ---------------------------------------------------------------- the spans of the level

struct neon_t {};

void fill_span(neon_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_neon(to, n, value); }

void convert_bgr_span(neon_t, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_neon(to, bgr, n);
}

void blend_span(neon_t, pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    blend_span_neon(to, from, n, weight);
}

void blit_key_span(neon_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    blit_key_span_neon(to, from, n, key);
}

void blit_a8_span(neon_t, pixel16* to, const pixel16* from, const std::uint8_t* alpha,
                  std::size_t n)
{
    blit_a8_span_neon(to, from, alpha, n);
}

} // namespace

// ---------------------------------------------------------------- the kernels of the level

// Each is the shared loop flattened around this level's spans, so the spans'
// constants stay in registers across a row.

// Rows longer than 64 pixels (an area of a picture) take the long runs' loop
// straight away, the choice made once for every row.
template <>
__attribute__((flatten)) void fill_rows_at<simd_level::neon>(pixel16* first, std::size_t w,
                                                             std::size_t h, std::size_t stride,
                                                             pixel16 value)
{
    if (w <= 64) {
        fill_rows_with(neon_t{}, first, w, h, stride, value);
        return;
    }
    const fill_vector v = fill_vector_of(vdupq_n_u16(value));
    for (std::size_t j = 0; j < h; ++j)
        fill_long_neon(first + j * stride, w, v);
}

template <>
__attribute__((flatten)) void blend_rows_at<simd_level::neon>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    std::size_t w, std::size_t h, unsigned weight)
{
    blend_rows_with(neon_t{}, to, to_stride, from, from_stride, w, h, weight);
}

template <>
__attribute__((flatten)) void blit_key_rows_at<simd_level::neon>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    std::size_t w, std::size_t h, pixel16 key)
{
    blit_key_rows_with(neon_t{}, to, to_stride, from, from_stride, w, h, key);
}

template <>
__attribute__((flatten)) void blit_a8_rows_at<simd_level::neon>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    const std::uint8_t* alpha, std::size_t alpha_stride, std::size_t w, std::size_t h)
{
    blit_a8_rows_with(neon_t{}, to, to_stride, from, from_stride, alpha, alpha_stride, w, h);
}

template <>
void convert_bgr_at<simd_level::neon>(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_neon(to, bgr, n);
}

template <>
__attribute__((flatten)) void expand_raw_at<simd_level::neon>(const std::uint8_t* bgr,
                                                              const picture_rows& rows)
{
    expand_raw_with(neon_t{}, bgr, rows);
}

template <>
__attribute__((flatten)) bool expand_rle_at<simd_level::neon>(const std::uint8_t* data,
                                                              std::size_t size,
                                                              const picture_rows& rows)
{
    return expand_rle_with(neon_t{}, data, size, rows);
}

// ---------------------------------------------------------------- the canvas
//
// Mirrored runs: eight pixels turned round in the register (ARMv7 NEON has
// both instructions). The rest of a canvas row is the spans above.

namespace {

void reverse_span_neon(pixel16* to, const pixel16* from, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint16x8_t r = vrev64q_u16(vld1q_u16(from - static_cast<std::ptrdiff_t>(i + 7)));
        vst1q_u16(to + i, vcombine_u16(vget_high_u16(r), vget_low_u16(r)));
    }
    reverse_span_portable(to + i, from - static_cast<std::ptrdiff_t>(i), n - i);
}

// The mirrored colour key in one pass: turned round, then merged by a select.
void reverse_key_span_neon(pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    const uint16x8_t k = vdupq_n_u16(key);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint16x8_t r = vrev64q_u16(vld1q_u16(from - static_cast<std::ptrdiff_t>(i + 7)));
        const uint16x8_t s = vcombine_u16(vget_high_u16(r), vget_low_u16(r));
        vst1q_u16(to + i, vbslq_u16(vceqq_u16(s, k), vld1q_u16(to + i), s));
    }
    reverse_key_span_portable(to + i, from - static_cast<std::ptrdiff_t>(i), n - i, key);
}

// Effective opacities eight at a time: (a * o + 127) / 255 in 16-bit lanes, the
// division as div255_by_add_shift, keyed pixels cleared by a compare.
void opacity_span_neon(std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha, std::size_t n,
                       const paint_style& style)
{
    const uint8x8_t o = vdup_n_u8(static_cast<std::uint8_t>(style.opacity));
    const uint16x8_t key = vdupq_n_u16(style.key);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint16x8_t e16 = vmovl_u8(o);
        if (alpha != nullptr) {
            const uint16x8_t y = vaddq_u16(vmull_u8(vld1_u8(alpha + i), o), vdupq_n_u16(127));
            e16 = vshrq_n_u16(vaddq_u16(vaddq_u16(y, vshrq_n_u16(y, 8)), vdupq_n_u16(1)), 8);
        }
        if (style.keyed)
            e16 = vbicq_u16(e16, vceqq_u16(vld1q_u16(s + i), key));
        vst1_u8(e + i, vmovn_u16(e16));
    }
    opacity_span_portable(e + i, s + i, alpha != nullptr ? alpha + i : nullptr, n - i, style);
}

void reverse_span(neon_t, pixel16* to, const pixel16* from, std::size_t n)
{
    reverse_span_neon(to, from, n);
}

// Two or three times each: the interleaving stores write a register to every
// second or third lane (ARMv7 NEON has both); other factors pixel by pixel.
void repeat_span_neon(pixel16* to, const pixel16* from, std::size_t n, std::size_t k,
                      std::size_t phase)
{
    if (k != 2 && k != 3)
        return repeat_span_portable(to, from, n, k, phase);
    std::size_t i = 0;
    if (phase > 0) {
        const std::size_t m = std::min(k - phase, n);
        std::fill(to, to + m, *from++);
        i = m;
    }
    if (k == 2) {
        for (; i + 16 <= n; i += 16, from += 8) {
            const uint16x8_t v = vld1q_u16(from);
            vst2q_u16(to + i, uint16x8x2_t{{v, v}});
        }
    } else {
        for (; i + 24 <= n; i += 24, from += 8) {
            const uint16x8_t v = vld1q_u16(from);
            vst3q_u16(to + i, uint16x8x3_t{{v, v, v}});
        }
    }
    repeat_span_portable(to + i, from, n - i, k, 0);
}

void reverse_key_span(neon_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    reverse_key_span_neon(to, from, n, key);
}

void repeat_span(neon_t, pixel16* to, const pixel16* from, std::size_t n, std::size_t k,
                 std::size_t phase)
{
    repeat_span_neon(to, from, n, k, phase);
}

void opacity_span(neon_t, std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha,
                  std::size_t n, const paint_style& style)
{
    opacity_span_neon(e, s, alpha, n, style);
}

} // namespace

template <>
__attribute__((flatten)) void paint_rows_at<simd_level::neon>(const paint_rows_job& job,
                                                              const paint_style& style)
{
    paint_rows_with(neon_t{}, job, style);
}

template <>
__attribute__((flatten)) void paint_picked_rows_at<simd_level::neon>(const paint_picked_job& job,
                                                                     const paint_style& style)
{
    paint_picked_with(neon_t{}, job, style);
}

template <>
__attribute__((flatten)) void fill_blend_rows_at<simd_level::neon>(pixel16* first, std::size_t w,
                                                                   std::size_t h,
                                                                   std::size_t stride,
                                                                   pixel16 value, unsigned e)
{
    fill_blend_rows_with(neon_t{}, first, w, h, stride, value, e);
}

#endif
