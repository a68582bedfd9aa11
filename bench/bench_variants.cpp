// Decoding the TGA variants paint programs write, with the opacity plane:
// tga_to_sprite16 against the plain decoder, stb_image + split, SDL_image +
// SDL_ConvertSurface (which keeps no opacity), and memcpy/memset of the same
// bytes. Stored bottom row first, as GIMP writes them:
//
//   32bit   the soft-edged disc as 32-bit BGRA, 256 and 2048 wide, raw and run-length
//   mapped  pixel art, 8-bit indices into a 24-bit map, 256 and 2048, raw and run-length;
//           and maps written whole, as paint programs write palettes: 16, 64, 200
//           and 256 entries holding the pixel art's 26 colours (art) or a
//           photo reduced to all of them (all)
//   16bit   the disc as A1R5G5B5 with its one alpha bit, 256, raw
//
// stb_image and SDL_image widen 5-bit channels their own way (v * 255 / 31 and
// v << 3), so on 16-bit data their share of exact pixels is reported instead of
// a check; stb_image also drops the alpha bit (its share of exact opacities).
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "bench_common.h"
#include "peers.h"
#include "pictures.h"
#include "plain.h"
#include "tga_level.h"
#include <velmora/tga.h>

namespace {

enum class variant { bgra32, mapped, argb16 };

struct variant_case {
    variant kind;
    bool run_length;
    std::uint16_t size; // width and height
    // mapped: a map of this many entries (0: the picture's colours only), and
    // all of them used, or the pixel art's
    std::uint16_t map_entries = 0;
    bool all_used = false;
};

std::string name_of(const variant_case& c)
{
    std::string name =
        std::string("tga_to_sprite16/") +
        (c.kind == variant::bgra32 ? "32bit" : c.kind == variant::mapped ? "mapped" : "16bit") +
        "/" + (c.run_length ? "rle" : "raw") + "/" + std::to_string(c.size);
    if (c.map_entries > 0)
        name += "/map" + std::to_string(c.map_entries) + (c.all_used ? "/all" : "/art");
    return name;
}

struct variant_input {
    bytes file;
    std::size_t data_offset; // where the pixel data begins, after the colour map
    std::size_t count;       // pixels
    tga_check_t plain_verdict;
    pixels expected;         // what the plain decoder makes of it
    bytes expected_alpha;
    std::size_t map_entries_used;
};

// How many map entries the pixels name (mapped files, from the data as stored).
std::size_t distinct_indices(const tga_info_t& info, bool run_length)
{
    bool named[256] = {};
    const std::uint8_t* p = info.data;
    const std::uint8_t* const end = info.data + info.data_size;
    while (p < end) {
        std::size_t indices = 1;
        if (run_length) {
            const std::uint8_t header = *p++;
            indices = header & 0x80 ? 1 : (header & 0x7Fu) + 1;
        }
        for (; indices > 0 && p < end; --indices)
            named[*p++] = true;
    }
    return static_cast<std::size_t>(std::count(std::begin(named), std::end(named), true));
}

// Written by tools/tga_writer as GIMP writes them: bottom row first, 8 alpha
// bits in a 32-bit descriptor, 1 in a 16-bit one, a map of 24-bit entries.
tga_variant layout_of(const variant_case& c)
{
    tga_variant v;
    v.type = static_cast<std::uint8_t>((c.kind == variant::mapped ? 1 : 2) + (c.run_length ? 8 : 0));
    v.bpp = c.kind == variant::bgra32 ? 32 : c.kind == variant::argb16 ? 16 : 8;
    v.alpha_bits = c.kind == variant::bgra32 ? 8 : c.kind == variant::argb16 ? 1 : 0;
    v.map_entry_bits = 24;
    v.map_entries = c.map_entries;
    return v;
}

rgba_picture picture_of(const variant_case& c)
{
    switch (c.kind) {
    case variant::bgra32: return soft_disc(c.size, 300 + c.size);
    case variant::mapped:
        return c.all_used ? indexed_photo(c.size, 600, c.map_entries) : pixel_art(c.size, 400);
    case variant::argb16: return soft_disc(c.size, 500 + c.size);
    }
    return {};
}

variant_input make_input(const variant_case& c)
{
    variant_input in;
    in.file = tga_encode(picture_of(c), layout_of(c));
    in.count = std::size_t{c.size} * c.size;
    in.expected.assign(in.count, 0);
    in.expected_alpha.assign(in.count, 0);
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    in.data_offset = static_cast<std::size_t>(info.data - in.file.data());
    sprite_t sprite{0, 0, 0, in.expected.data()};
    in.plain_verdict = plain::tga_to_sprite16(&info, &sprite, in.expected_alpha.data());
    in.map_entries_used = c.kind == variant::mapped ? distinct_indices(info, c.run_length) : 0;
    return in;
}

// Made on first use, so a filtered run makes only what it times.
const variant_input& input_for(const variant_case& c)
{
    static std::map<std::string, variant_input> made;
    const std::string key = name_of(c);
    auto found = made.find(key);
    if (found == made.end())
        found = made.emplace(key, make_input(c)).first;
    return found->second;
}

tga_check_t decode_with_velmora(const variant_input& in, pixel16* out, std::uint8_t* alpha)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, out};
    return tga_to_sprite16(&info, &sprite, alpha);
}

