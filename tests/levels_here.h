// Every kernel level this build and this CPU can run: the tests hold each to
// the plain loops.
#pragma once

#include <vector>

#include "kernels/kernels.h"

inline std::vector<simd_level> levels_here()
{
    std::vector<simd_level> out;
    for (simd_level l : {simd_level::portable, simd_level::sse2, simd_level::ssse3,
                         simd_level::avx2, simd_level::neon}) {
        if (level_runs_here(l))
            out.push_back(l);
    }
    return out;
}
