// What the Cortex-M runner (mcu_test.cpp) and the tool that writes its
// expectations with the native build (tools/make_mcu_cases.cpp) share: the
// digest, the record of a file's expected answers, and the table of drawing
// calls with the sprites they draw from. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include <velmora/sprite.h>
#include <velmora/tga.h>

namespace mcu {

// FNV-1a over values, not memory, so that it reads the same on any byte order.
struct digest {
    std::uint32_t h = 2166136261u;
    void byte(unsigned b) { h = (h ^ (b & 0xFFu)) * 16777619u; }
    void word(unsigned v)
    {
        byte(v);
        byte(v >> 8);
    }
};

// A file's answers: tga_info's result, tga24_check, tga_check and
// tga_to_sprite16, and the digest of the decoded sprite (its fields, and its
// pixels and opacities when it decoded).
struct file_case {
    const char* name;
    const std::uint8_t* bytes;
    std::size_t size;
    int info, check24, check, status;
    std::uint32_t decoded;
};

// The runner's buffers take any picture up to this many pixels; a larger one
// is only checked, never decoded (tga_check must refuse it).
constexpr std::size_t most_pixels = 24 * 16;

inline std::uint32_t decode_digest(tga_check_t status, const sprite_t& s, const std::uint8_t* alpha)
{
    digest d;
    d.byte(static_cast<unsigned>(status));
    d.word(s.w);
    d.word(s.h);
    d.word(s.bpp);
    if (status == tga_ok) {
        const std::size_t n = std::size_t{s.w} * s.h;
        for (std::size_t i = 0; i < n; ++i) {
            d.word(s.pixels[i]);
            d.byte(alpha[i]);
        }
    }
    return d.h;
}

// ---- drawing

constexpr std::uint16_t target_w = 40, target_h = 24;
constexpr std::uint16_t source_w = 13, source_h = 7;
constexpr std::size_t target_pixels = std::size_t{target_w} * target_h;
constexpr std::size_t source_pixels = std::size_t{source_w} * source_h;

// Pixels unlike their neighbours, and opacities with 0 and 255 among them.
inline void make_source(pixel16* pixels, std::uint8_t* alpha)
{
    for (std::size_t i = 0; i < source_pixels; ++i) {
        pixels[i] = static_cast<pixel16>(i * 2654435761u >> 7);
        const unsigned a = i % 5 == 0 ? 0 : i % 5 == 1 ? 255 : (i * 37) & 0xFF;
        alpha[i] = static_cast<std::uint8_t>(a);
    }
}

inline void make_target(pixel16* pixels)
{
    for (std::size_t i = 0; i < target_pixels; ++i)
        pixels[i] = static_cast<pixel16>(i * 40503u + 7);
}

enum class op { fill, blit, area_blit, blit_self, blend, key, area_key, a8, area_a8, copy_be };

struct draw_call {
    op what;
    area_t area;
    std::uint16_t x, y;
    unsigned value; // fill colour, blend weight, key (an index into the source)
};

// The calls, one after another on one target; each leaves a digest.
constexpr draw_call drawing[] = {
    {op::fill, {3, 2, 20, 10}, 0, 0, rgb24_to_16(200, 120, 40)},
    {op::fill, {0, 20, target_w, 3}, 0, 0, 0xF81F}, // whole rows: one run
    {op::blit, {}, 5, 4, 0},
    {op::area_blit, {2, 1, 9, 5}, 30, 17, 0},
    {op::blit_self, {0, 0, 30, 10}, 3, 2, 0}, // overlapping, within the target
    {op::blend, {}, 7, 9, 77},
    {op::key, {}, 20, 3, 5},
    {op::area_key, {1, 2, 11, 4}, 26, 15, 9},
    {op::a8, {}, 11, 12, 0},
    {op::area_a8, {3, 0, 10, 7}, 1, 16, 0},
    {op::copy_be, {1, 1, 17, 9}, 0, 0, 0},
    {op::copy_be, {0, 0, target_w, target_h}, 0, 0, 0}, // whole sprite: one run
};
constexpr std::size_t drawing_steps = sizeof drawing / sizeof drawing[0];

// Makes the call on `target`, drawing from `source`; copy_be writes to `out`
// (room for the whole target). Returns what the call returned.
inline int draw(const draw_call& c, sprite_t* target, const sprite_t* source,
                const std::uint8_t* alpha, std::uint8_t* out)
{
    switch (c.what) {
    case op::fill: return area_fill_16(target, static_cast<pixel16>(c.value), &c.area);
    case op::blit: return sprite_blit_16(target, source, c.x, c.y);
    case op::area_blit: return sprite_area_blit_16(target, source, &c.area, c.x, c.y);
    case op::blit_self: return sprite_area_blit_16(target, target, &c.area, c.x, c.y);
    case op::blend:
        return sprite_blit_alpha_16(target, source, c.x, c.y, static_cast<std::uint8_t>(c.value));
    case op::key: return sprite_blit_key_16(target, source, c.x, c.y, source->pixels[c.value]);
    case op::area_key:
        return sprite_area_blit_key_16(target, source, &c.area, c.x, c.y, source->pixels[c.value]);
    case op::a8: return sprite_blit_a8_16(target, source, alpha, c.x, c.y);
    case op::area_a8: return sprite_area_blit_a8_16(target, source, alpha, &c.area, c.x, c.y);
    case op::copy_be: return sprite_area_copy_be_16(out, target, &c.area);
    }
    return -2;
}

// The target after the call, and for copy_be the bytes it wrote.
inline std::uint32_t draw_digest(const draw_call& c, int result, const sprite_t& target,
                                 const std::uint8_t* out)
{
    digest d;
    d.byte(static_cast<unsigned>(result));
    for (std::size_t i = 0; i < target_pixels; ++i)
        d.word(target.pixels[i]);
    if (c.what == op::copy_be) {
        for (std::size_t i = 0; i < 2 * std::size_t{c.area.w} * c.area.h; ++i)
            d.byte(out[i]);
    }
    return d.h;
}

} // namespace mcu
