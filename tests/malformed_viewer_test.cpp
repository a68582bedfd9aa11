// The malformed files (malformed_test.cpp) through the viewer's loading phase,
// each as sample 1 between three good samples: the exact output, the whole
// screen, the fences, and the largest allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "malformed_files.h"
#include "sample_folder.h"

// The loading phase's allocations pass through here: the test executable is
// linked with --wrap=malloc, which reaches only code linked into it statically.
namespace malloc_watch {
bool watching = false;
std::size_t largest = 0;
constexpr std::uint8_t canary_bytes[2] = {0xAD, 0xDE}; // 0xDEAD as a native word
} // namespace malloc_watch

extern "C" void* __real_malloc(std::size_t size);

extern "C" void* __wrap_malloc(std::size_t size)
{
    void* memory = __real_malloc(size);
    if (malloc_watch::watching && memory != nullptr) {
        malloc_watch::largest = std::max(malloc_watch::largest, size);
        auto* bytes = static_cast<std::uint8_t*>(memory);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = malloc_watch::canary_bytes[i % 2];
    }
    return memory;
}

namespace {

using bytes = std::vector<std::uint8_t>;

// Three good samples around the file under test, which is sample 1 (top right).
struct good_samples {
    rgb_picture pictures[4] = {noise_picture(64, 64, 11), {}, noise_picture(64, 40, 13), noise_picture(50, 64, 14)};

    void put(const sample_folder& folder) const
    {
        folder.put(0, tga_encode(pictures[0], make_layout(false, false)));
        folder.put(2, tga_encode(pictures[2], make_layout(true, false)));
        folder.put(3, tga_encode(pictures[3], make_layout(true, true)));
    }
};

std::string printed_lines(const malformed_case& c)
{
    const std::string path = sample_folder::path(1);
    if (c.expected == outcome::too_short)
        return path + "\ntga_info: file too short for a TGA header [" + std::to_string(c.file.size()) +
               " bytes]\n";
    const bytes& f = c.file;
    return header_lines(path, f[12] | f[13] << 8, f[14] | f[15] << 8, (f[17] & 0x20) != 0, f[16], f[2]) +
           c.message;
}

void draw_expected(std::vector<pixel16>& screen, const rgb_picture& p, int x0, int y0)
{
    for (int y = 0; y < p.h && y0 + y < 512; ++y)
        for (int x = 0; x < p.w && x0 + x < 512; ++x)
            screen[static_cast<std::size_t>(y0 + y) * 512 + x0 + x] = expected_565(p.at(x, y));
}

// The first pixel where the screen differs from what it should show, if any.
std::string first_difference(const std::vector<pixel16>& actual, const std::vector<pixel16>& expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i])
            return "at " + std::to_string(i % 512) + "," + std::to_string(i / 512) + ": " +
                   std::to_string(actual[i]) + " instead of " + std::to_string(expected[i]);
    }
    return "";
}

TEST_P(malformed, viewer_loading_reports_it_and_shows_the_other_samples)
{
    const malformed_case& c = GetParam();
    const sample_folder folder;
    const good_samples good;
    good.put(folder);
    folder.put(1, c.file);
    fenced_sprite screen(512, 512);

    malloc_watch::largest = 0;
    malloc_watch::watching = true;
    const loading_result r = run_loading(screen);
    malloc_watch::watching = false;

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header_lines("tga/sample_0.tga", 64, 64, 0, 24, 2) + printed_lines(c) +
                         header_lines("tga/sample_2.tga", 64, 40, 0, 24, 10) +
                         header_lines("tga/sample_3.tga", 50, 64, 1, 24, 10));
    EXPECT_LE(malloc_watch::largest, allocation_limit);

    std::vector<pixel16> expected(512 * 512, background_blue);
    draw_expected(expected, good.pictures[0], 0, 0);
    if (c.expected == outcome::shown)
        draw_expected(expected, c.picture, 256, 0);
    draw_expected(expected, good.pictures[2], 0, 256);
    draw_expected(expected, good.pictures[3], 256, 256);
    ASSERT_EQ(std::count(expected.begin(), expected.end(), fenced_sprite::canary), 0)
        << "the test pictures must not hold the canary word";
    EXPECT_EQ(first_difference(screen.pixels(), expected), "");
    EXPECT_TRUE(screen.fences_intact());
}

} // namespace
