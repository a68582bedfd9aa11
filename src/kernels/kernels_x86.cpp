// The x86-64 levels: SSE2 (part of x86-64, always there), SSSE3 and AVX2.
// This file holds the fill, the 24-bit conversion and decoders, the blend and
// the transparent blits; kernels_x86_formats.cpp the decoder of every other
// stored format; kernels_x86.h what both use.
//
// Loads and stores are unaligned (loadu/storeu) or aligned only after the
// kernel has aligned its own pointer, so pixel memory needs nothing beyond
// pixel16 alignment. Spans above SSE2 carry a target attribute: compiled for
// the instruction set they need, called only once best_simd_level() has vouched
// for it. Each level's kernels are the shared loops of kernels_loops.h,
// flattened into one function compiled for that level, so the spans inline
// into the loops. Only the spans use intrinsics.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include "kernels_loops.h"
#include "kernels_x86.h"

namespace {

using namespace kernel_loops;
using namespace x86;

// ---------------------------------------------------------------- fill

// ---------------------------------------------------------------- BGR to RGB565

// Eight at a time; the last eight may overlap the others (harmless: `to` and
// `bgr` are distinct, so converting a pixel twice gives the same value).
__attribute__((target("ssse3"))) void convert_bgr_ssse3(pixel16* to, const std::uint8_t* bgr,
                                                        std::size_t n)
{
    if (n < 8) {
        convert_bgr_portable(to, bgr, n);
        return;
    }
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), convert8_ssse3(bgr + 3 * i));
    if (i < n)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 8), convert8_ssse3(bgr + 3 * (n - 8)));
}

// The same, sixteen pixels in two 128-bit lanes: pixels 0-7 below, 8-15 above.
__attribute__((target("avx2"))) __m256i load_two_avx2(const std::uint8_t* low,
                                                       const std::uint8_t* high)
{
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(high));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

__attribute__((target("avx2"))) __m256i convert16_avx2(const std::uint8_t* bgr)
{
    const __m256i a = load_two_avx2(bgr, bgr + 24);
    const __m256i b = load_two_avx2(bgr + 8, bgr + 32);
    const __m256i rg_a = _mm256_setr_epi8(1, 2, 4, 5, 7, 8, 10, 11, z, z, z, z, z, z, z, z,
                                          1, 2, 4, 5, 7, 8, 10, 11, z, z, z, z, z, z, z, z);
    const __m256i rg_b = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 5, 6, 8, 9, 11, 12, 14, 15,
                                          z, z, z, z, z, z, z, z, 5, 6, 8, 9, 11, 12, 14, 15);
    const __m256i b_a = _mm256_setr_epi8(0, z, 3, z, 6, z, 9, z, z, z, z, z, z, z, z, z,
                                         0, z, 3, z, 6, z, 9, z, z, z, z, z, z, z, z, z);
    const __m256i b_b = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 4, z, 7, z, 10, z, 13, z,
                                         z, z, z, z, z, z, z, z, 4, z, 7, z, 10, z, 13, z);
    const __m256i rg = _mm256_or_si256(_mm256_shuffle_epi8(a, rg_a), _mm256_shuffle_epi8(b, rg_b));
    const __m256i blue = _mm256_or_si256(_mm256_shuffle_epi8(a, b_a), _mm256_shuffle_epi8(b, b_b));
    const __m256i red = _mm256_and_si256(rg, _mm256_set1_epi16(static_cast<short>(0xF800)));
    const __m256i green = _mm256_and_si256(_mm256_slli_epi16(rg, 3), _mm256_set1_epi16(0x07E0));
    return _mm256_or_si256(_mm256_or_si256(red, green), _mm256_srli_epi16(blue, 3));
}

__attribute__((target("avx2"))) void convert_bgr_avx2(pixel16* to, const std::uint8_t* bgr,
                                                      std::size_t n)
{
    if (n < 16) {
        convert_bgr_ssse3(to, bgr, n);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), convert16_avx2(bgr + 3 * i));
    if (i < n)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 16),
                            convert16_avx2(bgr + 3 * (n - 16)));
}

// ---------------------------------------------------------------- blend

// Each group of eight is loaded whole before it is stored, so `to` behind or
// equal to `from` reads only pixels not yet written, as the plain loop does.
void blend_span_sse2(pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    const __m128i take = _mm_set1_epi16(static_cast<short>(255 - weight));
    const __m128i keep = _mm_set1_epi16(static_cast<short>(weight));
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), blend8_sse2(s, d, take, keep));
    }
    blend_span_portable(to + i, from + i, n - i, weight);
}

