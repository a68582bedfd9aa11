// Picks each kernel's level; the kernels themselves live in the files of
// their instruction sets (see kernels.h). The copies have no levels.
#include "kernels.h"

#include <algorithm>
#include <cstring>

#include "kernels_levels.h"
#include "kernels_loops.h"

#if VELMORA_NEON && defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

using kernel_loops::ranges_overlap_ahead;

#if VELMORA_NEON
bool neon_here()
{
#if defined(__arm__)
    static const bool found = (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
    return found;
#else
    return true;
#endif
}
#endif

namespace {

bool ranges_overlap(const pixel16* to, const pixel16* from, std::size_t n)
{
    return ranges_overlap_ahead(to, from, n) || ranges_overlap_ahead(from, to, n);
}

} // namespace

simd_level best_simd_level()
{
#if VELMORA_X86_SIMD
    return x86_simd_level();
#elif VELMORA_NEON
    return neon_here() ? simd_level::neon : simd_level::portable;
#else
    return simd_level::portable;
#endif
}

bool level_runs_here(simd_level level)
{
    switch (level) {
    case simd_level::portable: return true;
    case simd_level::sse2:
    case simd_level::ssse3:
    case simd_level::avx2: return VELMORA_X86_SIMD && level <= best_simd_level();
    case simd_level::neon:
#if VELMORA_NEON
        return neon_here();
#else
        return false;
#endif
    }
    return false;
}

void fill_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
               std::size_t stride, pixel16 value)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return fill_rows_at<simd_level::avx2>(first, w, h, stride, value);
    case simd_level::ssse3:
    case simd_level::sse2: return fill_rows_at<simd_level::sse2>(first, w, h, stride, value);
#endif
#if VELMORA_NEON
    case simd_level::neon: return fill_rows_at<simd_level::neon>(first, w, h, stride, value);
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

void copy_be_rows(simd_level level, std::uint8_t* out, const pixel16* from,
                  std::size_t from_stride, std::size_t w, std::size_t h)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return copy_be_rows_at<simd_level::avx2>(out, from, from_stride, w, h);
    case simd_level::ssse3: return copy_be_rows_at<simd_level::ssse3>(out, from, from_stride, w, h);
    case simd_level::sse2: return copy_be_rows_at<simd_level::sse2>(out, from, from_stride, w, h);
#endif
#if VELMORA_NEON
    case simd_level::neon: return copy_be_rows_at<simd_level::neon>(out, from, from_stride, w, h);
#endif
    default: return copy_be_rows_at<simd_level::portable>(out, from, from_stride, w, h);
    }
}

void blend_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        return blend_rows_at<simd_level::avx2>(to, to_stride, from, from_stride, w, h, weight);
    case simd_level::ssse3:
    case simd_level::sse2:
        return blend_rows_at<simd_level::sse2>(to, to_stride, from, from_stride, w, h, weight);
#endif
#if VELMORA_NEON
    case simd_level::neon:
        return blend_rows_at<simd_level::neon>(to, to_stride, from, from_stride, w, h, weight);
#endif
    default:
        return blend_rows_at<simd_level::portable>(to, to_stride, from, from_stride, w, h, weight);
    }
}

// ---- transparent blits

void blit_key_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                   std::size_t from_stride, std::size_t w, std::size_t h, pixel16 key)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        return blit_key_rows_at<simd_level::avx2>(to, to_stride, from, from_stride, w, h, key);
    case simd_level::ssse3:
    case simd_level::sse2:
        return blit_key_rows_at<simd_level::sse2>(to, to_stride, from, from_stride, w, h, key);
#endif
#if VELMORA_NEON
    case simd_level::neon:
        return blit_key_rows_at<simd_level::neon>(to, to_stride, from, from_stride, w, h, key);
#endif
    default:
        return blit_key_rows_at<simd_level::portable>(to, to_stride, from, from_stride, w, h, key);
    }
}

void blit_a8_rows(simd_level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                  std::size_t from_stride, const std::uint8_t* alpha, std::size_t alpha_stride,
                  std::size_t w, std::size_t h)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        return blit_a8_rows_at<simd_level::avx2>(to, to_stride, from, from_stride, alpha,
                                                 alpha_stride, w, h);
    case simd_level::ssse3:
    case simd_level::sse2:
        return blit_a8_rows_at<simd_level::sse2>(to, to_stride, from, from_stride, alpha,
                                                 alpha_stride, w, h);
#endif
#if VELMORA_NEON
    case simd_level::neon:
        return blit_a8_rows_at<simd_level::neon>(to, to_stride, from, from_stride, alpha,
                                                 alpha_stride, w, h);
#endif
    default:
        return blit_a8_rows_at<simd_level::portable>(to, to_stride, from, from_stride, alpha,
                                                     alpha_stride, w, h);
    }
}

void convert_bgr(simd_level level, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return convert_bgr_at<simd_level::avx2>(to, bgr, n);
    case simd_level::ssse3: return convert_bgr_at<simd_level::ssse3>(to, bgr, n);
#endif
#if VELMORA_NEON
    case simd_level::neon: return convert_bgr_at<simd_level::neon>(to, bgr, n);
#endif
    default: return convert_bgr_at<simd_level::portable>(to, bgr, n);
    }
}

