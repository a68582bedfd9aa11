// Reading TGA pictures held whole in memory into 16-bit sprites, with an
// opacity plane beside them when the caller wants one.
//
// The layout we read
// ------------------
// An 18-byte header, multi-byte fields little-endian:
//
//   offset  size  field
//        0     1  ID length: bytes of image ID that follow the header
//        1     1  colour-map type: 1 means a colour map follows the ID
//        2     1  image type: 1 raw colour-mapped, 2 raw true-colour, 3 raw grey;
//                 9, 10, 11 the same run-length encoded
//        3     2  first colour-map entry: the index that names the map's entry 0
//                 (an index, so it takes no room in the file)
//        5     2  colour-map length, in entries
//        7     1  colour-map entry size, in bits
//        8     4  x and y origin (not read)
//       12     2  width in pixels
//       14     2  height in pixels
//       16     1  pixel depth in bits
//       17     1  image descriptor: bits 3-0 the number of alpha bits per pixel;
//                 bit 4 (0x10) set = each row is stored right to left; bit 5
//                 (0x20) set = the first stored row is the top row, clear = the
//                 bottom row. Bits 6-7 (interleaving, never seen) are ignored.
//
// Then the image ID, then the colour map (length * ceil(entry bits / 8) bytes,
// present only when the colour-map type is 1), then the pixel data. An ID or a
// colour map that runs past the end of the file leaves no pixel data at all.
//
// What a stored pixel is, by image type and depth:
//
//   types 2, 10   24 bits: blue, green, red; 32 bits: blue, green, red, alpha;
//                 15 and 16 bits: a little-endian word, red in bits 14-10,
//                 green 9-5, blue 4-0, bit 15 the one alpha bit of a 16-bit
//                 pixel. A 5-bit channel v widens to 8 bits as (v << 3) | (v >> 2).
//   types 3, 11   8 bits: a grey level; 16 bits: a grey level, then alpha.
//   types 1, 9    8 bits: an index into the colour map, whose entries are
//                 stored pixels of 15, 16, 24 or 32 bits as above. Index i is
//                 entry i - first; an index outside [first, first + length)
//                 names nothing, and the file is corrupt.
//
// Colour is packed to RGB565 with rgb24_to_16 (grey g as g, g, g). Opacity:
//
//   - a 32-bit pixel or map entry: its fourth byte, except when the picture
//     has none. A TGA 2.0 footer (the last 26 bytes: extension-area offset,
//     developer-area offset, "TRUEVISION-XFILE." and a NUL) whose extension
//     area lies whole inside the file, before the footer, says so in its
//     attributes-type byte (offset 494): 0, 1, 2 no alpha, so opaque; 3, 4
//     alpha (4 premultiplied, kept as stored). Without that answer, a
//     descriptor with 0 alpha bits and alpha bytes that are all 0 (every
//     pixel's, or every map entry's) is an old writer's unused byte: opaque.
//   - a 16-bit true-colour pixel: with 1 alpha bit in the descriptor, bit 15
//     set is opaque and clear transparent; otherwise opaque.
//   - a 16-bit grey pixel: its second byte.
//   - everything else (24, 15 bits, 8-bit grey, 15/16/24-bit map entries): opaque.
//
// Raw data is w * h pixels in stored order. Run-length data is a sequence of
// packets, each a header byte H and stored pixels:
//
//   H & 0x80 set     run: one pixel follows, repeated (H & 0x7F) + 1 times
//   H & 0x80 clear   raw: (H & 0x7F) + 1 pixels follow
//
// Packets run across row ends freely; decoding stops at w * h pixels, also in the
// middle of a packet, and whatever follows (surplus packets, a footer) is ignored.
//
// Every other (type, depth, colour map) combination is refused, and so is pixel
// data too short for the picture or naming a missing map entry: we never invent
// a pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>

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
    std::uint8_t descriptor;  // the whole descriptor byte; alpha bits = descriptor & 0x0F
    std::uint8_t map_type;    // colour-map type
    std::uint16_t map_first;  // the index that names colour-map entry 0
    std::uint16_t map_length; // colour-map entries
    std::uint8_t map_bits;    // colour-map entry size in bits
    const std::uint8_t* map;  // the colour map, or null when there is none or it runs past the end
    const std::uint8_t* file; // the first byte of the file: the TGA 2.0 footer counts from it
    std::size_t file_size;
};

constexpr std::size_t tga_header_size = 18;

// Fills `info` from the first `file_size` bytes at `file`.
// Returns -1, with an empty record, when the file is shorter than its header.
int tga_info(const std::uint8_t* file, std::size_t file_size, tga_info_t* info);

enum tga_check_t {
    tga_ok,          // decodable as far as the header and the data size can tell
    tga_unsupported, // a variant this decoder does not read (tga24_*: anything but 24-bit)
    tga_truncated,   // the data cannot possibly hold w * h pixels
    tga_corrupt,     // the data holds something no picture can: an index outside the colour map
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

// The same cheap test for every variant that tga_to_sprite16 reads: tga_unsupported
// for what it refuses from the header alone, tga_truncated for a colour map that
// runs past the end or data shorter than the best case (w * h pixels raw; for
// run-length data one header and one pixel per 128 pixels). It never refuses a
// file that decodes.
tga_check_t tga_check(const tga_info_t* info);

// Decodes any variant above into sprite->pixels (room for w * h pixels) and, when
// `alpha` is not null, each pixel's opacity into alpha[y * w + x] (0 transparent
// ... 255 opaque; w * h bytes). Prints nothing. Neither may overlap the file.
// Faults count in the data's order: the first one met decides. On any refusal
// the sprite is left empty (w = h = bpp = 0), its pixels pointer untouched, and
// the pixels and opacities may hold part of the picture; nothing is read outside
// the file or written outside w * h. A picture of width or height 0 is tga_ok.
tga_check_t tga_to_sprite16(const tga_info_t* info, sprite_t* sprite, std::uint8_t* alpha);
