// The aarch64 level: NEON, which every aarch64 processor has.
//
// The spans work on bytes: vld3 splits 16 stored BGR pixels into a blue, a
// green and a red vector, and vld2/vst2 split 16 pixels of 565 into their low
// bytes (green's low three bits, blue) and high bytes (red, green's high three
// bits). The fields are shifted and inserted (sri/sli) between those vectors,
// never unpacked to one lane per pixel and packed again, which is where most of
// a plain loop's instructions go. Byte order matters here, so this level is
// built on little-endian aarch64 only (kernels_levels.h).
//
// Loads and stores need no alignment beyond the pixel's own. Spans shorter than
// a vector go through a small local buffer, so the vector code is the only code
// and nothing is read or written past the span.
#include "kernels_levels.h"

#if VELMORA_NEON

#include <arm_neon.h>

#include <cstring>

#include "kernels_format_loops.h"

namespace {

using namespace kernel_loops;

// ---------------------------------------------------------------- fill

void store_16(pixel16* to, uint16x8_t v)
{
    vst1q_u16(to, v);
    vst1q_u16(to + 8, v);
}

void store_32(pixel16* to, uint16x8_t v)
{
    store_16(to, v);
    store_16(to + 16, v);
}

// Short runs, which run-length data is full of, take two stores that may
// overlap, from both ends, and no loop.
void fill_short_neon(pixel16* to, std::size_t n, uint16x8_t v)
{
    if (n >= 8) {
        vst1q_u16(to, v);
        vst1q_u16(to + n - 8, v);
    } else if (n >= 4) {
        vst1_u16(to, vget_low_u16(v));
        vst1_u16(to + n - 4, vget_low_u16(v));
    } else if (n > 0) {
        // 0, n / 2 and n - 1 cover every pixel of one, two or three.
        const pixel16 p = vgetq_lane_u16(v, 0);
        to[0] = p;
        to[n / 2] = p;
        to[n - 1] = p;
    }
}

// to[i] = value. Up to 64 pixels in stores from both ends, longer runs 32 a
// turn (the stores pair up, two vectors an instruction) and one last group
// that may overlap.
void fill_span_neon(pixel16* to, std::size_t n, pixel16 value)
{
    const uint16x8_t v = vdupq_n_u16(value);
    if (n <= 16) {
        fill_short_neon(to, n, v);
        return;
    }
    if (n <= 32) {
        store_16(to, v);
        store_16(to + n - 16, v);
        return;
    }
    if (n <= 64) {
        store_32(to, v);
        store_32(to + n - 32, v);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        store_32(to + i, v);
    if (i < n)
        store_32(to + n - 32, v);
}

// ---------------------------------------------------------------- BGR to RGB565

std::uint8_t* bytes_of(pixel16* p)
{
    return reinterpret_cast<std::uint8_t*>(p);
}

// Sixteen pixels from 8-bit channels, as the low and high bytes that st2 puts
// together: high = red's top five bits, then green's top three; low = green's
// next three bits, then blue's top five.
uint8x16x2_t pack_565(uint8x16_t red, uint8x16_t green, uint8x16_t blue)
{
    uint8x16x2_t out;
    out.val[0] = vsriq_n_u8(vshlq_n_u8(green, 3), blue, 3);
    out.val[1] = vsriq_n_u8(red, green, 5);
    return out;
}

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
    const uint16x8_t s0 = vld1q_u16(from);
    const uint16x8_t s1 = vld1q_u16(from + 8);
    const uint16x8_t k0 = vceqq_u16(s0, key);
    const uint16x8_t k1 = vceqq_u16(s1, key);
    if (vminvq_u16(vandq_u16(k0, k1)) == 0xFFFF)
        return;
    const uint16x8_t d0 = vld1q_u16(to);
    const uint16x8_t d1 = vld1q_u16(to + 8);
    vst1q_u16(to, vbslq_u16(k0, d0, s0));
    vst1q_u16(to + 8, vbslq_u16(k1, d1, s1));
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
    if (vmaxvq_u8(a) == 0)
        return;
    if (vminvq_u8(a) == 255) {
        vst1q_u16_x2(to, vld1q_u16_x2(from));
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

// ---------------------------------------------------------------- every stored format
//
// Sixteen pixels a group, the last group ending at the span's end and
// overlapping pixels already done (the same bytes again: pixels, opacities and
// stored data never overlap); spans shorter than a group go pixel by pixel.

void bgra16_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, bool alpha_counts)
{
    const uint8x16x4_t in = vld4q_u8(src);
    vst2q_u8(bytes_of(to), pack_565(in.val[2], in.val[1], in.val[0]));
    vst1q_u8(alpha, alpha_counts ? in.val[3] : vdupq_n_u8(255));
}

void bgra_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                    bool alpha_counts)
{
    if (n < 16) {
        bgra_span_portable(to, alpha, src, n, alpha_counts);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        bgra16_neon(to + i, alpha + i, src + 4 * i, alpha_counts);
    if (i < n)
        bgra16_neon(to + n - 16, alpha + n - 16, src + 4 * (n - 16), alpha_counts);
}

// Eight little-endian words as argb16_to_16 has them: red and green move up a
// bit, and below them go green's top bit (word bit 9) and blue.
uint16x8_t argb8_to_565(uint16x8_t v)
{
    const uint16x8_t green_top_blue = vsliq_n_u16(v, vshrq_n_u16(v, 9), 5);
    return vbslq_u16(vdupq_n_u16(0xFFC0), vshlq_n_u16(v, 1), green_top_blue);
}

void argb16_16_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, bool alpha_bit)
{
    const uint8x16_t b0 = vld1q_u8(src);
    const uint8x16_t b1 = vld1q_u8(src + 16);
    vst1q_u16(to, argb8_to_565(vreinterpretq_u16_u8(b0)));
    vst1q_u16(to + 8, argb8_to_565(vreinterpretq_u16_u8(b1)));
    // The high bytes' top bit, spread over the byte: 0 or 255.
    const uint8x16_t high = vuzp2q_u8(b0, b1);
    vst1q_u8(alpha, alpha_bit ? vcltzq_s8(vreinterpretq_s8_u8(high)) : vdupq_n_u8(255));
}

void argb16_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                      bool alpha_bit)
{
    if (n < 16) {
        argb16_span_portable(to, alpha, src, n, alpha_bit);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        argb16_16_neon(to + i, alpha + i, src + 2 * i, alpha_bit);
    if (i < n)
        argb16_16_neon(to + n - 16, alpha + n - 16, src + 2 * (n - 16), alpha_bit);
}

void grey16_neon(pixel16* to, std::uint8_t* alpha, uint8x16_t grey, uint8x16_t a)
{
    vst2q_u8(bytes_of(to), pack_565(grey, grey, grey));
    vst1q_u8(alpha, a);
}

void grey_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    if (n < 16) {
        grey_span_portable(to, alpha, src, n);
        return;
    }
    const uint8x16_t opaque = vdupq_n_u8(255);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        grey16_neon(to + i, alpha + i, vld1q_u8(src + i), opaque);
    if (i < n)
        grey16_neon(to + n - 16, alpha + n - 16, vld1q_u8(src + n - 16), opaque);
}

