// The x86-64 spans of the decoder of every stored format (32-bit, 16-bit,
// grey and colour-mapped pixels, and runs with their opacity), and its kernels
// at each level, built as kernels_x86.cpp builds the others.
//
// Each span converts whole blocks of pixels and then one last block that ends
// at the span's end, overlapping pixels already done (the same bytes again);
// spans shorter than a block go pixel by pixel.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <cstring>

#include "kernels_format_loops.h"
#include "kernels_index_walk.h"
#include "kernels_x86.h"

namespace {

using namespace kernel_loops;
using namespace x86;

struct sse2_t {};
struct ssse3_t {};
struct avx2_t {};
// A level for raw pictures larger than the caches: every span as Level's but
// those that stream their stores.
template <typename Level>
struct streaming_t : Level {};
using avx2_streaming_t = streaming_t<avx2_t>;

// Colour-mapped run-length data a group of packets at a time (kernels_format_loops.h).
constexpr bool groups_index_packets(sse2_t) { return true; }
constexpr bool groups_index_packets(ssse3_t) { return true; }
constexpr bool groups_index_packets(avx2_t) { return true; }
// SSE2 looks a group's every index up by a load, a run's pixels too: pixel
// art's long packets go one at a time, each run filled once.
constexpr bool walks_index_packets(sse2_t) { return true; }

void fill_span(sse2_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_sse2(to, n, value); }
void fill_span(ssse3_t, pixel16* to, std::size_t n, pixel16 value) { fill_span_sse2(to, n, value); }
__attribute__((target("avx2"))) void fill_span(avx2_t, pixel16* to, std::size_t n, pixel16 value)
{
    fill_span_avx2(to, n, value);
}

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

// Sixteen pixels by byte shuffles, as convert8_ssse3: per 16-bit lane R:G and
// 0:B gathered from two loads of four pixels each.
__attribute__((target("ssse3"))) __m128i bgra8_to_565_ssse3(__m128i v0, __m128i v1)
{
    const __m128i rg0 = _mm_setr_epi8(1, 2, 5, 6, 9, 10, 13, 14, z, z, z, z, z, z, z, z);
    const __m128i rg1 = _mm_setr_epi8(z, z, z, z, z, z, z, z, 1, 2, 5, 6, 9, 10, 13, 14);
    const __m128i b0 = _mm_setr_epi8(0, z, 4, z, 8, z, 12, z, z, z, z, z, z, z, z, z);
    const __m128i b1 = _mm_setr_epi8(z, z, z, z, z, z, z, z, 0, z, 4, z, 8, z, 12, z);
    const __m128i rg = _mm_or_si128(_mm_shuffle_epi8(v0, rg0), _mm_shuffle_epi8(v1, rg1));
    const __m128i blue = _mm_or_si128(_mm_shuffle_epi8(v0, b0), _mm_shuffle_epi8(v1, b1));
    const __m128i red = _mm_and_si128(rg, _mm_set1_epi16(static_cast<short>(0xF800)));
    const __m128i green = _mm_and_si128(_mm_slli_epi16(rg, 3), _mm_set1_epi16(0x07E0));
    return _mm_or_si128(_mm_or_si128(red, green), _mm_srli_epi16(blue, 3));
}

__attribute__((target("ssse3"))) void bgra16_ssse3(pixel16* to, std::uint8_t* alpha,
                                                   const std::uint8_t* src, bool alpha_counts)
{
    const auto* in = reinterpret_cast<const __m128i*>(src);
    const __m128i v0 = _mm_loadu_si128(in);
    const __m128i v1 = _mm_loadu_si128(in + 1);
    const __m128i v2 = _mm_loadu_si128(in + 2);
    const __m128i v3 = _mm_loadu_si128(in + 3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bgra8_to_565_ssse3(v0, v1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), bgra8_to_565_ssse3(v2, v3));
    __m128i a = _mm_set1_epi8(-1);
    if (alpha_counts) {
        const __m128i fourth = _mm_setr_epi8(3, 7, 11, 15, z, z, z, z, z, z, z, z, z, z, z, z);
        const __m128i a0 = _mm_shuffle_epi8(v0, fourth);
        const __m128i a1 = _mm_slli_si128(_mm_shuffle_epi8(v1, fourth), 4);
        const __m128i a2 = _mm_slli_si128(_mm_shuffle_epi8(v2, fourth), 8);
        const __m128i a3 = _mm_slli_si128(_mm_shuffle_epi8(v3, fourth), 12);
        a = _mm_or_si128(_mm_or_si128(a0, a1), _mm_or_si128(a2, a3));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), a);
}

__attribute__((target("ssse3"))) void bgra_span_ssse3(pixel16* to, std::uint8_t* alpha,
                                                      const std::uint8_t* src, std::size_t n,
                                                      bool alpha_counts)
{
    if (n < 16) {
        bgra_span_portable(to, alpha, src, n, alpha_counts);
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        bgra16_ssse3(to + i, alpha + i, src + 4 * i, alpha_counts);
    if (i < n)
        bgra16_ssse3(to + n - 16, alpha + n - 16, src + 4 * (n - 16), alpha_counts);
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

// The packs work within 128-bit halves: this puts the four quarters back in order.
constexpr int quarters_in_order = 0xD8; // 0, 2, 1, 3

// Thirty-two pixels, 128 bytes. Byte shuffles gather, per 16-bit lane, R:G (red
// in the high byte) and 0:B, as convert8_ssse3 does; each 128-bit half holds
// pixels of two loads, put back in order by one permutation at the end.
__attribute__((target("avx2"))) __m256i bgra16_to_565_avx2(__m256i v0, __m256i v1)
{
    const __m256i rg0 = _mm256_setr_epi8(1, 2, 5, 6, 9, 10, 13, 14, z, z, z, z, z, z, z, z,
                                         1, 2, 5, 6, 9, 10, 13, 14, z, z, z, z, z, z, z, z);
    const __m256i rg1 = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 1, 2, 5, 6, 9, 10, 13, 14,
                                         z, z, z, z, z, z, z, z, 1, 2, 5, 6, 9, 10, 13, 14);
    const __m256i b0 = _mm256_setr_epi8(0, z, 4, z, 8, z, 12, z, z, z, z, z, z, z, z, z,
                                        0, z, 4, z, 8, z, 12, z, z, z, z, z, z, z, z, z);
    const __m256i b1 = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 0, z, 4, z, 8, z, 12, z,
                                        z, z, z, z, z, z, z, z, 0, z, 4, z, 8, z, 12, z);
    const __m256i rg = _mm256_or_si256(_mm256_shuffle_epi8(v0, rg0), _mm256_shuffle_epi8(v1, rg1));
    const __m256i blue = _mm256_or_si256(_mm256_shuffle_epi8(v0, b0), _mm256_shuffle_epi8(v1, b1));
    const __m256i red = _mm256_and_si256(rg, _mm256_set1_epi16(static_cast<short>(0xF800)));
    const __m256i green = _mm256_and_si256(_mm256_slli_epi16(rg, 3), _mm256_set1_epi16(0x07E0));
    const __m256i p = _mm256_or_si256(_mm256_or_si256(red, green), _mm256_srli_epi16(blue, 3));
    return _mm256_permute4x64_epi64(p, quarters_in_order);
}

