// Uses the installed library the way an outside program would: headers from
// <velmora/...>, nothing from the source tree. Decodes a 2 x 2 TGA held in
// memory, places it in a larger sprite, blends, and checks every pixel against
// values written out by hand.
#include <velmora/draw.h>
#include <velmora/sprite.h>
#include <velmora/tga.h>

#include <cstdint>
#include <cstdio>

namespace {

// 2 x 2, raw true-colour (type 2), 24 bits, bottom row stored first. As seen:
// top row red, green; bottom row blue, white. Pixels are blue, green, red bytes.
const std::uint8_t tiny_tga[] = {
    0, 0, 2,          // no ID, no colour map, raw true-colour
    0, 0, 0, 0, 0,    // colour-map fields
    0, 0, 0, 0,       // origin
    2, 0, 2, 0,       // width 2, height 2
    24, 0x00,         // 24 bits, bottom row first
    255, 0, 0,   255, 255, 255, // bottom row: blue, white
    0, 0, 255,   0, 255, 0,     // top row: red, green
};

int failures = 0;

void expect(bool holds, const char* what)
{
    if (!holds) {
        std::printf("consumer: FAILED: %s\n", what);
        ++failures;
    }
}

} // namespace

int main()
{
    expect(rgb24_to_16(200, 100, 50) == 0xCB26, "rgb24_to_16(200, 100, 50) == 0xCB26");

    tga_info_t info{};
    expect(tga_info(tiny_tga, sizeof tiny_tga, &info) == 0, "the header reads");
    expect(info.w == 2 && info.h == 2 && info.bpp == 24 && info.type == 2 && info.hv == 0,
           "header fields 2 x 2, 24 bits, type 2, bottom row first");
    expect(tga24_check(&info) == tga_ok, "the picture is decodable");

    pixel16 picture_pixels[4] = {};
    sprite_t picture{0, 0, 0, picture_pixels};
    tga24_to_sprite16(&info, &picture);
    expect(picture.w == 2 && picture.h == 2 && picture.bpp == 16, "decoded size 2 x 2, 16 bits");

    // Placed at (1, 1) of a 4 x 3 sprite filled with 0x1234.
    pixel16 screen_pixels[12];
    sprite_t screen{4, 3, 16, screen_pixels};
    const area_t everything{0, 0, 4, 3};
    area_fill_16(&screen, 0x1234, &everything);
    sprite_blit_16(&screen, &picture, 1, 1);
    const pixel16 expected[12] = {
        0x1234, 0x1234, 0x1234, 0x1234,
        0x1234, 0xF800, 0x07E0, 0x1234,
        0x1234, 0x001F, 0xFFFF, 0x1234,
    };
    for (int i = 0; i < 12; ++i)
        expect(screen_pixels[i] == expected[i], "the placed picture, pixel by pixel");

    // Red over blue, half the destination kept: channels 123, 0, 124.
    pixel16 red_pixel = 0xF800, blue_pixel = 0x001F;
    const sprite_t red{1, 1, 16, &red_pixel};
    sprite_t blue{1, 1, 16, &blue_pixel};
    sprite_blit_alpha_16(&blue, &red, 0, 0, 128);
    expect(blue_pixel == 0x780F, "blend of 0xF800 over 0x001F at weight 128 is 0x780F");

    if (failures == 0)
        std::printf("consumer: the installed velmora library works\n");
    return failures == 0 ? 0 : 1;
}
