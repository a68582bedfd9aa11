// The benchmark's inputs, made from a seed: pictures that look like photographs
// (smooth shading under fine noise: almost no two neighbours equal, so run-length
// data is nearly all raw packets) and pictures of flat regions (two dozen
// solid rectangles: long runs), written as TGA files by tools/tga_writer.
//
// And sprites as a paint program holds them, 8-bit colour with 8-bit opacity:
// a soft-edged disc, a "glow" whose every pixel is partly transparent, a sheet
// of sixteen small discs, and colour-mapped pixel art, with the TGA variants
// those programs write for them.
#pragma once

#include <cstdint>
#include <vector>

#include "draw.h"
#include "tga_writer.h"

enum class content { photo, flat };

rgb_picture photo_like(std::uint16_t w, std::uint16_t h, unsigned seed);
rgb_picture flat_regions(std::uint16_t w, std::uint16_t h, unsigned seed);

rgb_picture make_content(content kind, std::uint16_t w, std::uint16_t h, unsigned seed);

// Top row first; four bytes a pixel: red, green, blue, opacity (0 transparent).
// Fully transparent pixels hold 0, 0, 0, 0, as paint programs clear them.
struct rgba_sprite {
    std::uint16_t w = 0, h = 0;
    std::vector<std::uint8_t> rgba;
};

// Photo-like colour in a disc of radius 120 * size / 256 whose outer 4 * size / 256
// pixels fade out: about 31 % of the pixels transparent, 4.5 % partly.
rgba_sprite soft_disc(std::uint16_t size, unsigned seed);

// A glow: opacity falls from 254 at the centre to 1 in the corners, never 0 or 255.
rgba_sprite glow(std::uint16_t size, unsigned seed);

// 256 x 256: sixteen 64 x 64 tiles, each a soft disc of its own size and place.
constexpr std::uint16_t sheet_size = 256, tile_size = 64;
rgba_sprite sprite_sheet(unsigned seed);

// The sprite's colours packed to RGB565 and its opacity plane (the sprite's stride).
std::vector<pixel16> pixels_565(const rgba_sprite& sprite);
std::vector<std::uint8_t> opacity(const rgba_sprite& sprite);

// The same pixels with `key` wherever the sprite is fully transparent; an
// opaque pixel that packs to the key is nudged off it by one step of blue.
std::vector<pixel16> keyed_565(const rgba_sprite& sprite, pixel16 key);

// 8-bit indices into a palette of 24-bit colours.
struct indexed_picture {
    std::uint16_t w = 0, h = 0;
    std::vector<std::uint8_t> index;
    std::vector<rgb> palette;
};

// A 256 x 256 scene of 32 colours (sky bands, dithered hills, brick ground,
// outlined sprites), tiled to fill larger sizes as a game map repeats its tiles.
indexed_picture pixel_art(std::uint16_t size, unsigned seed);

// The TGA files paint programs write for these (type 2/10 or 1/9, the layout's
// order and run-length choice; its colour-map fields are not used):
// 32-bit BGRA with 8 alpha bits in the descriptor;
std::vector<std::uint8_t> tga32_encode(const rgba_sprite& sprite, const tga_layout& layout);
// 16-bit A1R5G5B5, 1 alpha bit: bit 15 set where the opacity is at least 128;
std::vector<std::uint8_t> tga16_encode(const rgba_sprite& sprite, const tga_layout& layout);
// colour-mapped: 8-bit indices and a map of 24-bit entries starting at index 0.
std::vector<std::uint8_t> tga_mapped_encode(const indexed_picture& picture, const tga_layout& layout);
