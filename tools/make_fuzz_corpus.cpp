// Makes the seed corpora of the fuzz targets, so they start from files that
// reach deep into the decoder rather than from nothing:
//   FOLDER/tga/   small TGA files in every variant and layout the readers know
//   FOLDER/draw/  short programs for draw_fuzz (two sprite sizes, then operations)
// Usage: make_fuzz_corpus FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tga_writer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Runs of 5 equal pixels on rows of 7: most run packets cross a row end.
rgb_picture runs(std::uint16_t w, std::uint16_t h)
{
    rgb_picture p = noise_picture(w, h, 99);
    for (std::size_t i = 0; i < p.pixels.size(); ++i)
        p.pixels[i] = p.pixels[i / 5 * 5];
    return p;
}

bytes with_footer(bytes file)
{
    const bytes footer = tga2_footer();
    file.insert(file.end(), footer.begin(), footer.end());
    return file;
}

struct seed_file {
    const char* name;
    bytes content;
};

// Runs of colours with opacities from 0 to 255, twelve colours in all.
rgba_picture runs_with_alpha(std::uint16_t w, std::uint16_t h)
{
    const rgb_picture base = runs(w, h);
    rgba_picture p{w, h, {}};
    for (std::size_t i = 0; i < base.pixels.size(); ++i) {
        const rgb c = base.pixels[i / 5 % 12 * 5 % base.pixels.size()];
        p.pixels.push_back({c.r, c.g, c.b, static_cast<std::uint8_t>(i / 5 % 12 * 23)});
    }
    return p;
}

tga_variant variant(std::uint8_t type, std::uint8_t bpp, bool top_down, std::uint8_t alpha_bits = 0)
{
    tga_variant v;
    v.type = type;
    v.bpp = bpp;
    v.top_down = top_down;
    v.alpha_bits = alpha_bits;
    return v;
}

tga_variant mapped(std::uint8_t type, std::uint8_t entry_bits, std::uint16_t first)
{
    tga_variant v = variant(type, 8, false);
    v.map_entry_bits = entry_bits;
    v.map_first = first;
    return v;
}

// Every variant of the quiet decoder, raw and run-length.
std::vector<seed_file> variant_seeds()
{
    const rgba_picture p = runs_with_alpha(7, 6);
    tga_variant footed = variant(10, 32, true, 8);
    footed.attributes_type = 3;
    tga_variant mirrored = variant(2, 16, false, 1);
    mirrored.right_to_left = true;
    return {
        {"mapped_15.tga", tga_encode(p, mapped(1, 15, 0))},
        {"mapped_16_rle.tga", tga_encode(p, mapped(9, 16, 3))},
        {"mapped_24_rle.tga", tga_encode(p, mapped(9, 24, 200))},
        {"mapped_32.tga", tga_encode(p, mapped(1, 32, 1))},
        {"true_15_rle.tga", tga_encode(p, variant(10, 15, false))},
        {"true_16_alpha_bit.tga", tga_encode(p, mirrored)},
        {"true_32.tga", tga_encode(p, variant(2, 32, false, 8))},
        {"true_32_rle_footer.tga", tga_encode(p, footed)},
        {"grey_8_rle.tga", tga_encode(p, variant(11, 8, true))},
        {"grey_16.tga", tga_encode(p, variant(3, 16, false, 8))},
    };
}

std::vector<seed_file> tga_seeds()
{
    const rgb_picture small = noise_picture(7, 5, 1);
    tga_layout with_id = make_layout(true, false);
    with_id.id_length = 9;
    tga_layout with_map = make_layout(false, true);
    with_map.colour_map_length = 3;
    with_map.colour_map_entry_bits = 15;
    tga_layout mapped_rle = make_layout(true, true);
    mapped_rle.id_length = 2;
    mapped_rle.colour_map_length = 2;
    mapped_rle.colour_map_entry_bits = 32;
    tga_layout mirrored = make_layout(true, false);
    mirrored.right_to_left = true;
    mirrored.extra_descriptor_bits = 0xC8;
    bytes grey = tga_header(3, 4, 4, 8, 0);
    grey.insert(grey.end(), 16, 0x80);

    return {
        {"raw_bottom_up.tga", tga_encode(small, make_layout(false, false))},
        {"raw_top_down.tga", tga_encode(small, make_layout(false, true))},
        {"rle_bottom_up.tga", tga_encode(runs(7, 6), make_layout(true, false))},
        {"rle_top_down.tga", tga_encode(runs(7, 6), make_layout(true, true))},
        {"rle_noise.tga", tga_encode(noise_picture(9, 4, 2), make_layout(true, false))},
        {"rle_long_runs.tga", tga_encode(make_picture(40, 9, {10, 20, 30}), make_layout(true, true))},
        {"id_field.tga", tga_encode(runs(5, 5), with_id)},
        {"colour_map.tga", tga_encode(small, with_map)},
        {"id_and_colour_map.tga", tga_encode(runs(6, 3), mapped_rle)},
        {"right_to_left.tga", tga_encode(runs(7, 4), mirrored)},
        {"footer.tga", with_footer(tga_encode(small, make_layout(true, true)))},
        {"empty_picture.tga", tga_header(2, 0, 3, 24, 0)},
        {"grey.tga", grey},
    };
}

// Two sprites (w, h, seed word each), then operations: see draw_fuzz.cpp.
std::vector<seed_file> draw_seeds()
{
    return {
        {"fill_and_copy", {12, 9, 1, 0, 5, 4, 2, 0, 0, 0x34, 0x12, 2, 1, 6, 5, 1, 3, 2, 2, 1, 2, 3, 2, 2}},
        {"overlap", {20, 20, 7, 7, 3, 3, 0, 0, 3, 2, 3, 10, 10, 4, 5, 3, 0, 0, 12, 12, 8, 8}},
        {"blend", {16, 8, 3, 1, 16, 8, 9, 9, 4, 0, 0, 128, 4, 0, 0, 0, 4, 0, 0, 255}},
        {"thin", {40, 1, 2, 2, 1, 40, 3, 3, 1, 0, 0, 2, 0, 0, 1, 30, 5, 0, 0, 0xEF, 0xBE, 0, 0, 40, 1}},
        {"transparent", {16, 8, 3, 1, 12, 6, 9, 9, 6, 2, 1, 5, 0, 7, 4, 0, 0, 0, 12, 6, 0, 0, 8, 1, 1,
                         9, 1, 0, 0, 10, 5, 3, 1, 5, 0, 0, 8, 6, 255, 8, 0, 0, 5, 0, 0, 16, 3, 0,
                         9, 0, 2, 1, 9, 4, 1, 2}},
    };
}

bool write_all(const std::string& folder, const std::vector<seed_file>& seeds)
{
    mkdir(folder.c_str(), 0755);
    for (const seed_file& s : seeds) {
        if (!write_file(folder + "/" + s.name, s.content)) {
            std::fprintf(stderr, "make_fuzz_corpus: cannot write %s/%s\n", folder.c_str(), s.name);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    mkdir(folder.c_str(), 0755);
    std::vector<seed_file> tga = tga_seeds();
    for (seed_file& s : variant_seeds())
        tga.push_back(std::move(s));
    return write_all(folder + "/tga", tga) && write_all(folder + "/draw", draw_seeds()) ? 0 : 1;
}
