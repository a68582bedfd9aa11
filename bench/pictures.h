// The benchmark's inputs, made from a seed: pictures that look like photographs
// (smooth shading under fine noise: almost no two neighbours equal, so run-length
// data is nearly all raw packets) and pictures of flat regions (two dozen
// solid rectangles: long runs), written as TGA files by tools/tga_writer.
//
// And sprites as a paint program holds them, 8-bit colour with 8-bit opacity:
// a soft-edged disc, a "glow" whose every pixel is partly transparent, a sheet
// of sixteen small discs, and pixel art for colour-mapped files.
#pragma once

#include <cstdint>
#include <vector>

#include <velmora/draw.h>
#include "tga_writer.h"

enum class content { photo, flat };

rgb_picture photo_like(std::uint16_t w, std::uint16_t h, unsigned seed);
rgb_picture flat_regions(std::uint16_t w, std::uint16_t h, unsigned seed);

rgb_picture make_content(content kind, std::uint16_t w, std::uint16_t h, unsigned seed);

// The sprites below are rgba_pictures (tools/tga_writer.h): fully transparent
// pixels hold 0, 0, 0, 0, as paint programs clear them.

// Photo-like colour in a disc of radius 120 * size / 256 whose outer 4 * size / 256
// pixels fade out: 31 % of the pixels transparent, 4.5 % partly.
rgba_picture soft_disc(std::uint16_t size, unsigned seed);

// A glow: opacity falls from 254 at the centre to 1 in the corners, never 0 or 255.
rgba_picture glow(std::uint16_t size, unsigned seed);

// 256 x 256: sixteen 64 x 64 tiles, each a soft disc of its own size and place.
constexpr std::uint16_t sheet_size = 256, tile_size = 64;
rgba_picture sprite_sheet(unsigned seed);

// The sprite's colours packed to RGB565 and its opacity plane (the sprite's stride).
std::vector<pixel16> pixels_565(const rgba_picture& sprite);
std::vector<std::uint8_t> opacity(const rgba_picture& sprite);

// The same pixels with `key` wherever the sprite is fully transparent; an
// opaque pixel that packs to the key is nudged off it by one step of blue.
std::vector<pixel16> keyed_565(const rgba_picture& sprite, pixel16 key);

// Opaque pixel art of at most 32 colours: a 256 x 256 scene (sky bands,
// dithered hills, brick ground, outlined sprites), tiled to fill larger sizes
// as a game map repeats its tiles.
rgba_picture pixel_art(std::uint16_t size, unsigned seed);

// A photo-like picture reduced to `colours` colours (at most 256) with a
// dither of one step, as a paint program's indexed mode writes a photograph:
// every colour used from 256 x 256 up, neighbours mostly a step apart.
rgba_picture indexed_photo(std::uint16_t size, unsigned seed, unsigned colours);