__attribute__((target("avx2"))) void blend_span_avx2(pixel16* to, const pixel16* from,
                                                     std::size_t n, unsigned weight)
{
    const __m256i take = _mm256_set1_epi16(static_cast<short>(255 - weight));
    const __m256i keep = _mm256_set1_epi16(static_cast<short>(weight));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), blend16_avx2(s, d, take, keep));
    }
    blend_span_sse2(to + i, from + i, n - i, weight);
}

// ---------------------------------------------------------------- transparent blits

// Where the source pixel is the key the destination stays, chosen per 16-bit
// lane. Sprites have long stretches of key only, skipped two groups at a time;
// elsewhere both groups are merged with the destination without further
// tests, which beats telling groups with and without key apart: those change
// too often to predict. Like the blends, each group is loaded whole before it
// is stored, and the tails are done pixel by pixel, never as an overlapping
// last group: `to` a little behind `from` within one sprite would read back
// what it had already written.
__m128i merge_key_sse2(__m128i s, __m128i d, __m128i is_key)
{
    return _mm_or_si128(_mm_and_si128(is_key, d), _mm_andnot_si128(is_key, s));
}

void blit_key_span_sse2(pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    const __m128i k = _mm_set1_epi16(static_cast<short>(key));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 8));
        const __m128i k0 = _mm_cmpeq_epi16(s0, k);
        const __m128i k1 = _mm_cmpeq_epi16(s1, k);
        if (_mm_movemask_epi8(_mm_and_si128(k0, k1)) == 0xFFFF)
            continue;
        const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        const __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), merge_key_sse2(s0, d0, k0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), merge_key_sse2(s1, d1, k1));
    }
    if (i + 8 <= n) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         merge_key_sse2(s, d, _mm_cmpeq_epi16(s, k)));
        i += 8;
    }
    blit_key_span_portable(to + i, from + i, n - i, key);
}

__attribute__((target("avx2"))) void blit_key_span_avx2(pixel16* to, const pixel16* from,
                                                        std::size_t n, pixel16 key)
{
    const __m256i k = _mm256_set1_epi16(static_cast<short>(key));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 16));
        const __m256i k0 = _mm256_cmpeq_epi16(s0, k);
        const __m256i k1 = _mm256_cmpeq_epi16(s1, k);
        if (_mm256_movemask_epi8(_mm256_and_si256(k0, k1)) == -1)
            continue;
        const __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        const __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i + 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), _mm256_blendv_epi8(s0, d0, k0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 16),
                            _mm256_blendv_epi8(s1, d1, k1));
    }
    if (i + 16 <= n) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                            _mm256_blendv_epi8(s, d, _mm256_cmpeq_epi16(s, k)));
        i += 16;
    }
    blit_key_span_sse2(to + i, from + i, n - i, key);
}

// The alpha blit is the blend with a share per pixel: take = a, keep = 255 - a
// in each 16-bit lane. Sixteen alphas are tested at once: all 0 leave the
// destination, all 255 copy the source, exactly as the formula gives.
__m128i blend8_a8_sse2(__m128i s, __m128i d, __m128i a)
{
    return blend8_sse2(s, d, a, _mm_sub_epi16(_mm_set1_epi16(255), a));
}

bool all_bytes_are(__m128i bytes, __m128i value)
{
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, value)) == 0xFFFF;
}

void blit_a8_span_sse2(pixel16* to, const pixel16* from, const std::uint8_t* alpha, std::size_t n)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi8(-1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i));
        if (all_bytes_are(a, zero))
            continue;
        const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 8));
        if (all_bytes_are(a, opaque)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), s0);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), s1);
            continue;
        }
        const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        const __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         blend8_a8_sse2(s0, d0, _mm_unpacklo_epi8(a, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8),
                         blend8_a8_sse2(s1, d1, _mm_unpackhi_epi8(a, zero)));
    }
    if (i + 8 <= n) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(alpha + i));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         blend8_a8_sse2(s, d, _mm_unpacklo_epi8(a, zero)));
        i += 8;
    }
    blit_a8_span_portable(to + i, from + i, alpha + i, n - i);
}

