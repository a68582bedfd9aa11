// Any bytes as a TGA file, down the viewer's road: header, the check before
// allocating, decoding into a buffer of exactly w * h pixels, and placement
// clipped into a 512 x 512 screen at each of the four sample positions. Then
// the same bytes through the quiet decoder of every variant, with an opacity
// plane of exactly w * h bytes.
//
// Besides what the sanitizers see, it stops on:
//   - a refusal that does not leave the empty sprite, or touches the pixels pointer;
//   - an accepted picture that allocates more than the file could describe;
//   - a pixel the decoder did not write: every picture is decoded twice, into
//     buffers filled with opposite values beforehand, and both must agree;
//   - a placed rectangle that differs from the picture;
//   - a quiet check that refuses a file that decodes, or differs from the
//     24-bit check on a 24-bit file; a quiet decode that differs between two
//     runs, or, refused, leaves more than the empty sprite.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <velmora/sprite.h>
#include <velmora/tga.h>
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

struct quiet_decode {
    tga_check_t status;
    sprite_t sprite;
    std::vector<pixel16> pixels;
    std::vector<std::uint8_t> alpha;
};

quiet_decode decode_quietly(const tga_info_t* info, std::size_t count, std::uint8_t fill)
{
    quiet_decode d{tga_ok, {0, 0, 0, nullptr}, std::vector<pixel16>(count, static_cast<pixel16>(fill * 0x0101u)),
                   std::vector<std::uint8_t>(count, fill)};
    d.sprite.pixels = d.pixels.data();
    d.status = tga_to_sprite16(info, &d.sprite, d.alpha.data());
    require(d.sprite.pixels == d.pixels.data(), "quiet decode replaced the pixels pointer");
    if (d.status != tga_ok)
        require(d.sprite.w == 0 && d.sprite.h == 0 && d.sprite.bpp == 0, "quiet refusal without the empty sprite");
    else
        require(d.sprite.w == info->w && d.sprite.h == info->h && d.sprite.bpp == 16,
                "quietly decoded sprite has the wrong size");
    return d;
}

// Run-length data of one byte a pixel stands for at most 128 pixels in 2 bytes.
constexpr std::uint64_t most_pixels_per_byte = 64;

void check_quiet_decoder(const tga_info_t* info, std::size_t size)
{
    const tga_check_t check = tga_check(info);
    if (info->bpp == 24)
        require(check == tga24_check(info), "the checks disagree on a 24-bit file");
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    if (check == tga_ok)
        require(count <= std::uint64_t{size} * most_pixels_per_byte, "quiet check accepted a picture the file cannot hold");
    // A refused check allocates nothing in a real caller; small ones decode here
    // all the same, to prove the check refuses nothing that decodes.
    if (check != tga_ok && count > 4096) {
        pixel16 untouched = 0;
        sprite_t picture{1, 1, 1, &untouched};
        if (check == tga_unsupported) {
            require(tga_to_sprite16(info, &picture, nullptr) == tga_unsupported, "the decoder reads what the check refuses");
            require(picture.bpp == 0 && untouched == 0, "unsupported refusal touched the sprite");
        }
        return;
    }
    const quiet_decode dark = decode_quietly(info, count, 0x00);
    const quiet_decode light = decode_quietly(info, count, 0xFF);
    require(dark.status == light.status, "two quiet decodes of one file disagree");
    require(dark.status != tga_ok || check == tga_ok, "the check refuses a file that decodes");
    if (dark.status == tga_ok)
        require(dark.pixels == light.pixels && dark.alpha == light.alpha,
                "a pixel or opacity was left as it was before decoding");
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
    check_quiet_decoder(&info, size);
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
