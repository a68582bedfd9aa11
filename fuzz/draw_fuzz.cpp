// The drawing operations on random sprites: fills, whole and area copies (also
// within one sprite, overlapping), weighted blends, and colour-key and
// alpha-plane blits (whole, by area, within one sprite), and the byte-swapped
// copy into a buffer of exactly the area's bytes, each with rectangles
// inside their sprites as the library demands. Every sprite sits in a buffer of
// exactly w * h pixels, so the sanitizers see any write or read past it, and
// every operation is replayed on a plain model of the documented formula: the
// destination must come out identical and the source unchanged. Each sprite
// has an alpha plane of exactly w * h bytes beside it, in runs of transparent,
// opaque and partial pixels; one operation paints an area of it.
//
// The canvas functions take arbitrary clips, positions, rectangles, areas
// (reaching past the source), flags, opacities and maps, and are replayed on the
// plain model of bench/plain_canvas.cpp: pixels, results and `drawn` must agree.
//
// Input: two sprite sizes, then operations of a few bytes each until the input
// runs out. Missing bytes read as 0, so every input is a valid program.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <velmora/canvas.h>
#include <velmora/draw.h>
#include <velmora/sprite.h>

#include "plain.h"

namespace {

constexpr std::size_t max_side = 40;

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "draw_fuzz: %s\n", what);
        std::abort();
    }
}

struct byte_reader {
    const std::uint8_t* data;
    std::size_t size, pos;
};

std::uint8_t next_byte(byte_reader& in)
{
    return in.pos < in.size ? in.data[in.pos++] : 0;
}

std::uint16_t next_word(byte_reader& in)
{
    const std::uint8_t low = next_byte(in);
    return static_cast<std::uint16_t>(low | next_byte(in) << 8);
}

// A value from 0 to `limit`, both included.
std::uint16_t next_upto(byte_reader& in, std::size_t limit)
{
    return static_cast<std::uint16_t>(next_byte(in) % (limit + 1));
}

struct picture {
    std::vector<pixel16> pixels; // the library's sprite points here
    std::vector<pixel16> model;  // the same picture, drawn by the formulas below
    std::vector<std::uint8_t> alpha; // opacity per pixel, the sprite's stride
    sprite_t sprite;
    sprite_t record; // the sprite as made, to see that no operation changes it
};

void make_picture(picture& p, byte_reader& in)
{
    const std::uint16_t w = next_upto(in, max_side);
    const std::uint16_t h = next_upto(in, max_side);
    std::uint32_t seed = next_word(in);
    p.pixels.resize(std::size_t{w} * h);
    for (pixel16& px : p.pixels) {
        seed = seed * 1664525u + 1013904223u;
        px = static_cast<pixel16>(seed >> 16);
    }
    // Runs of about sixteen pixels, each all transparent, all opaque or mixed.
    p.alpha.resize(p.pixels.size());
    unsigned kind = 0;
    for (std::uint8_t& a : p.alpha) {
        seed = seed * 1664525u + 1013904223u;
        if ((seed >> 28) == 0)
            kind = seed >> 8 & 3;
        a = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<std::uint8_t>(seed >> 16);
    }
    p.model = p.pixels;
    p.sprite = sprite_t{w, h, 16, p.pixels.data()};
    p.record = p.sprite;
}

// An area that lies inside a w x h sprite (possibly empty).
area_t area_inside(byte_reader& in, std::size_t w, std::size_t h)
{
    area_t a{};
    a.x = next_upto(in, w);
    a.y = next_upto(in, h);
    a.w = next_upto(in, w - a.x);
    a.h = next_upto(in, h - a.y);
    return a;
}

void model_fill(picture& dst, pixel16 value, const area_t& a)
{
    for (std::size_t y = a.y; y < std::size_t{a.y} + a.h; ++y)
        for (std::size_t x = a.x; x < std::size_t{a.x} + a.w; ++x)
            dst.model[y * dst.sprite.w + x] = value;
}

// One pixel at a time in row order, reading the model as it is being written:
// that is what an overlapping copy within one sprite must give.
void model_copy(picture& dst, const std::vector<pixel16>& src, std::size_t src_w, const area_t& a,
                std::size_t x, std::size_t y)
{
    for (std::size_t j = 0; j < a.h; ++j)
        for (std::size_t i = 0; i < a.w; ++i)
            dst.model[(y + j) * dst.sprite.w + x + i] = src[(a.y + j) * src_w + a.x + i];
}

