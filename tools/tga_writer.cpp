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

bool same_pixel(const std::vector<std::uint8_t>& bgr, std::size_t a, std::size_t b)
{
    return bgr[3 * a] == bgr[3 * b] && bgr[3 * a + 1] == bgr[3 * b + 1] &&
           bgr[3 * a + 2] == bgr[3 * b + 2];
}

std::size_t run_length_at(const std::vector<std::uint8_t>& bgr, std::size_t i, std::size_t count)
{
    std::size_t n = 1;
    while (i + n < count && n < max_packet && same_pixel(bgr, i, i + n))
        ++n;
    return n;
}

void append_pixels(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bgr,
                   std::size_t first, std::size_t n)
{
    out.insert(out.end(), bgr.begin() + 3 * first, bgr.begin() + 3 * (first + n));
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
    const std::size_t count = bgr.size() / 3;
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t run = run_length_at(bgr, i, count);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            append_pixels(out, bgr, i, 1);
            i += run;
            continue;
        }
        // Raw: gather pixels until a run of two starts or the packet is full.
        std::size_t n = 1;
        while (i + n < count && n < max_packet && run_length_at(bgr, i + n, count) < 2)
            ++n;
        out.push_back(static_cast<std::uint8_t>(n - 1));
        append_pixels(out, bgr, i, n);
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
