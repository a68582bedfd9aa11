// What a program would use instead of velmora: stb_image and SDL_image to read
// TGA files, SDL 1.2's software surfaces to copy, fill and blend, pixman to
// composite through an 8-bit mask. Each call does the whole job the way such a
// program would, into RGB565.
#pragma once

#include <SDL.h>
#include <pixman.h>

#include <cstdint>
#include <vector>

#include <velmora/draw.h>

// stbi_load_from_memory to RGB, then the plain packing loop into `out`
// (w * h pixels). Returns false when stb_image refuses the file.
bool stb_decode_565(const std::vector<std::uint8_t>& file, pixel16* out);

// stbi_load_from_memory to RGBA, then the plain loop that splits it into RGB565
// pixels and an opacity plane (w * h each). False when stb_image refuses the file.
bool stb_decode_565_alpha(const std::vector<std::uint8_t>& file, pixel16* out, std::uint8_t* alpha);

// A 1 x 1 RGB565 software surface whose format SDL_ConvertSurface targets.
SDL_Surface* make_565_format_surface();

// IMG_LoadTyped_RW from memory, then SDL_ConvertSurface to RGB565; the caller
// frees the result. Null when either step fails.
SDL_Surface* sdl_image_decode_565(const std::vector<std::uint8_t>& file,
                                  const SDL_PixelFormat* format_565);

// A software surface over a sprite's own pixels (not copied, not owned).
SDL_Surface* surface_over(const sprite_t& sprite);

// An RGB565 software surface holding its own copy of the pixels: SDL's
// run-length acceleration takes over a surface's pixels, so it gets its own.
SDL_Surface* surface_copy(const sprite_t& sprite);

// A 32-bit surface with per-pixel alpha: each channel is the 8-bit expansion the
// library blends on (5 or 6 bits shifted up), the opacity from `alpha`.
SDL_Surface* argb_surface(const sprite_t& sprite, const std::uint8_t* alpha);

// pixman images over a sprite's pixels (r5g6b5) and over an opacity plane (a8,
// the sprite's stride, which pixman wants a multiple of 4 bytes); not owned.
pixman_image_t* pixman_565_over(const sprite_t& sprite);
pixman_image_t* pixman_a8_over(const std::uint8_t* alpha, std::uint16_t w, std::uint16_t h);

// The rows of a 16-bit surface, packed.
std::vector<pixel16> surface_pixels(const SDL_Surface* surface);
