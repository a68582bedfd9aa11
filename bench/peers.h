// What a program would use instead of velmora: stb_image and SDL_image to read
// TGA files, SDL 1.2's software surfaces to copy, fill and blend. Each call does
// the whole job the way such a program would, into RGB565.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

#include "draw.h"

// stbi_load_from_memory to RGB, then the plain packing loop into `out`
// (w * h pixels). Returns false when stb_image refuses the file.
bool stb_decode_565(const std::vector<std::uint8_t>& file, pixel16* out);

// A 1 x 1 RGB565 software surface whose format SDL_ConvertSurface targets.
SDL_Surface* make_565_format_surface();

// IMG_LoadTyped_RW from memory, then SDL_ConvertSurface to RGB565; the caller
// frees the result. Null when either step fails.
SDL_Surface* sdl_image_decode_565(const std::vector<std::uint8_t>& file,
                                  const SDL_PixelFormat* format_565);

// A software surface over a sprite's own pixels (not copied, not owned).
SDL_Surface* surface_over(const sprite_t& sprite);

// The rows of a 16-bit surface, packed.
std::vector<pixel16> surface_pixels(const SDL_Surface* surface);
