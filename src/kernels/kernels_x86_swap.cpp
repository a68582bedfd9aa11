// The byte-swapped copy for panels at the x86-64 levels: SSE2 swaps the bytes
// of each 16-bit lane with two shifts, SSSE3 and AVX2 with one byte shuffle.
// Each vector is loaded before it is stored and the tails go pixel by pixel,
// so an in-place swap (out on the source's own bytes) stays exact.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <immintrin.h>

#include "kernels_loops.h"

namespace {

using namespace kernel_loops;

struct sse2_t {};
struct ssse3_t {};
struct avx2_t {};

inline __m128i load8(const pixel16* from)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}

inline void store16(std::uint8_t* out, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

inline __m128i swap_sse2(__m128i v)
{
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Eight vectors a turn, all loaded before the first store: four a turn ran at
// 0.75 to 0.8 of memcpy, eight at 0.8 to 0.95 (each swap takes three
// operations and a register copy, where SSSE3 shuffles once).
void copy_be_span(sse2_t, std::uint8_t* out, const pixel16* from, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m128i a = load8(from + i);
        const __m128i b = load8(from + i + 8);
        const __m128i c = load8(from + i + 16);
        const __m128i d = load8(from + i + 24);
        const __m128i e = load8(from + i + 32);
        const __m128i f = load8(from + i + 40);
        const __m128i g = load8(from + i + 48);
        const __m128i h = load8(from + i + 56);
        store16(out + 2 * i, swap_sse2(a));
        store16(out + 2 * i + 16, swap_sse2(b));
        store16(out + 2 * i + 32, swap_sse2(c));
        store16(out + 2 * i + 48, swap_sse2(d));
        store16(out + 2 * i + 64, swap_sse2(e));
        store16(out + 2 * i + 80, swap_sse2(f));
        store16(out + 2 * i + 96, swap_sse2(g));
        store16(out + 2 * i + 112, swap_sse2(h));
    }
    for (; i + 8 <= n; i += 8)
        store16(out + 2 * i, swap_sse2(load8(from + i)));
    copy_be_span_portable(out + 2 * i, from + i, n - i);
}

// Always inlined, so that the AVX2 span runs it in its own (VEX) encoding: a
// call from there would run legacy SSE instructions with the upper halves of
// the registers dirty, which Intel cores pay for on every instruction.
__attribute__((target("ssse3"), always_inline)) inline void
copy_be_shuffle16(std::uint8_t* out, const pixel16* from, std::size_t n)
{
    const __m128i order = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m128i a = load8(from + i);
        const __m128i b = load8(from + i + 8);
        const __m128i c = load8(from + i + 16);
        const __m128i d = load8(from + i + 24);
        store16(out + 2 * i, _mm_shuffle_epi8(a, order));
        store16(out + 2 * i + 16, _mm_shuffle_epi8(b, order));
        store16(out + 2 * i + 32, _mm_shuffle_epi8(c, order));
        store16(out + 2 * i + 48, _mm_shuffle_epi8(d, order));
    }
    for (; i + 8 <= n; i += 8)
        store16(out + 2 * i, _mm_shuffle_epi8(load8(from + i), order));
    copy_be_span_portable(out + 2 * i, from + i, n - i);
}

__attribute__((target("ssse3"))) void copy_be_span(ssse3_t, std::uint8_t* out,
                                                   const pixel16* from, std::size_t n)
{
    copy_be_shuffle16(out, from, n);
}

__attribute__((target("avx2"))) inline __m256i load16(const pixel16* from)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}

__attribute__((target("avx2"))) inline void store32(std::uint8_t* out, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}

// 64 pixels a turn, then 16 at a time.
__attribute__((target("avx2"))) void copy_be_span(avx2_t, std::uint8_t* out, const pixel16* from,
                                                  std::size_t n)
{
    const __m256i order = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14,
                                           1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m256i a = load16(from + i);
        const __m256i b = load16(from + i + 16);
        const __m256i c = load16(from + i + 32);
        const __m256i d = load16(from + i + 48);
        store32(out + 2 * i, _mm256_shuffle_epi8(a, order));
        store32(out + 2 * i + 32, _mm256_shuffle_epi8(b, order));
        store32(out + 2 * i + 64, _mm256_shuffle_epi8(c, order));
        store32(out + 2 * i + 96, _mm256_shuffle_epi8(d, order));
    }
    for (; i + 16 <= n; i += 16)
        store32(out + 2 * i, _mm256_shuffle_epi8(load16(from + i), order));
    copy_be_shuffle16(out + 2 * i, from + i, n - i);
}

} // namespace

// Flattened, so that the spans inline into the row loops: a call per row, as
// GCC left the AVX2 span, took a 64 x 64 area to 0.6 of memcpy.
template <>
__attribute__((flatten)) void copy_be_rows_at<simd_level::sse2>(std::uint8_t* out, const pixel16* from,
                                       std::size_t from_stride, std::size_t w, std::size_t h)
{
    copy_be_rows_with(sse2_t{}, out, from, from_stride, w, h);
}

template <>
__attribute__((target("ssse3"), flatten)) void
copy_be_rows_at<simd_level::ssse3>(std::uint8_t* out, const pixel16* from,
                                   std::size_t from_stride, std::size_t w, std::size_t h)
{
    copy_be_rows_with(ssse3_t{}, out, from, from_stride, w, h);
}

// Rows narrower than this, those of a dirty rectangle, take the SSSE3 level's
// function: for a 64 x 64 area of a 512 x 512 frame it ran at 1.05 to 1.15 of
// memcpy per row where this function, with the same 16-byte loop inlined or
// its own 32-byte one, ran at 0.6 to 0.9 (on the development machine, an AMD
// EPYC; three runs each; the cause was not found).
constexpr std::size_t narrow_rows = 256;

template <>
__attribute__((target("avx2"), flatten)) void
copy_be_rows_at<simd_level::avx2>(std::uint8_t* out, const pixel16* from,
                                  std::size_t from_stride, std::size_t w, std::size_t h)
{
    if (w < narrow_rows && w != from_stride)
        return copy_be_rows_at<simd_level::ssse3>(out, from, from_stride, w, h);
    copy_be_rows_with(avx2_t{}, out, from, from_stride, w, h);
}

#endif
