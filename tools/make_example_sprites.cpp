// Makes the inputs of examples/compose.cpp, each written the way a paint
// program writes such a picture:
//   background.tga  320 x 200 sky and hills   24-bit, run-length, bottom row first
//   ball.tga        128 x 128 shaded ball      32-bit with 8 alpha bits, run-length,
//                                              bottom row first, soft edge and shadow
//   gem.tga         64 x 64 pixel art          colour-mapped (24-bit entries), raw;
//                                              magenta where it is transparent
//   coins.tga       four 32 x 32 frames        16-bit with 1 alpha bit, raw, top row first
// Usage: make_example_sprites [output folder, default .]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "tga_writer.h"

namespace {

std::uint8_t channel(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

rgba_picture blank(std::uint16_t w, std::uint16_t h, rgba fill)
{
    rgba_picture p;
    p.w = w;
    p.h = h;
    p.pixels.assign(std::size_t{w} * h, fill);
    return p;
}

rgba_picture background()
{
    rgba_picture p = blank(320, 200, {0, 0, 0, 255});
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x) {
            const double hill = 150 + 18 * std::sin(x / 37.0) + 9 * std::sin(x / 13.0 + 1);
            const double t = y / 200.0;
            p.at(x, y) = y < hill ? rgba{channel(70 + 120 * t), channel(130 + 90 * t), 230, 255}
                                  : rgba{channel(40 + (y - hill)), channel(120 - (y - hill) / 2), 40, 255};
        }
    }
    return p;
}

// Lit from the top left; the edge fades over two pixels and a faint shadow
// falls to the bottom right, so most of the alpha values are partial there.
rgba_picture ball()
{
    rgba_picture p = blank(128, 128, {0, 0, 0, 0});
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x) {
            const double dx = x - 60.0, dy = y - 60.0, r = std::hypot(dx, dy);
            const double shadow = std::hypot(x - 68.0, y - 68.0);
            if (r < 54) {
                const double light = std::max(0.0, 1 - std::hypot(dx + 20, dy + 20) / 80);
                const double edge = std::clamp((54 - r) / 2, 0.0, 1.0);
                p.at(x, y) = {channel(200 + 55 * light), channel(40 + 180 * light),
                              channel(60 + 160 * light * light), channel(255 * edge)};
            } else if (shadow < 58) {
                p.at(x, y) = {0, 0, 32, channel(90 * (58 - shadow) / 58)};
            }
        }
    }
    return p;
}

rgba_picture gem()
{
    constexpr rgba magenta{255, 0, 255, 255};
    const rgba shades[] = {{20, 90, 200, 255}, {60, 150, 240, 255}, {160, 220, 255, 255},
                           {10, 40, 120, 255}};
    rgba_picture p = blank(64, 64, magenta);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const int d = std::abs(x - 32) + std::abs(y - 32);
            if (d < 28)
                p.at(x, y) = shades[(x < 32) + 2 * (y > 32)];
            if (d == 27)
                p.at(x, y) = {250, 250, 250, 255};
        }
    }
    return p;
}

// A coin turning: each frame a narrower ellipse.
rgba_picture coins()
{
    rgba_picture p = blank(4 * 32, 32, {0, 0, 0, 0});
    for (int k = 0; k < 4; ++k) {
        const double half_width = 14 * std::cos(k * 0.45);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const double u = (x - 15.5) / half_width, v = (y - 15.5) / 14;
                const double r = u * u + v * v;
                if (r <= 1)
                    p.at(32 * k + x, y) = r > 0.6 ? rgba{200, 140, 20, 255} : rgba{250, 210, 60, 255};
            }
        }
    }
    return p;
}

bool write(const std::string& folder, const char* name, const rgba_picture& picture,
           const tga_variant& variant)
{
    const std::string path = folder + "/" + name;
    if (write_file(path, tga_encode(picture, variant)))
        return true;
    std::fprintf(stderr, "make_example_sprites: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    tga_variant gimp_opaque;
    gimp_opaque.type = 10;
    gimp_opaque.bpp = 24;
    tga_variant gimp_alpha = gimp_opaque;
    gimp_alpha.bpp = 32;
    gimp_alpha.alpha_bits = 8;
    tga_variant indexed;
    indexed.type = 1;
    indexed.bpp = 8;
    indexed.map_entry_bits = 24;
    tga_variant a1r5g5b5;
    a1r5g5b5.bpp = 16;
    a1r5g5b5.alpha_bits = 1;
    a1r5g5b5.top_down = true;
    const bool ok = write(folder, "background.tga", background(), gimp_opaque) &&
                    write(folder, "ball.tga", ball(), gimp_alpha) &&
                    write(folder, "gem.tga", gem(), indexed) &&
                    write(folder, "coins.tga", coins(), a1r5g5b5);
    return ok ? 0 : 1;
}
