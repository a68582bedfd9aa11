// Preloaded into the viewer (LD_PRELOAD) by viewer_costs.sh. When SDL_UpdateRect
// first returns, that is when the first frame has been presented, it writes the
// wall-clock time in nanoseconds to the file named by VELMORA_FIRST_FRAME_FILE,
// then stays out of the way. A measuring aid, not part of the viewer.
#include <SDL.h>

#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool presented = false;

void note_first_frame()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const char* path = std::getenv("VELMORA_FIRST_FRAME_FILE");
    if (path == nullptr)
        return;
    if (std::FILE* f = std::fopen(path, "w")) {
        std::fprintf(f, "%lld%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
        std::fclose(f);
    }
}

} // namespace

extern "C" void SDL_UpdateRect(SDL_Surface* screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    // Interposing means calling SDL's own, found behind this one by name.
    using update_rect = void (*)(SDL_Surface*, Sint32, Sint32, Uint32, Uint32);
    const auto sdl_update_rect = reinterpret_cast<update_rect>(dlsym(RTLD_NEXT, "SDL_UpdateRect"));
    sdl_update_rect(screen, x, y, w, h);
    if (!presented) {
        presented = true;
        note_first_frame();
    }
}