// The fourth bytes of v into 32-bit lane k of each half.
__attribute__((target("avx2"))) __m256i alpha_to_lane_avx2(__m256i v, int k)
{
    const __m256i at0 = _mm256_setr_epi8(3, 7, 11, 15, z, z, z, z, z, z, z, z, z, z, z, z,
                                         3, 7, 11, 15, z, z, z, z, z, z, z, z, z, z, z, z);
    const __m256i lanes = _mm256_shuffle_epi8(v, at0);
    switch (k) {
    case 1: return _mm256_slli_si256(lanes, 4);
    case 2: return _mm256_slli_si256(lanes, 8);
    case 3: return _mm256_slli_si256(lanes, 12);
    default: return lanes;
    }
}

// Thirty-two pixels, 128 bytes: their two blocks of sixteen 565 pixels and
// their 32 opacities.
struct bgra32_out {
    __m256i pixels0, pixels1, alpha;
};

__attribute__((target("avx2"))) bgra32_out bgra32_convert_avx2(const std::uint8_t* src,
                                                               bool alpha_counts)
{
    const auto* in = reinterpret_cast<const __m256i*>(src);
    const __m256i v0 = _mm256_loadu_si256(in);
    const __m256i v1 = _mm256_loadu_si256(in + 1);
    const __m256i v2 = _mm256_loadu_si256(in + 2);
    const __m256i v3 = _mm256_loadu_si256(in + 3);
    bgra32_out out{bgra16_to_565_avx2(v0, v1), bgra16_to_565_avx2(v2, v3), _mm256_set1_epi8(-1)};
    if (alpha_counts) {
        // Within each half: pixels 0-3 of v0, v1, v2, v3, then 4-7 of each.
        const __m256i bytes =
            _mm256_or_si256(_mm256_or_si256(alpha_to_lane_avx2(v0, 0), alpha_to_lane_avx2(v1, 1)),
                            _mm256_or_si256(alpha_to_lane_avx2(v2, 2), alpha_to_lane_avx2(v3, 3)));
        out.alpha = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
    return out;
}

__attribute__((target("avx2"))) void bgra32_avx2(pixel16* to, std::uint8_t* alpha,
                                                 const std::uint8_t* src, bool alpha_counts)
{
    const bgra32_out out = bgra32_convert_avx2(src, alpha_counts);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), out.pixels0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16), out.pixels1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), out.alpha);
}

__attribute__((target("avx2"))) void bgra_span_avx2(pixel16* to, std::uint8_t* alpha,
                                                    const std::uint8_t* src, std::size_t n,
                                                    bool alpha_counts)
{
    if (n < 32) {
        bgra_span_ssse3(to, alpha, src, n, alpha_counts);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        bgra32_avx2(to + i, alpha + i, src + 4 * i, alpha_counts);
    if (i < n)
        bgra32_avx2(to + n - 32, alpha + n - 32, src + 4 * (n - 32), alpha_counts);
}

// Pictures larger than the caches (see decode_stored_at<avx2>): the pixels go
// past the caches by streaming stores, which neither read the lines they fill
// nor push the file's own bytes out. Streaming stores must be aligned: the
// first block and the last go as ordinary stores, and the opacities stream
// where they fall on a boundary (their plane's offset from the pixels' is the
// caller's).
__attribute__((target("avx2"))) void store_streaming(void* p, __m256i v)
{
    auto* at = static_cast<__m256i*>(p);
    if (reinterpret_cast<std::uintptr_t>(p) % 32 == 0)
        _mm256_stream_si256(at, v);
    else
        _mm256_storeu_si256(at, v);
}

__attribute__((target("avx2"))) void bgra_span_streaming_avx2(pixel16* to, std::uint8_t* alpha,
                                                              const std::uint8_t* src,
                                                              std::size_t n, bool alpha_counts)
{
    if (n < 64 || reinterpret_cast<std::uintptr_t>(to) % sizeof(pixel16) != 0) {
        bgra_span_avx2(to, alpha, src, n, alpha_counts);
        return;
    }
    bgra32_avx2(to, alpha, src, alpha_counts);
    std::size_t i = pixels_to_alignment(to, 64);
    i = i == 0 ? 32 : i;
    for (; i + 32 <= n; i += 32) {
        const bgra32_out out = bgra32_convert_avx2(src + 4 * i, alpha_counts);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(to + i), out.pixels0);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(to + i + 16), out.pixels1);
        store_streaming(alpha + i, out.alpha);
    }
    if (i < n)
        bgra32_avx2(to + n - 32, alpha + n - 32, src + 4 * (n - 32), alpha_counts);
}

// 16-bit words: p = (v << 1 & 0xFFC0) | (v >> 4 & 0x0020) | (v & 0x001F), as argb16_to_16.
__m128i argb8_to_565_sse2(__m128i v)
{
    const __m128i red_green =
        _mm_and_si128(_mm_slli_epi16(v, 1), _mm_set1_epi16(static_cast<short>(0xFFC0)));
    const __m128i green_low = _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi16(0x0020));
    return _mm_or_si128(_mm_or_si128(red_green, green_low),
                        _mm_and_si128(v, _mm_set1_epi16(0x001F)));
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
        const __m256i packed =
            _mm256_packs_epi16(_mm256_srai_epi16(v0, 15), _mm256_srai_epi16(v1, 15));
        a = _mm256_permute4x64_epi64(packed, quarters_in_order);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), a);
}

// Sixty-four pixels, all four loads before any store: a load after a store to
// an address equal in its low twelve bits waits for it, and the planes' and
// the file's addresses fall where the caller's buffers put them.
__attribute__((target("avx2"))) void argb64_avx2(pixel16* to, std::uint8_t* alpha,
                                                 const std::uint8_t* src, bool alpha_bit)
{
    const auto* in = reinterpret_cast<const __m256i*>(src);
    const __m256i v0 = _mm256_loadu_si256(in);
    const __m256i v1 = _mm256_loadu_si256(in + 1);
    const __m256i v2 = _mm256_loadu_si256(in + 2);
    const __m256i v3 = _mm256_loadu_si256(in + 3);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), argb16_to_565_avx2(v0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16), argb16_to_565_avx2(v1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), argb16_to_565_avx2(v2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 48), argb16_to_565_avx2(v3));
    __m256i a0 = _mm256_set1_epi8(-1);
    __m256i a1 = a0;
    if (alpha_bit) {
        a0 = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(_mm256_srai_epi16(v0, 15), _mm256_srai_epi16(v1, 15)),
            quarters_in_order);
        a1 = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(_mm256_srai_epi16(v2, 15), _mm256_srai_epi16(v3, 15)),
            quarters_in_order);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), a0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha + 32), a1);
}

