// Turned sprites at AVX2: sixteen samples a turn, their offsets computed in
// 32-bit lanes and their pixels gathered as 32-bit words at 16-bit steps, the
// low half kept. Such a word reaches one pixel past the sample, so the one
// sample that has no pixel after it (the last of `from`) is not gathered but
// taken from a register. Runs whose positions or offsets do not fit 31 bits go
// the portable way.
//
// Smoothly turned sprites at AVX2: eight pixels a turn, one 32-bit lane each.
// The two taps of a row are adjacent pixels, so one 32-bit gather fetches both
// as a pair of 16-bit halves, and the whole filter runs on such pairs: 16-bit
// products e S.c (at most 255 * 63), then madd with the weight pair
// (256 - f, f) for the row's sum, and 256 top + g (bottom - top) for the
// column's (each sum below 2^30). The opacities come as bytes: the top pair
// gathered from its own offset (two bytes past it lie in the next row), the
// bottom pair from two bytes before its own (the plane may end right after
// it), so no gather reads outside the plane. At the footprint's edge, where a
// tap may lie one step outside the sprite, the pair one step in is read and
// moved into place, and the outside tap's opacity is 0.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr std::int64_t lane_limit = std::int64_t{1} << 31;

// A run of n positions from (u, v) by (du, dv), and the source's pixel count,
// below the lanes' limit at both ends; the ends' positions in `u_end`, `v_end`.
bool run_below_limit(std::size_t n, std::size_t count, std::int64_t u, std::int64_t du,
                     std::int64_t v, std::int64_t dv, std::int64_t& u_end, std::int64_t& v_end)
{
    if (n == 0 || count >= static_cast<std::size_t>(lane_limit))
        return false;
    const auto last = static_cast<std::int64_t>(n - 1);
    u_end = u + last * du;
    v_end = v + last * dv;
    return u < lane_limit && v < lane_limit && u_end < lane_limit && v_end < lane_limit;
}

bool fits_lanes(const pick_affine_job& job)
{
    std::int64_t u_end = 0;
    std::int64_t v_end = 0;
    return run_below_limit(job.n, job.count, job.u, job.du, job.v, job.dv, u_end, v_end) &&
           u_end >= 0 && v_end >= 0;
}

// The low 32 bits: lanes stepped by wrapping adds stay exact where the true
// value fits, as every position inside the run does.
int low32(std::int64_t x)
{
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x)));
}

// A run's first eight positions along one axis: start, start + step, ...
__attribute__((target("avx2"))) __m256i first_eight(std::int64_t start, std::int64_t step)
{
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_add_epi32(_mm256_set1_epi32(low32(start)),
                            _mm256_mullo_epi32(lane, _mm256_set1_epi32(low32(step))));
}

__attribute__((target("avx2"))) __m256i gather8(const pick_affine_job& job, __m256i u, __m256i v,
                                                __m256i stride, __m256i first, __m256i last,
                                                __m256i last_pixel)
{
    const __m256i at = _mm256_add_epi32(
        _mm256_add_epi32(first, _mm256_mullo_epi32(_mm256_srli_epi32(v, 17), stride)),
        _mm256_srli_epi32(u, 17));
    const __m256i gather = _mm256_xor_si256(_mm256_cmpeq_epi32(at, last), _mm256_set1_epi32(-1));
    const __m256i words = _mm256_mask_i32gather_epi32(
        last_pixel, reinterpret_cast<const int*>(job.from), at, gather, 2);
    return _mm256_and_si256(words, _mm256_set1_epi32(0xFFFF));
}

} // namespace

template <>
__attribute__((target("avx2"))) void
pick_affine_run_at<simd_level::avx2>(const pick_affine_job& job, bool keyed, pixel16 key)
{
    if (!fits_lanes(job))
        return pick_affine_run_at<simd_level::portable>(job, keyed, key);
    __m256i u = first_eight(job.u, job.du);
    __m256i v = first_eight(job.v, job.dv);
    const __m256i u8 = _mm256_set1_epi32(low32(8 * job.du));
    const __m256i v8 = _mm256_set1_epi32(low32(8 * job.dv));
    const __m256i stride = _mm256_set1_epi32(static_cast<int>(job.stride));
    const __m256i first = _mm256_set1_epi32(static_cast<int>(job.first));
    const __m256i last = _mm256_set1_epi32(static_cast<int>(job.count - 1));
    const __m256i last_pixel = _mm256_set1_epi32(job.from[job.count - 1]);
    const __m256i k = _mm256_set1_epi16(static_cast<short>(key));
    std::size_t q = 0;
    for (; q + 16 <= job.n; q += 16) {
        const __m256i a = gather8(job, u, v, stride, first, last, last_pixel);
        u = _mm256_add_epi32(u, u8);
        v = _mm256_add_epi32(v, v8);
        const __m256i b = gather8(job, u, v, stride, first, last, last_pixel);
        u = _mm256_add_epi32(u, u8);
        v = _mm256_add_epi32(v, v8);
        // packus interleaves the halves by 128-bit lane; the permute restores the order.
        const __m256i s = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        pixel16* to = job.to + q;
        if (!keyed) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), s);
            continue;
        }
        const __m256i is_key = _mm256_cmpeq_epi16(s, k);
        if (_mm256_movemask_epi8(is_key) == -1)
            continue;
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_blendv_epi8(s, d, is_key));
    }
    pick_affine_job rest = job;
    rest.to += q;
    rest.u += static_cast<std::int64_t>(q) * job.du;
    rest.v += static_cast<std::int64_t>(q) * job.dv;
    rest.n -= q;
    pick_affine_run_at<simd_level::portable>(rest, keyed, key);
}

