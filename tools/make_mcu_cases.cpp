// Writes tests/mcu/mcu_expected.h: the TGA files the Cortex-M runner embeds
// (every variant, raw and run-length, and a few malformed ones) and what the
// native build answers for each and for every drawing call of
// tests/mcu/mcu_cases.h. The runner, built for Cortex-M without a file system,
// holds the library there to these answers.
//
//   make_mcu_cases OUT.h
#include <cstdio>
#include <string>
#include <vector>

#include <velmora/sprite.h>
#include <velmora/tga.h>
#include "mcu_cases.h"
#include "tga_writer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct named_file {
    std::string name;
    bytes content;
};

// Runs of colours, so run-length packets of both kinds appear, with opacities
// from 0 to 255: at most 24 distinct colours, which any colour map holds.
rgba_picture picture(std::uint16_t w, std::uint16_t h)
{
    rgba_picture p{w, h, {}};
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
        const unsigned k = static_cast<unsigned>(i / 3 % 24);
        p.pixels.push_back({static_cast<std::uint8_t>(k * 53), static_cast<std::uint8_t>(k * 97 + 11),
                            static_cast<std::uint8_t>(255 - k * 29), static_cast<std::uint8_t>(k * 11)});
    }
    return p;
}

tga_variant variant(std::uint8_t type, std::uint8_t bpp, unsigned n)
{
    tga_variant v;
    v.type = type;
    v.bpp = bpp;
    v.top_down = n % 2 == 1; // both row orders and both directions across the table
    v.right_to_left = n % 3 == 2;
    return v;
}

std::vector<named_file> files()
{
    std::vector<named_file> out;
    const rgba_picture p = picture(13, 7);
    unsigned n = 0;
    for (const bool rle : {false, true}) {
        const auto type = [&](std::uint8_t raw) { return static_cast<std::uint8_t>(rle ? raw + 8 : raw); };
        const std::string kind = rle ? "rle" : "raw";
        for (const std::uint8_t bpp : {15, 16, 24, 32}) {
            tga_variant v = variant(type(2), bpp, n++);
            v.alpha_bits = bpp == 16 ? 1 : bpp == 32 ? 8 : 0;
            out.push_back({kind + "_true_" + std::to_string(bpp), tga_encode(p, v)});
        }
        tga_variant opaque = variant(type(2), 32, n++);
        opaque.attributes_type = 2; // the footer says the fourth bytes are no opacity
        out.push_back({kind + "_true_32_footer_opaque", tga_encode(p, opaque)});
        for (const std::uint8_t bpp : {8, 16})
            out.push_back({kind + "_grey_" + std::to_string(bpp), tga_encode(p, variant(type(3), bpp, n++))});
        for (const std::uint8_t bits : {15, 16, 24, 32}) {
            tga_variant v = variant(type(1), 8, n++);
            v.map_entry_bits = bits;
            v.map_first = bits == 24 ? 5 : 0;
            out.push_back({kind + "_mapped_" + std::to_string(bits), tga_encode(p, v)});
        }
    }
    // Refused, each in its own way.
    const bytes raw24 = tga_encode(p, variant(2, 24, 0));
    const bytes rle24 = tga_encode(p, variant(10, 24, 0));
    tga_variant m = variant(1, 8, 0);
    const bytes mapped = tga_encode(p, m);
    out.push_back({"shorter_than_header", bytes(raw24.begin(), raw24.begin() + 11)});
    out.push_back({"raw_cut_by_one_byte", bytes(raw24.begin(), raw24.end() - 1)});
    out.push_back({"rle_cut_in_a_packet", bytes(rle24.begin(), rle24.begin() + rle24.size() * 2 / 3)});
    bytes outside = mapped;
    outside.back() = 250; // an index no entry names
    out.push_back({"index_outside_the_map", outside});
    bytes long_map = mapped;
    long_map[5] = 0xFF; // a map longer than the file
    long_map[6] = 0x7F;
    out.push_back({"map_past_the_end", long_map});
    out.push_back({"unsupported_depth", tga_header(2, 4, 4, 8, 0)});
    out.push_back({"unsupported_type", tga_header(4, 4, 4, 24, 0)});
    out.push_back({"claims_65535_square", tga_header(2, 65535, 65535, 24, 0)});
    out.push_back({"zero_width", tga_header(2, 0, 9, 24, 0)});
    return out;
}

