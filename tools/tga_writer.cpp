#include "tga_writer.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t max_packet = 128;

void put_le16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

bool same_pixel(const std::vector<std::uint8_t>& stored, std::size_t bytes, std::size_t a,
                std::size_t b)
{
    return std::equal(stored.begin() + bytes * a, stored.begin() + bytes * (a + 1),
                      stored.begin() + bytes * b);
}

std::size_t run_length_at(const std::vector<std::uint8_t>& stored, std::size_t bytes, std::size_t i,
                          std::size_t count)
{
    std::size_t n = 1;
    while (i + n < count && n < max_packet && same_pixel(stored, bytes, i, i + n))
        ++n;
    return n;
}

void append_pixels(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& stored,
                   std::size_t bytes, std::size_t first, std::size_t n)
{
    out.insert(out.end(), stored.begin() + bytes * first, stored.begin() + bytes * (first + n));
}

} // namespace

rgb_picture make_picture(std::uint16_t w, std::uint16_t h, rgb fill)
{
    rgb_picture p;
    p.w = w;
    p.h = h;
    p.pixels.assign(static_cast<std::size_t>(w) * h, fill);
    return p;
}

rgb_picture noise_picture(std::uint16_t w, std::uint16_t h, std::uint32_t seed)
{
    rgb_picture p = make_picture(w, h);
    for (rgb& c : p.pixels) {
        seed = seed * 1664525u + 1013904223u;
        c = {static_cast<std::uint8_t>(seed >> 24), static_cast<std::uint8_t>(seed >> 16),
             static_cast<std::uint8_t>(seed >> 8)};
    }
    return p;
}

tga_layout make_layout(bool run_length, bool top_down)
{
    tga_layout l;
    l.run_length = run_length;
    l.top_down = top_down;
    return l;
}

std::vector<std::uint8_t> tga2_footer()
{
    const std::string signature = "TRUEVISION-XFILE.";
    // Extension and developer area offsets (none), the signature, a NUL.
    std::vector<std::uint8_t> footer(8 + signature.size() + 1, 0);
    std::copy(signature.begin(), signature.end(), footer.begin() + 8);
    return footer;
}

std::vector<std::uint8_t> tga_header(std::uint8_t type, std::uint16_t w, std::uint16_t h,
                                     std::uint8_t bpp, std::uint8_t descriptor,
                                     std::uint8_t id_length, std::uint8_t colour_map_type,
                                     std::uint16_t colour_map_length,
                                     std::uint8_t colour_map_entry_bits)
{
    std::vector<std::uint8_t> out{id_length, colour_map_type, type};
    put_le16(out, 0); // first colour-map entry
    put_le16(out, colour_map_length);
    out.push_back(colour_map_entry_bits);
    put_le16(out, 0); // x origin
    put_le16(out, 0); // y origin
    put_le16(out, w);
    put_le16(out, h);
    out.push_back(bpp);
    out.push_back(descriptor);
    return out;
}

std::vector<std::uint8_t> stored_pixels(const rgb_picture& picture, const tga_layout& layout)
{
    std::vector<std::uint8_t> out;
    out.reserve(picture.pixels.size() * 3);
    for (int row = 0; row < picture.h; ++row) {
        const int y = layout.top_down ? row : picture.h - 1 - row;
        for (int col = 0; col < picture.w; ++col) {
            const int x = layout.right_to_left ? picture.w - 1 - col : col;
            const rgb& p = picture.at(x, y);
            out.insert(out.end(), {p.b, p.g, p.r});
        }
    }
    return out;
}

std::vector<std::uint8_t> rle_packets(const std::vector<std::uint8_t>& bgr)
{
    return rle_packets(bgr, 3);
}

std::vector<std::uint8_t> rle_packets(const std::vector<std::uint8_t>& stored, std::size_t pixel_bytes)
{
    const std::size_t count = stored.size() / pixel_bytes;
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t run = run_length_at(stored, pixel_bytes, i, count);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            append_pixels(out, stored, pixel_bytes, i, 1);
            i += run;
            continue;
        }
        // Raw: gather pixels until a run of two starts or the packet is full.
        std::size_t n = 1;
        while (i + n < count && n < max_packet && run_length_at(stored, pixel_bytes, i + n, count) < 2)
            ++n;
        out.push_back(static_cast<std::uint8_t>(n - 1));
        append_pixels(out, stored, pixel_bytes, i, n);
        i += n;
    }
    return out;
}

std::vector<std::uint8_t> tga_encode(const rgb_picture& picture, const tga_layout& layout)
{
    const std::uint8_t descriptor = static_cast<std::uint8_t>(
        (layout.top_down ? 0x20 : 0) | (layout.right_to_left ? 0x10 : 0) |
        layout.extra_descriptor_bits);
    const std::uint8_t map_type = layout.colour_map_length > 0 ? 1 : 0;
    std::vector<std::uint8_t> out =
        tga_header(layout.run_length ? 10 : 2, picture.w, picture.h, 24, descriptor,
                   layout.id_length, map_type, layout.colour_map_length,
                   map_type ? layout.colour_map_entry_bits : 0);
    // ID and colour-map bytes are filler a decoder must skip, never show.
    out.insert(out.end(), layout.id_length, 0xA5);
    const std::size_t map_bytes =
        std::size_t{layout.colour_map_length} * ((layout.colour_map_entry_bits + 7u) / 8);
    out.insert(out.end(), map_bytes, 0x5A);
    const std::vector<std::uint8_t> bgr = stored_pixels(picture, layout);
    if (layout.run_length) {
        const std::vector<std::uint8_t> packets = rle_packets(bgr);
        out.insert(out.end(), packets.begin(), packets.end());
    } else {
        out.insert(out.end(), bgr.begin(), bgr.end());
    }
    return out;
}

