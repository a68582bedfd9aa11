#include <gtest/gtest.h>

#include "sample_folder.h"

namespace {

// Picture drawn at (x, y) as the viewer should show it; pixels it does not
// cover keep what the screen holds.
void expect_picture_at(fenced_sprite& screen, const rgb_picture& p, int x, int y, int visible_w,
                       int visible_h)
{
    for (int j = 0; j < visible_h; ++j) {
        for (int i = 0; i < visible_w; ++i)
            ASSERT_EQ(screen.at(x + i, y + j), expected_565(p.at(i, j))) << "at " << x + i << "," << y + j;
    }
}

void expect_blue(fenced_sprite& screen, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x)
            ASSERT_EQ(screen.at(x, y), background_blue) << "at " << x << "," << y;
    }
}

// Flat stripes so the run-length files hold long runs that cross rows.
rgb_picture stripes(std::uint16_t w, std::uint16_t h, std::uint32_t seed)
{
    rgb_picture p = noise_picture(w, h, seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.at(x, y) = p.at(0, y / 7 * 7);
    return p;
}

struct loading : testing::Test {
    sample_folder folder;
    fenced_sprite screen{512, 512};
    rgb_picture pictures[4] = {noise_picture(256, 256, 1), noise_picture(256, 256, 2),
                               stripes(256, 256, 3), stripes(256, 256, 4)};

    void put_all_variants()
    {
        folder.put(0, tga_encode(pictures[0], make_layout(false, false)));
        folder.put(1, tga_encode(pictures[1], make_layout(false, true)));
        folder.put(2, tga_encode(pictures[2], make_layout(true, false)));
        folder.put(3, tga_encode(pictures[3], make_layout(true, true)));
    }
};

TEST_F(loading, four_variants_tile_the_screen_and_print_six_lines_each)
{
    put_all_variants();
    const loading_result r = run_loading(screen);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header_lines("tga/sample_0.tga", 256, 256, 0, 24, 2) +
                         header_lines("tga/sample_1.tga", 256, 256, 1, 24, 2) +
                         header_lines("tga/sample_2.tga", 256, 256, 0, 24, 10) +
                         header_lines("tga/sample_3.tga", 256, 256, 1, 24, 10));
    EXPECT_EQ(r.err, "");
    expect_picture_at(screen, pictures[0], 0, 0, 256, 256);
    expect_picture_at(screen, pictures[1], 256, 0, 256, 256);
    expect_picture_at(screen, pictures[2], 0, 256, 256, 256);
    expect_picture_at(screen, pictures[3], 256, 256, 256, 256);
    EXPECT_TRUE(screen.fences_intact());
}

TEST_F(loading, smaller_picture_leaves_a_blue_border_in_its_quadrant)
{
    put_all_variants();
    const rgb_picture small = noise_picture(100, 60, 9);
    folder.put(1, tga_encode(small, make_layout(true, false)));
    EXPECT_EQ(run_loading(screen).status, 0);
    expect_picture_at(screen, small, 256, 0, 100, 60);
    expect_blue(screen, 356, 0, 512, 256);
    expect_blue(screen, 256, 60, 356, 256);
}

TEST_F(loading, larger_picture_reaches_into_a_neighbour_and_later_samples_overwrite_it)
{
    put_all_variants();
    const rgb_picture large = noise_picture(300, 280, 5);
    const rgb_picture tiny = noise_picture(16, 16, 6);
    folder.put(0, tga_encode(large, make_layout(false, false)));
    folder.put(1, tga_encode(tiny, make_layout(false, false)));
    EXPECT_EQ(run_loading(screen).status, 0);
    expect_picture_at(screen, tiny, 256, 0, 16, 16);
    for (int y = 16; y < 256; ++y)
        for (int x = 256; x < 300; ++x)
            ASSERT_EQ(screen.at(x, y), expected_565(large.at(x, y)));
    expect_picture_at(screen, pictures[2], 0, 256, 256, 256); // drawn over the large one
}

