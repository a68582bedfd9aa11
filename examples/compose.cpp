// Draws transparent sprites over a background and saves the picture as a PNG:
//
//   compose BACKGROUND.tga SPRITE32.tga INDEXED.tga SHEET16.tga OUT.png
//
// SPRITE32 carries an 8-bit alpha channel, INDEXED is colour-mapped pixel art
// whose transparent parts are magenta, SHEET16 is a sheet of four 1-bit-alpha
// frames side by side. velmora reads them all the same way; only the blit
// differs.
#include <velmora/sprite.h>
#include <velmora/tga.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h> // Debian's libstb-dev

namespace {

// A decoded picture: the caller owns its pixels and its alpha plane.
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
    // tga_check looks at the header alone: ask it before allocating w * h pixels.
    if (tga_info(file.data(), file.size(), &info) != 0 || tga_check(&info) != tga_ok) {
        std::fprintf(stderr, "compose: cannot read %s\n", path);
        return false;
    }
    out.pixels.resize(std::size_t{info.w} * info.h);
    out.alpha.resize(out.pixels.size());
    out.sprite.pixels = out.pixels.data();
    if (tga_to_sprite16(&info, &out.sprite, out.alpha.data()) != tga_ok) {
        std::fprintf(stderr, "compose: %s is damaged\n", path);
        return false;
    }
    return true;
}

// RGB565 back to 8 bits a channel, repeating the top bits into the low ones.
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
        std::fprintf(stderr, "usage: compose BACKGROUND SPRITE32 INDEXED SHEET16 OUT.png\n");
        return 2;
    }
    picture screen, ball, gem, coins;
    if (!load(argv[1], screen) || !load(argv[2], ball) || !load(argv[3], gem) ||
        !load(argv[4], coins))
        return 1;
    // Like every velmora drawing call, the blits do not clip: the positions keep
    // each sprite inside the screen.
    sprite_blit_a8_16(&screen.sprite, &ball.sprite, ball.alpha.data(), 16, 40);
    sprite_blit_key_16(&screen.sprite, &gem.sprite, 176, 24, rgb24_to_16(255, 0, 255));
    const std::uint16_t frame = coins.sprite.h; // square frames, side by side
    for (std::uint16_t k = 0; k * frame < coins.sprite.w; ++k) {
        const area_t cell{static_cast<std::uint16_t>(k * frame), 0, frame, frame};
        sprite_area_blit_a8_16(&screen.sprite, &coins.sprite, coins.alpha.data(), &cell,
                               static_cast<std::uint16_t>(176 + k * (frame + 4)), 150);
    }
    if (!save_png(argv[5], screen.sprite)) {
        std::fprintf(stderr, "compose: cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