void grey_alpha16_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src)
{
    const uint8x16x2_t in = vld2q_u8(src);
    grey16_neon(to, alpha, in.val[0], in.val[1]);
}

void grey_alpha_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                          std::size_t n)
{
    if (n < 16) {
        grey_alpha_span_portable(to, alpha, src, n);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        grey_alpha16_neon(to + i, alpha + i, src + 2 * i);
    if (i < n)
        grey_alpha16_neon(to + n - 16, alpha + n - 16, src + 2 * (n - 16));
}

// The opacities of a run, as fill_span_neon stores pixels.
void fill_bytes_neon(std::uint8_t* to, std::size_t n, std::uint8_t value)
{
    const uint8x16_t v = vdupq_n_u8(value);
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            vst1q_u8(to + i, v);
        if (i < n)
            vst1q_u8(to + n - 16, v);
    } else if (n >= 8) {
        vst1_u8(to, vget_low_u8(v));
        vst1_u8(to + n - 8, vget_low_u8(v));
    } else if (n >= 4) {
        const std::uint32_t word = value * 0x01010101u;
        std::memcpy(to, &word, 4);
        std::memcpy(to + n - 4, &word, 4);
    } else if (n > 0) {
        to[0] = value;
        to[n / 2] = value;
        to[n - 1] = value;
    }
}

// ---- colour-mapped

// The packed map (entries pixel | opacity << 16) as three byte planes: the
// pixels' low and high bytes and the opacities, which ld4 takes apart sixteen
// entries at a time. tbl then looks up sixteen indices in 64 entries of a
// plane at once; only the quarters of the map that hold valid entries are used.
struct map_planes {
    std::uint8_t low[256], high[256], alpha[256];
    std::size_t first_quarter, last_quarter;
};

