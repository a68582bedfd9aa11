// What the benchmark's themes share: the check that fails a run, the pixel
// count behind every rate, and the drawing target all blits draw into.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <velmora/draw.h>

struct SDL_PixelFormat;

using bytes = std::vector<std::uint8_t>;
using pixels = std::vector<pixel16>;

// Skips the benchmark with an error and makes the program exit with status 1.
void fail_check(benchmark::State& state, const std::string& why);

// Rates are pixels per second: `per_iteration` pixels each time round.
void count_pixels(benchmark::State& state, std::size_t per_iteration);

// How many elements of a and b, of equal size, are equal.
template <typename T>
std::size_t same_count(const std::vector<T>& a, const std::vector<T>& b)
{
    std::size_t same = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        same += a[i] == b[i];
    return same;
}

// Reports, as the counter exact_share, the share of the `compared` pixels at
// which an approximating contender's result equals the expected one.
void report_exact_share(benchmark::State& state, std::size_t same, std::size_t compared);

// The floors for any decoder: moving the file's pixel bytes (after
// `data_offset`) once; writing `count` pixels and, with `with_alpha`, as many
// opacities once.
void time_memcpy_input(benchmark::State& state, const bytes& file, std::size_t data_offset,
                       std::size_t count);
void time_memset_output(benchmark::State& state, std::size_t count, bool with_alpha);

// The timed loop of SDL_image + SDL_ConvertSurface to `format_565`, once the
// caller has checked the result.
void time_sdl_image_565(benchmark::State& state, const bytes& file,
                        const SDL_PixelFormat* format_565, std::size_t count);

// Blits draw into a 512 x 512 sprite at a position that suits no alignment in particular.
constexpr std::uint16_t target_size = 512, at_x = 100, at_y = 60;
constexpr std::size_t target_pixels = std::size_t{target_size} * target_size;

pixels random_pixels(std::size_t n, unsigned seed);

// Each theme registers its benchmarks, named operation/case.../contender.
void register_drawing();
void register_decoding();
void register_transparent_blits();
void register_variant_decoding();
void register_panel_output();
void register_canvas();
