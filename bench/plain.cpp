#include "plain.h"

#include <algorithm>
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

int sprite_area_copy_be_16(std::uint8_t* out, const sprite_t* src, const area_t* area)
{
    if (out == nullptr || src == nullptr || area == nullptr)
        return -1;
    if (area->w != 0 && area->h != 0 && src->pixels == nullptr)
        return -1;
    for (std::size_t j = 0; j < area->h; ++j) {
        for (std::size_t i = 0; i < area->w; ++i) {
            const pixel16 p = src->pixels[(area->y + j) * src->w + area->x + i];
            *out++ = static_cast<std::uint8_t>(p >> 8);
            *out++ = static_cast<std::uint8_t>(p & 0xFF);
        }
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

// ---------------------------------------------------------------- every variant

namespace {

inline unsigned le16(const std::uint8_t* p)
{
    return p[0] + 256u * p[1];
}

// 0 when the decoder does not read the variant, else bytes per stored pixel.
std::size_t bytes_per_pixel(const tga_info_t* info)
{
    const unsigned bits = info->map_bits;
    switch (info->type) {
    case 1:
    case 9:
        if (info->bpp == 8 && info->map_type == 1 && (bits == 15 || bits == 16 || bits == 24 || bits == 32))
            return 1;
        return 0;
    case 2:
    case 10:
        if (info->bpp == 15 || info->bpp == 16)
            return 2;
        return info->bpp == 24 ? 3 : info->bpp == 32 ? 4 : 0;
    case 3:
    case 11: return info->bpp == 8 ? 1 : info->bpp == 16 ? 2 : 0;
    default: return 0;
    }
}

bool is_mapped(const tga_info_t* info)
{
    return info->type == 1 || info->type == 9;
}

// The attributes type of a whole extension area before a TGA 2.0 footer, or -1.
int attributes_type(const tga_info_t* info)
{
    const std::size_t size = info->file_size;
    if (size < 26)
        return -1;
    const std::uint8_t* footer = info->file + size - 26;
    const char* signature = "TRUEVISION-XFILE.";
    for (int i = 0; i < 18; ++i) {
        if (footer[8 + i] != static_cast<std::uint8_t>(signature[i]))
            return -1;
    }
    const std::uint64_t offset = le16(footer) + 65536ull * le16(footer + 2);
    if (offset < 18 || offset + 494 >= size - 26)
        return -1;
    return info->file[offset + 494];
}

// Whether the 4th byte of 32-bit pixels or entries is read as opacity, when
// the footer decides it: 1 yes, 0 no, -1 no decision.
int footer_decision(const tga_info_t* info)
{
    const int t = attributes_type(info);
    return t == 0 || t == 1 || t == 2 ? 0 : t == 3 || t == 4 ? 1 : -1;
}

struct colour {
    pixel16 pixel;
    std::uint8_t alpha;
};

inline std::uint8_t widen5(unsigned v)
{
    return static_cast<std::uint8_t>(v << 3 | v >> 2);
}

inline colour from_16_bits(const std::uint8_t* p, bool alpha_bit)
{
    const unsigned v = le16(p);
    const pixel16 px = rgb24_to_16(widen5(v >> 10 & 31), widen5(v >> 5 & 31), widen5(v & 31));
    return {px, static_cast<std::uint8_t>(alpha_bit && !(v & 0x8000) ? 0 : 255)};
}

inline colour from_bytes(const std::uint8_t* p, std::size_t bytes, bool fourth_counts)
{
    if (bytes == 2)
        return from_16_bits(p, false);
    return {bgr_to_16(p), static_cast<std::uint8_t>(bytes == 4 && fourth_counts ? p[3] : 255)};
}

// Everything needed to turn one stored pixel into a colour.
struct reader {
    const tga_info_t* info;
    std::size_t bytes;
    bool fourth_counts; // 32-bit pixels or map entries
};

reader make_reader(const tga_info_t* info)
{
    reader r{info, bytes_per_pixel(info), true};
    const bool mapped = is_mapped(info);
    if ((mapped ? info->map_bits : info->bpp) != 32)
        return r;
    const int decision = footer_decision(info);
    if (decision >= 0) {
        r.fourth_counts = decision == 1;
    } else if (mapped && (info->descriptor & 0x0F) == 0) {
        bool all_zero = true;
        for (std::size_t i = 0; i < info->map_length; ++i)
            all_zero = all_zero && info->map[4 * i + 3] == 0;
        r.fourth_counts = !all_zero;
    }
    return r;
}

// False for an index outside the colour map.
inline bool read_pixel(const reader& r, const std::uint8_t* p, colour& c)
{
    const tga_info_t* info = r.info;
    if (is_mapped(info)) {
        const long entry = static_cast<long>(p[0]) - info->map_first;
        if (entry < 0 || entry >= info->map_length)
            return false;
        const std::size_t entry_bytes = (info->map_bits + 7u) / 8;
        c = from_bytes(info->map + entry_bytes * static_cast<std::size_t>(entry), entry_bytes, r.fourth_counts);
        return true;
    }
    const bool grey = info->type == 3 || info->type == 11;
    if (grey)
        c = {rgb24_to_16(p[0], p[0], p[0]), static_cast<std::uint8_t>(r.bytes == 2 ? p[1] : 255)};
    else if (r.bytes == 2)
        c = from_16_bits(p, info->bpp == 16 && (info->descriptor & 0x0F) == 1);
    else
        c = from_bytes(p, r.bytes, r.fourth_counts);
    return true;
}

struct planes {
    pixel_sink sink;
    std::uint8_t* alpha;
};

inline void put(planes& out, colour c)
{
    pixel_sink& s = out.sink;
    const std::size_t y = s.top_down ? s.row : s.h - 1 - s.row;
    const std::size_t x = s.right_to_left ? s.w - 1 - s.col : s.col;
    s.pixels[y * s.w + x] = c.pixel;
    if (out.alpha != nullptr)
        out.alpha[y * s.w + x] = c.alpha;
    if (++s.col == s.w) {
        s.col = 0;
        ++s.row;
    }
}

tga_check_t decode_any(const reader& r, std::uint64_t count, planes& out)
{
    const std::uint8_t* data = r.info->data;
    const std::size_t size = r.info->data_size;
    const bool run_length = r.info->type >= 9;
    std::size_t pos = 0;
    std::uint64_t n = 0;
    colour c{};
    while (n < count) {
        if (!run_length) {
            if (size - pos < r.bytes)
                return tga_truncated;
            if (!read_pixel(r, data + pos, c))
                return tga_corrupt;
            put(out, c);
            pos += r.bytes;
            ++n;
            continue;
        }
        if (pos == size)
            return tga_truncated;
        const std::uint8_t header = data[pos++];
        const std::uint64_t length = std::min<std::uint64_t>((header & 0x7Fu) + 1, count - n);
        for (std::uint64_t i = 0; i < length; ++i) {
            const bool fresh = !(header & 0x80) || i == 0;
            if (fresh) {
                if (size - pos < r.bytes)
                    return tga_truncated;
                if (!read_pixel(r, data + pos, c))
                    return tga_corrupt;
                pos += r.bytes;
            }
            // A run's pixels all wait for its one pixel to be read.
            if (!(header & 0x80))
                put(out, c);
        }
        if (header & 0x80) {
            for (std::uint64_t i = 0; i < length; ++i)
                put(out, c);
        }
        n += length;
    }
    return tga_ok;
}

} // namespace

tga_check_t tga_check(const tga_info_t* info)
{
    const std::size_t bytes = bytes_per_pixel(info);
    if (bytes == 0)
        return tga_unsupported;
    if (is_mapped(info) && info->map == nullptr)
        return tga_truncated;
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    const std::uint64_t packets = count / 128 + (count % 128 != 0);
    const std::uint64_t least = info->type >= 9 ? packets * (1 + bytes) : count * bytes;
    return info->data_size < least ? tga_truncated : tga_ok;
}

tga_check_t tga_to_sprite16(const tga_info_t* info, sprite_t* sprite, std::uint8_t* alpha)
{
    tga_check_t status = tga_ok;
    const std::uint64_t count = std::uint64_t{info->w} * info->h;
    pixel_sink sink{sprite->pixels, info->w, info->h, info->hv != 0, info->rl != 0, 0, 0};
    if (bytes_per_pixel(info) == 0) {
        status = tga_unsupported;
    } else if (is_mapped(info) && info->map == nullptr) {
        status = tga_truncated;
    } else if (count == 0) {
        status = tga_ok;
    } else if (info->bpp == 24) {
        // The 24-bit decoder's own way: checked first, whole packets only,
        // opacities only once the picture is whole.
        status = check(info);
        if (status == tga_ok && info->type == 2)
            decode_raw(info->data, count, sink);
        else if (status == tga_ok && !decode_rle(info->data, info->data_size, count, sink))
            status = tga_truncated;
        for (std::uint64_t i = 0; status == tga_ok && alpha != nullptr && i < count; ++i)
            alpha[i] = 255;
    } else {
        const reader r = make_reader(info);
        planes out{sink, alpha};
        status = decode_any(r, count, out);
        // No footer decided and the descriptor claims no alpha: all-zero bytes were unused.
        const bool undecided = !is_mapped(info) && info->bpp == 32 && footer_decision(info) < 0 &&
                               (info->descriptor & 0x0F) == 0;
        bool all_zero = true;
        for (std::uint64_t i = 0; undecided && alpha != nullptr && i < count; ++i)
            all_zero = all_zero && alpha[i] == 0;
        for (std::uint64_t i = 0; status == tga_ok && undecided && all_zero && alpha != nullptr && i < count; ++i)
            alpha[i] = 255;
    }
    if (status != tga_ok) {
        make_empty(sprite);
        return status;
    }
    sprite->w = info->w;
    sprite->h = info->h;
    sprite->bpp = 16;
    return tga_ok;
}

} // namespace plain
