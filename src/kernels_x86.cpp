// The x86-64 levels: SSE2 (part of x86-64, always there), SSSE3 and AVX2.
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

#include <immintrin.h>

#include <cstring>

#include "kernels_loops.h"

namespace {

using namespace kernel_loops;

std::size_t pixels_to_alignment(const pixel16* p, std::size_t bytes)
{
    const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % bytes;
    return off == 0 ? 0 : (bytes - off) / sizeof(pixel16);
}

// ---------------------------------------------------------------- fill

// Fewer than 16 pixels in at most two stores that may overlap: no loop, and the
// short runs of run-length data take few branches.
void fill_short_sse2(pixel16* to, std::size_t n, __m128i v)
{
    if (n >= 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 8), v);
    } else if (n >= 4) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + n - 4), v);
    } else if (n > 0) {
        // 0, n / 2 and n - 1 cover every pixel of one, two or three.
        const auto p = static_cast<pixel16>(_mm_cvtsi128_si32(v));
        to[0] = p;
        to[n / 2] = p;
        to[n - 1] = p;
    }
}

// to[i] = value, 8 at a time after one unaligned store; the last may overlap.
void fill_span_sse2(pixel16* to, std::size_t n, pixel16 value)
{
    const __m128i v = _mm_set1_epi16(static_cast<short>(value));
    if (n < 16) {
        fill_short_sse2(to, n, v);
        return;
    }
    std::size_t i = pixels_to_alignment(to, 16);
    if (i != 0)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
    for (; i + 8 <= n; i += 8)
        _mm_store_si128(reinterpret_cast<__m128i*>(to + i), v);
    if (i < n)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 8), v);
}

// to[i] = value, 16 at a time, four stores a turn while there is room.
__attribute__((target("avx2"))) void fill_span_avx2(pixel16* to, std::size_t n, pixel16 value)
{
    const __m256i v = _mm256_set1_epi16(static_cast<short>(value));
    if (n < 16) {
        fill_short_sse2(to, n, _mm256_castsi256_si128(v));
        return;
    }
    // Up to 128 pixels (a run packet's most) in stores from both ends, no loop.
    if (n <= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 16), v);
        return;
    }
    if (n <= 64) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 32), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 16), v);
        return;
    }
    if (n <= 128) {
        for (std::size_t k = 0; k < 64; k += 16) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + k), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 64 + k), v);
        }
        return;
    }
    std::size_t i = pixels_to_alignment(to, 32);
    if (i != 0)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), v);
    for (; i + 64 <= n; i += 64) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 16), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 32), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 48), v);
    }
    for (; i + 16 <= n; i += 16)
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i), v);
    if (i < n)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 16), v);
}

// ---------------------------------------------------------------- BGR to RGB565

// Eight pixels, 24 bytes, arrive in two overlapping 16-byte loads: `a` holds
// pixels 0-3 at bytes 0-11, `b` (loaded 8 bytes later) pixels 4-7 at bytes 4-15.
// Byte shuffles gather, per 16-bit lane, R:G (red in the high byte) and 0:B;
// then p = (rg & 0xF800) | ((rg << 3) & 0x07E0) | (b >> 3).
constexpr char z = -128; // a shuffle index with the top bit set gives a zero byte

__attribute__((target("ssse3"))) __m128i convert8_ssse3(const std::uint8_t* bgr)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 8));
    const __m128i rg_a = _mm_setr_epi8(1, 2, 4, 5, 7, 8, 10, 11, z, z, z, z, z, z, z, z);
    const __m128i rg_b = _mm_setr_epi8(z, z, z, z, z, z, z, z, 5, 6, 8, 9, 11, 12, 14, 15);
    const __m128i b_a = _mm_setr_epi8(0, z, 3, z, 6, z, 9, z, z, z, z, z, z, z, z, z);
    const __m128i b_b = _mm_setr_epi8(z, z, z, z, z, z, z, z, 4, z, 7, z, 10, z, 13, z);
    const __m128i rg = _mm_or_si128(_mm_shuffle_epi8(a, rg_a), _mm_shuffle_epi8(b, rg_b));
    const __m128i blue = _mm_or_si128(_mm_shuffle_epi8(a, b_a), _mm_shuffle_epi8(b, b_b));
    const __m128i red = _mm_and_si128(rg, _mm_set1_epi16(static_cast<short>(0xF800)));
    const __m128i green = _mm_and_si128(_mm_slli_epi16(rg, 3), _mm_set1_epi16(0x07E0));
    return _mm_or_si128(_mm_or_si128(red, green), _mm_srli_epi16(blue, 3));
}

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

