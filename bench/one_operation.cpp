// One drawing or decoding operation on a 256 x 256 picture, once, for counting
// the instructions it executes under an emulator (bench/aarch64_counts.sh).
//
//   one_operation make OPERATION INPUT              writes the operation's input
//   one_operation run|idle|check OPERATION CONTENDER INPUT
//
// OPERATION  fill        area_fill_16 over the whole sprite
//            fill_area   area_fill_16 over a 128 x 128 area in the middle of it
//            blend       sprite_blit_alpha_16, weight 178, a photo over a photo
//            raw, rle    24-bit decoding of the photo-like picture
//            raw32, rle32  32-bit decoding with opacities: a soft-edged disc
//            mapped, mapped_rle  8-bit indices into a 24-bit map: pixel art of
//                        at most 32 colours
//            mapped256, mapped256_rle  the pixel art in a map of 256 entries
//            mapped256_all  a photo reduced to 256 colours, all in the map
//            raw16       16-bit A1R5G5B5 with its alpha bit: the disc
//            key         sprite_blit_key_16 of the disc, keyed where transparent
//            a8          sprite_blit_a8_16 of the disc and its opacities
//            a8_glow     sprite_blit_a8_16 of a glow: every opacity partial
//            (the pictures of the x86 benchmarks, bench/pictures.h; files
//            stored bottom row first, as paint programs mostly write them)
// CONTENDER  velmora (the library linked in: its SIMD or its portable build),
//            plain (bench/plain.cpp), stb (stb_image, then packing to 565 and,
//            from 32 bits, taking the opacities apart; decoding only),
//            vectorised (the fills only: a plain loop that GCC vectorises)
// idle       reads the input and then does not do the operation: the count of
//            an idle run is what the operation's count is reduced by.
// check      does the operation, then the plain loop on a twin of the input:
//            exit 0 for the same bytes, 3 when only stb_image's differ (its
//            share of exact pixels goes to standard error), 1 otherwise.
//
// Making the pictures (sines and random noise) takes a thousand instructions a
// pixel, a hundred times the operation, so it happens once, in `make`: the
// counted runs only read the input back.
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include <stb_image.h>

#include "pictures.h"
#include "plain.h"
#include <velmora/sprite.h>
#include <velmora/tga.h>

