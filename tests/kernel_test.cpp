// The fast kernels against the plain loops (bench/plain.cpp): the same bytes for
// random sizes, offsets, strides, weights, keys, alpha planes, overlaps, row
// orders and packet streams, at every SIMD level this machine has. Built twice:
// against the library as shipped and against its portable-only twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fenced.h"
#include "plain.h"
#include "kernels/kernels.h"
#include <velmora/sprite.h>
#include <velmora/tga.h>
#include "tga_level.h"
#include "levels_here.h"
#include "tga_writer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

std::string name_of(simd_level level)
{
    switch (level) {
    case simd_level::portable: return "portable";
    case simd_level::sse2: return "sse2";
    case simd_level::ssse3: return "ssse3";
    case simd_level::avx2: return "avx2";
    case simd_level::neon: return "neon";
    }
    return "?";
}

int random_in(std::mt19937& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

pixel16 random_pixel(std::mt19937& rng)
{
    return static_cast<pixel16>(random_in(rng, 0, 0xFFFF));
}

void fill_random(fenced_sprite& c, std::mt19937& rng)
{
    for (std::size_t i = 0; i < std::size_t{c.sprite.w} * c.sprite.h; ++i)
        c.sprite.pixels[i] = random_pixel(rng);
}

// Two sprites of one size holding the same random pixels: one for the library,
// one for the plain loop.
struct twin_sprites {
    fenced_sprite fast, slow;

    twin_sprites(int w, int h, std::mt19937& rng)
        : fast(static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)),
          slow(static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h))
    {
        fill_random(fast, rng);
        slow.words = fast.words;
    }
};

// A random area of a w x h sprite, empty ones included now and then.
area_t random_area(std::mt19937& rng, int w, int h)
{
    const int x = random_in(rng, 0, w), y = random_in(rng, 0, h);
    return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
            static_cast<std::uint16_t>(random_in(rng, 0, w - x)),
            static_cast<std::uint16_t>(random_in(rng, 0, h - y))};
}

// ---------------------------------------------------------------- levels

// The levels every other test here runs. Where a level is found at run time
// (x86-64; NEON on 32-bit ARM), a runner that knows the processor names them in
// VELMORA_EXPECT_LEVELS, as `make test-cross` does for each emulated processor
// (32-bit ARM with NEON and without); the portable twin runs the portable level
// only, anywhere.
TEST(levels, are_the_ones_the_processor_has)
{
    std::string here;
    for (simd_level level : levels_here())
        here += (here.empty() ? "" : " ") + name_of(level);
    std::printf("levels run here: %s\n", here.c_str());
#if defined(VELMORA_PORTABLE)
    EXPECT_EQ(here, "portable");
#else
    const char* expected = std::getenv("VELMORA_EXPECT_LEVELS");
    if (expected == nullptr)
        GTEST_SKIP() << "VELMORA_EXPECT_LEVELS is not set";
    EXPECT_EQ(here, expected);
#endif
}

// ---------------------------------------------------------------- division

TEST(divide_by_255, each_form_equals_integer_division_over_its_range)
{
    for (unsigned y = 0; y <= 0xFFFF; ++y) {
        ASSERT_EQ(div255_by_multiply(y), y / 255) << y;
        if (y < 0xFFFF) {
            ASSERT_EQ(div255_by_add_shift(y), y / 255) << y;
        }
    }
}

// The smooth landing's floor(n / 16711680) is constant on each run of 65536
// values n that share n >> 16, as the true quotient is (16711680 is a multiple
// of 65536): both ends of every run up to 16711680 * 64 prove it for all n.
TEST(divide_by_255, the_smooth_landing_equals_integer_division_up_to_64_times_16711680)
{
    for (std::uint32_t run = 0; run < 255 * 64; ++run) {
        for (const std::uint32_t n : {run << 16, run << 16 | 0xFFFF})
            ASSERT_EQ(div_smooth_whole(n), n / 16711680u) << n;
    }
}

// ---------------------------------------------------------------- fill

TEST(fill_kernel, every_level_fills_exactly_n_pixels_at_any_alignment)
{
    std::mt19937 rng(1);
    for (simd_level level : levels_here()) {
        for (int n = 0; n <= 300; n += (n < 70 ? 1 : 17)) {
            for (int offset = 0; offset < 17; offset += 3) {
                fenced_sprite c(static_cast<std::uint16_t>(offset + n + 40), 1, 0x1234);
                const pixel16 value = random_pixel(rng);
                fill_rows(level, c.sprite.pixels + offset, static_cast<std::size_t>(n), 1, 0, value);
                for (int i = 0; i < c.sprite.w; ++i) {
                    const bool inside = i >= offset && i < offset + n;
                    ASSERT_EQ(c.at(i, 0), inside ? value : 0x1234)
                        << name_of(level) << " n=" << n << " offset=" << offset << " i=" << i;
                }
                ASSERT_TRUE(c.fences_intact());
            }
        }
    }
}

TEST(area_fill_16, matches_the_plain_loop_on_random_areas)
{
    std::mt19937 rng(2);
    for (int round = 0; round < 400; ++round) {
        const int w = random_in(rng, 1, 90), h = random_in(rng, 1, 12);
        twin_sprites twins(w, h, rng);
        auto& [fast, slow] = twins;
        area_t area = random_area(rng, w, h);
        if (round % 5 == 0) // whole rows, which the kernel takes as one run
            area = {0, area.y, static_cast<std::uint16_t>(w), area.h};
        const pixel16 value = random_pixel(rng);
        EXPECT_EQ(area_fill_16(&fast.sprite, value, &area), 0);
        plain::area_fill_16(&slow.sprite, value, &area);
        ASSERT_EQ(fast.words, slow.words) << w << "x" << h << " area " << area.x << ","
                                          << area.y << " " << area.w << "x" << area.h;
    }
}

// ---------------------------------------------------------------- copies

TEST(copy_kernel, copy_forward_matches_pixel_by_pixel_order_for_every_overlap)
{
    std::mt19937 rng(3);
    for (int n = 0; n <= 90; ++n) {
        for (int shift = -n - 3; shift <= n + 3; ++shift) {
            std::vector<pixel16> fast(3 * 96 + 8), slow;
            for (auto& p : fast)
                p = random_pixel(rng);
            slow = fast;
            const std::size_t from = 96 + 4, to = static_cast<std::size_t>(96 + 4 + shift);
            copy_forward(fast.data() + to, fast.data() + from, static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i)
                slow[to + i] = slow[from + i];
            ASSERT_EQ(fast, slow) << "n=" << n << " shift=" << shift;
        }
    }
}

TEST(copy_kernel, copies_rows_like_the_plain_loop_also_over_itself)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 1000; ++round) {
        const int w = random_in(rng, 0, 90), h = random_in(rng, 1, 5);
        const int stride = std::max(1, w + random_in(rng, 0, 9));
        std::vector<pixel16> fast(std::size_t(stride) * (2 * h + 4)), slow;
        for (auto& p : fast)
            p = random_pixel(rng);
        slow = fast;
        // Source rows start at row h/2 + 1; the target anywhere from the top of
        // the buffer to a row and a few pixels past the source's start.
        const std::size_t from = std::size_t(stride) * (h / 2 + 1) + random_in(rng, 0, stride - w);
        const std::size_t to = static_cast<std::size_t>(random_in(rng, 0, static_cast<int>(from) + stride + 3));
        copy_rows(fast.data() + to, stride, fast.data() + from, stride, w, h);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                slow[to + j * stride + i] = slow[from + j * stride + i];
        ASSERT_EQ(fast, slow) << w << "x" << h << " stride " << stride
                              << " from " << from << " to " << to;
    }
}

