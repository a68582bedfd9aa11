// What the x86-64 kernel files share: alignment, the fills that runs of
// pixels use, the conversion of eight BGR pixels and the blend of eight or
// sixteen pixels. Internal; see kernels_x86.cpp for how the levels are built.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>
#include "kernels_loops.h"

namespace x86 {

inline std::size_t pixels_to_alignment(const pixel16* p, std::size_t bytes)
{
    const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % bytes;
    return off == 0 ? 0 : (bytes - off) / sizeof(pixel16);
}

// Fewer than 16 pixels in at most two stores that may overlap: no loop, and the
// short runs of run-length data take few branches.
inline void fill_short_sse2(pixel16* to, std::size_t n, __m128i v)
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
inline void fill_span_sse2(pixel16* to, std::size_t n, pixel16 value)
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
__attribute__((target("avx2"))) inline void fill_span_avx2(pixel16* to, std::size_t n, pixel16 value)
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

// Eight pixels, 24 bytes, arrive in two overlapping 16-byte loads: `a` holds
// pixels 0-3 at bytes 0-11, `b` (loaded 8 bytes later) pixels 4-7 at bytes 4-15.
// Byte shuffles gather, per 16-bit lane, R:G (red in the high byte) and 0:B;
// then p = (rg & 0xF800) | ((rg << 3) & 0x07E0) | (b >> 3).
constexpr char z = -128; // a shuffle index with the top bit set gives a zero byte

__attribute__((target("ssse3"))) inline __m128i convert8_ssse3(const std::uint8_t* bgr)
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

// Each channel of a and of b weighed by wa and wb and the two summed, in 16-bit
// lanes (the caller's weights keep every sum below 65536).
struct channels8 {
    __m128i r, g, b;
};
inline channels8 weigh_channels_sse2(__m128i a, __m128i b, __m128i wa, __m128i wb)
{
    const __m128i m5 = _mm_set1_epi16(0x1F);
    const __m128i m6 = _mm_set1_epi16(0x3F);
    return {_mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(a, 11), wa),
                          _mm_mullo_epi16(_mm_srli_epi16(b, 11), wb)),
            _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(a, 5), m6), wa),
                          _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(b, 5), m6), wb)),
            _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(a, m5), wa),
                          _mm_mullo_epi16(_mm_and_si128(b, m5), wb))};
}

struct channels16 {
    __m256i r, g, b;
};
__attribute__((target("avx2"))) inline channels16 weigh_channels_avx2(__m256i a, __m256i b,
                                                                      __m256i wa, __m256i wb)
{
    const __m256i m5 = _mm256_set1_epi16(0x1F);
    const __m256i m6 = _mm256_set1_epi16(0x3F);
    return {_mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(a, 11), wa),
                             _mm256_mullo_epi16(_mm256_srli_epi16(b, 11), wb)),
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(a, 5), m6), wa),
                             _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi16(b, 5), m6), wb)),
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(a, m5), wa),
                             _mm256_mullo_epi16(_mm256_and_si256(b, m5), wb))};
}

// The same on eight pixels in 16-bit lanes: every sum stays below 255 * 64, and
// the division is div255_by_multiply.
inline __m128i blend8_sse2(__m128i s, __m128i d, __m128i take, __m128i keep)
{
    const __m128i magic = _mm_set1_epi16(static_cast<short>(0x8081));
    const channels8 y = weigh_channels_sse2(s, d, take, keep);
    const __m128i r = _mm_srli_epi16(_mm_mulhi_epu16(y.r, magic), 7);
    const __m128i g = _mm_srli_epi16(_mm_mulhi_epu16(y.g, magic), 7);
    const __m128i b = _mm_srli_epi16(_mm_mulhi_epu16(y.b, magic), 7);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
}

__attribute__((target("avx2"))) inline __m256i blend16_avx2(__m256i s, __m256i d, __m256i take,
                                                     __m256i keep)
{
    const __m256i magic = _mm256_set1_epi16(static_cast<short>(0x8081));
    const channels16 y = weigh_channels_avx2(s, d, take, keep);
    const __m256i r = _mm256_srli_epi16(_mm256_mulhi_epu16(y.r, magic), 7);
    const __m256i g = _mm256_srli_epi16(_mm256_mulhi_epu16(y.g, magic), 7);
    const __m256i b = _mm256_srli_epi16(_mm256_mulhi_epu16(y.b, magic), 7);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(r, 11), _mm256_slli_epi16(g, 5)), b);
}

} // namespace x86
