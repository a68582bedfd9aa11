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
#include <cstring>
#include <random>

#include "bench_common.h"
#include "peers.h"

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

void time_memcpy_input(benchmark::State& state, const bytes& file, std::size_t data_offset,
                       std::size_t count)
{
    const std::size_t n = file.size() - data_offset;
    bytes out(n);
    for (auto _ : state) {
        std::memcpy(out.data(), file.data() + data_offset, n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, count);
}

void time_memset_output(benchmark::State& state, std::size_t count, bool with_alpha)
{
    pixels out(count);
    bytes alpha(with_alpha ? count : 0);
    for (auto _ : state) {
        std::memset(out.data(), 0x5A, count * sizeof(pixel16));
        if (with_alpha)
            std::memset(alpha.data(), 0xFF, count);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, count);
}

void time_sdl_image_565(benchmark::State& state, const bytes& file,
                        const SDL_PixelFormat* format_565, std::size_t count)
{
    for (auto _ : state) {
        SDL_Surface* s = sdl_image_decode_565(file, format_565);
        benchmark::DoNotOptimize(s->pixels);
        SDL_FreeSurface(s);
    }
    count_pixels(state, count);
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
    register_canvas();
    register_decoding();
    register_variant_decoding();
    register_panel_output();
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
