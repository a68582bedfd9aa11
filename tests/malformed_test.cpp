// Hand-made broken, odd and hostile TGA files, each with the outcome it must
// have, run three times: through the library (header, check, decoder), through
// the quiet decoder of every variant, and through the viewer's loading phase
// as sample 1 between three good samples.
//
// Each run watches for
//   - reads past the end of the file: the library reads it from the very end of
//     a page whose successor is unmapped, so any over-read faults in every build;
//   - writes outside the picture: canary fences around the pixel buffer and the
//     screen, and the sanitizer build;
//   - pixels never written: every buffer the viewer allocates is filled with a
//     canary word first, and the screen must equal the expected one exactly;
//   - huge allocations: every malloc of the loading phase is measured.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fenced.h"
#include "malformed_files.h"
#include <velmora/sprite.h>
#include <velmora/tga.h>

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr pixel16 canary = 0xDEAD;
static_assert(fenced_sprite::canary == canary, "one canary word for buffers and fences");

// ---- Building the files ----

bytes raw_file(const rgb_picture& p, bool top_down = false)
{
    return tga_encode(p, make_layout(false, top_down));
}

bytes rle_file(const rgb_picture& p, bool top_down = false)
{
    return tga_encode(p, make_layout(true, top_down));
}

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes first(const bytes& b, std::size_t n)
{
    return {b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)};
}

bytes bgr(rgb c)
{
    return {c.b, c.g, c.r};
}

// The same header with its descriptor byte ORed with `bits`.
bytes with_descriptor_bits(bytes file, std::uint8_t bits)
{
    file[17] = static_cast<std::uint8_t>(file[17] | bits);
    return file;
}

std::string unsupported(int type, int bpp)
{
    return "tga24_to_sprite16: unsuppoted TGA format [" + std::to_string(type) + "/" +
           std::to_string(bpp) + "bpp]\n";
}

std::string truncated(int w, int h)
{
    return "tga24_to_sprite16: truncated TGA data [" + std::to_string(w) + "x" + std::to_string(h) +
           "]\n";
}

malformed_case short_file(const char* name, bytes file)
{
    return {name, std::move(file), outcome::too_short, "", {}};
}

malformed_case refused(const char* name, bytes file, std::string message)
{
    return {name, std::move(file), outcome::refused, std::move(message), {}};
}

malformed_case shown(const char* name, bytes file, rgb_picture picture)
{
    return {name, std::move(file), outcome::shown, "", std::move(picture)};
}

// A header of `type`/`bpp` for a 4 x 4 picture followed by `data_bytes` of filler.
bytes refused_variant(std::uint8_t type, std::uint8_t bpp, std::size_t data_bytes)
{
    return tga_header(type, 4, 4, bpp, 0) + bytes(data_bytes, 0x3C);
}

std::vector<malformed_case> short_and_header_only()
{
    const bytes good = raw_file(noise_picture(4, 4, 1));
    return {
        short_file("empty_file", {}),
        short_file("one_byte", {0}),
        short_file("seventeen_bytes", first(good, 17)),
        refused("header_only_raw", first(good, 18), truncated(4, 4)),
        refused("header_only_rle", first(rle_file(noise_picture(4, 4, 1)), 18), truncated(4, 4)),
        shown("header_only_zero_size", tga_header(2, 0, 0, 24, 0), make_picture(0, 0)),
    };
}

