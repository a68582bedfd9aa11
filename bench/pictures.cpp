#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

std::uint8_t clamp_byte(double v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

int random_in(std::mt19937& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

} // namespace

rgb_picture photo_like(std::uint16_t w, std::uint16_t h, unsigned seed)
{
    std::mt19937 rng(seed);
    rgb_picture p = make_picture(w, h);
    // Shading on the scale of the whole picture, so 256 and 2048 look alike.
    const double fx = 6.0 / (w ? w : 1), fy = 5.0 / (h ? h : 1);
    const double phase = random_in(rng, 0, 628) / 100.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double a = std::sin(x * fx + phase) * std::cos(y * fy);
            const double b = std::sin((x + y) * 0.7 * fx + 2 * phase);
            const int noise = random_in(rng, -6, 6);
            p.at(x, y) = {clamp_byte(128 + 90 * a + noise), clamp_byte(120 + 70 * b + noise),
                          clamp_byte(110 + 60 * a * b + random_in(rng, -6, 6))};
        }
    }
    return p;
}

rgb_picture flat_regions(std::uint16_t w, std::uint16_t h, unsigned seed)
{
    std::mt19937 rng(seed);
    rgb_picture p = make_picture(w, h, {30, 60, 90});
    if (w == 0 || h == 0)
        return p;
    // Two dozen regions up to half the picture each way, the same at every size:
    // larger pictures, larger regions, longer runs.
    for (int i = 0; i < 24; ++i) {
        const int x0 = random_in(rng, 0, w - 1), y0 = random_in(rng, 0, h - 1);
        const int x1 = std::min<int>(w, x0 + random_in(rng, 1, w / 2 + 1));
        const int y1 = std::min<int>(h, y0 + random_in(rng, 1, h / 2 + 1));
        const rgb colour{static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                         static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                         static_cast<std::uint8_t>(random_in(rng, 0, 255))};
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                p.at(x, y) = colour;
    }
    return p;
}

rgb_picture make_content(content kind, std::uint16_t w, std::uint16_t h, unsigned seed)
{
    return kind == content::photo ? photo_like(w, h, seed) : flat_regions(w, h, seed);
}
