// The byte-swapped copy for panels at the NEON level: vrev16q_u8 turns the two
// bytes of every pixel round, an instruction 32-bit ARM has as well. Each
// vector is loaded before it is stored and the tails go pixel by pixel, so an
// in-place swap (out on the source's own bytes) stays exact.
#include "kernels_levels.h"

#if VELMORA_NEON

#include "kernels_loops.h"
#include "kernels_neon.h"  // last: on 32-bit ARM what follows is built for NEON

namespace {

using namespace kernel_loops;

struct neon_t {};

inline uint8x16_t load8(const pixel16* from)
{
    return vld1q_u8(reinterpret_cast<const std::uint8_t*>(from));
}

void copy_be_span(neon_t, std::uint8_t* out, const pixel16* from, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const uint8x16_t a = load8(from + i);
        const uint8x16_t b = load8(from + i + 8);
        const uint8x16_t c = load8(from + i + 16);
        const uint8x16_t d = load8(from + i + 24);
        vst1q_u8(out + 2 * i, vrev16q_u8(a));
        vst1q_u8(out + 2 * i + 16, vrev16q_u8(b));
        vst1q_u8(out + 2 * i + 32, vrev16q_u8(c));
        vst1q_u8(out + 2 * i + 48, vrev16q_u8(d));
    }
    for (; i + 8 <= n; i += 8)
        vst1q_u8(out + 2 * i, vrev16q_u8(load8(from + i)));
    copy_be_span_portable(out + 2 * i, from + i, n - i);
}

} // namespace

template <>
void copy_be_rows_at<simd_level::neon>(std::uint8_t* out, const pixel16* from,
                                       std::size_t from_stride, std::size_t w, std::size_t h)
{
    copy_be_rows_with(neon_t{}, out, from, from_stride, w, h);
}

#endif
