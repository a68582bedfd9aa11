#include <gtest/gtest.h>

#include "fenced.h"
#include <velmora/draw.h>

namespace {

struct packing_case {
    std::uint8_t r, g, b;
    pixel16 packed;
};

TEST(rgb24_to_16, keeps_the_top_bits_of_each_channel)
{
    const packing_case cases[] = {
        {0, 0, 255, 0x001F},   {255, 0, 0, 0xF800},   {0, 255, 0, 0x07E0},
        {255, 255, 255, 0xFFFF}, {7, 3, 7, 0x0000},   {8, 4, 8, 0x0821},
        {200, 100, 50, 0xCB26},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rgb24_to_16(c.r, c.g, c.b), c.packed) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST(rgb24_to_16, is_usable_at_compile_time)
{
    static_assert(rgb24_to_16(0, 0, 255) == 0x001F);
}

TEST(rgb24_to_16, gives_back_every_pixel_from_its_expansion)
{
    for (unsigned p = 0; p <= 0xFFFF; ++p) {
        const auto r = static_cast<std::uint8_t>((p & 0xF800) >> 8);
        const auto g = static_cast<std::uint8_t>((p & 0x07E0) >> 3);
        const auto b = static_cast<std::uint8_t>((p & 0x001F) << 3);
        ASSERT_EQ(rgb24_to_16(r, g, b), p);
    }
}

TEST(area_fill_16, fills_exactly_the_area_and_nothing_else)
{
    fenced_sprite c(7, 5, 0x1111);
    const area_t area{2, 1, 3, 2};
    EXPECT_EQ(area_fill_16(&c.sprite, 0xBEEF, &area), 0);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            EXPECT_EQ(c.at(x, y), inside ? 0xBEEF : 0x1111) << x << "," << y;
        }
    }
    EXPECT_TRUE(c.fences_intact());
}

TEST(area_fill_16, whole_area_sets_every_pixel)
{
    fenced_sprite c(13, 9, 0);
    const area_t area{0, 0, 13, 9};
    area_fill_16(&c.sprite, 0x07E0, &area);
    for (pixel16 p : c.pixels())
        ASSERT_EQ(p, 0x07E0);
    EXPECT_TRUE(c.fences_intact());
}

TEST(area_fill_16, zero_width_or_height_writes_nothing)
{
    fenced_sprite c(8, 8);
    fill_pattern(c, 1);
    const auto before = c.pixels();
    const area_t flat{3, 3, 5, 0}, thin{3, 3, 0, 5};
    area_fill_16(&c.sprite, 0xFFFF, &flat);
    area_fill_16(&c.sprite, 0xFFFF, &thin);
    EXPECT_EQ(c.pixels(), before);
    EXPECT_TRUE(c.fences_intact());
}

} // namespace
