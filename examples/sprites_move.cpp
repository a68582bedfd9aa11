// One frame of a small scene drawn through a canvas, saved as a PNG:
//
//   sprites_move BACKGROUND.tga SPRITE32.tga INDEXED.tga SHEET16.tga OUT.png
//
// The inputs are those of compose.cpp. The background is enlarged 2x (each
// pixel exactly repeated), the gem walks off the left edge and turns round,
// the coins and the ball fade, the gem is enlarged 3x as pixel art, and turned
// at eight angles, nearest above smooth. Nothing here keeps a sprite inside the
// screen: the canvas clips every call.
#include <velmora/canvas.h>
#include <velmora/tga.h>

#include <cstdio>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h> // Debian's libstb-dev

namespace {

struct picture {
    std::vector<pixel16> pixels;
    std::vector<std::uint8_t> alpha;
    sprite_t sprite{};
};

std::vector<std::uint8_t> read_file(const char* path)
{
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        std::uint8_t chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

bool load(const char* path, picture& out)
{
    const std::vector<std::uint8_t> file = read_file(path);
    tga_info_t info;
    if (tga_info(file.data(), file.size(), &info) != 0 || tga_check(&info) != tga_ok) {
        std::fprintf(stderr, "sprites_move: cannot read %s\n", path);
        return false;
    }
    out.pixels.resize(std::size_t{info.w} * info.h);
    out.alpha.resize(out.pixels.size());
    out.sprite.pixels = out.pixels.data();
    if (tga_to_sprite16(&info, &out.sprite, out.alpha.data()) != tga_ok) {
        std::fprintf(stderr, "sprites_move: %s is damaged\n", path);
        return false;
    }
    return true;
}

bool save_png(const char* path, const sprite_t& s)
{
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < std::size_t{s.w} * s.h; ++i) {
        const unsigned p = s.pixels[i], r = p >> 11, g = p >> 5 & 63, b = p & 31;
        rgb.push_back(static_cast<std::uint8_t>(r << 3 | r >> 2));
        rgb.push_back(static_cast<std::uint8_t>(g << 2 | g >> 4));
        rgb.push_back(static_cast<std::uint8_t>(b << 3 | b >> 2));
    }
    return stbi_write_png(path, s.w, s.h, 3, rgb.data(), s.w * 3) != 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: sprites_move BACKGROUND SPRITE32 INDEXED SHEET16 OUT.png\n");
        return 2;
    }
    picture back, ball, gem, coins;
    if (!load(argv[1], back) || !load(argv[2], ball) || !load(argv[3], gem) || !load(argv[4], coins))
        return 1;
    std::vector<pixel16> pixels(640 * 400);
    sprite_t screen{640, 400, 16, pixels.data()};
    canvas_t canvas = canvas_of(&screen);

    // The background at twice its size: every pixel a 2 x 2 block.
    const draw_t background{&back.sprite};
    const rect_t whole{0, 0, 640, 400};
    canvas_stretch(&canvas, &background, &whole, nullptr);

    // The gem walking off the left edge, and turned round to walk back.
    draw_t walker{&gem.sprite};
    walker.flags = draw_key;
    walker.key = rgb24_to_16(255, 0, 255);
    canvas_draw(&canvas, &walker, -28, 24, nullptr);
    walker.flags |= draw_flip_x;
    canvas_draw(&canvas, &walker, 56, 24, nullptr);

    // The first coin fading out, and the ball shrunk smoothly to 72 x 72, fading.
    const area_t first_coin{0, 0, 32, 32};
    draw_t coin{&coins.sprite, &first_coin, coins.alpha.data()};
    draw_t shrunk{&ball.sprite, nullptr, ball.alpha.data(), draw_smooth};
    for (int k = 0; k < 4; ++k) {
        coin.opacity = static_cast<std::uint8_t>(255 - 64 * k);
        canvas_draw(&canvas, &coin, 140 + 44 * k, 20, nullptr);
    }
    for (int k = 0; k < 3; ++k) {
        shrunk.opacity = static_cast<std::uint8_t>(255 - 85 * k);
        const rect_t to{136 + 92 * k, 84, 72, 72};
        canvas_stretch(&canvas, &shrunk, &to, nullptr);
    }

    // Pixel art at three times its size, still keyed.
    draw_t art{&gem.sprite};
    art.flags = draw_key;
    art.key = walker.key;
    const rect_t big{436, 8, 192, 192};
    canvas_stretch(&canvas, &art, &big, nullptr);

    // Eight angles about the gem's centre, at three quarters of its size:
    // nearest above, smooth below (soft edges, no magenta fringe).
    for (int k = 0; k < 8; ++k) {
        const double x = 40 + 80 * k;
        const transform_t m = transform_rotozoom(45.0 * k, 0.75, 0.75, 32, 32, x, 262);
        const transform_t s = transform_rotozoom(45.0 * k, 0.75, 0.75, 32, 32, x, 350);
        canvas_transform(&canvas, &art, &m, nullptr);
        art.flags |= draw_smooth;
        canvas_transform(&canvas, &art, &s, nullptr);
        art.flags &= ~std::uint32_t{draw_smooth};
    }

    if (!save_png(argv[5], screen)) {
        std::fprintf(stderr, "sprites_move: cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