__attribute__((target("avx2"))) void blit_a8_span_avx2(pixel16* to, const pixel16* from,
                                                       const std::uint8_t* alpha, std::size_t n)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi8(-1);
    const __m256i full = _mm256_set1_epi16(255);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i));
        if (all_bytes_are(a, zero))
            continue;
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        if (all_bytes_are(a, opaque)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), s);
            continue;
        }
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        const __m256i take = _mm256_cvtepu8_epi16(a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                            blend16_avx2(s, d, take, _mm256_sub_epi16(full, take)));
    }
    blit_a8_span_sse2(to + i, from + i, alpha + i, n - i);
}

// ---------------------------------------------------------------- the spans of each level

struct sse2_t {};
struct ssse3_t {};
struct avx2_t {};

void fill_span(sse2_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_sse2(to, n, value); }
void fill_span(ssse3_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_sse2(to, n, value); }
__attribute__((target("avx2"))) void fill_span(avx2_t, pixel16* to, std::size_t n, pixel16 value)
{
    fill_span_avx2(to, n, value);
}

void convert_bgr_span(sse2_t, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_portable(to, bgr, n);
}
__attribute__((target("ssse3"))) void convert_bgr_span(ssse3_t, pixel16* to,
                                                       const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_ssse3(to, bgr, n);
}
__attribute__((target("avx2"))) void convert_bgr_span(avx2_t, pixel16* to, const std::uint8_t* bgr,
                                                      std::size_t n)
{
    convert_bgr_avx2(to, bgr, n);
}

void blend_span(sse2_t, pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    blend_span_sse2(to, from, n, weight);
}
__attribute__((target("avx2"))) void blend_span(avx2_t, pixel16* to, const pixel16* from,
                                                std::size_t n, unsigned weight)
{
    blend_span_avx2(to, from, n, weight);
}

void blit_key_span(sse2_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    blit_key_span_sse2(to, from, n, key);
}
__attribute__((target("avx2"))) void blit_key_span(avx2_t, pixel16* to, const pixel16* from,
                                                   std::size_t n, pixel16 key)
{
    blit_key_span_avx2(to, from, n, key);
}

void blit_a8_span(sse2_t, pixel16* to, const pixel16* from, const std::uint8_t* alpha,
                  std::size_t n)
{
    blit_a8_span_sse2(to, from, alpha, n);
}
__attribute__((target("avx2"))) void blit_a8_span(avx2_t, pixel16* to, const pixel16* from,
                                                  const std::uint8_t* alpha, std::size_t n)
{
    blit_a8_span_avx2(to, from, alpha, n);
}

// __builtin_cpu_supports also checks that the system saves the AVX registers.
simd_level detect_simd_level()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return simd_level::avx2;
    if (__builtin_cpu_supports("ssse3"))
        return simd_level::ssse3;
    return simd_level::sse2;
}

} // namespace

simd_level x86_simd_level()
{
    static const simd_level best = detect_simd_level();
    return best;
}

// ---------------------------------------------------------------- the kernels of each level

template <>
void fill_rows_at<simd_level::sse2>(pixel16* first, std::size_t w, std::size_t h,
                                    std::size_t stride, pixel16 value)
{
    fill_rows_with(sse2_t{}, first, w, h, stride, value);
}

template <>
__attribute__((target("avx2"), flatten)) void fill_rows_at<simd_level::avx2>(
    pixel16* first, std::size_t w, std::size_t h, std::size_t stride, pixel16 value)
{
    fill_rows_with(avx2_t{}, first, w, h, stride, value);
}

template <>
void blend_rows_at<simd_level::sse2>(pixel16* to, std::size_t to_stride, const pixel16* from,
                                     std::size_t from_stride, std::size_t w, std::size_t h,
                                     unsigned weight)
{
    blend_rows_with(sse2_t{}, to, to_stride, from, from_stride, w, h, weight);
}

template <>
__attribute__((target("avx2"), flatten)) void blend_rows_at<simd_level::avx2>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    std::size_t w, std::size_t h, unsigned weight)
{
    blend_rows_with(avx2_t{}, to, to_stride, from, from_stride, w, h, weight);
}

// ---- transparent blits

template <>
void blit_key_rows_at<simd_level::sse2>(pixel16* to, std::size_t to_stride, const pixel16* from,
                                        std::size_t from_stride, std::size_t w, std::size_t h,
                                        pixel16 key)
{
    blit_key_rows_with(sse2_t{}, to, to_stride, from, from_stride, w, h, key);
}

template <>
__attribute__((target("avx2"), flatten)) void blit_key_rows_at<simd_level::avx2>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    std::size_t w, std::size_t h, pixel16 key)
{
    blit_key_rows_with(avx2_t{}, to, to_stride, from, from_stride, w, h, key);
}

