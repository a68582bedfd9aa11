#include <gtest/gtest.h>

#include "canvas.h"
#include "tga.h"
#include "tga_writer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

pixel16 packed(rgb c)
{
    return static_cast<pixel16>((c.r & 0xF8) << 8 | (c.g & 0xFC) << 3 | c.b >> 3);
}

tga_info_t info_of(const bytes& file)
{
    tga_info_t info{};
    EXPECT_EQ(tga_info(file.data(), file.size(), &info), 0);
    return info;
}

struct decoded {
    std::string message;
    sprite_t sprite;
};

// Decodes into a fenced canvas of exactly w * h pixels, pre-filled with a canary
// value so a pixel the decoder forgot stands out.
decoded decode(const bytes& file, canvas& target)
{
    const tga_info_t info = info_of(file);
    sprite_t sprite{0xAAAA, 0xAAAA, 0xAAAA, target.sprite.pixels};
    testing::internal::CaptureStdout();
    tga24_to_sprite16(&info, &sprite);
    std::fflush(stdout);
    return {testing::internal::GetCapturedStdout(), sprite};
}

rgb_picture numbered_picture(std::uint16_t w, std::uint16_t h)
{
    rgb_picture p = make_picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.at(x, y) = {static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(y * 4),
                          static_cast<std::uint8_t>((x + y) * 8)};
    return p;
}

void expect_sprite_shows(const decoded& d, canvas& target, const rgb_picture& p)
{
    EXPECT_EQ(d.message, "");
    ASSERT_EQ(d.sprite.w, p.w);
    ASSERT_EQ(d.sprite.h, p.h);
    EXPECT_EQ(d.sprite.bpp, 16);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            ASSERT_EQ(target.at(x, y), packed(p.at(x, y))) << "at " << x << "," << y;
    EXPECT_TRUE(target.fences_intact());
}

TEST(tga_info, reads_the_header_fields)
{
    bytes file = tga_header(10, 256, 0x0102, 24, 0x28);
    file.push_back(0x99);
    const tga_info_t info = info_of(file);
    EXPECT_EQ(info.w, 256);
    EXPECT_EQ(info.h, 258);
    EXPECT_EQ(info.bpp, 24);
    EXPECT_EQ(info.type, 10);
    EXPECT_EQ(info.hv, 32);
    EXPECT_EQ(info.rl, 0);
    EXPECT_EQ(info.data, file.data() + 18);
    EXPECT_EQ(info.data_size, 1u);

    const tga_info_t bottom_up_mirrored = info_of(tga_header(2, 1, 1, 24, 0x18));
    EXPECT_EQ(bottom_up_mirrored.hv, 0);
    EXPECT_EQ(bottom_up_mirrored.rl, 16);
}

TEST(tga_info, pixel_data_follows_the_id_and_a_colour_map)
{
    bytes with_id = tga_header(2, 1, 1, 24, 0, 255);
    with_id.resize(18 + 255 + 3);
    EXPECT_EQ(info_of(with_id).data, with_id.data() + 273);
    EXPECT_EQ(info_of(with_id).data_size, 3u);

    // 10 entries of 15 bits take 2 bytes each; the first-entry index takes none.
    bytes mapped = tga_header(2, 1, 1, 24, 0, 4, 1, 10, 15);
    mapped[3] = 7;
    mapped.resize(18 + 4 + 20 + 3);
    EXPECT_EQ(info_of(mapped).data, mapped.data() + 42);

    // Without colour-map type 1, the map fields take no room.
    bytes unmapped = tga_header(2, 1, 1, 24, 0, 0, 0, 10, 24);
    unmapped.resize(18 + 3);
    EXPECT_EQ(info_of(unmapped).data, unmapped.data() + 18);
}

TEST(tga_info, id_or_colour_map_past_the_end_leaves_no_data)
{
    bytes long_id = tga_header(2, 1, 1, 24, 0, 200);
    long_id.resize(100);
    EXPECT_EQ(info_of(long_id).data_size, 0u);
    EXPECT_EQ(info_of(long_id).data, long_id.data() + long_id.size());

    bytes huge_map = tga_header(10, 1, 1, 24, 0, 0, 1, 65535, 32);
    huge_map.resize(1000);
    EXPECT_EQ(info_of(huge_map).data_size, 0u);
}

TEST(tga_info, file_shorter_than_the_header_is_refused)
{
    const bytes file = tga_header(2, 4, 4, 24, 0);
    tga_info_t info{};
    EXPECT_EQ(tga_info(file.data(), 17, &info), -1);
    EXPECT_EQ(info.w, 0);
    EXPECT_EQ(info.data_size, 0u);
    EXPECT_EQ(tga_info(nullptr, 0, &info), -1);
    EXPECT_EQ(tga_info(file.data(), 18, &info), 0);
}

TEST(tga24_to_sprite16, row_order_and_direction_come_out_top_down_left_to_right)
{
    // Stored A B C D: bottom-up gives rows C D / A B, top-down A B / C D.
    const rgb a{255, 0, 0}, b{0, 255, 0}, c{0, 0, 255}, d{255, 255, 255};
    bytes bottom_up = tga_header(2, 2, 2, 24, 0);
    for (rgb p : {a, b, c, d})
        bottom_up.insert(bottom_up.end(), {p.b, p.g, p.r});
    bytes top_down = bottom_up, mirrored = bottom_up;
    top_down[17] = 0x20;
    mirrored[17] = 0x30;

    canvas out(2, 2);
    decode(bottom_up, out);
    EXPECT_EQ(out.pixels(), (std::vector<pixel16>{packed(c), packed(d), packed(a), packed(b)}));
    decode(top_down, out);
    EXPECT_EQ(out.pixels(), (std::vector<pixel16>{packed(a), packed(b), packed(c), packed(d)}));
    decode(mirrored, out);
    EXPECT_EQ(out.pixels(), (std::vector<pixel16>{packed(b), packed(a), packed(d), packed(c)}));
}