TEST(sprite_area_blit_16, matches_the_plain_loop_between_sprites)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 400; ++round) {
        // Now and then both sprites as wide as the area: rows packed on both sides.
        const bool packed = round % 4 == 0;
        const int sw = random_in(rng, 1, 80), sh = random_in(rng, 1, 10);
        const int dw = packed ? sw : random_in(rng, 1, 80), dh = random_in(rng, 1, 10);
        fenced_sprite src(static_cast<std::uint16_t>(sw), static_cast<std::uint16_t>(sh));
        fill_random(src, rng);
        twin_sprites twins(dw, dh, rng);
        auto& [fast, slow] = twins;
        area_t area = random_area(rng, sw, sh);
        area.w = static_cast<std::uint16_t>(std::min<int>(area.w, dw));
        area.h = static_cast<std::uint16_t>(std::min<int>(area.h, dh));
        if (packed)
            area = {0, 0, static_cast<std::uint16_t>(sw), static_cast<std::uint16_t>(std::min(sh, dh))};
        const auto x = static_cast<std::uint16_t>(random_in(rng, 0, dw - area.w));
        const auto y = static_cast<std::uint16_t>(random_in(rng, 0, dh - area.h));
        EXPECT_EQ(sprite_area_blit_16(&fast.sprite, &src.sprite, &area, x, y), 0);
        plain::sprite_area_blit_16(&slow.sprite, &src.sprite, &area, x, y);
        ASSERT_EQ(fast.words, slow.words) << "round " << round;
    }
}

TEST(sprite_area_blit_16, overlap_within_one_sprite_keeps_the_pixel_by_pixel_result)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        const int w = random_in(rng, 1, 70), h = random_in(rng, 1, 8);
        twin_sprites twins(w, h, rng);
        auto& [fast, slow] = twins;
        area_t area = random_area(rng, w, h);
        if (round % 3 == 0) // a single row moved right by a little: the repeating case
            area = {static_cast<std::uint16_t>(random_in(rng, 0, w - 1)),
                    static_cast<std::uint16_t>(random_in(rng, 0, h - 1)), 0, 1};
        if (round % 3 == 0)
            area.w = static_cast<std::uint16_t>(random_in(rng, 0, w - area.x));
        const auto x = static_cast<std::uint16_t>(random_in(rng, 0, w - area.w));
        const auto y = static_cast<std::uint16_t>(round % 3 == 0 ? area.y : random_in(rng, 0, h - area.h));
        sprite_area_blit_16(&fast.sprite, &fast.sprite, &area, x, y);
        plain::sprite_area_blit_16(&slow.sprite, &slow.sprite, &area, x, y);
        ASSERT_EQ(fast.words, slow.words) << w << "x" << h << " area " << area.x << "," << area.y
                                          << " " << area.w << "x" << area.h << " to " << x << "," << y;
    }
}

TEST(sprite_blit_16, packed_rows_copied_lower_within_one_buffer_repeat_like_the_plain_loop)
{
    // Two sprites over one buffer, 37 pixels wide: the top three rows copied one
    // or two rows lower overlap themselves as one long run.
    for (std::uint16_t y = 0; y < 3; ++y) {
        fenced_sprite fast(37, 6), slow(37, 6);
        fill_pattern(fast, y);
        slow.words = fast.words;
        const sprite_t top_fast{37, 3, 16, fast.sprite.pixels}, top_slow{37, 3, 16, slow.sprite.pixels};
        sprite_t all_fast{37, 5, 16, fast.sprite.pixels}, all_slow{37, 5, 16, slow.sprite.pixels};
        sprite_blit_16(&all_fast, &top_fast, 0, y);
        plain::sprite_blit_16(&all_slow, &top_slow, 0, y);
        ASSERT_EQ(fast.words, slow.words) << y;
    }
}

// ---------------------------------------------------------------- byte-swapped copy

