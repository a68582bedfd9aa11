#include <gtest/gtest.h>

#include "fenced.h"
#include <velmora/sprite.h>

namespace {

TEST(sprite_blit_16, copy_at_origin_of_equal_size_reproduces_the_source)
{
    fenced_sprite src(9, 7), dst(9, 7);
    fill_pattern(src, 1);
    fill_pattern(dst, 2);
    EXPECT_EQ(sprite_blit_16(&dst.sprite, &src.sprite, 0, 0), 0);
    EXPECT_EQ(dst.pixels(), src.pixels());
    EXPECT_TRUE(dst.fences_intact());
}

TEST(sprite_blit_16, writes_the_source_rectangle_at_the_position_only)
{
    fenced_sprite src(3, 2), dst(8, 6, 0x0001);
    fill_pattern(src, 5);
    sprite_blit_16(&dst.sprite, &src.sprite, 4, 3);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 4 && x < 7 && y >= 3 && y < 5;
            EXPECT_EQ(dst.at(x, y), inside ? src.at(x - 4, y - 3) : 0x0001) << x << "," << y;
        }
    }
    EXPECT_TRUE(dst.fences_intact());
}

TEST(sprite_blit_16, empty_source_writes_nothing)
{
    fenced_sprite dst(8, 8);
    fill_pattern(dst, 3);
    const auto before = dst.pixels();
    const sprite_t refused{0, 0, 0, nullptr};
    fenced_sprite thin(0, 4);
    sprite_blit_16(&dst.sprite, &refused, 5, 5);
    sprite_blit_16(&dst.sprite, &thin.sprite, 2, 2);
    EXPECT_EQ(dst.pixels(), before);
    EXPECT_TRUE(dst.fences_intact());
}

TEST(sprite_area_blit_16, copies_the_area_to_the_position)
{
    fenced_sprite src(6, 5), dst(7, 7, 0x0002);
    fill_pattern(src, 7);
    const area_t area{1, 2, 4, 3};
    EXPECT_EQ(sprite_area_blit_16(&dst.sprite, &src.sprite, &area, 3, 4), 0);
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 3 && y >= 4;
            EXPECT_EQ(dst.at(x, y), inside ? src.at(x - 3 + 1, y - 4 + 2) : 0x0002) << x << "," << y;
        }
    }
    EXPECT_TRUE(dst.fences_intact());
}

