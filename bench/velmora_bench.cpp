// velmora against the plain loops, the libraries a program would pick instead,
// and memcpy/memset of the same bytes, all in one binary and one run.
//
// Every contender first does its job once on fresh data and must give the plain
// loop's bytes (a contender that approximates by nature, like SDL's blends,
// pixman's rounding or stb_image's widening of 5-bit channels, reports its share
// of exact pixels instead); only then is it timed. A failed check skips that
// benchmark with an error and makes the program exit with status 1.
//
// Names are operation/case.../contender; rates are pixels per second
// (items_per_second). bench/report.py turns the JSON into ratios and a chart.
// The themes live beside this file: bench_draw.cpp, bench_decode.cpp (24-bit),
// bench_transparent.cpp (colour key and alpha plane), bench_variants.cpp
// (every other TGA variant, with its opacity).
#include <cstdio>
#include <random>

#include "bench_common.h"

namespace {

bool a_check_failed = false;

} // namespace

void fail_check(benchmark::State& state, const std::string& why)
{
    a_check_failed = true;
    std::fprintf(stderr, "velmora_bench: %s\n", why.c_str());
    state.SkipWithError(why.c_str());
}

void count_pixels(benchmark::State& state, std::size_t per_iteration)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * per_iteration));
}

void report_exact_share(benchmark::State& state, std::size_t same, std::size_t compared)
{
    state.counters["exact_share"] = compared ? double(same) / double(compared) : 1.0;
}

pixels random_pixels(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    pixels out(n);
    for (auto& p : out)
        p = static_cast<pixel16>(rng());
    return out;
}

int main(int argc, char** argv)
{
    register_drawing();
    register_transparent_blits();
    register_decoding();
    register_variant_decoding();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (a_check_failed) {
        std::fprintf(stderr, "velmora_bench: a contender did not give the plain loop's bytes\n");
        return 1;
    }
    return 0;
}
