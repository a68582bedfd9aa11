#include "tga.h"

#include <cstdio>

#include "kernels.h"

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
    const picture_rows rows{sprite->pixels, info->w, info->h, info->hv != 0, info->rl != 0};
    if (info->type == 2)
        expand_raw(best_simd_level(), info->data, rows);
    else if (!expand_rle(best_simd_level(), info->data, info->data_size, rows))
        refuse(info, tga_truncated, sprite);
}
