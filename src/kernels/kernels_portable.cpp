// The portable level: plain C++ spans around the shared loops. Built on every
// architecture, and the only level when VELMORA_PORTABLE is defined.
#include "kernels_levels.h"
#include "kernels_format_loops.h"
#include "kernels_index_walk.h"

namespace {

using namespace kernel_loops;

struct portable_t {};

void fill_span(portable_t, pixel16* to, std::size_t n, pixel16 value)
{
    fill_span_portable(to, n, value);
}

void convert_bgr_span(portable_t, pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_portable(to, bgr, n);
}

void blend_span(portable_t, pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    blend_span_portable(to, from, n, weight);
}

// ---- transparent blits

void blit_key_span(portable_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    blit_key_span_portable(to, from, n, key);
}

void blit_a8_span(portable_t, pixel16* to, const pixel16* from, const std::uint8_t* alpha,
                  std::size_t n)
{
    blit_a8_span_portable(to, from, alpha, n);
}

void copy_be_span(portable_t, std::uint8_t* out, const pixel16* from, std::size_t n)
{
    copy_be_span_portable(out, from, n);
}

// ---- the canvas

void reverse_span(portable_t, pixel16* to, const pixel16* from, std::size_t n)
{
    reverse_span_portable(to, from, n);
}

void reverse_key_span(portable_t, pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    reverse_key_span_portable(to, from, n, key);
}

void repeat_span(portable_t, pixel16* to, const pixel16* from, std::size_t n, std::size_t k,
                 std::size_t phase)
{
    repeat_span_portable(to, from, n, k, phase);
}

void opacity_span(portable_t, std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha,
                  std::size_t n, const paint_style& style)
{
    opacity_span_portable(e, s, alpha, n, style);
}

// ---- decoding every stored format

void bgra_span(portable_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
               bool alpha_counts)
{
    bgra_span_portable(to, alpha, src, n, alpha_counts);
}

void argb16_span(portable_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                 std::size_t n, bool alpha_bit)
{
    argb16_span_portable(to, alpha, src, n, alpha_bit);
}

void grey_span(portable_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n)
{
    grey_span_portable(to, alpha, src, n);
}

void grey_alpha_span(portable_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                     std::size_t n)
{
    grey_alpha_span_portable(to, alpha, src, n);
}

// Maps whose entries share one opacity (every map of 24-bit entries): the
// opacities are one constant, and a pixel is one lookup.
std::size_t index_span_one_opacity(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                   std::size_t n, const stored_format& f)
{
    const std::uint32_t* const map = f.map;
    const unsigned first = f.first;
    const unsigned count = f.end - f.first;
    const auto opacity = static_cast<std::uint8_t>(map[first] >> 16);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned index = src[i];
        if (index - first >= count) // as index_valid
            return i;
        to[i] = static_cast<pixel16>(map[index]);
        alpha[i] = opacity;
    }
    return n;
}

std::size_t index_span(portable_t, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                       std::size_t n, const stored_format& f)
{
    if (f.one_opacity && f.end > f.first)
        return index_span_one_opacity(to, alpha, src, n, f);
    return index_span_portable(to, alpha, src, n, f);
}

void run_span(portable_t, pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
              std::uint8_t a)
{
    run_span_portable(to, alpha, n, pixel, a);
}

// Colour-mapped packets one at a time (kernels_index_walk.h), but on a
// microcontroller: there the walk's frame, beside the decoder's, took
// tga_to_sprite16 past its 2 KiB of stack (2,200 bytes on a Cortex-M0+).
#if defined(__ARM_ARCH_PROFILE) && __ARM_ARCH_PROFILE == 'M'
constexpr bool walks_index_packets(portable_t) { return false; }
#else
constexpr bool walks_index_packets(portable_t) { return true; }

__attribute__((always_inline)) inline void index_run(portable_t, pixel16* to, std::uint8_t* alpha,
                                                     std::size_t n, std::uint32_t entry)
{
    if (n <= 3)
        short_run_of_three(to, alpha, n, entry);
    else
        run_span_portable(to, alpha, n, static_cast<pixel16>(entry),
                          static_cast<std::uint8_t>(entry >> 16));
}
#endif

} // namespace

template <>
void fill_rows_at<simd_level::portable>(pixel16* first, std::size_t w, std::size_t h,
                                        std::size_t stride, pixel16 value)
{
    fill_rows_with(portable_t{}, first, w, h, stride, value);
}

template <>
void blend_rows_at<simd_level::portable>(pixel16* to, std::size_t to_stride, const pixel16* from,
                                         std::size_t from_stride, std::size_t w, std::size_t h,
                                         unsigned weight)
{
    blend_rows_with(portable_t{}, to, to_stride, from, from_stride, w, h, weight);
}

// ---- transparent blits

template <>
void blit_key_rows_at<simd_level::portable>(pixel16* to, std::size_t to_stride,
                                            const pixel16* from, std::size_t from_stride,
                                            std::size_t w, std::size_t h, pixel16 key)
{
    blit_key_rows_with(portable_t{}, to, to_stride, from, from_stride, w, h, key);
}

template <>
void blit_a8_rows_at<simd_level::portable>(pixel16* to, std::size_t to_stride,
                                           const pixel16* from, std::size_t from_stride,
                                           const std::uint8_t* alpha, std::size_t alpha_stride,
                                           std::size_t w, std::size_t h)
{
    blit_a8_rows_with(portable_t{}, to, to_stride, from, from_stride, alpha, alpha_stride, w, h);
}

template <>
void convert_bgr_at<simd_level::portable>(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    convert_bgr_portable(to, bgr, n);
}

