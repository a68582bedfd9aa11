// The benchmark's inputs, made from a seed: pictures that look like photographs
// (smooth shading under fine noise: almost no two neighbours equal, so run-length
// data is nearly all raw packets) and pictures of flat regions (two dozen
// solid rectangles: long runs), written as TGA files by tools/tga_writer.
#pragma once

#include <cstdint>
#include <vector>

#include "tga_writer.h"

enum class content { photo, flat };

rgb_picture photo_like(std::uint16_t w, std::uint16_t h, unsigned seed);
rgb_picture flat_regions(std::uint16_t w, std::uint16_t h, unsigned seed);

rgb_picture make_content(content kind, std::uint16_t w, std::uint16_t h, unsigned seed);