std::vector<malformed_case> id_and_colour_map()
{
    const rgb_picture p = noise_picture(5, 3, 2);
    tga_layout long_id = make_layout(true, false);
    long_id.id_length = 255;
    tga_layout full_map = make_layout(false, true);
    full_map.colour_map_length = 65535;
    full_map.colour_map_entry_bits = 32;
    std::vector<malformed_case> cases = {
        refused("id_past_end_raw", tga_header(2, 4, 4, 24, 0, 200) + bytes(50, 1), truncated(4, 4)),
        refused("id_past_end_rle", tga_header(10, 4, 4, 24, 0, 255) + bytes(40, 0x81), truncated(4, 4)),
        refused("id_fills_the_file", tga_header(2, 1, 1, 24, 0, 10) + bytes(10, 9), truncated(1, 1)),
        shown("id_255_then_picture", tga_encode(p, long_id), p),
        refused("colour_map_past_end", tga_header(2, 4, 4, 24, 0, 0, 1, 1000, 24) + bytes(60, 7),
                truncated(4, 4)),
        refused("colour_map_huge_claim", tga_header(10, 2, 2, 24, 0, 3, 1, 65535, 32) + bytes(500, 0xFF),
                truncated(2, 2)),
        shown("colour_map_huge_and_present", tga_encode(p, full_map), p),
        // A colour map in a type-0 file's fields is no colour map: nothing is skipped.
        shown("colour_map_fields_without_map_type", tga_header(2, 5, 3, 24, 0, 0, 0, 40, 24) +
                                                        stored_pixels(p, make_layout(false, false)),
              p),
    };
    // Odd entry sizes take whole bytes each: 15 bits 2 bytes, 1 bit 1 byte,
    // 0 bits none, 255 bits 32 bytes.
    const std::pair<const char*, std::uint8_t> odd_sizes[] = {
        {"colour_map_15_bit_entries", 15},
        {"colour_map_1_bit_entries", 1},
        {"colour_map_0_bit_entries", 0},
        {"colour_map_255_bit_entries", 255},
    };
    for (const auto& [name, bits] : odd_sizes) {
        tga_layout l = make_layout(true, true);
        l.id_length = 3;
        l.colour_map_length = 7;
        l.colour_map_entry_bits = bits;
        cases.push_back(shown(name, tga_encode(p, l), p));
    }
    return cases;
}

std::vector<malformed_case> refused_variants()
{
    struct variant {
        const char* name;
        std::uint8_t type, bpp;
        std::size_t data_bytes;
    };
    const variant variants[] = {
        {"type_0_no_image", 0, 0, 0},
        {"type_1_colour_mapped", 1, 8, 16},
        {"type_3_grey", 3, 8, 16},
        {"type_9_colour_mapped_rle", 9, 8, 8},
        {"type_11_grey_rle", 11, 8, 8},
        {"raw_32_bit", 2, 32, 64},
        {"rle_32_bit", 10, 32, 10},
        {"raw_16_bit", 2, 16, 32},
        {"raw_15_bit", 2, 15, 32},
        {"raw_8_bit", 2, 8, 16},
        {"rle_16_bit", 10, 16, 6},
        {"unknown_type_4", 4, 24, 48},
        {"unknown_type_128", 128, 24, 48},
        {"unknown_type_255", 255, 24, 48},
        {"depth_0", 2, 0, 48},
        {"depth_1", 2, 1, 48},
        {"depth_25", 2, 25, 64},
        {"depth_255", 10, 255, 48},
    };
    std::vector<malformed_case> cases;
    for (const variant& v : variants)
        cases.push_back(refused(v.name, refused_variant(v.type, v.bpp, v.data_bytes),
                                unsupported(v.type, v.bpp)));
    return cases;
}

std::vector<malformed_case> sizes()
{
    const bytes some_pixels(30, 0x55);
    return {
        shown("width_0_raw", tga_header(2, 0, 5, 24, 0) + some_pixels, make_picture(0, 5)),
        shown("height_0_rle", tga_header(10, 5, 0, 24, 0x20) + bytes{0x80, 1, 2, 3}, make_picture(5, 0)),
        refused("huge_claim_raw", tga_header(2, 65535, 65535, 24, 0) + some_pixels, truncated(65535, 65535)),
        refused("huge_claim_rle", tga_header(10, 65535, 65535, 24, 0x20) + bytes(64, 0xFF),
                truncated(65535, 65535)),
        refused("one_huge_row_raw", tga_header(2, 65535, 1, 24, 0) + some_pixels, truncated(65535, 1)),
        refused("raw_one_byte_short", first(raw_file(noise_picture(6, 5, 3)), 18 + 6 * 5 * 3 - 1), truncated(6, 5)),
        refused("raw_one_pixel_short_top_down", first(raw_file(noise_picture(6, 5, 3), true), 18 + 6 * 5 * 3 - 3),
                truncated(6, 5)),
    };
}

