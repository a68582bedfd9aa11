#include "plain.h"

#include <cstddef>
#include <cstdio>

namespace plain {
namespace {

bool is_empty(std::size_t w, std::size_t h)
{
    return w == 0 || h == 0;
}

void copy_row(pixel16* to, const pixel16* from, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = from[i];
}

constexpr unsigned red8(pixel16 p) { return (p & 0xF800u) >> 8; }
constexpr unsigned green8(pixel16 p) { return (p & 0x07E0u) >> 3; }
constexpr unsigned blue8(pixel16 p) { return (p & 0x001Fu) << 3; }

constexpr std::uint8_t mix(unsigned s, unsigned d, unsigned weight)
{
    return static_cast<std::uint8_t>(((255 - weight) * s + weight * d) / 255);
}

pixel16 blend(pixel16 s, pixel16 d, unsigned weight)
{
    return rgb24_to_16(mix(red8(s), red8(d), weight), mix(green8(s), green8(d), weight),
                       mix(blue8(s), blue8(d), weight));
}

constexpr std::uint8_t over(unsigned s, unsigned d, unsigned a)
{
    return static_cast<std::uint8_t>((a * s + (255 - a) * d) / 255);
}

pixel16 blend_a8(pixel16 s, pixel16 d, unsigned a)
{
    return rgb24_to_16(over(red8(s), red8(d), a), over(green8(s), green8(d), a),
                       over(blue8(s), blue8(d), a));
}

pixel16 bgr_to_16(const std::uint8_t* bgr)
{
    return rgb24_to_16(bgr[2], bgr[1], bgr[0]);
}

struct pixel_sink {
    pixel16* pixels;
    std::size_t w, h;
    bool top_down;
    bool right_to_left;
    std::size_t row;
    std::size_t col;
};

void put_pixel(pixel_sink& sink, pixel16 p)
{
    const std::size_t y = sink.top_down ? sink.row : sink.h - 1 - sink.row;
    const std::size_t x = sink.right_to_left ? sink.w - 1 - sink.col : sink.col;
    sink.pixels[y * sink.w + x] = p;
    if (++sink.col == sink.w) {
        sink.col = 0;
        ++sink.row;
    }
}

void decode_raw(const std::uint8_t* data, std::uint64_t count, pixel_sink& sink)
{
    for (std::uint64_t n = 0; n < count; ++n)
        put_pixel(sink, bgr_to_16(data + 3 * n));
}

bool decode_rle(const std::uint8_t* data, std::size_t size, std::uint64_t count, pixel_sink& sink)
{
    constexpr std::size_t pixel_bytes = 3;
    std::size_t pos = 0;
    std::uint64_t n = 0;
    while (n < count) {
        if (pos == size)
            return false;
        const std::uint8_t header = data[pos++];
        std::uint64_t length = (header & 0x7Fu) + 1;
        if (length > count - n)
            length = count - n;
        if (header & 0x80) {
            if (size - pos < pixel_bytes)
                return false;
            const pixel16 p = bgr_to_16(data + pos);
            pos += pixel_bytes;
            for (std::uint64_t i = 0; i < length; ++i)
                put_pixel(sink, p);
        } else {
            if ((size - pos) / pixel_bytes < length)
                return false;
            for (std::uint64_t i = 0; i < length; ++i, pos += pixel_bytes)
                put_pixel(sink, bgr_to_16(data + pos));
        }
        n += length;
    }
    return true;
}

tga_check_t check(const tga_info_t* info)
{
    if (info->bpp != 24 || (info->type != 2 && info->type != 10))
        return tga_unsupported;
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    const std::uint64_t size = info->data_size;
    if (info->type == 2)
        return size / 3 < count ? tga_truncated : tga_ok;
    return (size / 4) * 128 < count ? tga_truncated : tga_ok;
}

void make_empty(sprite_t* sprite)
{
    sprite->w = 0;
    sprite->h = 0;
    sprite->bpp = 0;
}

void refuse(const tga_info_t* info, tga_check_t why, sprite_t* sprite)
{
    if (why == tga_unsupported)
        std::printf("tga24_to_sprite16: unsuppoted TGA format [%d/%dbpp]\n", info->type, info->bpp);
    else
        std::printf("tga24_to_sprite16: truncated TGA data [%dx%d]\n", info->w, info->h);
    make_empty(sprite);
}

} // namespace

int area_fill_16(sprite_t* dst, pixel16 value, const area_t* area)
{
    const std::size_t stride = dst->w;
    for (std::size_t y = area->y; y < std::size_t{area->y} + area->h; ++y) {
        pixel16* row = dst->pixels + y * stride + area->x;
        for (std::size_t x = 0; x < area->w; ++x)
            row[x] = value;
    }
    return 0;
}

int sprite_blit_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_16(dst, src, &whole, x, y);
}