template <>
void blit_a8_rows_at<simd_level::sse2>(pixel16* to, std::size_t to_stride, const pixel16* from,
                                       std::size_t from_stride, const std::uint8_t* alpha,
                                       std::size_t alpha_stride, std::size_t w, std::size_t h)
{
    blit_a8_rows_with(sse2_t{}, to, to_stride, from, from_stride, alpha, alpha_stride, w, h);
}

template <>
__attribute__((target("avx2"), flatten)) void blit_a8_rows_at<simd_level::avx2>(
    pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
    const std::uint8_t* alpha, std::size_t alpha_stride, std::size_t w, std::size_t h)
{
    blit_a8_rows_with(avx2_t{}, to, to_stride, from, from_stride, alpha, alpha_stride, w, h);
}

template <>
__attribute__((target("ssse3"))) void convert_bgr_at<simd_level::ssse3>(
    pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_ssse3(to, bgr, n);
}

template <>
__attribute__((target("avx2"))) void convert_bgr_at<simd_level::avx2>(
    pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_avx2(to, bgr, n);
}

template <>
void expand_raw_at<simd_level::sse2>(const std::uint8_t* bgr, const picture_rows& rows)
{
    expand_raw_with(sse2_t{}, bgr, rows);
}

template <>
__attribute__((target("ssse3"), flatten)) void expand_raw_at<simd_level::ssse3>(
    const std::uint8_t* bgr, const picture_rows& rows)
{
    expand_raw_with(ssse3_t{}, bgr, rows);
}

template <>
__attribute__((target("avx2"), flatten)) void expand_raw_at<simd_level::avx2>(
    const std::uint8_t* bgr, const picture_rows& rows)
{
    expand_raw_with(avx2_t{}, bgr, rows);
}

template <>
bool expand_rle_at<simd_level::sse2>(const std::uint8_t* data, std::size_t size,
                                     const picture_rows& rows)
{
    return expand_rle_with(sse2_t{}, data, size, rows);
}

template <>
__attribute__((target("ssse3"), flatten)) bool expand_rle_at<simd_level::ssse3>(
    const std::uint8_t* data, std::size_t size, const picture_rows& rows)
{
    return expand_rle_with(ssse3_t{}, data, size, rows);
}

template <>
__attribute__((target("avx2"), flatten)) bool expand_rle_at<simd_level::avx2>(
    const std::uint8_t* data, std::size_t size, const picture_rows& rows)
{
    return expand_rle_with(avx2_t{}, data, size, rows);
}

// ---------------------------------------------------------------- the canvas
//
// Mirrored runs: eight (sixteen) pixels loaded from the left end of their
// stretch of source and turned round in the register. The rest of a canvas
// row is the spans above.

namespace {

__m128i reverse8_sse2(__m128i v)
{
    v = _mm_shufflelo_epi16(v, 0x1B);
    v = _mm_shufflehi_epi16(v, 0x1B);
    return _mm_shuffle_epi32(v, 0x4E);
}

void reverse_span_sse2(pixel16* to, const pixel16* from, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(from - static_cast<std::ptrdiff_t>(i + 7)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), reverse8_sse2(v));
    }
    reverse_span_portable(to + i, from - static_cast<std::ptrdiff_t>(i), n - i);
}

__attribute__((target("avx2"))) void reverse_span_avx2(pixel16* to, const pixel16* from,
                                                       std::size_t n)
{
    const __m256i turn = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                          14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(from - static_cast<std::ptrdiff_t>(i + 15)));
        const __m256i r = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, turn), 0x4E);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), r);
    }
    reverse_span_sse2(to + i, from - static_cast<std::ptrdiff_t>(i), n - i);
}

// The mirrored colour key: turned round in the register, then merged as
// blit_key_span does, so no buffer and one pass.
void reverse_key_span_sse2(pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    const __m128i k = _mm_set1_epi16(static_cast<short>(key));
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i s = reverse8_sse2(_mm_loadu_si128(
            reinterpret_cast<const __m128i*>(from - static_cast<std::ptrdiff_t>(i + 7))));
        const __m128i is_key = _mm_cmpeq_epi16(s, k);
        if (_mm_movemask_epi8(is_key) == 0xFFFF)
            continue;
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), merge_key_sse2(s, d, is_key));
    }
    reverse_key_span_portable(to + i, from - static_cast<std::ptrdiff_t>(i), n - i, key);
}