// Packets for a 4 x 4 picture (16 pixels) cut at every kind of place; each
// file is long enough to pass the size check, so the decoder must notice.
std::vector<malformed_case> cut_packets()
{
    const rgb a{200, 10, 10}, b{10, 200, 10};
    const bytes header = tga_header(10, 4, 4, 24, 0);
    const bytes run8 = bytes{0x87} + bgr(a);
    const bytes raw4 = bytes{0x03} + bgr(a) + bgr(b) + bgr(a) + bgr(b);
    return {
        refused("rle_ends_where_a_packet_header_should_be", header + run8 + raw4, truncated(4, 4)),
        refused("rle_run_cut_after_its_header", header + run8 + raw4 + bytes{0x83}, truncated(4, 4)),
        refused("rle_run_cut_in_its_pixel", header + run8 + raw4 + bytes{0x83} + first(bgr(b), 2),
                truncated(4, 4)),
        refused("rle_raw_cut_after_its_header", header + run8 + raw4 + bytes{0x03}, truncated(4, 4)),
        refused("rle_raw_cut_in_its_first_pixel", header + run8 + bytes{0x07} + first(bgr(b), 1),
                truncated(4, 4)),
        refused("rle_raw_cut_between_pixels", header + run8 + bytes{0x07} + bgr(a) + bgr(b) + bgr(a),
                truncated(4, 4)),
        refused("rle_raw_cut_inside_a_later_pixel", header + run8 + bytes{0x07} + bgr(b) + bgr(a) + first(bgr(b), 2),
                truncated(4, 4)),
    };
}

// Pictures that end inside a packet, or are followed by more than they need.
std::vector<malformed_case> overruns_and_surplus()
{
    const rgb c{30, 60, 90};
    const rgb_picture flat = make_picture(3, 3, c);
    const rgb_picture p = noise_picture(3, 3, 4);
    const bytes p_raw_order = stored_pixels(p, make_layout(false, false));
    const rgb_picture q = noise_picture(7, 4, 5);
    return {
        shown("run_packet_overruns_the_picture", tga_header(10, 3, 3, 24, 0) + bytes{0xFF} + bgr(c), flat),
        shown("raw_packet_overruns_with_its_pixels",
              tga_header(10, 3, 3, 24, 0) + bytes{0x7F} + p_raw_order + bytes(119 * 3, 0x77), p),
        shown("raw_packet_claims_more_than_the_file_holds",
              tga_header(10, 3, 3, 24, 0) + bytes{0x7F} + p_raw_order, p),
        shown("surplus_packets_after_the_picture",
              rle_file(q, true) + bytes{0xFF, 1, 2, 3, 0x00, 4, 5, 6, 0x85}, q),
        shown("trailing_bytes_after_raw_data", raw_file(q) + bytes(33, 0xEE), q),
        shown("tga2_footer_after_raw_data", raw_file(q, true) + tga2_footer(), q),
        shown("tga2_footer_after_rle_data", rle_file(q) + tga2_footer(), q),
    };
}

std::vector<malformed_case> ignored_descriptor_bits()
{
    const rgb_picture p = noise_picture(6, 4, 6);
    return {
        shown("attribute_bits_raw", with_descriptor_bits(raw_file(p), 0x08), p),
        shown("interleave_bits_rle", with_descriptor_bits(rle_file(p), 0xC0), p),
        shown("every_ignored_bit_top_down", with_descriptor_bits(raw_file(p, true), 0xCF), p),
    };
}

