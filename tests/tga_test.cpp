#include <gtest/gtest.h>

#include "fenced.h"
#include <velmora/tga.h>
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

// Decodes into a fenced fenced_sprite of exactly w * h pixels, pre-filled with a canary
// value so a pixel the decoder forgot stands out.
decoded decode(const bytes& file, fenced_sprite& target)
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

void expect_sprite_shows(const decoded& d, fenced_sprite& target, const rgb_picture& p)
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

    fenced_sprite out(2, 2);
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
        fenced_sprite out(29, 13, 0xAAAA);
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
    fenced_sprite out(160, 1);
    expect_sprite_shows(decode(file, out), out, p);
}

TEST(tga24_to_sprite16, run_packet_crosses_row_end_bottom_up)
{
    // 3 x 2, stored bottom row first: one run of 4 fills the bottom row and the
    // first pixel of the top row, then a raw packet of 2 ends the picture.
    bytes file = tga_header(10, 3, 2, 24, 0);
    file.insert(file.end(), {0x83, 0, 0, 248, 0x01, 0, 252, 0, 248, 0, 0});
    fenced_sprite out(3, 2);
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
        fenced_sprite out(3, 3);
        EXPECT_EQ(decode(run, out).message, "");
        std::vector<pixel16> expected(9, 0x0841);
        expected[std::size_t(l.last_y) * 3 + l.last_x] = 0xF800;
        EXPECT_EQ(out.pixels(), expected);
        EXPECT_TRUE(out.fences_intact());

        bytes raw = tga_header(10, 2, 2, 24, l.descriptor);
        raw.push_back(0x05); // 6 raw pixels for 4: only 4 are there, and only 4 are read
        for (int i = 0; i < 4; ++i)
            raw.insert(raw.end(), {0, 0, 255});
        fenced_sprite out2(2, 2);
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

// ---------------------------------------------------------------- every variant

namespace {

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

tga_check_t check_of(const bytes& file)
{
    const tga_info_t info = info_of(file);
    return tga_check(&info);
}

// The test's own reading of a stored colour: 5-bit channels widened by
// repeating their top bits, as a person reading the format would.
pixel16 packed_from_5_bits(rgba c)
{
    const auto widen = [](unsigned v8) {
        const unsigned v = v8 >> 3;
        return static_cast<std::uint8_t>(v << 3 | v >> 2);
    };
    return packed({widen(c.r), widen(c.g), widen(c.b)});
}

// A picture of up to 40 colours (so any map offset up to 216 fits) in runs of
// random length, opacities from 0 to 255 among them.
rgba_picture runs_of_colours(std::uint16_t w, std::uint16_t h, std::uint32_t seed)
{
    rgba_picture p{w, h, {}};
    std::vector<rgba> colours;
    for (int i = 0; i < 40; ++i) {
        seed = seed * 1664525u + 1013904223u;
        colours.push_back({static_cast<std::uint8_t>(seed >> 24), static_cast<std::uint8_t>(seed >> 16),
                           static_cast<std::uint8_t>(seed >> 8), static_cast<std::uint8_t>(i * 37 % 256)});
    }
    colours[1].a = 255;
    while (p.pixels.size() < std::size_t{w} * h) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t run = seed >> 29 == 0 ? 1 + (seed >> 8) % 40 : 1 + (seed >> 8) % 3;
        for (std::size_t i = 0; i < run && p.pixels.size() < std::size_t{w} * h; ++i)
            p.pixels.push_back(colours[(seed >> 16) % colours.size()]);
    }
    return p;
}

struct quiet_decoded {
    tga_check_t check, status;
    sprite_t sprite;
    std::vector<pixel16> pixels;
    std::vector<std::uint8_t> alpha;
};

// Decodes into a fenced fenced_sprite and a fenced opacity plane of exactly w * h.
quiet_decoded decode_quietly(const bytes& file)
{
    const tga_info_t info = info_of(file);
    fenced_sprite out(info.w, info.h, 0xAAAA);
    const std::size_t count = std::size_t{info.w} * info.h;
    std::vector<std::uint8_t> alpha(count + 64, 0x77);
    sprite_t sprite{0xAAAA, 0xAAAA, 0xAAAA, out.sprite.pixels};
    testing::internal::CaptureStdout();
    const tga_check_t status = tga_to_sprite16(&info, &sprite, alpha.data() + 32);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(out.fences_intact());
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_TRUE(alpha[i] == 0x77 && alpha[alpha.size() - 1 - i] == 0x77) << "opacity fence " << i;
    return {tga_check(&info), status, sprite, out.pixels(), {alpha.begin() + 32, alpha.end() - 32}};
}

enum class opacity { stored, one_bit, opaque };

struct variant_row {
    const char* name;
    tga_variant v;
    bool five_bits; // colours stored in 5-bit channels
    bool grey;
    opacity alpha;
};

tga_variant variant_of(std::uint8_t type, std::uint8_t bpp, std::uint8_t map_bits = 24,
                       std::uint16_t map_first = 0, std::uint8_t alpha_bits = 0)
{
    tga_variant v;
    v.type = type;
    v.bpp = bpp;
    v.map_entry_bits = map_bits;
    v.map_first = map_first;
    v.alpha_bits = alpha_bits;
    return v;
}

const variant_row variant_rows[] = {
    {"mapped 15-bit entries", variant_of(1, 8, 15), true, false, opacity::opaque},
    {"mapped 16-bit entries from 3", variant_of(1, 8, 16, 3, 1), true, false, opacity::opaque},
    {"mapped 24-bit entries from 216", variant_of(1, 8, 24, 216), false, false, opacity::opaque},
    {"mapped 32-bit entries from 7", variant_of(1, 8, 32, 7, 8), false, false, opacity::stored},
    {"true colour 15", variant_of(2, 15, 0, 0, 1), true, false, opacity::opaque},
    {"true colour 16, 1 alpha bit", variant_of(2, 16, 0, 0, 1), true, false, opacity::one_bit},
    {"true colour 16, no alpha bit", variant_of(2, 16), true, false, opacity::opaque},
    {"true colour 24", variant_of(2, 24, 0, 0, 8), false, false, opacity::opaque},
    {"true colour 32", variant_of(2, 32, 0, 0, 8), false, false, opacity::stored},
    {"grey 8", variant_of(3, 8), false, true, opacity::opaque},
    {"grey 16", variant_of(3, 16, 0, 0, 8), false, true, opacity::stored},
};

pixel16 expected_pixel(const variant_row& row, rgba c)
{
    if (row.grey)
        return packed({c.r, c.r, c.r});
    return row.five_bits ? packed_from_5_bits(c) : packed({c.r, c.g, c.b});
}

std::uint8_t expected_alpha(opacity kind, rgba c)
{
    switch (kind) {
    case opacity::stored: return c.a;
    case opacity::one_bit: return c.a >= 128 ? 255 : 0;
    case opacity::opaque: return 255;
    }
    return 0;
}

// Every variant in every row order and direction, raw and run-length, decodes
// to the picture the test wrote, with the opacities its rule gives.
TEST(tga_to_sprite16, every_variant_in_every_layout_shows_the_picture)
{
    const rgba_picture p = runs_of_colours(37, 9, 5);
    for (const variant_row& row : variant_rows) {
        for (int layout = 0; layout < 8; ++layout) {
            tga_variant v = row.v;
            v.type = static_cast<std::uint8_t>(v.type + (layout & 1 ? 8 : 0));
            v.top_down = layout & 2;
            v.right_to_left = layout & 4;
            SCOPED_TRACE(std::string(row.name) + " layout " + std::to_string(layout));
            const quiet_decoded d = decode_quietly(tga_encode(p, v));
            EXPECT_EQ(d.check, tga_ok);
            ASSERT_EQ(d.status, tga_ok);
            EXPECT_EQ(d.sprite.w, p.w);
            EXPECT_EQ(d.sprite.h, p.h);
            EXPECT_EQ(d.sprite.bpp, 16);
            for (std::size_t i = 0; i < p.pixels.size(); ++i) {
                ASSERT_EQ(d.pixels[i], expected_pixel(row, p.pixels[i])) << "pixel " << i;
                ASSERT_EQ(d.alpha[i], expected_alpha(row.alpha, p.pixels[i])) << "opacity " << i;
            }
        }
    }
}

TEST(tga_to_sprite16, a_24_bit_file_gives_the_24_bit_decoders_pixels_fully_opaque)
{
    const rgb_picture p = numbered_picture(23, 11);
    tga_layout layout = make_layout(true, false);
    layout.right_to_left = true;
    const bytes file = tga_encode(p, layout);
    fenced_sprite old(23, 11);
    decode(file, old);
    const quiet_decoded d = decode_quietly(file);
    EXPECT_EQ(d.status, tga_ok);
    EXPECT_EQ(d.pixels, old.pixels());
    EXPECT_EQ(d.alpha, std::vector<std::uint8_t>(23 * 11, 255));
}

// ---------------------------------------------------------------- opacity rules

enum class footer { none, attributes, area_outside_the_file };

struct opacity_row {
    const char* name;
    tga_variant v;
    bool zero_alpha; // every opacity in the picture 0
    footer tail;
    int attributes;
    opacity expected;
};

tga_variant with_alpha_bits(tga_variant v, std::uint8_t bits)
{
    v.alpha_bits = bits;
    return v;
}

const tga_variant bgra = variant_of(2, 32);
const tga_variant mapped32 = variant_of(9, 8, 32, 2);

const opacity_row opacity_rows[] = {
    {"footer says no alpha (0)", with_alpha_bits(bgra, 8), false, footer::attributes, 0, opacity::opaque},
    {"footer says undefined (1)", with_alpha_bits(bgra, 8), false, footer::attributes, 1, opacity::opaque},
    {"footer says keep (2)", with_alpha_bits(bgra, 8), false, footer::attributes, 2, opacity::opaque},
    {"footer says alpha (3)", bgra, false, footer::attributes, 3, opacity::stored},
    {"footer says premultiplied (4)", bgra, false, footer::attributes, 4, opacity::stored},
    {"footer says alpha, all zero", bgra, true, footer::attributes, 3, opacity::stored},
    {"footer of another value, 0 bits, all zero", bgra, true, footer::attributes, 5, opacity::opaque},
    {"footer of another value, 8 bits", with_alpha_bits(bgra, 8), false, footer::attributes, 200, opacity::stored},
    {"extension area outside the file, all zero", bgra, true, footer::area_outside_the_file, 0, opacity::opaque},
    {"extension area outside the file, 8 bits", with_alpha_bits(bgra, 8), true, footer::area_outside_the_file, 0,
     opacity::stored},
    {"no footer, 0 bits, all zero", bgra, true, footer::none, 0, opacity::opaque},
    {"no footer, 8 bits, all zero", with_alpha_bits(bgra, 8), true, footer::none, 0, opacity::stored},
    {"no footer, 0 bits, some opacity", bgra, false, footer::none, 0, opacity::stored},
    {"map entries, 0 bits, all zero", mapped32, true, footer::none, 0, opacity::opaque},
    {"map entries, 8 bits, all zero", with_alpha_bits(mapped32, 8), true, footer::none, 0, opacity::stored},
    {"map entries, footer says alpha, all zero", mapped32, true, footer::attributes, 3, opacity::stored},
    {"map entries, footer says no alpha", with_alpha_bits(mapped32, 8), false, footer::attributes, 0, opacity::opaque},
    {"16 bits, 1 alpha bit", variant_of(10, 16, 0, 0, 1), false, footer::none, 0, opacity::one_bit},
    {"16 bits, 1 alpha bit, all clear", variant_of(2, 16, 0, 0, 1), true, footer::none, 0, opacity::one_bit},
    {"16 bits, 0 alpha bits", variant_of(2, 16), true, footer::none, 0, opacity::opaque},
    {"16 bits, 8 alpha bits", variant_of(2, 16, 0, 0, 8), true, footer::none, 0, opacity::opaque},
    {"15 bits, 1 alpha bit", variant_of(2, 15, 0, 0, 1), true, footer::none, 0, opacity::opaque},
    {"16-bit map entries, 1 alpha bit", variant_of(1, 8, 16, 0, 1), true, footer::none, 0, opacity::opaque},
    {"grey 16", variant_of(11, 16), false, footer::attributes, 0, opacity::stored},
    {"grey 8, 8 alpha bits", variant_of(3, 8, 0, 0, 8), true, footer::none, 0, opacity::opaque},
    {"24 bits, footer says alpha", with_alpha_bits(variant_of(2, 24), 8), false, footer::attributes, 3,
     opacity::opaque},
};

bytes file_for(const opacity_row& row, const rgba_picture& p)
{
    tga_variant v = row.v;
    if (row.tail == footer::attributes)
        v.attributes_type = row.attributes;
    bytes file = tga_encode(p, v);
    if (row.tail == footer::area_outside_the_file) {
        // An area starting 200 bytes before the footer cannot hold its byte 494.
        file.resize(file.size() + 200, 0);
        const bytes tail = tga2_extension_and_footer(static_cast<std::uint32_t>(file.size() - 200), 0);
        file.insert(file.end(), tail.end() - 26, tail.end());
    }
    return file;
}

TEST(tga_to_sprite16, opacity_follows_depth_descriptor_and_footer)
{
    for (const opacity_row& row : opacity_rows) {
        SCOPED_TRACE(row.name);
        rgba_picture p = runs_of_colours(13, 5, 9);
        for (rgba& c : p.pixels)
            c.a = row.zero_alpha ? 0 : c.a;
        const quiet_decoded d = decode_quietly(file_for(row, p));
        ASSERT_EQ(d.status, tga_ok);
        for (std::size_t i = 0; i < p.pixels.size(); ++i)
            ASSERT_EQ(d.alpha[i], expected_alpha(row.expected, p.pixels[i])) << "opacity " << i;
    }
}

// The decoder's first answers come from the header alone, and tga_check gives
// them too; without an opacity plane the pixels are the same.
TEST(tga_check, refuses_from_the_header_what_the_decoder_refuses)
{
    const rgba_picture p = runs_of_colours(6, 4, 3);
    bytes bad_entry = tga_encode(p, variant_of(1, 8, 24));
    bad_entry[7] = 8;
    bytes no_map_type = tga_encode(p, variant_of(1, 8, 24));
    no_map_type[1] = 0;
    bytes wide_index = tga_encode(p, variant_of(1, 8, 24));
    wide_index[16] = 16;
    const bytes map_cut = tga_header(1, 0, 4, 8, 0, 0, 1, 10, 32) + bytes(20, 1); // 40 bytes of map
    const struct {
        const char* name;
        bytes file;
        tga_check_t expected;
    } rows[] = {
        {"8-bit map entries", bad_entry, tga_unsupported},
        {"colour-mapped without a map", no_map_type, tga_unsupported},
        {"16-bit indices", wide_index, tga_unsupported},
        {"grey 24", tga_header(3, 2, 2, 24, 0) + bytes(12, 1), tga_unsupported},
        {"true colour 8", tga_header(10, 2, 2, 8, 0) + bytes(12, 1), tga_unsupported},
        {"type 17", tga_header(17, 2, 2, 8, 0) + bytes(12, 1), tga_unsupported},
        {"colour map cut, empty picture", map_cut, tga_truncated},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const quiet_decoded d = decode_quietly(row.file);
        EXPECT_EQ(d.check, row.expected);
        EXPECT_EQ(d.status, row.expected);
        EXPECT_EQ(d.sprite.w, 0);
        EXPECT_EQ(d.sprite.h, 0);
        EXPECT_EQ(d.sprite.bpp, 0);
    }
    // The best case of each depth: one run packet per 128 pixels.
    bytes rle16 = tga_header(10, 128, 2, 16, 0) + bytes{0xFF, 1, 2};
    EXPECT_EQ(check_of(rle16), tga_truncated);
    rle16.insert(rle16.end(), {0xFF, 1, 2});
    EXPECT_EQ(check_of(rle16), tga_ok);
    EXPECT_EQ(check_of(tga_header(3, 65535, 65535, 8, 0) + bytes(4000, 0)), tga_truncated);
}

} // namespace
