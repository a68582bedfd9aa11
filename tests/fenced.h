// A sprite in a buffer fenced by canary words, so stray writes show up.
#pragma once

#include <cstdint>
#include <vector>

#include <velmora/draw.h>
#include "tga_writer.h"

struct fenced_sprite {
    static constexpr std::size_t fence = 64;
    static constexpr pixel16 canary = 0xDEAD;

    std::vector<pixel16> words;
    sprite_t sprite;

    fenced_sprite(std::uint16_t w, std::uint16_t h, pixel16 fill = 0)
        : words(fence + std::size_t{w} * h + fence, canary),
          sprite{w, h, 16, words.data() + fence}
    {
        for (std::size_t i = 0; i < std::size_t{w} * h; ++i)
            sprite.pixels[i] = fill;
    }
    fenced_sprite(const fenced_sprite&) = delete;
    fenced_sprite& operator=(const fenced_sprite&) = delete;

    pixel16& at(int x, int y) { return sprite.pixels[std::size_t(y) * sprite.w + x]; }

    std::vector<pixel16> pixels() const
    {
        return {words.begin() + fence, words.end() - fence};
    }

    bool fences_intact() const
    {
        for (std::size_t i = 0; i < fence; ++i) {
            if (words[i] != canary || words[words.size() - 1 - i] != canary)
                return false;
        }
        return true;
    }
};

// Distinct values for every pixel, seeded so two sprites differ.
inline void fill_pattern(fenced_sprite& c, unsigned seed)
{
    for (std::size_t i = 0; i < std::size_t{c.sprite.w} * c.sprite.h; ++i)
        c.sprite.pixels[i] = static_cast<pixel16>(i * 2654435761u + seed * 40503u);
}

// The packing written out independently of the library, for expected pixels.
constexpr pixel16 expected_565(rgb c)
{
    return static_cast<pixel16>((c.r & 0xF8) << 8 | (c.g & 0xFC) << 3 | c.b >> 3);
}