// The same on eight pixels in 16-bit lanes: every sum stays below 255 * 64, and
// the division is div255_by_multiply.
__m128i blend8_sse2(__m128i s, __m128i d, __m128i take, __m128i keep)
{
    const __m128i m5 = _mm_set1_epi16(0x1F);
    const __m128i m6 = _mm_set1_epi16(0x3F);
    const __m128i magic = _mm_set1_epi16(static_cast<short>(0x8081));
    const __m128i yr = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(s, 11), take),
                                     _mm_mullo_epi16(_mm_srli_epi16(d, 11), keep));
    const __m128i yg = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(s, 5), m6), take),
                                     _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(d, 5), m6), keep));
    const __m128i yb = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(s, m5), take),
                                     _mm_mullo_epi16(_mm_and_si128(d, m5), keep));
    const __m128i r = _mm_srli_epi16(_mm_mulhi_epu16(yr, magic), 7);
    const __m128i g = _mm_srli_epi16(_mm_mulhi_epu16(yg, magic), 7);
    const __m128i b = _mm_srli_epi16(_mm_mulhi_epu16(yb, magic), 7);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
}

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

__attribute__((target("avx2"))) __m256i blend16_avx2(__m256i s, __m256i d, __m256i take,
                                                     __m256i keep)
{
    const __m256i m5 = _mm256_set1_epi16(0x1F);
    const __m256i m6 = _mm256_set1_epi16(0x3F);
    const __m256i magic = _mm256_set1_epi16(static_cast<short>(0x8081));
    const __m256i yr = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(s, 11), take),
                                        _mm256_mullo_epi16(_mm256_srli_epi16(d, 11), keep));
    const __m256i yg =
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(s, 5), m6), take),
                         _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(d, 5), m6), keep));
    const __m256i yb = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(s, m5), take),
                                        _mm256_mullo_epi16(_mm256_and_si256(d, m5), keep));
    const __m256i r = _mm256_srli_epi16(_mm256_mulhi_epu16(yr, magic), 7);
    const __m256i g = _mm256_srli_epi16(_mm256_mulhi_epu16(yg, magic), 7);
    const __m256i b = _mm256_srli_epi16(_mm256_mulhi_epu16(yb, magic), 7);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(r, 11), _mm256_slli_epi16(g, 5)), b);
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

// ---------------------------------------------------------------- decoding every stored format: spans
//
// Each span converts whole blocks of pixels and then one last block that ends
// at the span's end, overlapping pixels already done (the same bytes again);
// spans shorter than a block go pixel by pixel.

// 565 in the low half of each 32-bit lane of blue, green, red, alpha bytes.
__m128i bgra4_to_565_sse2(__m128i v)
{
    const __m128i red = _mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xF800));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(v, 5), _mm_set1_epi32(0x07E0));
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 3), _mm_set1_epi32(0x001F));
    // Sign-extended from 16 bits, so the signed pack keeps every value as it is.
    return _mm_srai_epi32(_mm_slli_epi32(_mm_or_si128(_mm_or_si128(red, green), blue), 16), 16);
}

