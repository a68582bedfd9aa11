// The smooth stretch at SSE2 and AVX2 (see kernels_smooth_loops.h).
//
// The vertical pass is eight or sixteen columns a turn of 16-bit multiplies.
// The horizontal pass puts each pixel's two column sums side by side in a
// 32-bit lane and multiplies them by its two weights with pmaddwd: SSE2 loads
// the pairs one by one; AVX2 picks them with byte shuffles from eight columns
// loaded at once, four pixels to a 128-bit lane, by a table made once per job
// (a stretch that shrinks by more than about half reaches past eight columns
// and goes the SSE2 way). Then (sum >> 16) of each field is put in place with
// shifts and masks and two groups are packed to 16 bits. AVX2 enlargements
// turn the passes round (see "rows first" below).
//
// A blended job (a plane, a key, an opacity, taps outside the source) has
// 32-bit sums: AVX2 weighs them with 32-bit multiplies, eight pixels a turn;
// SSE2, which has no 32-bit multiply, keeps the portable spans for it.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "kernels_smooth_loops.h"
#include "kernels_x86.h"

namespace {

using namespace smooth_loops;

constexpr std::size_t groups = smooth_width / 4;

struct sse2_t {};
struct avx2_t {};

// Each group of four columns' weights as pmaddwd takes them: w0, w1 per pixel.
struct sse2_plan {
    __m128i weights[groups];
};

// And for AVX2, per group, the first window column its taps use and the byte
// shuffle that picks each pixel's pair from the eight columns from there.
//
// A blended job's sums are 32 bits wide: its table, per group of eight
// pixels, picks each pixel's two columns from the eight from the group's first
// with a cross-lane permute, and holds the weights as 32-bit lanes.
struct avx2_plan {
    sse2_plan sse2;
    bool shuffles; // opaque: every group's pairs lie within its eight columns
    std::uint32_t base[groups];
    __m128i picks[groups];
    bool permutes; // blended: every group of eight's pairs lie within its eight columns
    std::uint32_t base8[groups / 2];
    __m256i first[groups / 2], second[groups / 2], weight0[groups / 2], weight1[groups / 2];
};

// The first and the last window column of n pixels' left taps.
std::uint32_t first_column(const smooth_column* c, std::size_t n)
{
    std::uint32_t lo = c[0].at;
    for (std::size_t k = 1; k < n; ++k)
        lo = std::min<std::uint32_t>(lo, c[k].at);
    return lo;
}

std::uint32_t last_column(const smooth_column* c, std::size_t n)
{
    std::uint32_t hi = c[0].at;
    for (std::size_t k = 1; k < n; ++k)
        hi = std::max<std::uint32_t>(hi, c[k].at);
    return hi;
}

sse2_plan plan_sse2(const smooth_stretch_job& job)
{
    sse2_plan p;
    for (std::size_t q = 0; q < job.w / 4; ++q) {
        const smooth_column* c = job.columns + 4 * q;
        p.weights[q] = _mm_setr_epi16(
            static_cast<short>(c[0].weight[0]), static_cast<short>(c[0].weight[1]),
            static_cast<short>(c[1].weight[0]), static_cast<short>(c[1].weight[1]),
            static_cast<short>(c[2].weight[0]), static_cast<short>(c[2].weight[1]),
            static_cast<short>(c[3].weight[0]), static_cast<short>(c[3].weight[1]));
    }
    return p;
}

sse2_plan column_plan(sse2_t, const smooth_stretch_job& job)
{
    return plan_sse2(job);
}

__attribute__((target("avx2"))) void plan_permutes(const smooth_stretch_job& job, avx2_plan& p)
{
    p.permutes = true;
    for (std::size_t q = 0; q < job.w / 8; ++q) {
        const smooth_column* c = job.columns + 8 * q;
        const std::uint32_t lo = first_column(c, 8);
        p.permutes = p.permutes && last_column(c, 8) - lo <= 6;
        p.base8[q] = lo;
        alignas(32) std::int32_t at[8];
        alignas(32) std::int32_t u0[8];
        alignas(32) std::int32_t u1[8];
        for (std::size_t k = 0; k < 8; ++k) {
            at[k] = static_cast<std::int32_t>(c[k].at - lo);
            u0[k] = c[k].weight[0];
            u1[k] = c[k].weight[1];
        }
        // vpermd reads the low three bits of each index only.
        p.first[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(at));
        p.second[q] = _mm256_add_epi32(p.first[q], _mm256_set1_epi32(1));
        p.weight0[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(u0));
        p.weight1[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(u1));
    }
}

avx2_plan column_plan(avx2_t, const smooth_stretch_job& job)
{
    avx2_plan p;
    p.shuffles = p.permutes = false;
    if (!job.opaque) {
        plan_permutes(job, p);
        return p;
    }
    p.sse2 = plan_sse2(job);
    p.shuffles = true;
    for (std::size_t q = 0; q < job.w / 4; ++q) {
        const smooth_column* c = job.columns + 4 * q;
        const std::uint32_t lo = first_column(c, 4);
        p.shuffles = p.shuffles && last_column(c, 4) - lo <= 6;
        p.base[q] = lo;
        alignas(16) std::uint8_t pick[16];
        for (std::size_t k = 0; k < 4; ++k) {
            // hi - lo <= 6 or the table goes unused: the bytes stay below 16.
            const auto at = static_cast<std::uint8_t>(2 * ((c[k].at - lo) & 7));
            pick[4 * k] = at;
            pick[4 * k + 1] = static_cast<std::uint8_t>(at + 1);
            pick[4 * k + 2] = static_cast<std::uint8_t>((at + 2) & 15);
            pick[4 * k + 3] = static_cast<std::uint8_t>((at + 3) & 15);
        }
        p.picks[q] = _mm_load_si128(reinterpret_cast<const __m128i*>(pick));
    }
    return p;
}

// ---- opaque

void vertical_opaque_sse2(const pixel16* top, const pixel16* bottom, std::size_t n, unsigned v0,
                          unsigned v1, opaque_sums& s)
{
    const __m128i w0 = _mm_set1_epi16(static_cast<short>(v0));
    const __m128i w1 = _mm_set1_epi16(static_cast<short>(v1));
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + k));
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + k));
        const x86::channels8 c = x86::weigh_channels_sse2(t, u, w0, w1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.r + k), c.r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.g + k), c.g);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.b + k), c.b);
    }
    vertical_opaque_portable(top + k, bottom + k, n - k, v0, v1, s.r + k, s.g + k, s.b + k);
}

