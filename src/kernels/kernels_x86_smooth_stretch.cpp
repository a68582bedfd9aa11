// The smooth stretch at SSE2 and AVX2 (see kernels_smooth_loops.h).
//
// The vertical pass is eight or sixteen columns a turn of 16-bit multiplies.
// The horizontal pass puts each pixel's two column sums side by side in a
// 32-bit lane and multiplies them by its two weights with pmaddwd: SSE2 loads
// the pairs one by one; AVX2 picks them with byte shuffles from eight columns
// loaded at once, four pixels to a 128-bit lane, by a table made once per job
// (a stretch that shrinks by more than about half reaches past eight columns
// and goes the SSE2 way). Then (sum >> 16) of each field is put in place with
// shifts and masks and two groups are packed to 16 bits.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "kernels_smooth_loops.h"

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
struct avx2_plan {
    sse2_plan sse2;
    bool shuffles; // every group's pairs lie within its eight columns
    std::uint32_t base[groups];
    __m128i picks[groups];
};

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

avx2_plan column_plan(avx2_t, const smooth_stretch_job& job)
{
    avx2_plan p;
    p.sse2 = plan_sse2(job);
    p.shuffles = true;
    for (std::size_t q = 0; q < job.w / 4; ++q) {
        const smooth_column* c = job.columns + 4 * q;
        std::uint32_t lo = c[0].at, hi = c[0].at;
        for (int k = 1; k < 4; ++k) {
            lo = std::min<std::uint32_t>(lo, c[k].at);
            hi = std::max<std::uint32_t>(hi, c[k].at);
        }
        p.shuffles = p.shuffles && hi - lo <= 6;
        p.base[q] = lo;
        alignas(16) std::uint8_t pick[16];
        for (int k = 0; k < 4; ++k) {
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
    const __m128i m6 = _mm_set1_epi16(0x3F);
    const __m128i m5 = _mm_set1_epi16(0x1F);
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + k));
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + k));
        const __m128i r = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(t, 11), w0),
                                        _mm_mullo_epi16(_mm_srli_epi16(u, 11), w1));
        const __m128i g =
            _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(t, 5), m6), w0),
                          _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(u, 5), m6), w1));
        const __m128i b = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(t, m5), w0),
                                        _mm_mullo_epi16(_mm_and_si128(u, m5), w1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.r + k), r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.g + k), g);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.b + k), b);
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
    const __m256i m6 = _mm256_set1_epi16(0x3F);
    const __m256i m5 = _mm256_set1_epi16(0x1F);
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + k));
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + k));
        const __m256i r = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(t, 11), w0),
                                           _mm256_mullo_epi16(_mm256_srli_epi16(u, 11), w1));
        const __m256i g = _mm256_add_epi16(
            _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(t, 5), m6), w0),
            _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(u, 5), m6), w1));
        const __m256i b = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(t, m5), w0),
                                           _mm256_mullo_epi16(_mm256_and_si256(u, m5), w1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.r + k), r);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.g + k), g);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.b + k), b);
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

// Pixels 4q to 4q + 7: their fields' sums, put in place, in 32-bit lanes.
__attribute__((target("avx2"))) __m256i eight_opaque_avx2(const avx2_plan& p,
                                                          const opaque_sums& s, std::size_t q)
{
    const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.picks + q));
    const __m256i weights =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.sse2.weights + q));
    const std::uint32_t b0 = p.base[q], b1 = p.base[q + 1];
    const __m256i r = _mm256_madd_epi16(_mm256_shuffle_epi8(load_two(s.r + b0, s.r + b1), pick), weights);
    const __m256i g = _mm256_madd_epi16(_mm256_shuffle_epi8(load_two(s.g + b0, s.g + b1), pick), weights);
    const __m256i b = _mm256_madd_epi16(_mm256_shuffle_epi8(load_two(s.b + b0, s.b + b1), pick), weights);
    const __m256i red = _mm256_and_si256(_mm256_srli_epi32(r, 5), _mm256_set1_epi32(0xF800));
    const __m256i green = _mm256_and_si256(_mm256_srli_epi32(g, 11), _mm256_set1_epi32(0x07E0));
    return _mm256_or_si256(_mm256_or_si256(red, green), _mm256_srli_epi32(b, 16));
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

template <typename Level>
void vertical_blended(Level, const pixel16* top, const pixel16* bottom,
                      const std::uint8_t* alpha_top, const std::uint8_t* alpha_bottom,
                      std::size_t n, unsigned v0, unsigned v1, const paint_style& style,
                      blended_sums& s)
{
    vertical_blended_portable(top, bottom, alpha_top, alpha_bottom, n, v0, v1, style, s.w, s.r,
                              s.g, s.b);
}

template <typename Level, typename Plan>
void horizontal_blended(Level, const Plan&, const blended_sums& s, const smooth_column* columns,
                        std::size_t n, pixel16* to)
{
    horizontal_blended_portable(s, columns, n, to);
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
    smooth_stretch_with(avx2_t{}, job, style);
}

#endif
