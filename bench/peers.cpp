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

std::vector<pixel16> surface_pixels(const SDL_Surface* surface)
{
    std::vector<pixel16> out(std::size_t(surface->w) * surface->h);
    const auto* bytes = static_cast<const std::uint8_t*>(surface->pixels);
    for (int y = 0; y < surface->h; ++y)
        std::memcpy(out.data() + std::size_t(y) * surface->w, bytes + std::size_t(y) * surface->pitch,
                    std::size_t(surface->w) * sizeof(pixel16));
    return out;
}
