// velmora against the plain loops, the libraries a program would pick instead,
// and memcpy/memset of the same bytes, all in one binary and one run.
//
// Every contender first does its job once on fresh data and must give the plain
// loop's bytes (SDL's blend excepted: it approximates, so its share of exact
// pixels is reported instead); only then is it timed. A failed check skips that
// benchmark with an error and makes the program exit with status 1.
//
// Names are operation/case.../contender; rates are pixels per second
// (items_per_second). bench/report.py turns the JSON into ratios and a chart.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "peers.h"
#include "pictures.h"
#include "plain.h"
#include "sprite.h"
#include "tga.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using pixels = std::vector<pixel16>;

bool a_check_failed = false;

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

// ---------------------------------------------------------------- decoding

struct decode_case {
    content kind;
    bool run_length;
    bool top_down;
    std::uint16_t size; // width and height
};

struct decode_input {
    bytes file;
    std::size_t data_offset; // where the pixel data begins
    std::size_t count;       // pixels
    pixels expected;         // what the plain decoder makes of it
};

std::string name_of(const decode_case& c)
{
    return std::string("decode/") + (c.run_length ? "rle" : "raw") + "/" +
           (c.kind == content::photo ? "photo" : "flat") + "/" + std::to_string(c.size) + "/" +
           (c.top_down ? "top_down" : "bottom_up");
}

decode_input make_input(const decode_case& c)
{
    const unsigned seed = (c.kind == content::photo ? 100 : 200) + c.size;
    tga_layout layout;
    layout.run_length = c.run_length;
    layout.top_down = c.top_down;
    decode_input in;
    in.file = tga_encode(make_content(c.kind, c.size, c.size, seed), layout);
    in.data_offset = tga_header_size;
    in.count = std::size_t{c.size} * c.size;
    in.expected.assign(in.count, 0);
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, in.expected.data()};
    plain::tga24_to_sprite16(&info, &sprite);
    return in;
}

// Made on first use, so a filtered run makes only what it times.
const decode_input& input_for(const decode_case& c)
{
    static std::map<std::string, decode_input> made;
    const std::string key = name_of(c);
    auto found = made.find(key);
    if (found == made.end())
        found = made.emplace(key, make_input(c)).first;
    return found->second;
}

void decode_with_velmora(const decode_input& in, pixel16* out)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, out};
    tga24_to_sprite16(&info, &sprite);
}

void decode_with_plain(const decode_input& in, pixel16* out)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, out};
    plain::tga24_to_sprite16(&info, &sprite);
}