// Every level against the plain loop: every width to past the vector tails, at
// odd output and source offsets, from packed sprites (one run) and from areas
// of wider ones; the bytes around the output stay as they were. Then each
// level swaps a whole sprite in place.
TEST(copy_be_kernel, every_level_matches_the_plain_loop_and_writes_only_its_bytes)
{
    std::mt19937 rng(13);
    constexpr std::size_t fence = 37;
    for (simd_level level : levels_here()) {
        for (int round = 0; round < 600; ++round) {
            const int w = round < 100 ? round : random_in(rng, 1, 90);
            const int h = random_in(rng, 1, 5);
            const int stride = round % 3 == 0 ? w : w + random_in(rng, 1, 9);
            std::vector<pixel16> src(std::size_t(stride) * h + 1);
            for (auto& p : src)
                p = random_pixel(rng);
            const std::size_t skip = static_cast<std::size_t>(random_in(rng, 0, 1));
            const std::size_t at = fence + static_cast<std::size_t>(random_in(rng, 0, 3));
            bytes fast(2 * fence + 2 * std::size_t(w) * h, 0xA5), slow = fast;
            copy_be_rows(level, fast.data() + at, src.data() + skip, stride, w, h);
            const sprite_t whole{static_cast<std::uint16_t>(stride), static_cast<std::uint16_t>(h),
                                 16, src.data() + skip};
            const area_t area{0, 0, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
            plain::sprite_area_copy_be_16(slow.data() + at, &whole, &area);
            ASSERT_EQ(fast, slow) << name_of(level) << " " << w << "x" << h << " stride " << stride;
        }
        std::vector<pixel16> words(301), expected(words.size());
        for (auto& p : words)
            p = random_pixel(rng);
        const sprite_t whole{static_cast<std::uint16_t>(words.size()), 1, 16, words.data()};
        const area_t all{0, 0, whole.w, 1};
        plain::sprite_area_copy_be_16(reinterpret_cast<std::uint8_t*>(expected.data()), &whole, &all);
        copy_be_rows(level, reinterpret_cast<std::uint8_t*>(words.data()), words.data(), words.size(),
                     words.size(), 1);
        ASSERT_EQ(words, expected) << name_of(level) << " in place";
    }
}

TEST(sprite_area_copy_be_16, gives_high_bytes_first_and_refuses_null_pointers_it_would_use)
{
    pixel16 pixels[6] = {0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C};
    const sprite_t src{3, 2, 16, pixels};
    const area_t area{1, 0, 2, 2};
    std::uint8_t out[10] = {};
    EXPECT_EQ(sprite_area_copy_be_16(out + 1, &src, &area), 0);
    const std::uint8_t expected[10] = {0, 3, 4, 5, 6, 9, 10, 11, 12, 0};
    EXPECT_TRUE(std::equal(out, out + 10, expected));

    const sprite_t no_pixels{3, 2, 16, nullptr};
    EXPECT_EQ(sprite_area_copy_be_16(nullptr, &src, &area), -1);
    EXPECT_EQ(sprite_area_copy_be_16(out, nullptr, &area), -1);
    EXPECT_EQ(sprite_area_copy_be_16(out, &src, nullptr), -1);
    EXPECT_EQ(sprite_area_copy_be_16(out, &no_pixels, &area), -1);
    const area_t nothing{0, 0, 0, 0};
    EXPECT_EQ(sprite_area_copy_be_16(out, &no_pixels, &nothing), 0); // an empty sprite's
    EXPECT_TRUE(std::equal(out, out + 10, expected));
}

// ---------------------------------------------------------------- blend

// Pixel k pairs every source field value with every destination field value:
// green (s, d) = (k & 63, k >> 6), red = (k & 31, k >> 5 & 31), blue = (k >> 7 & 31, k & 31).
void every_field_pair(std::vector<pixel16>& src, std::vector<pixel16>& dst)
{
    src.resize(4096);
    dst.resize(4096);
    for (unsigned k = 0; k < 4096; ++k) {
        src[k] = static_cast<pixel16>((k & 31) << 11 | (k & 63) << 5 | (k >> 7 & 31));
        dst[k] = static_cast<pixel16>((k >> 5 & 31) << 11 | (k >> 6) << 5 | (k & 31));
    }
}

TEST(blend_kernel, every_level_equals_the_8_bit_formula_for_every_field_pair_and_weight)
{
    std::vector<pixel16> src, dst;
    every_field_pair(src, dst);
    for (simd_level level : levels_here()) {
        for (unsigned weight = 0; weight < 256; ++weight) {
            std::vector<pixel16> fast = dst, slow = dst;
            sprite_t from{4096, 1, 16, src.data()};
            sprite_t expected{4096, 1, 16, slow.data()};
            blend_rows(level, fast.data(), 4096, src.data(), 4096, 4096, 1, weight);
            plain::sprite_blit_alpha_16(&expected, &from, 0, 0, static_cast<std::uint8_t>(weight));
            ASSERT_EQ(fast, slow) << name_of(level) << " weight " << weight;
        }
    }
}

TEST(sprite_blit_alpha_16, matches_the_plain_loop_at_random_sizes_positions_and_weights)
{
    std::mt19937 rng(6);
    for (int round = 0; round < 600; ++round) {
        const int sw = random_in(rng, 0, 70), sh = random_in(rng, 0, 6);
        const int dw = sw + random_in(rng, 0, 20), dh = sh + random_in(rng, 0, 4);
        fenced_sprite src(static_cast<std::uint16_t>(sw), static_cast<std::uint16_t>(sh));
        fill_random(src, rng);
        twin_sprites twins(dw, dh, rng);
        auto& [fast, slow] = twins;
        const int x = random_in(rng, 0, dw - sw), y = random_in(rng, 0, dh - sh);
        const int pick = random_in(rng, 0, 9);
        const auto weight = static_cast<std::uint8_t>(pick == 0 ? 0 : pick == 1 ? 255 : random_in(rng, 0, 255));
        EXPECT_EQ(sprite_blit_alpha_16(&fast.sprite, &src.sprite, x, y, weight), 0);
        plain::sprite_blit_alpha_16(&slow.sprite, &src.sprite, x, y, weight);
        ASSERT_EQ(fast.words, slow.words) << "round " << round << " weight " << int{weight};
    }
}

TEST(blend_kernel, overlap_within_one_buffer_keeps_the_pixel_by_pixel_result)
{
    std::mt19937 rng(7);
    for (simd_level level : levels_here()) {
        for (int n = 1; n <= 70; n += 3) {
            for (int shift = -n - 2; shift <= n + 2; ++shift) {
                std::vector<pixel16> fast(3 * 80), slow;
                for (auto& p : fast)
                    p = random_pixel(rng);
                slow = fast;
                const unsigned weight = static_cast<unsigned>(random_in(rng, 1, 254));
                const std::size_t from = 80, to = static_cast<std::size_t>(80 + shift);
                blend_rows(level, fast.data() + to, 0, fast.data() + from, 0,
                           static_cast<std::size_t>(n), 1, weight);
                sprite_t whole{static_cast<std::uint16_t>(slow.size()), 1, 16, slow.data()};
                sprite_t part{static_cast<std::uint16_t>(n), 1, 16, slow.data() + from};
                plain::sprite_blit_alpha_16(&whole, &part, static_cast<std::int32_t>(to), 0,
                                            static_cast<std::uint8_t>(weight));
                ASSERT_EQ(fast, slow) << name_of(level) << " n=" << n << " shift=" << shift;
            }
        }
    }
}

// ---------------------------------------------------------------- transparent blits

// Runs of 1 to 20 pixels, each either the key or random pixels.
void fill_keyed(pixel16* pixels, std::size_t n, pixel16 key, std::mt19937& rng)
{
    for (std::size_t i = 0; i < n;) {
        const bool keyed = random_in(rng, 0, 2) == 0;
        for (std::size_t end = std::min(n, i + random_in(rng, 1, 20)); i < end; ++i)
            pixels[i] = keyed ? key : random_pixel(rng);
    }
}

// An alpha plane as sprites have them: runs of 1 to 40 pixels, each all
// transparent, all opaque or partial (0 and 255 among them now and then).
bytes random_alpha(std::mt19937& rng, std::size_t n)
{
    bytes out(n);
    for (std::size_t i = 0; i < n;) {
        const int kind = random_in(rng, 0, 2);
        for (std::size_t end = std::min(n, i + random_in(rng, 1, 40)); i < end; ++i) {
            const int a = kind == 0 ? 0 : kind == 1 ? 255 : random_in(rng, 0, 255);
            out[i] = static_cast<std::uint8_t>(a);
        }
    }
    return out;
}

// Source and destination in one buffer, `to` from a few pixels before the
// source to a few past its end: every length up to the vector tails, at
// varying alignments, apart and overlapping either way.
TEST(transparent_blit_kernels, every_level_matches_the_plain_loop_at_every_length_and_overlap)
{
    std::mt19937 rng(12);
    for (simd_level level : levels_here()) {
        for (int n = 0; n <= 70; ++n) {
            for (int shift = -n - 3; shift <= n + 3; ++shift) {
                const auto from = static_cast<std::uint16_t>(80 + random_in(rng, 0, 15));
                const auto to = static_cast<std::uint16_t>(from + shift);
                const auto length = static_cast<std::uint16_t>(n);
                const pixel16 key = random_pixel(rng);
                std::vector<pixel16> start(3 * 96);
                fill_keyed(start.data(), start.size(), key, rng);
                const bytes alpha = random_alpha(rng, start.size());
                const area_t part{from, 0, length, 1};
                const std::string what = name_of(level) + " n=" + std::to_string(n) +
                                         " shift=" + std::to_string(shift);

                std::vector<pixel16> fast = start, slow = start;
                sprite_t whole{static_cast<std::uint16_t>(slow.size()), 1, 16, slow.data()};
                blit_key_rows(level, fast.data() + to, 0, fast.data() + from, 0, length, 1, key);
                plain::sprite_area_blit_key_16(&whole, &whole, &part, to, 0, key);
                ASSERT_EQ(fast, slow) << "key " << what;

                fast = start;
                slow = start;
                blit_a8_rows(level, fast.data() + to, 0, fast.data() + from, 0, alpha.data() + from,
                             0, length, 1);
                plain::sprite_area_blit_a8_16(&whole, &whole, alpha.data(), &part, to, 0);
                ASSERT_EQ(fast, slow) << "a8 " << what;
            }
        }
    }
}

// Every field pair meets every alpha in the first 256 rounds, alphas differing
// from lane to lane; the next 256 give runs of one alpha, where the groups of
// all 0 or all 255 take their shortcuts. Rows of every width up to 80 end in
// every tail; the pairs repeat to fill them.
TEST(blit_a8_kernel, every_level_equals_the_8_bit_formula_for_every_field_pair_and_alpha)
{
    std::vector<pixel16> pair_src, pair_dst;
    every_field_pair(pair_src, pair_dst);
    for (simd_level level : levels_here()) {
        for (unsigned round = 0; round < 512; ++round) {
            const std::size_t w = 1 + round * 7 % 80, h = (4096 + w - 1) / w;
            std::vector<pixel16> src(w * h), fast(w * h);
            bytes alpha(w * h);
            for (std::size_t k = 0; k < w * h; ++k) {
                src[k] = pair_src[k % 4096];
                fast[k] = pair_dst[k % 4096];
                alpha[k] = static_cast<std::uint8_t>(round < 256 ? k + round : k / 40 * 37 + round);
            }
            std::vector<pixel16> slow = fast;
            const auto sw = static_cast<std::uint16_t>(w), sh = static_cast<std::uint16_t>(h);
            sprite_t from{sw, sh, 16, src.data()}, expected{sw, sh, 16, slow.data()};
            blit_a8_rows(level, fast.data(), w, src.data(), w, alpha.data(), w, w, h);
            plain::sprite_blit_a8_16(&expected, &from, alpha.data(), 0, 0);
            ASSERT_EQ(fast, slow) << name_of(level) << " round " << round;
        }
    }
}

// The four public functions: between sprites (whole, by area, rows packed now
// and then) and within one sprite, overlapping. Beside the plain loop, the
// rules that need no formula: a = 255 copies, a = 0 leaves the pixel alone.
TEST(transparent_blits, match_the_plain_loops_on_random_areas_positions_and_overlaps)
{
    std::mt19937 rng(13);
    for (int round = 0; round < 3000; ++round) {
        const bool within = round % 3 == 0, packed = !within && round % 4 == 1;
        const bool keyed = round % 2 == 0;
        const int sw = random_in(rng, 1, 80), sh = random_in(rng, 1, 10);
        const int dw = within || packed ? sw : random_in(rng, 1, 80);
        const int dh = within ? sh : random_in(rng, 1, 10);
        const pixel16 key = random_pixel(rng);
        fenced_sprite other(static_cast<std::uint16_t>(sw), static_cast<std::uint16_t>(sh));
        fill_keyed(other.sprite.pixels, std::size_t(sw) * sh, key, rng);
        twin_sprites twins(dw, dh, rng);
        auto& [fast, slow] = twins;
        if (within) {
            fill_keyed(fast.sprite.pixels, std::size_t(sw) * sh, key, rng);
            slow.words = fast.words;
        }
        const bytes alpha = random_alpha(rng, std::size_t(sw) * sh);
        const sprite_t* src_fast = within ? &fast.sprite : &other.sprite;
        const sprite_t* src_slow = within ? &slow.sprite : &other.sprite;

        area_t area = random_area(rng, sw, sh);
        area.w = static_cast<std::uint16_t>(std::min(int{area.w}, dw));
        area.h = static_cast<std::uint16_t>(std::min(int{area.h}, dh));
        const bool whole = !within && (packed || round % 5 == 2) && sw <= dw && sh <= dh;
        if (whole)
            area = {0, 0, static_cast<std::uint16_t>(sw), static_cast<std::uint16_t>(sh)};
        const auto x = static_cast<std::uint16_t>(random_in(rng, 0, dw - area.w));
        const auto y = static_cast<std::uint16_t>(random_in(rng, 0, dh - area.h));
        const std::vector<pixel16> before = fast.pixels();

        if (keyed && whole) {
            EXPECT_EQ(sprite_blit_key_16(&fast.sprite, src_fast, x, y, key), 0);
            plain::sprite_blit_key_16(&slow.sprite, src_slow, x, y, key);
        } else if (keyed) {
            EXPECT_EQ(sprite_area_blit_key_16(&fast.sprite, src_fast, &area, x, y, key), 0);
            plain::sprite_area_blit_key_16(&slow.sprite, src_slow, &area, x, y, key);
        } else if (whole) {
            EXPECT_EQ(sprite_blit_a8_16(&fast.sprite, src_fast, alpha.data(), x, y), 0);
            plain::sprite_blit_a8_16(&slow.sprite, src_slow, alpha.data(), x, y);
        } else {
            EXPECT_EQ(sprite_area_blit_a8_16(&fast.sprite, src_fast, alpha.data(), &area, x, y), 0);
            plain::sprite_area_blit_a8_16(&slow.sprite, src_slow, alpha.data(), &area, x, y);
        }
        const std::string what = "round " + std::to_string(round) + (keyed ? " key " : " a8 ") +
                                 std::to_string(sw) + "x" + std::to_string(sh) + " area " +
                                 std::to_string(area.x) + "," + std::to_string(area.y) + " " +
                                 std::to_string(area.w) + "x" + std::to_string(area.h) + " to " +
                                 std::to_string(x) + "," + std::to_string(y);
        ASSERT_EQ(fast.words, slow.words) << what;
        ASSERT_TRUE(fast.fences_intact()) << what;
        if (keyed || within)
            continue;
        for (int j = 0; j < area.h; ++j) {
            for (int i = 0; i < area.w; ++i) {
                const std::size_t k = std::size_t(area.y + j) * sw + area.x + i;
                const std::size_t d = std::size_t(y + j) * dw + x + i;
                if (alpha[k] == 255) {
                    ASSERT_EQ(fast.sprite.pixels[d], other.sprite.pixels[k]) << what;
                }
                if (alpha[k] == 0) {
                    ASSERT_EQ(fast.sprite.pixels[d], before[d]) << what;
                }
            }
        }
    }
}

// ---------------------------------------------------------------- conversion

TEST(convert_kernel, every_level_packs_exactly_n_pixels_reading_exactly_3n_bytes)
{
    std::mt19937 rng(8);
    for (simd_level level : levels_here()) {
        for (int n = 0; n <= 200; n += (n < 70 ? 1 : 13)) {
            // Exactly 3n bytes: a sanitizer build catches any read beyond them.
            bytes bgr(3 * static_cast<std::size_t>(n));
            for (auto& b : bgr)
                b = static_cast<std::uint8_t>(random_in(rng, 0, 255));
            fenced_sprite c(static_cast<std::uint16_t>(n + 3), 1, 0x0BAD);
            convert_bgr(level, c.sprite.pixels + 1, bgr.data(), static_cast<std::size_t>(n));
            ASSERT_EQ(c.at(0, 0), 0x0BAD);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(c.at(1 + i, 0), rgb24_to_16(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]))
                    << name_of(level) << " n=" << n << " i=" << i;
            ASSERT_EQ(c.at(n + 1, 0), 0x0BAD);
            ASSERT_TRUE(c.fences_intact());
        }
    }
}