// Variants only the quiet decoder reads: the 24-bit road refuses them all.
malformed_case quiet(const char* name, bytes file, tga_check_t status, rgb_picture picture = {})
{
    const std::string message = unsupported(file[2], file[16]);
    return {name, std::move(file), outcome::refused, message, std::move(picture), status};
}

rgba_picture opaque(const rgb_picture& p)
{
    rgba_picture out{p.w, p.h, {}};
    for (const rgb& c : p.pixels)
        out.pixels.push_back({c.r, c.g, c.b, 255});
    return out;
}

rgb_picture grey_noise(std::uint16_t w, std::uint16_t h, std::uint32_t seed)
{
    rgb_picture p = noise_picture(w, h, seed);
    for (rgb& c : p.pixels)
        c = {c.r, c.r, c.r};
    return p;
}

tga_variant variant(std::uint8_t type, std::uint8_t bpp, std::uint8_t map_bits = 24, std::uint16_t map_first = 0)
{
    tga_variant v;
    v.type = type;
    v.bpp = bpp;
    v.map_entry_bits = map_bits;
    v.map_first = map_first;
    return v;
}

// A 4 x 4 colour-mapped picture, map entries 2, 3, 4 (24 bits, blue first), stored indices as given.
bytes mapped_4x4(std::uint8_t type, const bytes& data)
{
    bytes file = tga_header(type, 4, 4, 8, 0, 0, 1, 3, 24);
    file[3] = 2;
    return file + bytes{10, 20, 30, 40, 50, 60, 70, 80, 90} + data;
}

std::vector<malformed_case> every_variant()
{
    const rgb_picture p = noise_picture(6, 5, 21);
    const rgb_picture g = grey_noise(9, 4, 22);
    const bytes good_indices(16, 3);
    bytes above = good_indices, below = good_indices;
    above[9] = 5;
    below[4] = 1;
    tga_variant footed = variant(10, 32);
    footed.attributes_type = 3;
    const bytes mapped = tga_encode(opaque(p), variant(1, 8, 32));
    bytes entries_8_bits = mapped, no_map_type = mapped, wide_indices = mapped;
    entries_8_bits[7] = 8;
    no_map_type[1] = 0;
    wide_indices[16] = 16;
    const rgba c{200, 100, 50, 255};
    const bytes bgra{c.b, c.g, c.r, c.a};
    return {
        quiet("mapped_index_above_the_map", mapped_4x4(1, above), tga_corrupt),
        quiet("mapped_index_below_the_first_entry", mapped_4x4(1, below), tga_corrupt),
        quiet("mapped_bad_index_before_the_data_ends", mapped_4x4(9, {0x83, 3, 0x81, 7}), tga_corrupt),
        quiet("mapped_bad_index_in_surplus_packets", mapped_4x4(9, {0x8F, 4, 0x80, 9}), tga_ok,
              make_picture(4, 4, {90, 80, 70})),
        quiet("colour_map_cut_short", first(mapped, 18 + 30 * 4 / 2), tga_truncated),
        quiet("colour_map_cut_in_an_empty_picture", tga_header(9, 0, 7, 8, 0, 0, 1, 300, 16) + bytes(500, 1),
              tga_truncated),
        quiet("colour_map_8_bit_entries", entries_8_bits, tga_unsupported),
        quiet("colour_mapped_without_a_colour_map", no_map_type, tga_unsupported),
        quiet("colour_mapped_16_bit_indices", wide_indices, tga_unsupported),
        quiet("grey_24_bits", tga_header(3, 4, 4, 24, 0) + bytes(48, 9), tga_unsupported),
        quiet("rle_32_run_cut_in_its_pixel", tga_header(10, 4, 4, 32, 0) + bytes{0x87} + bgra + bytes{0x87} +
                                                 first(bgra, 2),
              tga_truncated),
        quiet("rle_16_raw_cut_between_pixels", tga_header(10, 4, 4, 16, 1) + bytes{0x8B, 1, 2, 0x07, 3, 4, 5, 6, 7, 8},
              tga_truncated),
        quiet("rle_grey_cut_after_a_header", tga_header(11, 4, 4, 8, 0) + bytes{0x87, 9, 0x87}, tga_truncated),
        quiet("raw_32_one_byte_short", first(tga_encode(opaque(p), variant(2, 32)), 18 + 6 * 5 * 4 - 1),
              tga_truncated),
        quiet("mapped_rle_from_entry_10", tga_encode(opaque(p), variant(9, 8, 24, 10)), tga_ok, p),
        quiet("bgra_rle_with_extension_and_footer", tga_encode(opaque(p), footed), tga_ok, p),
        quiet("grey_rle_with_surplus_packets", tga_encode(opaque(g), variant(11, 8)) + bytes{0xFF, 1, 0x05}, tga_ok,
              g),
    };
}