int sprite_area_blit_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                        std::uint16_t x, std::uint16_t y)
{
    if (is_empty(area->w, area->h))
        return 0;
    for (std::size_t j = 0; j < area->h; ++j) {
        const pixel16* from = src->pixels + (area->y + j) * src->w + area->x;
        pixel16* to = dst->pixels + (y + j) * dst->w + x;
        copy_row(to, from, area->w);
    }
    return 0;
}

int sprite_blit_alpha_16(sprite_t* dst, const sprite_t* src, std::int32_t x, std::int32_t y,
                         std::uint8_t weight)
{
    if (is_empty(src->w, src->h))
        return 0;
    const auto x0 = static_cast<std::size_t>(x);
    const auto y0 = static_cast<std::size_t>(y);
    for (std::size_t j = 0; j < src->h; ++j) {
        const pixel16* from = src->pixels + j * src->w;
        pixel16* to = dst->pixels + (y0 + j) * dst->w + x0;
        for (std::size_t i = 0; i < src->w; ++i)
            to[i] = blend(from[i], to[i], weight);
    }
    return 0;
}

int sprite_blit_key_16(sprite_t* dst, const sprite_t* src, std::uint16_t x, std::uint16_t y,
                       pixel16 key)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_key_16(dst, src, &whole, x, y, key);
}

int sprite_area_blit_key_16(sprite_t* dst, const sprite_t* src, const area_t* area,
                            std::uint16_t x, std::uint16_t y, pixel16 key)
{
    for (std::size_t j = 0; j < area->h; ++j) {
        const pixel16* from = src->pixels + (area->y + j) * src->w + area->x;
        pixel16* to = dst->pixels + (y + j) * dst->w + x;
        for (std::size_t i = 0; i < area->w; ++i) {
            if (from[i] != key)
                to[i] = from[i];
        }
    }
    return 0;
}

int sprite_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                      std::uint16_t x, std::uint16_t y)
{
    const area_t whole{0, 0, src->w, src->h};
    return sprite_area_blit_a8_16(dst, src, alpha, &whole, x, y);
}

int sprite_area_blit_a8_16(sprite_t* dst, const sprite_t* src, const std::uint8_t* alpha,
                           const area_t* area, std::uint16_t x, std::uint16_t y)
{
    for (std::size_t j = 0; j < area->h; ++j) {
        const std::size_t first = (area->y + j) * src->w + area->x;
        pixel16* to = dst->pixels + (y + j) * dst->w + x;
        for (std::size_t i = 0; i < area->w; ++i)
            to[i] = blend_a8(src->pixels[first + i], to[i], alpha[first + i]);
    }
    return 0;
}

void tga24_to_sprite16(const tga_info_t* info, sprite_t* sprite)
{
    const tga_check_t verdict = check(info);
    if (verdict != tga_ok) {
        refuse(info, verdict, sprite);
        return;
    }
    sprite->w = info->w;
    sprite->h = info->h;
    sprite->bpp = 16;
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    pixel_sink sink{sprite->pixels, info->w, info->h, info->hv != 0, info->rl != 0, 0, 0};
    if (info->type == 2)
        decode_raw(info->data, count, sink);
    else if (!decode_rle(info->data, info->data_size, count, sink))
        refuse(info, tga_truncated, sprite);
}

} // namespace plain