__attribute__((target("avx2"))) void vertical_opaque_avx2(const pixel16* top,
                                                          const pixel16* bottom, std::size_t n,
                                                          unsigned v0, unsigned v1,
                                                          opaque_sums& s)
{
    const __m256i w0 = _mm256_set1_epi16(static_cast<short>(v0));
    const __m256i w1 = _mm256_set1_epi16(static_cast<short>(v1));
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + k));
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + k));
        const x86::channels16 c = x86::weigh_channels_avx2(t, u, w0, w1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.r + k), c.r);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.g + k), c.g);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.b + k), c.b);
    }
    vertical_opaque_portable(top + k, bottom + k, n - k, v0, v1, s.r + k, s.g + k, s.b + k);
}

__m128i load_pair(const std::int16_t* at)
{
    std::int32_t v;
    std::memcpy(&v, at, sizeof v);
    return _mm_cvtsi32_si128(v);
}

// The pairs of four pixels in one register, from their columns.
__m128i pairs4_sse2(const std::int16_t* plane, const smooth_column* c)
{
    return _mm_unpacklo_epi64(
        _mm_unpacklo_epi32(load_pair(plane + c[0].at), load_pair(plane + c[1].at)),
        _mm_unpacklo_epi32(load_pair(plane + c[2].at), load_pair(plane + c[3].at)));
}