__attribute__((target("avx2"))) void argb16_span_avx2(pixel16* to, std::uint8_t* alpha,
                                                      const std::uint8_t* src, std::size_t n,
                                                      bool alpha_bit)
{
    if (n < 32) {
        argb16_span_sse2(to, alpha, src, n, alpha_bit);
        return;
    }
    // One block, then blocks whose pixel stores start on a cache line.
    argb32_avx2(to, alpha, src, alpha_bit);
    std::size_t i = pixels_to_alignment(to, 64);
    i = i == 0 ? 32 : i;
    for (; i + 64 <= n; i += 64)
        argb64_avx2(to + i, alpha + i, src + 2 * i, alpha_bit);
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
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8),
                     grey8_to_565_sse2(_mm_unpackhi_epi8(v, zero)));
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

__attribute__((target("avx2"))) void fill_bytes_avx2(std::uint8_t* to, std::size_t n,
                                                     std::uint8_t value)
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

void run_span(sse2_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
              std::uint8_t a)
{
    fill_span_sse2(to, n, pixel);
    fill_bytes_sse2(alpha, n, a);
}
// A run of pixel art's walk (kernels_index_walk.h): up to 16 pixels by two
// stores a plane that may overlap, as short_run_neon.
inline void index_run(sse2_t, pixel16* to, std::uint8_t* alpha, std::size_t n,
                      std::uint32_t entry)
{
    const auto pixel = static_cast<pixel16>(entry);
    const auto a = static_cast<std::uint8_t>(entry >> 16);
    if (n <= 3) {
        short_run_of_three(to, alpha, n, entry);
    } else if (n < 8) {
        const std::uint64_t pixels = pixel * 0x0001000100010001u;
        const std::uint32_t opacities = a * 0x01010101u;
        std::memcpy(to, &pixels, 8);
        std::memcpy(to + n - 4, &pixels, 8);
        std::memcpy(alpha, &opacities, 4);
        std::memcpy(alpha + n - 4, &opacities, 4);
    } else if (n <= 16) {
        const __m128i pixels = _mm_set1_epi16(static_cast<short>(pixel));
        const __m128i opacities = _mm_set1_epi8(static_cast<char>(a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), pixels);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 8), pixels);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(alpha), opacities);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(alpha + n - 8), opacities);
    } else {
        run_span(sse2_t{}, to, alpha, n, pixel, a);
    }
}
void run_span(ssse3_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
              std::uint8_t a)
{
    fill_span_sse2(to, n, pixel);
    fill_bytes_sse2(alpha, n, a);
}
__attribute__((target("avx2"))) void run_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                              std::size_t n, pixel16 pixel, std::uint8_t a)
{
    fill_span_avx2(to, n, pixel);
    fill_bytes_avx2(alpha, n, a);
}

// A packet's indices from `first`, its first block. Packets over 16 pixels are
// few: a branch will do.
inline void put_packet_blocks(std::uint8_t* to, const std::uint8_t* packet, std::size_t length,
                              __m128i first)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), first);
    for (std::size_t i = 16; i < length; i += 16) {
        const __m128i next = packet[0] & 0x80
                                 ? first
                                 : _mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 1 + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), next);
    }
}

// A run-length packet's indices (packet_indices in kernels_format_loops.h) by a
// mask: a raw packet's bytes as they stand, or a run's one index in every lane.
void packet_indices_sse2(std::uint8_t* to, const std::uint8_t* packet, std::size_t length)
{
    // Zeros, then at 128 (a run's header bit) ones.
    alignas(16) static const std::uint64_t run_masks[(128 + 16) / 8] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ~std::uint64_t{0}, ~std::uint64_t{0}};
    const __m128i run = _mm_load_si128(
        reinterpret_cast<const __m128i*>(reinterpret_cast<const std::uint8_t*>(run_masks) +
                                         (packet[0] & 0x80)));
    const std::uint64_t index_in_every_byte = std::uint64_t{packet[1]} * 0x0101010101010101u;
    const __m128i repeated = _mm_set1_epi64x(static_cast<long long>(index_in_every_byte));
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 1));
    const __m128i first = _mm_or_si128(_mm_andnot_si128(run, raw), _mm_and_si128(run, repeated));
    put_packet_blocks(to, packet, length, first);
}

// As packet_indices_sse2, by one byte shuffle.
__attribute__((target("ssse3"))) void packet_indices_ssse3(std::uint8_t* to,
                                                          const std::uint8_t* packet,
                                                          std::size_t length)
{
    // The raw packets' control, then at 128 (a run's header bit) the runs'.
    alignas(16) static const std::uint8_t controls[128 + 16] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                                8, 9, 10, 11, 12, 13, 14, 15};
    const __m128i control =
        _mm_load_si128(reinterpret_cast<const __m128i*>(controls + (packet[0] & 0x80)));
    const __m128i first =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 1)), control);
    put_packet_blocks(to, packet, length, first);
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
            const __m256i w1 =
                _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)), 4);
            const __m256i w2 = _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(hi), 4);
            const __m256i w3 =
                _mm256_i32gather_epi32(map, _mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)), 4);
            const __m256i p01 =
                _mm256_packus_epi32(_mm256_and_si256(w0, low), _mm256_and_si256(w1, low));
            const __m256i p23 =
                _mm256_packus_epi32(_mm256_and_si256(w2, low), _mm256_and_si256(w3, low));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                                _mm256_permute4x64_epi64(p01, quarters_in_order));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i + 16),
                                _mm256_permute4x64_epi64(p23, quarters_in_order));
            const __m256i a01 =
                _mm256_packus_epi32(_mm256_srli_epi32(w0, 16), _mm256_srli_epi32(w1, 16));
            const __m256i a23 =
                _mm256_packus_epi32(_mm256_srli_epi32(w2, 16), _mm256_srli_epi32(w3, 16));
            const __m256i bytes = _mm256_packus_epi16(a01, a23);
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(alpha + i),
                _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
        }
    }
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