tga_check_t decode_with_plain(const variant_input& in, pixel16* out, std::uint8_t* alpha)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, out};
    return plain::tga_to_sprite16(&info, &sprite, alpha);
}

tga_check_t decode_at(simd_level level, const variant_input& in, pixel16* out,
                      std::uint8_t* alpha)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    sprite_t sprite{0, 0, 0, out};
    return tga_to_sprite16_at(level, &info, &sprite, alpha);
}

// The scalar loop a program would write for colour-mapped files of 24-bit
// entries stored bottom row first: the map packed once, then one lookup an
// index, each index checked against the map. False for a bad index or data
// that ends early.
bool decode_with_lookup_loop(const variant_input& in, pixel16* out, std::uint8_t* alpha)
{
    tga_info_t info{};
    tga_info(in.file.data(), in.file.size(), &info);
    pixel16 colour[256] = {};
    std::uint8_t opacity[256] = {};
    const unsigned first = info.map_first;
    const unsigned entries = std::min<unsigned>(info.map_length, 256 - std::min(first, 256u));
    for (unsigned k = 0; k < entries; ++k) {
        const std::uint8_t* e = info.map + 3 * k;
        colour[first + k] = rgb24_to_16(e[2], e[1], e[0]);
        opacity[first + k] = 255;
    }
    const std::size_t w = info.w, h = info.h;
    const std::uint8_t* p = info.data;
    const std::uint8_t* const end = info.data + info.data_size;
    if (info.type == 1) {
        if (info.data_size < w * h)
            return false;
        for (std::size_t row = 0; row < h; ++row) {
            pixel16* to = out + (h - 1 - row) * w;
            std::uint8_t* a = alpha + (h - 1 - row) * w;
            for (std::size_t x = 0; x < w; ++x) {
                const unsigned index = *p++;
                if (index - first >= entries)
                    return false;
                to[x] = colour[index];
                a[x] = opacity[index];
            }
        }
        return true;
    }
    std::size_t row = 0, x = 0;
    while (row < h) {
        if (p == end)
            return false;
        const std::uint8_t header = *p++;
        const bool run = header & 0x80;
        for (std::size_t k = (header & 0x7Fu) + 1; k > 0 && row < h; --k) {
            if (p == end)
                return false;
            const unsigned index = run ? *p : *p++;
            if (index - first >= entries)
                return false;
            out[(h - 1 - row) * w + x] = colour[index];
            alpha[(h - 1 - row) * w + x] = opacity[index];
            if (++x == w) {
                x = 0;
                ++row;
            }
        }
        p += run ? 1 : 0;
    }
    return true;
}