// Sums of 65536 times each field to the pixel, in 32-bit lanes.
__m128i pack565_sse2(__m128i r, __m128i g, __m128i b)
{
    const __m128i red = _mm_and_si128(_mm_srli_epi32(r, 5), _mm_set1_epi32(0xF800));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(g, 11), _mm_set1_epi32(0x07E0));
    return _mm_or_si128(_mm_or_si128(red, green), _mm_srli_epi32(b, 16));
}

// 32-bit lanes below 65536 to 16 bits: packs saturates signed, so the low
// halves go in sign-extended.
__m128i narrow_sse2(__m128i lo, __m128i hi)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16),
                           _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
}

__m128i four_opaque_sse2(const opaque_sums& s, const smooth_column* c, __m128i weights)
{
    return pack565_sse2(_mm_madd_epi16(pairs4_sse2(s.r, c), weights),
                        _mm_madd_epi16(pairs4_sse2(s.g, c), weights),
                        _mm_madd_epi16(pairs4_sse2(s.b, c), weights));
}

// Pixels i to n - 1, i a multiple of 4.
void horizontal_opaque_sse2(const sse2_plan& p, const opaque_sums& s, const smooth_column* columns,
                            std::size_t i, std::size_t n, pixel16* to)
{
    for (; i + 8 <= n; i += 8) {
        const __m128i lo = four_opaque_sse2(s, columns + i, p.weights[i / 4]);
        const __m128i hi = four_opaque_sse2(s, columns + i + 4, p.weights[i / 4 + 1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), narrow_sse2(lo, hi));
    }
    horizontal_opaque_portable(s, columns + i, n - i, to + i);
}

__attribute__((target("avx2"))) __m256i load_two(const std::int16_t* low, const std::int16_t* high)
{
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(high));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Pixels 4q to 4q + 7 of one field: u0 V[at] + u1 V[at + 1] in 32-bit lanes.
__attribute__((target("avx2"))) __m256i pairs8_avx2(const avx2_plan& p, const std::int16_t* plane,
                                                    std::size_t q)
{
    const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.picks + q));
    const __m256i weights =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.sse2.weights + q));
    return _mm256_madd_epi16(
        _mm256_shuffle_epi8(load_two(plane + p.base[q], plane + p.base[q + 1]), pick), weights);
}

// Sums of 65536 times each field to the pixel, in 32-bit lanes.
__attribute__((target("avx2"))) __m256i pack565_avx2(__m256i r, __m256i g, __m256i b)
{
    const __m256i red = _mm256_and_si256(_mm256_srli_epi32(r, 5), _mm256_set1_epi32(0xF800));
    const __m256i green = _mm256_and_si256(_mm256_srli_epi32(g, 11), _mm256_set1_epi32(0x07E0));
    return _mm256_or_si256(_mm256_or_si256(red, green), _mm256_srli_epi32(b, 16));
}

__attribute__((target("avx2"))) __m256i eight_opaque_avx2(const avx2_plan& p,
                                                          const opaque_sums& s, std::size_t q)
{
    return pack565_avx2(pairs8_avx2(p, s.r, q), pairs8_avx2(p, s.g, q), pairs8_avx2(p, s.b, q));
}

__attribute__((target("avx2"))) void horizontal_opaque_avx2(const avx2_plan& p,
                                                            const opaque_sums& s,
                                                            const smooth_column* columns,
                                                            std::size_t n, pixel16* to)
{
    if (!p.shuffles)
        return horizontal_opaque_sse2(p.sse2, s, columns, 0, n, to);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i lo = eight_opaque_avx2(p, s, i / 4);
        const __m256i hi = eight_opaque_avx2(p, s, i / 4 + 2);
        // packus interleaves the halves by 128-bit lane; the permute restores the order.
        const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), out);
    }
    horizontal_opaque_sse2(p.sse2, s, columns, i, n, to);
}

// ---- blended

