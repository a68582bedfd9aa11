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

// ---- Every variant, from a picture with opacity

struct rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

struct rgba_picture {
    std::uint16_t w = 0, h = 0;
    std::vector<rgba> pixels;

    rgba& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * w + x]; }
    const rgba& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * w + x]; }
};

// What to write, the way paint programs write it:
//   type 2/10 at 15, 16, 24, 32 bits: 15/16-bit pixels keep the top 5 bits of
//     each channel, and bit 15 is set for opacity 128 and above;
//   type 3/11 at 8 bits (the red channel as the grey level) or 16 (grey, alpha);
//   type 1/9: 8-bit indices into a colour map of the picture's distinct
//     colours in order of first appearance, entry k named by index
//     map_first + k, entries of map_entry_bits (15, 16, 24, 32) written as pixels.
struct tga_variant {
    std::uint8_t type = 2;
    std::uint8_t bpp = 32;
    std::uint8_t map_entry_bits = 24;
    std::uint16_t map_first = 0;
    // At least this many map entries: the picture's colours, then unused ones
    // (a grey ramp), as paint programs write a whole palette.
    std::uint16_t map_entries = 0;
    bool top_down = false;
    bool right_to_left = false;
    std::uint8_t alpha_bits = 0; // descriptor bits 3-0
    int attributes_type = -1;    // >= 0: an extension area with this attributes type, and a footer
};

// The picture's pixels stored as `bpp` bits each (15, 16, 24 or 32 true
// colour, 8 or 16 grey), in the variant's stored order.
std::vector<std::uint8_t> stored_pixels(const rgba_picture& picture, const tga_variant& variant);

// Run-length packets for stored pixels of `pixel_bytes` each.
std::vector<std::uint8_t> rle_packets(const std::vector<std::uint8_t>& stored, std::size_t pixel_bytes);

// A complete file of the variant: header, colour map, pixel data, and the
// extension area and footer when asked for. A colour-mapped picture must have at
// most 256 - map_first distinct colours.
std::vector<std::uint8_t> tga_encode(const rgba_picture& picture, const tga_variant& variant);

// A TGA 2.0 extension area (495 bytes, `attributes_type` at its byte 494)
// meant to start at `offset` in the file, followed by the footer pointing to it.
std::vector<std::uint8_t> tga2_extension_and_footer(std::uint32_t offset, std::uint8_t attributes_type);

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
