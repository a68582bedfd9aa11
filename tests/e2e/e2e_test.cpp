// The real viewer in a real (virtual) X server, met the way a user meets it:
// files in tga/, a window to look at, a keyboard and a mouse, an exit status.
//
// Each test starts its own Xvfb on a display Xvfb picks itself, and the viewer
// in a fresh temporary folder, so tests run in parallel without meeting.
// VELMORA_E2E_RUNTIME (classic or compat) picks the SDL 1.2 library the viewer
// loads, VELMORA_E2E_DEPTH (16 or 24) the server's depth, and
// VELMORA_E2E_TIME_SCALE stretches every time limit on a slow machine.
//
// What the tests expect comes from their own pictures (scenes.h), never from
// the viewer's decoder.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "session.h"

namespace {

// The caption, the size, and the library the viewer really loaded.
void expect_window_facts(session* s)
{
    window_facts facts;
    ASSERT_TRUE(read_window_facts(s->server.display, s->window, &facts));
    EXPECT_EQ(facts.wm_name, "velmora");
    if (!facts.net_wm_name.empty()) {
        EXPECT_EQ(facts.net_wm_name, "velmora");
    }
    EXPECT_EQ(facts.width, 512);
    EXPECT_EQ(facts.height, 512);
    EXPECT_TRUE(facts.has_wm_delete) << "a window manager could not ask the window to close";

    const std::string library = mapped_sdl_library(s->viewer.pid);
    const bool compat = library.find("/sdl12-compat/") != std::string::npos;
    EXPECT_FALSE(library.empty()) << "no SDL 1.2 library mapped into the viewer";
    EXPECT_EQ(compat, runtime_under_test() == sdl_runtime::compat)
        << "asked for the " << runtime_name(runtime_under_test()) << " runtime, got " << library;
}

// Up to the finished picture: the window, its facts, the output, the pixels.
void show(session* s, const scene& sc)
{
    ASSERT_TRUE(start_on_x(s, sc));
    ASSERT_TRUE(window_appears(s, 10 * time_scale()));
    expect_window_facts(s);
    ASSERT_TRUE(stdout_complete(s, expected_stdout(sc).size(), 10 * time_scale()));
    EXPECT_TRUE(window_shows(s, expected_window(sc), 5 * time_scale()));
    EXPECT_EQ(read_file(s->viewer.out_path), expected_stdout(sc));
    EXPECT_EQ(read_file(s->viewer.err_path), "");
}

void show_then_quit(session* s, const scene& sc)
{
    show(s, sc);
    if (::testing::Test::HasFatalFailure())
        return;
    const present_count presents = read_presents(s->viewer);
    EXPECT_TRUE(presents.counter_loaded);
    EXPECT_GE(presents.frames, 1);
    press_and_release_escape(s);
    EXPECT_TRUE(ends_with_status(s, 0, 1.0 * time_scale()));
    EXPECT_EQ(read_file(s->viewer.err_path), "");
}

// A sample that cannot be opened ends the viewer before any frame: with the
// present counter in the process, zero SDL_UpdateRect/UpdateRects/Flip calls is
// a direct, timing-free proof, where watching the window could miss a frame.
void fails_to_load(session* s, sample_kind kind)
{
    scene sc = four_variants();
    sc.samples[2].kind = kind;
    ASSERT_TRUE(start_on_x(s, sc));
    EXPECT_TRUE(ends_with_status(s, 255, 10 * time_scale()));
    EXPECT_EQ(read_file(s->viewer.out_path), expected_stdout(sc));
    EXPECT_EQ(read_file(s->viewer.err_path), expected_stderr(sc));
    const present_count presents = read_presents(s->viewer);
    EXPECT_TRUE(presents.counter_loaded) << "the present counter was not loaded: proves nothing";
    EXPECT_EQ(presents.frames, 0);
}

class e2e : public ::testing::Test {
protected:
    void TearDown() override { end_session(&s); }
    session s;
};

class grid : public e2e {};
class input : public e2e {};
class load_failure : public e2e {};
class no_display : public e2e {};

TEST_F(grid, four_variants_tile_the_window_exactly)
{
    show_then_quit(&s, four_variants());
    // The six lines per file, spelled out once rather than derived.
    const std::string six_lines_each =
        "tga/sample_0.tga\nw: 256\nh: 256\nhv: 0\nbpp: 24\ntype: 2\n"
        "tga/sample_1.tga\nw: 256\nh: 256\nhv: 1\nbpp: 24\ntype: 2\n"
        "tga/sample_2.tga\nw: 256\nh: 256\nhv: 0\nbpp: 24\ntype: 10\n"
        "tga/sample_3.tga\nw: 256\nh: 256\nhv: 1\nbpp: 24\ntype: 10\n";
    EXPECT_EQ(read_file(s.viewer.out_path), six_lines_each);
}

TEST_F(grid, smaller_picture_refused_picture_and_overlap_right_to_left)
{
    show_then_quit(&s, border_refusal_overlap());
}

TEST_F(grid, pictures_past_the_edges_are_clipped)
{
    show_then_quit(&s, clipped_at_edges());
}

TEST_F(input, escape_held_does_nothing_until_released)
{
    const scene sc = four_variants();
    show(&s, sc);
    ASSERT_FALSE(HasFatalFailure());
    focus_window(s.server.display, s.window);
    press_key(s.server.display, XK_Escape);
    pause_for(1.0); // about ten frames, each polling the events
    EXPECT_TRUE(still_running(&s));
    EXPECT_TRUE(window_shows(&s, expected_window(sc), 2 * time_scale()));
    const auto released = clock_type::now();
    release_key(s.server.display, XK_Escape);
    EXPECT_TRUE(ends_with_status(&s, 0, 1.0 * time_scale()))
        << "measured from the release: " << seconds_since(released) << " s";
    EXPECT_EQ(read_file(s.viewer.out_path), expected_stdout(sc));
    EXPECT_EQ(read_file(s.viewer.err_path), "");
}

TEST_F(input, other_keys_clicks_motion_and_focus_change_nothing)
{
    const scene sc = four_variants();
    show(&s, sc);
    ASSERT_FALSE(HasFatalFailure());
    Display* d = s.server.display;
    focus_window(d, s.window);
    for (const unsigned long key : {XK_a, XK_q, XK_space, XK_Return, XK_Tab, XK_BackSpace, XK_Left,
                                    XK_Up, XK_F1, XK_F10, XK_Delete, XK_Shift_L, XK_Control_L}) {
        press_key(d, key);
        release_key(d, key);
    }
    // Control-C and Alt-F4 mean something to terminals and desktops, not to the viewer.
    press_key(d, XK_Control_L);
    press_key(d, XK_c);
    release_key(d, XK_c);
    release_key(d, XK_Control_L);
    press_key(d, XK_Alt_L);
    press_key(d, XK_F4);
    release_key(d, XK_F4);
    release_key(d, XK_Alt_L);
    for (unsigned int button = 1; button <= 5; ++button) {
        move_pointer(d, s.window, 40 * static_cast<int>(button), 300);
        click_button(d, button);
    }
    for (int step = 0; step <= 16; ++step)
        move_pointer(d, s.window, step * 32, 511 - step * 30);
    move_pointer(d, s.window, -50, -50); // out of the window and back
    XSetInputFocus(d, DefaultRootWindow(d), RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    focus_window(d, s.window);
    pause_for(0.5);

    EXPECT_TRUE(still_running(&s));
    EXPECT_TRUE(window_shows(&s, expected_window(sc), 2 * time_scale()));
    EXPECT_EQ(read_file(s.viewer.out_path), expected_stdout(sc));
    EXPECT_EQ(read_file(s.viewer.err_path), "");
    // The same way in still reaches the viewer: the events above were delivered.
    press_and_release_escape(&s);
    EXPECT_TRUE(ends_with_status(&s, 0, 1.0 * time_scale()));
}

TEST_F(input, closing_the_window_like_a_window_manager_quits_with_status_0)
{
    show(&s, four_variants());
    ASSERT_FALSE(HasFatalFailure());
    send_wm_delete(s.server.display, s.window);
    EXPECT_TRUE(ends_with_status(&s, 0, 1.0 * time_scale()));
    EXPECT_EQ(read_file(s.viewer.err_path), "");
}

TEST_F(load_failure, missing_sample_2_ends_with_255_before_any_frame)
{
    fails_to_load(&s, sample_kind::missing);
}

TEST_F(load_failure, directory_as_sample_2_ends_with_255_before_any_frame)
{
    fails_to_load(&s, sample_kind::directory);
}

TEST_F(load_failure, dangling_link_as_sample_2_ends_with_255_before_any_frame)
{
    fails_to_load(&s, sample_kind::dangling_link);
}

// SDL 1.2 falls back on other video drivers when X is not there (the classic
// library draws into a terminal with libcaca, the SDL 2 based one into memory),
// so "no display" means no X display with the X11 driver asked for by name:
// what a user on a machine without X meets when SDL is told to use X.
TEST_F(no_display, video_mode_message_and_status_1)
{
    ASSERT_TRUE(prepare_folder(&s, four_variants()));
    viewer_options options;
    options.runtime = runtime_under_test();
    options.sdl_video_driver = "x11";
    ASSERT_TRUE(start(&s, options));
    EXPECT_TRUE(ends_with_status(&s, 1, 10 * time_scale()));
    const std::string err = read_file(s.viewer.err_path);
    const std::string prefix = "Unable to set 512x512 video: ";
    EXPECT_EQ(err.compare(0, prefix.size(), prefix), 0) << err;
    EXPECT_GT(err.size(), prefix.size() + 1) << "SDL's reason is missing: " << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "not exactly one line: " << err;
    EXPECT_EQ(read_file(s.viewer.out_path), "");
    EXPECT_EQ(read_presents(s.viewer).frames, 0);
}

} // namespace