__attribute__((target("avx2"))) void reverse_key_span_avx2(pixel16* to, const pixel16* from,
                                                           std::size_t n, pixel16 key)
{
    const __m256i turn = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                          14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    const __m256i k = _mm256_set1_epi16(static_cast<short>(key));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(from - static_cast<std::ptrdiff_t>(i + 15)));
        const __m256i s = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, turn), 0x4E);
        const __m256i is_key = _mm256_cmpeq_epi16(s, k);
        if (_mm256_movemask_epi8(is_key) == -1)
            continue;
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), _mm256_blendv_epi8(s, d, is_key));
    }
    reverse_key_span_sse2(to + i, from - static_cast<std::ptrdiff_t>(i), n - i, key);
}

// Effective opacities eight at a time: (a * o + 127) / 255 in 16-bit lanes, the
// division as div255_by_multiply, keyed pixels cleared by a compare.
void opacity_span_sse2(std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha, std::size_t n,
                       const paint_style& style)
{
    const __m128i o = _mm_set1_epi16(static_cast<short>(style.opacity));
    const __m128i half = _mm_set1_epi16(127);
    const __m128i by255 = _mm_set1_epi16(static_cast<short>(0x8081));
    const __m128i key = _mm_set1_epi16(static_cast<short>(style.key));
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i e16 = o;
        if (alpha != nullptr) {
            const __m128i a = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(alpha + i)), zero);
            const __m128i y = _mm_add_epi16(_mm_mullo_epi16(a, o), half);
            e16 = _mm_srli_epi16(_mm_mulhi_epu16(y, by255), 7);
        }
        if (style.keyed) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            e16 = _mm_andnot_si128(_mm_cmpeq_epi16(p, key), e16);
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(e + i), _mm_packus_epi16(e16, e16));
    }
    opacity_span_portable(e + i, s + i, alpha != nullptr ? alpha + i : nullptr, n - i, style);
}

void reverse_span(sse2_t, pixel16* to, const pixel16* from, std::size_t n)
{
    reverse_span_sse2(to, from, n);
}

// Whole-number enlargements store each register to every row of a group that
// repeats one source row: no row is read back. (Copying each row from the one
// above ran at memcpy's speed; the stores alone at nearly twice that.)
void repeat_head(pixel16* to, std::size_t stride, std::size_t rows, pixel16 p, std::size_t m)
{
    for (std::size_t r = 0; r < rows; ++r)
        std::fill(to + r * stride, to + r * stride + m, p);
}

void repeat_each_row(pixel16* to, std::size_t stride, std::size_t rows, const pixel16* from,
                     std::size_t n, std::size_t k, std::size_t phase)
{
    for (std::size_t r = 0; r < rows; ++r)
        repeat_span_portable(to + r * stride, from, n, k, phase);
}

// Eight pixels three times each, by word shuffles of either half:
// [0 0 0 1 1 1 2 2] [2 3 3 3 4 4 4 5] [5 5 6 6 6 7 7 7].
void triple_rows_sse2(pixel16* to, std::size_t stride, std::size_t rows, const pixel16* from,
                      std::size_t n, std::size_t phase)
{
    std::size_t i = 0;
    if (phase > 0) {
        i = std::min(3 - phase, n);
        repeat_head(to, stride, rows, *from++, i);
    }
    for (; i + 24 <= n; i += 24, from += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i low = _mm_unpacklo_epi64(v, v);
        const __m128i high = _mm_unpackhi_epi64(v, v);
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, 0x40), 0xA5);
        const __m128i b = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFE), 0x40);
        const __m128i c = _mm_shufflehi_epi16(_mm_shufflelo_epi16(high, 0xA5), 0xFE);
        for (pixel16 *t = to + i, *end = t + rows * stride; t != end; t += stride) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 8), b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 16), c);
        }
    }
    repeat_each_row(to + i, stride, rows, from, n - i, 3, 0);
}

// Doubling: each pixel twice by unpacking a register with itself; tripling by
// word shuffles; other factors pixel by pixel (AVX2 triples by byte shuffles).
void repeat_rows_sse2(pixel16* to, std::size_t stride, std::size_t rows, const pixel16* from,
                      std::size_t n, std::size_t k, std::size_t phase)
{
    if (k == 3)
        return triple_rows_sse2(to, stride, rows, from, n, phase);
    if (k != 2)
        return repeat_each_row(to, stride, rows, from, n, k, phase);
    std::size_t i = 0;
    if (phase == 1 && n > 0)
        repeat_head(to, stride, rows, *from++, i = 1);
    for (; i + 16 <= n; i += 16, from += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i low = _mm_unpacklo_epi16(v, v);
        const __m128i high = _mm_unpackhi_epi16(v, v);
        for (pixel16 *t = to + i, *end = t + rows * stride; t != end; t += stride) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 8), high);
        }
    }
    repeat_each_row(to + i, stride, rows, from, n - i, 2, 0);
}

