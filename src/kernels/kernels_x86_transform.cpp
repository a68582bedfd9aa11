// Turned sprites at AVX2: sixteen samples a turn, their offsets computed in
// 32-bit lanes and their pixels gathered as 32-bit words at 16-bit steps, the
// low half kept. Such a word reaches one pixel past the sample, so the one
// sample that has no pixel after it (the last of `from`) is not gathered but
// taken from a register. Runs whose positions or offsets do not fit 31 bits go
// the portable way.
#include "kernels_levels.h"

#if VELMORA_X86_SIMD

#include <immintrin.h>

#include <cstdint>

namespace {

constexpr std::int64_t lane_limit = std::int64_t{1} << 31;

bool fits_lanes(const pick_affine_job& job)
{
    if (job.n == 0 || job.count >= static_cast<std::size_t>(lane_limit))
        return false;
    const auto last = static_cast<std::int64_t>(job.n - 1);
    const std::int64_t u_end = job.u + last * job.du;
    const std::int64_t v_end = job.v + last * job.dv;
    return job.u < lane_limit && job.v < lane_limit && u_end >= 0 && u_end < lane_limit &&
           v_end >= 0 && v_end < lane_limit;
}

// The low 32 bits: lanes stepped by wrapping adds stay exact where the true
// value fits, as every position inside the run does.
int low32(std::int64_t x)
{
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x)));
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
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i u = _mm256_add_epi32(_mm256_set1_epi32(low32(job.u)),
                                 _mm256_mullo_epi32(lane, _mm256_set1_epi32(low32(job.du))));
    __m256i v = _mm256_add_epi32(_mm256_set1_epi32(low32(job.v)),
                                 _mm256_mullo_epi32(lane, _mm256_set1_epi32(low32(job.dv))));
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

#endif