// Sixteen bytes in both halves.
__attribute__((target("avx2"))) __m256i both_halves(const std::uint8_t* p)
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Small maps (pixel art's few colours): each byte plane of the map looked up
// by byte shuffles over Tables tables of sixteen entries. An index less the
// table's first, plus 0x70 with saturation, keeps its low four bits when it
// falls in the table and gets its top bit set (a shuffle's zero) when it falls
// above it, or below it (by wrapping).
template <unsigned Tables>
struct shuffle_tables_avx2 {
    __m256i low[Tables], high[Tables], opacity[Tables];
    __m256i first, last;
};

// Thirty-two indices, if all are valid. Inline, its tables in registers: left
// to GCC, the four tables' lookup was a call of its own that reloaded them,
// and its unchanged code ran a quarter slower in one build than in another.
template <unsigned Tables>
__attribute__((target("avx2"), always_inline)) inline bool
index32_shuffled_avx2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                      const shuffle_tables_avx2<Tables>& m)
{
    const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i from_first = _mm256_sub_epi8(index, m.first);
    const __m256i valid = _mm256_cmpeq_epi8(_mm256_min_epu8(from_first, m.last), from_first);
    if (_mm256_movemask_epi8(valid) != -1)
        return false;
    __m256i lo = _mm256_setzero_si256();
    __m256i hi = _mm256_setzero_si256();
    __m256i a = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (std::size_t t = 0; t < Tables; ++t) {
        const __m256i in_table =
            _mm256_adds_epu8(_mm256_sub_epi8(index, _mm256_set1_epi8(static_cast<char>(16 * t))),
                             _mm256_set1_epi8(0x70));
        lo = _mm256_or_si256(lo, _mm256_shuffle_epi8(m.low[t], in_table));
        hi = _mm256_or_si256(hi, _mm256_shuffle_epi8(m.high[t], in_table));
        a = _mm256_or_si256(a, _mm256_shuffle_epi8(m.opacity[t], in_table));
    }
    // Pixels 0-7 and 16-23, then 8-15 and 24-31.
    const __m256i p0 = _mm256_unpacklo_epi8(lo, hi);
    const __m256i p1 = _mm256_unpackhi_epi8(lo, hi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16),
                        _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha), a);
    return true;
}

template <unsigned Tables>
__attribute__((target("avx2"))) shuffle_tables_avx2<Tables>
shuffle_tables_of(const stored_format& f)
{
    shuffle_tables_avx2<Tables> m;
    for (std::size_t t = 0; t < Tables; ++t) {
        m.low[t] = both_halves(f.map_planes + 16 * t);
        m.high[t] = both_halves(f.map_planes + 256 + 16 * t);
        m.opacity[t] = both_halves(f.map_planes + 512 + 16 * t);
    }
    m.first = _mm256_set1_epi8(static_cast<char>(f.first));
    m.last = _mm256_set1_epi8(static_cast<char>(f.end - f.first - 1));
    return m;
}

// Spans of at least 32 pixels; the last block ends at the span's end,
// overlapping pixels already good.
template <unsigned Tables>
__attribute__((target("avx2"), always_inline)) inline std::size_t
index_span_shuffled_avx2_with(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                              std::size_t n, const stored_format& f,
                              const shuffle_tables_avx2<Tables>& m)
{
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        if (!index32_shuffled_avx2(to + i, alpha + i, src + i, m))
            break;
    if (i + 32 > n && i < n && index32_shuffled_avx2(to + n - 32, alpha + n - 32, src + n - 32, m))
        return n;
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

template <unsigned Tables>
__attribute__((target("avx2"))) std::size_t index_span_shuffled_avx2(pixel16* to,
                                                                     std::uint8_t* alpha,
                                                                     const std::uint8_t* src,
                                                                     std::size_t n,
                                                                     const stored_format& f)
{
    return index_span_shuffled_avx2_with<Tables>(to, alpha, src, n, f,
                                                 shuffle_tables_of<Tables>(f));
}

// The whole rows (index_rows_job) of a small map at AVX2, its tables loaded
// once; see index_rows_one_opacity.
template <unsigned Tables>
__attribute__((target("avx2"), noinline)) std::size_t
index_rows_shuffled_avx2(const index_rows_job& job, const stored_format& f)
{
    const shuffle_tables_avx2<Tables> m = shuffle_tables_of<Tables>(f);
    for (std::size_t r = 0; r < job.rows; ++r) {
        const std::size_t k = index_span_shuffled_avx2_with<Tables>(
            row_pixels(job, r), row_opacities(job, r), job.src + r * job.w, job.w, f, m);
        if (k < job.w)
            return r * job.w + k;
    }
    return job.rows * job.w;
}

// Sixteen indices checked at once, then looked up one by one without a test
// into a local block (which no store through `to` or `alpha` can touch, so
// nothing is loaded twice), split into pixels and opacities four at a time.
std::size_t index_span_sse2(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                            std::size_t n, const stored_format& f)
{
    std::size_t i = 0;
    if (f.end > f.first) {
        const std::uint32_t* const map = f.map;
        const __m128i first = _mm_set1_epi8(static_cast<char>(f.first));
        const __m128i last = _mm_set1_epi8(static_cast<char>(f.end - f.first - 1));
        for (; i + 16 <= n; i += 16) {
            const __m128i index = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            const __m128i from_first = _mm_sub_epi8(index, first);
            const __m128i valid = _mm_cmpeq_epi8(_mm_min_epu8(from_first, last), from_first);
            if (_mm_movemask_epi8(valid) != 0xFFFF)
                break;
            std::uint32_t entries[16];
            for (std::size_t k = 0; k < 16; ++k)
                entries[k] = map[src[i + k]];
            __m128i e[4];
            for (std::size_t k = 0; k < 4; ++k)
                e[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + 4 * k));
            // Pixels sign-extended from 16 bits, so the signed packs keep them.
            const auto pixels = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); };
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                             _mm_packs_epi32(pixels(e[0]), pixels(e[1])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8),
                             _mm_packs_epi32(pixels(e[2]), pixels(e[3])));
            const __m128i a01 = _mm_packs_epi32(_mm_srli_epi32(e[0], 16), _mm_srli_epi32(e[1], 16));
            const __m128i a23 = _mm_packs_epi32(_mm_srli_epi32(e[2], 16), _mm_srli_epi32(e[3], 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha + i), _mm_packus_epi16(a01, a23));
        }
    }
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

// The three byte planes of the entries of sixteen indices, as
// index_span_shuffled_avx2 looks them up.
struct shuffled_entries {
    __m128i low, high, opacity;
};