namespace {

constexpr std::uint16_t side = 256;
constexpr std::size_t count = std::size_t{side} * side;
constexpr pixel16 fill_value = 0x39E7;
constexpr std::uint8_t blend_weight = 178;
constexpr pixel16 key = 0xF81F; // magenta, the traditional colour key

const std::initializer_list<const char*> operations = {
    "fill",   "fill_area",  "blend", "raw", "rle", "raw32",  "rle32",
    "mapped", "mapped_rle", "raw16", "key", "a8",  "a8_glow", "mapped256", "mapped256_rle",
    "mapped256_all"};

enum class contender { velmora, plain, stb, vectorised };

// Everything an operation reads and writes.
struct work {
    std::vector<pixel16> target, source;
    std::vector<std::uint8_t> alpha, file;
};

// ---------------------------------------------------------------- the inputs

std::vector<pixel16> packed(const rgb_picture& p)
{
    std::vector<pixel16> out;
    for (const rgb& c : p.pixels)
        out.push_back(rgb24_to_16(c.r, c.g, c.b));
    return out;
}

std::vector<std::uint8_t> file_of(const rgba_picture& p, std::uint8_t type, std::uint8_t bpp,
                                  std::uint8_t alpha_bits, std::uint16_t map_entries = 0)
{
    tga_variant v;
    v.type = type;
    v.bpp = bpp;
    v.alpha_bits = alpha_bits;
    v.map_entries = map_entries;
    return tga_encode(p, v);
}

work make_input(const std::string& operation)
{
    work w;
    w.target = packed(photo_like(side, side, 301));
    w.alpha.resize(count);
    if (operation == "blend") {
        w.source = packed(photo_like(side, side, 302));
    } else if (operation == "raw" || operation == "rle") {
        // The benchmark's photo-like picture, as decode_once has it.
        tga_layout layout;
        layout.run_length = operation == "rle";
        w.file = tga_encode(photo_like(side, side, 100 + side), layout);
    } else if (operation == "raw32" || operation == "rle32") {
        w.file = file_of(soft_disc(side, 300 + side), operation == "raw32" ? 2 : 10, 32, 8);
    } else if (operation == "mapped" || operation == "mapped_rle") {
        w.file = file_of(pixel_art(side, 400), operation == "mapped" ? 1 : 9, 8, 0);
    } else if (operation == "mapped256" || operation == "mapped256_rle") {
        w.file = file_of(pixel_art(side, 400), operation == "mapped256" ? 1 : 9, 8, 0, 256);
    } else if (operation == "mapped256_all") {
        w.file = file_of(indexed_photo(side, 600, 256), 1, 8, 0, 256);
    } else if (operation == "raw16") {
        w.file = file_of(soft_disc(side, 500 + side), 2, 16, 1);
    } else if (operation == "key") {
        w.source = keyed_565(soft_disc(side, 7), key);
    } else if (operation == "a8" || operation == "a8_glow") {
        // The sprites of the benchmark's transparent blits.
        const rgba_picture sprite = operation == "a8" ? soft_disc(side, 7) : glow(side, 8);
        w.source = pixels_565(sprite);
        w.alpha = opacity(sprite);
    }
    return w;
}

// ---------------------------------------------------------------- the input file

// The four sizes in bytes, then the four arrays.
bool write_input(const work& w, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    const std::uint32_t sizes[4] = {static_cast<std::uint32_t>(w.target.size() * sizeof(pixel16)),
                                    static_cast<std::uint32_t>(w.source.size() * sizeof(pixel16)),
                                    static_cast<std::uint32_t>(w.alpha.size()),
                                    static_cast<std::uint32_t>(w.file.size())};
    bool ok = std::fwrite(sizes, sizeof sizes, 1, f) == 1;
    ok = ok && std::fwrite(w.target.data(), 1, sizes[0], f) == sizes[0];
    ok = ok && std::fwrite(w.source.data(), 1, sizes[1], f) == sizes[1];
    ok = ok && std::fwrite(w.alpha.data(), 1, sizes[2], f) == sizes[2];
    ok = ok && std::fwrite(w.file.data(), 1, sizes[3], f) == sizes[3];
    return std::fclose(f) == 0 && ok;
}

bool read_input(work& w, const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    std::uint32_t sizes[4] = {};
    bool ok = std::fread(sizes, sizeof sizes, 1, f) == 1;
    if (ok) {
        w.target.resize(sizes[0] / sizeof(pixel16));
        w.source.resize(sizes[1] / sizeof(pixel16));
        w.alpha.resize(sizes[2]);
        w.file.resize(sizes[3]);
        ok = std::fread(w.target.data(), 1, sizes[0], f) == sizes[0] &&
             std::fread(w.source.data(), 1, sizes[1], f) == sizes[1] &&
             std::fread(w.alpha.data(), 1, sizes[2], f) == sizes[2] &&
             std::fread(w.file.data(), 1, sizes[3], f) == sizes[3];
    }
    std::fclose(f);
    return ok && w.target.size() == count && w.alpha.size() == count;
}

// ---------------------------------------------------------------- the operation

// stb_image to 8-bit RGB or, for the variants that have opacities, RGBA; then
// packed to 565 and the opacities taken apart.
bool decode_with_stb(work& w, bool with_alpha)
{
    const int channels = with_alpha ? 4 : 3;
    int width = 0, height = 0, in_file = 0;
    stbi_uc* px = stbi_load_from_memory(w.file.data(), static_cast<int>(w.file.size()), &width,
                                        &height, &in_file, channels);
    if (px == nullptr)
        return false;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < n; ++i) {
        const stbi_uc* p = px + channels * i;
        w.target[i] = rgb24_to_16(p[0], p[1], p[2]);
        if (with_alpha)
            w.alpha[i] = p[3];
    }
    stbi_image_free(px);
    return true;
}

bool decode(const std::string& operation, contender who, work& w)
{
    const bool any_variant = operation != "raw" && operation != "rle";
    if (who == contender::stb)
        return decode_with_stb(w, any_variant);
    tga_info_t info{};
    tga_info(w.file.data(), w.file.size(), &info);
    sprite_t target{0, 0, 0, w.target.data()};
    if (!any_variant) {
        if (who == contender::plain)
            plain::tga24_to_sprite16(&info, &target);
        else
            tga24_to_sprite16(&info, &target);
        return target.bpp == 16;
    }
    const tga_check_t status = who == contender::plain
                                   ? plain::tga_to_sprite16(&info, &target, w.alpha.data())
                                   : tga_to_sprite16(&info, &target, w.alpha.data());
    return status == tga_ok;
}