// ---------------------------------------------------------------- decoding

struct decode_result {
    std::string message;
    sprite_t sprite;
    std::vector<pixel16> words;
};

// Room for a decoder's `count` pixels, pre-filled: one row, or rows of 4,096
// for pictures wider than a sprite can be.
fenced_sprite fenced_target(std::size_t count)
{
    const std::size_t row = std::clamp<std::size_t>(count, 1, count > 65535 ? 4096 : 65535);
    return {static_cast<std::uint16_t>(row), static_cast<std::uint16_t>((count + row - 1) / row), 0x5A5A};
}

// Both decoders write into fenced sprites pre-filled alike, so untouched pixels
// and stray writes compare too, also on refusal.
template <typename Decode>
decode_result run_decoder(const bytes& file, std::size_t count, Decode decode)
{
    tga_info_t info{};
    EXPECT_EQ(tga_info(file.data(), file.size(), &info), 0);
    fenced_sprite target = fenced_target(count);
    sprite_t sprite{1, 2, 3, target.sprite.pixels};
    testing::internal::CaptureStdout();
    decode(&info, &sprite);
    std::fflush(stdout);
    std::string message = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(target.fences_intact());
    EXPECT_EQ(sprite.pixels, target.sprite.pixels); // never replaced, also on refusal
    return {message, sprite, target.words};
}