// Every layout the writer makes decodes to the picture, pixel for pixel.
TEST(tga24_to_sprite16, every_layout_shows_the_picture)
{
    const rgb_picture p = numbered_picture(29, 13);
    for (int variant = 0; variant < 8; ++variant) {
        tga_layout layout;
        layout.run_length = variant & 1;
        layout.top_down = variant & 2;
        layout.right_to_left = variant & 4;
        layout.id_length = 5;
        layout.extra_descriptor_bits = 0x0F; // attribute bits: ignored
        canvas out(29, 13, 0xAAAA);
        SCOPED_TRACE(variant);
        expect_sprite_shows(decode(tga_encode(p, layout), out), out, p);
    }
}

TEST(tga24_to_sprite16, run_and_raw_packets_of_every_length)
{
    rgb_picture p = make_picture(160, 1, {10, 20, 30});
    p.at(128, 0) = {200, 100, 50};
    bytes file = tga_header(10, 160, 1, 24, 0x20);
    file.insert(file.end(), {0xFF, 30, 20, 10}); // 128 equal pixels
    file.insert(file.end(), {0x00, 50, 100, 200}); // one raw pixel
    file.insert(file.end(), {0x9E, 30, 20, 10}); // 31 more
    canvas out(160, 1);
    expect_sprite_shows(decode(file, out), out, p);
}

TEST(tga24_to_sprite16, run_packet_crosses_row_end_bottom_up)
{
    // 3 x 2, stored bottom row first: one run of 4 fills the bottom row and the
    // first pixel of the top row, then a raw packet of 2 ends the picture.
    bytes file = tga_header(10, 3, 2, 24, 0);
    file.insert(file.end(), {0x83, 0, 0, 248, 0x01, 0, 252, 0, 248, 0, 0});
    canvas out(3, 2);
    decode(file, out);
    EXPECT_EQ(out.pixels(), (std::vector<pixel16>{0xF800, 0x07E0, 0x001F, 0xF800, 0xF800, 0xF800}));
}

TEST(tga24_to_sprite16, packet_overrunning_the_picture_is_cut_at_its_end)
{
    // The last stored pixel lands in a different corner for each layout.
    struct {
        std::uint8_t descriptor;
        int last_x, last_y;
    } const layouts[] = {{0x00, 2, 0}, {0x20, 2, 2}, {0x10, 0, 0}, {0x30, 0, 2}};
    for (const auto& l : layouts) {
        SCOPED_TRACE(int(l.descriptor));
        bytes run = tga_header(10, 3, 3, 24, l.descriptor);
        run.insert(run.end(), {0x87, 8, 8, 8, 0xFF, 0, 0, 255}); // 8 + 128 pixels for 9
        canvas out(3, 3);
        EXPECT_EQ(decode(run, out).message, "");
        std::vector<pixel16> expected(9, 0x0841);
        expected[std::size_t(l.last_y) * 3 + l.last_x] = 0xF800;
        EXPECT_EQ(out.pixels(), expected);
        EXPECT_TRUE(out.fences_intact());

        bytes raw = tga_header(10, 2, 2, 24, l.descriptor);
        raw.push_back(0x05); // 6 raw pixels for 4: only 4 are there, and only 4 are read
        for (int i = 0; i < 4; ++i)
            raw.insert(raw.end(), {0, 0, 255});
        canvas out2(2, 2);
        EXPECT_EQ(decode(raw, out2).message, "");
        EXPECT_EQ(out2.pixels(), std::vector<pixel16>(4, 0xF800));
        EXPECT_TRUE(out2.fences_intact());
    }
}

tga_check_t check(const bytes& file)
{
    const tga_info_t info = info_of(file);
    return tga24_check(&info);
}

TEST(tga24_check, huge_claims_from_tiny_data_need_no_pixel_memory)
{
    bytes raw = tga_header(2, 65535, 65535, 24, 0);
    raw.resize(raw.size() + 3000, 0);
    bytes rle = tga_header(10, 65535, 65535, 24, 0);
    rle.resize(rle.size() + 4 * 1000, 0xFF);
    EXPECT_EQ(check(raw), tga_truncated);
    EXPECT_EQ(check(rle), tga_truncated);
    EXPECT_EQ(check(tga_header(3, 65535, 65535, 8, 0)), tga_unsupported);

    // The run-length bound is exact: 4 bytes may stand for 128 pixels, not 129.
    bytes exact = tga_header(10, 128, 1, 24, 0);
    exact.insert(exact.end(), {0xFF, 1, 2, 3});
    EXPECT_EQ(check(exact), tga_ok);
    bytes one_more = tga_header(10, 129, 1, 24, 0);
    one_more.insert(one_more.end(), {0xFF, 1, 2, 3});
    EXPECT_EQ(check(one_more), tga_truncated);
}

} // namespace
