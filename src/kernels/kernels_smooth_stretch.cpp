// The smooth stretch at the portable level, on every architecture (NEON
// builds take it too).
#include "kernels_levels.h"
#include "kernels_smooth_loops.h"

namespace {

using namespace smooth_loops;

struct portable_t {};
struct no_plan {};

no_plan column_plan(portable_t, const smooth_stretch_job&)
{
    return {};
}

void vertical_opaque(portable_t, const pixel16* top, const pixel16* bottom, std::size_t n,
                     unsigned v0, unsigned v1, opaque_sums& s)
{
    vertical_opaque_portable(top, bottom, n, v0, v1, s.r, s.g, s.b);
}

void horizontal_opaque(portable_t, no_plan, const opaque_sums& s, const smooth_column* columns,
                       std::size_t n, pixel16* to)
{
    horizontal_opaque_portable(s, columns, n, to);
}

void vertical_blended(portable_t, const pixel16* top, const pixel16* bottom,
                      const std::uint8_t* alpha_top, const std::uint8_t* alpha_bottom,
                      std::size_t n, unsigned v0, unsigned v1, const paint_style& style,
                      blended_sums& s)
{
    vertical_blended_portable(top, bottom, alpha_top, alpha_bottom, n, v0, v1, style, s.w, s.r,
                              s.g, s.b);
}

void horizontal_blended(portable_t, no_plan, const blended_sums& s, const smooth_column* columns,
                        std::size_t n, pixel16* to)
{
    horizontal_blended_portable(s, columns, n, to);
}

} // namespace

template <>
void smooth_stretch_rows_at<simd_level::portable>(const smooth_stretch_job& job,
                                                  const paint_style& style)
{
    smooth_stretch_with(portable_t{}, job, style);
}