// The packet expansion at one level, without the decoder's checks and messages:
// the pixels it writes and whether it ran out of data.
struct expansion {
    bool whole;
    std::vector<pixel16> words;
};

expansion expand_at(simd_level level, const bytes& file, std::size_t count)
{
    tga_info_t info{};
    tga_info(file.data(), file.size(), &info);
    fenced_sprite target = fenced_target(count);
    const picture_rows rows{target.sprite.pixels, info.w, info.h, info.hv != 0, info.rl != 0};
    bool whole = true;
    if (info.type == 2)
        expand_raw(level, info.data, rows);
    else
        whole = expand_rle(level, info.data, info.data_size, rows);
    EXPECT_TRUE(target.fences_intact());
    return {whole, target.words};
}

// The public decoder against the plain one, then the expansion at every level
// (when the header passes the checks) against the plain decoder's pixels.
void expect_same_decoding(const bytes& file, std::size_t count, const std::string& what)
{
    const decode_result fast = run_decoder(file, count, tga24_to_sprite16);
    const decode_result slow = run_decoder(file, count, plain::tga24_to_sprite16);
    EXPECT_EQ(fast.message, slow.message) << what;
    EXPECT_EQ(fast.sprite.w, slow.sprite.w) << what;
    EXPECT_EQ(fast.sprite.h, slow.sprite.h) << what;
    EXPECT_EQ(fast.sprite.bpp, slow.sprite.bpp) << what;
    ASSERT_EQ(fast.words, slow.words) << what;
    tga_info_t info{};
    tga_info(file.data(), file.size(), &info);
    if (tga24_check(&info) != tga_ok)
        return;
    for (simd_level level : levels_here()) {
        const expansion e = expand_at(level, file, count);
        EXPECT_EQ(e.whole, slow.message.empty()) << what << " " << name_of(level);
        ASSERT_EQ(e.words, slow.words) << what << " " << name_of(level);
    }
}

// Stored pixels, as BGR bytes; neighbours repeat often enough to make runs.
bytes random_bgr(std::mt19937& rng, std::size_t count)
{
    bytes out;
    std::uint8_t b = 0, g = 0, r = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (random_in(rng, 0, 2) != 0) {
            b = static_cast<std::uint8_t>(random_in(rng, 0, 255));
            g = static_cast<std::uint8_t>(random_in(rng, 0, 255));
            r = static_cast<std::uint8_t>(random_in(rng, 0, 255));
        }
        out.insert(out.end(), {b, g, r});
    }
    return out;
}

// Packets of random kinds and lengths with no regard for rows; the last one may
// reach past the picture's end.
bytes random_packets(std::mt19937& rng, std::size_t count)
{
    bytes out;
    std::size_t n = 0;
    while (n < count) {
        const int length = random_in(rng, 0, 9) == 0 ? random_in(rng, 1, 128) : random_in(rng, 1, 24);
        const bool run = random_in(rng, 0, 1) != 0;
        out.push_back(static_cast<std::uint8_t>((run ? 0x80 : 0) | (length - 1)));
        const bytes pixels = random_bgr(rng, run ? 1 : static_cast<std::size_t>(length));
        out.insert(out.end(), pixels.begin(), pixels.end());
        n += static_cast<std::size_t>(length);
    }
    return out;
}

std::uint8_t descriptor_bits(bool top_down, bool right_to_left)
{
    return static_cast<std::uint8_t>((top_down ? 0x20 : 0) | (right_to_left ? 0x10 : 0));
}

TEST(tga24_to_sprite16, matches_the_plain_decoder_on_random_pictures_in_every_layout)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 1500; ++round) {
        const int w = random_in(rng, 0, 4) == 0 ? random_in(rng, 0, 3) : random_in(rng, 1, 300);
        const int h = random_in(rng, 0, 6) == 0 ? random_in(rng, 0, 1) : random_in(rng, 1, 9);
        const bool rle = random_in(rng, 0, 1) != 0;
        const bool top_down = random_in(rng, 0, 1) != 0;
        const bool right_to_left = random_in(rng, 0, 3) == 0;
        const std::size_t count = std::size_t(w) * h;
        bytes file = tga_header(rle ? 10 : 2, static_cast<std::uint16_t>(w),
                                static_cast<std::uint16_t>(h), 24,
                                descriptor_bits(top_down, right_to_left),
                                static_cast<std::uint8_t>(random_in(rng, 0, 2)));
        file.insert(file.end(), file[0], 0xA5);
        const bytes data = rle ? random_packets(rng, count) : random_bgr(rng, count);
        file.insert(file.end(), data.begin(), data.end());
        const std::string what = std::to_string(w) + "x" + std::to_string(h) +
                                 (rle ? " rle" : " raw") + (top_down ? " top-down" : " bottom-up") +
                                 (right_to_left ? " right-to-left" : "");
        expect_same_decoding(file, count, what);
        // Cut short anywhere: both refuse alike, with the same pixels written before.
        bytes cut = file;
        cut.resize(file.size() - static_cast<std::size_t>(random_in(rng, 0, static_cast<int>(data.size()))));
        expect_same_decoding(cut, count, what + " cut to " + std::to_string(cut.size()));
    }
}

