// The inner loops of the drawing operations and of the decoder: each works on
// runs of consecutive pixels and trusts its bounds. Internal to the library.
//
// Every kernel has a portable version and, on x86-64, SIMD versions beside it:
// SSE2 is part of x86-64 and always there, SSSE3 and AVX2 are asked of the CPU
// once. Callers pass the level to use, normally best_simd_level(); the tests
// pass every level the machine has and hold each to the plain loops. Building
// with VELMORA_PORTABLE defined leaves the portable versions alone.
//
// None of them allocates; each reads its source once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "draw.h"

enum class simd_level { portable, sse2, ssse3, avx2 };

// The highest level this build and this CPU support; fixed for the process.
simd_level best_simd_level();

// floor(y / 255) for every y < 65536, the way the SIMD blends compute it: the
// high half of y * 0x8081, shifted right by 7 more. Proven exhaustively in the tests.
constexpr unsigned div255_by_multiply(unsigned y)
{
    return (y * 0x8081u) >> 23;
}

// row j, pixel i < w:  first[j * stride + i] = value
void fill_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
               std::size_t stride, pixel16 value);

// to[i] = rgb24_to_16(bgr[3i + 2], bgr[3i + 1], bgr[3i]), i < n; reads exactly 3n bytes.
// `to` must not overlap `bgr`.
void convert_bgr(simd_level level, pixel16* to, const std::uint8_t* bgr, std::size_t n);

// to[i] = from[i] for i = 0, 1, ..., n - 1 in that order, so where the ranges
// overlap with `to` ahead of `from`, pixels already written are read again and
// the first (to - from) pixels repeat. Otherwise it is memcpy or memmove.
void copy_forward(pixel16* to, const pixel16* from, std::size_t n);

// per field c (red 5, green 6, blue 5 bits), for row j, pixel i < w:
//   T.c = ((255 - weight) * F.c + weight * T.c) / 255
// with T = to[j * to_stride + i], F = from[j * from_stride + i]; rows and pixels
// in order, so an overlap between `to` and `from` gives the pixel-by-pixel result.
// This is the 8-bit blend of sprite_blit_alpha_16 exactly: see sprite.cpp.
void blend_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight);
