// One drawing or decoding operation on a 256 x 256 picture, once, for counting
// the instructions it executes under an emulator (bench/aarch64_counts.sh).
//
//   one_operation make OPERATION INPUT              writes the operation's input
//   one_operation run|idle|check OPERATION CONTENDER INPUT
//
// OPERATION  fill (the whole sprite), blend (sprite_blit_alpha_16, weight 178),
//            raw, rle (24-bit decoding of the photo-like picture, bottom row first)
// CONTENDER  velmora (the library linked in: its SIMD or its portable build),
//            plain (bench/plain.cpp), stb (stb_image, then packing to 565;
//            decoding only)
// idle       reads the input and then does not do the operation: the count of
//            an idle run is what the operation's count is reduced by.
// check      does the operation, then the plain loop on a twin of the input,
//            and fails unless both give the same bytes.
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
#include "sprite.h"
#include "tga.h"

namespace {

constexpr std::uint16_t side = 256;
constexpr pixel16 fill_value = 0x39E7;
constexpr std::uint8_t blend_weight = 178;

enum class contender { velmora, plain, stb };

// Everything an operation reads and writes.
struct work {
    std::vector<pixel16> target, source;
    std::vector<std::uint8_t> file;
};

std::vector<pixel16> packed(const rgb_picture& p)
{
    std::vector<pixel16> out;
    for (const rgb& c : p.pixels)
        out.push_back(rgb24_to_16(c.r, c.g, c.b));
    return out;
}

work make_input(const std::string& operation)
{
    work w;
    w.target = packed(photo_like(side, side, 301));
    if (operation == "blend") {
        w.source = packed(photo_like(side, side, 302));
    } else if (operation == "raw" || operation == "rle") {
        // The benchmark's photo-like picture, as decode_once has it.
        tga_layout layout;
        layout.run_length = operation == "rle";
        w.file = tga_encode(photo_like(side, side, 100 + side), layout);
    }
    return w;
}

// The input file: the three sizes in bytes, then the three arrays.
bool write_input(const work& w, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    const std::uint32_t sizes[3] = {static_cast<std::uint32_t>(w.target.size() * sizeof(pixel16)),
                                    static_cast<std::uint32_t>(w.source.size() * sizeof(pixel16)),
                                    static_cast<std::uint32_t>(w.file.size())};
    bool ok = std::fwrite(sizes, sizeof sizes, 1, f) == 1;
    ok = ok && std::fwrite(w.target.data(), 1, sizes[0], f) == sizes[0];
    ok = ok && std::fwrite(w.source.data(), 1, sizes[1], f) == sizes[1];
    ok = ok && std::fwrite(w.file.data(), 1, sizes[2], f) == sizes[2];
    return std::fclose(f) == 0 && ok;
}

bool read_input(work& w, const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    std::uint32_t sizes[3] = {};
    bool ok = std::fread(sizes, sizeof sizes, 1, f) == 1;
    if (ok) {
        w.target.resize(sizes[0] / sizeof(pixel16));
        w.source.resize(sizes[1] / sizeof(pixel16));
        w.file.resize(sizes[2]);
        ok = std::fread(w.target.data(), 1, sizes[0], f) == sizes[0] &&
             std::fread(w.source.data(), 1, sizes[1], f) == sizes[1] &&
             std::fread(w.file.data(), 1, sizes[2], f) == sizes[2];
    }
    std::fclose(f);
    return ok && w.target.size() == std::size_t{side} * side;
}

bool decode_with_stb(work& w)
{
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgb = stbi_load_from_memory(w.file.data(), static_cast<int>(w.file.size()), &width,
                                         &height, &channels, 3);
    if (rgb == nullptr)
        return false;
    const std::size_t count = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < count; ++i)
        w.target[i] = rgb24_to_16(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    stbi_image_free(rgb);
    return true;
}

// Not inlined, so the operation stays one call whatever the optimiser sees.
__attribute__((noinline)) bool run(const std::string& operation, contender who, work& w)
{
    sprite_t target{side, side, 16, w.target.data()};
    if (operation == "fill") {
        const area_t all{0, 0, side, side};
        if (who == contender::plain)
            return plain::area_fill_16(&target, fill_value, &all) == 0;
        return who == contender::velmora && area_fill_16(&target, fill_value, &all) == 0;
    }
    if (operation == "blend") {
        const sprite_t source{side, side, 16, w.source.data()};
        if (who == contender::plain)
            return plain::sprite_blit_alpha_16(&target, &source, 0, 0, blend_weight) == 0;
        return who == contender::velmora &&
               sprite_blit_alpha_16(&target, &source, 0, 0, blend_weight) == 0;
    }
    if (operation == "raw" || operation == "rle") {
        if (who == contender::stb)
            return decode_with_stb(w);
        tga_info_t info{};
        tga_info(w.file.data(), w.file.size(), &info);
        if (who == contender::plain)
            plain::tga24_to_sprite16(&info, &target);
        else
            tga24_to_sprite16(&info, &target);
        return target.bpp == 16;
    }
    return false;
}

bool same_as_plain(const std::string& operation, contender who, const work& input)
{
    work fast = input;
    work slow = input;
    if (!run(operation, who, fast) || !run(operation, contender::plain, slow))
        return false;
    std::size_t differ = 0;
    for (std::size_t i = 0; i < fast.target.size(); ++i)
        differ += fast.target[i] != slow.target[i];
    if (differ != 0)
        std::fprintf(stderr, "%s: %zu of %zu pixels differ from the plain loop\n",
                     operation.c_str(), differ, fast.target.size());
    return differ == 0;
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
    if (!(making || counting) || !known(operation, {"fill", "blend", "raw", "rle"}) ||
        (counting && !known(argv[3], {"velmora", "plain", "stb"}))) {
        std::fprintf(stderr,
                     "usage: %s make fill|blend|raw|rle INPUT\n"
                     "       %s run|idle|check fill|blend|raw|rle velmora|plain|stb INPUT\n",
                     argv[0], argv[0]);
        return 2;
    }
    if (making)
        return write_input(make_input(operation), argv[3]) ? 0 : 1;
    const std::string who_name = argv[3];
    const contender who = who_name == "plain" ? contender::plain
                          : who_name == "stb" ? contender::stb
                                              : contender::velmora;
    work w;
    if (!read_input(w, argv[4])) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[4]);
        return 1;
    }
    if (mode == "check")
        return same_as_plain(operation, who, w) ? 0 : 1;
    if (mode == "idle")
        return 0;
    return run(operation, who, w) ? 0 : 1;
}