TEST_F(loading, picture_past_the_screen_edge_is_clipped)
{
    put_all_variants();
    const rgb_picture wide = noise_picture(400, 300, 7);
    folder.put(3, tga_encode(wide, make_layout(true, true)));
    const loading_result r = run_loading(screen);
    EXPECT_EQ(r.status, 0);
    expect_picture_at(screen, wide, 256, 256, 256, 256);
    expect_picture_at(screen, pictures[0], 0, 0, 256, 256);
    EXPECT_TRUE(screen.fences_intact());
}

TEST_F(loading, missing_sample_stops_loading_with_minus_one)
{
    put_all_variants();
    ASSERT_EQ(std::remove("tga/sample_2.tga"), 0);
    const loading_result r = run_loading(screen);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, header_lines("tga/sample_0.tga", 256, 256, 0, 24, 2) +
                         header_lines("tga/sample_1.tga", 256, 256, 1, 24, 2));
    EXPECT_EQ(r.err, "error: 'tga/sample_2.tga' does not exist\r\n");
    expect_blue(screen, 0, 256, 512, 512); // sample 3 was never tried
}

TEST_F(loading, directory_in_place_of_a_sample_stops_loading)
{
    put_all_variants();
    ASSERT_EQ(std::remove("tga/sample_0.tga"), 0);
    ASSERT_EQ(mkdir("tga/sample_0.tga", 0755), 0);
    const loading_result r = run_loading(screen);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: 'tga/sample_0.tga' is a not a regular file (or a sym. link)\r\n");
}

struct checked_open : testing::Test {
    sample_folder folder;
    std::FILE* file = nullptr;
    struct stat st {};

    std::string open_and_capture(const char* path, int expected_result)
    {
        testing::internal::CaptureStderr();
        EXPECT_EQ(sc_open(&file, path, &st), expected_result);
        std::fflush(stderr);
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(checked_open, regular_file_and_link_to_it_open_with_their_size)
{
    folder.put(0, std::vector<std::uint8_t>(123, 7));
    ASSERT_EQ(symlink("sample_0.tga", "tga/link.tga"), 0);
    for (const char* path : {"tga/sample_0.tga", "tga/link.tga"}) {
        EXPECT_EQ(open_and_capture(path, 0), "");
        EXPECT_EQ(st.st_size, 123);
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        file = nullptr;
    }
}

TEST_F(checked_open, refusals_name_the_path_and_end_in_crlf)
{
    ASSERT_EQ(symlink("nowhere.tga", "tga/dangling.tga"), 0);
    ASSERT_EQ(symlink(".", "tga/here"), 0);
    EXPECT_EQ(open_and_capture("tga/none.tga", -1), "error: 'tga/none.tga' does not exist\r\n");
    EXPECT_EQ(open_and_capture("tga/dangling.tga", -1), "error: 'tga/dangling.tga' does not exist\r\n");
    EXPECT_EQ(open_and_capture("tga", -1), "error: 'tga' is a not a regular file (or a sym. link)\r\n");
    EXPECT_EQ(open_and_capture("tga/here", -1),
              "error: 'tga/here' is a not a regular file (or a sym. link)\r\n");
    // A path through a regular file fails stat() with ENOTDIR, not ENOENT.
    folder.put(0, {1});
    EXPECT_EQ(open_and_capture("tga/sample_0.tga/x", -1),
              "error: stat() fails for 'tga/sample_0.tga/x'\r\n");
}

TEST_F(checked_open, unreadable_file_fails_to_open)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    folder.put(0, {1, 2, 3});
    ASSERT_EQ(chmod("tga/sample_0.tga", 0), 0);
    EXPECT_EQ(open_and_capture("tga/sample_0.tga", -1), "error: 'tga/sample_0.tga' open failed\r\n");
}

} // namespace