void bench_lookup_loop(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    pixels out(in.count);
    bytes alpha(in.count);
    if (!decode_with_lookup_loop(in, out.data(), alpha.data()) || out != in.expected ||
        alpha != in.expected_alpha)
        return fail_check(state, name_of(c) + ": the lookup loop differs from the plain decoder");
    for (auto _ : state) {
        decode_with_lookup_loop(in, out.data(), alpha.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

// The decoder at a lower kernel level than this CPU's best, side by side.
void bench_level(benchmark::State& state, variant_case c, simd_level level)
{
    const variant_input& in = input_for(c);
    if (!level_runs_here(level))
        return state.SkipWithError("this CPU lacks the level");
    pixels out(in.count);
    bytes alpha(in.count);
    if (decode_at(level, in, out.data(), alpha.data()) != tga_ok || out != in.expected ||
        alpha != in.expected_alpha)
        return fail_check(state, name_of(c) + ": a level differs from the plain decoder");
    for (auto _ : state) {
        decode_at(level, in, out.data(), alpha.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_velmora(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    if (in.plain_verdict != tga_ok)
        return fail_check(state, name_of(c) + ": the plain decoder refuses the file");
    if (c.map_entries > 0 && in.map_entries_used != (c.all_used ? c.map_entries : 26u))
        return fail_check(state, name_of(c) + ": the picture names other map entries than meant");
    pixels out(in.count);
    bytes alpha(in.count);
    if (decode_with_velmora(in, out.data(), alpha.data()) != tga_ok || out != in.expected ||
        alpha != in.expected_alpha)
        return fail_check(state, name_of(c) + ": velmora differs from the plain decoder");
    for (auto _ : state) {
        decode_with_velmora(in, out.data(), alpha.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_plain(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    pixels out(in.count);
    bytes alpha(in.count);
    for (auto _ : state) {
        decode_with_plain(in, out.data(), alpha.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

void bench_stb(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    pixels out(in.count);
    bytes alpha(in.count);
    if (!stb_decode_565_alpha(in.file, out.data(), alpha.data()))
        return fail_check(state, name_of(c) + ": stb_image refuses the file");
    if (c.kind == variant::argb16) {
        report_exact_share(state, same_count(out, in.expected), in.count);
        state.counters["alpha_share"] =
            double(same_count(alpha, in.expected_alpha)) / double(in.count);
    } else if (out != in.expected || alpha != in.expected_alpha) {
        return fail_check(state, name_of(c) + ": stb_image + split differs from the plain decoder");
    }
    for (auto _ : state) {
        stb_decode_565_alpha(in.file, out.data(), alpha.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(alpha.data());
        benchmark::ClobberMemory();
    }
    count_pixels(state, in.count);
}

// Colour only: SDL_ConvertSurface to RGB565 leaves no opacity anywhere.
void bench_sdl_image(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    SDL_Surface* format = make_565_format_surface();
    SDL_Surface* first = sdl_image_decode_565(in.file, format->format);
    const pixels got = first != nullptr ? surface_pixels(first) : pixels{};
    SDL_FreeSurface(first);
    if (got.size() != in.count) {
        SDL_FreeSurface(format);
        return fail_check(state, name_of(c) + ": SDL_image refuses the file");
    }
    if (c.kind == variant::argb16) {
        report_exact_share(state, same_count(got, in.expected), in.count);
    } else if (got != in.expected) {
        SDL_FreeSurface(format);
        return fail_check(state, name_of(c) + ": SDL_image + SDL_ConvertSurface differs from the plain decoder");
    }
    time_sdl_image_565(state, in.file, format->format, in.count);
    SDL_FreeSurface(format);
}

void bench_memcpy_input(benchmark::State& state, variant_case c)
{
    const variant_input& in = input_for(c);
    time_memcpy_input(state, in.file, in.data_offset, in.count);
}

// Pixels and opacities.
void bench_memset_output(benchmark::State& state, variant_case c)
{
    time_memset_output(state, input_for(c).count, true);
}

void register_case(const variant_case& c)
{
    const std::string name = name_of(c);
    benchmark::RegisterBenchmark((name + "/velmora").c_str(), bench_velmora, c);
    benchmark::RegisterBenchmark((name + "/plain").c_str(), bench_plain, c);
    benchmark::RegisterBenchmark((name + "/stb_image").c_str(), bench_stb, c);
    benchmark::RegisterBenchmark((name + "/sdl_image").c_str(), bench_sdl_image, c);
    benchmark::RegisterBenchmark((name + "/memcpy_input").c_str(), bench_memcpy_input, c);
    benchmark::RegisterBenchmark((name + "/memset_output").c_str(), bench_memset_output, c);
    // 32-bit pictures at the lower x86 levels too: past the caches they take
    // a path of their own at each.
    if (c.kind == variant::bgra32)
        for (const auto& [level, label] : {std::pair{simd_level::sse2, "sse2"},
                                           std::pair{simd_level::ssse3, "ssse3"}})
            benchmark::RegisterBenchmark((name + "/velmora_" + label).c_str(), bench_level, c, level);
    if (c.kind != variant::mapped)
        return;
    benchmark::RegisterBenchmark((name + "/lookup_loop").c_str(), bench_lookup_loop, c);
    for (const auto& [level, label] : {std::pair{simd_level::portable, "portable"},
                                       std::pair{simd_level::sse2, "sse2"},
                                       std::pair{simd_level::ssse3, "ssse3"}})
        benchmark::RegisterBenchmark((name + "/velmora_" + label).c_str(), bench_level, c, level);
}

} // namespace

void register_variant_decoding()
{
    for (variant kind : {variant::bgra32, variant::mapped})
        for (bool run_length : {false, true})
            for (std::uint16_t size : {std::uint16_t{256}, std::uint16_t{2048}})
                register_case({kind, run_length, size});
    register_case({variant::argb16, false, 256});
    // Whole palettes: every size of map the decoder takes another path for.
    for (bool run_length : {false, true})
        for (std::uint16_t size : {std::uint16_t{256}, std::uint16_t{2048}})
            for (std::uint16_t entries : {16, 64, 200, 256})
                for (bool all_used : {false, true})
                    if (all_used || entries > 26)
                        register_case({variant::mapped, run_length, size, entries, all_used});
}
