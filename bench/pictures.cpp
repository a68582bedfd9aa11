#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
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

// ---------------------------------------------------------------- sprites with opacity

namespace {

double distance(double x, double y, double cx, double cy)
{
    return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
}

// 255 deep inside, falling linearly over the outer `edge` pixels to 0 outside.
std::uint8_t disc_opacity(double inside_by, double edge)
{
    if (inside_by >= edge)
        return 255;
    if (inside_by <= 0)
        return 0;
    return static_cast<std::uint8_t>(std::lround(255 * inside_by / edge));
}

rgba with_opacity(const rgb& c, std::uint8_t a)
{
    return a == 0 ? rgba{0, 0, 0, 0} : rgba{c.r, c.g, c.b, a};
}

rgba_picture empty_sprite(std::uint16_t w, std::uint16_t h)
{
    rgba_picture s;
    s.w = w;
    s.h = h;
    s.pixels.assign(std::size_t{w} * h, rgba{0, 0, 0, 0});
    return s;
}

// A disc of `colours` at (cx, cy) drawn into the square [x0, x0 + size) x [y0, y0 + size) of `s`.
void draw_disc(rgba_picture& s, const rgb_picture& colours, int x0, int y0, int size, double cx,
               double cy, double radius, double edge)
{
    for (int y = y0; y < y0 + size; ++y)
        for (int x = x0; x < x0 + size; ++x)
            s.at(x, y) = with_opacity(colours.at(x, y),
                                      disc_opacity(radius - distance(x + 0.5, y + 0.5, cx, cy), edge));
}

} // namespace

rgba_picture soft_disc(std::uint16_t size, unsigned seed)
{
    rgba_picture s = empty_sprite(size, size);
    const double scale = size / 256.0;
    draw_disc(s, photo_like(size, size, seed), 0, 0, size, size / 2.0, size / 2.0, 120 * scale,
              4 * scale);
    return s;
}

rgba_picture glow(std::uint16_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    rgba_picture s = empty_sprite(size, size);
    const double c = size / 2.0, corner = distance(0, 0, c, c);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double t = 1 - distance(x + 0.5, y + 0.5, c, c) / corner; // 1 centre, 0 corner
            const int noise = random_in(rng, -4, 4);
            const rgb colour{clamp_byte(200 + 55 * t + noise), clamp_byte(90 + 150 * t + noise),
                             clamp_byte(30 + 120 * t * t + noise)};
            s.at(x, y) = with_opacity(colour, static_cast<std::uint8_t>(1 + std::lround(253 * t * t)));
        }
    }
    return s;
}

rgba_picture sprite_sheet(unsigned seed)
{
    std::mt19937 rng(seed);
    rgba_picture s = empty_sprite(sheet_size, sheet_size);
    const rgb_picture colours = photo_like(sheet_size, sheet_size, seed);
    for (int ty = 0; ty < sheet_size; ty += tile_size) {
        for (int tx = 0; tx < sheet_size; tx += tile_size) {
            const int radius = random_in(rng, 20, 30);
            const double cx = tx + random_in(rng, radius, tile_size - radius);
            const double cy = ty + random_in(rng, radius, tile_size - radius);
            draw_disc(s, colours, tx, ty, tile_size, cx, cy, radius, 3);
        }
    }
    return s;
}

