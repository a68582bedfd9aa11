// The viewer under valgrind's memcheck for one whole run in Xvfb, on the
// classic SDL 1.2 runtime. (Under the SDL-2-based runtime the report is all
// Mesa's software OpenGL and the dynamic loader, and a run takes ten times longer.)
#include <gtest/gtest.h>

#include "session.h"

namespace {

class memory : public ::testing::Test {
protected:
    void TearDown() override { end_session(&s); }
    session s;
};

// One whole run, with a refusal, clipping and both encodings, under memcheck:
// any invalid access, or a leak not suppressed as SDL's or X's own, fails it.
TEST_F(memory, memcheck_finds_no_error_and_no_leak_of_ours)
{
    const scene sc = every_path();
    ASSERT_TRUE(prepare_folder(&s, sc));
    ASSERT_TRUE(start_x(&s, 16));
    const std::string log = s.folder + "/memcheck.log";
    viewer_options options = options_for(s);
    options.runtime = sdl_runtime::classic;
    options.count_presents = false;
    options.wrapper = {VALGRIND_EXECUTABLE,
                       "--tool=memcheck",
                       "--leak-check=full",
                       "--show-leak-kinds=definite,indirect,possible",
                       "--errors-for-leak-kinds=definite,indirect,possible",
                       "--error-exitcode=99",
                       "--num-callers=40",
                       "--suppressions=" VALGRIND_SUPPRESSIONS,
                       "--log-file=" + log};
    ASSERT_TRUE(start(&s, options));
    const double slow = 30 * time_scale();
    ASSERT_TRUE(window_appears(&s, slow));
    ASSERT_TRUE(stdout_complete(&s, expected_stdout(sc).size(), slow));
    EXPECT_TRUE(window_shows(&s, expected_window(sc), slow));
    press_and_release_escape(&s);
    EXPECT_TRUE(ends_with_status(&s, 0, slow)) << read_file(log);
    EXPECT_NE(read_file(log).find("ERROR SUMMARY: 0 errors"), std::string::npos) << read_file(log);
    EXPECT_EQ(read_file(s.viewer.out_path), expected_stdout(sc));
}

} // namespace