// The rows of an area filled by the loop anyone would write, compiled as GCC's
// -O3 compiles it: vectorised, with a scalar tail. (plain.cpp's fill, at -O2,
// is not vectorised.)
__attribute__((optimize("O3"))) void fill_vectorised(sprite_t& target, const area_t& area)
{
    const std::size_t stride = target.w, w = area.w;
    pixel16* row = target.pixels + area.y * stride + area.x;
    for (std::size_t y = 0; y < area.h; ++y, row += stride) {
        for (std::size_t x = 0; x < w; ++x)
            row[x] = fill_value;
    }
}

bool draw(const std::string& operation, contender who, work& w)
{
    sprite_t target{side, side, 16, w.target.data()};
    const sprite_t source{side, side, 16, w.source.data()};
    const bool plain = who == contender::plain;
    if (operation == "fill" || operation == "fill_area") {
        const area_t area = operation == "fill" ? area_t{0, 0, side, side}
                                                : area_t{64, 64, side / 2, side / 2};
        if (who == contender::vectorised) {
            fill_vectorised(target, area);
            return true;
        }
        return (plain ? plain::area_fill_16(&target, fill_value, &area)
                      : area_fill_16(&target, fill_value, &area)) == 0;
    }
    if (who == contender::vectorised)
        return false;
    if (operation == "blend") {
        return (plain ? plain::sprite_blit_alpha_16(&target, &source, 0, 0, blend_weight)
                      : sprite_blit_alpha_16(&target, &source, 0, 0, blend_weight)) == 0;
    }
    if (operation == "key") {
        return (plain ? plain::sprite_blit_key_16(&target, &source, 0, 0, key)
                      : sprite_blit_key_16(&target, &source, 0, 0, key)) == 0;
    }
    const std::uint8_t* alpha = w.alpha.data();
    return (plain ? plain::sprite_blit_a8_16(&target, &source, alpha, 0, 0)
                  : sprite_blit_a8_16(&target, &source, alpha, 0, 0)) == 0;
}

bool is_drawing(const std::string& operation)
{
    return operation == "fill" || operation == "fill_area" || operation == "blend" || operation == "key" ||
           operation == "a8" || operation == "a8_glow";
}

// Not inlined, so the operation stays one call whatever the optimiser sees.
__attribute__((noinline)) bool run(const std::string& operation, contender who, work& w)
{
    if (is_drawing(operation))
        return who != contender::stb && draw(operation, who, w);
    return who != contender::vectorised && decode(operation, who, w);
}

int same_as_plain(const std::string& operation, contender who, const work& input)
{
    work fast = input;
    work slow = input;
    if (!run(operation, who, fast) || !run(operation, contender::plain, slow))
        return 1;
    std::size_t exact = 0;
    for (std::size_t i = 0; i < count; ++i)
        exact += fast.target[i] == slow.target[i] && fast.alpha[i] == slow.alpha[i];
    if (exact == count)
        return 0;
    std::fprintf(stderr, "%s: %.1f %% of the pixels as the plain loop has them\n",
                 operation.c_str(), 100.0 * static_cast<double>(exact) / count);
    return who == contender::stb ? 3 : 1;
}

bool known(const std::string& name, std::initializer_list<const char*> names)
{
    for (const char* n : names) {
        if (name == n)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "", operation = argc > 2 ? argv[2] : "";
    const bool making = mode == "make" && argc == 4;
    const bool counting = known(mode, {"run", "idle", "check"}) && argc == 5;
    if (!(making || counting) || !known(operation, operations) ||
        (counting && !known(argv[3], {"velmora", "plain", "stb", "vectorised"}))) {
        std::fprintf(stderr,
                     "usage: %s make OPERATION INPUT\n"
                     "       %s run|idle|check OPERATION velmora|plain|stb|vectorised INPUT\n"
                     "operations:",
                     argv[0], argv[0]);
        for (const char* op : operations)
            std::fprintf(stderr, " %s", op);
        std::fprintf(stderr, "\n");
        return 2;
    }
    if (making)
        return write_input(make_input(operation), argv[3]) ? 0 : 1;
    const std::string who_name = argv[3];
    const contender who = who_name == "plain"        ? contender::plain
                          : who_name == "stb"        ? contender::stb
                          : who_name == "vectorised" ? contender::vectorised
                                                     : contender::velmora;
    work w;
    if (!read_input(w, argv[4])) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[4]);
        return 1;
    }
    if (mode == "check")
        return same_as_plain(operation, who, w);
    if (mode == "idle")
        return 0;
    return run(operation, who, w) ? 0 : 1;
}
