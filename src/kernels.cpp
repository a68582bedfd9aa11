#include "kernels.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && !defined(VELMORA_PORTABLE)
#define VELMORA_X86_SIMD 1
#include <immintrin.h>
#else
#define VELMORA_X86_SIMD 0
#endif

// How the SIMD code is built. Loads and stores are unaligned (loadu/storeu) or
// aligned only after the kernel has aligned its own pointer, so pixel memory
// needs nothing beyond pixel16 alignment. Kernels above SSE2 carry a target
// attribute: compiled for the instruction set they need, called only once
// best_simd_level() has vouched for it. The decoder's packet loops are templates
// over the level; each level's instance is flattened into one function compiled
// for that level, so the span kernels inline into the loop. Templates never use
// intrinsics themselves, only the kernels do.

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

#if VELMORA_X86_SIMD
std::size_t pixels_to_alignment(const pixel16* p, std::size_t bytes)
{
    const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % bytes;
    return off == 0 ? 0 : (bytes - off) / sizeof(pixel16);
}
#endif

// ---------------------------------------------------------------- fill

// to[i] = value
void fill_span_portable(pixel16* to, std::size_t n, pixel16 value)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = value;
}

#if VELMORA_X86_SIMD
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
#endif

template <simd_level L>
void fill_span_at(pixel16* to, std::size_t n, pixel16 value)
{
#if VELMORA_X86_SIMD
    if constexpr (L == simd_level::avx2)
        return fill_span_avx2(to, n, value);
    if constexpr (L == simd_level::sse2 || L == simd_level::ssse3)
        return fill_span_sse2(to, n, value);
#endif
    fill_span_portable(to, n, value);
}

template <simd_level L>
void fill_rows_at(pixel16* first, std::size_t w, std::size_t h, std::size_t stride, pixel16 value)
{
    for (std::size_t j = 0; j < h; ++j)
        fill_span_at<L>(first + j * stride, w, value);
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
#endif

template <simd_level L>
void convert_bgr_at(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
#if VELMORA_X86_SIMD
    if constexpr (L == simd_level::avx2)
        return convert_bgr_avx2(to, bgr, n);
    if constexpr (L == simd_level::ssse3)
        return convert_bgr_ssse3(to, bgr, n);
#endif
    convert_bgr_portable(to, bgr, n);
}

// ---------------------------------------------------------------- blend

// On the 5- and 6-bit fields: c = ((255 - weight) * s + weight * d) / 255
pixel16 blend_pixel(pixel16 s, pixel16 d, unsigned weight)
{
    const unsigned keep = weight;
    const unsigned take = 255 - weight;
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
#endif

template <simd_level L>
void blend_span_at(pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
#if VELMORA_X86_SIMD
    if constexpr (L == simd_level::avx2)
        return blend_span_avx2(to, from, n, weight);
    if constexpr (L == simd_level::sse2 || L == simd_level::ssse3)
        return blend_span_sse2(to, from, n, weight);
#endif
    blend_span_portable(to, from, n, weight);
}

// Where `to` runs ahead of `from` within reach, the plain loop reads pixels it
// has just written: only the pixel-by-pixel loop gives that result.
template <simd_level L>
void blend_rows_at(pixel16* to, std::size_t to_stride, const pixel16* from,
                   std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        if (ranges_overlap_ahead(t, f, w))
            blend_span_portable(t, f, w, weight);
        else
            blend_span_at<L>(t, f, w, weight);
    }
}

// ---------------------------------------------------------------- decoding

constexpr std::size_t pixel_bytes = 3;
constexpr std::size_t largest_packet = 1 + 128 * pixel_bytes;

pixel16 bgr_to_16(const std::uint8_t* bgr)
{
    return rgb24_to_16(bgr[2], bgr[1], bgr[0]);
}

// Stored pixels go to the sprite in spans that never cross a row end, so each
// span is one stretch of memory. A picture stored top row first, left to right,
// fills memory in order: as one row of w * h pixels it takes any packet whole.
struct pixel_sink {
    picture_rows rows;
    std::size_t row; // stored rows finished
    std::size_t col; // pixels put into the current stored row
};

pixel_sink make_sink(const picture_rows& rows)
{
    if (rows.top_down && !rows.right_to_left)
        return {{rows.pixels, rows.w * rows.h, 1, true, false}, 0, 0};
    return {rows, 0, 0};
}

std::size_t room_in_row(const pixel_sink& sink)
{
    return sink.rows.w - sink.col;
}

// The next n pixels of the current stored row (n <= room_in_row), in the sprite.
pixel16* next_span(const pixel_sink& sink, std::size_t n)
{
    const picture_rows& r = sink.rows;
    const std::size_t y = r.top_down ? sink.row : r.h - 1 - sink.row;
    const std::size_t x = r.right_to_left ? r.w - sink.col - n : sink.col;
    return r.pixels + y * r.w + x;
}

void advance(pixel_sink& sink, std::size_t n)
{
    sink.col += n;
    if (sink.col == sink.rows.w) {
        sink.col = 0;
        ++sink.row;
    }
}

template <simd_level L>
void put_run(pixel_sink& sink, pixel16 p, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        fill_span_at<L>(next_span(sink, k), k, p);
        advance(sink, k);
        n -= k;
    }
}

