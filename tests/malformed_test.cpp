// Hand-made broken, odd and hostile TGA files, each with the outcome it must
// have, run twice: through the library (header, check, decoder) and through the
// viewer's loading phase as sample 1 between three good samples.
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
#include <string>
#include <vector>

#include "canvas.h"
#include "malformed_files.h"
#include "sprite.h"
#include "tga.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr pixel16 canary = 0xDEAD;
static_assert(canvas::canary == canary, "one canary word for buffers and fences");

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

std::vector<malformed_case> all_cases()
{
    std::vector<malformed_case> all;
    for (auto group : {short_and_header_only(), id_and_colour_map(), refused_variants(), sizes(),
                       cut_packets(), overruns_and_surplus(), ignored_descriptor_bits()})
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
    canvas buffer(allocate ? info.w : 0, allocate ? info.h : 0, canary);
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
