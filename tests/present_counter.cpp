// Preloaded into the viewer by the end-to-end and allocation tests to see
// whether it ever presents a frame. SDL 1.2 puts a software surface on screen only through
// SDL_UpdateRect, SDL_UpdateRects or SDL_Flip, so each call is noted in the file
// named by VELMORA_PRESENTS ("frame"), then passed on to the real library.
// The "loaded" line proves the counter was in the process: a run that notes no
// frame at all has then really presented none, whatever the timing.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

void note(const char* line)
{
    const char* path = std::getenv("VELMORA_PRESENTS");
    if (path == nullptr)
        return;
    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr)
        return;
    std::fputs(line, file);
    std::fclose(file);
}

// The next definition of `name` after this one: the SDL library's own.
template <typename function>
function* real(const char* name)
{
    return reinterpret_cast<function*>(dlsym(RTLD_NEXT, name));
}

// Loaded now: helpers the viewer starts (a sanitizer's symbolizer) need no counter.
[[gnu::constructor]] void counter_loaded()
{
    unsetenv("LD_PRELOAD");
    note("loaded\n");
}

} // namespace

extern "C" {

void SDL_UpdateRect(SDL_Surface* screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    note("frame\n");
    using update_rect = void(SDL_Surface*, Sint32, Sint32, Uint32, Uint32);
    static auto* const next = real<update_rect>("SDL_UpdateRect");
    next(screen, x, y, w, h);
}

void SDL_UpdateRects(SDL_Surface* screen, int count, SDL_Rect* rects)
{
    note("frame\n");
    static auto* const next = real<void(SDL_Surface*, int, SDL_Rect*)>("SDL_UpdateRects");
    next(screen, count, rects);
}

int SDL_Flip(SDL_Surface* screen)
{
    note("frame\n");
    static auto* const next = real<int(SDL_Surface*)>("SDL_Flip");
    return next(screen);
}

} // extern "C"
