// Reading 24-bit TGA pictures held whole in memory into 16-bit sprites.
//
// The layout we read
// ------------------
// An 18-byte header, multi-byte fields little-endian:
//
//   offset  size  field
//        0     1  ID length: bytes of image ID that follow the header
//        1     1  colour-map type: 1 means a colour map follows the ID
//        2     1  image type: 2 raw true-colour, 10 run-length true-colour
//        3     2  first colour-map entry (an index: takes no room in the file)
//        5     2  colour-map length, in entries
//        7     1  colour-map entry size, in bits
//        8     4  x and y origin (not read)
//       12     2  width in pixels
//       14     2  height in pixels
//       16     1  pixel depth in bits
//       17     1  image descriptor: bit 5 (0x20) set = first stored row is the top
//                 row, clear = the bottom row; bit 4 (0x10) set = each row is
//                 stored right to left. The other bits are ignored.
//
// Then the image ID, then the colour map (length * ceil(entry bits / 8) bytes,
// present only when the colour-map type is 1), then the pixel data. An ID or a
// colour map that runs past the end of the file leaves no pixel data at all.
//
// A pixel is 3 bytes: blue, green, red. Raw data (type 2) is w * h pixels in
// stored order. Run-length data (type 10) is a sequence of packets, each a
// header byte H and pixel bytes:
//
//   H & 0x80 set     run: one pixel follows, repeated (H & 0x7F) + 1 times
//   H & 0x80 clear   raw: (H & 0x7F) + 1 pixels follow
//
// Packets run across row ends freely; decoding stops at w * h pixels, also in the
// middle of a packet, and whatever follows (surplus packets, a footer) is ignored.
//
// We refuse every other (type, depth) pair (colour-mapped, grey, 15/16/32-bit)
// and any pixel data too short for the picture, rather than invent pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "draw.h"

// The header of a TGA file, pointing into the caller's buffer (never owned).
struct tga_info_t {
    const std::uint8_t* data; // first byte of the pixel data
    std::uint16_t w;
    std::uint16_t h;
    std::uint8_t hv;          // descriptor & 0x20: 32 for top row first, else 0
    std::uint8_t bpp;
    std::uint8_t type;
    std::uint8_t rl;          // descriptor & 0x10: 16 for rows stored right to left
    std::size_t data_size;    // bytes from `data` to the end of the file
};

constexpr std::size_t tga_header_size = 18;

// Fills `info` from the first `file_size` bytes at `file`.
// Returns -1, with an empty record, when the file is shorter than its header.
int tga_info(const std::uint8_t* file, std::size_t file_size, tga_info_t* info);

enum tga_check_t {
    tga_ok,          // decodable as far as the header and the data size can tell
    tga_unsupported, // not 24-bit raw or run-length true-colour
    tga_truncated,   // the data cannot possibly hold w * h pixels
};

// Cheap test that needs no pixel memory: run it before allocating w * h pixels,
// so a tiny file that claims 65535 x 65535 allocates nothing. The run-length
// bound is the best case, 128 pixels in every 4 bytes; the decoder still finds
// packets cut short later on.
tga_check_t tga24_check(const tga_info_t* info);

// Decodes into sprite->pixels, which must have room for w * h pixels (none is
// needed when tga24_check refuses) and must not overlap the file's bytes. Rows
// come out top row first and left to right whatever the file's order. On
// success the sprite gets the header's w and h and bpp 16; on refusal one line
// goes to standard output and the sprite is left empty (w = h = bpp = 0), its
// pixels pointer untouched.
void tga24_to_sprite16(const tga_info_t* info, sprite_t* sprite);