namespace {

bool fits_lanes(const smooth_affine_job& job)
{
    std::int64_t u_end = 0;
    std::int64_t v_end = 0;
    return run_below_limit(job.n, job.count, job.u, job.du, job.v, job.dv, u_end, v_end) &&
           job.mirror_u < lane_limit && job.mirror_v < lane_limit;
}

// Position in 1/256 pixel, mirrored where the job says: (t ^ m) + c is t, or
// mirror - t = ~t + 1 + mirror with m all ones.
struct mirror_lanes {
    __m256i m, c;
};

__attribute__((target("avx2"))) mirror_lanes mirror_of(bool flip, std::int64_t mirror)
{
    return {_mm256_set1_epi32(flip ? -1 : 0), _mm256_set1_epi32(flip ? low32(mirror + 1) : 0)};
}

__attribute__((target("avx2"))) __m256i position(__m256i u, mirror_lanes k)
{
    return _mm256_add_epi32(_mm256_xor_si256(_mm256_srai_epi32(u, 9), k.m), k.c);
}

// Per field, the row's sum (256 - f) e0 S0.c + f e1 S1.c of a pixel pair.
struct row_sums {
    __m256i w, r, g, b;
};

__attribute__((target("avx2"))) row_sums row_of(__m256i pair, __m256i e, __m256i weights)
{
    const __m256i r = _mm256_srli_epi16(pair, 11);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi16(pair, 5), _mm256_set1_epi16(0x3F));
    const __m256i b = _mm256_and_si256(pair, _mm256_set1_epi16(0x1F));
    return {_mm256_madd_epi16(e, weights), _mm256_madd_epi16(_mm256_mullo_epi16(r, e), weights),
            _mm256_madd_epi16(_mm256_mullo_epi16(g, e), weights),
            _mm256_madd_epi16(_mm256_mullo_epi16(b, e), weights)};
}

// (256 - g) top + g bottom
__attribute__((target("avx2"))) __m256i column(__m256i top, __m256i bottom, __m256i g)
{
    return _mm256_add_epi32(_mm256_slli_epi32(top, 8),
                            _mm256_mullo_epi32(g, _mm256_sub_epi32(bottom, top)));
}

// floor((c + keep d) / 16711680) = floor(floor(.. / 65536) / 255), the last
// division by the multiply the blends use (exact below 65536).
__attribute__((target("avx2"))) __m256i land_field(__m256i c, __m256i keep, __m256i d)
{
    const __m256i y = _mm256_srli_epi32(_mm256_add_epi32(c, _mm256_mullo_epi32(keep, d)), 16);
    return _mm256_srli_epi32(_mm256_mulhi_epu16(y, _mm256_set1_epi32(0x8081)), 7);
}

// The opacities of a pair from the plane: bytes picked from each lane's
// gathered word, scaled by the opacity where it is not 255.
template <bool scaled>
__attribute__((target("avx2"))) __m256i opacity_pair(__m256i gathered, __m256i pick, __m256i opacity)
{
    const __m256i a = _mm256_shuffle_epi8(gathered, pick);
    if constexpr (!scaled)
        return a;
    const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(a, opacity), _mm256_set1_epi16(127));
    const __m256i by_255 = _mm256_set1_epi16(static_cast<short>(0x8081));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(x, by_255), 7);
}

// What every turn of the loop uses.
struct smooth_lanes {
    mirror_lanes mu, mv;
    __m256i stride, first, opacity, key;
    __m256i last_column, last_row; // w - 1, h - 1
    const int *top_pixels, *bottom_pixels, *top_alpha, *bottom_alpha;
};

// A tap column i of -1 or w - 1 has read the pair one step in: moved half a
// lane, its inside pixel lands on its tap and the outside tap gets opacity 0.
// Rows likewise: the row read inside becomes the other row, the outside row's
// opacities 0.
struct pair_rows {
    __m256i top, bottom, e_top, e_bottom;
};