// The effective opacities of sixteen taps (the canvas's rule, 0 where keyed),
// a * opacity + 127 < 65536, so the division is div255_by_multiply in 16 bits.
__attribute__((target("avx2"))) __m256i opacities_avx2(__m256i s, const std::uint8_t* alpha,
                                                       const paint_style& style)
{
    const __m256i a = alpha != nullptr
                          ? _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha)))
                          : _mm256_set1_epi16(255);
    const __m256i y = _mm256_add_epi16(
        _mm256_mullo_epi16(a, _mm256_set1_epi16(static_cast<short>(style.opacity))),
        _mm256_set1_epi16(127));
    const __m256i e =
        _mm256_srli_epi16(_mm256_mulhi_epu16(y, _mm256_set1_epi16(static_cast<short>(0x8081))), 7);
    if (!style.keyed)
        return e;
    return _mm256_andnot_si256(_mm256_cmpeq_epi16(s, _mm256_set1_epi16(static_cast<short>(style.key))), e);
}

// Top and bottom 16-bit values (below 2^15) weighed and summed in 32 bits, stored
// in column order: unpacking pairs within 128-bit lanes leaves columns 0-3 and
// 8-11 in one register, 4-7 and 12-15 in the other.
__attribute__((target("avx2"))) void store_weighed(std::uint32_t* to, __m256i top, __m256i bottom,
                                                   __m256i weights)
{
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(top, bottom), weights);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(top, bottom), weights);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
}

// Per column: W = v0 e0 + v1 e1 and C = v0 e0 s0 + v1 e1 s1, e s <= 255 * 63 in 16 bits.
__attribute__((target("avx2"))) void vertical_blended_avx2(const pixel16* top,
                                                           const pixel16* bottom,
                                                           const std::uint8_t* alpha_top,
                                                           const std::uint8_t* alpha_bottom,
                                                           std::size_t n, unsigned v0, unsigned v1,
                                                           const paint_style& style,
                                                           blended_sums& s)
{
    const __m256i weights = _mm256_set1_epi32(static_cast<int>(v0 | v1 << 16));
    const __m256i m6 = _mm256_set1_epi16(0x3F);
    const __m256i m5 = _mm256_set1_epi16(0x1F);
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + k));
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + k));
        const __m256i et = opacities_avx2(t, alpha_top != nullptr ? alpha_top + k : nullptr, style);
        const __m256i eu =
            opacities_avx2(u, alpha_bottom != nullptr ? alpha_bottom + k : nullptr, style);
        store_weighed(s.w + k, et, eu, weights);
        store_weighed(s.r + k, _mm256_mullo_epi16(_mm256_srli_epi16(t, 11), et),
                      _mm256_mullo_epi16(_mm256_srli_epi16(u, 11), eu), weights);
        store_weighed(s.g + k, _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(t, 5), m6), et),
                      _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(u, 5), m6), eu),
                      weights);
        store_weighed(s.b + k, _mm256_mullo_epi16(_mm256_and_si256(t, m5), et),
                      _mm256_mullo_epi16(_mm256_and_si256(u, m5), eu), weights);
    }
    vertical_blended_portable(top + k, bottom + k, alpha_top != nullptr ? alpha_top + k : nullptr,
                              alpha_bottom != nullptr ? alpha_bottom + k : nullptr, n - k, v0, v1,
                              style, s.w + k, s.r + k, s.g + k, s.b + k);
}

// Group q's eight pixels: u0 P[at] + u1 P[at + 1] of one plane.
__attribute__((target("avx2"))) __m256i pair_sums_avx2(const avx2_plan& p, const std::uint32_t* plane,
                                                       std::size_t q)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plane + p.base8[q]));
    return _mm256_add_epi32(
        _mm256_mullo_epi32(_mm256_permutevar8x32_epi32(v, p.first[q]), p.weight0[q]),
        _mm256_mullo_epi32(_mm256_permutevar8x32_epi32(v, p.second[q]), p.weight1[q]));
}

