// A private X server for one end-to-end test, and what a user does to a window
// in it: look at it, type, click, close it. Xlib and XTest only.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct x_server {
    pid_t pid = -1;
    int display_number = -1; // chosen by Xvfb itself, so parallel tests never clash
    Display* display = nullptr;
};

// Starts Xvfb on a free display with one screen of the given depth and connects
// to it. On failure `why` says what went wrong (Xvfb's own log is in log_path).
bool start_x_server(int depth, const std::string& log_path, double timeout_s, x_server* server,
                    std::string* why);
void stop_x_server(x_server* server);
std::string display_name(const x_server& server);

// The viewable top-level window whose WM_NAME is `caption`, or None.
Window find_window(Display* display, const char* caption);

struct window_facts {
    int width = 0, height = 0;
    std::string wm_name;     // WM_NAME, what every window manager shows
    std::string net_wm_name; // _NET_WM_NAME (UTF-8), empty when unset
    bool has_wm_delete = false; // WM_DELETE_WINDOW among WM_PROTOCOLS
};
bool read_window_facts(Display* display, Window window, window_facts* facts);

// The window's pixels as the X server holds them, each reduced to RGB565 by
// keeping the top bits of every channel. At depth 16 that is the pixel itself;
// at depth 24 the server's 8-bit channels carry the 16-bit values in their top bits.
bool grab_rgb565(Display* display, Window window, int width, int height,
                 std::vector<std::uint16_t>* pixels);

// Key presses, held keys and releases as a keyboard makes them; auto-repeat is
// switched off so that a held key stays one press.
void disable_auto_repeat(Display* display);
// Gives the window the keyboard focus and puts the pointer inside it, as a user
// clicking into it would; XTest key events then reach it.
void focus_window(Display* display, Window window);
void press_key(Display* display, unsigned long keysym);
void release_key(Display* display, unsigned long keysym);
void click_button(Display* display, unsigned int button);
// Moves the pointer to (x, y) in window coordinates.
void move_pointer(Display* display, Window window, int x, int y);
// Asks the window to close the way a window manager does: a WM_PROTOCOLS client
// message carrying WM_DELETE_WINDOW. (Destroying the window instead would only
// make the program die of an X error.)
void send_wm_delete(Display* display, Window window);
