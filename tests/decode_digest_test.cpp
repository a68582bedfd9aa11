// Every malformed file and every fuzz seed decoded and reduced to one line: the
// header fields, then for the 24-bit decoder and for the decoder of every
// variant what it says, the sprite's size and digests of its pixel values and
// opacities. Values are digested as numbers, low byte first, never as memory,
// so a correct build gives the same lines on either byte order; a cross build
// compares its lines with the native build's (VELMORA_DIGEST_REFERENCE).
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "malformed_files.h"
#include <velmora/tga.h>

namespace {

using bytes = std::vector<std::uint8_t>;

// 64-bit FNV-1a.
struct digest {
    std::uint64_t value = 14695981039346656037u;

    void add(std::uint8_t byte) { value = (value ^ byte) * 1099511628211u; }
    void add(std::uint16_t word)
    {
        add(static_cast<std::uint8_t>(word & 0xFF));
        add(static_cast<std::uint8_t>(word >> 8));
    }
};

std::string hex(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string header_part(const tga_info_t& info, const bytes& file)
{
    const auto offset = static_cast<std::size_t>(info.data - file.data());
    return "header " + std::to_string(info.w) + "x" + std::to_string(info.h) + " hv" +
           std::to_string(info.hv) + " rl" + std::to_string(info.rl) + " bpp" + std::to_string(info.bpp) +
           " type" + std::to_string(info.type) + " data " + std::to_string(offset) + "+" +
           std::to_string(info.data_size) + " map" + std::to_string(info.map_type) + " " +
           std::to_string(info.map_first) + "+" + std::to_string(info.map_length) + "x" +
           std::to_string(info.map_bits) + " descriptor" + std::to_string(info.descriptor);
}

std::string sprite_part(const sprite_t& sprite)
{
    digest pixels;
    for (std::size_t i = 0; i < std::size_t{sprite.w} * sprite.h; ++i)
        pixels.add(sprite.pixels[i]);
    return std::to_string(sprite.w) + "x" + std::to_string(sprite.h) + "x" + std::to_string(sprite.bpp) +
           " pixels " + hex(pixels.value);
}

const char* check_name(tga_check_t check)
{
    switch (check) {
    case tga_ok: return "ok";
    case tga_unsupported: return "unsupported";
    case tga_truncated: return "truncated";
    case tga_corrupt: return "corrupt";
    }
    return "?";
}

// Room for the whole picture once the check passes, as the viewer does, or when
// the picture is small anyway; a refused huge claim gets none.
bool whole_room(const tga_info_t& info, tga_check_t check)
{
    return check == tga_ok || std::size_t{info.w} * info.h * sizeof(pixel16) <= allocation_limit;
}

std::vector<pixel16> pixel_room(const tga_info_t& info, tga_check_t check)
{
    return std::vector<pixel16>(whole_room(info, check) ? std::size_t{info.w} * info.h + 1 : 1, 0xDEAD);
}

std::string tga24_part(const tga_info_t& info)
{
    const tga_check_t check = tga24_check(&info);
    std::vector<pixel16> room = pixel_room(info, check);
    sprite_t sprite{1, 1, 1, room.data()};
    testing::internal::CaptureStdout();
    tga24_to_sprite16(&info, &sprite);
    std::fflush(stdout);
    std::string said = testing::internal::GetCapturedStdout();
    if (!said.empty() && said.back() == '\n')
        said.pop_back();
    return "tga24 " + std::string(check_name(check)) + " " + sprite_part(sprite) + " \"" + said + "\"";
}

std::string all_variants_part(const tga_info_t& info)
{
    const tga_check_t check = tga_check(&info);
    if (!whole_room(info, check))
        return "all " + std::string(check_name(check));
    std::vector<pixel16> room = pixel_room(info, check);
    std::vector<std::uint8_t> alpha(room.size(), 0xAD);
    sprite_t sprite{1, 1, 1, room.data()};
    const tga_check_t status = tga_to_sprite16(&info, &sprite, alpha.data());
    digest opacity;
    for (std::size_t i = 0; i < std::size_t{sprite.w} * sprite.h; ++i)
        opacity.add(alpha[i]);
    return "all " + std::string(check_name(check)) + " " + check_name(status) + " " + sprite_part(sprite) +
           " alpha " + hex(opacity.value);
}

std::string file_line(const std::string& name, const bytes& file)
{
    tga_info_t info{};
    if (tga_info(file.data(), file.size(), &info) != 0)
        return name + " too short";
    return name + " " + header_part(info, file) + " | " + tga24_part(info) + " | " + all_variants_part(info);
}

bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names_in(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> all_lines()
{
    std::vector<std::string> lines;
    for (const malformed_case& c : malformed_files())
        lines.push_back(file_line("malformed/" + c.name, c.file));
    for (const std::string& name : names_in(FUZZ_SEEDS))
        lines.push_back(file_line("seed/" + name, read_file(std::string(FUZZ_SEEDS) + "/" + name)));
    return lines;
}

std::vector<std::string> read_lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(decode_digests, are_written_for_every_file_and_seed)
{
    const std::vector<std::string> lines = all_lines();
    ASSERT_GT(lines.size(), malformed_files().size()) << "no fuzz seeds in " FUZZ_SEEDS;
    std::ofstream out(DIGESTS_OUT);
    for (const std::string& line : lines)
        out << line << '\n';
    out.close();
    EXPECT_TRUE(out) << "cannot write " DIGESTS_OUT;
}

TEST(decode_digests, match_the_reference_build)
{
    const std::string reference = DIGESTS_REFERENCE;
    if (reference.empty())
        GTEST_SKIP() << "no reference build (VELMORA_DIGEST_REFERENCE)";
    const std::vector<std::string> expected = read_lines(reference);
    ASSERT_FALSE(expected.empty()) << "no digests in " << reference;
    const std::vector<std::string> lines = all_lines();
    ASSERT_EQ(lines.size(), expected.size()) << "a different set of files than " << reference;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]);
}

} // namespace
