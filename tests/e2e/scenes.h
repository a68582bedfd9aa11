// What the end-to-end tests put in tga/, and what the viewer must then show and
// print. Everything expected is worked out here from the test's own pictures
// and values, never by running the library's decoder or packing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tga_writer.h"

constexpr int window_side = 512;
constexpr int sample_count = 4;

// What a 16-bit RGB565 screen holds for a colour: the top 5, 6 and 5 bits.
constexpr std::uint16_t rgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<std::uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}
constexpr std::uint16_t background_blue = 0x001F;

enum class sample_kind {
    picture,       // a 24-bit TGA that the viewer shows
    grey_8bit,     // an 8-bit grey TGA (type 3): read, reported, refused
    missing,       // no file at all
    directory,     // a folder where the file should be
    dangling_link, // a symbolic link to a file that does not exist
};

struct sample {
    sample_kind kind = sample_kind::picture;
    rgb_picture picture; // as a person sees it, whatever the stored order
    tga_layout layout;
};

struct scene {
    sample samples[sample_count];
};

// Four 256 x 256 pictures, one in each variant: raw and run-length, bottom row
// first and top row first. They tile the window exactly.
scene four_variants();
// A smaller picture (blue border), a refused grey picture (blue quadrant), a
// wider right-to-left picture overlapping its neighbour, and a small later
// picture drawn over that overlap.
scene border_refusal_overlap();
// Pictures reaching past the right and bottom edges of the window, one wider
// than the whole window.
scene clipped_at_edges();
// One run through every path of the loader worth watching for memory faults:
// a refusal, both row orders and both encodings, right to left, clipping.
scene every_path();

// Puts the scene's files into `work`/tga.
bool write_scene(const scene& s, const std::string& work, std::string* why);

// The window the viewer must show: blue, then each shown picture at its
// quadrant's corner in index order, later ones over earlier, cut at the edges.
std::vector<std::uint16_t> expected_window(const scene& s);
// Standard output byte for byte: six lines per file read, the refusal line of a
// refused picture; nothing from the first file that cannot be opened on.
std::string expected_stdout(const scene& s);
// Standard error: the line about the first file that cannot be opened, if any.
std::string expected_stderr(const scene& s);
// 0 when all four files open, 255 (the viewer's -1) otherwise.
int expected_exit_status(const scene& s);

// A picture as a PPM file, 16-bit pixels widened for viewing.
bool write_ppm(const std::string& path, const std::vector<std::uint16_t>& pixels, int w, int h);