// Sixteen pixels twice each: the quarters reordered so that unpacking each
// 128-bit lane with itself yields pixels 0-15 in order.
__attribute__((target("avx2"))) void double_rows_avx2(pixel16* to, std::size_t stride,
                                                      std::size_t rows, const pixel16* from,
                                                      std::size_t n, std::size_t phase)
{
    std::size_t i = 0;
    if (phase == 1 && n > 0)
        repeat_head(to, stride, rows, *from++, i = 1);
    for (; i + 32 <= n; i += 32, from += 16) {
        const __m256i v = _mm256_permute4x64_epi64(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)), 0xD8);
        const __m256i low = _mm256_unpacklo_epi16(v, v);
        const __m256i high = _mm256_unpackhi_epi16(v, v);
        for (pixel16 *t = to + i, *end = t + rows * stride; t != end; t += stride) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(t), low);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(t + 16), high);
        }
    }
    repeat_rows_sse2(to + i, stride, rows, from, n - i, 2, 0);
}

__attribute__((target("avx2"))) void repeat_rows_avx2(pixel16* to, std::size_t stride,
                                                      std::size_t rows, const pixel16* from,
                                                      std::size_t n, std::size_t k,
                                                      std::size_t phase)
{
    if (k == 2)
        return double_rows_avx2(to, stride, rows, from, n, phase);
    if (k != 3)
        return repeat_rows_sse2(to, stride, rows, from, n, k, phase);
    // Eight pixels make 24: [0 0 0 1 1 1 2 2 | 2 3 3 3 4 4 4 5] and [5 5 6 6 6 7 7 7].
    const __m256i first16 = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5,
                                             4, 5, 6, 7, 6, 7, 6, 7, 8, 9, 8, 9, 8, 9, 10, 11);
    const __m128i last8 = _mm_setr_epi8(10, 11, 10, 11, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15,
                                        14, 15);
    std::size_t i = 0;
    if (phase > 0) {
        i = std::min(3 - phase, n);
        repeat_head(to, stride, rows, *from++, i);
    }
    for (; i + 24 <= n; i += 24, from += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m256i a = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(v), first16);
        const __m128i b = _mm_shuffle_epi8(v, last8);
        for (pixel16 *t = to + i, *end = t + rows * stride; t != end; t += stride) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(t), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 16), b);
        }
    }
    repeat_each_row(to + i, stride, rows, from, n - i, 3, 0);
}

// Stretches that pick every block of eight outputs from eight neighbouring
// source pixels (enlargements, and shrinks by little) take each block with one
// load of its source row and one byte shuffle. The shuffles are made once per
// job; strips of four blocks then run down all rows with theirs in registers.
// The gather reads the column table once a pixel between the row's stores,
// and its speed depended on where the table on the stack lay from the
// destination (some offsets ran 1.3 to 1.8 times slower: most likely loads
// whose low 12 address bits matched a pending store waited for it). Here the
// loop loads the source row, one 16-byte load a block, and a row offset a row.
constexpr std::size_t strip_blocks = 4;
constexpr std::size_t most_blocks = paint_chunk / 8 + strip_blocks;

struct shuffle_blocks {
    __m128i masks[most_blocks];
    std::size_t starts[most_blocks]; // source pixel of each block's load
    std::size_t outs[most_blocks];   // its first output: min(8b, w - 8), overlapping at the end
    std::size_t count;               // a whole number of strips: the last block repeats
};