// Sixteen pixels, 64 bytes: pixels and, when they count, the fourth bytes.
void bgra16_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, bool alpha_counts)
{
    const auto* in = reinterpret_cast<const __m128i*>(src);
    const __m128i v0 = _mm_loadu_si128(in);
    const __m128i v1 = _mm_loadu_si128(in + 1);
    const __m128i v2 = _mm_loadu_si128(in + 2);
    const __m128i v3 = _mm_loadu_si128(in + 3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     _mm_packs_epi32(bgra4_to_565_sse2(v0), bgra4_to_565_sse2(v1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8),
                     _mm_packs_epi32(bgra4_to_565_sse2(v2), bgra4_to_565_sse2(v3)));
    __m128i a = _mm_set1_epi8(-1);
    if (alpha_counts) {
        const __m128i a01 = _mm_packs_epi32(_mm_srli_epi32(v0, 24), _mm_srli_epi32(v1, 24));
        const __m128i a23 = _mm_packs_epi32(_mm_srli_epi32(v2, 24), _mm_srli_epi32(v3, 24));
        a = _mm_packus_epi16(a01, a23);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), a);
}

void bgra_span_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                    bool alpha_counts)
{
    if (n < 16) {
        bgra_span_portable(to, alpha, src, n, alpha_counts);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        bgra16_sse2(to + i, alpha + i, src + 4 * i, alpha_counts);
    if (i < n)
        bgra16_sse2(to + n - 16, alpha + n - 16, src + 4 * (n - 16), alpha_counts);
}

__attribute__((target("avx2"))) __m256i bgra8_to_565_avx2(__m256i v)
{
    const __m256i red = _mm256_and_si256(_mm256_srli_epi32(v, 8), _mm256_set1_epi32(0xF800));
    const __m256i green = _mm256_and_si256(_mm256_srli_epi32(v, 5), _mm256_set1_epi32(0x07E0));
    const __m256i blue = _mm256_and_si256(_mm256_srli_epi32(v, 3), _mm256_set1_epi32(0x001F));
    const __m256i p = _mm256_or_si256(_mm256_or_si256(red, green), blue);
    return _mm256_srai_epi32(_mm256_slli_epi32(p, 16), 16);
}

// The packs work within 128-bit halves: this puts the four quarters back in order.
constexpr int quarters_in_order = 0xD8; // 0, 2, 1, 3

// Thirty-two pixels, 128 bytes.
__attribute__((target("avx2"))) void bgra32_avx2(pixel16* to, std::uint8_t* alpha,
                                                 const std::uint8_t* src, bool alpha_counts)
{
    const auto* in = reinterpret_cast<const __m256i*>(src);
    const __m256i v0 = _mm256_loadu_si256(in);
    const __m256i v1 = _mm256_loadu_si256(in + 1);
    const __m256i v2 = _mm256_loadu_si256(in + 2);
    const __m256i v3 = _mm256_loadu_si256(in + 3);
    const __m256i p01 = _mm256_packs_epi32(bgra8_to_565_avx2(v0), bgra8_to_565_avx2(v1));
    const __m256i p23 = _mm256_packs_epi32(bgra8_to_565_avx2(v2), bgra8_to_565_avx2(v3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute4x64_epi64(p01, quarters_in_order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16), _mm256_permute4x64_epi64(p23, quarters_in_order));
    __m256i a = _mm256_set1_epi8(-1);
    if (alpha_counts) {
        // Within each half: pixels 0-3 of v0, v1, v2, v3, then 4-7 of each.
        const __m256i a01 = _mm256_packs_epi32(_mm256_srli_epi32(v0, 24), _mm256_srli_epi32(v1, 24));
        const __m256i a23 = _mm256_packs_epi32(_mm256_srli_epi32(v2, 24), _mm256_srli_epi32(v3, 24));
        const __m256i bytes = _mm256_packus_epi16(a01, a23);
        a = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), a);
}

__attribute__((target("avx2"))) void bgra_span_avx2(pixel16* to, std::uint8_t* alpha,
                                                    const std::uint8_t* src, std::size_t n,
                                                    bool alpha_counts)
{
    if (n < 32) {
        bgra_span_sse2(to, alpha, src, n, alpha_counts);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        bgra32_avx2(to + i, alpha + i, src + 4 * i, alpha_counts);
    if (i < n)
        bgra32_avx2(to + n - 32, alpha + n - 32, src + 4 * (n - 32), alpha_counts);
}

// 16-bit words: p = (v << 1 & 0xFFC0) | (v >> 4 & 0x0020) | (v & 0x001F), as argb16_to_16.
__m128i argb8_to_565_sse2(__m128i v)
{
    const __m128i red_green = _mm_and_si128(_mm_slli_epi16(v, 1), _mm_set1_epi16(static_cast<short>(0xFFC0)));
    const __m128i green_low = _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi16(0x0020));
    return _mm_or_si128(_mm_or_si128(red_green, green_low), _mm_and_si128(v, _mm_set1_epi16(0x001F)));
}

// Sixteen pixels, 32 bytes.
void argb16_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, bool alpha_bit)
{
    const auto* in = reinterpret_cast<const __m128i*>(src);
    const __m128i v0 = _mm_loadu_si128(in);
    const __m128i v1 = _mm_loadu_si128(in + 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), argb8_to_565_sse2(v0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), argb8_to_565_sse2(v1));
    // Bit 15 spread over its word: 0 or -1, packed to 0 or 255.
    const __m128i a = alpha_bit ? _mm_packs_epi16(_mm_srai_epi16(v0, 15), _mm_srai_epi16(v1, 15))
                                : _mm_set1_epi8(-1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), a);
}

