// One end-to-end session: a temporary folder with the scene's samples, a
// private Xvfb, the viewer running in it; and the checks every test makes.
// Checks return AssertionResults that carry the viewer's output on failure.
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "scenes.h"
#include "viewer_process.h"
#include "x_session.h"

using clock_type = std::chrono::steady_clock;

// VELMORA_E2E_TIME_SCALE (default 1) stretches every time limit on a slow machine.
double time_scale();
// VELMORA_E2E_DEPTH: the X server's depth, 16 (default) or 24.
int depth_under_test();
void pause_for(double seconds);
double seconds_since(clock_type::time_point start);

struct session {
    std::string folder; // temporary; holds the viewer's output and the working folder
    std::string work;   // the viewer's working folder, with tga/ in it
    x_server server;
    viewer_process viewer;
    Window window = None;
};

// Kills what still runs and removes the temporary folder.
void end_session(session* s);

// The viewer's output and how it ended, to append to a failure.
std::string viewer_output(const session& s);
// Runtime under test, the session's display, the present counter.
viewer_options options_for(const session& s);

::testing::AssertionResult prepare_folder(session* s, const scene& sc);
::testing::AssertionResult start_x(session* s, int depth);
::testing::AssertionResult start(session* s, const viewer_options& options);
// All three: the scene's files, a server at the depth under test, the viewer on it.
::testing::AssertionResult start_on_x(session* s, const scene& sc);

// Finds the viewer's window (kept in s->window).
::testing::AssertionResult window_appears(session* s, double timeout_s);
// The viewer flushes its header lines once loading is done, so complete output
// means the picture is in the surface and the next frame shows it.
::testing::AssertionResult stdout_complete(session* s, std::size_t bytes, double timeout_s);
// The window settles on exactly `expected`; otherwise actual, expected and diff
// pictures are written under e2e-failures/ in the working folder.
::testing::AssertionResult window_shows(session* s, const std::vector<std::uint16_t>& expected,
                                        double timeout_s);
::testing::AssertionResult ends_with_status(session* s, int status, double timeout_s);
::testing::AssertionResult still_running(session* s);

// Releases Escape the way a user does: the window focused, the key pressed first.
void press_and_release_escape(session* s);
