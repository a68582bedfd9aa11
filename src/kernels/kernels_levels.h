// Which instruction sets this build has, and the kernels of each level: one
// template per kernel, specialised in the file of that level's instruction set
// (kernels_portable.cpp, kernels_x86.cpp, kernels_neon.cpp) and chosen between
// in kernels.cpp. A level has only the specialisations listed beside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels.h"

#if defined(__x86_64__) && !defined(VELMORA_PORTABLE)
#define VELMORA_X86_SIMD 1
#else
#define VELMORA_X86_SIMD 0
#endif

// NEON (Advanced SIMD) is part of every aarch64 processor. Its spans take
// pixels apart as byte pairs, low byte first: little-endian only.
#if defined(__aarch64__) && defined(__ARM_NEON) && !defined(VELMORA_PORTABLE) && \
    defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define VELMORA_NEON 1
// 32-bit ARM Linux (ARMv7 with a floating-point unit, Debian's armhf) has NEON
// on most processors but not all: the NEON files are compiled for it whatever
// the baseline (kernels_neon.h; GCC's target pragma, which clang lacks), and
// the level is chosen at run time from the auxiliary vector.
#elif defined(__arm__) && defined(__linux__) && defined(__ARM_FP) && __ARM_ARCH >= 7 && \
    (defined(__ARM_NEON) || !defined(__clang__)) && !defined(VELMORA_PORTABLE) && \
    defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define VELMORA_NEON 1
#else
#define VELMORA_NEON 0
#endif

// portable, sse2, avx2, neon
template <simd_level L>
void fill_rows_at(pixel16* first, std::size_t w, std::size_t h, std::size_t stride, pixel16 value);

// portable, sse2, avx2, neon
template <simd_level L>
void blend_rows_at(pixel16* to, std::size_t to_stride, const pixel16* from,
                   std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight);

// ---- transparent blits

// portable, sse2, avx2, neon
template <simd_level L>
void blit_key_rows_at(pixel16* to, std::size_t to_stride, const pixel16* from,
                      std::size_t from_stride, std::size_t w, std::size_t h, pixel16 key);

// portable, sse2, avx2, neon
template <simd_level L>
void blit_a8_rows_at(pixel16* to, std::size_t to_stride, const pixel16* from,
                     std::size_t from_stride, const std::uint8_t* alpha, std::size_t alpha_stride,
                     std::size_t w, std::size_t h);

// portable, ssse3, avx2, neon
template <simd_level L>
void convert_bgr_at(pixel16* to, const std::uint8_t* bgr, std::size_t n);

// portable, sse2, ssse3, avx2, neon
template <simd_level L>
void expand_raw_at(const std::uint8_t* bgr, const picture_rows& rows);

// portable, sse2, ssse3, avx2, neon
template <simd_level L>
bool expand_rle_at(const std::uint8_t* data, std::size_t size, const picture_rows& rows);

// ---- decoding every stored format

// portable, sse2, ssse3, avx2, neon
template <simd_level L>
stored_status decode_stored_at(const stored_format& format, const std::uint8_t* data,
                               std::size_t size, bool run_length, const picture_planes& planes);

// ---- byte-swapped copy for panels (kernels_x86_swap.cpp, kernels_neon_swap.cpp)

// portable, sse2, ssse3, avx2, neon
template <simd_level L>
void copy_be_rows_at(std::uint8_t* out, const pixel16* from, std::size_t from_stride,
                     std::size_t w, std::size_t h);

// ---- the canvas

// portable, sse2, avx2, neon
template <simd_level L>
void paint_rows_at(const paint_rows_job& job, const paint_style& style);

// portable, sse2, avx2, neon
template <simd_level L>
void paint_picked_rows_at(const paint_picked_job& job, const paint_style& style);

// portable, avx2 (kernels_x86_transform.cpp)
template <simd_level L>
void pick_affine_run_at(const pick_affine_job& job, bool keyed, pixel16 key);

// portable, avx2 (kernels_x86_transform.cpp)
template <simd_level L>
void smooth_affine_run_at(const smooth_affine_job& job, const paint_style& style);

// portable, sse2, avx2, neon
template <simd_level L>
void fill_blend_rows_at(pixel16* first, std::size_t w, std::size_t h, std::size_t stride,
                        pixel16 value, unsigned e);

#if VELMORA_X86_SIMD
// The best x86-64 level this CPU has, asked once (kernels_x86.cpp).
simd_level x86_simd_level();
#endif

#if VELMORA_NEON
// Whether this processor has NEON, asked once (kernels.cpp): always on aarch64.
bool neon_here();
#endif

// portable, sse2, avx2 (kernels_smooth_stretch.cpp, kernels_x86_smooth_stretch.cpp)
template <simd_level L>
void smooth_stretch_rows_at(const smooth_stretch_job& job, const paint_style& style);