// False when some block's eight columns span more than eight source pixels.
__attribute__((target("avx2"))) bool make_shuffle_blocks(const paint_picked_job& job,
                                                          shuffle_blocks& out)
{
    const std::size_t blocks = (job.w + 7) / 8;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t o = std::min(8 * b, job.w - 8);
        const std::size_t* c = job.columns + o;
        const auto [lo, hi] = std::minmax_element(c, c + 8);
        if (*hi - *lo > 7)
            return false;
        // A load that would pass the row's end starts earlier instead.
        const std::size_t start = std::min(*lo, job.row_width - 8);
        alignas(16) std::uint8_t m[16];
        for (std::size_t q = 0; q < 8; ++q) {
            m[2 * q] = static_cast<std::uint8_t>(2 * (c[q] - start));
            m[2 * q + 1] = static_cast<std::uint8_t>(m[2 * q] + 1);
        }
        out.masks[b] = _mm_load_si128(reinterpret_cast<const __m128i*>(m));
        out.starts[b] = start;
        out.outs[b] = o;
    }
    out.count = (blocks + strip_blocks - 1) / strip_blocks * strip_blocks;
    for (std::size_t b = blocks; b < out.count; ++b) { // painting a block twice changes nothing
        out.masks[b] = out.masks[blocks - 1];
        out.starts[b] = out.starts[blocks - 1];
        out.outs[b] = out.outs[blocks - 1];
    }
    return true;
}

__attribute__((target("avx2"))) inline __m128i pick_block(const pixel16* from, __m128i mask)
{
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), mask);
}

template <bool keyed>
__attribute__((target("avx2"))) inline void land_block(pixel16* to, __m128i p, __m128i key)
{
    auto* at = reinterpret_cast<__m128i*>(to);
    if constexpr (keyed)
        p = _mm_blendv_epi8(p, _mm_loadu_si128(at), _mm_cmpeq_epi16(p, key));
    _mm_storeu_si128(at, p);
}

// Strip blocks b .. b + 3 on every group of rows that repeats one source row:
// each block is picked once and landed on every row of the group (a key keeps
// each row's own destination where the source is the key).
template <bool keyed>
__attribute__((target("avx2"))) void shuffle_strip(const paint_picked_job& job,
                                                   const shuffle_blocks& sb, std::size_t b,
                                                   const std::uint8_t* groups, pixel16 key)
{
    const __m128i m0 = sb.masks[b];
    const __m128i m1 = sb.masks[b + 1];
    const __m128i m2 = sb.masks[b + 2];
    const __m128i m3 = sb.masks[b + 3];
    const pixel16* const f0 = job.from + sb.starts[b];
    const pixel16* const f1 = job.from + sb.starts[b + 1];
    const pixel16* const f2 = job.from + sb.starts[b + 2];
    const pixel16* const f3 = job.from + sb.starts[b + 3];
    pixel16* const t0 = job.to + sb.outs[b];
    pixel16* const t1 = job.to + sb.outs[b + 1];
    pixel16* const t2 = job.to + sb.outs[b + 2];
    pixel16* const t3 = job.to + sb.outs[b + 3];
    const std::size_t stride = job.to_stride;
    const std::size_t h = job.h;
    const std::size_t* const rows = job.rows;
    const __m128i k = _mm_set1_epi16(static_cast<short>(key));
    for (std::size_t r = 0; r < h; r += groups[r]) {
        const std::size_t f = rows[r];
        const __m128i p0 = pick_block(f0 + f, m0);
        const __m128i p1 = pick_block(f1 + f, m1);
        const __m128i p2 = pick_block(f2 + f, m2);
        const __m128i p3 = pick_block(f3 + f, m3);
        for (std::size_t at = r * stride, end = (r + groups[r]) * stride; at != end; at += stride) {
            land_block<keyed>(t0 + at, p0, k);
            land_block<keyed>(t1 + at, p1, k);
            land_block<keyed>(t2 + at, p2, k);
            land_block<keyed>(t3 + at, p3, k);
        }
    }
}

__attribute__((target("avx2"))) bool pick_by_shuffles(avx2_t, const paint_picked_job& job,
                                                      paint_kind kind, const paint_style& style)
{
    const bool keyed = kind == paint_kind::key;
    if ((kind != paint_kind::copy && !keyed) || job.w < 8 || job.w > paint_chunk ||
        job.h > paint_chunk || job.row_width < 8)
        return false;
    shuffle_blocks sb;
    if (!make_shuffle_blocks(job, sb))
        return false;
    // groups[r]: how many rows from r on repeat row r's source row (found once, not per strip).
    std::uint8_t groups[paint_chunk];
    for (std::size_t r = 0; r < job.h;) {
        std::size_t same = 1;
        while (r + same < job.h && same < 255 && job.rows[r + same] == job.rows[r])
            ++same;
        groups[r] = static_cast<std::uint8_t>(same);
        r += same;
    }
    for (std::size_t b = 0; b < sb.count; b += strip_blocks) {
        if (keyed)
            shuffle_strip<true>(job, sb, b, groups, style.key);
        else
            shuffle_strip<false>(job, sb, b, groups, style.key);
    }
    return true;
}

