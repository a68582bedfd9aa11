#include "session.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

double env_number(const char* name, double fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atof(value) : fallback;
}

std::string current_test_name()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name() + "-" +
           runtime_name(runtime_under_test()) + "-depth" + std::to_string(depth_under_test());
}

std::string describe_differences(const std::vector<std::uint16_t>& actual,
                                 const std::vector<std::uint16_t>& expected)
{
    std::ostringstream text;
    int differing = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] == expected[i])
            continue;
        if (++differing <= 8)
            text << "  (" << i % window_side << ", " << i / window_side << "): window 0x"
                 << std::hex << actual[i] << ", expected 0x" << expected[i] << std::dec << "\n";
    }
    return std::to_string(differing) + " pixels differ, first ones:\n" + text.str();
}

// Writes actual, expected and a difference mask (white where they differ) to look at.
std::string save_pictures(const std::vector<std::uint16_t>& actual,
                          const std::vector<std::uint16_t>& expected)
{
    const std::filesystem::path dir =
        std::filesystem::absolute("e2e-failures") / current_test_name();
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::vector<std::uint16_t> diff(expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        diff[i] = actual[i] == expected[i] ? 0x0000 : 0xFFFF;
    write_ppm((dir / "actual.ppm").string(), actual, window_side, window_side);
    write_ppm((dir / "expected.ppm").string(), expected, window_side, window_side);
    write_ppm((dir / "diff.ppm").string(), diff, window_side, window_side);
    return "pictures in " + dir.string() + "/{actual,expected,diff}.ppm";
}

} // namespace

double time_scale()
{
    return env_number("VELMORA_E2E_TIME_SCALE", 1.0);
}

int depth_under_test()
{
    return static_cast<int>(env_number("VELMORA_E2E_DEPTH", 16));
}

void pause_for(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void end_session(session* s)
{
    kill_viewer(&s->viewer);
    stop_x_server(&s->server);
    remove_folder(s->folder);
}

std::string viewer_output(const session& s)
{
    return "\n--- viewer standard output ---\n" + read_file(s.viewer.out_path) +
           "\n--- viewer standard error ---\n" + read_file(s.viewer.err_path) +
           "\n--- viewer " + describe_end(s.viewer) + " ---";
}

viewer_options options_for(const session& s)
{
    viewer_options options;
    options.display = display_name(s.server);
    options.runtime = runtime_under_test();
    return options;
}

::testing::AssertionResult prepare_folder(session* s, const scene& sc)
{
    s->folder = make_temp_folder();
    if (s->folder.empty())
        return ::testing::AssertionFailure() << "cannot make a temporary folder";
    s->work = s->folder + "/work";
    std::string why;
    if (!std::filesystem::create_directory(s->work) || !write_scene(sc, s->work, &why))
        return ::testing::AssertionFailure() << "cannot write the samples: " << why;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult start_x(session* s, int depth)
{
    std::string why;
    if (!start_x_server(depth, s->folder + "/xvfb.log", 20 * time_scale(), &s->server, &why))
        return ::testing::AssertionFailure() << why << "\n" << read_file(s->folder + "/xvfb.log");
    disable_auto_repeat(s->server.display);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult start(session* s, const viewer_options& options)
{
    std::string why;
    if (!start_viewer(s->folder, s->work, options, &s->viewer, &why))
        return ::testing::AssertionFailure() << why;
    return ::testing::AssertionSuccess();
}

// The scene's files, a server at the depth under test, the viewer on it.
::testing::AssertionResult start_on_x(session* s, const scene& sc)
{
    auto ready = prepare_folder(s, sc);
    if (ready)
        ready = start_x(s, depth_under_test());
    if (ready)
        ready = start(s, options_for(*s));
    return ready;
}

::testing::AssertionResult window_appears(session* s, double timeout_s)
{
    const auto start_time = clock_type::now();
    while (seconds_since(start_time) < timeout_s) {
        s->window = find_window(s->server.display, "velmora");
        if (s->window != None)
            return ::testing::AssertionSuccess();
        if (viewer_ended(&s->viewer))
            return ::testing::AssertionFailure() << "the viewer ended without a window"
                                                 << viewer_output(*s);
        pause_for(0.02);
    }
    return ::testing::AssertionFailure() << "no window captioned \"velmora\" after " << timeout_s
                                         << " s" << viewer_output(*s);
}

// The viewer flushes its header lines once loading is done, so complete output
// means the picture is in the surface and the next frame shows it.
::testing::AssertionResult stdout_complete(session* s, std::size_t bytes, double timeout_s)
{
    const auto start_time = clock_type::now();
    while (seconds_since(start_time) < timeout_s) {
        if (read_file(s->viewer.out_path).size() >= bytes)
            return ::testing::AssertionSuccess();
        if (viewer_ended(&s->viewer))
            break;
        pause_for(0.02);
    }
    return ::testing::AssertionFailure() << "standard output never reached " << bytes << " bytes"
                                         << viewer_output(*s);
}

// Frames come every 100 ms; the window must settle on exactly `expected`.
::testing::AssertionResult window_shows(session* s, const std::vector<std::uint16_t>& expected,
                                        double timeout_s)
{
    std::vector<std::uint16_t> actual;
    const auto start_time = clock_type::now();
    do {
        if (!grab_rgb565(s->server.display, s->window, window_side, window_side, &actual))
            return ::testing::AssertionFailure() << "cannot read the window's pixels"
                                                 << viewer_output(*s);
        if (actual == expected)
            return ::testing::AssertionSuccess();
        pause_for(0.05);
    } while (seconds_since(start_time) < timeout_s);
    return ::testing::AssertionFailure() << "the window does not show the expected picture after "
                                         << timeout_s << " s: "
                                         << describe_differences(actual, expected)
                                         << save_pictures(actual, expected);
}

::testing::AssertionResult ends_with_status(session* s, int status, double timeout_s)
{
    const auto start_time = clock_type::now();
    if (!wait_viewer_end(&s->viewer, timeout_s))
        return ::testing::AssertionFailure() << "still running " << timeout_s << " s later"
                                             << viewer_output(*s);
    if (exit_status(s->viewer) != status)
        return ::testing::AssertionFailure() << "expected exit status " << status << ", got "
                                             << describe_end(s->viewer) << viewer_output(*s);
    return ::testing::AssertionSuccess() << "ended after " << seconds_since(start_time) << " s";
}

::testing::AssertionResult still_running(session* s)
{
    if (viewer_ended(&s->viewer))
        return ::testing::AssertionFailure() << "the viewer ended" << viewer_output(*s);
    return ::testing::AssertionSuccess();
}

// Releases Escape the way a user does: the window focused, the key pressed first.
void press_and_release_escape(session* s)
{
    focus_window(s->server.display, s->window);
    press_key(s->server.display, XK_Escape);
    release_key(s->server.display, XK_Escape);
}