TEST(tga24_to_sprite16, matches_the_plain_decoder_on_packets_made_by_the_writer)
{
    std::mt19937 rng(10);
    for (int round = 0; round < 200; ++round) {
        rgb_picture p = make_picture(static_cast<std::uint16_t>(random_in(rng, 1, 200)),
                                     static_cast<std::uint16_t>(random_in(rng, 1, 6)));
        const bytes bgr = random_bgr(rng, p.pixels.size());
        for (std::size_t i = 0; i < p.pixels.size(); ++i)
            p.pixels[i] = {bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]};
        tga_layout layout;
        layout.run_length = random_in(rng, 0, 3) != 0;
        layout.top_down = random_in(rng, 0, 1) != 0;
        layout.right_to_left = random_in(rng, 0, 3) == 0;
        expect_same_decoding(tga_encode(p, layout), p.pixels.size(), "writer round " + std::to_string(round));
    }
}

TEST(tga24_to_sprite16, refusals_match_the_plain_decoder)
{
    for (std::uint8_t type : {1, 2, 3, 9, 10, 11}) {
        for (std::uint8_t bpp : {8, 16, 24, 32}) {
            bytes file = tga_header(type, 3, 2, bpp, 0);
            file.resize(file.size() + 18, 0x81);
            expect_same_decoding(file, 6, "type " + std::to_string(type) + " bpp " + std::to_string(bpp));
        }
    }
}

// ---------------------------------------------------------------- every variant

// A random file of any variant the quiet decoder knows (now and then one it
// refuses): random depth, layout, alpha bits, colour map, indices now and then
// outside it, alpha bytes now and then all zero, a TGA 2.0 footer of any kind.
struct random_tga {
    bytes file;
    std::size_t count;
    std::string what;
};

struct pixel_maker {
    std::size_t bytes_per_pixel;
    bool indices;
    int first, length;  // indices: the map's range
    int bad_in_1000;    // indices: how often one falls outside it
    bool zero_alpha;    // 32 bits: every fourth byte 0
};

bytes random_stored(std::mt19937& rng, const pixel_maker& m, std::size_t count)
{
    bytes out;
    bytes last(m.bytes_per_pixel, 0);
    if (m.indices) // bad indices only as often as asked
        last[0] = static_cast<std::uint8_t>(m.first & 0xFF);
    for (std::size_t i = 0; i < count; ++i) {
        if (random_in(rng, 0, 2) != 0) {
            for (auto& b : last)
                b = static_cast<std::uint8_t>(random_in(rng, 0, 255));
            if (m.indices) {
                const bool bad = random_in(rng, 0, 999) < m.bad_in_1000 || m.length == 0;
                const int index = bad ? (random_in(rng, 0, 1) ? m.first - 1 : m.first + m.length)
                                      : m.first + random_in(rng, 0, m.length - 1);
                last[0] = static_cast<std::uint8_t>(index & 0xFF);
            }
            if (m.zero_alpha && m.bytes_per_pixel == 4)
                last[3] = 0;
        }
        out.insert(out.end(), last.begin(), last.end());
    }
    return out;
}

// Packets of 1 to 24 pixels and now and then up to 128; or, as a dithered
// picture gives them, mostly of 1 to 3 among longer ones.
bytes random_stored_packets(std::mt19937& rng, const pixel_maker& m, std::size_t count, bool dithered)
{
    bytes out;
    std::size_t n = 0;
    while (n < count) {
        const int length = random_in(rng, 0, 9) == 0 ? random_in(rng, 1, 128)
                           : dithered                ? random_in(rng, 1, 3)
                                                     : random_in(rng, 1, 24);
        const bool run = random_in(rng, 0, 1) != 0;
        out.push_back(static_cast<std::uint8_t>((run ? 0x80 : 0) | (length - 1)));
        const bytes pixels = random_stored(rng, m, run ? 1 : static_cast<std::size_t>(length));
        out.insert(out.end(), pixels.begin(), pixels.end());
        n += static_cast<std::size_t>(length);
    }
    return out;
}

random_tga make_random_tga(std::mt19937& rng)
{
    struct kind {
        std::uint8_t type, bpp;
    };
    const kind kinds[] = {{1, 8}, {2, 15}, {2, 16}, {2, 24}, {2, 32}, {3, 8}, {3, 16}, {2, 8}, {1, 16}};
    const kind k = kinds[random_in(rng, 0, 8)];
    const bool rle = random_in(rng, 0, 1) != 0;
    const int w = random_in(rng, 0, 9) == 0 ? random_in(rng, 0, 2) : random_in(rng, 1, 300);
    const int h = random_in(rng, 0, 9) == 0 ? random_in(rng, 0, 1) : random_in(rng, 1, 9);
    const bool mapped = k.type == 1;
    const int entry_bits_choice[] = {15, 16, 24, 32, 24, 8};
    const int map_bits = entry_bits_choice[random_in(rng, 0, mapped ? 5 : 3)];
    const bool has_map = mapped || random_in(rng, 0, 5) == 0;
    // Now and then a whole palette: 256 entries from index 0, every index in it.
    const bool whole_palette = mapped && random_in(rng, 0, 7) == 0;
    const int first = whole_palette            ? 0
                      : random_in(rng, 0, 3) == 0 ? random_in(rng, 0, 300)
                                                  : random_in(rng, 0, 10);
    const int length = whole_palette ? 256
                       : has_map     ? random_in(rng, 0, 9) == 0 ? random_in(rng, 0, 600) : random_in(rng, 1, 60)
                                     : 0;
    const int alpha_bits_choice[] = {0, 0, 1, 8, 4};
    const auto alpha_bits = static_cast<std::uint8_t>(alpha_bits_choice[random_in(rng, 0, 4)]);
    const bool top_down = random_in(rng, 0, 1) != 0;
    const bool right_to_left = random_in(rng, 0, 3) == 0;
    const std::uint8_t descriptor = static_cast<std::uint8_t>(descriptor_bits(top_down, right_to_left) | alpha_bits);
    bytes file = tga_header(static_cast<std::uint8_t>(k.type + (rle ? 8 : 0)), static_cast<std::uint16_t>(w),
                            static_cast<std::uint16_t>(h), k.bpp, descriptor,
                            static_cast<std::uint8_t>(random_in(rng, 0, 2)), has_map ? 1 : 0,
                            static_cast<std::uint16_t>(length), static_cast<std::uint8_t>(map_bits));
    file[3] = static_cast<std::uint8_t>(first & 0xFF);
    file[4] = static_cast<std::uint8_t>(first >> 8);
    file.insert(file.end(), file[0], 0xA5);
    const bool zero_alpha = random_in(rng, 0, 2) == 0;
    const pixel_maker entry{(map_bits + 7u) / 8, false, 0, 0, 0, zero_alpha};
    const bytes map = random_stored(rng, entry, static_cast<std::size_t>(length));
    file.insert(file.end(), map.begin(), map.end());
    const int bad_in_1000[] = {0, 3, 20};
    const pixel_maker m{(k.bpp + 7u) / 8, mapped, first, length, bad_in_1000[random_in(rng, 0, 2)], zero_alpha};
    const std::size_t count = std::size_t(w) * h;
    const bool dithered = random_in(rng, 0, 1) != 0;
    const bytes data = rle ? random_stored_packets(rng, m, count, dithered) : random_stored(rng, m, count);
    file.insert(file.end(), data.begin(), data.end());
    const int tail = random_in(rng, 0, 3);
    if (tail == 1) {
        const bytes area = tga2_extension_and_footer(static_cast<std::uint32_t>(file.size()),
                                                     static_cast<std::uint8_t>(random_in(rng, 0, 5)));
        file.insert(file.end(), area.begin(), area.end());
    } else if (tail == 2) {
        const bytes area = tga2_extension_and_footer(static_cast<std::uint32_t>(random_in(rng, 0, 2000)),
                                                     static_cast<std::uint8_t>(random_in(rng, 0, 5)));
        file.insert(file.end(), area.end() - 26, area.end());
    }
    const std::string what = "type " + std::to_string(file[2]) + " bpp " + std::to_string(k.bpp) + " " +
                             std::to_string(w) + "x" + std::to_string(h) + " map " + std::to_string(first) +
                             "+" + std::to_string(length) + "x" + std::to_string(map_bits) + " descriptor " +
                             std::to_string(descriptor) + " tail " + std::to_string(tail) +
                             (rle && dithered ? " short packets" : "");
    return {file, count, what};
}