std::vector<pixel16> pixels_565(const rgba_picture& sprite)
{
    std::vector<pixel16> out(sprite.pixels.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = rgb24_to_16(sprite.pixels[i].r, sprite.pixels[i].g, sprite.pixels[i].b);
    return out;
}

std::vector<std::uint8_t> opacity(const rgba_picture& sprite)
{
    std::vector<std::uint8_t> out(sprite.pixels.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = sprite.pixels[i].a;
    return out;
}

std::vector<pixel16> keyed_565(const rgba_picture& sprite, pixel16 key)
{
    std::vector<pixel16> out = pixels_565(sprite);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (sprite.pixels[i].a == 0)
            out[i] = key;
        else if (out[i] == key)
            out[i] ^= 1;
    }
    return out;
}

// ---------------------------------------------------------------- pixel art

namespace {

constexpr int art_size = 256;

// The palette's colours by role: six sky bands from index 0, then the
// landscape's, then the sprites' own up to the last.
constexpr int sky_bands = 6, palette_size = 32;
constexpr std::uint8_t sky0 = 0, hill_light = 6, hill_dark = 7, mortar = 8, brick_a = 9,
                       brick_b = 10, outline = 11, first_free = 12;

// The scene as palette indices, top row first.
using art_indices = std::vector<std::uint8_t>;

void fill_sky(art_indices& p)
{
    // Bands of 14 rows, each joined to the next by two rows of checkerboard dither.
    for (int y = 0; y < 96; ++y) {
        const int band = y / 16, within = y % 16;
        for (int x = 0; x < art_size; ++x) {
            const bool dither = within >= 14 && band + 1 < sky_bands && (x + y) % 2 == 0;
            p[static_cast<std::size_t>(y) * art_size + x] =
                static_cast<std::uint8_t>(sky0 + band + (dither ? 1 : 0));
        }
    }
}

void fill_hills_and_ground(art_indices& p)
{
    for (int x = 0; x < art_size; ++x) {
        const int top = 112 + static_cast<int>(14 * std::sin(x * 0.05) + 6 * std::sin(x * 0.13));
        for (int y = 96; y < art_size; ++y) {
            const int course = (y - 176) / 8, shifted = x + (course % 2) * 8; // bricks offset by half
            std::uint8_t c;
            if (y < top)
                c = static_cast<std::uint8_t>(sky0 + sky_bands - 1);
            else if (y < 176)
                c = (y - top) % 6 < 3 || (x + y) % 2 ? hill_light : hill_dark; // dithered stripes
            else if ((y - 176) % 8 == 0 || shifted % 16 == 0)
                c = mortar;
            else
                c = (shifted / 16 + course) % 2 ? brick_a : brick_b;
            p[static_cast<std::size_t>(y) * art_size + x] = c;
        }
    }
}

// A dozen outlined blobs, their lower half shaded by a checkerboard of a darker colour.
void draw_sprites(art_indices& p, std::mt19937& rng)
{
    for (int i = 0; i < 12; ++i) {
        const int rx = random_in(rng, 6, 14), ry = random_in(rng, 6, 14);
        const int cx = random_in(rng, rx + 1, art_size - rx - 2);
        const int cy = random_in(rng, ry + 1, art_size - ry - 2);
        const auto body = static_cast<std::uint8_t>(random_in(rng, first_free, palette_size - 2));
        for (int y = cy - ry - 1; y <= cy + ry + 1; ++y) {
            for (int x = cx - rx - 1; x <= cx + rx + 1; ++x) {
                const double e = std::pow((x - cx) / double(rx), 2) + std::pow((y - cy) / double(ry), 2);
                if (e > 1.25)
                    continue;
                std::uint8_t c = e > 1.0 ? outline : body;
                if (e <= 1.0 && y > cy && (x + y) % 2 == 0)
                    c = static_cast<std::uint8_t>(body + 1);
                p[static_cast<std::size_t>(y) * art_size + x] = c;
            }
        }
    }
}

} // namespace

rgba_picture pixel_art(std::uint16_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<rgba> palette;
    for (int i = 0; i < palette_size; ++i)
        palette.push_back({static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                           static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                           static_cast<std::uint8_t>(random_in(rng, 0, 255)), 255});
    art_indices scene(std::size_t{art_size} * art_size, 0);
    fill_sky(scene);
    fill_hills_and_ground(scene);
    draw_sprites(scene, rng);
    rgba_picture p = empty_sprite(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            p.at(x, y) = palette[scene[static_cast<std::size_t>(y % art_size) * art_size + x % art_size]];
    return p;
}

rgba_picture indexed_photo(std::uint16_t size, unsigned seed, unsigned colours)
{
    std::mt19937 rng(seed);
    std::vector<rgba> palette;
    for (unsigned k = 0; k < colours; ++k) {
        // A ramp from dark blue to light orange; red alone tells the colours apart.
        const auto r = static_cast<std::uint8_t>(k * 255 / (colours > 1 ? colours - 1 : 1));
        palette.push_back({r, static_cast<std::uint8_t>(40 + r * 3 / 4),
                           static_cast<std::uint8_t>(200 - r / 2), 255});
    }
    rgba_picture p = empty_sprite(size, size);
    const double fx = 6.0 / (size ? size : 1), fy = 5.0 / (size ? size : 1);
    const double phase = random_in(rng, 0, 628) / 100.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double t = 0.5 + 0.5 * std::sin(x * fx + phase) * std::cos(y * fy);
            const int k = static_cast<int>(t * colours) + random_in(rng, -1, 1);
            p.at(x, y) = palette[static_cast<std::size_t>(std::clamp<int>(k, 0, colours - 1))];
        }
    }
    return p;
}