void argb16_span_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                      bool alpha_bit)
{
    if (n < 16) {
        argb16_span_portable(to, alpha, src, n, alpha_bit);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        argb16_sse2(to + i, alpha + i, src + 2 * i, alpha_bit);
    if (i < n)
        argb16_sse2(to + n - 16, alpha + n - 16, src + 2 * (n - 16), alpha_bit);
}

__attribute__((target("avx2"))) __m256i argb16_to_565_avx2(__m256i v)
{
    const __m256i red_green =
        _mm256_and_si256(_mm256_slli_epi16(v, 1), _mm256_set1_epi16(static_cast<short>(0xFFC0)));
    const __m256i green_low = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi16(0x0020));
    return _mm256_or_si256(_mm256_or_si256(red_green, green_low),
                           _mm256_and_si256(v, _mm256_set1_epi16(0x001F)));
}

// Thirty-two pixels, 64 bytes.
__attribute__((target("avx2"))) void argb32_avx2(pixel16* to, std::uint8_t* alpha,
                                                 const std::uint8_t* src, bool alpha_bit)
{
    const auto* in = reinterpret_cast<const __m256i*>(src);
    const __m256i v0 = _mm256_loadu_si256(in);
    const __m256i v1 = _mm256_loadu_si256(in + 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), argb16_to_565_avx2(v0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16), argb16_to_565_avx2(v1));
    __m256i a = _mm256_set1_epi8(-1);
    if (alpha_bit) {
        const __m256i packed = _mm256_packs_epi16(_mm256_srai_epi16(v0, 15), _mm256_srai_epi16(v1, 15));
        a = _mm256_permute4x64_epi64(packed, quarters_in_order);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), a);
}

__attribute__((target("avx2"))) void argb16_span_avx2(pixel16* to, std::uint8_t* alpha,
                                                      const std::uint8_t* src, std::size_t n,
                                                      bool alpha_bit)
{
    if (n < 32) {
        argb16_span_sse2(to, alpha, src, n, alpha_bit);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        argb32_avx2(to + i, alpha + i, src + 2 * i, alpha_bit);
    if (i < n)
        argb32_avx2(to + n - 32, alpha + n - 32, src + 2 * (n - 32), alpha_bit);
}

// Grey levels in 16-bit lanes: (g & 0xF8) << 8 | (g & 0xFC) << 3 | g >> 3.
__m128i grey8_to_565_sse2(__m128i g)
{
    const __m128i red = _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xF8)), 8);
    const __m128i green = _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3);
    return _mm_or_si128(_mm_or_si128(red, green), _mm_srli_epi16(g, 3));
}