unsigned blend_channel(unsigned s, unsigned d, unsigned weight)
{
    return ((255 - weight) * s + weight * d) / 255;
}

pixel16 model_blend(pixel16 s, pixel16 d, unsigned weight)
{
    const unsigned r = blend_channel((s & 0xF800u) >> 8, (d & 0xF800u) >> 8, weight);
    const unsigned g = blend_channel((s & 0x07E0u) >> 3, (d & 0x07E0u) >> 3, weight);
    const unsigned b = blend_channel((s & 0x001Fu) << 3, (d & 0x001Fu) << 3, weight);
    return static_cast<pixel16>((r & 0xF8u) << 8 | (g & 0xFCu) << 3 | (b & 0xFEu) >> 3);
}

// The alpha blit's formula: a * S + (255 - a) * D is the blend's at weight 255 - a.
void model_blit_a8(picture& dst, const std::vector<pixel16>& src,
                   const std::vector<std::uint8_t>& alpha, std::size_t src_w, const area_t& a,
                   std::size_t x, std::size_t y)
{
    for (std::size_t j = 0; j < a.h; ++j) {
        for (std::size_t i = 0; i < a.w; ++i) {
            const std::size_t k = (a.y + j) * src_w + a.x + i;
            pixel16& d = dst.model[(y + j) * dst.sprite.w + x + i];
            d = model_blend(src[k], d, 255u - alpha[k]);
        }
    }
}

void model_blit_key(picture& dst, const std::vector<pixel16>& src, std::size_t src_w,
                    const area_t& a, std::size_t x, std::size_t y, pixel16 key)
{
    for (std::size_t j = 0; j < a.h; ++j) {
        for (std::size_t i = 0; i < a.w; ++i) {
            const pixel16 s = src[(a.y + j) * src_w + a.x + i];
            if (s != key)
                dst.model[(y + j) * dst.sprite.w + x + i] = s;
        }
    }
}

// A key that the source holds, so that it matches somewhere (fills add more).
pixel16 key_from(const picture& src, byte_reader& in)
{
    const std::uint16_t pick = next_word(in);
    return src.model.empty() ? pick : src.model[pick % src.model.size()];
}

void model_blit_alpha(picture& dst, const picture& src, std::size_t x, std::size_t y, unsigned weight)
{
    for (std::size_t j = 0; j < src.sprite.h; ++j) {
        for (std::size_t i = 0; i < src.sprite.w; ++i) {
            pixel16& d = dst.model[(y + j) * dst.sprite.w + x + i];
            d = model_blend(src.model[j * src.sprite.w + i], d, weight);
        }
    }
}

bool same_record(const picture& p)
{
    return p.sprite.w == p.record.w && p.sprite.h == p.record.h && p.sprite.bpp == p.record.bpp &&
           p.sprite.pixels == p.record.pixels;
}

bool fits(const sprite_t& inner, const sprite_t& outer)
{
    return inner.w <= outer.w && inner.h <= outer.h;
}

// Mostly small, now and then any int32 at all.
std::int32_t next_int32(byte_reader& in)
{
    const std::uint8_t b = next_byte(in);
    if (b < 224)
        return b - 64;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | next_byte(in);
    return static_cast<std::int32_t>(v);
}

rect_t next_rect(byte_reader& in)
{
    const std::int32_t x = next_int32(in), y = next_int32(in), w = next_int32(in);
    return {x, y, w, next_int32(in)};
}

transform_t next_map(byte_reader& in)
{
    if (next_byte(in) & 1) { // small values in 1/16 pixel, or anything (wrapping)
        const auto any = [&in] {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(next_int32(in)) * 4096u);
        };
        const std::int32_t xx = any(), xy = any(), tx = any(), yx = any(), yy = any();
        return {xx, xy, tx, yx, yy, any()};
    }
    const double degrees = next_int32(in) * 7.5, scale = next_int32(in) / 16.0;
    const double px = next_int32(in) / 2.0, py = next_int32(in) / 2.0;
    return transform_rotozoom(degrees, scale, scale, px, py, next_int32(in) / 2.0,
                              next_int32(in) / 2.0);
}

