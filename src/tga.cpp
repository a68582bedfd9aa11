#include "tga.h"

#include <cstdio>

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

// Places pixels in the file's stored order into a top-down, left-to-right sprite.
struct pixel_sink {
    pixel16* pixels;
    std::size_t w, h;
    bool top_down;
    bool right_to_left;
    std::size_t row; // stored rows finished
    std::size_t col; // pixels put into the current stored row
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

// Returns false when the packets end before `count` pixels.
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
            length = count - n; // the picture ends inside this packet
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
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    pixel_sink sink{sprite->pixels, info->w, info->h, info->hv != 0, info->rl != 0, 0, 0};
    if (info->type == 2)
        decode_raw(info->data, count, sink);
    else if (!decode_rle(info->data, info->data_size, count, sink))
        refuse(info, tga_truncated, sprite);
}
