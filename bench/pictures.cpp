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

constexpr std::size_t rgba_bytes = 4;

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

void put_rgba(rgba_sprite& s, int x, int y, const rgb& c, std::uint8_t a)
{
    std::uint8_t* p = s.rgba.data() + (static_cast<std::size_t>(y) * s.w + x) * rgba_bytes;
    if (a == 0) {
        p[0] = p[1] = p[2] = p[3] = 0;
        return;
    }
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
    p[3] = a;
}

rgba_sprite empty_sprite(std::uint16_t w, std::uint16_t h)
{
    rgba_sprite s;
    s.w = w;
    s.h = h;
    s.rgba.assign(std::size_t{w} * h * rgba_bytes, 0);
    return s;
}

// A disc of `colours` at (cx, cy) drawn into the rectangle [x0, x0 + size)^2 of `s`.
void draw_disc(rgba_sprite& s, const rgb_picture& colours, int x0, int y0, int size, double cx,
               double cy, double radius, double edge)
{
    for (int y = y0; y < y0 + size; ++y)
        for (int x = x0; x < x0 + size; ++x)
            put_rgba(s, x, y, colours.at(x, y),
                     disc_opacity(radius - distance(x + 0.5, y + 0.5, cx, cy), edge));
}

} // namespace

rgba_sprite soft_disc(std::uint16_t size, unsigned seed)
{
    rgba_sprite s = empty_sprite(size, size);
    const double scale = size / 256.0;
    draw_disc(s, photo_like(size, size, seed), 0, 0, size, size / 2.0, size / 2.0, 120 * scale,
              4 * scale);
    return s;
}

rgba_sprite glow(std::uint16_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    rgba_sprite s = empty_sprite(size, size);
    const double c = size / 2.0, corner = distance(0, 0, c, c);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double t = 1 - distance(x + 0.5, y + 0.5, c, c) / corner; // 1 centre, 0 corner
            const int noise = random_in(rng, -4, 4);
            const rgb colour{clamp_byte(200 + 55 * t + noise), clamp_byte(90 + 150 * t + noise),
                             clamp_byte(30 + 120 * t * t + noise)};
            put_rgba(s, x, y, colour, static_cast<std::uint8_t>(1 + std::lround(253 * t * t)));
        }
    }
    return s;
}

rgba_sprite sprite_sheet(unsigned seed)
{
    std::mt19937 rng(seed);
    rgba_sprite s = empty_sprite(sheet_size, sheet_size);
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

std::vector<pixel16> pixels_565(const rgba_sprite& sprite)
{
    std::vector<pixel16> out(std::size_t{sprite.w} * sprite.h);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint8_t* p = sprite.rgba.data() + i * rgba_bytes;
        out[i] = rgb24_to_16(p[0], p[1], p[2]);
    }
    return out;
}

std::vector<std::uint8_t> opacity(const rgba_sprite& sprite)
{
    std::vector<std::uint8_t> out(std::size_t{sprite.w} * sprite.h);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = sprite.rgba[i * rgba_bytes + 3];
    return out;
}

std::vector<pixel16> keyed_565(const rgba_sprite& sprite, pixel16 key)
{
    std::vector<pixel16> out = pixels_565(sprite);
    const std::vector<std::uint8_t> a = opacity(sprite);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (a[i] == 0)
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

void fill_sky(indexed_picture& p)
{
    // Bands of 14 rows, each joined to the next by two rows of checkerboard dither.
    for (int y = 0; y < 96; ++y) {
        const int band = y / 16, within = y % 16;
        for (int x = 0; x < art_size; ++x) {
            const bool dither = within >= 14 && band + 1 < sky_bands && (x + y) % 2 == 0;
            p.index[static_cast<std::size_t>(y) * art_size + x] =
                static_cast<std::uint8_t>(sky0 + band + (dither ? 1 : 0));
        }
    }
}

void fill_hills_and_ground(indexed_picture& p)
{
    for (int x = 0; x < art_size; ++x) {
        const int top = 112 + static_cast<int>(14 * std::sin(x * 0.05) + 6 * std::sin(x * 0.13));
        for (int y = 96; y < art_size; ++y) {
            std::uint8_t c;
            if (y < top)
                c = static_cast<std::uint8_t>(sky0 + sky_bands - 1);
            else if (y < 176)
                c = (y - top) % 6 < 3 || (x + y) % 2 ? hill_light : hill_dark; // dithered stripes
            else if ((y - 176) % 8 == 0 || (x + ((y - 176) / 8 % 2) * 8) % 16 == 0)
                c = mortar;
            else
                c = ((x + ((y - 176) / 8 % 2) * 8) / 16 + (y - 176) / 8) % 2 ? brick_a : brick_b;
            p.index[static_cast<std::size_t>(y) * art_size + x] = c;
        }
    }
}

// A dozen outlined blobs, their lower half shaded by a checkerboard of a darker colour.
void draw_sprites(indexed_picture& p, std::mt19937& rng)
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
                p.index[static_cast<std::size_t>(y) * art_size + x] = c;
            }
        }
    }
}

indexed_picture art_scene(unsigned seed)
{
    std::mt19937 rng(seed);
    indexed_picture p;
    p.w = p.h = art_size;
    p.index.assign(std::size_t{art_size} * art_size, 0);
    for (int i = 0; i < palette_size; ++i)
        p.palette.push_back({static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                             static_cast<std::uint8_t>(random_in(rng, 0, 255)),
                             static_cast<std::uint8_t>(random_in(rng, 0, 255))});
    fill_sky(p);
    fill_hills_and_ground(p);
    draw_sprites(p, rng);
    return p;
}

} // namespace

