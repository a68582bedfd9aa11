// Makes the four sample pictures, one in each variant the viewer reads:
//   sample_0  smooth gradient     raw, bottom row first
//   sample_1  colour wheel        raw, top row first
//   sample_2  flat shapes         run-length, bottom row first (runs cross rows)
//   sample_3  fine detail         run-length, top row first
// Usage: make_samples [output folder, default tga]
#include <cmath>
#include <cstdio>
#include <string>

#include "tga_writer.h"

namespace {

constexpr int side = 256;
constexpr double pi = 3.14159265358979323846;

std::uint8_t channel(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

rgb lerp(rgb a, rgb b, double t)
{
    return {channel(a.r + (b.r - a.r) * t), channel(a.g + (b.g - a.g) * t),
            channel(a.b + (b.b - a.b) * t)};
}

// Hue in turns, saturation and value from 0 to 1.
rgb hsv(double hue, double saturation, double value)
{
    const double h = (hue - std::floor(hue)) * 6.0;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1 - f));
    double r = value, g = t, b = p;
    switch (sector) {
    case 1: r = q, g = value, b = p; break;
    case 2: r = p, g = value, b = t; break;
    case 3: r = p, g = q, b = value; break;
    case 4: r = t, g = p, b = value; break;
    case 5: r = value, g = p, b = q; break;
    default: break;
    }
    return {channel(r * 255), channel(g * 255), channel(b * 255)};
}

rgb_picture gradient()
{
    const rgb top_left{255, 72, 0}, top_right{255, 220, 48};
    const rgb bottom_left{48, 0, 128}, bottom_right{0, 168, 255};
    rgb_picture p = make_picture(side, side);
    for (int y = 0; y < side; ++y) {
        const double ty = y / (side - 1.0);
        const rgb left = lerp(top_left, bottom_left, ty);
        const rgb right = lerp(top_right, bottom_right, ty);
        for (int x = 0; x < side; ++x)
            p.at(x, y) = lerp(left, right, x / (side - 1.0));
    }
    return p;
}

rgb_picture colour_wheel()
{
    rgb_picture p = make_picture(side, side, {40, 40, 48});
    const double centre = (side - 1) / 2.0, radius = 120.0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double dx = x - centre, dy = centre - y;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r <= radius)
                p.at(x, y) = hsv(std::atan2(dy, dx) / (2 * pi), r / radius, 1.0);
        }
    }
    return p;
}

rgb_picture flat_shapes()
{
    rgb_picture p = make_picture(side, side, {236, 230, 208});
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            rgb& c = p.at(x, y);
            if (y >= 200 && y < 224)
                c = {32, 64, 160}; // a band near the bottom
            if (x >= 24 && x < 120 && y >= 32 && y < 112)
                c = {248, 200, 24}; // a rectangle top left
            const int dx = x - 176, dy = y - 80;
            if (dx * dx + dy * dy <= 52 * 52)
                c = {216, 40, 40}; // a disc top right
            if (y >= 120 && y < 196 && x >= 128 - (y - 120) && x <= 128 + (y - 120))
                c = {24, 144, 72}; // a triangle, point up
        }
    }
    return p;
}

rgb_picture fine_detail()
{
    rgb_picture p = make_picture(side, side);
    constexpr int max_iterations = 96;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double cr = -2.1 + 2.7 * x / side, ci = -1.35 + 2.7 * y / side;
            double zr = 0, zi = 0;
            int i = 0;
            while (i < max_iterations && zr * zr + zi * zi <= 4.0) {
                const double t = zr * zr - zi * zi + cr;
                zi = 2 * zr * zi + ci;
                zr = t;
                ++i;
            }
            if (i < max_iterations)
                p.at(x, y) = hsv(0.62 + i / 24.0, 0.85, 0.35 + 0.65 * (i % 8) / 7.0);
        }
    }
    return p;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string folder = argc > 1 ? argv[1] : "tga";
    tga_layout raw_bottom_up, raw_top_down, rle_bottom_up, rle_top_down;
    raw_top_down.top_down = true;
    rle_bottom_up.run_length = true;
    rle_top_down.run_length = true;
    rle_top_down.top_down = true;
    const struct {
        rgb_picture picture;
        tga_layout layout;
    } samples[] = {
        {gradient(), raw_bottom_up},
        {colour_wheel(), raw_top_down},
        {flat_shapes(), rle_bottom_up},
        {fine_detail(), rle_top_down},
    };
    int index = 0;
    for (const auto& sample : samples) {
        const std::string path = folder + "/sample_" + std::to_string(index++) + ".tga";
        if (!write_file(path, tga_encode(sample.picture, sample.layout))) {
            std::fprintf(stderr, "make_samples: cannot write '%s'\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