// A mirrored row gets each span converted in place, then turned around.
template <simd_level L>
void put_pixels(pixel_sink& sink, const std::uint8_t* bgr, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        pixel16* span = next_span(sink, k);
        convert_bgr_at<L>(span, bgr, k);
        if (sink.rows.right_to_left)
            std::reverse(span, span + k);
        advance(sink, k);
        bgr += pixel_bytes * k;
        n -= k;
    }
}

template <simd_level L>
void expand_raw_at(const std::uint8_t* bgr, const picture_rows& rows)
{
    pixel_sink sink = make_sink(rows);
    put_pixels<L>(sink, bgr, sink.rows.w * sink.rows.h);
}

// Pixels [first, first + k) of the packet at `packet`, at `to`.
template <simd_level L>
void put_packet_part(pixel16* to, const std::uint8_t* packet, std::size_t first, std::size_t k)
{
    if (packet[0] & 0x80)
        fill_span_at<L>(to, k, bgr_to_16(packet + 1));
    else
        convert_bgr_at<L>(to, packet + 1 + pixel_bytes * first, k);
}

// The common packets, as many as follow each other: whole in the data (at least
// one largest packet of bytes left, so no packet needs checking) and reaching
// at most into the next row of the picture, left to right. Stops at the first
// packet that needs more care, or at the picture's end; returns the bytes used.
template <simd_level L>
std::size_t expand_plain_packets(const std::uint8_t* data, std::size_t size, pixel_sink& sink)
{
    const std::size_t w = sink.rows.w;
    const std::size_t h = sink.rows.h;
    if (size < largest_packet || sink.rows.right_to_left || sink.row == h)
        return 0;
    const std::uint8_t* p = data;
    const std::uint8_t* const last_safe = data + (size - largest_packet);
    std::size_t room = w - sink.col;
    pixel16* out = next_span(sink, room);
    while (p <= last_safe) {
        const unsigned header = *p;
        const std::size_t length = (header & 0x7Fu) + 1;
        const std::size_t bytes = header & 0x80 ? 1 + pixel_bytes : 1 + pixel_bytes * length;
        if (length < room) {
            put_packet_part<L>(out, p, 0, length);
            out += length;
            room -= length;
        } else {
            const std::size_t rest = length - room;
            if (rest > w || (rest > 0 && sink.row + 1 == h))
                break; // spans rows, or is cut at the picture's end
            put_packet_part<L>(out, p, 0, room);
            sink.col = 0;
            if (++sink.row == h) {
                room = w;
                p += bytes;
                break;
            }
            out = next_span(sink, w);
            put_packet_part<L>(out, p, room, rest);
            out += rest;
            room = w - rest;
        }
        p += bytes;
    }
    sink.col = w - room;
    return static_cast<std::size_t>(p - data);
}

template <simd_level L>
bool expand_rle_at(const std::uint8_t* data, std::size_t size, const picture_rows& rows)
{
    pixel_sink sink = make_sink(rows);
    const std::size_t count = rows.w * rows.h;
    std::size_t pos = 0;
    while (sink.row * sink.rows.w + sink.col < count) {
        const std::size_t used = expand_plain_packets<L>(data + pos, size - pos, sink);
        if (used > 0) {
            pos += used;
            continue;
        }
        // Any packet: checked against the data's end, cut at the picture's end,
        // split at row ends, mirrored.
        if (pos == size)
            return false;
        const std::size_t n = sink.row * sink.rows.w + sink.col;
        const std::uint8_t header = data[pos++];
        const std::size_t length = std::min<std::size_t>((header & 0x7Fu) + 1, count - n);
        if (header & 0x80) {
            if (size - pos < pixel_bytes)
                return false;
            put_run<L>(sink, bgr_to_16(data + pos), length);
            pos += pixel_bytes;
        } else {
            if ((size - pos) / pixel_bytes < length)
                return false;
            put_pixels<L>(sink, data + pos, length);
            pos += pixel_bytes * length;
        }
    }
    return true;
}

