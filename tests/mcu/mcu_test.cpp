// The library on a Cortex-M, without an operating system, heap or GoogleTest:
// decodes the embedded files of mcu_expected.h and makes the drawing calls of
// mcu_cases.h, holding every answer to what the native build gave, every
// buffer's guard words intact, and every public function's stack to 2 KiB
// (measured by painting the stack below the caller before the call). Prints
// "N passed, M failed" through semihosting; the exit status (SYS_EXIT_EXTENDED,
// which qemu passes on as its own) is 0 only when nothing failed.
#include <cstdio>
#include <cstring>

#include "mcu_expected.h"

namespace {

int passed = 0, failed = 0;

void expect(bool ok, const char* what, const char* name)
{
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    std::printf("FAILED %s: %s\n", name, what);
}

// ---- guard words: no sanitizer here, so every buffer sits between fences

constexpr std::size_t fence = 16;
constexpr pixel16 guard16 = 0xDEAD;
constexpr std::uint8_t guard8 = 0xA5;

// One pixel past the fence, so that pixel buffers start 2 bytes off a word
// and byte buffers at an odd address: nothing may assume more alignment.
constexpr std::size_t first = fence + 1;

template <typename T, std::size_t N>
void guard_all(T (&buffer)[N], T guard)
{
    for (T& v : buffer)
        v = guard;
}

// Everything outside [first, first + count) still holds the guard.
template <typename T, std::size_t N>
bool untouched_outside(const T (&buffer)[N], std::size_t count, T guard)
{
    for (std::size_t i = 0; i < N; ++i) {
        if ((i < first || i >= first + count) && buffer[i] != guard)
            return false;
    }
    return true;
}

alignas(4) pixel16 pixels[first + mcu::most_pixels + fence];
alignas(4) std::uint8_t alpha[first + mcu::most_pixels + fence];
alignas(4) pixel16 target[first + mcu::target_pixels + fence];
alignas(4) std::uint8_t out[first + 2 * mcu::target_pixels + fence];
pixel16 source[mcu::source_pixels];
std::uint8_t source_alpha[mcu::source_pixels];

// ---- stack: painted below the caller, looked at after the call

constexpr std::size_t stack_budget = 2048;
constexpr std::size_t painted_bytes = 3072; // beyond the budget, so an overrun shows
constexpr std::size_t painter_room = 64;    // below the caller, for the painter's own frame
constexpr std::uint32_t paint = 0x5AC3A55Cu;

std::uintptr_t stack_pointer()
{
    std::uintptr_t sp;
    __asm__ volatile("mov %0, sp" : "=r"(sp));
    return sp;
}

volatile std::uint32_t* painted_area(std::uintptr_t top)
{
    return reinterpret_cast<volatile std::uint32_t*>(top - painter_room - painted_bytes);
}

__attribute__((noinline)) void paint_stack(std::uintptr_t top)
{
    volatile std::uint32_t* words = painted_area(top);
    for (std::size_t i = 0; i < painted_bytes / 4; ++i)
        words[i] = paint;
}

// Bytes between `top` and the deepest word written since paint_stack(top).
__attribute__((noinline)) std::size_t stack_used(std::uintptr_t top)
{
    const volatile std::uint32_t* words = painted_area(top);
    std::size_t i = 0;
    while (i < painted_bytes / 4 && words[i] == paint)
        ++i;
    return painter_room + painted_bytes - 4 * i;
}

struct stack_use {
    const char* name;
    std::size_t most;
};

stack_use stack_uses[] = {
    {"tga_info", 0},          {"tga24_check", 0},          {"tga_check", 0},
    {"tga_to_sprite16", 0},   {"area_fill_16", 0},         {"sprite_blit_16", 0},
    {"sprite_area_blit_16", 0}, {"sprite_blit_alpha_16", 0}, {"sprite_blit_key_16", 0},
    {"sprite_area_blit_key_16", 0}, {"sprite_blit_a8_16", 0}, {"sprite_area_blit_a8_16", 0},
    {"sprite_area_copy_be_16", 0},
};

void note_stack(const char* name, std::size_t used)
{
    for (stack_use& s : stack_uses) {
        if (std::strcmp(s.name, name) == 0 && used > s.most)
            s.most = used;
    }
}

// Makes the call with the stack painted below, and notes the depth it reached.
// The stack pointer does not move between the paint and the call: this frame
// is set up once, on entry.
template <typename Call>
auto measured(const char* name, Call call)
{
    const std::uintptr_t top = stack_pointer();
    paint_stack(top);
    const auto result = call();
    note_stack(name, stack_used(top));
    return result;
}

// ---- the files

void run_file(const mcu::file_case& f)
{
    tga_info_t info;
    const int read = measured("tga_info", [&] { return tga_info(f.bytes, f.size, &info); });
    expect(read == f.info, "tga_info", f.name);
    expect(measured("tga24_check", [&] { return tga24_check(&info); }) == f.check24, "tga24_check", f.name);
    const tga_check_t check = measured("tga_check", [&] { return tga_check(&info); });
    expect(check == f.check, "tga_check", f.name);
    const std::size_t count = std::size_t{info.w} * info.h;
    if (read != 0)
        return;
    if (count > mcu::most_pixels) {
        expect(check != tga_ok, "a picture too large for the buffers passes tga_check", f.name);
        return;
    }
    guard_all(pixels, guard16);
    guard_all(alpha, guard8);
    sprite_t sprite{1, 1, 1, pixels + first};
    const tga_check_t status = measured("tga_to_sprite16", [&] { return tga_to_sprite16(&info, &sprite, alpha + first); });
    expect(status == f.status, "tga_to_sprite16's answer", f.name);
    expect(mcu::decode_digest(status, sprite, alpha + first) == f.decoded, "decoded picture", f.name);
    expect(untouched_outside(pixels, count, guard16) && untouched_outside(alpha, count, guard8),
           "guard words", f.name);
}

// ---- the drawing calls

const char* function_of(mcu::op what)
{
    switch (what) {
    case mcu::op::fill: return "area_fill_16";
    case mcu::op::blit: return "sprite_blit_16";
    case mcu::op::area_blit:
    case mcu::op::blit_self: return "sprite_area_blit_16";
    case mcu::op::blend: return "sprite_blit_alpha_16";
    case mcu::op::key: return "sprite_blit_key_16";
    case mcu::op::area_key: return "sprite_area_blit_key_16";
    case mcu::op::a8: return "sprite_blit_a8_16";
    case mcu::op::area_a8: return "sprite_area_blit_a8_16";
    case mcu::op::copy_be: return "sprite_area_copy_be_16";
    }
    return "?";
}

void run_drawing()
{
    guard_all(target, guard16);
    guard_all(out, guard8);
    mcu::make_target(target + first);
    mcu::make_source(source, source_alpha);
    sprite_t t{mcu::target_w, mcu::target_h, 16, target + first};
    const sprite_t s{mcu::source_w, mcu::source_h, 16, source};
    for (std::size_t k = 0; k < mcu::drawing_steps; ++k) {
        const mcu::draw_call& c = mcu::drawing[k];
        const char* name = function_of(c.what);
        const int result = measured(name, [&] { return mcu::draw(c, &t, &s, source_alpha, out + first); });
        expect(mcu::draw_digest(c, result, t, out + first) == mcu::drawing_digests[k], "drawn pixels", name);
        const std::size_t written = c.what == mcu::op::copy_be ? 2 * std::size_t{c.area.w} * c.area.h : 0;
        expect(untouched_outside(target, mcu::target_pixels, guard16) &&
                   untouched_outside(out, written, guard8),
               "guard words", name);
        guard_all(out, guard8);
    }
}

} // namespace

int main()
{
    for (const mcu::file_case& f : mcu::files)
        run_file(f);
    run_drawing();
    for (const stack_use& s : stack_uses) {
        std::printf("stack %-24s %5u bytes\n", s.name, static_cast<unsigned>(s.most));
        expect(s.most > 0 && s.most <= stack_budget, "stack within 2 KiB", s.name);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
