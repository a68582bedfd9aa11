// The canvas against its plain model (bench/plain_canvas.cpp) at every kernel
// level: random canvases, clips, sprites, areas reaching past them, alpha
// planes, flips, keys, opacities, positions (far off, negative, int32 extremes)
// and maps, every buffer fenced. Then the properties users find broken
// elsewhere, by name, and the rotozoom map's exact cases and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "canvas_level.h"
#include "fenced.h"
#include "levels_here.h"
#include "plain.h"

namespace {

using bytes = std::vector<std::uint8_t>;
constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();

int rand_in(std::mt19937& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// Mostly near the canvas, sometimes anywhere at all.
std::int32_t coordinate(std::mt19937& rng, int near)
{
    switch (rand_in(rng, 0, 15)) {
    case 0: return rand_in(rng, 0, 1) ? lowest + rand_in(rng, 0, 3) : highest - rand_in(rng, 0, 3);
    case 1: return static_cast<std::int32_t>(rng());
    default: return rand_in(rng, -near / 2, near);
    }
}

std::int32_t length(std::mt19937& rng, int near)
{
    switch (rand_in(rng, 0, 15)) {
    case 0: return rand_in(rng, 0, 1) ? highest - rand_in(rng, 0, 3) : -rand_in(rng, 0, 5);
    case 1: return static_cast<std::int32_t>(rng());
    default: return rand_in(rng, 0, near);
    }
}

// Mostly small; sometimes large enough that a turned sprite's inside, where
// all four smooth taps lie, spans whole rows of the canvas.
std::uint16_t side(std::mt19937& rng)
{
    return static_cast<std::uint16_t>(rand_in(rng, 0, 3) ? rand_in(rng, 1, 20) : rand_in(rng, 21, 48));
}

// One random drawing job: a canvas (twice, for library and model), a source
// with its alpha plane between fences, and what to draw with.
struct scene {
    fenced_sprite fast, slow, src;
    bytes alpha; // 64 fence bytes, w * h opacities, 64 fence bytes
    area_t area{};
    draw_t d{};
    canvas_t cf{}, cs{};

    scene(std::mt19937& rng)
        : fast(static_cast<std::uint16_t>(rand_in(rng, 1, 40)),
               static_cast<std::uint16_t>(rand_in(rng, 1, 30))),
          slow(fast.sprite.w, fast.sprite.h),
          src(static_cast<std::uint16_t>(rand_in(rng, 0, 9) ? side(rng) : 0), side(rng))
    {
        fill_pattern(fast, static_cast<unsigned>(rng()));
        slow.words = fast.words;
        const int n = src.sprite.w * src.sprite.h;
        alpha.assign(static_cast<std::size_t>(n) + 128, 0xA5);
        for (int i = 0; i < n; ++i) { // few colours, so keys hit; opacities 0, 255 or any
            const std::uint32_t bits = rng();
            src.sprite.pixels[i] = static_cast<pixel16>((bits & 3) * 0x4A69 + (bits >> 2 & 1));
            const std::uint32_t kind = bits >> 3 & 3;
            alpha[64 + i] = static_cast<std::uint8_t>(kind == 0 ? 0 : kind == 1 ? 255 : bits >> 8);
        }
        const int sw = src.sprite.w, sh = src.sprite.h, wild = rand_in(rng, 0, 3) == 0;
        const int ax = rand_in(rng, 0, wild ? sw + 2 : std::max(sw - 1, 0));
        const int ay = rand_in(rng, 0, wild ? sh + 2 : sh - 1);
        area = {static_cast<std::uint16_t>(ax), static_cast<std::uint16_t>(ay),
                static_cast<std::uint16_t>(rand_in(rng, wild ? 0 : 1, std::max(sw - ax, 0) + 2)),
                static_cast<std::uint16_t>(rand_in(rng, wild ? 0 : 1, sh - ay + 2))};
        d.src = &src.sprite;
        d.area = rand_in(rng, 0, 2) ? &area : nullptr;
        d.alpha = rand_in(rng, 0, 2) == 0 ? alpha.data() + 64 : nullptr;
        d.flags = static_cast<std::uint32_t>(rand_in(rng, 0, 31)) | (rand_in(rng, 0, 9) ? 0u : 0xF0u);
        d.key = n > 0 ? src.sprite.pixels[rand_in(rng, 0, n - 1)] : 0;
        const int o = rand_in(rng, 0, 5);
        d.opacity = static_cast<std::uint8_t>(o < 3 ? 255 : o == 3 ? 0 : rand_in(rng, 1, 254));
        cf = canvas_of(&fast.sprite);
        const rect_t clip{coordinate(rng, 20), coordinate(rng, 20), length(rng, 20), length(rng, 20)};
        if (rand_in(rng, 0, 2) == 0)
            canvas_set_clip(&cf, &clip);
        if (rand_in(rng, 0, 9) == 0) // a hand-written clip reaching past the sprite
            cf.clip = {static_cast<std::uint16_t>(rand_in(rng, 0, 50)), 0, 60000, 9};
        cs = cf;
        cs.sprite = &slow.sprite;
    }

    void expect_same(int got, int want, rect_t g, rect_t w, const std::vector<pixel16>& src_before,
                     const bytes& alpha_before) const
    {
        EXPECT_EQ(got, want);
        EXPECT_EQ(fast.pixels(), slow.pixels());
        EXPECT_TRUE(fast.fences_intact() && src.fences_intact());
        EXPECT_EQ(src.pixels(), src_before);
        EXPECT_EQ(alpha, alpha_before);
        EXPECT_TRUE(g.x == w.x && g.y == w.y && g.w == w.w && g.h == w.h)
            << "drawn " << g.x << "," << g.y << " " << g.w << "x" << g.h << ", model " << w.x
            << "," << w.y << " " << w.w << "x" << w.h;
    }
};

transform_t random_map(std::mt19937& rng)
{
    if (rand_in(rng, 0, 4) == 0) {
        auto any = [&] { return rand_in(rng, 0, 1) ? static_cast<std::int32_t>(rng()) : rand_in(rng, -200000, 200000); };
        return {any(), any(), any(), any(), any(), any()};
    }
    const double angle = rand_in(rng, 0, 3) ? rand_in(rng, -720, 720) : rand_in(rng, -8, 8) * 45.0;
    const double scale = rand_in(rng, 1, 8) / 4.0 * (rand_in(rng, 0, 4) ? 1 : -1);
    return transform_rotozoom(angle, scale, rand_in(rng, 0, 3) ? scale : scale * 1.5,
                              rand_in(rng, -4, 40) / 2.0, rand_in(rng, -4, 40) / 2.0,
                              rand_in(rng, -20, 60) / 2.0, rand_in(rng, -20, 60) / 2.0);
}

TEST(canvas, every_operation_at_every_level_matches_the_plain_model_on_random_scenes)
{
    std::mt19937 rng(1414);
    for (simd_level level : levels_here()) {
        for (int round = 0; round < 12000; ++round) {
            scene s(rng);
            const std::vector<pixel16> src_before = s.src.pixels();
            const bytes alpha_before = s.alpha;
            rect_t got{9, 9, 9, 9}, want{8, 8, 8, 8};
            int rg = 0, rw = 0;
            const rect_t r{coordinate(rng, 20), coordinate(rng, 20), length(rng, 20), length(rng, 20)};
            const transform_t m = random_map(rng);
            switch (round % 4) {
            case 0:
                rg = canvas_fill_at(level, &s.cf, &r, s.d.key, s.d.opacity, &got);
                rw = plain::canvas_fill(&s.cs, &r, s.d.key, s.d.opacity, &want);
                break;
            case 1:
                rg = canvas_draw_at(level, &s.cf, &s.d, r.x, r.y, &got);
                rw = plain::canvas_draw(&s.cs, &s.d, r.x, r.y, &want);
                break;
            case 2:
                rg = canvas_stretch_at(level, &s.cf, &s.d, &r, &got);
                rw = plain::canvas_stretch(&s.cs, &s.d, &r, &want);
                break;
            default:
                rg = canvas_transform_at(level, &s.cf, &s.d, &m, &got);
                rw = plain::canvas_transform(&s.cs, &s.d, &m, &want);
                break;
            }
            SCOPED_TRACE(testing::Message() << "level " << int(level) << " round " << round);
            s.expect_same(rg, rw, got, want, src_before, alpha_before);
            if (HasFailure())
                return;
        }
    }
}

// Stretches wider than the random scenes reach, smooth and nearest: rows of
// several blocks of columns, whole-number and odd enlargements, shrinks by up
// to 60 times (a block's source columns are bounded) and by little (neighbours
// that nearly fit one load), flips, areas past the source, planes, keys and
// opacities, at every level against the plain model.
TEST(canvas, wide_stretches_at_every_level_match_the_plain_model)
{
    std::mt19937 rng(2718);
    for (simd_level level : levels_here()) {
        for (int round = 0; round < 90; ++round) { // every third nearest
            const auto sw = static_cast<std::uint16_t>(rand_in(rng, 1, round % 3 ? 300 : 3000));
            const auto sh = static_cast<std::uint16_t>(rand_in(rng, 1, 9));
            fenced_sprite src(sw, sh), fast(static_cast<std::uint16_t>(rand_in(rng, 1, 700)), 9),
                slow(fast.sprite.w, 9);
            const bool few = rand_in(rng, 0, 1) != 0; // few colours, so keys hit
            for (std::size_t i = 0; i < std::size_t{sw} * sh; ++i)
                src.sprite.pixels[i] = static_cast<pixel16>(few ? rand_in(rng, 0, 2) * 0x7BEF : rng());
            fill_pattern(fast, static_cast<unsigned>(rng()));
            slow.words = fast.words;
            bytes alpha(std::size_t{sw} * sh + 128, 0xA5);
            for (std::size_t i = 0; i < std::size_t{sw} * sh; ++i)
                alpha[64 + i] = static_cast<std::uint8_t>(rand_in(rng, 0, 2) ? 255 : rng());
            const area_t area{static_cast<std::uint16_t>(rand_in(rng, 0, sw / 8)), 0,
                              static_cast<std::uint16_t>(sw - rand_in(rng, -3, sw / 8)), sh};
            const std::uint32_t filter = round % 3 != 1 ? std::uint32_t{draw_smooth} : 0;
            draw_t d{&src.sprite, rand_in(rng, 0, 1) ? &area : nullptr,
                     rand_in(rng, 0, 2) == 0 ? alpha.data() + 64 : nullptr,
                     filter | static_cast<std::uint32_t>(rand_in(rng, 0, 7)),
                     src.sprite.pixels[0],
                     static_cast<std::uint8_t>(rand_in(rng, 0, 2) ? 255 : rand_in(rng, 0, 255))};
            const int kind = rand_in(rng, 0, 4); // 2x, 3x, any width, about the area's
            const std::int32_t tw = kind < 2   ? (kind + 2) * sw
                                    : kind < 3 ? rand_in(rng, 1, 900)
                                               : std::max(1, area.w + rand_in(rng, -area.w / 8, 3));
            const rect_t to{rand_in(rng, -300, 100), rand_in(rng, -3, 3), tw, rand_in(rng, 1, 30)};
            canvas_t cf = canvas_of(&fast.sprite), cs = canvas_of(&slow.sprite);
            rect_t got{}, want{};
            ASSERT_EQ(canvas_stretch_at(level, &cf, &d, &to, &got), 0);
            ASSERT_EQ(plain::canvas_stretch(&cs, &d, &to, &want), 0);
            ASSERT_EQ(fast.pixels(), slow.pixels()) << "level " << int(level) << " round " << round;
            ASSERT_TRUE(fast.fences_intact() && src.fences_intact());
            ASSERT_TRUE(got.x == want.x && got.y == want.y && got.w == want.w && got.h == want.h);
        }
    }
}

// The smooth filter's arithmetic at every opacity of the plane and of the
// draw: a 256-wide sprite whose plane holds every value in each row, laid at
// its own size, whole pixels apart (one tap) or a fraction of a pixel off (four
// taps mixed, one of them keyed), at every level against the plain model.
TEST(canvas, smooth_maps_match_the_plain_model_at_every_plane_value_and_opacity)
{
    fenced_sprite sprite(256, 3);
    fill_pattern(sprite, 21);
    bytes plane(256 * 3);
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<std::uint8_t>(i * 7 + i / 256 * 33);
    for (int opacity = 0; opacity < 256; ++opacity) {
        const bool whole = opacity % 2 == 0;
        const transform_t m{65536, 0, whole ? -2 * 65536 : -2 * 65536 + 19661,
                            0,     65536, whole ? -65536 : -65536 + 39321};
        draw_t d{&sprite.sprite};
        d.alpha = plane.data();
        d.flags = draw_smooth | (whole ? 0u : std::uint32_t{draw_key});
        d.key = sprite.at(100, 1);
        d.opacity = static_cast<std::uint8_t>(opacity);
        fenced_sprite model(261, 5);
        fill_pattern(model, static_cast<unsigned>(opacity));
        canvas_t cm = canvas_of(&model.sprite);
        ASSERT_EQ(plain::canvas_transform(&cm, &d, &m, nullptr), 0);
        for (simd_level level : levels_here()) {
            fenced_sprite fast(261, 5);
            fill_pattern(fast, static_cast<unsigned>(opacity));
            canvas_t cf = canvas_of(&fast.sprite);
            ASSERT_EQ(canvas_transform_at(level, &cf, &d, &m, nullptr), 0);
            ASSERT_EQ(fast.pixels(), model.pixels()) << "level " << int(level) << " opacity " << opacity;
            ASSERT_TRUE(fast.fences_intact());
        }
    }
}

// Positions past 31 bits: the columns of a very wide sprite from 16,370 on,
// where U - 65536 passes 2^31 within a row (SIMD lanes hold 32 bits), as drawn
// and mirrored, against the plain model at every level.
TEST(canvas, smooth_maps_of_a_very_wide_sprite_match_the_plain_model)
{
    fenced_sprite sprite(20000, 3);
    fill_pattern(sprite, 4);
    bytes plane(20000 * 3);
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<std::uint8_t>(i * 13);
    const transform_t m{65536, 3000, 65536 * 16370 + 19661, -2000, 65536, -65536 + 39321};
    for (const std::uint32_t flip : {0u, std::uint32_t{draw_flip_x}}) {
        draw_t d{&sprite.sprite};
        d.alpha = plane.data();
        d.flags = draw_smooth | flip;
        fenced_sprite model(64, 6);
        fill_pattern(model, 8);
        canvas_t cm = canvas_of(&model.sprite);
        rect_t want{}, got{};
        ASSERT_EQ(plain::canvas_transform(&cm, &d, &m, &want), 0);
        ASSERT_GT(want.w, 40);
        for (simd_level level : levels_here()) {
            fenced_sprite fast(64, 6);
            fill_pattern(fast, 8);
            canvas_t cf = canvas_of(&fast.sprite);
            ASSERT_EQ(canvas_transform_at(level, &cf, &d, &m, &got), 0);
            EXPECT_EQ(fast.pixels(), model.pixels()) << "level " << int(level) << " flip " << flip;
            EXPECT_TRUE(got.x == want.x && got.y == want.y && got.w == want.w && got.h == want.h);
            EXPECT_TRUE(fast.fences_intact());
        }
    }
}

TEST(canvas, null_pointers_give_minus_one_draw_nothing_and_an_empty_drawn)
{
    fenced_sprite screen(8, 8, 7), sprite(4, 4, 1);
    canvas_t c = canvas_of(&screen.sprite);
    canvas_t none = canvas_of(nullptr);
    const draw_t d{&sprite.sprite};
    sprite_t hollow{4, 4, 16, nullptr};
    const draw_t bad{&hollow};
    const rect_t r{0, 0, 4, 4};
    rect_t drawn{1, 1, 1, 1};
    EXPECT_EQ(canvas_fill(&none, &r, 0, 255, &drawn), -1);
    EXPECT_EQ(canvas_fill(&c, nullptr, 0, 255, &drawn), -1);
    EXPECT_EQ(canvas_draw(nullptr, &d, 0, 0, &drawn), -1);
    EXPECT_EQ(canvas_draw(&c, &bad, 0, 0, &drawn), -1);
    EXPECT_EQ(canvas_stretch(&c, nullptr, &r, &drawn), -1);
    EXPECT_EQ(canvas_stretch(&c, &d, nullptr, &drawn), -1);
    EXPECT_EQ(canvas_transform(&c, &d, nullptr, &drawn), -1);
    EXPECT_EQ(drawn.w, 0);
    EXPECT_EQ(drawn.h, 0);
    canvas_set_clip(nullptr, &r);
    EXPECT_EQ(screen.pixels(), std::vector<pixel16>(64, 7));
}

// A w x h sprite of distinct pixels turned a quarter (clockwise) and a half turn
// about its centre, placed on whole pixels, nearest and smooth: every pixel lands
// exactly where the turn puts it, no row or column lost or doubled.
TEST(canvas, quarter_and_half_turns_about_the_centre_are_exact_pixel_rotations)
{
    for (const std::uint32_t mode : {0u, std::uint32_t{draw_smooth}}) {
        for (const int w : {6, 7}) {
            const int h = 5;
            fenced_sprite sprite(static_cast<std::uint16_t>(w), h);
            fill_pattern(sprite, 3);
            draw_t d{&sprite.sprite};
            d.flags = mode;
            for (const int quarters : {1, 2, -3}) {
                fenced_sprite screen(20, 20, 0);
                canvas_t c = canvas_of(&screen.sprite);
                const bool quarter = quarters != 2;
                const int ow = quarter ? h : w, oh = quarter ? w : h; // the turned size
                const int x0 = 4, y0 = 6;
                const transform_t m = transform_rotozoom(90.0 * quarters, 1, 1, w / 2.0, h / 2.0,
                                                         x0 + ow / 2.0, y0 + oh / 2.0);
                rect_t drawn{};
                ASSERT_EQ(canvas_transform(&c, &d, &m, &drawn), 0);
                EXPECT_TRUE(drawn.x == x0 && drawn.y == y0 && drawn.w == ow && drawn.h == oh);
                for (int y = 0; y < oh; ++y) {
                    for (int x = 0; x < ow; ++x) {
                        const int i = quarter ? y : w - 1 - x;
                        const int j = quarter ? h - 1 - x : h - 1 - y;
                        EXPECT_EQ(screen.at(x0 + x, y0 + y), sprite.at(i, j))
                            << "mode " << mode << " w " << w << " turn " << quarters;
                    }
                }
            }
        }
    }
}

// Nearest: every source pixel becomes a k x k block. Smooth: an opaque sprite of
// one colour fills `to` with exactly that colour, with no faded border.
// Nearest: every source pixel becomes a k x k block, also where the clip cuts a
// block. Smooth: an opaque sprite of one colour fills `to` with exactly that
// colour, with no faded border.
TEST(canvas, whole_number_stretches_repeat_every_pixel_and_smooth_ones_have_no_faded_border)
{
    fenced_sprite sprite(37, 4), flat(37, 4, 0x1234);
    fill_pattern(sprite, 9);
    for (simd_level level : levels_here()) {
        for (const int k : {2, 3}) {
            for (const int x0 : {0, -1, -2}) {
                fenced_sprite screen(120, 13, 0), smooth(120, 13, 0);
                canvas_t c = canvas_of(&screen.sprite), cs = canvas_of(&smooth.sprite);
                const draw_t d{&sprite.sprite};
                draw_t ds{&flat.sprite};
                ds.flags = draw_smooth;
                const rect_t to{x0, 0, 37 * k, 4 * k};
                ASSERT_EQ(canvas_stretch_at(level, &c, &d, &to, nullptr), 0);
                ASSERT_EQ(canvas_stretch_at(level, &cs, &ds, &to, nullptr), 0);
                for (int y = 0; y < 4 * k; ++y) {
                    for (int x = 0; x < 37 * k + x0; ++x) {
                        EXPECT_EQ(screen.at(x, y), sprite.at((x - x0) / k, y / k)) << k << " " << x0;
                        EXPECT_EQ(smooth.at(x, y), 0x1234) << k;
                    }
                }
                EXPECT_TRUE(screen.fences_intact());
            }
        }
    }
}

TEST(canvas, a_sprite_at_minus_five_shows_its_columns_five_and_up)
{
    fenced_sprite sprite(12, 3), screen(10, 5, 0);
    fill_pattern(sprite, 5);
    canvas_t c = canvas_of(&screen.sprite);
    const draw_t d{&sprite.sprite};
    rect_t drawn{};
    ASSERT_EQ(canvas_draw(&c, &d, -5, 1, &drawn), 0);
    EXPECT_TRUE(drawn.x == 0 && drawn.y == 1 && drawn.w == 7 && drawn.h == 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(screen.at(x, 1 + y), sprite.at(x + 5, y));
    }
    EXPECT_EQ(screen.at(7, 1), 0);
}

TEST(transform_rotozoom, quarter_turns_are_exact_and_bad_inputs_give_a_map_that_draws_nothing)
{
    const auto same = [](transform_t a, transform_t b) {
        return a.xx == b.xx && a.xy == b.xy && a.tx == b.tx && a.yx == b.yx && a.yy == b.yy &&
               a.ty == b.ty;
    };
    // u = (X - x) + pivot_x at 0°; at 90° u = (Y - y) + pivot_x, v = -(X - x) + pivot_y.
    EXPECT_TRUE(same(transform_rotozoom(0, 1, 1, 2.5, 1, 10, 20), {65536, 0, -491520, 0, 65536, -1245184}));
    EXPECT_TRUE(same(transform_rotozoom(90, 1, 1, 2.5, 1, 10, 20), {0, 65536, -1146880, -65536, 0, 720896}));
    EXPECT_TRUE(same(transform_rotozoom(450, 1, 1, 2.5, 1, 10, 20), transform_rotozoom(90, 1, 1, 2.5, 1, 10, 20)));
    EXPECT_TRUE(same(transform_rotozoom(-90, 1, 1, 0, 0, 0, 0), {0, -65536, 0, 65536, 0, 0}));
    EXPECT_TRUE(same(transform_rotozoom(180, 2, -0.5, 0.5, 0, 3, 0), {-32768, 0, 131072, 0, 131072, 0}));
    const transform_t nothing{0, 0, -65536, 0, 0, -65536};
    const double nan = std::nan(""), inf = HUGE_VAL;
    for (const transform_t m : {transform_rotozoom(nan, 1, 1, 0, 0, 0, 0), transform_rotozoom(inf, 1, 1, 0, 0, 0, 0),
                                transform_rotozoom(10, 0, 1, 0, 0, 0, 0), transform_rotozoom(10, 1, -inf, 0, 0, 0, 0),
                                transform_rotozoom(10, 1e-9, 1, 0, 0, 0, 0), transform_rotozoom(0, 1, 1, 0, 0, 1e6, 0),
                                transform_rotozoom(0, 1, 1, 0, 0, 0, -1e300)})
        EXPECT_TRUE(same(m, nothing));
}

} // namespace
