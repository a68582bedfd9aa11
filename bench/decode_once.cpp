// Decodes one 256 x 256 picture once, for valgrind's callgrind, which counts the
// instructions of decode_once() alone (bench/callgrind.sh). Counts repeat
// exactly from run to run, so later changes compare without timing noise.
//
//   decode_once raw|rle photo|flat velmora|plain
#include <cstdio>
#include <cstring>
#include <vector>

#include "pictures.h"
#include "plain.h"
#include "tga.h"

// Not inlined, and with C linkage, so callgrind can be told its name.
extern "C" __attribute__((noinline)) void decode_once(const tga_info_t* info, sprite_t* sprite,
                                                      bool with_plain)
{
    if (with_plain)
        plain::tga24_to_sprite16(info, sprite);
    else
        tga24_to_sprite16(info, sprite);
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s raw|rle photo|flat velmora|plain\n", argv[0]);
        return 2;
    }
    tga_layout layout;
    layout.run_length = std::strcmp(argv[1], "rle") == 0;
    const bool photo = std::strcmp(argv[2], "photo") == 0;
    // The benchmark's own 256 x 256 pictures, stored bottom row first.
    const std::vector<std::uint8_t> file =
        tga_encode(make_content(photo ? content::photo : content::flat, 256, 256,
                                (photo ? 100 : 200) + 256),
                   layout);
    tga_info_t info{};
    tga_info(file.data(), file.size(), &info);
    std::vector<pixel16> pixels(std::size_t{info.w} * info.h);
    sprite_t sprite{0, 0, 0, pixels.data()};
    decode_once(&info, &sprite, std::strcmp(argv[3], "plain") == 0);
    return sprite.bpp == 16 ? 0 : 1;
}
