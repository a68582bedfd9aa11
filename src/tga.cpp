#include <velmora/tga.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "kernels/kernels.h"
#include "kernels/kernels_levels.h"
#include "tga_level.h"

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
    *info = tga_info_t{file, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, file, 0};
    if (file_size < tga_header_size)
        return -1;
    const std::size_t available = file_size - tga_header_size;
    const std::size_t skip = bytes_before_data(file);
    info->file_size = file_size;
    info->descriptor = file[17];
    info->map_type = file[1];
    info->map_first = read_le16(file + 3);
    info->map_length = read_le16(file + 5);
    info->map_bits = file[7];
    if (file[1] == 1 && skip <= available)
        info->map = file + tga_header_size + file[0];
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

// ---------------------------------------------------------------- every variant

namespace {

struct variant {
    bool supported;
    bool mapped;     // types 1 and 9: needs its colour map
    bool run_length;
    std::size_t pixel_bytes;
};

variant variant_of(const tga_info_t* info)
{
    const unsigned type = info->type;
    const unsigned bpp = info->bpp;
    const bool run_length = type >= 9;
    const unsigned base = run_length ? type - 8 : type;
    bool supported = false;
    if (base == 1) {
        const unsigned bits = info->map_bits;
        supported = bpp == 8 && info->map_type == 1 &&
                    (bits == 15 || bits == 16 || bits == 24 || bits == 32);
    } else if (base == 2) {
        supported = bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32;
    } else if (base == 3) {
        supported = bpp == 8 || bpp == 16;
    }
    return {supported, base == 1, run_length, (bpp + 7u) / 8};
}

std::uint32_t read_le32(const std::uint8_t* p)
{
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr std::size_t footer_size = 26;
constexpr std::size_t extension_attributes = 494;

// The attributes type of a TGA 2.0 extension area lying whole inside the file
// before its footer, or -1 when there is none.
int extension_attributes_type(const tga_info_t* info)
{
    const std::size_t size = info->file_size;
    if (size < footer_size)
        return -1;
    const std::uint8_t* footer = info->file + (size - footer_size);
    static const char signature[] = "TRUEVISION-XFILE.";
    if (std::memcmp(footer + 8, signature, sizeof signature) != 0) // the NUL included
        return -1;
    const std::uint64_t offset = read_le32(footer);
    if (offset < tga_header_size || offset + extension_attributes + 1 > size - footer_size)
        return -1;
    return info->file[offset + extension_attributes];
}

// Whether the fourth bytes of 32-bit pixels or map entries are opacities, as
// far as the footer tells: 1 yes, 0 no, -1 it does not say.
int footer_says_alpha(const tga_info_t* info)
{
    const int attributes = extension_attributes_type(info);
    if (attributes >= 0 && attributes <= 2)
        return 0;
    if (attributes == 3 || attributes == 4)
        return 1;
    return -1;
}

unsigned alpha_bits(const tga_info_t* info)
{
    return info->descriptor & 0x0Fu;
}

// Every map entry's fourth byte 0, with a descriptor that claims no alpha: the
// bytes were left unused.
bool map_alpha_unused(const tga_info_t* info)
{
    if (alpha_bits(info) != 0)
        return false;
    for (std::size_t i = 0; i < info->map_length; ++i) {
        if (info->map[4 * i + 3] != 0)
            return false;
    }
    return true;
}

// The colour map packed for the kernels: entry by stored index, and on the
// builds with byte-shuffle lookups the same as three planes of 256 bytes. A
// Cortex-M build carries only the first kilobyte.
struct packed_map {
    std::uint32_t both[256];
#if VELMORA_X86_SIMD || VELMORA_NEON
    std::uint8_t planes[3 * 256]; // low bytes, high bytes, opacities
#endif
};

// Entries are converted this many at a time, through a small buffer rather
// than whole maps of pixels and opacities beside the tables.
constexpr std::size_t map_chunk = 32;

void put_entries(packed_map& map, unsigned index, const pixel16* pixels,
                 const std::uint8_t* alpha, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i, ++index) {
        map.both[index] = pixels[i] | std::uint32_t{alpha[i]} << 16;
#if VELMORA_X86_SIMD || VELMORA_NEON
        map.planes[index] = static_cast<std::uint8_t>(pixels[i]);
        map.planes[256 + index] = static_cast<std::uint8_t>(pixels[i] >> 8);
        map.planes[512 + index] = alpha[i];
#endif
    }
}

// Index i (first <= i < first + length, i < 256) gets entry i - first: the
// entries up to index 255 convert as one stretch of stored pixels. The rest
// of the table holds outside_map, and its planes 0.
stored_format pack_map(simd_level level, const tga_info_t* info, packed_map& map)
{
    std::memset(&map, 0, sizeof map);
    std::fill(std::begin(map.both), std::end(map.both), outside_map);
    const unsigned first = info->map_first < 256 ? info->map_first : 256;
    const unsigned end = std::min<unsigned>(info->map_first + info->map_length, 256u);
    const std::size_t n = end > first ? end - first : 0;
    // 15/16-bit entries are opaque, whatever their bit 15 says.
    stored_format entries{stored_kind::argb16, false, nullptr, 0, 0};
    if (info->map_bits == 32) {
        const int footer = footer_says_alpha(info);
        entries.kind = stored_kind::bgra32;
        entries.alpha_counts = footer >= 0 ? footer == 1 : !map_alpha_unused(info);
    }
    const std::size_t entry_bytes = (info->map_bits + 7u) / 8;
    pixel16 pixels[map_chunk];
    std::uint8_t alpha[map_chunk];
    for (std::size_t done = 0; done < n; done += map_chunk) {
        const std::size_t k = std::min(map_chunk, n - done);
        const std::uint8_t* stored = info->map + done * entry_bytes;
        if (info->map_bits == 24) {
            convert_bgr(level, pixels, stored, k);
            std::memset(alpha, 255, k);
        } else {
            const picture_planes row{pixels, alpha, k, 1, true, false};
            decode_stored(level, entries, stored, k * entry_bytes, false, row);
        }
        put_entries(map, first + static_cast<unsigned>(done), pixels, alpha, k);
    }
#if VELMORA_X86_SIMD || VELMORA_NEON
    const std::uint8_t* planes = map.planes;
#else
    const std::uint8_t* planes = nullptr;
#endif
    stored_format format{stored_kind::index8, false, map.both, first, std::max(first, end), planes};
    format.one_opacity = std::all_of(map.both + first, map.both + format.end, [&](std::uint32_t e) {
        return e >> 16 == map.both[first] >> 16;
    });
    return format;
}

stored_format true_colour_format(const tga_info_t* info)
{
    switch (info->bpp) {
    case 32: return {stored_kind::bgra32, footer_says_alpha(info) != 0, nullptr, 0, 0};
    case 16:
        if (info->type == 3 || info->type == 11)
            return {stored_kind::grey_alpha16, true, nullptr, 0, 0};
        return {stored_kind::argb16, alpha_bits(info) == 1, nullptr, 0, 0};
    case 15: return {stored_kind::argb16, false, nullptr, 0, 0};
    default: return {stored_kind::grey8, false, nullptr, 0, 0};
    }
}

// A 32-bit picture without a footer to say otherwise, whose descriptor claims
// no alpha and whose alpha bytes all came out 0, is opaque.
void settle_unused_alpha(const tga_info_t* info, std::uint8_t* alpha, std::size_t count)
{
    if (info->bpp != 32 || alpha_bits(info) != 0 || footer_says_alpha(info) >= 0)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        if (alpha[i] != 0)
            return;
    }
    std::memset(alpha, 255, count);
}

