// Byte-swapped output for SPI and 8080 panels: sprite_area_copy_be_16 at each
// kernel level this machine has, against the plain loop and memcpy of the same
// bytes, one row at a time: whole 240 x 240 and 320 x 240 panels, and a 64 x 64
// area of a 512 x 512 frame (a dirty rectangle sent on its own).
#include <cstring>
#include <iterator>
#include <string>

#include "bench_common.h"
#include "kernels/kernels.h"
#include "plain.h"
#include <velmora/sprite.h>

namespace {

struct panel_case {
    const char* name;
    std::uint16_t frame_w, frame_h;
    area_t area;
};

constexpr panel_case cases[] = {
    {"240x240", 240, 240, {0, 0, 240, 240}},
    {"320x240", 320, 240, {0, 0, 320, 240}},
    {"64x64_of_512x512", 512, 512, {at_x, at_y, 64, 64}},
};

std::size_t area_pixels(const panel_case& c)
{
    return std::size_t{c.area.w} * c.area.h;
}

struct panel_frame {
    pixels frame;
    sprite_t sprite;
    bytes out;
};

// One frame and one output buffer per case, shared by every contender: at
// these sizes where the rows fall relative to each other (4 KiB aliasing
// between loads and earlier stores) moves a run by a third, so each
// contender gets the same addresses.
panel_frame& frame_of(const panel_case& c)
{
    static panel_frame frames[std::size(cases)];
    std::size_t k = 0;
    while (std::strcmp(cases[k].name, c.name) != 0) // the benchmark holds a copy of the case
        ++k;
    panel_frame& f = frames[k];
    if (f.frame.empty()) {
        f.frame = random_pixels(std::size_t{c.frame_w} * c.frame_h, 7);
        f.sprite = {c.frame_w, c.frame_h, 16, f.frame.data()};
    }
    f.out.assign(2 * area_pixels(c), 0);
    return f;
}

bytes expected_bytes(const panel_case& c)
{
    panel_frame& f = frame_of(c);
    plain::sprite_area_copy_be_16(f.out.data(), &f.sprite, &c.area);
    return f.out;
}

// The library's entry (best level) or the kernel at one level; the tests hold
// each level to the plain loop, and so does the check before timing.
void copy_at(panel_frame& f, const panel_case& c, int level)
{
    if (level < 0) {
        sprite_area_copy_be_16(f.out.data(), &f.sprite, &c.area);
        return;
    }
    const std::size_t stride = f.sprite.w;
    copy_be_rows(static_cast<simd_level>(level), f.out.data(),
                 f.sprite.pixels + c.area.y * stride + c.area.x, stride, c.area.w, c.area.h);
}

void bench_velmora(benchmark::State& state, const panel_case& c, int level)
{
    const bytes expected = expected_bytes(c);
    panel_frame& f = frame_of(c);
    copy_at(f, c, level);
    if (f.out != expected)
        return fail_check(state, "velmora differs from the plain loop");
    for (auto _ : state) {
        copy_at(f, c, level);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_pixels(c));
}

void bench_plain(benchmark::State& state, const panel_case& c)
{
    panel_frame& f = frame_of(c);
    for (auto _ : state) {
        plain::sprite_area_copy_be_16(f.out.data(), &f.sprite, &c.area);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_pixels(c));
}

// The floor: the same bytes moved unswapped, one memcpy per row.
void bench_memcpy_rows(benchmark::State& state, const panel_case& c)
{
    panel_frame& f = frame_of(c);
    std::size_t row_bytes = c.area.w * sizeof(pixel16);
    benchmark::DoNotOptimize(row_bytes); // keep the library's memcpy, not an inline copy
    for (auto _ : state) {
        for (std::size_t j = 0; j < c.area.h; ++j)
            std::memcpy(f.out.data() + j * row_bytes,
                        f.frame.data() + (c.area.y + j) * c.frame_w + c.area.x, row_bytes);
        benchmark::ClobberMemory();
    }
    count_pixels(state, area_pixels(c));
}

} // namespace

void register_panel_output()
{
    const std::pair<simd_level, const char*> levels[] = {
        {simd_level::portable, "velmora_portable"}, {simd_level::sse2, "velmora_sse2"},
        {simd_level::ssse3, "velmora_ssse3"},       {simd_level::avx2, "velmora_avx2"},
        {simd_level::neon, "velmora_neon"}};
    for (const panel_case& c : cases) {
        const std::string group = std::string("panel/sprite_area_copy_be_16/") + c.name + "/";
        benchmark::RegisterBenchmark((group + "velmora").c_str(), bench_velmora, c, -1);
        for (const auto& [level, name] : levels) {
            if (level_runs_here(level) && level != best_simd_level())
                benchmark::RegisterBenchmark((group + name).c_str(), bench_velmora, c,
                                             static_cast<int>(level));
        }
        benchmark::RegisterBenchmark((group + "plain").c_str(), bench_plain, c);
        benchmark::RegisterBenchmark((group + "memcpy_rows").c_str(), bench_memcpy_rows, c);
    }
}