void split_map(map_planes& p, const stored_format& f)
{
    p.first_quarter = f.first / 64;
    p.last_quarter = (f.end - 1) / 64;
    const auto* entries = reinterpret_cast<const std::uint8_t*>(f.map);
    for (std::size_t e = 64 * p.first_quarter; e < 64 * (p.last_quarter + 1); e += 16) {
        const uint8x16x4_t v = vld4q_u8(entries + 4 * e);
        vst1q_u8(p.low + e, v.val[0]);
        vst1q_u8(p.high + e, v.val[1]);
        vst1q_u8(p.alpha + e, v.val[2]);
    }
}

// Indices known valid, so each lies in exactly one of the quarters used: tbl
// gives 0 for an index outside its 64 entries, and tbx leaves such a lane alone.
uint8x16_t look_up(const std::uint8_t* plane, const map_planes& p, uint8x16_t index)
{
    const std::size_t q0 = p.first_quarter;
    uint8x16_t out = vqtbl4q_u8(vld1q_u8_x4(plane + 64 * q0),
                                vsubq_u8(index, vdupq_n_u8(static_cast<std::uint8_t>(64 * q0))));
    for (std::size_t q = q0 + 1; q <= p.last_quarter; ++q) {
        const uint8x16_t in_quarter = vsubq_u8(index, vdupq_n_u8(static_cast<std::uint8_t>(64 * q)));
        out = vqtbx4q_u8(out, vld1q_u8_x4(plane + 64 * q), in_quarter);
    }
    return out;
}

// Sixteen indices are checked before any is looked up: a group holding a bad
// one is left to the pixel-at-a-time loop, which stops exactly there. Valid:
// (index - first) mod 256 <= end - first - 1.
bool all_valid(uint8x16_t index, const stored_format& f)
{
    const uint8x16_t from_first = vsubq_u8(index, vdupq_n_u8(static_cast<std::uint8_t>(f.first)));
    const uint8x16_t last = vdupq_n_u8(static_cast<std::uint8_t>(f.end - f.first - 1));
    return vmaxvq_u8(vcgtq_u8(from_first, last)) == 0;
}

void index16_neon(pixel16* to, std::uint8_t* alpha, uint8x16_t index, const map_planes& p)
{
    uint8x16x2_t px;
    px.val[0] = look_up(p.low, p, index);
    px.val[1] = look_up(p.high, p, index);
    vst2q_u8(bytes_of(to), px);
    vst1q_u8(alpha, look_up(p.alpha, p, index));
}

std::size_t index_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                            std::size_t n, const stored_format& f)
{
    if (n < 16 || f.end <= f.first)
        return index_span_portable(to, alpha, src, n, f);
    map_planes p;
    split_map(p, f);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uint8x16_t index = vld1q_u8(src + i);
        if (!all_valid(index, f))
            return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
        index16_neon(to + i, alpha + i, index, p);
    }
    if (i < n) {
        // The last sixteen again, ending at n; pixels before i are good already.
        const uint8x16_t index = vld1q_u8(src + n - 16);
        if (!all_valid(index, f))
            return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
        index16_neon(to + n - 16, alpha + n - 16, index, p);
    }
    return n;
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

void bgra_span(neon_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
               bool alpha_counts)
{
    bgra_span_neon(to, alpha, src, n, alpha_counts);
}

void argb16_span(neon_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                 std::size_t n, bool alpha_bit)
{
    argb16_span_neon(to, alpha, src, n, alpha_bit);
}

void grey_span(neon_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    grey_span_neon(to, alpha, src, n);
}

void grey_alpha_span(neon_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                     std::size_t n)
{
    grey_alpha_span_neon(to, alpha, src, n);
}

std::size_t index_span(neon_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                       std::size_t n, const stored_format& f)
{
    return index_span_neon(to, alpha, src, n, f);
}

void run_span(neon_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
              std::uint8_t a)
{
    fill_span_neon(to, n, pixel);
    fill_bytes_neon(alpha, n, a);
}

} // namespace

// ---------------------------------------------------------------- the kernels of the level

// Each is the shared loop flattened around this level's spans, so the spans'
// constants stay in registers across a row.

template <>
__attribute__((flatten)) void fill_rows_at<simd_level::neon>(pixel16* first, std::size_t w,
                                                             std::size_t h, std::size_t stride,
                                                             pixel16 value)
{
    fill_rows_with(neon_t{}, first, w, h, stride, value);
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

template <>
__attribute__((flatten)) stored_status decode_stored_at<simd_level::neon>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_with(neon_t{}, format, data, size, run_length, planes);
}

#endif
