// Any bytes as a TGA file, down the viewer's road: header, the check before
// allocating, decoding into a buffer of exactly w * h pixels, and placement
// clipped into a 512 x 512 screen at each of the four sample positions.
//
// Besides what the sanitizers see, it stops on:
//   - a refusal that does not leave the empty sprite, or touches the pixels pointer;
//   - an accepted picture that allocates more than the file could describe;
//   - a pixel the decoder did not write: every picture is decoded twice, into
//     buffers filled with opposite values beforehand, and both must agree;
//   - a placed rectangle that differs from the picture.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sprite.h"
#include "tga.h"
#include "velmora.h"

namespace {

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "tga_fuzz: %s\n", what);
        std::abort();
    }
}

struct screen_sprite {
    std::vector<pixel16> pixels;
    sprite_t sprite;
};

screen_sprite& the_screen()
{
    static screen_sprite s{std::vector<pixel16>(std::size_t{screen_width} * screen_height, 0x001F),
                           sprite_t{}};
    s.sprite = sprite_t{screen_width, screen_height, 16, s.pixels.data()};
    return s;
}

void check_refusal(const tga_info_t* info)
{
    pixel16 untouched = 0;
    sprite_t picture{1, 1, 1, &untouched};
    tga24_to_sprite16(info, &picture);
    require(picture.w == 0 && picture.h == 0 && picture.bpp == 0, "refusal without the empty sprite");
    require(picture.pixels == &untouched && untouched == 0, "refusal touched the pixels");
}

// Decodes into `buffer`, which holds exactly w * h pixels, each set to `fill` first.
sprite_t decode_filled(const tga_info_t* info, std::vector<pixel16>& buffer, pixel16 fill)
{
    std::fill(buffer.begin(), buffer.end(), fill);
    sprite_t picture{0, 0, 0, buffer.data()};
    tga24_to_sprite16(info, &picture);
    return picture;
}

void check_placed(const screen_sprite& screen, const sprite_t& picture, std::uint16_t x,
                  std::uint16_t y)
{
    const std::size_t w = picture.w < screen_width - x ? picture.w : screen_width - x;
    const std::size_t h = picture.h < screen_height - y ? picture.h : screen_height - y;
    for (std::size_t j = 0; j < h; ++j) {
        for (std::size_t i = 0; i < w; ++i) {
            require(screen.pixels[(y + j) * screen_width + x + i] == picture.pixels[j * picture.w + i],
                    "placed pixel differs from the picture");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tga_info_t info{};
    if (tga_info(data, size, &info) != 0) {
        require(size < tga_header_size, "tga_info refused a whole header");
        return 0;
    }
    require(info.data >= data + tga_header_size && info.data + info.data_size == data + size,
            "pixel data outside the file");
    if (tga24_check(&info) != tga_ok) {
        check_refusal(&info);
        return 0;
    }
    // The check passed, so the file must hold at least one 4-byte packet per
    // 128 pixels: a small file can never ask for a large buffer.
    const std::uint64_t count = std::uint64_t{info.w} * info.h;
    require(count <= std::uint64_t{size} * 32, "accepted a picture the file cannot hold");

    std::vector<pixel16> dark(count), light(count);
    const sprite_t first = decode_filled(&info, dark, 0x0000);
    const sprite_t second = decode_filled(&info, light, 0xFFFF);
    require(first.w == second.w && first.h == second.h && first.bpp == second.bpp,
            "two decodes of one file disagree on the size");
    if (first.bpp == 0) {
        require(first.w == 0 && first.h == 0, "late refusal without the empty sprite");
        return 0;
    }
    require(first.w == info.w && first.h == info.h && first.bpp == 16, "decoded sprite has the wrong size");
    require(dark == light, "a pixel was left as it was before decoding");

    screen_sprite& screen = the_screen();
    const std::uint16_t positions[4][2] = {{0, 0}, {256, 0}, {0, 256}, {256, 256}};
    for (const auto& at : positions) {
        place_clipped(&screen.sprite, &first, at[0], at[1]);
        check_placed(screen, first, at[0], at[1]);
    }
    return 0;
}