std::string hex_bytes(const bytes& b)
{
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        char item[16];
        std::snprintf(item, sizeof item, "%s0x%02x,", i % 16 == 0 ? "\n    " : " ", b[i]);
        s += item;
    }
    return s;
}

struct answers {
    int info, check24, check, status;
    std::uint32_t decoded;
};

answers answer(const bytes& file)
{
    tga_info_t info;
    answers a{tga_info(file.data(), file.size(), &info), 0, 0, 0, 0};
    a.check24 = tga24_check(&info);
    a.check = tga_check(&info);
    std::vector<pixel16> pixels(mcu::most_pixels);
    std::vector<std::uint8_t> alpha(mcu::most_pixels);
    sprite_t s{0, 0, 0, pixels.data()};
    if (a.info == 0 && std::size_t{info.w} * info.h <= mcu::most_pixels) {
        const tga_check_t status = tga_to_sprite16(&info, &s, alpha.data());
        a.status = status;
        a.decoded = mcu::decode_digest(status, s, alpha.data());
    }
    return a;
}

std::vector<std::uint32_t> drawing_digests()
{
    std::vector<pixel16> target(mcu::target_pixels), source(mcu::source_pixels);
    std::vector<std::uint8_t> alpha(mcu::source_pixels), out(2 * mcu::target_pixels);
    mcu::make_target(target.data());
    mcu::make_source(source.data(), alpha.data());
    sprite_t t{mcu::target_w, mcu::target_h, 16, target.data()};
    const sprite_t s{mcu::source_w, mcu::source_h, 16, source.data()};
    std::vector<std::uint32_t> digests;
    for (const mcu::draw_call& c : mcu::drawing) {
        const int result = mcu::draw(c, &t, &s, alpha.data(), out.data());
        digests.push_back(mcu::draw_digest(c, result, t, out.data()));
    }
    return digests;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_mcu_cases OUT.h\n");
        return 2;
    }
    std::string text =
        "// Made by tools/make_mcu_cases.cpp with the native build: do not edit. The\n"
        "// test mcu_expected.is_current fails when the library's answers change.\n"
        "#pragma once\n\n#include \"mcu_cases.h\"\n\nnamespace mcu {\n\n"
        "// Each file follows one pad byte in a 4-aligned array: it starts at an odd\n"
        "// address, as a file inside a larger blob may.\n";
    const std::vector<named_file> all = files();
    for (std::size_t i = 0; i < all.size(); ++i) {
        bytes padded{0};
        padded.insert(padded.end(), all[i].content.begin(), all[i].content.end());
        text += "alignas(4) constexpr std::uint8_t file_" + std::to_string(i) + "[] = {" +
                hex_bytes(padded) + "\n};\n";
    }
    text += "\nconstexpr file_case files[] = {\n";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const answers a = answer(all[i].content);
        char line[200];
        std::snprintf(line, sizeof line, "    {\"%s\", file_%zu + 1, %zu, %d, %d, %d, %d, 0x%08xu},\n",
                      all[i].name.c_str(), i, all[i].content.size(), a.info, a.check24, a.check,
                      a.status, static_cast<unsigned>(a.decoded));
        text += line;
    }
    text += "};\n\nconstexpr std::uint32_t drawing_digests[] = {";
    const std::vector<std::uint32_t> digests = drawing_digests();
    for (std::size_t i = 0; i < digests.size(); ++i) {
        char item[24];
        std::snprintf(item, sizeof item, "%s0x%08xu,", i % 6 == 0 ? "\n    " : " ",
                      static_cast<unsigned>(digests[i]));
        text += item;
    }
    text += "\n};\n\n} // namespace mcu\n";
    FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_mcu_cases: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