template <>
void expand_raw_at<simd_level::portable>(const std::uint8_t* bgr, const picture_rows& rows)
{
    expand_raw_with(portable_t{}, bgr, rows);
}

template <>
bool expand_rle_at<simd_level::portable>(const std::uint8_t* data, std::size_t size,
                                         const picture_rows& rows)
{
    return expand_rle_with(portable_t{}, data, size, rows);
}

template <>
void copy_be_rows_at<simd_level::portable>(std::uint8_t* out, const pixel16* from,
                                           std::size_t from_stride, std::size_t w, std::size_t h)
{
    copy_be_rows_with(portable_t{}, out, from, from_stride, w, h);
}

// ---- decoding every stored format

// Flattened, so the spans and the common packets inline into one loop per kind.
template <>
__attribute__((flatten)) stored_status
decode_stored_at<simd_level::portable>(const stored_format& format, const std::uint8_t* data,
                                       std::size_t size, bool run_length,
                                       const picture_planes& planes)
{
    return decode_stored_with(portable_t{}, format, data, size, run_length, planes);
}

// ---- the canvas

template <>
void paint_rows_at<simd_level::portable>(const paint_rows_job& job, const paint_style& style)
{
    paint_rows_with(portable_t{}, job, style);
}

template <>
void paint_picked_rows_at<simd_level::portable>(const paint_picked_job& job,
                                                const paint_style& style)
{
    paint_picked_with(portable_t{}, job, style);
}

// Picked and landed in one pass: no table of offsets, no second loop. Inside
// the run u and v are not negative, so the shifts are floors.
template <>
void pick_affine_run_at<simd_level::portable>(const pick_affine_job& job, bool keyed, pixel16 key)
{
    std::int64_t u = job.u;
    std::int64_t v = job.v;
    for (std::size_t q = 0; q < job.n; ++q, u += job.du, v += job.dv) {
        const pixel16 p = job.from[job.first + static_cast<std::size_t>(v >> 17) * job.stride +
                                   static_cast<std::size_t>(u >> 17)];
        if (!keyed || p != key)
            job.to[q] = p;
    }
}

namespace {

// The tap's opacity by the canvas's rule: 0 when keyed, else (a opacity + 127) / 255.
unsigned tap_opacity(const smooth_affine_job& job, const paint_style& style, std::size_t at)
{
    if (style.keyed && job.from[at] == style.key)
        return 0;
    const unsigned a = job.alpha != nullptr ? job.alpha[at] : 255;
    return (a * style.opacity + 127) / 255;
}

// floor(x / 2^k) for x >= -2^17 without shifting a negative value.
std::int64_t floor_shift(std::int64_t x, int k)
{
    constexpr std::int64_t lift = std::int64_t{1} << 17;
    return ((x + lift) >> k) - (lift >> k);
}

// Without edges no tap is checked; each field's sum fits 32 bits
// (16711680 * 63 < 2^30).
template <bool edge>
void smooth_affine_portable(const smooth_affine_job& job, const paint_style& style)
{
    std::int64_t u = job.u;
    std::int64_t v = job.v;
    for (std::size_t q = 0; q < job.n; ++q, u += job.du, v += job.dv) {
        const std::int64_t tu = floor_shift(u, 9);
        const std::int64_t tv = floor_shift(v, 9);
        const std::int64_t su = job.flip_u ? job.mirror_u - tu : tu;
        const std::int64_t sv = job.flip_v ? job.mirror_v - tv : tv;
        const std::int64_t i = floor_shift(su, 8);
        const std::int64_t j = floor_shift(sv, 8);
        const auto f = static_cast<std::uint32_t>(su & 255);
        const auto g = static_cast<std::uint32_t>(sv & 255);
        const std::uint32_t weights[4] = {(256 - f) * (256 - g), f * (256 - g), (256 - f) * g,
                                          f * g};
        std::uint32_t w = 0;
        std::uint32_t r = 0;
        std::uint32_t gr = 0;
        std::uint32_t b = 0;
        for (int t = 0; t < 4; ++t) {
            const std::int64_t ti = i + (t & 1);
            const std::int64_t tj = j + (t >> 1);
            if (edge && (ti < 0 || tj < 0 || ti >= static_cast<std::int64_t>(job.w) ||
                         tj >= static_cast<std::int64_t>(job.h)))
                continue;
            const std::size_t at = job.first + static_cast<std::size_t>(tj) * job.stride +
                                   static_cast<std::size_t>(ti);
            const pixel16 s = job.from[at];
            const std::uint32_t we = weights[t] * tap_opacity(job, style, at);
            w += we;
            r += we * (s >> 11);
            gr += we * (s >> 5 & 0x3F);
            b += we * (s & 0x1F);
        }
        const pixel16 d = job.to[q];
        const std::uint32_t keep = 16711680 - w;
        job.to[q] = static_cast<pixel16>((r + keep * (d >> 11)) / 16711680 << 11 |
                                         (gr + keep * (d >> 5 & 0x3F)) / 16711680 << 5 |
                                         (b + keep * (d & 0x1F)) / 16711680);
    }
}

} // namespace

template <>
void smooth_affine_run_at<simd_level::portable>(const smooth_affine_job& job,
                                                const paint_style& style)
{
    if (job.edge)
        smooth_affine_portable<true>(job, style);
    else
        smooth_affine_portable<false>(job, style);
}

template <>
void fill_blend_rows_at<simd_level::portable>(pixel16* first, std::size_t w, std::size_t h,
                                              std::size_t stride, pixel16 value, unsigned e)
{
    fill_blend_rows_with(portable_t{}, first, w, h, stride, value, e);
}
