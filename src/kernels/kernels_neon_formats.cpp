// The aarch64 spans of the decoder of every stored format (32-bit, 16-bit,
// grey and colour-mapped pixels, and runs with their opacity), and its kernel,
// built as kernels_neon.cpp builds the others.
//
// ld4 and ld2 split stored pixels into one vector per byte; colour maps are
// looked up by tbl, 16 indices at once. Each span converts groups of sixteen
// and then one last group that ends at the span's end, overlapping pixels
// already done (the same bytes again: pixels, opacities and stored data never
// overlap); spans shorter than a group go pixel by pixel.
#include "kernels_levels.h"

#if VELMORA_NEON

#include <cstring>

#include "kernels_format_loops.h"
#include "kernels_neon.h"
// After kernels_neon.h: templates only, whose NEON instances are built for NEON.
#include "kernels_index_walk.h"

namespace {

using namespace kernel_loops;
using namespace neon;

// ---------------------------------------------------------------- true colour and grey

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

// The map's three byte planes (stored_format::map_planes): tbl looks up
// sixteen indices in 64 entries of a plane at once, and only the quarters of
// the map that hold valid entries are searched.
constexpr std::size_t plane_bytes = 256;

uint8x16_t minus(uint8x16_t v, std::size_t k)
{
    return vsubq_u8(v, vdupq_n_u8(static_cast<std::uint8_t>(k)));
}

std::uint8_t last_valid(const stored_format& f)
{
    return static_cast<std::uint8_t>(f.end - f.first - 1);
}

// Sixteen indices are checked before any is looked up: a group holding a bad
// one is left to the pixel-at-a-time loop, which stops exactly there. Valid:
// (index - first) mod 256 <= end - first - 1.
bool all_valid(uint8x16_t index, const stored_format& f)
{
    return all_zero(vcgtq_u8(minus(index, f.first), vdupq_n_u8(last_valid(f))));
}

bool all_valid(uint8x8_t index, const stored_format& f)
{
    const uint8x8_t from_first = vsub_u8(index, vdup_n_u8(static_cast<std::uint8_t>(f.first)));
    return all_zero(vcgt_u8(from_first, vdup_n_u8(last_valid(f))));
}

// On aarch64 zip and two stores rather than st2, which wants its pair in
// adjacent registers: GCC puts pairs held in arrays through the stack to get
// them there. 32-bit ARM has no zip into a third register; vst2 counted fewer
// instructions there than vzip and two stores.
void store_pixels(pixel16* to, uint8x16_t low, uint8x16_t high)
{
#if defined(__aarch64__)
    vst1q_u8(bytes_of(to), vzip1q_u8(low, high));
    vst1q_u8(bytes_of(to) + 16, vzip2q_u8(low, high));
#else
    vst2q_u8(bytes_of(to), uint8x16x2_t{{low, high}});
#endif
}

void store_mapped(pixel16* to, std::uint8_t* alpha, uint8x16_t low, uint8x16_t high,
                  uint8x16_t a)
{
    const uint8x16x2_t px{{low, high}};
    vst2q_u8(bytes_of(to), px);
    vst1q_u8(alpha, a);
}

// The one-quarter groups are inlined into the 32-bit span by force (called,
// their tables went through memory); on aarch64 GCC chooses: forced there,
// pixel art counted 2.41 instructions a pixel instead of 1.95.
#if defined(__aarch64__)
#define ONE_QUARTER_INLINE inline
#else
#define ONE_QUARTER_INLINE __attribute__((always_inline)) inline
#endif

// A quarter's tables: the pixels' two planes, and the opacities' plane or, for a
// map whose entries share one opacity, that opacity. Without the third table
// only 16 of 32-bit ARM's 32 d registers hold tables (three took 24, and GCC
// reloaded them from the stack every group).
template <typename Opacity>
struct quarter_tables {
    table64 low, high;
    Opacity opacity;
};

inline uint8x16_t opacities(const table64& t, uint8x16_t index) { return lookup64(t, index); }
inline uint8x8_t opacities(const table64& t, uint8x8_t index) { return lookup64(t, index); }
#if !defined(__aarch64__)
inline uint8x16_t opacities(uint8x16_t one, uint8x16_t) { return one; }
inline uint8x8_t opacities(uint8x16_t one, uint8x8_t) { return vget_low_u8(one); }
#endif

// Sixteen indices of one quarter, if all are valid.
template <typename Opacity>
ONE_QUARTER_INLINE bool
index16_one_quarter(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                    const stored_format& f, const quarter_tables<Opacity>& t, std::size_t q)
{
    const uint8x16_t index = vld1q_u8(src);
    if (!all_valid(index, f))
        return false;
    const uint8x16_t in_quarter = minus(index, 64 * q);
    store_mapped(to, alpha, lookup64(t.low, in_quarter), lookup64(t.high, in_quarter),
                 opacities(t.opacity, in_quarter));
    return true;
}

// Eight indices of one quarter, if all are valid: pixel art's raw packets are
// mostly shorter than sixteen.
template <typename Opacity>
ONE_QUARTER_INLINE bool
index8_one_quarter(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                   const stored_format& f, const quarter_tables<Opacity>& t, std::size_t q)
{
    const uint8x8_t index = vld1_u8(src);
    if (!all_valid(index, f))
        return false;
    const uint8x8_t in_quarter = vsub_u8(index, vdup_n_u8(static_cast<std::uint8_t>(64 * q)));
    const uint8x8x2_t px{{lookup64(t.low, in_quarter), lookup64(t.high, in_quarter)}};
    vst2_u8(bytes_of(to), px);
    vst1_u8(alpha, opacities(t.opacity, in_quarter));
    return true;
}

// Up to 64 colours in one quarter, the usual pixel-art palette: the tables
// stay in registers for the whole span. The last group ends at the span's end,
// overlapping pixels already good; spans of 8 to 15 pixels take two groups of
// eight.
template <typename Opacity>
ONE_QUARTER_INLINE std::size_t
index_one_quarter(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                  const stored_format& f, const quarter_tables<Opacity>& t, std::size_t q)
{
    if (n < 16) {
        if (!index8_one_quarter(to, alpha, src, f, t, q))
            return 0;
        return index8_one_quarter(to + n - 8, alpha + n - 8, src + n - 8, f, t, q) ? n : 8;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        if (!index16_one_quarter(to + i, alpha + i, src + i, f, t, q))
            return i;
    if (i < n && index16_one_quarter(to + n - 16, alpha + n - 16, src + n - 16, f, t, q))
        return n;
    return i;
}

// On 32-bit ARM a map of one opacity leaves out the third table, and the span
// is not inlined, like index_quarters: inside the packet walk GCC kept the
// tables on the stack and reloaded them every group (pixel art counted 4.85
// instructions a pixel, 3.56 out of line). aarch64 has the registers and keeps
// its three tables inlined: the 32-bit form counted 2.22 there against 1.95.
#if defined(__aarch64__)
std::size_t index_one_quarter(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                              std::size_t n, const stored_format& f,
                              const std::uint8_t* planes, std::size_t q)
{
    const quarter_tables<table64> t{load_table64(planes + 64 * q),
                                    load_table64(planes + plane_bytes + 64 * q),
                                    load_table64(planes + 2 * plane_bytes + 64 * q)};
    return index_one_quarter(to, alpha, src, n, f, t, q);
}
#else
// Whether all n >= 16 indices are valid, in a pass of their own before any is
// looked up: 64 at a time by vld4 (their order does not matter here), fourteen
// instructions with the loop's for them, where a test per group of sixteen
// took seven.
uint8x16_t from_first(uint8x16_t index, uint8x16_t first) { return vsubq_u8(index, first); }

bool all_valid_span(const std::uint8_t* src, std::size_t n, const stored_format& f)
{
    const uint8x16_t first = vdupq_n_u8(static_cast<std::uint8_t>(f.first));
    const std::uint8_t* const end = src + n;
    uint8x16_t most = from_first(vld1q_u8(end - 16), first);
    for (std::size_t k = n / 64; k > 0; --k, src += 64) {
        const uint8x16x4_t index = vld4q_u8(src);
        const uint8x16_t low = vmaxq_u8(from_first(index.val[0], first),
                                        from_first(index.val[1], first));
        const uint8x16_t high = vmaxq_u8(from_first(index.val[2], first),
                                         from_first(index.val[3], first));
        most = vmaxq_u8(most, vmaxq_u8(low, high));
    }
    for (; end - src > 16; src += 16)
        most = vmaxq_u8(most, from_first(vld1q_u8(src), first));
    return all_zero(vcgtq_u8(most, vdupq_n_u8(last_valid(f))));
}

// Sixteen indices known valid, less the quarter's first when it is not 0.
template <bool FirstQuarter, typename Opacity>
ONE_QUARTER_INLINE void index16_valid(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                      const quarter_tables<Opacity>& t, uint8x16_t quarter_start)
{
    const uint8x16_t index = vld1q_u8(src);
    const uint8x16_t in_quarter = FirstQuarter ? index : vsubq_u8(index, quarter_start);
    store_mapped(to, alpha, lookup64(t.low, in_quarter), lookup64(t.high, in_quarter),
                 opacities(t.opacity, in_quarter));
}

// n >= 16 indices known valid; the last group ends at the span's end.
template <bool FirstQuarter, typename Opacity>
ONE_QUARTER_INLINE void index_valid_span(pixel16* to, std::uint8_t* alpha,
                                         const std::uint8_t* src, std::size_t n,
                                         const quarter_tables<Opacity>& t, std::size_t q)
{
    const uint8x16_t quarter_start = vdupq_n_u8(static_cast<std::uint8_t>(64 * q));
    const std::uint8_t* const last = src + n - 16;
    index16_valid<FirstQuarter>(to + n - 16, alpha + n - 16, last, t, quarter_start);
    for (; src < last; src += 16, to += 16, alpha += 16)
        index16_valid<FirstQuarter>(to, alpha, src, t, quarter_start);
}

// A span whose indices are all valid (the usual case) is looked up without a
// test per group (and, in the first quarter, without taking its start off);
// one with a bad index goes group by group to find it.
template <typename Opacity>
ONE_QUARTER_INLINE std::size_t
index_one_quarter_span(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                               std::size_t n, const stored_format& f,
                               const quarter_tables<Opacity>& t, std::size_t q, bool valid)
{
    if (!valid)
        return index_one_quarter(to, alpha, src, n, f, t, q);
    if (q == 0)
        index_valid_span<true>(to, alpha, src, n, t, q);
    else
        index_valid_span<false>(to, alpha, src, n, t, q);
    return n;
}

// The indices are checked before the tables are loaded: the call would save them.
__attribute__((noinline)) std::size_t
index_one_quarter(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                  const stored_format& f, const std::uint8_t* planes, std::size_t q)
{
    const bool valid = n >= 16 && all_valid_span(src, n, f);
    const table64 low = load_table64(planes + 64 * q);
    const table64 high = load_table64(planes + plane_bytes + 64 * q);
    if (f.one_opacity) {
        const uint8x16_t one = vdupq_n_u8(static_cast<std::uint8_t>(f.map[f.first] >> 16));
        const quarter_tables<uint8x16_t> t{low, high, one};
        return index_one_quarter_span(to, alpha, src, n, f, t, q, valid);
    }
    const quarter_tables<table64> t{low, high, load_table64(planes + 2 * plane_bytes + 64 * q)};
    return index_one_quarter_span(to, alpha, src, n, f, t, q, valid);
}
#endif

// Indices known valid, so each lies in exactly one of the quarters: tbl gives
// 0 for an index outside its 64 entries, and tbx leaves such a lane alone.
uint8x16_t look_up(const std::uint8_t* plane, uint8x16_t index, std::size_t q0, std::size_t q1)
{
    uint8x16_t out = lookup64(load_table64(plane + 64 * q0), minus(index, 64 * q0));
    for (std::size_t q = q0 + 1; q <= q1; ++q)
        out = lookup64_or_keep(out, load_table64(plane + 64 * q), minus(index, 64 * q));
    return out;
}

// Sixty-four indices at once over several quarters: each quarter's table of a
// plane, loaded once, serves four registers of indices. The tables of a whole
// palette do not fit the registers, and loading them again for every sixteen
// indices cost more than the lookups. Written out register by register: GCC
// keeps arrays of vectors in memory and loops over them.
uint8x16x4_t minus4(uint8x16x4_t v, std::size_t k)
{
    const uint8x16_t d = vdupq_n_u8(static_cast<std::uint8_t>(k));
    return {{vsubq_u8(v.val[0], d), vsubq_u8(v.val[1], d), vsubq_u8(v.val[2], d),
             vsubq_u8(v.val[3], d)}};
}

uint8x16x4_t look_up64(const std::uint8_t* plane, uint8x16x4_t index, std::size_t q0,
                       std::size_t q1)
{
    uint8x16x4_t in = minus4(index, 64 * q0);
    const table64 t0 = load_table64(plane + 64 * q0);
    uint8x16x4_t out{{lookup64(t0, in.val[0]), lookup64(t0, in.val[1]), lookup64(t0, in.val[2]),
                      lookup64(t0, in.val[3])}};
    for (std::size_t q = q0 + 1; q <= q1; ++q) {
        in = minus4(in, 64);
        const table64 t = load_table64(plane + 64 * q);
        out.val[0] = lookup64_or_keep(out.val[0], t, in.val[0]);
        out.val[1] = lookup64_or_keep(out.val[1], t, in.val[1]);
        out.val[2] = lookup64_or_keep(out.val[2], t, in.val[2]);
        out.val[3] = lookup64_or_keep(out.val[3], t, in.val[3]);
    }
    return out;
}

// Sixteen indices in a map over all four quarters (more than 192 entries): the
// four lookups written out, one table after the other.
__attribute__((always_inline)) inline uint8x16_t
look_up_all_quarters(uint8x16_t index, const table64& t0, const table64& t1, const table64& t2,
                     const table64& t3)
{
    const uint8x16_t quarter = vdupq_n_u8(64);
    uint8x16_t out = lookup64(t0, index);
    index = vsubq_u8(index, quarter);
    out = lookup64_or_keep(out, t1, index);
    index = vsubq_u8(index, quarter);
    out = lookup64_or_keep(out, t2, index);
    return lookup64_or_keep(out, t3, vsubq_u8(index, quarter));
}

// The same for sixty-four: the sixteen registers of a plane's tables, loaded
// once, and no loop over the quarters.
__attribute__((always_inline)) inline uint8x16x4_t
look_up64_all_quarters(const std::uint8_t* plane, uint8x16x4_t index)
{
    const table64 t0 = load_table64(plane);
    const table64 t1 = load_table64(plane + 64);
    const table64 t2 = load_table64(plane + 128);
    const table64 t3 = load_table64(plane + 192);
    return {{look_up_all_quarters(index.val[0], t0, t1, t2, t3),
             look_up_all_quarters(index.val[1], t0, t1, t2, t3),
             look_up_all_quarters(index.val[2], t0, t1, t2, t3),
             look_up_all_quarters(index.val[3], t0, t1, t2, t3)}};
}

// What index_quarters knows about the map for the whole span.
struct quarters_map {
    const std::uint8_t* planes;
    std::size_t q0, q1;
    bool every_index_valid; // a whole palette from index 0: nothing to check
    uint8x16_t opacity;     // the entries' one opacity, when they share one
};

bool all_valid(uint8x16x4_t index, const stored_format& f)
{
    const uint8x16x4_t from_first = minus4(index, f.first);
    const uint8x16_t low = vmaxq_u8(from_first.val[0], from_first.val[1]);
    const uint8x16_t high = vmaxq_u8(from_first.val[2], from_first.val[3]);
    return all_zero(vcgtq_u8(vmaxq_u8(low, high), vdupq_n_u8(last_valid(f))));
}

// Sixty-four indices, if all are valid.
bool index64_quarters(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                      const stored_format& f, const quarters_map& m)
{
    const uint8x16x4_t index = load_bytes64(src);
    if (!m.every_index_valid && !all_valid(index, f))
        return false;
    const uint8x16x4_t low = look_up64(m.planes, index, m.q0, m.q1);
    const uint8x16x4_t high = look_up64(m.planes + plane_bytes, index, m.q0, m.q1);
    store_pixels(to, low.val[0], high.val[0]);
    store_pixels(to + 16, low.val[1], high.val[1]);
    store_pixels(to + 32, low.val[2], high.val[2]);
    store_pixels(to + 48, low.val[3], high.val[3]);
    if (f.one_opacity) {
        vst1q_u8(alpha, m.opacity);
        vst1q_u8(alpha + 16, m.opacity);
        vst1q_u8(alpha + 32, m.opacity);
        vst1q_u8(alpha + 48, m.opacity);
    } else {
        store_bytes64(alpha, look_up64(m.planes + 2 * plane_bytes, index, m.q0, m.q1));
    }
    return true;
}

// A whole palette of one opacity, 256 entries from index 0 (what paint
// programs write): nothing to check and nothing but the pixels to look up, in
// a loop of its own so that its tables and indices have the registers.
__attribute__((noinline)) std::size_t index_whole_palette(pixel16* to, std::uint8_t* alpha,
                                                          const std::uint8_t* src, std::size_t n,
                                                          const std::uint8_t* planes,
                                                          uint8x16_t opacity)
{
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const uint8x16x4_t index = load_bytes64(src + i);
        const uint8x16x4_t low = look_up64_all_quarters(planes, index);
        const uint8x16x4_t high = look_up64_all_quarters(planes + plane_bytes, index);
        store_pixels(to + i, low.val[0], high.val[0]);
        store_pixels(to + i + 16, low.val[1], high.val[1]);
        store_pixels(to + i + 32, low.val[2], high.val[2]);
        store_pixels(to + i + 48, low.val[3], high.val[3]);
        vst1q_u8(alpha + i, opacity);
        vst1q_u8(alpha + i + 16, opacity);
        vst1q_u8(alpha + i + 32, opacity);
        vst1q_u8(alpha + i + 48, opacity);
    }
    return i;
}

// Groups of sixty-four, then of sixteen, the last ending at the span's end.
// Not inlined: maps over several quarters come in long spans, and inlined into
// the packet walk this code cost pixel art's short packets spilled registers.
__attribute__((noinline)) std::size_t index_quarters(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                           std::size_t n, const stored_format& f, const std::uint8_t* planes,
                           std::size_t q0, std::size_t q1)
{
    const quarters_map m{planes, q0, q1, f.first == 0 && f.end == 256,
                         vdupq_n_u8(static_cast<std::uint8_t>(f.map[f.first] >> 16))};
    std::size_t i = 0;
    if (m.every_index_valid && f.one_opacity)
        i = index_whole_palette(to, alpha, src, n, planes, m.opacity);
    for (; i + 64 <= n; i += 64)
        if (!index64_quarters(to + i, alpha + i, src + i, f, m))
            break;
    while (i < n) {
        const std::size_t at = i + 16 <= n ? i : n - 16;
        const uint8x16_t index = vld1q_u8(src + at);
        if (!m.every_index_valid && !all_valid(index, f))
            break;
        store_mapped(to + at, alpha + at, look_up(planes, index, q0, q1),
                     look_up(planes + plane_bytes, index, q0, q1),
                     f.one_opacity ? m.opacity : look_up(planes + 2 * plane_bytes, index, q0, q1));
        i = at + 16;
    }
    return i;
}

std::size_t index_span_neon(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                            std::size_t n, const stored_format& f)
{
    // Pixel art's raw packets are mostly shorter than a group: they are told
    // apart first.
    if (n < 8 || f.end <= f.first)
        return index_span_portable(to, alpha, src, n, f);
    const std::size_t q0 = f.first / 64;
    const std::size_t q1 = (f.end - 1) / 64;
    // A map over several quarters has no groups of eight.
    if (q0 != q1 && n < 16)
        return index_span_portable(to, alpha, src, n, f);
    const std::uint8_t* const planes = f.map_planes;
    const std::size_t i = q0 == q1 ? index_one_quarter(to, alpha, src, n, f, planes, q0)
                                   : index_quarters(to, alpha, src, n, f, planes, q0, q1);
    if (i >= n)
        return n;
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

// ---- whole rows of indices (index_rows_job)

// Row after row as spans, up to the first bad index. Not inlined: inside the
// one-quarter rows below it cost their groups registers (2.0 instructions a
// pixel instead of 1.7 on 32-bit ARM).
__attribute__((noinline)) std::size_t index_rows_by_row(const index_rows_job& job,
                                                        const stored_format& f)
{
    for (std::size_t r = 0; r < job.rows; ++r) {
        const std::size_t k = index_span_neon(row_pixels(job, r), row_opacities(job, r),
                                              job.src + r * job.w, job.w, f);
        if (k < job.w)
            return r * job.w + k;
    }
    return job.rows * job.w;
}

#if defined(__aarch64__)
// One quarter's three tables loaded once for every row; each row's groups
// still check their own indices. Not inlined, like the 32-bit form: flattened
// into the decoder it counted 1.83 instructions a pixel.
__attribute__((noinline)) std::size_t
index_rows_one_quarter(const index_rows_job& job, const stored_format& f, std::size_t q)
{
    const std::uint8_t* const planes = f.map_planes;
    const quarter_tables<table64> t{load_table64(planes + 64 * q),
                                    load_table64(planes + plane_bytes + 64 * q),
                                    load_table64(planes + 2 * plane_bytes + 64 * q)};
    for (std::size_t r = 0; r < job.rows; ++r) {
        pixel16* const to = row_pixels(job, r);
        std::uint8_t* const alpha = row_opacities(job, r);
        const std::uint8_t* const src = job.src + r * job.w;
        std::size_t k = index_one_quarter(to, alpha, src, job.w, f, t, q);
        if (k < job.w)
            k += index_span_portable(to + k, alpha + k, src + k, job.w - k, f);
        if (k < job.w)
            return r * job.w + k;
    }
    return job.rows * job.w;
}
#else
// Every index of the picture checked in one pass and the tables loaded once;
// then each row is only looked up.
template <typename Opacity>
ONE_QUARTER_INLINE void index_valid_rows(const index_rows_job& job,
                                         const quarter_tables<Opacity>& t, std::size_t q)
{
    for (std::size_t r = 0; r < job.rows; ++r) {
        if (q == 0)
            index_valid_span<true>(row_pixels(job, r), row_opacities(job, r), job.src + r * job.w,
                                   job.w, t, q);
        else
            index_valid_span<false>(row_pixels(job, r), row_opacities(job, r),
                                    job.src + r * job.w, job.w, t, q);
    }
}

__attribute__((noinline)) std::size_t
index_rows_one_quarter(const index_rows_job& job, const stored_format& f, std::size_t q)
{
    if (!all_valid_span(job.src, job.rows * job.w, f))
        return index_rows_by_row(job, f);
    const std::uint8_t* const planes = f.map_planes;
    const table64 low = load_table64(planes + 64 * q);
    const table64 high = load_table64(planes + plane_bytes + 64 * q);
    if (f.one_opacity) {
        const uint8x16_t one = vdupq_n_u8(static_cast<std::uint8_t>(f.map[f.first] >> 16));
        index_valid_rows(job, quarter_tables<uint8x16_t>{low, high, one}, q);
    } else {
        const table64 opacity = load_table64(planes + 2 * plane_bytes + 64 * q);
        index_valid_rows(job, quarter_tables<table64>{low, high, opacity}, q);
    }
    return job.rows * job.w;
}
#endif

// Rows of at least a group, in a map of one quarter, take the quarter's
// tables once; any other map goes row by row.
std::size_t index_rows_neon(const index_rows_job& job, const stored_format& f)
{
    if (f.end > f.first && f.first / 64 == (f.end - 1) / 64 && job.w >= 16)
        return index_rows_one_quarter(job, f, f.first / 64);
    return index_rows_by_row(job, f);
}

// ---------------------------------------------------------------- the spans of the level

struct neon_t {};

void fill_span(neon_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_neon(to, n, value); }

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

constexpr bool looks_up_index_rows(neon_t) { return true; }

std::size_t index_rows(neon_t, const index_rows_job& job, const stored_format& f)
{
    return index_rows_neon(job, f);
}

void run_span(neon_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
              std::uint8_t a)
{
    fill_span_neon(to, n, pixel);
    fill_bytes_neon(alpha, n, a);
}

// ---- colour-mapped run-length packets, one at a time (kernels_index_walk.h)

constexpr bool walks_index_packets(neon_t) { return true; }
constexpr std::size_t raw_packet_bodies(neon_t) { return 7; }

// A run of up to 16 pixels and its opacities under one test of its length.
__attribute__((always_inline)) inline void short_run_neon(pixel16* to, std::uint8_t* alpha,
                                                          std::size_t n, std::uint32_t entry)
{
    const auto pixel = static_cast<pixel16>(entry);
    const auto a = static_cast<std::uint8_t>(entry >> 16);
    if (n >= 8) {
        const uint16x8_t v = vdupq_n_u16(pixel);
        const uint8x8_t b = vdup_n_u8(a);
        vst1q_u16(to, v);
        vst1q_u16(to + n - 8, v);
        vst1_u8(alpha, b);
        vst1_u8(alpha + n - 8, b);
    } else if (n >= 4) {
        const uint16x4_t v = vdup_n_u16(pixel);
        const std::uint32_t word = a * 0x01010101u;
        vst1_u16(to, v);
        vst1_u16(to + n - 4, v);
        std::memcpy(alpha, &word, 4);
        std::memcpy(alpha + n - 4, &word, 4);
    } else {
        short_run_of_three(to, alpha, n, entry);
    }
}

// 17 to 32 pixels, the longer runs of pixel art, inline rather than by the
// two fills' calls: about 13 instructions a run less (pixel art 4.94 to 4.90
// a pixel on 32-bit ARM, 4.62 to 4.58 on aarch64).
__attribute__((always_inline)) inline void medium_run_neon(pixel16* to, std::uint8_t* alpha,
                                                           std::size_t n, std::uint32_t entry)
{
    const fill_vector v = fill_vector_of(vdupq_n_u16(static_cast<pixel16>(entry)));
    const uint8x16_t b = vdupq_n_u8(static_cast<std::uint8_t>(entry >> 16));
    store_16(to, v);
    store_16(to + n - 16, v);
    vst1q_u8(alpha, b);
    vst1q_u8(alpha + n - 16, b);
}

__attribute__((always_inline)) inline void index_run(neon_t, pixel16* to, std::uint8_t* alpha,
                                                     std::size_t n, std::uint32_t entry)
{
    if (n <= 16) {
        short_run_neon(to, alpha, n, entry);
    } else if (n <= 32) {
        medium_run_neon(to, alpha, n, entry);
    } else {
        run_span(neon_t{}, to, alpha, n, static_cast<pixel16>(entry),
                 static_cast<std::uint8_t>(entry >> 16));
    }
}

} // namespace

template <>
__attribute__((flatten)) stored_status decode_stored_at<simd_level::neon>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_with(neon_t{}, format, data, size, run_length, planes);
}

#endif