template <unsigned Tables>
__attribute__((target("ssse3"))) shuffled_entries look_up_shuffled(const __m128i* planes,
                                                                   __m128i index)
{
    shuffled_entries e{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    for (std::size_t t = 0; t < Tables; ++t) {
        const __m128i in_table = _mm_adds_epu8(
            _mm_sub_epi8(index, _mm_set1_epi8(static_cast<char>(16 * t))), _mm_set1_epi8(0x70));
        e.low = _mm_or_si128(e.low, _mm_shuffle_epi8(_mm_loadu_si128(planes + t), in_table));
        e.high = _mm_or_si128(e.high, _mm_shuffle_epi8(_mm_loadu_si128(planes + 16 + t), in_table));
        e.opacity =
            _mm_or_si128(e.opacity, _mm_shuffle_epi8(_mm_loadu_si128(planes + 32 + t), in_table));
    }
    return e;
}

// Lanes whose index lies in the map: (index - first) mod 256 <= last.
inline __m128i valid_indices(__m128i index, __m128i first, __m128i last)
{
    const __m128i from_first = _mm_sub_epi8(index, first);
    return _mm_cmpeq_epi8(_mm_min_epu8(from_first, last), from_first);
}

// The map's byte planes and its bounds, as index_group_shuffled_ssse3 takes them.
struct shuffle_map_ssse3 {
    const __m128i* planes;
    __m128i first, last;
};

// Sixteen indices, or eight, if all are valid.
template <unsigned Tables, unsigned N>
__attribute__((target("ssse3"))) bool index_group_shuffled_ssse3(pixel16* to, std::uint8_t* alpha,
                                                                 const std::uint8_t* src,
                                                                 const shuffle_map_ssse3& m)
{
    static_assert(N == 8 || N == 16);
    const auto* from = reinterpret_cast<const __m128i*>(src);
    const __m128i index = N == 16 ? _mm_loadu_si128(from) : _mm_loadl_epi64(from);
    constexpr int all = (1 << N) - 1;
    if ((_mm_movemask_epi8(valid_indices(index, m.first, m.last)) & all) != all)
        return false;
    const shuffled_entries e = look_up_shuffled<Tables>(m.planes, index);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(e.low, e.high));
    if (N == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(e.low, e.high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), e.opacity);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(alpha), e.opacity);
    }
    return true;
}

// As index_span_shuffled_avx2, sixteen pixels at a time; spans of 8 to 15
// pixels, common in pixel art's raw packets, in two groups of eight, the second
// ending at the span's end.
template <unsigned Tables>
__attribute__((target("ssse3"))) std::size_t index_span_shuffled_ssse3(pixel16* to,
                                                                       std::uint8_t* alpha,
                                                                       const std::uint8_t* src,
                                                                       std::size_t n,
                                                                       const stored_format& f)
{
    const shuffle_map_ssse3 m{reinterpret_cast<const __m128i*>(f.map_planes),
                              _mm_set1_epi8(static_cast<char>(f.first)),
                              _mm_set1_epi8(static_cast<char>(f.end - f.first - 1))};
    std::size_t i = 0;
    if (n < 16) {
        if (index_group_shuffled_ssse3<Tables, 8>(to, alpha, src, m))
            i = index_group_shuffled_ssse3<Tables, 8>(to + n - 8, alpha + n - 8, src + n - 8, m)
                    ? n
                    : 8;
    } else {
        for (; i + 16 <= n; i += 16)
            if (!index_group_shuffled_ssse3<Tables, 16>(to + i, alpha + i, src + i, m))
                break;
        if (i + 16 > n && i < n &&
            index_group_shuffled_ssse3<Tables, 16>(to + n - 16, alpha + n - 16, src + n - 16, m))
            i = n;
    }
    if (i >= n)
        return n;
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

// Maps whose entries share one opacity, of any size: eight pixels looked up one
// by one, each inserted into its lane of a register by pinsrw, and the
// opacities one constant. Eight scalar loads beat a 32-bit gather of eight
// (the gathers cost more than the loads they replace), and the byte shuffles
// need sixteen tables a plane for a whole palette.
inline __m128i look_up8_sse2(const std::uint32_t* map, const std::uint8_t* src)
{
    // Two indices a 16-bit half by its low and high byte registers: half the
    // shifts of taking each index from a 64-bit load.
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    std::memcpy(&lo, src, 4);
    std::memcpy(&hi, src + 4, 4);
    const auto entry = [&](std::uint32_t index) { return static_cast<int>(map[index]); };
    __m128i v = _mm_cvtsi32_si128(entry(lo & 0xFF));
    v = _mm_insert_epi16(v, entry(lo >> 8 & 0xFF), 1);
    v = _mm_insert_epi16(v, entry(lo >> 16 & 0xFF), 2);
    v = _mm_insert_epi16(v, entry(lo >> 24), 3);
    v = _mm_insert_epi16(v, entry(hi & 0xFF), 4);
    v = _mm_insert_epi16(v, entry(hi >> 8 & 0xFF), 5);
    v = _mm_insert_epi16(v, entry(hi >> 16 & 0xFF), 6);
    return _mm_insert_epi16(v, entry(hi >> 24), 7);
}

struct one_opacity_map {
    const std::uint32_t* map;
    __m128i first, last, opacity;
    bool every_index_valid; // 256 entries from index 0: nothing to check
};

inline one_opacity_map one_opacity_map_of(const stored_format& f)
{
    return {f.map, _mm_set1_epi8(static_cast<char>(f.first)),
            _mm_set1_epi8(static_cast<char>(f.end - f.first - 1)),
            _mm_set1_epi8(static_cast<char>(f.map[f.first] >> 16)), f.first == 0 && f.end == 256};
}

// Pictures past the caches (streams_past_caches) stream both planes
// where a block falls on a 16-byte boundary.
template <bool Streaming>
inline void store_looked_up(void* to, __m128i v)
{
    auto* at = static_cast<__m128i*>(to);
    if (Streaming && reinterpret_cast<std::uintptr_t>(to) % 16 == 0)
        _mm_stream_si128(at, v);
    else
        _mm_storeu_si128(at, v);
}

// Sixteen indices, or eight, if all are valid.
template <unsigned N, bool Streaming = false>
__attribute__((always_inline)) inline bool
index_group_one_opacity(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                        const one_opacity_map& m)
{
    static_assert(N == 8 || N == 16);
    if (!m.every_index_valid) {
        const auto* from = reinterpret_cast<const __m128i*>(src);
        const __m128i index = N == 16 ? _mm_loadu_si128(from) : _mm_loadl_epi64(from);
        constexpr int all = (1 << N) - 1;
        if ((_mm_movemask_epi8(valid_indices(index, m.first, m.last)) & all) != all)
            return false;
    }
    store_looked_up<Streaming>(to, look_up8_sse2(m.map, src));
    if (N == 16) {
        store_looked_up<Streaming>(to + 8, look_up8_sse2(m.map, src + 8));
        store_looked_up<Streaming>(alpha, m.opacity);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(alpha), m.opacity);
    }
    return true;
}