// ---------------------------------------------------------------- per level

// One function per kernel and level above SSE2, compiled for that level, with
// the template's whole call tree inlined into it.
#if VELMORA_X86_SIMD
__attribute__((target("avx2"), flatten)) void fill_rows_avx2(pixel16* first, std::size_t w,
                                                             std::size_t h, std::size_t stride,
                                                             pixel16 value)
{
    fill_rows_at<simd_level::avx2>(first, w, h, stride, value);
}

__attribute__((target("avx2"), flatten)) void blend_rows_avx2(pixel16* to, std::size_t to_stride,
                                                              const pixel16* from,
                                                              std::size_t from_stride,
                                                              std::size_t w, std::size_t h,
                                                              unsigned weight)
{
    blend_rows_at<simd_level::avx2>(to, to_stride, from, from_stride, w, h, weight);
}

__attribute__((target("avx2"), flatten)) void expand_raw_avx2(const std::uint8_t* bgr,
                                                              const picture_rows& rows)
{
    expand_raw_at<simd_level::avx2>(bgr, rows);
}

__attribute__((target("ssse3"), flatten)) void expand_raw_ssse3(const std::uint8_t* bgr,
                                                                const picture_rows& rows)
{
    expand_raw_at<simd_level::ssse3>(bgr, rows);
}

__attribute__((target("avx2"), flatten)) bool expand_rle_avx2(const std::uint8_t* data,
                                                              std::size_t size,
                                                              const picture_rows& rows)
{
    return expand_rle_at<simd_level::avx2>(data, size, rows);
}

__attribute__((target("ssse3"), flatten)) bool expand_rle_ssse3(const std::uint8_t* data,
                                                                std::size_t size,
                                                                const picture_rows& rows)
{
    return expand_rle_at<simd_level::ssse3>(data, size, rows);
}
#endif

} // namespace

#if VELMORA_X86_SIMD
namespace {

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
#endif

simd_level best_simd_level()
{
#if VELMORA_X86_SIMD
    static const simd_level best = detect_simd_level();
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
    case simd_level::avx2: return fill_rows_avx2(first, w, h, stride, value);
    case simd_level::ssse3:
    case simd_level::sse2: return fill_rows_at<simd_level::sse2>(first, w, h, stride, value);
#endif
    default: return fill_rows_at<simd_level::portable>(first, w, h, stride, value);
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
        const std::size_t k = std::min(done, end - done);
        std::memcpy(pattern + done, pattern, k * sizeof(pixel16));
        done += k;
    }
}

void copy_rows(pixel16* to, std::size_t to_stride, const pixel16* from, std::size_t from_stride,
               std::size_t w, std::size_t h)
{
    for (std::size_t j = 0; j < h; ++j)
        copy_forward(to + j * to_stride, from + j * from_stride, w);
}

void blend_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        return blend_rows_avx2(to, to_stride, from, from_stride, w, h, weight);
    case simd_level::ssse3:
    case simd_level::sse2:
        return blend_rows_at<simd_level::sse2>(to, to_stride, from, from_stride, w, h, weight);
#endif
    default:
        return blend_rows_at<simd_level::portable>(to, to_stride, from, from_stride, w, h, weight);
    }
}

void convert_bgr(simd_level level, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return convert_bgr_avx2(to, bgr, n);
    case simd_level::ssse3: return convert_bgr_ssse3(to, bgr, n);
#endif
    default: return convert_bgr_portable(to, bgr, n);
    }
}

void expand_raw(simd_level level, const std::uint8_t* bgr, const picture_rows& rows)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return expand_raw_avx2(bgr, rows);
    case simd_level::ssse3: return expand_raw_ssse3(bgr, rows);
    case simd_level::sse2: return expand_raw_at<simd_level::sse2>(bgr, rows);
#endif
    default: return expand_raw_at<simd_level::portable>(bgr, rows);
    }
}

bool expand_rle(simd_level level, const std::uint8_t* data, std::size_t size,
                const picture_rows& rows)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return expand_rle_avx2(data, size, rows);
    case simd_level::ssse3: return expand_rle_ssse3(data, size, rows);
    case simd_level::sse2: return expand_rle_at<simd_level::sse2>(data, size, rows);
#endif
    default: return expand_rle_at<simd_level::portable>(data, size, rows);
    }
}