// ---- Every variant

namespace {

// One pixel as `bits` bits of stored bytes.
void append_stored(std::vector<std::uint8_t>& out, const rgba& c, unsigned bits, bool grey)
{
    if (grey) {
        out.push_back(c.r);
        if (bits == 16)
            out.push_back(c.a);
        return;
    }
    if (bits == 15 || bits == 16) {
        const unsigned v = (c.a >= 128 ? 0x8000u : 0u) | (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
        put_le16(out, static_cast<std::uint16_t>(v));
        return;
    }
    out.insert(out.end(), {c.b, c.g, c.r});
    if (bits == 32)
        out.push_back(c.a);
}

bool is_mapped(const tga_variant& v)
{
    return v.type == 1 || v.type == 9;
}

// The picture's pixels in stored order.
std::vector<rgba> in_stored_order(const rgba_picture& picture, const tga_variant& variant)
{
    std::vector<rgba> out;
    out.reserve(picture.pixels.size());
    for (int row = 0; row < picture.h; ++row) {
        const int y = variant.top_down ? row : picture.h - 1 - row;
        for (int col = 0; col < picture.w; ++col)
            out.push_back(picture.at(variant.right_to_left ? picture.w - 1 - col : col, y));
    }
    return out;
}

std::vector<rgba> palette_of(const rgba_picture& picture)
{
    std::vector<rgba> palette;
    for (const rgba& c : picture.pixels) {
        if (std::find(palette.begin(), palette.end(), c) == palette.end())
            palette.push_back(c);
    }
    return palette;
}

} // namespace

std::vector<std::uint8_t> stored_pixels(const rgba_picture& picture, const tga_variant& variant)
{
    const bool grey = variant.type == 3 || variant.type == 11;
    std::vector<std::uint8_t> out;
    for (const rgba& c : in_stored_order(picture, variant))
        append_stored(out, c, variant.bpp, grey);
    return out;
}

std::vector<std::uint8_t> tga2_extension_and_footer(std::uint32_t offset, std::uint8_t attributes_type)
{
    std::vector<std::uint8_t> out(495, 0);
    out[0] = 495 & 0xFF; // the area's own size, as its first field
    out[1] = 495 >> 8;
    out[494] = attributes_type;
    std::vector<std::uint8_t> footer = tga2_footer();
    for (int i = 0; i < 4; ++i)
        footer[i] = static_cast<std::uint8_t>(offset >> (8 * i));
    out.insert(out.end(), footer.begin(), footer.end());
    return out;
}

std::vector<std::uint8_t> tga_encode(const rgba_picture& picture, const tga_variant& variant)
{
    const bool mapped = is_mapped(variant);
    std::vector<rgba> palette = mapped ? palette_of(picture) : std::vector<rgba>{};
    for (std::size_t k = palette.size(); mapped && k < variant.map_entries; ++k) {
        const auto grey = static_cast<std::uint8_t>(k);
        palette.push_back({grey, grey, grey, 255});
    }
    const auto descriptor = static_cast<std::uint8_t>((variant.top_down ? 0x20 : 0) |
                                                      (variant.right_to_left ? 0x10 : 0) |
                                                      (variant.alpha_bits & 0x0F));
    std::vector<std::uint8_t> out =
        tga_header(variant.type, picture.w, picture.h, mapped ? 8 : variant.bpp, descriptor, 0,
                   mapped ? 1 : 0, static_cast<std::uint16_t>(palette.size()),
                   mapped ? variant.map_entry_bits : 0);
    out[3] = static_cast<std::uint8_t>(variant.map_first & 0xFF);
    out[4] = static_cast<std::uint8_t>(variant.map_first >> 8);
    for (const rgba& c : palette)
        append_stored(out, c, variant.map_entry_bits, false);
    std::vector<std::uint8_t> stored;
    if (mapped) {
        for (const rgba& c : in_stored_order(picture, variant)) {
            const auto k = std::find(palette.begin(), palette.end(), c) - palette.begin();
            stored.push_back(static_cast<std::uint8_t>(variant.map_first + k));
        }
    } else {
        stored = stored_pixels(picture, variant);
    }
    const std::size_t pixel_bytes = mapped ? 1 : (variant.bpp + 7u) / 8;
    if (variant.type >= 9)
        stored = rle_packets(stored, pixel_bytes);
    out.insert(out.end(), stored.begin(), stored.end());
    if (variant.attributes_type >= 0) {
        const std::vector<std::uint8_t> tail = tga2_extension_and_footer(
            static_cast<std::uint32_t>(out.size()), static_cast<std::uint8_t>(variant.attributes_type));
        out.insert(out.end(), tail.begin(), tail.end());
    }
    return out;
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    // fwrite's buffer must not be null, even for nothing to write.
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}
