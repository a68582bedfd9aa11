#include "x_session.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// A window can vanish between two requests (the viewer quits while we look);
// Xlib's default handler would end the test process for that, so errors are
// ignored here and every caller checks what it got back instead.
int ignore_x_error(Display*, XErrorEvent*)
{
    return 0;
}

// Runs in the forked child: everything it needs is prepared before the fork.
[[noreturn]] void exec_xvfb(const char* screen, int display_fd, const char* log_path)
{
    // Xvfb must not outlive a test that crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int log = open(log_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null_in = open("/dev/null", O_RDONLY);
    if (log < 0 || null_in < 0 || dup2(null_in, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
        _exit(126);
    // Hand the pipe over as fd 3, without the close-on-exec flag.
    if (display_fd == 3 ? fcntl(3, F_SETFD, 0) < 0 : dup2(display_fd, 3) < 0)
        _exit(126);
    // -noreset: SDL opens the display, closes it and opens it again; a server
    // that resets when its last client leaves may refuse that second connection.
    execl(XVFB_EXECUTABLE, "Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten",
          "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
}

// Xvfb writes the display number it took, then a newline, once it accepts clients.
bool read_display_number(int fd, double timeout_s, int* number)
{
    std::string text;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[32];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false; // Xvfb ended without taking a display
        text.append(buffer, static_cast<std::size_t>(n));
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || value < 0)
        return false;
    *number = static_cast<int>(value);
    return true;
}

unsigned channel_top8(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    const int shift = __builtin_ctzl(mask);
    const int bits = __builtin_popcountl(mask);
    const unsigned long value = (pixel & mask) >> shift;
    return static_cast<unsigned>(bits >= 8 ? value >> (bits - 8) : value << (8 - bits));
}

void sync_keyboard_event(Display* display, unsigned long keysym, bool press)
{
    const KeyCode code = XKeysymToKeycode(display, keysym);
    XTestFakeKeyEvent(display, code, press ? True : False, CurrentTime);
    XSync(display, False);
}

} // namespace

std::string display_name(const x_server& server)
{
    return ":" + std::to_string(server.display_number);
}

bool start_x_server(int depth, const std::string& log_path, double timeout_s, x_server* server,
                    std::string* why)
{
    const std::string screen = "1024x768x" + std::to_string(depth);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *why = "pipe() failed";
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        *why = "fork() failed";
        return false;
    }
    if (pid == 0)
        exec_xvfb(screen.c_str(), fds[1], log_path.c_str());
    close(fds[1]);
    server->pid = pid;
    const bool numbered = read_display_number(fds[0], timeout_s, &server->display_number);
    close(fds[0]);
    if (!numbered) {
        *why = "Xvfb did not report a display within " + std::to_string(timeout_s) +
               " s (log: " + log_path + ")";
        return false;
    }
    XSetErrorHandler(ignore_x_error);
    server->display = XOpenDisplay(display_name(*server).c_str());
    if (server->display == nullptr) {
        *why = "cannot connect to " + display_name(*server);
        return false;
    }
    int event_base, error_base, major, minor;
    if (!XTestQueryExtension(server->display, &event_base, &error_base, &major, &minor)) {
        *why = "the X server has no XTest extension";
        return false;
    }
    return true;
}

void stop_x_server(x_server* server)
{
    if (server->display != nullptr)
        XCloseDisplay(server->display);
    server->display = nullptr;
    if (server->pid <= 0)
        return;
    kill(server->pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(server->pid, nullptr, WNOHANG) == server->pid) {
            server->pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(server->pid, SIGKILL);
    waitpid(server->pid, nullptr, 0);
    server->pid = -1;
}

Window find_window(Display* display, const char* caption)
{
    Window root_return, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < count && found == None; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name != nullptr) {
            if (std::string(name) == caption)
                found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

bool read_window_facts(Display* display, Window window, window_facts* facts)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    facts->width = attributes.width;
    facts->height = attributes.height;

    char* name = nullptr;
    facts->wm_name.clear();
    if (XFetchName(display, window, &name) && name != nullptr) {
        facts->wm_name = name;
        XFree(name);
    }

    facts->net_wm_name.clear();
    const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, net_wm_name, 0, 1024, False, utf8, &type, &format,
                           &items, &after, &data) == Success &&
        data != nullptr) {
        if (type == utf8 && format == 8)
            facts->net_wm_name.assign(reinterpret_cast<const char*>(data), items);
        XFree(data);
    }

    facts->has_wm_delete = false;
    const Atom wm_delete = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Atom* protocols = nullptr;
    int protocol_count = 0;
    if (XGetWMProtocols(display, window, &protocols, &protocol_count)) {
        for (int i = 0; i < protocol_count; ++i)
            facts->has_wm_delete = facts->has_wm_delete || protocols[i] == wm_delete;
        XFree(protocols);
    }
    return true;
}

bool grab_rgb565(Display* display, Window window, int width, int height,
                 std::vector<std::uint16_t>* pixels)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    // Both SDL runtimes pick Xvfb's DirectColor visual at depth 16. Its colour
    // map may still bend what a monitor would show (the SDL-2-based runtime
    // installs a ramp one step off in red and blue), but the pixel values are
    // what the program drew, laid out by the same masks as TrueColor.
    const Visual* visual = attributes.visual;
    if (visual->c_class != TrueColor && visual->c_class != DirectColor)
        return false;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    pixels->resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            const unsigned r = channel_top8(p, visual->red_mask);
            const unsigned g = channel_top8(p, visual->green_mask);
            const unsigned b = channel_top8(p, visual->blue_mask);
            (*pixels)[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
        }
    }
    XDestroyImage(image);
    return true;
}

void disable_auto_repeat(Display* display)
{
    XAutoRepeatOff(display);
    XSync(display, False);
}

void focus_window(Display* display, Window window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return;
    // With the pointer over the window, key events go to the child window that
    // SDL draws in, whichever of its windows holds the focus.
    move_pointer(display, window, attributes.width / 2, attributes.height / 2);
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
}

void press_key(Display* display, unsigned long keysym)
{
    sync_keyboard_event(display, keysym, true);
}

void release_key(Display* display, unsigned long keysym)
{
    sync_keyboard_event(display, keysym, false);
}

void click_button(Display* display, unsigned int button)
{
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XSync(display, False);
}

void move_pointer(Display* display, Window window, int x, int y)
{
    int root_x = 0, root_y = 0;
    Window child;
    if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &root_x,
                               &root_y, &child))
        return;
    XTestFakeMotionEvent(display, DefaultScreen(display), root_x, root_y, CurrentTime);
    XSync(display, False);
}

void send_wm_delete(Display* display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    // An empty event mask sends it to the client that created the window.
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}