// Spans of at least 8 pixels, grouped as index_span_shuffled_ssse3 groups them,
// of a map with at least one entry.
template <bool Streaming>
__attribute__((always_inline)) inline std::size_t
index_span_one_opacity_with(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                            std::size_t n, const stored_format& f, const one_opacity_map& m)
{
    std::size_t i = 0;
    if (n < 16) {
        if (index_group_one_opacity<8>(to, alpha, src, m))
            i = index_group_one_opacity<8>(to + n - 8, alpha + n - 8, src + n - 8, m) ? n : 8;
    } else {
        for (; i + 16 <= n; i += 16)
            if (!index_group_one_opacity<16, Streaming>(to + i, alpha + i, src + i, m))
                break;
        if (i + 16 > n && i < n &&
            index_group_one_opacity<16>(to + n - 16, alpha + n - 16, src + n - 16, m))
            i = n;
    }
    if (i >= n)
        return n;
    return i + index_span_portable(to + i, alpha + i, src + i, n - i, f);
}

template <bool Streaming = false>
std::size_t index_span_one_opacity(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                   std::size_t n, const stored_format& f)
{
    return index_span_one_opacity_with<Streaming>(to, alpha, src, n, f, one_opacity_map_of(f));
}

// Whole rows (index_rows_job) of at least 8 pixels of a map of one opacity.
// The common walk takes each row as a span of its own, about 140 instructions
// a row of 256 beside its lookups' 900. Out of line: one body (SSE2's) for
// every level, called once a picture, whose loop keeps its registers.
template <bool Streaming>
__attribute__((noinline)) std::size_t index_rows_one_opacity(const index_rows_job& job,
                                                             const stored_format& f)
{
    const one_opacity_map m = one_opacity_map_of(f);
    for (std::size_t r = 0; r < job.rows; ++r) {
        const std::size_t k = index_span_one_opacity_with<Streaming>(
            row_pixels(job, r), row_opacities(job, r), job.src + r * job.w, job.w, f, m);
        if (k < job.w)
            return r * job.w + k;
    }
    return job.rows * job.w;
}

// The number of sixteen-entry tables that hold every index of a small map, or
// 0 for a map too large to look up by shuffles.
inline unsigned shuffle_tables(const stored_format& f)
{
    const unsigned tables = (f.end + 15) / 16;
    return f.end > f.first && tables <= 4 ? tables : 0;
}

// A map of more than 64 entries, or any map at SSE2.
std::size_t index_span_unshuffled(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                  std::size_t n, const stored_format& f)
{
    if (f.one_opacity && f.end > f.first && n >= 8)
        return index_span_one_opacity(to, alpha, src, n, f);
    return index_span_sse2(to, alpha, src, n, f);
}

std::size_t index_span(sse2_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                       std::size_t n, const stored_format& f)
{
    return index_span_unshuffled(to, alpha, src, n, f);
}

__attribute__((target("ssse3"))) std::size_t index_span(ssse3_t, pixel16* to, std::uint8_t* alpha,
                                                        const std::uint8_t* src, std::size_t n,
                                                        const stored_format& f)
{
    // The shortest spans are not worth the tables.
    if (n < 8)
        return index_span_portable(to, alpha, src, n, f);
    // Sixteen indices a step do not pay for three or four tables a plane: maps
    // of 33 to 64 entries ran faster by one load an index.
    switch (shuffle_tables(f)) {
    case 1: return index_span_shuffled_ssse3<1>(to, alpha, src, n, f);
    case 2: return index_span_shuffled_ssse3<2>(to, alpha, src, n, f);
    default: return index_span_unshuffled(to, alpha, src, n, f);
    }
}

__attribute__((target("avx2"))) std::size_t index_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                                       const std::uint8_t* src, std::size_t n,
                                                       const stored_format& f)
{
    if (n < 32)
        return index_span(ssse3_t{}, to, alpha, src, n, f);
    switch (shuffle_tables(f)) {
    case 1: return index_span_shuffled_avx2<1>(to, alpha, src, n, f);
    case 2: return index_span_shuffled_avx2<2>(to, alpha, src, n, f);
    case 3: return index_span_shuffled_avx2<3>(to, alpha, src, n, f);
    case 4: return index_span_shuffled_avx2<4>(to, alpha, src, n, f);
    default:
        if (f.one_opacity && f.end > f.first)
            return index_span_one_opacity(to, alpha, src, n, f);
        return index_span_avx2(to, alpha, src, n, f);
    }
}

// ------------------------------------------------ maps narrowed to what is used
//
// Paint programs write the whole palette, and a sprite's few colours are
// usually its first entries: a format whose map ends after the largest index
// present looks every index up (or refuses it) as the whole map does, and the
// levels choose their lookup by the map's size, so such a picture takes a
// small map's byte shuffles. SSE2 has none; SSSE3 shuffles maps of up to 32
// entries, AVX2 up to 64.

constexpr unsigned shuffled_map_entries(sse2_t) { return 0; }
constexpr unsigned shuffled_map_entries(ssse3_t) { return 32; }
constexpr unsigned shuffled_map_entries(avx2_t) { return 64; }

// The largest of n bytes, or any value of at least `bound` once one is seen:
// a dithered photograph's indices stop the scan at its first few bytes.
inline unsigned largest_byte(const std::uint8_t* p, std::size_t n, unsigned bound)
{
    const __m128i below = _mm_set1_epi8(static_cast<char>(bound - 1));
    __m128i largest = _mm_setzero_si128();
    std::size_t i = 0;
    // 256 bytes a test, in four chains: a whole picture of pixel art is
    // scanned before it is looked up two indices a load.
    for (; i + 256 <= n; i += 256) {
        const auto* v = reinterpret_cast<const __m128i*>(p + i);
        __m128i a = _mm_max_epu8(largest, _mm_loadu_si128(v));
        __m128i b = _mm_loadu_si128(v + 1);
        __m128i c = _mm_loadu_si128(v + 2);
        __m128i d = _mm_loadu_si128(v + 3);
        for (int k = 4; k < 16; k += 4) {
            a = _mm_max_epu8(a, _mm_loadu_si128(v + k));
            b = _mm_max_epu8(b, _mm_loadu_si128(v + k + 1));
            c = _mm_max_epu8(c, _mm_loadu_si128(v + k + 2));
            d = _mm_max_epu8(d, _mm_loadu_si128(v + k + 3));
        }
        largest = _mm_max_epu8(_mm_max_epu8(a, b), _mm_max_epu8(c, d));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(largest, below), below)) != 0xFFFF)
            return bound;
    }
    alignas(16) std::uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), largest);
    unsigned most = *std::max_element(lanes, lanes + 16);
    for (; i < n; ++i)
        most = std::max<unsigned>(most, p[i]);
    return most;
}