// Sixteen pixels, 16 bytes.
void grey16_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), grey8_to_565_sse2(_mm_unpacklo_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), grey8_to_565_sse2(_mm_unpackhi_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), _mm_set1_epi8(-1));
}

void grey_span_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    if (n < 16) {
        grey_span_portable(to, alpha, src, n);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        grey16_sse2(to + i, alpha + i, src + i);
    if (i < n)
        grey16_sse2(to + n - 16, alpha + n - 16, src + n - 16);
}

// Sixteen grey-and-alpha pixels, 32 bytes.
void grey_alpha16_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src)
{
    const auto* in = reinterpret_cast<const __m128i*>(src);
    const __m128i v0 = _mm_loadu_si128(in);
    const __m128i v1 = _mm_loadu_si128(in + 1);
    const __m128i low = _mm_set1_epi16(0xFF);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), grey8_to_565_sse2(_mm_and_si128(v0, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), grey8_to_565_sse2(_mm_and_si128(v1, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha),
                     _mm_packus_epi16(_mm_srli_epi16(v0, 8), _mm_srli_epi16(v1, 8)));
}

void grey_alpha_span_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    if (n < 16) {
        grey_alpha_span_portable(to, alpha, src, n);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        grey_alpha16_sse2(to + i, alpha + i, src + 2 * i);
    if (i < n)
        grey_alpha16_sse2(to + n - 16, alpha + n - 16, src + 2 * (n - 16));
}

// Opacities of a run: fewer than 16 in at most two stores that may overlap.
void fill_bytes_sse2(std::uint8_t* to, std::size_t n, std::uint8_t value)
{
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), v);
        if (i < n)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 16), v);
    } else if (n >= 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + n - 8), v);
    } else if (n >= 4) {
        const auto word = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
        std::memcpy(to, &word, 4);
        std::memcpy(to + n - 4, &word, 4);
    } else if (n > 0) {
        to[0] = value;
        to[n / 2] = value;
        to[n - 1] = value;
    }
}

__attribute__((target("avx2"))) void fill_bytes_avx2(std::uint8_t* to, std::size_t n, std::uint8_t value)
{
    if (n < 32) {
        fill_bytes_sse2(to, n, value);
        return;
    }
    const __m256i v = _mm256_set1_epi8(static_cast<char>(value));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), v);
    if (i < n)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 32), v);
}

void run_span(sse2_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel, std::uint8_t a)
{
    fill_span_sse2(to, n, pixel);
    fill_bytes_sse2(alpha, n, a);
}
void run_span(ssse3_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel, std::uint8_t a)
{
    fill_span_sse2(to, n, pixel);
    fill_bytes_sse2(alpha, n, a);
}
__attribute__((target("avx2"))) void run_span(avx2_t, pixel16* to, std::uint8_t* alpha, std::size_t n,
                                              pixel16 pixel, std::uint8_t a)
{
    fill_span_avx2(to, n, pixel);
    fill_bytes_avx2(alpha, n, a);
}

