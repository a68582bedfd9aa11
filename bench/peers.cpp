#include "peers.h"

#include <SDL_image.h>
#include <stb_image.h>

#include <cstring>

bool stb_decode_565(const std::vector<std::uint8_t>& file, pixel16* out)
{
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgb = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h,
                                         &channels, 3);
    if (rgb == nullptr)
        return false;
    const std::size_t count = std::size_t(w) * std::size_t(h);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = rgb24_to_16(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    stbi_image_free(rgb);
    return true;
}

bool stb_decode_565_alpha(const std::vector<std::uint8_t>& file, pixel16* out, std::uint8_t* alpha)
{
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h,
                                          &channels, 4);
    if (rgba == nullptr)
        return false;
    const std::size_t count = std::size_t(w) * std::size_t(h);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = rgb24_to_16(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
        alpha[i] = rgba[4 * i + 3];
    }
    stbi_image_free(rgba);
    return true;
}

SDL_Surface* make_565_format_surface()
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 16, 0xF800, 0x07E0, 0x001F, 0);
}

SDL_Surface* sdl_image_decode_565(const std::vector<std::uint8_t>& file,
                                  const SDL_PixelFormat* format_565)
{
    SDL_RWops* rw = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
    if (rw == nullptr)
        return nullptr;
    // TGA has no signature to sniff, so the type is named.
    SDL_Surface* loaded = IMG_LoadTyped_RW(rw, 1, const_cast<char*>("TGA"));
    if (loaded == nullptr)
        return nullptr;
    SDL_Surface* converted =
        SDL_ConvertSurface(loaded, const_cast<SDL_PixelFormat*>(format_565), SDL_SWSURFACE);
    SDL_FreeSurface(loaded);
    return converted;
}

SDL_Surface* surface_over(const sprite_t& sprite)
{
    return SDL_CreateRGBSurfaceFrom(sprite.pixels, sprite.w, sprite.h, 16, sprite.w * 2, 0xF800,
                                    0x07E0, 0x001F, 0);
}

SDL_Surface* surface_copy(const sprite_t& sprite)
{
    SDL_Surface* s =
        SDL_CreateRGBSurface(SDL_SWSURFACE, sprite.w, sprite.h, 16, 0xF800, 0x07E0, 0x001F, 0);
    if (s == nullptr)
        return nullptr;
    auto* rows = static_cast<std::uint8_t*>(s->pixels);
    for (std::size_t y = 0; y < sprite.h; ++y)
        std::memcpy(rows + y * s->pitch, sprite.pixels + y * sprite.w, sprite.w * sizeof(pixel16));
    return s;
}

SDL_Surface* argb_surface(const sprite_t& sprite, const std::uint8_t* alpha)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, sprite.w, sprite.h, 32, 0x00FF0000,
                                          0x0000FF00, 0x000000FF, 0xFF000000);
    if (s == nullptr)
        return nullptr;
    auto* rows = static_cast<std::uint8_t*>(s->pixels);
    for (std::size_t y = 0; y < sprite.h; ++y) {
        for (std::size_t x = 0; x < sprite.w; ++x) {
            const std::size_t i = y * sprite.w + x;
            const std::uint32_t p = sprite.pixels[i];
            const std::uint32_t argb = std::uint32_t{alpha[i]} << 24 | (p & 0xF800u) << 8 |
                                       (p & 0x07E0u) << 5 | (p & 0x001Fu) << 3;
            std::memcpy(rows + y * s->pitch + 4 * x, &argb, 4);
        }
    }
    return s;
}

pixman_image_t* pixman_565_over(const sprite_t& sprite)
{
    return pixman_image_create_bits(PIXMAN_r5g6b5, sprite.w, sprite.h,
                                    reinterpret_cast<std::uint32_t*>(sprite.pixels),
                                    sprite.w * int{sizeof(pixel16)});
}

pixman_image_t* pixman_a8_over(const std::uint8_t* alpha, std::uint16_t w, std::uint16_t h)
{
    return pixman_image_create_bits(PIXMAN_a8, w, h,
                                    reinterpret_cast<std::uint32_t*>(const_cast<std::uint8_t*>(alpha)), w);
}

std::vector<pixel16> surface_pixels(const SDL_Surface* surface)
{
    std::vector<pixel16> out(std::size_t(surface->w) * surface->h);
    const auto* bytes = static_cast<const std::uint8_t*>(surface->pixels);
    for (int y = 0; y < surface->h; ++y)
        std::memcpy(out.data() + std::size_t(y) * surface->w, bytes + std::size_t(y) * surface->pitch,
                    std::size_t(surface->w) * sizeof(pixel16));
    return out;
}