__attribute__((target("avx2"))) __m256i shift_pair(__m256i x, __m256i left, __m256i right)
{
    x = _mm256_blendv_epi8(x, _mm256_slli_epi32(x, 16), left);
    return _mm256_blendv_epi8(x, _mm256_srli_epi32(x, 16), right);
}

__attribute__((target("avx2"))) pair_rows fix_edges(pair_rows p, __m256i i, __m256i j,
                                                    const smooth_lanes& k)
{
    const __m256i left = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(-1));
    const __m256i right = _mm256_cmpeq_epi32(i, k.last_column);
    const __m256i up = _mm256_cmpeq_epi32(j, _mm256_set1_epi32(-1));
    const __m256i down = _mm256_cmpeq_epi32(j, k.last_row);
    p = {shift_pair(p.top, left, right), shift_pair(p.bottom, left, right),
         shift_pair(p.e_top, left, right), shift_pair(p.e_bottom, left, right)};
    return {_mm256_blendv_epi8(p.top, p.bottom, down), _mm256_blendv_epi8(p.bottom, p.top, up),
            _mm256_andnot_si256(up, _mm256_blendv_epi8(p.e_top, p.e_bottom, down)),
            _mm256_andnot_si256(down, _mm256_blendv_epi8(p.e_bottom, p.e_top, up))};
}

// Eight pixels at positions u, v over the pixels `under` (32-bit lanes);
// lanes outside `lanes` gather nothing and give nothing of use.
template <bool plane, bool scaled, bool keyed, bool edge>
__attribute__((target("avx2"))) __m256i smooth8(const smooth_lanes& k, __m256i u, __m256i v,
                                                __m256i lanes, __m256i under)
{
    const __m256i su = position(u, k.mu);
    const __m256i sv = position(v, k.mv);
    const __m256i f = _mm256_and_si256(su, _mm256_set1_epi32(255));
    const __m256i g = _mm256_and_si256(sv, _mm256_set1_epi32(255));
    // (256 - f, f) as two 16-bit halves
    const __m256i weights =
        _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(f, 16), _mm256_set1_epi32(256)), f);
    const __m256i i = _mm256_srai_epi32(su, 8);
    const __m256i j = _mm256_srai_epi32(sv, 8);
    __m256i column_read = i;
    __m256i row_read = j;
    if constexpr (edge) {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i one = _mm256_set1_epi32(1);
        column_read =
            _mm256_max_epi32(zero, _mm256_min_epi32(i, _mm256_sub_epi32(k.last_column, one)));
        row_read = _mm256_max_epi32(zero, _mm256_min_epi32(j, _mm256_sub_epi32(k.last_row, one)));
    }
    const __m256i at = _mm256_add_epi32(
        _mm256_add_epi32(k.first, _mm256_mullo_epi32(row_read, k.stride)), column_read);
    const __m256i none = _mm256_setzero_si256();
    const __m256i top = _mm256_mask_i32gather_epi32(none, k.top_pixels, at, lanes, 2);
    const __m256i bottom = _mm256_mask_i32gather_epi32(none, k.bottom_pixels, at, lanes, 2);
    __m256i e_top = k.opacity;
    __m256i e_bottom = k.opacity;
    if constexpr (plane) {
        constexpr char z = -1; // a zero byte
        const __m256i top_pick = _mm256_setr_epi8(0, z, 1, z, 4, z, 5, z, 8, z, 9, z, 12, z, 13, z,
                                                  0, z, 1, z, 4, z, 5, z, 8, z, 9, z, 12, z, 13, z);
        const __m256i bottom_pick = _mm256_setr_epi8(2, z, 3, z, 6, z, 7, z, 10, z, 11, z, 14, z, 15, z,
                                                     2, z, 3, z, 6, z, 7, z, 10, z, 11, z, 14, z, 15, z);
        const __m256i top_alpha = _mm256_mask_i32gather_epi32(none, k.top_alpha, at, lanes, 1);
        const __m256i bottom_alpha = _mm256_mask_i32gather_epi32(none, k.bottom_alpha, at, lanes, 1);
        e_top = opacity_pair<scaled>(top_alpha, top_pick, k.opacity);
        e_bottom = opacity_pair<scaled>(bottom_alpha, bottom_pick, k.opacity);
    }
    if constexpr (keyed) {
        e_top = _mm256_andnot_si256(_mm256_cmpeq_epi16(top, k.key), e_top);
        e_bottom = _mm256_andnot_si256(_mm256_cmpeq_epi16(bottom, k.key), e_bottom);
    }
    pair_rows p{top, bottom, e_top, e_bottom};
    if constexpr (edge)
        p = fix_edges(p, i, j, k);
    const row_sums a = row_of(p.top, p.e_top, weights);
    const row_sums b = row_of(p.bottom, p.e_bottom, weights);
    const __m256i keep = _mm256_sub_epi32(_mm256_set1_epi32(16711680), column(a.w, b.w, g));
    const __m256i red = land_field(column(a.r, b.r, g), keep, _mm256_srli_epi32(under, 11));
    const __m256i under_green =
        _mm256_and_si256(_mm256_srli_epi32(under, 5), _mm256_set1_epi32(0x3F));
    const __m256i green = land_field(column(a.g, b.g, g), keep, under_green);
    const __m256i blue = land_field(column(a.b, b.b, g), keep,
                                    _mm256_and_si256(under, _mm256_set1_epi32(0x1F)));
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(red, 11), _mm256_slli_epi32(green, 5)),
                           blue);
}