// The format for indices p[0, n): its map ending where the level's shuffles
// then take it in fewer tables, with the 16-entry table of the largest of
// them whole (so that run-length pictures, narrowed by their first indices,
// seldom meet a later one past the end).
template <typename Level>
stored_format narrowed_map(Level level, const stored_format& f, const std::uint8_t* p,
                           std::size_t n)
{
    if (f.end <= f.first)
        return f;
    // Worth it only for a table less: indices under `bound`.
    const unsigned tables = (f.end + 15) / 16;
    const unsigned bound = std::min(shuffled_map_entries(level), (tables - 1) * 16);
    if (f.first >= bound)
        return f;
    const unsigned largest = largest_byte(p, n, bound);
    const unsigned end = (largest / 16 + 1) * 16;
    if (largest >= bound || end <= f.first)
        return f;
    stored_format g = f;
    g.end = end;
    return g;
}

// ---- pictures of indices under 64, two neighbours a load
//
// Where a level looks a map up one load an index (every map at SSE2, 33 to 64
// entries at SSSE3), a picture whose indices all lie under 64 (pixel art, in a
// whole palette or a small map) takes its pixels two at a time from a table of
// every pair, built once a picture: a load and an extraction for two pixels
// where pinsrw takes a load and an insert for each. In a harness of the bare
// loops (SSE2, 65,536 indices with their opacities) 1.34 times the speed.

// On the stack of index_rows_paired: 16 KiB for indices under 64, on x86-64.
template <unsigned Bits>
struct pair_table {
    // [first | second << Bits]: the first pixel low, the second high.
    alignas(16) std::uint32_t pairs[1u << (2 * Bits)];
};

template <unsigned Bits>
void fill_pair_table(pair_table<Bits>& t, const std::uint32_t* map)
{
    constexpr unsigned entries = 1u << Bits;
    alignas(16) std::uint32_t first[entries];
    for (unsigned i = 0; i < entries; ++i)
        first[i] = map[i] & 0xFFFFu;
    for (unsigned second = 0; second < entries; ++second) {
        const __m128i high = _mm_set1_epi32(static_cast<int>(map[second] << 16));
        for (unsigned i = 0; i < entries; i += 4)
            _mm_store_si128(reinterpret_cast<__m128i*>(t.pairs + (second << Bits) + i),
                            _mm_or_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(first + i)),
                                         high));
    }
}

template <int Lane>
__attribute__((always_inline)) inline __m128i pair_at(const std::uint32_t* pairs, __m128i at)
{
    return _mm_cvtsi32_si128(static_cast<int>(pairs[_mm_extract_epi16(at, Lane)]));
}

template <unsigned Bits, bool Streaming>
__attribute__((always_inline)) inline void index_pairs16(pixel16* to, std::uint8_t* alpha,
                                                         const std::uint8_t* src,
                                                         const std::uint32_t* pairs,
                                                         __m128i opacity)
{
    // A 16-bit lane holds two neighbours' indices, the first in its low byte.
    const __m128i both = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i low = _mm_set1_epi16((1 << Bits) - 1);
    const __m128i at = _mm_or_si128(_mm_and_si128(both, low),
                                    _mm_and_si128(_mm_srli_epi16(both, 8 - Bits),
                                                  _mm_slli_epi16(low, Bits)));
    const __m128i p01 = _mm_unpacklo_epi32(pair_at<0>(pairs, at), pair_at<1>(pairs, at));
    const __m128i p23 = _mm_unpacklo_epi32(pair_at<2>(pairs, at), pair_at<3>(pairs, at));
    const __m128i p45 = _mm_unpacklo_epi32(pair_at<4>(pairs, at), pair_at<5>(pairs, at));
    const __m128i p67 = _mm_unpacklo_epi32(pair_at<6>(pairs, at), pair_at<7>(pairs, at));
    store_looked_up<Streaming>(to, _mm_unpacklo_epi64(p01, p23));
    store_looked_up<Streaming>(to + 8, _mm_unpacklo_epi64(p45, p67));
    store_looked_up<Streaming>(alpha, opacity);
}

// Whole rows of at least 16 indices, every one under 1 << Bits and in the map.
template <unsigned Bits, bool Streaming>
__attribute__((noinline)) void index_rows_paired(const index_rows_job& job, const stored_format& f)
{
    pair_table<Bits> t;
    fill_pair_table(t, f.map);
    const __m128i opacity = _mm_set1_epi8(static_cast<char>(f.map[f.first] >> 16));
    const std::size_t w = job.w;
    for (std::size_t r = 0; r < job.rows; ++r) {
        pixel16* const to = row_pixels(job, r);
        std::uint8_t* const alpha = row_opacities(job, r);
        const std::uint8_t* const src = job.src + r * w;
        std::size_t i = 0;
        for (; i + 16 <= w; i += 16)
            index_pairs16<Bits, Streaming>(to + i, alpha + i, src + i, t.pairs, opacity);
        if (i < w)
            index_pairs16<Bits, false>(to + w - 16, alpha + w - 16, src + w - 16, t.pairs,
                                       opacity);
    }
}

// Whole rows of a map of one opacity at the levels that look it up by loads:
// two indices a load where a scan finds them all under 64 and in the map. A
// dithered photograph's indices end the scan within its first bytes. (Scanned
// whole, a picture of 200 entries then looked up with no check of each group
// ran no faster: its lookups of one load an index are what it waits on.)
template <bool Streaming>
std::size_t index_rows_by_loads(const index_rows_job& job, const stored_format& f)
{
    const unsigned largest = f.first == 0 ? largest_byte(job.src, job.w * job.rows, 64) : 64;
    if (largest >= 64 || largest >= f.end)
        return index_rows_one_opacity<Streaming>(job, f);
    if (largest < 16)
        index_rows_paired<4, Streaming>(job, f);
    else if (largest < 32)
        index_rows_paired<5, Streaming>(job, f);
    else
        index_rows_paired<6, Streaming>(job, f);
    return job.rows * job.w;
}

// Whole palettes past the caches: the lookup of one load an index streams its
// stores; smaller maps, and maps of several opacities, as the level's own.
template <typename Level>
std::size_t index_span(streaming_t<Level>, pixel16* to, std::uint8_t* alpha,
                       const std::uint8_t* src, std::size_t n, const stored_format& f)
{
    if (n >= 32 && shuffle_tables(f) == 0 && f.one_opacity && f.end > f.first)
        return index_span_one_opacity<true>(to, alpha, src, n, f);
    return index_span(Level{}, to, alpha, src, n, f);
}

