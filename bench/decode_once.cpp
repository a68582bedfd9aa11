// Decodes one 256 x 256 picture once, for valgrind's callgrind, which counts the
// instructions of decode_once() alone (bench/callgrind.sh). Counts repeat
// exactly from run to run, so later changes compare without timing noise.
//
//   decode_once raw|rle photo|flat velmora|plain         24-bit, tga24_to_sprite16
//   decode_once raw|rle 32bit|mapped|16bit velmora|plain  tga_to_sprite16 with opacity
//   decode_once raw|rle mapped/ENTRIES/art|all velmora|plain
//                                       a whole palette of ENTRIES, as bench_variants.cpp
//
// The pictures are the benchmark's own, stored bottom row first.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pictures.h"
#include "plain.h"
#include <velmora/tga.h>

// Not inlined, and with C linkage, so callgrind can be told its name. Without
// an opacity plane it runs the 24-bit decoder.
extern "C" __attribute__((noinline)) void decode_once(const tga_info_t* info, sprite_t* sprite,
                                                      std::uint8_t* alpha, bool with_plain)
{
    if (alpha == nullptr && with_plain)
        plain::tga24_to_sprite16(info, sprite);
    else if (alpha == nullptr)
        tga24_to_sprite16(info, sprite);
    else if (with_plain)
        plain::tga_to_sprite16(info, sprite, alpha);
    else
        tga_to_sprite16(info, sprite, alpha);
}

namespace {

// As the benchmark writes them (bench_variants.cpp): bottom row first, 8 alpha
// bits in a 32-bit descriptor, 1 in a 16-bit one, a map of 24-bit entries;
// "mapped/256/all" names a whole palette of 256 entries, all of them used.
std::vector<std::uint8_t> variant_file(const std::string& kind, bool run_length)
{
    const bool mapped = kind.compare(0, 6, "mapped") == 0;
    const auto slash = kind.find('/', 7);
    const unsigned entries = mapped && kind.size() > 7 ? std::stoul(kind.substr(7)) : 0;
    const bool all_used = slash != std::string::npos && kind.substr(slash + 1) == "all";
    tga_variant v;
    v.type = static_cast<std::uint8_t>((mapped ? 1 : 2) + (run_length ? 8 : 0));
    v.bpp = kind == "32bit" ? 32 : kind == "16bit" ? 16 : 8;
    v.alpha_bits = kind == "32bit" ? 8 : kind == "16bit" ? 1 : 0;
    v.map_entry_bits = 24;
    v.map_entries = static_cast<std::uint16_t>(entries);
    const rgba_picture picture = kind == "32bit"   ? soft_disc(256, 300 + 256)
                                 : kind == "16bit" ? soft_disc(256, 500 + 256)
                                 : all_used        ? indexed_photo(256, 600, entries)
                                                   : pixel_art(256, 400);
    return tga_encode(picture, v);
}

std::vector<std::uint8_t> picture_file(const std::string& kind, bool run_length)
{
    if (kind != "photo" && kind != "flat")
        return variant_file(kind, run_length);
    const bool photo = kind == "photo";
    tga_layout layout;
    layout.run_length = run_length;
    return tga_encode(make_content(photo ? content::photo : content::flat, 256, 256, (photo ? 100 : 200) + 256),
                      layout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s raw|rle photo|flat|32bit|mapped[/ENTRIES/art|all]|16bit velmora|plain\n",
                     argv[0]);
        return 2;
    }
    const std::string kind = argv[2];
    const std::vector<std::uint8_t> file = picture_file(kind, std::strcmp(argv[1], "rle") == 0);
    tga_info_t info{};
    tga_info(file.data(), file.size(), &info);
    std::vector<pixel16> pixels(std::size_t{info.w} * info.h);
    std::vector<std::uint8_t> alpha(pixels.size());
    sprite_t sprite{0, 0, 0, pixels.data()};
    const bool any_variant = kind != "photo" && kind != "flat";
    decode_once(&info, &sprite, any_variant ? alpha.data() : nullptr, std::strcmp(argv[3], "plain") == 0);
    return sprite.bpp == 16 ? 0 : 1;
}
