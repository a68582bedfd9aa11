// Writes TGA files: the samples in tga/ and every file the tests and the fuzz
// corpus need, good or deliberately broken. Independent of the decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct rgb {
    std::uint8_t r, g, b;
    bool operator==(const rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A picture as a person sees it: top row first, left to right.
struct rgb_picture {
    std::uint16_t w = 0, h = 0;
    std::vector<rgb> pixels;

    rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * w + x]; }
    const rgb& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * w + x]; }
};

rgb_picture make_picture(std::uint16_t w, std::uint16_t h, rgb fill = {0, 0, 0});

// Seeded pseudo-random pixels: the same seed always gives the same picture.
rgb_picture noise_picture(std::uint16_t w, std::uint16_t h, std::uint32_t seed);

struct tga_layout {
    bool run_length = false;    // type 10 instead of 2
    bool top_down = false;      // descriptor bit 5
    bool right_to_left = false; // descriptor bit 4
    std::uint8_t id_length = 0;
    std::uint16_t colour_map_length = 0; // entries; a non-zero length sets colour-map type 1
    std::uint8_t colour_map_entry_bits = 24;
    std::uint8_t extra_descriptor_bits = 0; // attribute or interleave bits, ORed in
};

tga_layout make_layout(bool run_length, bool top_down);

// The TGA 2.0 footer: no extension or developer area, then the signature.
std::vector<std::uint8_t> tga2_footer();

// The 18-byte header, with any field values, for files the tests break on purpose.
std::vector<std::uint8_t> tga_header(std::uint8_t type, std::uint16_t w, std::uint16_t h,
                                     std::uint8_t bpp, std::uint8_t descriptor,
                                     std::uint8_t id_length = 0,
                                     std::uint8_t colour_map_type = 0,
                                     std::uint16_t colour_map_length = 0,
                                     std::uint8_t colour_map_entry_bits = 0);

// The picture's pixels as 3-byte BGR in the layout's stored order.
std::vector<std::uint8_t> stored_pixels(const rgb_picture& picture, const tga_layout& layout);

// Run-length packets for BGR pixels: runs of two or more equal pixels become run
// packets, the rest raw packets; packets cross row ends wherever pixels allow.
std::vector<std::uint8_t> rle_packets(const std::vector<std::uint8_t>& bgr);

// A complete 24-bit TGA file: header, ID, colour map, pixel data.
std::vector<std::uint8_t> tga_encode(const rgb_picture& picture, const tga_layout& layout);

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