// floor((C + keep d) / 16711680) as div_smooth_whole: (y * 0x8081) >> 23 with y < 2^14.
__attribute__((target("avx2"))) __m256i land_avx2(__m256i c, __m256i keep, __m256i d)
{
    const __m256i y = _mm256_srli_epi32(_mm256_add_epi32(c, _mm256_mullo_epi32(keep, d)), 16);
    return _mm256_srli_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(0x8081)), 23);
}

__attribute__((target("avx2"))) void horizontal_blended_avx2(const avx2_plan& p,
                                                             const blended_sums& s,
                                                             const smooth_column* columns,
                                                             std::size_t n, pixel16* to)
{
    if (!p.permutes)
        return horizontal_blended_portable(s, columns, n, to);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::size_t q = i / 8;
        const __m256i keep =
            _mm256_sub_epi32(_mm256_set1_epi32(16711680), pair_sums_avx2(p, s.w, q));
        const __m256i d =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i)));
        const __m256i r = land_avx2(pair_sums_avx2(p, s.r, q), keep, _mm256_srli_epi32(d, 11));
        const __m256i g = land_avx2(pair_sums_avx2(p, s.g, q), keep,
                                    _mm256_and_si256(_mm256_srli_epi32(d, 5), _mm256_set1_epi32(0x3F)));
        const __m256i b = land_avx2(pair_sums_avx2(p, s.b, q), keep,
                                    _mm256_and_si256(d, _mm256_set1_epi32(0x1F)));
        const __m256i out = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi32(r, 11), _mm256_slli_epi32(g, 5)), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_packus_epi32(_mm256_castsi256_si128(out),
                                          _mm256_extracti128_si256(out, 1)));
    }
    horizontal_blended_portable(s, columns + i, n - i, to + i);
}

// ---- opaque enlargements, rows first
//
// Where a job's rows reuse their source rows (an enlargement, or a stretch to
// the same height), AVX2 sums each source row's column pairs once (16 bits:
// 256 * 63) and each destination row then weighs its two summed source rows:
// pairs of 16-bit lanes through pmaddwd with no shuffles, or, where one source
// row has all the weight, a shift. The sums are the same, so the result is too.

struct summed_row {
    std::size_t at; // the source row's offset
    bool valid;
    alignas(32) std::int16_t r[smooth_width], g[smooth_width], b[smooth_width];
};

// Pixels 4q to 4q + 15 of one field's column pairs, in 16 bits (256 * 63 at most).
__attribute__((target("avx2"))) __m256i sixteen_pairs(const avx2_plan& p, const std::int16_t* plane,
                                                     std::size_t q)
{
    return _mm256_permute4x64_epi64(
        _mm256_packus_epi32(pairs8_avx2(p, plane, q), pairs8_avx2(p, plane, q + 2)), 0xD8);
}

// One source row's pairs, weighed across: (u0 s[at] + u1 s[at + 1]) per field.
__attribute__((target("avx2"))) void sum_row(const avx2_plan& p, const smooth_stretch_job& job,
                                             const pixel16* row, opaque_sums& fields,
                                             summed_row& out)
{
    vertical_opaque_avx2(row, row, job.window, 1, 0, fields);
    std::size_t i = 0;
    for (; i + 16 <= job.w; i += 16) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.r + i), sixteen_pairs(p, fields.r, i / 4));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.g + i), sixteen_pairs(p, fields.g, i / 4));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.b + i), sixteen_pairs(p, fields.b, i / 4));
    }
    for (; i < job.w; ++i) {
        out.r[i] = static_cast<std::int16_t>(pair_sum(fields.r, job.columns[i]));
        out.g[i] = static_cast<std::int16_t>(pair_sum(fields.g, job.columns[i]));
        out.b[i] = static_cast<std::int16_t>(pair_sum(fields.b, job.columns[i]));
    }
}