indexed_picture pixel_art(std::uint16_t size, unsigned seed)
{
    const indexed_picture scene = art_scene(seed);
    indexed_picture p;
    p.w = p.h = size;
    p.palette = scene.palette;
    p.index.resize(std::size_t{size} * size);
    for (std::size_t y = 0; y < size; ++y)
        for (std::size_t x = 0; x < size; ++x)
            p.index[y * size + x] = scene.index[(y % art_size) * art_size + x % art_size];
    return p;
}

// ---------------------------------------------------------------- TGA variants

namespace {

// Pixels of `pixel_bytes` each, top row first, put into the layout's stored order.
std::vector<std::uint8_t> in_stored_order(const std::vector<std::uint8_t>& top_down, std::size_t w,
                                          std::size_t h, std::size_t pixel_bytes,
                                          const tga_layout& layout)
{
    std::vector<std::uint8_t> out;
    out.reserve(top_down.size());
    for (std::size_t row = 0; row < h; ++row) {
        const std::size_t y = layout.top_down ? row : h - 1 - row;
        for (std::size_t col = 0; col < w; ++col) {
            const std::size_t x = layout.right_to_left ? w - 1 - col : col;
            const auto first = top_down.begin() + static_cast<std::ptrdiff_t>((y * w + x) * pixel_bytes);
            out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(pixel_bytes));
        }
    }
    return out;
}

bool same_stored(const std::vector<std::uint8_t>& px, std::size_t a, std::size_t b, std::size_t n)
{
    return std::equal(px.begin() + a * n, px.begin() + (a + 1) * n, px.begin() + b * n);
}

std::size_t run_at(const std::vector<std::uint8_t>& px, std::size_t i, std::size_t count, std::size_t n)
{
    std::size_t run = 1;
    while (i + run < count && run < 128 && same_stored(px, i, i + run, n))
        ++run;
    return run;
}

// As tools/tga_writer packs 3-byte pixels: runs of two or more become run
// packets, the rest raw packets, across row ends.
std::vector<std::uint8_t> packets(const std::vector<std::uint8_t>& px, std::size_t n)
{
    const std::size_t count = px.size() / n;
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = run_at(px, i, count, n);
        const bool repeat = run >= 2;
        if (!repeat)
            while (i + run < count && run < 128 && run_at(px, i + run, count, n) < 2)
                ++run;
        out.push_back(static_cast<std::uint8_t>((repeat ? 0x80 : 0) | (run - 1)));
        const auto first = px.begin() + static_cast<std::ptrdiff_t>(i * n);
        out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>((repeat ? 1 : run) * n));
        i += run;
    }
    return out;
}

std::vector<std::uint8_t> tga_file(std::uint8_t raw_type, std::uint16_t w, std::uint16_t h,
                                   std::uint8_t bpp, std::uint8_t alpha_bits,
                                   const std::vector<std::uint8_t>& map,
                                   const std::vector<std::uint8_t>& top_down_pixels,
                                   const tga_layout& layout)
{
    const std::size_t pixel_bytes = bpp / 8u;
    const auto descriptor = static_cast<std::uint8_t>((layout.top_down ? 0x20 : 0) |
                                                      (layout.right_to_left ? 0x10 : 0) | alpha_bits);
    const auto type = static_cast<std::uint8_t>(raw_type + (layout.run_length ? 8 : 0));
    const auto map_entries = static_cast<std::uint16_t>(map.size() / 3);
    std::vector<std::uint8_t> out = tga_header(type, w, h, bpp, descriptor, 0, map.empty() ? 0 : 1,
                                               map_entries, map.empty() ? 0 : 24);
    out.insert(out.end(), map.begin(), map.end());
    const std::vector<std::uint8_t> stored = in_stored_order(top_down_pixels, w, h, pixel_bytes, layout);
    const std::vector<std::uint8_t> data = layout.run_length ? packets(stored, pixel_bytes) : stored;
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

} // namespace

std::vector<std::uint8_t> tga32_encode(const rgba_sprite& sprite, const tga_layout& layout)
{
    std::vector<std::uint8_t> bgra(sprite.rgba.size());
    for (std::size_t i = 0; i < bgra.size(); i += rgba_bytes) {
        bgra[i] = sprite.rgba[i + 2];
        bgra[i + 1] = sprite.rgba[i + 1];
        bgra[i + 2] = sprite.rgba[i];
        bgra[i + 3] = sprite.rgba[i + 3];
    }
    return tga_file(2, sprite.w, sprite.h, 32, 8, {}, bgra, layout);
}

std::vector<std::uint8_t> tga16_encode(const rgba_sprite& sprite, const tga_layout& layout)
{
    std::vector<std::uint8_t> words(sprite.rgba.size() / 2);
    for (std::size_t i = 0; i < words.size() / 2; ++i) {
        const std::uint8_t* p = sprite.rgba.data() + i * rgba_bytes;
        const unsigned v = (p[3] >= 128 ? 0x8000u : 0) | (p[0] >> 3u) << 10 | (p[1] >> 3u) << 5 | p[2] >> 3u;
        words[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
        words[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    return tga_file(2, sprite.w, sprite.h, 16, 1, {}, words, layout);
}

std::vector<std::uint8_t> tga_mapped_encode(const indexed_picture& picture, const tga_layout& layout)
{
    std::vector<std::uint8_t> map;
    for (const rgb& c : picture.palette)
        map.insert(map.end(), {c.b, c.g, c.r});
    return tga_file(1, picture.w, picture.h, 8, 0, map, picture.index, layout);
}
