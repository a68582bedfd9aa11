// The viewer: a 512 x 512 RGB565 window showing four TGA samples in a 2 x 2 grid.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

#include <velmora/draw.h>

constexpr int screen_width = 512;
constexpr int screen_height = 512;
constexpr int sample_count = 4;

// Sample paths, relative to the working directory, in drawing order.
extern const char* const fname[sample_count];

// Opens `path` for binary reading once stat() shows a regular file (links are
// followed), leaving its status in `st`. Returns 0, or -1 after one line on
// standard error saying why; nothing is left open then. The caller closes `*file`.
int sc_open(std::FILE** file, const char* path, struct stat* st);

// Loads the four samples into their quadrants of `screen`, printing six header
// lines each, clipped to the screen sprite's w and h. A sample that cannot be
// decoded leaves its quadrant as it was and loading goes on. Returns 0, or -1
// when a sample cannot be opened or memory runs out; later samples are not tried.
int load_samples(sprite_t* screen);

// Copies `picture` into `screen_sprite` with its top-left pixel at (x, y), leaving
// out whatever reaches past the screen sprite's right or bottom edge.
void place_clipped(sprite_t* screen_sprite, const sprite_t* picture, std::uint16_t x,
                   std::uint16_t y);

// Presents the whole screen surface once.
void render();
