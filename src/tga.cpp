#include "tga.h"

#include <algorithm>
#include <cstdio>

#include "spans.h"

namespace {

std::uint16_t read_le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Bytes between the header and the pixel data. At most 255 + 65535 * 32, so
// even on a 32-bit size_t the sum cannot wrap.
std::size_t bytes_before_data(const std::uint8_t* header)
{
    const std::size_t id_length = header[0];
    if (header[1] != 1)
        return id_length;
    const std::size_t entries = read_le16(header + 5);
    const std::size_t entry_bytes = (header[7] + 7u) / 8;
    return id_length + entries * entry_bytes;
}

pixel16 bgr_to_16(const std::uint8_t* bgr)
{
    return rgb24_to_16(bgr[2], bgr[1], bgr[0]);
}

constexpr std::size_t pixel_bytes = 3;

// Where decoded pixels go: the n-th stored row is sprite row n (top row first)
// or h - 1 - n (bottom row first), and a row's pixels run left to right or,
// mirrored, right to left. Pixels arrive in spans that never cross a row end,
// so each span is one contiguous stretch of the sprite.
struct pixel_sink {
    pixel16* pixels;
    std::size_t w, h;
    bool top_down;
    bool right_to_left;
    std::size_t row; // stored rows finished
    std::size_t col; // pixels put into the current stored row
};

// A picture stored top row first, left to right, fills its pixels in order: as
// one row of w * h pixels it takes every packet whole.
pixel_sink make_sink(pixel16* pixels, const tga_info_t* info)
{
    const bool top_down = info->hv != 0, right_to_left = info->rl != 0;
    if (top_down && !right_to_left)
        return {pixels, std::size_t{info->w} * info->h, 1, true, false, 0, 0};
    return {pixels, info->w, info->h, top_down, right_to_left, 0, 0};
}

std::size_t room_in_row(const pixel_sink& sink)
{
    return sink.w - sink.col;
}

// The next n pixels of the current stored row (n <= room_in_row), in the sprite.
pixel16* next_span(const pixel_sink& sink, std::size_t n)
{
    const std::size_t y = sink.top_down ? sink.row : sink.h - 1 - sink.row;
    const std::size_t x = sink.right_to_left ? sink.w - sink.col - n : sink.col;
    return sink.pixels + y * sink.w + x;
}

void advance(pixel_sink& sink, std::size_t n)
{
    sink.col += n;
    if (sink.col == sink.w) {
        sink.col = 0;
        ++sink.row;
    }
}

void put_run(pixel_sink& sink, simd_level level, pixel16 p, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        fill_rows(level, next_span(sink, k), k, 1, 0, p);
        advance(sink, k);
        n -= k;
    }
}

// Converts n stored pixels; a mirrored row gets each span converted in place,
// then turned around.
void put_pixels(pixel_sink& sink, simd_level level, const std::uint8_t* bgr, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        pixel16* span = next_span(sink, k);
        convert_bgr(level, span, bgr, k);
        if (sink.right_to_left)
            std::reverse(span, span + k);
        advance(sink, k);
        bgr += pixel_bytes * k;
        n -= k;
    }
}

// Returns false when the packets end before `count` pixels. Every packet is
// checked whole before any of its pixels is written.
bool decode_rle(const std::uint8_t* data, std::size_t size, std::size_t count, pixel_sink& sink,
                simd_level level)
{
    std::size_t pos = 0;
    std::size_t n = 0;
    while (n < count) {
        if (pos == size)
            return false;
        const std::uint8_t header = data[pos++];
        // The picture may end inside this packet.
        const std::size_t length = std::min<std::size_t>((header & 0x7Fu) + 1, count - n);
        if (header & 0x80) {
            if (size - pos < pixel_bytes)
                return false;
            put_run(sink, level, bgr_to_16(data + pos), length);
            pos += pixel_bytes;
        } else {
            if ((size - pos) / pixel_bytes < length)
                return false;
            put_pixels(sink, level, data + pos, length);
            pos += pixel_bytes * length;
        }
        n += length;
    }
    return true;
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

int tga_info(const std::uint8_t* file, std::size_t file_size, tga_info_t* info)
{
    *info = tga_info_t{file, 0, 0, 0, 0, 0, 0, 0};
    if (file_size < tga_header_size)
        return -1;
    const std::size_t available = file_size - tga_header_size;
    const std::size_t skip = bytes_before_data(file);
    info->data = file + tga_header_size + (skip < available ? skip : available);
    info->data_size = skip < available ? available - skip : 0;
    info->w = read_le16(file + 12);
    info->h = read_le16(file + 14);
    info->bpp = file[16];
    info->hv = file[17] & 0x20;
    info->rl = file[17] & 0x10;
    info->type = file[2];
    return 0;
}

tga_check_t tga24_check(const tga_info_t* info)
{
    if (info->bpp != 24 || (info->type != 2 && info->type != 10))
        return tga_unsupported;
    // 65535 * 65535 * 3 fits easily in 64 bits.
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    const std::uint64_t size = info->data_size;
    if (info->type == 2)
        return size / 3 < count ? tga_truncated : tga_ok;
    // A packet of 4 bytes (header and one pixel) stands for at most 128 pixels.
    return (size / 4) * 128 < count ? tga_truncated : tga_ok;
}

void tga24_to_sprite16(const tga_info_t* info, sprite_t* sprite)
{
    const tga_check_t check = tga24_check(info);
    if (check != tga_ok) {
        refuse(info, check, sprite);
        return;
    }
    sprite->w = info->w;
    sprite->h = info->h;
    sprite->bpp = 16;
    // At most 65535 * 65535, which fits a 32-bit size_t too.
    const std::size_t count = std::size_t{info->w} * info->h;
    pixel_sink sink = make_sink(sprite->pixels, info);
    if (info->type == 2)
        put_pixels(sink, best_simd_level(), info->data, count);
    else if (!decode_rle(info->data, info->data_size, count, sink, best_simd_level()))
        refuse(info, tga_truncated, sprite);
}