// One summed row with all the weight: each field is (sum * 256) / 65536.
__attribute__((target("avx2"))) void land_one_row(const summed_row& h, std::size_t w, pixel16* to)
{
    std::size_t i = 0;
    for (; i + 16 <= w; i += 16) {
        const __m256i r = _mm256_load_si256(reinterpret_cast<const __m256i*>(h.r + i));
        const __m256i g = _mm256_load_si256(reinterpret_cast<const __m256i*>(h.g + i));
        const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(h.b + i));
        const __m256i out = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(r, 3), _mm256_set1_epi16(static_cast<short>(0xF800))),
                            _mm256_and_si256(_mm256_srli_epi16(g, 3), _mm256_set1_epi16(0x07E0))),
            _mm256_srli_epi16(b, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), out);
    }
    for (; i < w; ++i) {
        to[i] = static_cast<pixel16>((h.r[i] >> 8) << 11 | (h.g[i] >> 8) << 5 | h.b[i] >> 8);
    }
}

// Sixteen pixels of one field from two summed rows: pixels 0-3 and 8-11 in
// `lo`, 4-7 and 12-15 in `hi`, as 32-bit sums of 65536 times the field.
struct weighed16 {
    __m256i lo, hi;
};

__attribute__((target("avx2"))) weighed16 weigh_rows(const std::int16_t* top,
                                                     const std::int16_t* bottom, __m256i weights)
{
    const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(top));
    const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(bottom));
    return {_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights),
            _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights)};
}

__attribute__((target("avx2"))) void land_two_rows(const summed_row& top, const summed_row& bottom,
                                                   unsigned v0, unsigned v1, std::size_t w,
                                                   pixel16* to)
{
    const __m256i weights = _mm256_set1_epi32(static_cast<int>(v0 | v1 << 16));
    std::size_t i = 0;
    for (; i + 16 <= w; i += 16) {
        const weighed16 r = weigh_rows(top.r + i, bottom.r + i, weights);
        const weighed16 g = weigh_rows(top.g + i, bottom.g + i, weights);
        const weighed16 b = weigh_rows(top.b + i, bottom.b + i, weights);
        // packus on the halves as unpacked puts the pixels back in order.
        const __m256i out = _mm256_packus_epi32(pack565_avx2(r.lo, g.lo, b.lo),
                                                pack565_avx2(r.hi, g.hi, b.hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), out);
    }
    for (; i < w; ++i) {
        const auto sum = [&](const std::int16_t* t, const std::int16_t* u) {
            return (v0 * static_cast<std::uint32_t>(t[i]) + v1 * static_cast<std::uint32_t>(u[i])) >> 16;
        };
        to[i] = static_cast<pixel16>(sum(top.r, bottom.r) << 11 | sum(top.g, bottom.g) << 5 |
                                     sum(top.b, bottom.b));
    }
}

// Whether rows first saves work: each destination row beyond the first of its
// source row pair costs a weighing but no summing.
bool rows_repeat(const smooth_stretch_job& job)
{
    std::size_t changes = 1;
    for (std::size_t r = 1; r < job.h; ++r)
        changes += job.rows[r].at[0] != job.rows[r - 1].at[0];
    return 2 * changes <= job.h;
}

// The summed row of source row `at`, summed now unless a slot holds it; `keep`
// is a slot the caller still needs.
__attribute__((target("avx2"))) const summed_row& summed(const avx2_plan& p,
                                                         const smooth_stretch_job& job,
                                                         std::size_t at, summed_row* slots,
                                                         const summed_row* keep,
                                                         opaque_sums& fields)
{
    for (int k = 0; k < 2; ++k) {
        if (slots[k].valid && slots[k].at == at)
            return slots[k];
    }
    summed_row& out = &slots[0] == keep ? slots[1] : slots[0];
    sum_row(p, job, job.from + at, fields, out);
    out.at = at;
    out.valid = true;
    return out;
}

