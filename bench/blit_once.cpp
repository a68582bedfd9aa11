// Draws one 256 x 256 sprite with a transparent blit once, for valgrind's
// callgrind, which counts the instructions of blit_once() alone
// (bench/callgrind.sh): the benchmark's disc (colour key or alpha plane) and
// glow (alpha plane) into a 512 x 512 target.
//
//   blit_once key|a8 disc|glow velmora|plain
#include <cstdio>
#include <cstring>
#include <vector>

#include "pictures.h"
#include "plain.h"
#include <velmora/sprite.h>

constexpr pixel16 key = 0xF81F;

// Not inlined, and with C linkage, so callgrind can be told its name. Without
// an opacity plane it blits with the colour key.
extern "C" __attribute__((noinline)) void blit_once(sprite_t* dst, const sprite_t* src,
                                                    const std::uint8_t* alpha, bool with_plain)
{
    if (alpha == nullptr && with_plain)
        plain::sprite_blit_key_16(dst, src, 100, 60, key);
    else if (alpha == nullptr)
        sprite_blit_key_16(dst, src, 100, 60, key);
    else if (with_plain)
        plain::sprite_blit_a8_16(dst, src, alpha, 100, 60);
    else
        sprite_blit_a8_16(dst, src, alpha, 100, 60);
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s key|a8 disc|glow velmora|plain\n", argv[0]);
        return 2;
    }
    const bool keyed = std::strcmp(argv[1], "key") == 0;
    const rgba_picture picture = std::strcmp(argv[2], "glow") == 0 ? glow(256, 8) : soft_disc(256, 7);
    std::vector<pixel16> source = keyed ? keyed_565(picture, key) : pixels_565(picture);
    const std::vector<std::uint8_t> alpha = opacity(picture);
    std::vector<pixel16> target(512 * 512, 0x39E7);
    sprite_t dst{512, 512, 16, target.data()};
    const sprite_t src{256, 256, 16, source.data()};
    blit_once(&dst, &src, keyed ? nullptr : alpha.data(), std::strcmp(argv[3], "plain") == 0);
    return 0;
}