// Whole rows (kernels_format_loops.h) where the level looks every index up by
// one load (as index_span chooses for spans of 32 pixels and more); rows of
// other maps are left to the common walk.
template <typename Level>
bool looks_up_by_loads(Level level, const stored_format& f)
{
    const unsigned tables = shuffle_tables(f);
    return f.one_opacity && f.end > f.first &&
           (tables == 0 || tables > shuffled_map_entries(level) / 16);
}

constexpr bool looks_up_index_rows(sse2_t) { return true; }
constexpr bool looks_up_index_rows(ssse3_t) { return true; }
constexpr bool looks_up_index_rows(avx2_t) { return true; }
template <typename Level>
constexpr bool looks_up_index_rows(streaming_t<Level>)
{
    return true;
}

template <typename Level>
std::size_t index_rows(Level level, const index_rows_job& job, const stored_format& f)
{
    return job.w >= 32 && looks_up_by_loads(level, f) ? index_rows_by_loads<false>(job, f) : 0;
}

__attribute__((target("avx2"))) std::size_t index_rows(avx2_t, const index_rows_job& job,
                                                       const stored_format& f)
{
    if (job.w < 32)
        return 0;
    switch (shuffle_tables(f)) {
    case 1: return index_rows_shuffled_avx2<1>(job, f);
    case 2: return index_rows_shuffled_avx2<2>(job, f);
    case 3: return index_rows_shuffled_avx2<3>(job, f);
    case 4: return index_rows_shuffled_avx2<4>(job, f);
    default: return looks_up_by_loads(avx2_t{}, f) ? index_rows_one_opacity<false>(job, f) : 0;
    }
}

template <typename Level>
std::size_t index_rows(streaming_t<Level>, const index_rows_job& job, const stored_format& f)
{
    return job.w >= 32 && looks_up_by_loads(Level{}, f) ? index_rows_by_loads<true>(job, f) : 0;
}

void packet_indices(sse2_t, std::uint8_t* to, const std::uint8_t* packet, std::size_t length)
{
    packet_indices_sse2(to, packet, length);
}
__attribute__((target("ssse3"))) void packet_indices(ssse3_t, std::uint8_t* to,
                                                     const std::uint8_t* packet,
                                                     std::size_t length)
{
    packet_indices_ssse3(to, packet, length);
}
__attribute__((target("avx2"))) void packet_indices(avx2_t, std::uint8_t* to,
                                                    const std::uint8_t* packet, std::size_t length)
{
    packet_indices_ssse3(to, packet, length);
}

__attribute__((noinline, flatten)) std::size_t gather_open_group(sse2_t, std::uint8_t* indices,
                                                                const std::uint8_t*& p)
{
    return gather_open_group_with(sse2_t{}, indices, p);
}
__attribute__((target("ssse3"), noinline, flatten)) std::size_t
gather_open_group(ssse3_t, std::uint8_t* indices, const std::uint8_t*& p)
{
    return gather_open_group_with(ssse3_t{}, indices, p);
}
__attribute__((target("avx2"), noinline, flatten)) std::size_t
gather_open_group(avx2_t, std::uint8_t* indices, const std::uint8_t*& p)
{
    return gather_open_group_with(avx2_t{}, indices, p);
}

void bgra_span(sse2_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
               bool alpha_counts)
{
    bgra_span_sse2(to, alpha, src, n, alpha_counts);
}
__attribute__((target("ssse3"))) void bgra_span(ssse3_t, pixel16* to, std::uint8_t* alpha,
                                                const std::uint8_t* src, std::size_t n,
                                                bool alpha_counts)
{
    bgra_span_ssse3(to, alpha, src, n, alpha_counts);
}
__attribute__((target("avx2"))) void bgra_span(avx2_t, pixel16* to, std::uint8_t* alpha,
                                               const std::uint8_t* src, std::size_t n,
                                               bool alpha_counts)
{
    bgra_span_avx2(to, alpha, src, n, alpha_counts);
}
__attribute__((target("avx2"))) void bgra_span(avx2_streaming_t, pixel16* to,
                                               std::uint8_t* alpha, const std::uint8_t* src,
                                               std::size_t n, bool alpha_counts)
{
    bgra_span_streaming_avx2(to, alpha, src, n, alpha_counts);
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
                                                 const std::uint8_t* src, std::size_t n,
                                                 bool alpha_bit)
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

// Output beyond this goes past the caches (L2 is 0.5 to 2 MiB a core on the
// machines measured): 32-bit pictures of 1024 x 1024 and more, colour-mapped
// ones from about 1024 x 768. Raw data only: run-length packets end anywhere,
// and streaming stores of part of a line, with ordinary ones into the same
// line next, ran at a fifth of the speed.
bool streams_past_caches(const stored_format& format, bool run_length,
                         const picture_planes& planes)
{
    constexpr std::size_t cached_output_bytes = 3u << 20;
    const std::size_t output_bytes = planes.w * planes.h * (planes.alpha != nullptr ? 3 : 2);
    const bool kind_streams =
        format.kind == stored_kind::bgra32 || format.kind == stored_kind::index8;
    return kind_streams && !run_length && output_bytes > cached_output_bytes;
}

template <typename Level>
stored_status decode_stored_at_level(Level level, const stored_format& format,
                                     const std::uint8_t* data, std::size_t size, bool run_length,
                                     const picture_planes& planes)
{
    if (!streams_past_caches(format, run_length, planes)) {
        // Run-length data is narrowed in expand_index_groups. Pictures past
        // the caches keep the lookup that streams its stores.
        const stored_format used =
            format.kind == stored_kind::index8 && !run_length
                ? narrowed_map(level, format, data, std::min(size, planes.w * planes.h))
                : format;
        return decode_stored_with(level, used, data, size, run_length, planes);
    }
    const stored_status status =
        decode_raw_stored_with(streaming_t<Level>{}, format, data, size, planes);
    // Streaming stores are weakly ordered: done before the caller sees them.
    _mm_sfence();
    return status;
}

} // namespace

template <>
__attribute__((flatten)) stored_status
decode_stored_at<simd_level::sse2>(const stored_format& format, const std::uint8_t* data,
                                   std::size_t size, bool run_length, const picture_planes& planes)
{
    return decode_stored_at_level(sse2_t{}, format, data, size, run_length, planes);
}

template <>
__attribute__((target("ssse3"), flatten)) stored_status decode_stored_at<simd_level::ssse3>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_at_level(ssse3_t{}, format, data, size, run_length, planes);
}

template <>
__attribute__((target("avx2"), flatten)) stored_status decode_stored_at<simd_level::avx2>(
    const stored_format& format, const std::uint8_t* data, std::size_t size, bool run_length,
    const picture_planes& planes)
{
    return decode_stored_at_level(avx2_t{}, format, data, size, run_length, planes);
}

#endif