tga_check_t decode_24(simd_level level, const tga_info_t* info, sprite_t* sprite,
                      std::uint8_t* alpha)
{
    const tga_check_t check = tga24_check(info);
    if (check != tga_ok)
        return check;
    const picture_rows rows{sprite->pixels, info->w, info->h, info->hv != 0, info->rl != 0};
    if (info->type == 2)
        expand_raw(level, info->data, rows);
    else if (!expand_rle(level, info->data, info->data_size, rows))
        return tga_truncated;
    if (alpha != nullptr)
        std::memset(alpha, 255, std::size_t{info->w} * info->h);
    return tga_ok;
}

tga_check_t decode_stored_picture(simd_level level, const tga_info_t* info,
                                  const stored_format& format, sprite_t* sprite,
                                  std::uint8_t* alpha)
{
    const bool top_down = info->hv != 0;
    const picture_planes planes{sprite->pixels, alpha, info->w, info->h, top_down, info->rl != 0};
    const bool run_length = info->type >= 9;
    switch (decode_stored(level, format, info->data, info->data_size, run_length, planes)) {
    case stored_status::truncated: return tga_truncated;
    case stored_status::corrupt: return tga_corrupt;
    case stored_status::ok: break;
    }
    if (alpha != nullptr && format.kind == stored_kind::bgra32)
        settle_unused_alpha(info, alpha, std::size_t{info->w} * info->h);
    return tga_ok;
}

// Kept out of line so that the map's tables sit in this frame only, not in
// the decoder's frame for every true-colour file: on a Cortex-M every byte of
// stack counts.
__attribute__((noinline)) tga_check_t decode_mapped(simd_level level, const tga_info_t* info,
                                                    sprite_t* sprite, std::uint8_t* alpha)
{
    packed_map map;
    return decode_stored_picture(level, info, pack_map(level, info, map), sprite, alpha);
}

} // namespace

tga_check_t tga_check(const tga_info_t* info)
{
    const variant v = variant_of(info);
    if (!v.supported)
        return tga_unsupported;
    if (v.mapped && info->map == nullptr)
        return tga_truncated;
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    const std::uint64_t best_case =
        v.run_length ? (count + 127) / 128 * (1 + v.pixel_bytes) : count * v.pixel_bytes;
    return info->data_size < best_case ? tga_truncated : tga_ok;
}

tga_check_t tga_to_sprite16_at(simd_level level, const tga_info_t* info, sprite_t* sprite,
                               std::uint8_t* alpha)
{
    const variant v = variant_of(info);
    tga_check_t status = tga_ok;
    if (!v.supported)
        status = tga_unsupported;
    else if (v.mapped && info->map == nullptr)
        status = tga_truncated;
    else if (info->w == 0 || info->h == 0)
        status = tga_ok;
    else if (info->bpp == 24)
        status = decode_24(level, info, sprite, alpha);
    else if (v.mapped)
        status = decode_mapped(level, info, sprite, alpha);
    else
        status = decode_stored_picture(level, info, true_colour_format(info), sprite, alpha);
    if (status != tga_ok) {
        make_empty(sprite);
        return status;
    }
    sprite->w = info->w;
    sprite->h = info->h;
    sprite->bpp = 16;
    return tga_ok;
}

tga_check_t tga_to_sprite16(const tga_info_t* info, sprite_t* sprite, std::uint8_t* alpha)
{
    return tga_to_sprite16_at(best_simd_level(), info, sprite, alpha);
}
