#include "scenes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

struct corner {
    int x, y;
};
// Where each sample's top-left pixel lands in the window.
constexpr corner quadrant_corner[sample_count] = {{0, 0}, {256, 0}, {0, 256}, {256, 256}};

constexpr std::uint16_t grey_w = 64, grey_h = 48;

std::uint8_t byte(int v)
{
    return static_cast<std::uint8_t>(v & 0xFF);
}

// Every pixel differs from its neighbours left, right, above and below, so a
// mirrored, flipped or shifted row shows. Bands of one colour, 6 rows high and
// starting mid-row, give the run-length writer runs that cross row ends.
rgb_picture pattern(std::uint16_t w, std::uint16_t h, int seed)
{
    rgb_picture p = make_picture(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const long index = static_cast<long>(y) * w + x + 37;
            const long band = index / (6L * w);
            if (band % 5 == 0)
                p.at(x, y) = {byte(40 * seed + 25), byte(230 - 50 * seed),
                              byte(static_cast<int>(band) * 9)};
            else
                p.at(x, y) = {byte(x * 3 + y + seed * 64), byte(y * 5 - x + seed * 16),
                              byte(x ^ (y * 7) ^ (seed * 40))};
        }
    }
    return p;
}

sample picture(std::uint16_t w, std::uint16_t h, int seed, bool run_length, bool top_down,
               bool right_to_left = false)
{
    sample s;
    s.picture = pattern(w, h, seed);
    s.layout.run_length = run_length;
    s.layout.top_down = top_down;
    s.layout.right_to_left = right_to_left;
    return s;
}

sample grey_picture()
{
    sample s;
    s.kind = sample_kind::grey_8bit;
    return s;
}

std::vector<std::uint8_t> grey_file()
{
    std::vector<std::uint8_t> bytes = tga_header(3, grey_w, grey_h, 8, 0x20);
    for (int i = 0; i < grey_w * grey_h; ++i)
        bytes.push_back(byte(i * 5));
    return bytes;
}

std::string sample_path(int i)
{
    return "tga/sample_" + std::to_string(i) + ".tga";
}

bool opens(sample_kind kind)
{
    return kind == sample_kind::picture || kind == sample_kind::grey_8bit;
}

std::string header_lines(int i, int w, int h, bool top_down, int bpp, int type)
{
    return sample_path(i) + "\nw: " + std::to_string(w) + "\nh: " + std::to_string(h) +
           "\nhv: " + (top_down ? "1" : "0") + "\nbpp: " + std::to_string(bpp) +
           "\ntype: " + std::to_string(type) + "\n";
}

bool write_sample(const sample& s, const std::string& path, std::string* why)
{
    bool done = true;
    switch (s.kind) {
    case sample_kind::picture: done = write_file(path, tga_encode(s.picture, s.layout)); break;
    case sample_kind::grey_8bit: done = write_file(path, grey_file()); break;
    case sample_kind::missing: break;
    case sample_kind::directory: done = mkdir(path.c_str(), 0755) == 0; break;
    case sample_kind::dangling_link: done = symlink("nowhere.tga", path.c_str()) == 0; break;
    }
    if (!done)
        *why = "cannot make " + path;
    return done;
}

} // namespace

scene four_variants()
{
    return {{
        picture(256, 256, 0, false, false),
        picture(256, 256, 1, false, true),
        picture(256, 256, 2, true, false),
        picture(256, 256, 3, true, true),
    }};
}

scene border_refusal_overlap()
{
    return {{
        picture(200, 150, 0, false, true),
        grey_picture(),
        picture(320, 200, 2, true, false, true), // reaches 64 columns into quadrant 3
        picture(100, 60, 3, false, true),        // drawn later, over part of that
    }};
}

scene clipped_at_edges()
{
    return {{
        picture(600, 40, 0, false, false),  // wider than the window
        picture(120, 280, 1, true, true),   // reaches down into quadrant 3
        picture(256, 300, 2, false, true),  // past the bottom edge
        picture(300, 300, 3, true, false),  // past both edges, bottom row first
    }};
}

scene every_path()
{
    return {{
        grey_picture(),
        picture(300, 280, 1, true, true),       // clipped at the right edge
        picture(256, 256, 2, true, false, true), // right to left
        picture(300, 300, 3, false, false),     // clipped at both edges
    }};
}

bool write_scene(const scene& s, const std::string& work, std::string* why)
{
    if (mkdir((work + "/tga").c_str(), 0755) != 0) {
        *why = "cannot make " + work + "/tga";
        return false;
    }
    for (int i = 0; i < sample_count; ++i) {
        if (!write_sample(s.samples[i], work + "/" + sample_path(i), why))
            return false;
    }
    return true;
}

std::vector<std::uint16_t> expected_window(const scene& s)
{
    std::vector<std::uint16_t> window(window_side * window_side, background_blue);
    for (int i = 0; i < sample_count; ++i) {
        if (s.samples[i].kind != sample_kind::picture)
            continue;
        const rgb_picture& p = s.samples[i].picture;
        for (int y = 0; y < p.h; ++y) {
            for (int x = 0; x < p.w; ++x) {
                const int wx = quadrant_corner[i].x + x, wy = quadrant_corner[i].y + y;
                if (wx < window_side && wy < window_side) {
                    const rgb c = p.at(x, y);
                    window[static_cast<std::size_t>(wy) * window_side + wx] = rgb565(c.r, c.g, c.b);
                }
            }
        }
    }
    return window;
}

std::string expected_stdout(const scene& s)
{
    std::string out;
    for (int i = 0; i < sample_count; ++i) {
        const sample& sm = s.samples[i];
        if (sm.kind == sample_kind::picture) {
            out += header_lines(i, sm.picture.w, sm.picture.h, sm.layout.top_down, 24,
                                sm.layout.run_length ? 10 : 2);
        } else if (sm.kind == sample_kind::grey_8bit) {
            out += header_lines(i, grey_w, grey_h, true, 8, 3);
            out += "tga24_to_sprite16: unsuppoted TGA format [3/8bpp]\n";
        } else {
            break;
        }
    }
    return out;
}

std::string expected_stderr(const scene& s)
{
    for (int i = 0; i < sample_count; ++i) {
        switch (s.samples[i].kind) {
        case sample_kind::missing:
        case sample_kind::dangling_link:
            return "error: '" + sample_path(i) + "' does not exist\r\n";
        case sample_kind::directory:
            return "error: '" + sample_path(i) + "' is a not a regular file (or a sym. link)\r\n";
        default: break;
        }
    }
    return {};
}

int expected_exit_status(const scene& s)
{
    for (const sample& sm : s.samples) {
        if (!opens(sm.kind))
            return 255;
    }
    return 0;
}

bool write_ppm(const std::string& path, const std::vector<std::uint16_t>& pixels, int w, int h)
{
    std::vector<std::uint8_t> bytes;
    const std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    bytes.assign(head.begin(), head.end());
    for (const std::uint16_t p : pixels) {
        bytes.push_back(static_cast<std::uint8_t>((p >> 11) << 3));
        bytes.push_back(static_cast<std::uint8_t>(((p >> 5) & 0x3F) << 2));
        bytes.push_back(static_cast<std::uint8_t>((p & 0x1F) << 3));
    }
    return write_file(path, bytes);
}
