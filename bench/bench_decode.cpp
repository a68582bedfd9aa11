// Decoding 24-bit TGA: tga24_to_sprite16 against the plain decoder, stb_image
// + pack, SDL_image + SDL_ConvertSurface, and memcpy/memset of the same bytes,
// on photo-like and flat pictures, raw and run-length, both row orders.
#include <SDL.h>

#include <cstring>
#include <map>
#include <string>

#include "bench_common.h"
#include "peers.h"
#include "pictures.h"
#include "plain.h"
#include <velmora/tga.h>

namespace {

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
    time_sdl_image_565(state, in.file, format->format, in.count);
    SDL_FreeSurface(format);
}

void bench_decode_memcpy_input(benchmark::State& state, decode_case c)
{
    const decode_input& in = input_for(c);
    time_memcpy_input(state, in.file, in.data_offset, in.count);
}

void bench_decode_memset_output(benchmark::State& state, decode_case c)
{
    time_memset_output(state, input_for(c).count, false);
}

} // namespace

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