TEST(sprite_area_blit_16, rest_of_one_row_copies_that_row_only)
{
    fenced_sprite src(10, 4), dst(10, 4, 0);
    fill_pattern(src, 11);
    const area_t area{6, 2, 4, 1};
    sprite_area_blit_16(&dst.sprite, &src.sprite, &area, 0, 0);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(dst.at(x, 0), x < 4 ? src.at(6 + x, 2) : 0) << x;
    for (int y = 1; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(dst.at(x, y), 0);
    EXPECT_TRUE(dst.fences_intact());
}

TEST(sprite_area_blit_16, zero_area_writes_nothing)
{
    fenced_sprite src(4, 4), dst(4, 4);
    fill_pattern(src, 1);
    fill_pattern(dst, 2);
    const auto before = dst.pixels();
    const area_t flat{0, 0, 4, 0}, thin{1, 1, 0, 3};
    sprite_area_blit_16(&dst.sprite, &src.sprite, &flat, 0, 0);
    sprite_area_blit_16(&dst.sprite, &src.sprite, &thin, 0, 0);
    EXPECT_EQ(dst.pixels(), before);
}

// Within one sprite the copy runs top to bottom, left to right, one pixel at a
// time: a rectangle moved right or down over itself repeats what it has written.
TEST(sprite_area_blit_16, overlapping_copy_within_one_sprite_follows_the_walk_order)
{
    fenced_sprite c(6, 1);
    for (int x = 0; x < 6; ++x)
        c.at(x, 0) = static_cast<pixel16>(x + 1); // 1 2 3 4 5 6
    const area_t row{0, 0, 5, 1};
    sprite_area_blit_16(&c.sprite, &c.sprite, &row, 1, 0);
    const std::vector<pixel16> smeared_right{1, 1, 1, 1, 1, 1};
    EXPECT_EQ(c.pixels(), smeared_right);

    fenced_sprite d(2, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 2; ++x)
            d.at(x, y) = static_cast<pixel16>(10 * y + x); // rows 0 1 / 10 11 / 20 21 / 30 31
    const area_t top{0, 0, 2, 3};
    sprite_area_blit_16(&d.sprite, &d.sprite, &top, 0, 1);
    const std::vector<pixel16> smeared_down{0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(d.pixels(), smeared_down);

    fenced_sprite e(6, 1);
    for (int x = 0; x < 6; ++x)
        e.at(x, 0) = static_cast<pixel16>(x + 1);
    const area_t tail{1, 0, 5, 1};
    sprite_area_blit_16(&e.sprite, &e.sprite, &tail, 0, 0);
    const std::vector<pixel16> shifted_left{2, 3, 4, 5, 6, 6};
    EXPECT_EQ(e.pixels(), shifted_left);
    EXPECT_TRUE(c.fences_intact() && d.fences_intact() && e.fences_intact());
}

struct blend_case {
    pixel16 source, destination;
    std::uint8_t weight;
    pixel16 result;
};

TEST(sprite_blit_alpha_16, worked_values)
{
    const blend_case cases[] = {
        {0xF800, 0x001F, 0, 0xF800},
        {0xF800, 0x001F, 255, 0x001F},
        {0xF800, 0x001F, 128, 0x780F},
        {0xFFFF, 0x0000, 128, 0x7BEF},
    };
    for (const auto& c : cases) {
        fenced_sprite src(1, 1, c.source), dst(1, 1, c.destination);
        EXPECT_EQ(sprite_blit_alpha_16(&dst.sprite, &src.sprite, 0, 0, c.weight), 0);
        EXPECT_EQ(dst.at(0, 0), c.result) << std::hex << c.source << " over " << c.destination
                                          << " weight " << std::dec << int(c.weight);
    }
}

TEST(sprite_blit_alpha_16, weight_0_is_a_plain_copy_and_255_changes_nothing)
{
    fenced_sprite src(5, 3), plain(9, 8), blended(9, 8), kept(9, 8);
    fill_pattern(src, 4);
    fill_pattern(plain, 9);
    fill_pattern(blended, 9);
    fill_pattern(kept, 9);
    const auto before = kept.pixels();
    sprite_blit_16(&plain.sprite, &src.sprite, 3, 4);
    sprite_blit_alpha_16(&blended.sprite, &src.sprite, 3, 4, 0);
    sprite_blit_alpha_16(&kept.sprite, &src.sprite, 3, 4, 255);
    EXPECT_EQ(blended.pixels(), plain.pixels());
    EXPECT_EQ(kept.pixels(), before);
    EXPECT_TRUE(blended.fences_intact() && kept.fences_intact());
}

// Mixing a pixel with itself must give it back at every weight: the division by
// 255 is exact when both shares carry the same channel value.
TEST(sprite_blit_alpha_16, a_pixel_blended_with_itself_stays_the_same)
{
    fenced_sprite src(256, 256), dst(256, 256);
    for (unsigned weight = 0; weight < 256; weight += 17) {
        for (unsigned i = 0; i < 65536; ++i)
            src.sprite.pixels[i] = dst.sprite.pixels[i] = static_cast<pixel16>(i);
        sprite_blit_alpha_16(&dst.sprite, &src.sprite, 0, 0, static_cast<std::uint8_t>(weight));
        ASSERT_EQ(dst.pixels(), src.pixels()) << "weight " << weight;
    }
}

TEST(sprite_blit_alpha_16, touches_only_the_source_rectangle)
{
    fenced_sprite src(2, 2, 0xFFFF), dst(6, 5, 0x0000);
    const area_t rest_marker{0, 0, 6, 5};
    area_fill_16(&dst.sprite, 0x1234, &rest_marker);
    sprite_blit_alpha_16(&dst.sprite, &src.sprite, 3, 2, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(dst.at(x, y), (x >= 3 && x < 5 && y >= 2 && y < 4) ? 0xFFFF : 0x1234);
    fenced_sprite empty(0, 0);
    const auto before = dst.pixels();
    sprite_blit_alpha_16(&dst.sprite, &empty.sprite, 1, 1, 100);
    EXPECT_EQ(dst.pixels(), before);
    EXPECT_TRUE(dst.fences_intact());
}

} // namespace