void bench_decode_velmora(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    pixels out(in.count);
    decode_with_velmora(in, out.data());
    if (out != in.expected)
        return fail_check(state, "velmora differs from the plain decoder");
    for (auto _ : state) {
        decode_with_velmora(in, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_decode_plain(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    pixels out(in.count);
    for (auto _ : state) {
        decode_with_plain(in, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_decode_stb(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    pixels out(in.count);
    if (!stb_decode_565(in.file, out.data()) || out != in.expected)
        return fail_check(state, "stb_image + pack differs from the plain decoder");
    for (auto _ : state) {
        stb_decode_565(in.file, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_decode_sdl_image(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    SDL_Surface* format = make_565_format_surface();
    SDL_Surface* first = sdl_image_decode_565(in.file, format->format);
    const bool same = first != nullptr && surface_pixels(first) == in.expected;
    SDL_FreeSurface(first);
    if (!same) {
        SDL_FreeSurface(format);
        return fail_check(state, "SDL_image + SDL_ConvertSurface differs from the plain decoder");
    }
    for (auto _ : state) {
        SDL_Surface* s = sdl_image_decode_565(in.file, format->format);
        benchmark::DoNotOptimize(s->pixels);
        SDL_FreeSurface(s);
    }
    SDL_FreeSurface(format);
    count_pixels(state, in.count);
}

// The floor for any decoder: moving the file's pixel bytes once.
void bench_decode_memcpy_input(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    const std::size_t n = in.file.size() - in.data_offset;
    bytes out(n);
    for (auto _ : state) {
        std::memcpy(out.data(), in.file.data() + in.data_offset, n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

// The floor for any decoder: writing the output once.
void bench_decode_memset_output(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    pixels out(in.count);
    for (auto _ : state) {
        std::memset(out.data(), 0x5A, in.count * sizeof(pixel16));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

// ---------------------------------------------------------------- drawing

// A 256 x 256 rectangle drawn into a 512 x 512 sprite at a position that suits
// no alignment in particular.
constexpr std::uint16_t target_size = 512, part_size = 256, at_x = 100, at_y = 60;
constexpr std::size_t part_pixels = std::size_t{part_size} * part_size;

// SDL's per-surface alpha is opacity; velmora's weight is the destination's share.
constexpr std::uint8_t sdl_alpha = 77;
constexpr std::uint8_t velmora_weight = 255 - sdl_alpha;

pixels random_pixels(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    pixels out(n);
    for (auto& p : out)
        p = static_cast<pixel16>(rng());
    return out;
}

struct drawing {
    pixels target, part, big_source;
    sprite_t target_sprite, part_sprite, big_source_sprite;
};

// Fresh, seeded pixels every time, so each check starts from the same state.
void reset(drawing& d)
{
    d.target = random_pixels(std::size_t{target_size} * target_size, 1);
    d.part = random_pixels(part_pixels, 2);
    d.big_source = random_pixels(std::size_t{target_size} * target_size, 3);
    d.target_sprite = {target_size, target_size, 16, d.target.data()};
    d.part_sprite = {part_size, part_size, 16, d.part.data()};
    d.big_source_sprite = {target_size, target_size, 16, d.big_source.data()};
}

const area_t source_area{128, 128, part_size, part_size};
const area_t fill_area{at_x, at_y, part_size, part_size};
constexpr pixel16 fill_value = 0x39E7;

enum class draw_op { blit, area_blit, fill, blend };

void draw_velmora(drawing& d, draw_op op)
{
    switch (op) {
    case draw_op::blit: sprite_blit_16(&d.target_sprite, &d.part_sprite, at_x, at_y); break;
    case draw_op::area_blit:
        sprite_area_blit_16(&d.target_sprite, &d.big_source_sprite, &source_area, at_x, at_y);
        break;
    case draw_op::fill: area_fill_16(&d.target_sprite, fill_value, &fill_area); break;
    case draw_op::blend:
        sprite_blit_alpha_16(&d.target_sprite, &d.part_sprite, at_x, at_y, velmora_weight);
        break;
    }
}

void draw_plain(drawing& d, draw_op op, std::uint8_t weight = velmora_weight)
{
    switch (op) {
    case draw_op::blit: plain::sprite_blit_16(&d.target_sprite, &d.part_sprite, at_x, at_y); break;
    case draw_op::area_blit:
        plain::sprite_area_blit_16(&d.target_sprite, &d.big_source_sprite, &source_area, at_x, at_y);
        break;
    case draw_op::fill: plain::area_fill_16(&d.target_sprite, fill_value, &fill_area); break;
    case draw_op::blend:
        plain::sprite_blit_alpha_16(&d.target_sprite, &d.part_sprite, at_x, at_y, weight);
        break;
    }
}

pixels expected_drawing(draw_op op, std::uint8_t weight = velmora_weight)
{
    drawing d;
    reset(d);
    draw_plain(d, op, weight);
    return d.target;
}

void bench_draw_velmora(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    draw_velmora(d, op);
    if (d.target != expected_drawing(op))
        return fail_check(state, "velmora differs from the plain loop");
    for (auto _ : state) {
        draw_velmora(d, op);
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

void bench_draw_plain(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    for (auto _ : state) {
        draw_plain(d, op);
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

// SDL 1.2 on software surfaces over the same pixel memory. Blits and fills
// clip to the target, which holds the rectangle whole, so no pixel is lost.
struct sdl_drawing {
    SDL_Surface* target;
    SDL_Surface* part;
    SDL_Surface* big_source;
};

sdl_drawing wrap(drawing& d)
{
    return {surface_over(d.target_sprite), surface_over(d.part_sprite),
            surface_over(d.big_source_sprite)};
}

void release(sdl_drawing& s)
{
    SDL_FreeSurface(s.big_source);
    SDL_FreeSurface(s.part);
    SDL_FreeSurface(s.target);
}

void draw_sdl(sdl_drawing& s, draw_op op)
{
    // SDL writes the clipped rectangles back, so they are made afresh each time.
    SDL_Rect at{at_x, at_y, part_size, part_size};
    SDL_Rect area{static_cast<Sint16>(source_area.x), static_cast<Sint16>(source_area.y),
                  source_area.w, source_area.h};
    switch (op) {
    case draw_op::blit:
    case draw_op::blend: SDL_BlitSurface(s.part, nullptr, s.target, &at); break;
    case draw_op::area_blit: SDL_BlitSurface(s.big_source, &area, s.target, &at); break;
    case draw_op::fill: SDL_FillRect(s.target, &at, fill_value); break;
    }
}

void bench_draw_sdl(benchmark::State& state, draw_op op, int alpha)
{
    drawing d;
    reset(d);
    sdl_drawing s = wrap(d);
    if (op == draw_op::blend)
        SDL_SetAlpha(s.part, SDL_SRCALPHA, static_cast<Uint8>(alpha));
    draw_sdl(s, op);
    const pixels expected = expected_drawing(op, static_cast<std::uint8_t>(255 - alpha));
    if (op == draw_op::blend) {
        std::size_t same = 0;
        for (std::size_t i = 0; i < expected.size(); ++i)
            same += d.target[i] == expected[i];
        const std::size_t outside = expected.size() - part_pixels; // untouched, equal anyway
        state.counters["exact_share"] = double(same - outside) / double(part_pixels);
    } else if (d.target != expected) {
        release(s);
        return fail_check(state, "SDL differs from the plain loop");
    }
    for (auto _ : state) {
        draw_sdl(s, op);
        benchmark::ClobberMemory();
    }
    release(s);
    count_pixels(state, part_pixels);
}

// The floor for a copy or a fill: memcpy or memset of each row's bytes.
void bench_draw_limit(benchmark::State& state, draw_op op)
{
    drawing d;
    reset(d);
    // Hidden from the compiler, which would otherwise expand a constant-size
    // memcpy inline (rep movs) instead of calling the C library's best one.
    std::size_t row_bytes = part_size * sizeof(pixel16);
    benchmark::DoNotOptimize(row_bytes);
    for (auto _ : state) {
        for (std::size_t j = 0; j < part_size; ++j) {
            pixel16* to = d.target.data() + (at_y + j) * target_size + at_x;
            if (op == draw_op::fill)
                std::memset(to, fill_value & 0xFF, row_bytes);
            else
                std::memcpy(to, d.part.data() + j * part_size, row_bytes);
        }
        benchmark::ClobberMemory();
    }
    count_pixels(state, part_pixels);
}

// ---------------------------------------------------------------- registration

void register_decoding()
{
    for (bool run_length : {false, true}) {
        for (content kind : {content::photo, content::flat}) {
            for (std::uint16_t size : {std::uint16_t{256}, std::uint16_t{2048}}) {
                for (bool top_down : {false, true}) {
                    const decode_case c{kind, run_length, top_down, size};
                    const std::string name = name_of(c);
                    benchmark::RegisterBenchmark((name + "/velmora").c_str(), bench_decode_velmora, c);
                    benchmark::RegisterBenchmark((name + "/plain").c_str(), bench_decode_plain, c);
                    benchmark::RegisterBenchmark((name + "/stb_image").c_str(), bench_decode_stb, c);
                    benchmark::RegisterBenchmark((name + "/sdl_image").c_str(), bench_decode_sdl_image, c);
                    benchmark::RegisterBenchmark((name + "/memcpy_input").c_str(), bench_decode_memcpy_input, c);
                    benchmark::RegisterBenchmark((name + "/memset_output").c_str(), bench_decode_memset_output, c);
                }
            }
        }
    }
}

void register_drawing()
{
    benchmark::RegisterBenchmark("copy/sprite_blit_16/velmora", bench_draw_velmora, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/plain", bench_draw_plain, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/sdl_blitsurface", bench_draw_sdl, draw_op::blit, 0);
    benchmark::RegisterBenchmark("copy/sprite_blit_16/memcpy_rows", bench_draw_limit, draw_op::blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/velmora", bench_draw_velmora, draw_op::area_blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/plain", bench_draw_plain, draw_op::area_blit);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/sdl_blitsurface", bench_draw_sdl, draw_op::area_blit, 0);
    benchmark::RegisterBenchmark("copy/sprite_area_blit_16/memcpy_rows", bench_draw_limit, draw_op::area_blit);
    benchmark::RegisterBenchmark("fill/area_fill_16/velmora", bench_draw_velmora, draw_op::fill);
    benchmark::RegisterBenchmark("fill/area_fill_16/plain", bench_draw_plain, draw_op::fill);
    benchmark::RegisterBenchmark("fill/area_fill_16/sdl_fillrect", bench_draw_sdl, draw_op::fill, 0);
    benchmark::RegisterBenchmark("fill/area_fill_16/memset_rows", bench_draw_limit, draw_op::fill);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/velmora", bench_draw_velmora, draw_op::blend);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/plain", bench_draw_plain, draw_op::blend);
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/sdl_alpha_77", bench_draw_sdl, draw_op::blend,
                                 int{sdl_alpha});
    benchmark::RegisterBenchmark("blend/sprite_blit_alpha_16/sdl_alpha_128", bench_draw_sdl, draw_op::blend, 128);
}

} // namespace

int main(int argc, char** argv)
{
    register_drawing();
    register_decoding();
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