__attribute__((target("avx2"))) __m256i load8(const pixel16* p)
{
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2"))) void store8(pixel16* p, __m256i x)
{
    // packus pairs the halves by 128-bit lane; the permute brings pixels 4-7 beside 0-3.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(x, x), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
}

// Eight pixels a turn; the last few as one masked turn, through a copy of eight.
template <bool plane, bool scaled, bool keyed, bool edge>
__attribute__((target("avx2"), flatten)) void smooth_affine_avx2(const smooth_affine_job& job,
                                                                 const paint_style& style)
{
    __m256i u = first_eight(job.u, job.du);
    __m256i v = first_eight(job.v, job.dv);
    const __m256i u8 = _mm256_set1_epi32(low32(8 * job.du));
    const __m256i v8 = _mm256_set1_epi32(low32(8 * job.dv));
    const auto* alpha = reinterpret_cast<const int*>(job.alpha);
    const smooth_lanes k{mirror_of(job.flip_u, job.mirror_u),
                         mirror_of(job.flip_v, job.mirror_v),
                         _mm256_set1_epi32(static_cast<int>(job.stride)),
                         _mm256_set1_epi32(static_cast<int>(job.first)),
                         _mm256_set1_epi16(static_cast<short>(style.opacity)),
                         _mm256_set1_epi16(static_cast<short>(style.key)),
                         _mm256_set1_epi32(static_cast<int>(job.w) - 1),
                         _mm256_set1_epi32(static_cast<int>(job.h) - 1),
                         reinterpret_cast<const int*>(job.from),
                         reinterpret_cast<const int*>(job.from + job.stride),
                         alpha,
                         plane ? reinterpret_cast<const int*>(job.alpha + job.stride - 2)
                               : nullptr};
    const __m256i all = _mm256_set1_epi32(-1);
    std::size_t q = 0;
    for (; q + 8 <= job.n; q += 8) {
        pixel16* to = job.to + q;
        store8(to, smooth8<plane, scaled, keyed, edge>(k, u, v, all, load8(to)));
        u = _mm256_add_epi32(u, u8);
        v = _mm256_add_epi32(v, v8);
    }
    const std::size_t rest = job.n - q;
    if (rest == 0)
        return;
    pixel16 eight[8] = {};
    std::memcpy(eight, job.to + q, rest * sizeof(pixel16));
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(rest)), lane);
    store8(eight, smooth8<plane, scaled, keyed, edge>(k, u, v, lanes, load8(eight)));
    std::memcpy(job.to + q, eight, rest * sizeof(pixel16));
}

template <bool edge>
__attribute__((target("avx2"))) void smooth_affine_kind(const smooth_affine_job& job,
                                                        const paint_style& style)
{
    const bool plane = job.alpha != nullptr;
    const bool scaled = style.opacity != 255;
    if (plane && scaled)
        return style.keyed ? smooth_affine_avx2<true, true, true, edge>(job, style)
                           : smooth_affine_avx2<true, true, false, edge>(job, style);
    if (plane)
        return style.keyed ? smooth_affine_avx2<true, false, true, edge>(job, style)
                           : smooth_affine_avx2<true, false, false, edge>(job, style);
    return style.keyed ? smooth_affine_avx2<false, false, true, edge>(job, style)
                       : smooth_affine_avx2<false, false, false, edge>(job, style);
}

} // namespace

// One loop per kind of tap. The edges' pair reads need two columns and two
// rows; a thinner sprite goes the portable way.
template <>
__attribute__((target("avx2"))) void
smooth_affine_run_at<simd_level::avx2>(const smooth_affine_job& job, const paint_style& style)
{
    if (!fits_lanes(job) || (job.edge && (job.w < 2 || job.h < 2)))
        return smooth_affine_run_at<simd_level::portable>(job, style);
    if (job.edge)
        return smooth_affine_kind<true>(job, style);
    smooth_affine_kind<false>(job, style);
}

#endif