struct quiet_result {
    tga_check_t status;
    sprite_t sprite;
    std::vector<pixel16> words;
    bytes alpha;
};

// Into a fenced fenced_sprite and a fenced opacity plane (or none), both pre-filled.
template <typename Decode>
quiet_result run_quiet(const bytes& file, std::size_t count, bool with_alpha, Decode decode)
{
    tga_info_t info{};
    EXPECT_EQ(tga_info(file.data(), file.size(), &info), 0);
    fenced_sprite target = fenced_target(count);
    bytes alpha(count + 64, 0x77);
    sprite_t sprite{1, 2, 3, target.sprite.pixels};
    const tga_check_t status = decode(&info, &sprite, with_alpha ? alpha.data() + 32 : nullptr);
    EXPECT_TRUE(target.fences_intact());
    EXPECT_EQ(sprite.pixels, target.sprite.pixels);
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_TRUE(alpha[i] == 0x77 && alpha[alpha.size() - 1 - i] == 0x77) << "opacity fence " << i;
    return {status, sprite, target.words, alpha};
}

void expect_same_quiet_decoding(const bytes& file, std::size_t count, const std::string& what)
{
    tga_info_t info{};
    tga_info(file.data(), file.size(), &info);
    const tga_check_t check = tga_check(&info);
    EXPECT_EQ(check, plain::tga_check(&info)) << what;
    EXPECT_TRUE(info.bpp != 24 || check == tga24_check(&info)) << what << ": the checks disagree";
    for (bool with_alpha : {true, false}) {
        const quiet_result slow = run_quiet(file, count, with_alpha, plain::tga_to_sprite16);
        EXPECT_TRUE(slow.status != tga_ok || check == tga_ok) << what << ": the check refuses a good file";
        EXPECT_EQ(slow.status == tga_ok, slow.sprite.bpp == 16) << what;
        for (simd_level level : levels_here()) {
            const quiet_result fast =
                run_quiet(file, count, with_alpha, [level](const tga_info_t* i, sprite_t* s, std::uint8_t* a) {
                    return tga_to_sprite16_at(level, i, s, a);
                });
            const std::string where = what + " " + name_of(level) + (with_alpha ? " with opacities" : "");
            EXPECT_EQ(fast.status, slow.status) << where;
            EXPECT_EQ(fast.sprite.w, slow.sprite.w) << where;
            EXPECT_EQ(fast.sprite.h, slow.sprite.h) << where;
            EXPECT_EQ(fast.sprite.bpp, slow.sprite.bpp) << where;
            ASSERT_EQ(fast.words, slow.words) << where;
            ASSERT_EQ(fast.alpha, slow.alpha) << where;
        }
    }
}

TEST(tga_to_sprite16, every_level_matches_the_plain_decoder_on_random_files_of_every_variant_cut_anywhere)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 1500; ++round) {
        const random_tga r = make_random_tga(rng);
        expect_same_quiet_decoding(r.file, r.count, r.what);
        bytes cut = r.file;
        cut.resize(static_cast<std::size_t>(random_in(rng, 18, static_cast<int>(r.file.size()))));
        expect_same_quiet_decoding(cut, r.count, r.what + " cut to " + std::to_string(cut.size()));
    }
}

// Rows of a small map with one bad index at each place of either row in turn (or
// none), in the map's first quarter and a later one, of one opacity and of many:
// a level that checks a whole row, or the whole picture, before it looks any
// index up still stops exactly there.
TEST(tga_to_sprite16, a_bad_index_anywhere_in_a_row_stops_every_level_where_the_plain_decoder_does)
{
    std::mt19937 rng(15);
    for (const int first : {0, 70}) {
        for (const std::uint8_t map_bits : {24, 32}) {
            for (const int w : {9, 16, 31, 64, 79, 130}) {
                const int length = 50;
                bytes file = tga_header(1, static_cast<std::uint16_t>(w), 2, 8, map_bits == 32 ? 8 : 0,
                                        0, 1, length, map_bits);
                file[3] = static_cast<std::uint8_t>(first);
                for (int i = 0; i < length * map_bits / 8; ++i)
                    file.push_back(static_cast<std::uint8_t>(random_in(rng, 0, 255)));
                for (int i = 0; i < 2 * w; ++i)
                    file.push_back(static_cast<std::uint8_t>(first + random_in(rng, 0, length - 1)));
                for (int bad = -1; bad < 2 * w; ++bad) {
                    bytes broken = file;
                    if (bad >= 0) // the bottom row is stored first
                        broken[broken.size() - 2 * w + bad] =
                            static_cast<std::uint8_t>(bad % 2 ? first + length : first - 1);
                    expect_same_quiet_decoding(broken, 2 * w,
                                               "map " + std::to_string(first) + " x" + std::to_string(map_bits) +
                                                   " width " + std::to_string(w) + " bad at " + std::to_string(bad));
                }
            }
        }
    }
}

// A whole palette with every one of its 256 entries used, as paint programs and
// indexed photographs give it: stretches of one index (runs when run-length)
// in a random order, rows that end inside a block; 24-bit entries share one
// opacity, 32-bit ones do not.
TEST(tga_to_sprite16, a_whole_palette_with_every_entry_used_decodes_alike_at_every_level)
{
    std::mt19937 rng(16);
    for (const std::uint8_t map_bits : {24, 32}) {
        for (const bool run_length : {false, true}) {
            for (const int w : {37, 256, 300}) {
                std::vector<int> order(256);
                for (int i = 0; i < 256; ++i)
                    order[static_cast<std::size_t>(i)] = i;
                std::shuffle(order.begin(), order.end(), rng);
                bytes indices;
                for (const int index : order)
                    indices.insert(indices.end(), static_cast<std::size_t>(random_in(rng, 1, 6)),
                                   static_cast<std::uint8_t>(index));
                const int h = static_cast<int>(indices.size() + static_cast<std::size_t>(w) - 1) / w;
                while (indices.size() < static_cast<std::size_t>(w * h))
                    indices.push_back(static_cast<std::uint8_t>(random_in(rng, 0, 255)));
                bytes file = tga_header(run_length ? 9 : 1, static_cast<std::uint16_t>(w),
                                        static_cast<std::uint16_t>(h), 8, map_bits == 32 ? 8 : 0, 0, 1, 256,
                                        map_bits);
                for (int i = 0; i < 256 * map_bits / 8; ++i)
                    file.push_back(static_cast<std::uint8_t>(random_in(rng, 0, 255)));
                const bytes data = run_length ? rle_packets(indices, 1) : indices;
                file.insert(file.end(), data.begin(), data.end());
                expect_same_quiet_decoding(file, indices.size(),
                                           "256 x" + std::to_string(map_bits) + (run_length ? " rle" : " raw") +
                                               " width " + std::to_string(w));
            }
        }
    }
}

