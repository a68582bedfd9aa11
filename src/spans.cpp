#include "spans.h"

#include <cstring>

#if defined(__x86_64__) && !defined(VELMORA_PORTABLE)
#define VELMORA_X86_SIMD 1
#include <immintrin.h>
#else
#define VELMORA_X86_SIMD 0
#endif

// The SIMD kernels use unaligned loads and stores throughout (loadu/storeu) or
// align their own pointers first, so pixel memory needs only pixel16 alignment.
// Those above SSE2 carry target attributes: they are compiled for the instruction
// set they need and only ever called once best_simd_level() has vouched for it.

namespace {

bool ranges_overlap_ahead(const pixel16* to, const pixel16* from, std::size_t n)
{
    // As integers: the two ranges may lie in unrelated arrays.
    const auto t = reinterpret_cast<std::uintptr_t>(to);
    const auto f = reinterpret_cast<std::uintptr_t>(from);
    return f < t && t - f < n * sizeof(pixel16);
}

bool ranges_overlap(const pixel16* to, const pixel16* from, std::size_t n)
{
    return ranges_overlap_ahead(to, from, n) || ranges_overlap_ahead(from, to, n);
}

// ---------------------------------------------------------------- fill

// to[i] = value
void fill_span_portable(pixel16* to, std::size_t n, pixel16 value)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = value;
}

#if VELMORA_X86_SIMD
std::size_t pixels_to_alignment(const pixel16* p, std::size_t bytes)
{
    const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % bytes;
    return off == 0 ? 0 : (bytes - off) / sizeof(pixel16);
}

// to[i] = value, 8 at a time; the first and last stores may overlap the others.
void fill_span_sse2(pixel16* to, std::size_t n, __m128i v)
{
    if (n < 8) {
        fill_span_portable(to, n, static_cast<pixel16>(_mm_cvtsi128_si32(v)));
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

void fill_rows_sse2(pixel16* first, std::size_t w, std::size_t h, std::size_t stride,
                    pixel16 value)
{
    const __m128i v = _mm_set1_epi16(static_cast<short>(value));
    for (std::size_t j = 0; j < h; ++j)
        fill_span_sse2(first + j * stride, w, v);
}

// to[i] = value, 16 at a time, four stores per turn while there is room.
__attribute__((target("avx2"))) void fill_span_avx2(pixel16* to, std::size_t n, __m256i v)
{
    if (n < 16) {
        fill_span_sse2(to, n, _mm256_castsi256_si128(v));
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

__attribute__((target("avx2"))) void fill_rows_avx2(pixel16* first, std::size_t w,
                                                    std::size_t h, std::size_t stride,
                                                    pixel16 value)
{
    const __m256i v = _mm256_set1_epi16(static_cast<short>(value));
    for (std::size_t j = 0; j < h; ++j)
        fill_span_avx2(first + j * stride, w, v);
}
#endif

void fill_rows_portable(pixel16* first, std::size_t w, std::size_t h, std::size_t stride,
                        pixel16 value)
{
    for (std::size_t j = 0; j < h; ++j)
        fill_span_portable(first + j * stride, w, value);
}

// ---------------------------------------------------------------- BGR to RGB565

// p = (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3
void convert_bgr_portable(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i, bgr += 3)
        to[i] = rgb24_to_16(bgr[2], bgr[1], bgr[0]);
}

#if VELMORA_X86_SIMD
// Eight pixels, 24 bytes, arrive in two overlapping 16-byte loads: `a` holds
// pixels 0-3 at bytes 0-11, `b` (loaded 8 bytes later) pixels 4-7 at bytes 4-15.
// Byte shuffles gather, per 16-bit lane, R:G (red in the high byte) and 0:B;
// then p = (rg & 0xF800) | ((rg << 3) & 0x07E0) | (b >> 3).
constexpr char z = -128; // a shuffle index with the top bit set gives a zero byte

__attribute__((target("ssse3"))) __m128i pack_565_ssse3(__m128i rg, __m128i b)
{
    const __m128i red = _mm_and_si128(rg, _mm_set1_epi16(static_cast<short>(0xF800)));
    const __m128i green = _mm_and_si128(_mm_slli_epi16(rg, 3), _mm_set1_epi16(0x07E0));
    return _mm_or_si128(_mm_or_si128(red, green), _mm_srli_epi16(b, 3));
}

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
    return pack_565_ssse3(rg, blue);
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
#endif

// ---------------------------------------------------------------- blend

// On the 5- and 6-bit fields: c = ((255 - weight) * s + weight * d) / 255
pixel16 blend_pixel(pixel16 s, pixel16 d, unsigned weight)
{
    const unsigned keep = weight, take = 255 - weight;
    const unsigned r = (take * (s >> 11) + keep * (d >> 11)) / 255;
    const unsigned g = (take * (s >> 5 & 0x3F) + keep * (d >> 5 & 0x3F)) / 255;
    const unsigned b = (take * (s & 0x1F) + keep * (d & 0x1F)) / 255;
    return static_cast<pixel16>(r << 11 | g << 5 | b);
}

void blend_span_portable(pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = blend_pixel(from[i], to[i], weight);
}

#if VELMORA_X86_SIMD
// Eight pixels in 16-bit lanes; every product and sum stays below 255 * 63.
__m128i blend8_sse2(__m128i s, __m128i d, __m128i take, __m128i keep)
{
    const __m128i m5 = _mm_set1_epi16(0x1F), m6 = _mm_set1_epi16(0x3F);
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
void blend_span_sse2(pixel16* to, const pixel16* from, std::size_t n, __m128i take, __m128i keep,
                     unsigned weight)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), blend8_sse2(s, d, take, keep));
    }
    blend_span_portable(to + i, from + i, n - i, weight);
}

