// The table of hand-made broken, odd and hostile TGA files (malformed_test.cpp),
// shared by the suites that run it: the library's, the viewer's loading phase,
// the digests compared across architectures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <velmora/tga.h>
#include "tga_writer.h"

enum class outcome {
    too_short, // fewer bytes than a header: tga_info refuses
    refused,   // the decoder prints its line and leaves the empty sprite
    shown,     // the picture decodes, with no line printed
};

struct malformed_case {
    std::string name;
    std::vector<std::uint8_t> file;
    outcome expected;
    std::string message; // the line the decoder prints, for refused files
    rgb_picture picture; // what must appear, for shown files (or shown by the quiet decoder)
    // What tga_to_sprite16 answers; unset for files of other depths than 24,
    // which it reads without an answer to hold it to.
    std::optional<tga_check_t> quiet = std::nullopt;
};

inline void PrintTo(const malformed_case& c, std::ostream* os)
{
    *os << c.name;
}

// Every file of the table, in table order.
std::vector<malformed_case> malformed_files();

// Nothing a file this small may describe needs more than this.
constexpr std::size_t allocation_limit = 1 << 20;

// Each file of the table is one instance; malformed_test.cpp instantiates it.
struct malformed : testing::TestWithParam<malformed_case> {};