void reverse_key_span(sse2_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    reverse_key_span_sse2(to, from, n, key);
}
__attribute__((target("avx2"))) void reverse_key_span(avx2_t, pixel16* to, const pixel16* from,
                                                      std::size_t n, pixel16 key)
{
    reverse_key_span_avx2(to, from, n, key);
}

void repeat_rows(sse2_t, pixel16* to, std::size_t stride, std::size_t rows, const pixel16* from,
                 std::size_t n, std::size_t k, std::size_t phase)
{
    repeat_rows_sse2(to, stride, rows, from, n, k, phase);
}
__attribute__((target("avx2"))) void repeat_rows(avx2_t, pixel16* to, std::size_t stride,
                                                 std::size_t rows, const pixel16* from,
                                                 std::size_t n, std::size_t k, std::size_t phase)
{
    repeat_rows_avx2(to, stride, rows, from, n, k, phase);
}

void opacity_span(sse2_t, std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha,
                  std::size_t n, const paint_style& style)
{
    opacity_span_sse2(e, s, alpha, n, style);
}
__attribute__((target("avx2"))) void reverse_span(avx2_t, pixel16* to, const pixel16* from,
                                                  std::size_t n)
{
    reverse_span_avx2(to, from, n);
}

// The plane's effective opacities and the blend in one pass, sixteen pixels a
// step: every pixel of a plane at an opacity below 255 blends, so the two-pass
// form's byte buffer and its eight-wide first pass were a third of the time.
__attribute__((target("avx2"))) void plane_span(avx2_t, pixel16* to, const pixel16* from,
                                                const std::uint8_t* alpha, std::size_t n,
                                                const paint_style& style)
{
    const __m256i o = _mm256_set1_epi16(static_cast<short>(style.opacity));
    const __m256i half = _mm256_set1_epi16(127);
    const __m256i by255 = _mm256_set1_epi16(static_cast<short>(0x8081));
    const __m256i key = _mm256_set1_epi16(static_cast<short>(style.key));
    const __m256i full = _mm256_set1_epi16(255);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        __m256i e = o;
        if (alpha != nullptr) {
            const __m256i a = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i)));
            e = _mm256_srli_epi16(
                _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(a, o), half), by255), 7);
        }
        if (style.keyed)
            e = _mm256_andnot_si256(_mm256_cmpeq_epi16(s, key), e);
        if (_mm256_testz_si256(e, e))
            continue;
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(e, full)) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), s);
            continue;
        }
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                            blend16_avx2(s, d, e, _mm256_sub_epi16(full, e)));
    }
    std::uint8_t e[16];
    opacity_span_sse2(e, from + i, alpha != nullptr ? alpha + i : nullptr, n - i, style);
    blit_a8_span_sse2(to + i, from + i, e, n - i);
}

} // namespace

template <>
void paint_rows_at<simd_level::sse2>(const paint_rows_job& job, const paint_style& style)
{
    paint_rows_with(sse2_t{}, job, style);
}

template <>
__attribute__((target("avx2"), flatten)) void
paint_rows_at<simd_level::avx2>(const paint_rows_job& job, const paint_style& style)
{
    paint_rows_with(avx2_t{}, job, style);
}

template <>
void paint_picked_rows_at<simd_level::sse2>(const paint_picked_job& job, const paint_style& style)
{
    paint_picked_with(sse2_t{}, job, style);
}

// Aligned: its row-repeating store loops are a few bytes long, and one that
// crossed a 64-byte line made the 3x enlargement a third slower in a binary
// where the function happened to start 48 bytes into a line.
template <>
__attribute__((target("avx2"), flatten, aligned(64))) void
paint_picked_rows_at<simd_level::avx2>(const paint_picked_job& job, const paint_style& style)
{
    paint_picked_with(avx2_t{}, job, style);
}

template <>
void fill_blend_rows_at<simd_level::sse2>(pixel16* first, std::size_t w, std::size_t h,
                                          std::size_t stride, pixel16 value, unsigned e)
{
    fill_blend_rows_with(sse2_t{}, first, w, h, stride, value, e);
}

template <>
__attribute__((target("avx2"), flatten)) void
fill_blend_rows_at<simd_level::avx2>(pixel16* first, std::size_t w, std::size_t h,
                                     std::size_t stride, pixel16 value, unsigned e)
{
    fill_blend_rows_with(avx2_t{}, first, w, h, stride, value, e);
}

#endif