// A sprite in a paint program's palette: indices among the map's first
// `used` entries only, but for one larger index (the largest of the picture)
// at its first byte, the last of a 16-byte block or its last, or a bad one
// below the map's first entry there; raw in a map that ends at 72, and in
// runs of 1 to 6 (where the larger index comes after the first packets) in
// a whole palette. Levels that look such a
// picture up as a smaller map still stop where the plain decoder does and
// find the largest index in its place.
TEST(tga_to_sprite16, a_whole_palette_of_which_few_entries_are_used_decodes_alike_at_every_level)
{
    std::mt19937 rng(19);
    const int w = 77, h = 9;
    for (const int first : {0, 3}) {
        for (const int used : {8, 20, 32, 33, 64, 65}) {
            for (const int at : {0, 79, w * h - 1}) {
                for (const bool bad : {false, true}) {
                    if (bad && first == 0)
                        continue;
                    bytes indices;
                    while (indices.size() < static_cast<std::size_t>(w * h))
                        indices.insert(indices.end(), static_cast<std::size_t>(random_in(rng, 1, 6)),
                                       static_cast<std::uint8_t>(random_in(rng, first, used - 2)));
                    indices.resize(static_cast<std::size_t>(w * h));
                    indices[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(bad ? first - 1 : used - 1);
                    for (const bool run_length : {false, true}) {
                        const int entries = run_length ? 256 - first : 72 - first;
                        bytes file = tga_header(run_length ? 9 : 1, w, h, 8, 0, 0, 1,
                                                static_cast<std::uint16_t>(entries), 24);
                        file[3] = static_cast<std::uint8_t>(first);
                        for (int i = 0; i < entries * 3; ++i)
                            file.push_back(static_cast<std::uint8_t>(random_in(rng, 0, 255)));
                        const bytes data = run_length ? rle_packets(indices, 1) : indices;
                        file.insert(file.end(), data.begin(), data.end());
                        expect_same_quiet_decoding(file, indices.size(),
                                                   "first " + std::to_string(first) + " used " +
                                                       std::to_string(used) + (bad ? " bad" : " largest") +
                                                       " at " + std::to_string(at) + (run_length ? " rle" : " raw"));
                    }
                }
            }
        }
    }
}

// Raw pictures whose planes outgrow the caches stream their stores at the x86
// levels (32-bit pixels, and whole palettes of one opacity, whether a
// picture's indices are all under 64 or not): rows of an odd width, so blocks
// fall on and off every boundary; a map of 32-bit entries has many opacities
// and keeps the ordinary stores, beside them.
TEST(tga_to_sprite16, raw_pictures_past_the_caches_decode_alike_at_every_level)
{
    if (levels_here().size() < 3)
        GTEST_SKIP() << "only the x86 levels stream their stores";
    std::mt19937 rng(18);
    const std::uint16_t w = 1031, h = 1560; // 3.2 MB of pixels, 4.8 MB with opacities
    const struct {
        std::uint8_t map_bits;
        unsigned largest_index;
    } cases[] = {{0, 255}, {24, 255}, {32, 255}, {24, 63}};
    for (const auto& [map_bits, largest_index] : cases) {
        const bool mapped = map_bits != 0;
        bytes file = tga_header(mapped ? 1 : 2, w, h, mapped ? 8 : 32, mapped ? 0 : 8, 0, mapped ? 1 : 0,
                                mapped ? 256 : 0, map_bits);
        const std::size_t map_bytes = std::size_t{256} * map_bits / 8;
        for (std::size_t i = 0; i < map_bytes; ++i)
            file.push_back(static_cast<std::uint8_t>(rng()));
        for (std::size_t i = 0; i < std::size_t{w} * h * (mapped ? 1 : 4); ++i)
            file.push_back(static_cast<std::uint8_t>(rng() % (largest_index + 1)));
        expect_same_quiet_decoding(file, std::size_t{w} * h,
                                   "past the caches, map bits " + std::to_string(map_bits) + ", indices to " +
                                       std::to_string(largest_index));
    }
}

// Pixel art's packets (runs of 1 to 40 pixels, raw packets of 1 to 20, rows of
// 37 that packets cross) with one bad index in each packet in turn (or none),
// with the file's bytes ending at the last packet or well past it (where every
// packet is whole with a largest one behind it): a level with a walk of its
// own for such packets stops exactly where the plain decoder does.
TEST(tga_to_sprite16, a_bad_index_in_any_run_length_packet_stops_every_level_where_the_plain_decoder_does)
{
    std::mt19937 rng(16);
    const int w = 37, h = 6, length = 50;
    for (const int first : {0, 70}) {
        for (const std::uint8_t map_bits : {24, 32}) {
            bytes file = tga_header(9, w, h, 8, map_bits == 32 ? 8 : 0, 0, 1, length, map_bits);
            file[3] = static_cast<std::uint8_t>(first);
            for (int i = 0; i < length * map_bits / 8; ++i)
                file.push_back(static_cast<std::uint8_t>(random_in(rng, 0, 255)));
            std::vector<std::size_t> index_at; // of each packet, an index in it
            for (int n = 0; n < w * h;) {
                const bool run = index_at.size() % 2 == 0;
                const int k = std::min(w * h - n, run ? random_in(rng, 1, 40) : random_in(rng, 1, 20));
                file.push_back(static_cast<std::uint8_t>((run ? 0x80 : 0) | (k - 1)));
                index_at.push_back(file.size() + static_cast<std::size_t>(run ? 0 : random_in(rng, 0, k - 1)));
                for (int i = 0; i < (run ? 1 : k); ++i)
                    file.push_back(static_cast<std::uint8_t>(first + random_in(rng, 0, length - 1)));
                n += k;
            }
            for (const std::size_t padding : {0, 200}) {
                bytes padded = file;
                padded.insert(padded.end(), padding, 0xEE);
                for (int bad = -1; bad < static_cast<int>(index_at.size()); ++bad) {
                    bytes broken = padded;
                    if (bad >= 0)
                        broken[index_at[static_cast<std::size_t>(bad)]] =
                            static_cast<std::uint8_t>(bad % 3 ? first + length : first - 1);
                    const quiet_result plain_result =
                        run_quiet(broken, std::size_t{w} * h, true, plain::tga_to_sprite16);
                    ASSERT_EQ(plain_result.status, bad < 0 ? tga_ok : tga_corrupt) << bad;
                    expect_same_quiet_decoding(broken, std::size_t{w} * h,
                                               "map " + std::to_string(first) + " x" + std::to_string(map_bits) +
                                                   " padding " + std::to_string(padding) + " bad packet " +
                                                   std::to_string(bad));
                }
            }
        }
    }
}

} // namespace