// Thirty-two indices, all checked first: a block holding a bad one is left
// to the pixel-at-a-time loop, which stops exactly there. Eight map entries a
// gather, each pixel | opacity << 16.
__attribute__((target("avx2"))) std::size_t index_span_avx2(pixel16* to, std::uint8_t* alpha,
                                                            const std::uint8_t* src, std::size_t n,
                                                            const stored_format& f)
{
    std::size_t i = 0;
    if (f.end > f.first) {
        // Valid: (index - first) mod 256 <= end - first - 1.
        const __m256i first = _mm256_set1_epi8(static_cast<char>(f.first));
        const __m256i last = _mm256_set1_epi8(static_cast<char>(f.end - f.first - 1));
        const auto* map = reinterpret_cast<const int*>(f.map);
        const __m256i low = _mm256_set1_epi32(0xFFFF);
        for (; i + 32 <= n; i += 32) {
            const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
            const __m256i from_first = _mm256_sub_epi8(index, first);
            const __m256i valid = _mm256_cmpeq_epi8(_mm256_min_epu8(from_first, last), from_first);
            if (_mm256_movemask_epi8(valid) != -1)
                break;
            const __m128i lo = _mm256_castsi256_si128(index);
            const __m128i hi = _mm256_extracti128_si256(index, 1);
            const __m256i w0 = _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(lo), 4);
            const __m256i w1 = _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)), 4);
            const __m256i w2 = _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(hi), 4);
            const __m256i w3 = _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)), 4);
            const __m256i p01 = _mm256_packus_epi32(_mm256_and_si256(w0, low), _mm256_and_si256(w1, low));
            const __m256i p23 = _mm256_packus_epi32(_mm256_and_si256(w2, low), _mm256_and_si256(w3, low));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), _mm256_permute4x64_epi64(p01, quarters_in_order));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 16),
                                _mm256_permute4x64_epi64(p23, quarters_in_order));
            const __m256i a01 = _mm256_packus_epi32(_mm256_srli_epi32(w0, 16), _mm256_srli_epi32(w1, 16));
            const __m256i a23 = _mm256_packus_epi32(_mm256_srli_epi32(w2, 16), _mm256_srli_epi32(w3, 16));
            const __m256i bytes = _mm256_packus_epi16(a01, a23);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha + i),
                                _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
        }
    }
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

template <typename Tag>
std::size_t index_span(Tag, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                       std::size_t n, const stored_format& f)
{
    return index_span_portable(to, alpha, src, n, f);
}

__attribute__((target("avx2"))) std::size_t index_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                                       const std::uint8_t* src, std::size_t n,
                                                       const stored_format& f)
{
    return index_span_avx2(to, alpha, src, n, f);
}

void bgra_span(sse2_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
               bool alpha_counts)
{
    bgra_span_sse2(to, alpha, src, n, alpha_counts);
}
void bgra_span(ssse3_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
               bool alpha_counts)
{
    bgra_span_sse2(to, alpha, src, n, alpha_counts);
}
__attribute__((target("avx2"))) void bgra_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                               const std::uint8_t* src, std::size_t n, bool alpha_counts)
{
    bgra_span_avx2(to, alpha, src, n, alpha_counts);
}

void argb16_span(sse2_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                 bool alpha_bit)
{
    argb16_span_sse2(to, alpha, src, n, alpha_bit);
}
void argb16_span(ssse3_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
                 bool alpha_bit)
{
    argb16_span_sse2(to, alpha, src, n, alpha_bit);
}
__attribute__((target("avx2"))) void argb16_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                                 const std::uint8_t* src, std::size_t n, bool alpha_bit)
{
    argb16_span_avx2(to, alpha, src, n, alpha_bit);
}

// Grey spans: SSE2 at every level, for now.
template <typename Tag>
void grey_span(Tag, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    grey_span_sse2(to, alpha, src, n);
}

template <typename Tag>
void grey_alpha_span(Tag, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    grey_alpha_span_sse2(to, alpha, src, n);
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

// ---------------------------------------------------------------- decoding every stored format: kernels

template <>
stored_status decode_stored_at<simd_level::sse2>(const stored_format& format,
                                                 const std::uint8_t* data, std::size_t size,
                                                 bool run_length, const picture_planes& planes)
{
    return decode_stored_with(sse2_t{}, format, data, size, run_length, planes);
}

template <>
__attribute__((target("ssse3"), flatten)) stored_status decode_stored_at<simd_level::ssse3>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_with(ssse3_t{}, format, data, size, run_length, planes);
}

template <>
__attribute__((target("avx2"), flatten)) stored_status decode_stored_at<simd_level::avx2>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_with(avx2_t{}, format, data, size, run_length, planes);
}

#endif