// Where `to` runs ahead of `from` within reach, the plain loop reads pixels it
// has just written: only the pixel-by-pixel loop gives that result.
void blend_rows_sse2(pixel16* to, std::size_t to_stride, const pixel16* from,
                     std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    const __m128i take = _mm_set1_epi16(static_cast<short>(255 - weight));
    const __m128i keep = _mm_set1_epi16(static_cast<short>(weight));
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        if (ranges_overlap_ahead(t, f, w))
            blend_span_portable(t, f, w, weight);
        else
            blend_span_sse2(t, f, w, take, keep, weight);
    }
}

__attribute__((target("avx2"))) __m256i blend16_avx2(__m256i s, __m256i d, __m256i take,
                                                     __m256i keep)
{
    const __m256i m5 = _mm256_set1_epi16(0x1F), m6 = _mm256_set1_epi16(0x3F);
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
                                                     std::size_t n, __m256i take, __m256i keep,
                                                     unsigned weight)
{
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), blend16_avx2(s, d, take, keep));
    }
    blend_span_sse2(to + i, from + i, n - i, _mm256_castsi256_si128(take),
                    _mm256_castsi256_si128(keep), weight);
}

__attribute__((target("avx2"))) void blend_rows_avx2(pixel16* to, std::size_t to_stride,
                                                     const pixel16* from, std::size_t from_stride,
                                                     std::size_t w, std::size_t h, unsigned weight)
{
    const __m256i take = _mm256_set1_epi16(static_cast<short>(255 - weight));
    const __m256i keep = _mm256_set1_epi16(static_cast<short>(weight));
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        if (ranges_overlap_ahead(t, f, w))
            blend_span_portable(t, f, w, weight);
        else
            blend_span_avx2(t, f, w, take, keep, weight);
    }
}
#endif

void blend_rows_portable(pixel16* to, std::size_t to_stride, const pixel16* from,
                         std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    for (std::size_t j = 0; j < h; ++j)
        blend_span_portable(to + j * to_stride, from + j * from_stride, w, weight);
}

} // namespace

simd_level best_simd_level()
{
#if VELMORA_X86_SIMD
    static const simd_level best = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            return simd_level::avx2;
        if (__builtin_cpu_supports("ssse3"))
            return simd_level::ssse3;
        return simd_level::sse2;
    }();
    return best;
#else
    return simd_level::portable;
#endif
}

void fill_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
               std::size_t stride, pixel16 value)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        fill_rows_avx2(first, w, h, stride, value);
        return;
    case simd_level::ssse3:
    case simd_level::sse2:
        fill_rows_sse2(first, w, h, stride, value);
        return;
#endif
    default:
        fill_rows_portable(first, w, h, stride, value);
        return;
    }
}

void convert_bgr(simd_level level, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        convert_bgr_avx2(to, bgr, n);
        return;
    case simd_level::ssse3:
        convert_bgr_ssse3(to, bgr, n);
        return;
#endif
    default:
        convert_bgr_portable(to, bgr, n);
        return;
    }
}

void copy_forward(pixel16* to, const pixel16* from, std::size_t n)
{
    if (n == 0 || to == from)
        return;
    if (!ranges_overlap(to, from, n)) {
        std::memcpy(to, from, n * sizeof(pixel16));
        return;
    }
    if (!ranges_overlap_ahead(to, from, n)) {
        // `to` behind `from`: every pixel is read before it is overwritten.
        std::memmove(to, from, n * sizeof(pixel16));
        return;
    }
    // `to` ahead of `from` by d < n pixels: from[0, d + n) ends up repeating its
    // first d pixels. Double the finished stretch, always between disjoint ranges.
    const std::size_t d = static_cast<std::size_t>(to - from);
    pixel16* pattern = to - d;
    const std::size_t end = d + n;
    for (std::size_t done = d; done < end;) {
        const std::size_t k = done < end - done ? done : end - done;
        std::memcpy(pattern + done, pattern, k * sizeof(pixel16));
        done += k;
    }
}

void blend_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        blend_rows_avx2(to, to_stride, from, from_stride, w, h, weight);
        return;
    case simd_level::ssse3:
    case simd_level::sse2:
        blend_rows_sse2(to, to_stride, from, from_stride, w, h, weight);
        return;
#endif
    default:
        blend_rows_portable(to, to_stride, from, from_stride, w, h, weight);
        return;
    }
}