std::vector<malformed_case> all_cases()
{
    std::vector<malformed_case> all;
    for (auto group : {short_and_header_only(), id_and_colour_map(), refused_variants(), sizes(),
                       cut_packets(), overruns_and_surplus(), ignored_descriptor_bits(), every_variant()})
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

// ---- Looking at the results ----

// The file at the very end of readable memory: the page after it is unmapped.
struct guarded_file {
    std::uint8_t* mapping = nullptr;
    std::size_t mapped = 0;
    const std::uint8_t* data = nullptr;

    explicit guarded_file(const bytes& file)
    {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t readable = (file.size() + page - 1) / page * page + page;
        mapped = readable + page;
        void* m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(m, MAP_FAILED);
        mapping = static_cast<std::uint8_t*>(m);
        EXPECT_EQ(mprotect(mapping + readable, page, PROT_NONE), 0);
        std::uint8_t* start = mapping + readable - file.size();
        if (!file.empty())
            std::memcpy(start, file.data(), file.size());
        data = start;
    }
    ~guarded_file() { munmap(mapping, mapped); }
    guarded_file(const guarded_file&) = delete;
    guarded_file& operator=(const guarded_file&) = delete;
};

std::vector<pixel16> expected_pixels(const rgb_picture& p)
{
    std::vector<pixel16> out;
    for (const rgb& c : p.pixels)
        out.push_back(expected_565(c));
    return out;
}

bool holds_canary(const rgb_picture& p)
{
    const std::vector<pixel16> px = expected_pixels(p);
    return std::find(px.begin(), px.end(), canary) != px.end();
}

TEST_P(malformed, library_gives_the_expected_outcome)
{
    const malformed_case& c = GetParam();
    const guarded_file file(c.file);
    tga_info_t info{};
    const int read = tga_info(file.data, c.file.size(), &info);
    if (c.expected == outcome::too_short) {
        EXPECT_EQ(read, -1);
        return;
    }
    ASSERT_EQ(read, 0);

    // As the viewer does: pixel memory only once the check passes.
    const bool allocate = tga24_check(&info) == tga_ok;
    const std::size_t pixels = allocate ? std::size_t{info.w} * info.h : 0;
    ASSERT_LE(pixels * sizeof(pixel16), allocation_limit);
    fenced_sprite buffer(allocate ? info.w : 0, allocate ? info.h : 0, canary);
    sprite_t sprite{1, 1, 1, buffer.sprite.pixels};

    testing::internal::CaptureStdout();
    tga24_to_sprite16(&info, &sprite);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_TRUE(buffer.fences_intact());
    EXPECT_EQ(sprite.pixels, buffer.sprite.pixels);

    if (c.expected == outcome::refused) {
        EXPECT_EQ(sprite.w, 0);
        EXPECT_EQ(sprite.h, 0);
        EXPECT_EQ(sprite.bpp, 0);
        return;
    }
    ASSERT_FALSE(holds_canary(c.picture)) << "the test picture must not hold the canary word";
    EXPECT_EQ(sprite.w, c.picture.w);
    EXPECT_EQ(sprite.h, c.picture.h);
    EXPECT_EQ(sprite.bpp, 16);
    EXPECT_EQ(buffer.pixels(), expected_pixels(c.picture));
}

// What the quiet decoder must answer: as given, or for a 24-bit file what the
// 24-bit decoder shows or refuses.
std::optional<tga_check_t> quiet_status(const malformed_case& c, const tga_info_t& info)
{
    if (c.quiet || info.bpp != 24)
        return c.quiet;
    if (c.expected == outcome::shown)
        return tga_ok;
    return c.message.find("truncated") != std::string::npos ? tga_truncated : tga_unsupported;
}

TEST_P(malformed, quiet_decoder_gives_the_expected_status)
{
    const malformed_case& c = GetParam();
    const guarded_file file(c.file);
    tga_info_t info{};
    if (tga_info(file.data, c.file.size(), &info) != 0)
        return;
    const std::optional<tga_check_t> expected = quiet_status(c, info);
    const tga_check_t check = tga_check(&info);
    const std::size_t count = std::size_t{info.w} * info.h;
    ASSERT_TRUE(check != tga_ok || count * 3 <= allocation_limit) << "the check lets a huge claim through";
    EXPECT_TRUE(expected != tga_ok || check == tga_ok) << "the check refuses a good file";
    if (count * 3 > allocation_limit)
        return; // refused by the check: nothing to decode into

    fenced_sprite buffer(info.w, info.h, canary);
    std::vector<std::uint8_t> alpha(count + 2 * fenced_sprite::fence, 0xAD);
    sprite_t sprite{1, 1, 1, buffer.sprite.pixels};
    testing::internal::CaptureStdout();
    const tga_check_t status = tga_to_sprite16(&info, &sprite, alpha.data() + fenced_sprite::fence);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(status, expected.value_or(status));
    EXPECT_TRUE(status != tga_ok || check == tga_ok) << "the check refuses a file that decodes";
    EXPECT_TRUE(buffer.fences_intact());
    EXPECT_EQ(std::count(alpha.begin(), alpha.begin() + fenced_sprite::fence, 0xAD), fenced_sprite::fence);
    EXPECT_EQ(std::count(alpha.end() - fenced_sprite::fence, alpha.end(), 0xAD), fenced_sprite::fence);
    EXPECT_EQ(sprite.pixels, buffer.sprite.pixels);
    if (status != tga_ok) {
        EXPECT_EQ(sprite.w + sprite.h + sprite.bpp, 0);
        return;
    }
    EXPECT_EQ(sprite.w, info.w);
    EXPECT_EQ(sprite.h, info.h);
    EXPECT_EQ(sprite.bpp, 16);
    if (expected && (c.expected == outcome::shown || c.quiet)) {
        ASSERT_EQ(std::size_t{c.picture.w} * c.picture.h, count);
        EXPECT_EQ(buffer.pixels(), expected_pixels(c.picture));
        EXPECT_EQ(std::count(alpha.begin() + fenced_sprite::fence, alpha.end() - fenced_sprite::fence, 255),
                  static_cast<std::ptrdiff_t>(count));
    }
}

INSTANTIATE_TEST_SUITE_P(files, malformed, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<malformed_case>& info) { return info.param.name; });

TEST(malformed_suite, covers_at_least_forty_files_with_distinct_contents)
{
    const std::vector<malformed_case> cases = all_cases();
    EXPECT_GE(cases.size(), 40u);
    for (std::size_t i = 0; i < cases.size(); ++i)
        for (std::size_t j = i + 1; j < cases.size(); ++j)
            EXPECT_NE(cases[i].file, cases[j].file) << cases[i].name << " and " << cases[j].name;
}

} // namespace

std::vector<malformed_case> malformed_files()
{
    return all_cases();
}