__attribute__((target("avx2"))) void rows_first_avx2(const avx2_plan& p,
                                                     const smooth_stretch_job& job)
{
    opaque_sums fields;
    for (std::size_t k = job.window; k < window_room; ++k)
        fields.r[k] = fields.g[k] = fields.b[k] = 0;
    summed_row slots[2];
    slots[0].valid = slots[1].valid = false;
    for (std::size_t r = 0; r < job.h; ++r) {
        const smooth_row& row = job.rows[r];
        pixel16* to = job.to + r * job.to_stride;
        const unsigned v0 = row.weight[0];
        const unsigned v1 = row.weight[1];
        if (v1 == 0 || row.at[0] == row.at[1]) {
            land_one_row(summed(p, job, row.at[0], slots, nullptr, fields), job.w, to);
        } else if (v0 == 0) {
            land_one_row(summed(p, job, row.at[1], slots, nullptr, fields), job.w, to);
        } else {
            const summed_row& top = summed(p, job, row.at[0], slots, nullptr, fields);
            const summed_row& bottom = summed(p, job, row.at[1], slots, &top, fields);
            land_two_rows(top, bottom, v0, v1, job.w, to);
        }
    }
}

// ---- the spans of each level

void vertical_opaque(sse2_t, const pixel16* top, const pixel16* bottom, std::size_t n,
                     unsigned v0, unsigned v1, opaque_sums& s)
{
    vertical_opaque_sse2(top, bottom, n, v0, v1, s);
}
__attribute__((target("avx2"))) void vertical_opaque(avx2_t, const pixel16* top,
                                                     const pixel16* bottom, std::size_t n,
                                                     unsigned v0, unsigned v1, opaque_sums& s)
{
    vertical_opaque_avx2(top, bottom, n, v0, v1, s);
}

void horizontal_opaque(sse2_t, const sse2_plan& p, const opaque_sums& s,
                       const smooth_column* columns, std::size_t n, pixel16* to)
{
    horizontal_opaque_sse2(p, s, columns, 0, n, to);
}
__attribute__((target("avx2"))) void horizontal_opaque(avx2_t, const avx2_plan& p,
                                                       const opaque_sums& s,
                                                       const smooth_column* columns,
                                                       std::size_t n, pixel16* to)
{
    horizontal_opaque_avx2(p, s, columns, n, to);
}

void vertical_blended(sse2_t, const pixel16* top, const pixel16* bottom,
                      const std::uint8_t* alpha_top, const std::uint8_t* alpha_bottom,
                      std::size_t n, unsigned v0, unsigned v1, const paint_style& style,
                      blended_sums& s)
{
    vertical_blended_portable(top, bottom, alpha_top, alpha_bottom, n, v0, v1, style, s.w, s.r,
                              s.g, s.b);
}
__attribute__((target("avx2"))) void vertical_blended(avx2_t, const pixel16* top,
                                                      const pixel16* bottom,
                                                      const std::uint8_t* alpha_top,
                                                      const std::uint8_t* alpha_bottom,
                                                      std::size_t n, unsigned v0, unsigned v1,
                                                      const paint_style& style, blended_sums& s)
{
    vertical_blended_avx2(top, bottom, alpha_top, alpha_bottom, n, v0, v1, style, s);
}

void horizontal_blended(sse2_t, const sse2_plan&, const blended_sums& s,
                        const smooth_column* columns, std::size_t n, pixel16* to)
{
    horizontal_blended_portable(s, columns, n, to);
}
__attribute__((target("avx2"))) void horizontal_blended(avx2_t, const avx2_plan& p,
                                                        const blended_sums& s,
                                                        const smooth_column* columns,
                                                        std::size_t n, pixel16* to)
{
    horizontal_blended_avx2(p, s, columns, n, to);
}

} // namespace

template <>
void smooth_stretch_rows_at<simd_level::sse2>(const smooth_stretch_job& job,
                                              const paint_style& style)
{
    smooth_stretch_with(sse2_t{}, job, style);
}

template <>
__attribute__((target("avx2"), flatten)) void
smooth_stretch_rows_at<simd_level::avx2>(const smooth_stretch_job& job, const paint_style& style)
{
    if (job.opaque && rows_repeat(job)) {
        const avx2_plan p = column_plan(avx2_t{}, job);
        if (p.shuffles)
            return rows_first_avx2(p, job);
    }
    smooth_stretch_with(avx2_t{}, job, style);
}

#endif