bool same_rect(const rect_t& a, const rect_t& b)
{
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// One canvas function on the library and on the plain model of the picture.
void run_canvas_operation(picture& dst, picture& src, byte_reader& in, unsigned which)
{
    sprite_t model{dst.sprite.w, dst.sprite.h, 16, dst.model.data()};
    canvas_t c = canvas_of(&dst.sprite), cm = plain::canvas_of(&model);
    if (next_byte(in) & 1) {
        const rect_t clip = next_rect(in);
        canvas_set_clip(&c, &clip);
        plain::canvas_set_clip(&cm, &clip);
        require(c.clip.x == cm.clip.x && c.clip.y == cm.clip.y && c.clip.w == cm.clip.w &&
                    c.clip.h == cm.clip.h, "canvas_set_clip differs from the model");
    }
    area_t area{next_word(in), next_word(in), next_word(in), next_word(in)};
    if (next_byte(in) & 1) // mostly near the source
        area = {static_cast<std::uint16_t>(area.x % 48), static_cast<std::uint16_t>(area.y % 48),
                static_cast<std::uint16_t>(area.w % 48), static_cast<std::uint16_t>(area.h % 48)};
    draw_t d{&src.sprite};
    const std::uint8_t how = next_byte(in);
    d.area = how & 1 ? &area : nullptr;
    d.alpha = how & 2 ? src.alpha.data() : nullptr;
    d.flags = next_byte(in) | (how & 4 ? 0xFF00u : 0u);
    d.key = key_from(src, in);
    d.opacity = how & 8 ? 255 : next_byte(in);
    rect_t got{1, 2, 3, 4}, want{5, 6, 7, 8};
    int rg = 0, rw = 0;
    switch (which) {
    case 0: {
        const rect_t r = next_rect(in);
        rg = canvas_fill(&c, &r, d.key, d.opacity, &got);
        rw = plain::canvas_fill(&cm, &r, d.key, d.opacity, &want);
        break;
    }
    case 1: {
        const std::int32_t x = next_int32(in), y = next_int32(in);
        rg = canvas_draw(&c, &d, x, y, &got);
        rw = plain::canvas_draw(&cm, &d, x, y, &want);
        break;
    }
    case 2: {
        const rect_t to = next_rect(in);
        rg = canvas_stretch(&c, &d, &to, &got);
        rw = plain::canvas_stretch(&cm, &d, &to, &want);
        break;
    }
    default: {
        const transform_t m = next_map(in);
        rg = canvas_transform(&c, &d, &m, &got);
        rw = plain::canvas_transform(&cm, &d, &m, &want);
        break;
    }
    }
    require(rg == rw, "a canvas function's result differs from the model");
    require(same_rect(got, want), "a canvas function's drawn rectangle differs from the model");
}

void run_operation(picture& dst, picture& src, byte_reader& in)
{
    const sprite_t& d = dst.sprite;
    const sprite_t& s = src.sprite;
    const unsigned op = next_byte(in) % 15;
    if (op >= 11) {
        run_canvas_operation(dst, src, in, op - 11);
        return;
    }
    switch (op) {
    case 0: {
        const pixel16 value = next_word(in);
        const area_t a = area_inside(in, d.w, d.h);
        require(area_fill_16(&dst.sprite, value, &a) == 0, "area_fill_16 result");
        model_fill(dst, value, a);
        break;
    }
    case 1: {
        if (!fits(s, d))
            break;
        const std::uint16_t x = next_upto(in, d.w - s.w);
        const std::uint16_t y = next_upto(in, d.h - s.h);
        require(sprite_blit_16(&dst.sprite, &src.sprite, x, y) == 0, "sprite_blit_16 result");
        model_copy(dst, src.model, s.w, area_t{0, 0, s.w, s.h}, x, y);
        break;
    }
    case 2: {
        const area_t a = area_inside(in, s.w, s.h);
        if (a.w > d.w || a.h > d.h)
            break;
        const std::uint16_t x = next_upto(in, d.w - a.w);
        const std::uint16_t y = next_upto(in, d.h - a.h);
        require(sprite_area_blit_16(&dst.sprite, &src.sprite, &a, x, y) == 0, "sprite_area_blit_16 result");
        model_copy(dst, src.model, s.w, a, x, y);
        break;
    }
    case 3: { // within one sprite: the rectangles may overlap
        const area_t a = area_inside(in, d.w, d.h);
        const std::uint16_t x = next_upto(in, d.w - a.w);
        const std::uint16_t y = next_upto(in, d.h - a.h);
        require(sprite_area_blit_16(&dst.sprite, &dst.sprite, &a, x, y) == 0, "sprite_area_blit_16 result");
        model_copy(dst, dst.model, d.w, a, x, y);
        break;
    }
    case 4: {
        if (!fits(s, d))
            break;
        const std::uint16_t x = next_upto(in, d.w - s.w);
        const std::uint16_t y = next_upto(in, d.h - s.h);
        const std::uint8_t weight = next_byte(in);
        require(sprite_blit_alpha_16(&dst.sprite, &src.sprite, x, y, weight) == 0,
                "sprite_blit_alpha_16 result");
        model_blit_alpha(dst, src, x, y, weight);
        break;
    }
    case 5: { // paints the source's alpha plane: the model shares it
        const area_t a = area_inside(in, s.w, s.h);
        const std::uint8_t value = next_byte(in);
        for (std::size_t j = 0; j < a.h; ++j)
            for (std::size_t i = 0; i < a.w; ++i)
                src.alpha[(a.y + j) * s.w + a.x + i] = value;
        break;
    }
    case 6: {
        if (!fits(s, d))
            break;
        const std::uint16_t x = next_upto(in, d.w - s.w);
        const std::uint16_t y = next_upto(in, d.h - s.h);
        const pixel16 key = key_from(src, in);
        require(sprite_blit_key_16(&dst.sprite, &src.sprite, x, y, key) == 0,
                "sprite_blit_key_16 result");
        model_blit_key(dst, src.model, s.w, area_t{0, 0, s.w, s.h}, x, y, key);
        break;
    }
    case 7: { // between sprites or, on odd keys, within the destination: rectangles may overlap
        const pixel16 key = key_from(src, in);
        picture& from = key & 1 ? dst : src;
        const area_t a = area_inside(in, from.sprite.w, from.sprite.h);
        if (a.w > d.w || a.h > d.h)
            break;
        const std::uint16_t x = next_upto(in, d.w - a.w);
        const std::uint16_t y = next_upto(in, d.h - a.h);
        require(sprite_area_blit_key_16(&dst.sprite, &from.sprite, &a, x, y, key) == 0,
                "sprite_area_blit_key_16 result");
        model_blit_key(dst, from.model, from.sprite.w, a, x, y, key);
        break;
    }
    case 8: {
        if (!fits(s, d))
            break;
        const std::uint16_t x = next_upto(in, d.w - s.w);
        const std::uint16_t y = next_upto(in, d.h - s.h);
        require(sprite_blit_a8_16(&dst.sprite, &src.sprite, src.alpha.data(), x, y) == 0,
                "sprite_blit_a8_16 result");
        model_blit_a8(dst, src.model, src.alpha, s.w, area_t{0, 0, s.w, s.h}, x, y);
        break;
    }
    case 9: { // from either sprite; the bytes are the model's pixels, high byte first
        const picture& from = next_byte(in) & 1 ? dst : src;
        const area_t a = area_inside(in, from.sprite.w, from.sprite.h);
        std::vector<std::uint8_t> out(std::max<std::size_t>(1, 2 * std::size_t{a.w} * a.h));
        require(sprite_area_copy_be_16(out.data(), &from.sprite, &a) == 0,
                "sprite_area_copy_be_16 result");
        for (std::size_t j = 0, k = 0; j < a.h; ++j) {
            for (std::size_t i = 0; i < a.w; ++i, k += 2) {
                const pixel16 p = from.model[(a.y + j) * from.sprite.w + a.x + i];
                require(out[k] == p >> 8 && out[k + 1] == (p & 0xFF), "sprite_area_copy_be_16 bytes");
            }
        }
        break;
    }
    default: { // between sprites or within the destination, as above
        picture& from = next_byte(in) & 1 ? dst : src;
        const area_t a = area_inside(in, from.sprite.w, from.sprite.h);
        if (a.w > d.w || a.h > d.h)
            break;
        const std::uint16_t x = next_upto(in, d.w - a.w);
        const std::uint16_t y = next_upto(in, d.h - a.h);
        require(sprite_area_blit_a8_16(&dst.sprite, &from.sprite, from.alpha.data(), &a, x, y) == 0,
                "sprite_area_blit_a8_16 result");
        model_blit_a8(dst, from.model, from.alpha, from.sprite.w, a, x, y);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    byte_reader in{data, size, 0};
    picture dst, src;
    make_picture(dst, in);
    make_picture(src, in);
    while (in.pos < in.size) {
        run_operation(dst, src, in);
        require(dst.pixels == dst.model, "destination differs from the formula");
        require(src.pixels == src.model, "the source was written");
        require(same_record(dst) && same_record(src), "a sprite record was changed");
    }
    return 0;
}