void expand_raw(simd_level level, const std::uint8_t* bgr, const picture_rows& rows)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return expand_raw_at<simd_level::avx2>(bgr, rows);
    case simd_level::ssse3: return expand_raw_at<simd_level::ssse3>(bgr, rows);
    case simd_level::sse2: return expand_raw_at<simd_level::sse2>(bgr, rows);
#endif
#if VELMORA_NEON
    case simd_level::neon: return expand_raw_at<simd_level::neon>(bgr, rows);
#endif
    default: return expand_raw_at<simd_level::portable>(bgr, rows);
    }
}

bool expand_rle(simd_level level, const std::uint8_t* data, std::size_t size,
                const picture_rows& rows)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return expand_rle_at<simd_level::avx2>(data, size, rows);
    case simd_level::ssse3: return expand_rle_at<simd_level::ssse3>(data, size, rows);
    case simd_level::sse2: return expand_rle_at<simd_level::sse2>(data, size, rows);
#endif
#if VELMORA_NEON
    case simd_level::neon: return expand_rle_at<simd_level::neon>(data, size, rows);
#endif
    default: return expand_rle_at<simd_level::portable>(data, size, rows);
    }
}

// ---------------------------------------------------------------- decoding every stored format

stored_status decode_stored(simd_level level, const stored_format& format, const std::uint8_t* data,
                            std::size_t size, bool run_length, const picture_planes& planes)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2:
        return decode_stored_at<simd_level::avx2>(format, data, size, run_length, planes);
    case simd_level::ssse3:
        return decode_stored_at<simd_level::ssse3>(format, data, size, run_length, planes);
    case simd_level::sse2:
        return decode_stored_at<simd_level::sse2>(format, data, size, run_length, planes);
#endif
#if VELMORA_NEON
    case simd_level::neon:
        return decode_stored_at<simd_level::neon>(format, data, size, run_length, planes);
#endif
    default:
        return decode_stored_at<simd_level::portable>(format, data, size, run_length, planes);
    }
}

// ---------------------------------------------------------------- the canvas

void paint_rows(simd_level level, const paint_rows_job& job, const paint_style& style)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return paint_rows_at<simd_level::avx2>(job, style);
    case simd_level::ssse3:
    case simd_level::sse2: return paint_rows_at<simd_level::sse2>(job, style);
#endif
#if VELMORA_NEON
    case simd_level::neon: return paint_rows_at<simd_level::neon>(job, style);
#endif
    default: return paint_rows_at<simd_level::portable>(job, style);
    }
}

void paint_picked_rows(simd_level level, const paint_picked_job& job, const paint_style& style)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return paint_picked_rows_at<simd_level::avx2>(job, style);
    case simd_level::ssse3:
    case simd_level::sse2: return paint_picked_rows_at<simd_level::sse2>(job, style);
#endif
#if VELMORA_NEON
    case simd_level::neon: return paint_picked_rows_at<simd_level::neon>(job, style);
#endif
    default: return paint_picked_rows_at<simd_level::portable>(job, style);
    }
}

void pick_affine_run(simd_level level, const pick_affine_job& job, bool keyed, pixel16 key)
{
#if VELMORA_X86_SIMD
    if (level == simd_level::avx2)
        return pick_affine_run_at<simd_level::avx2>(job, keyed, key);
#endif
    (void)level;
    pick_affine_run_at<simd_level::portable>(job, keyed, key);
}

void smooth_affine_run(simd_level level, const smooth_affine_job& job, const paint_style& style)
{
#if VELMORA_X86_SIMD
    if (level == simd_level::avx2)
        return smooth_affine_run_at<simd_level::avx2>(job, style);
#endif
    (void)level;
    smooth_affine_run_at<simd_level::portable>(job, style);
}

void fill_blend_rows(simd_level level, pixel16* first, std::size_t w, std::size_t h,
                     std::size_t stride, pixel16 value, unsigned e)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return fill_blend_rows_at<simd_level::avx2>(first, w, h, stride, value, e);
    case simd_level::ssse3:
    case simd_level::sse2: return fill_blend_rows_at<simd_level::sse2>(first, w, h, stride, value, e);
#endif
#if VELMORA_NEON
    case simd_level::neon: return fill_blend_rows_at<simd_level::neon>(first, w, h, stride, value, e);
#endif
    default: return fill_blend_rows_at<simd_level::portable>(first, w, h, stride, value, e);
    }
}

void smooth_stretch_rows(simd_level level, const smooth_stretch_job& job, const paint_style& style)
{
    switch (level) {
#if VELMORA_X86_SIMD
    case simd_level::avx2: return smooth_stretch_rows_at<simd_level::avx2>(job, style);
    case simd_level::ssse3:
    case simd_level::sse2: return smooth_stretch_rows_at<simd_level::sse2>(job, style);
#endif
    default: return smooth_stretch_rows_at<simd_level::portable>(job, style);
    }
}
