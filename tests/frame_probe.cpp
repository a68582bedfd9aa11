// Preloaded into the viewer by alloc_test: stands in for SDL_UpdateRect and
// says on standard error each time a frame would be presented. It does not
// present anything; the tests run the viewer on SDL's dummy video driver,
// where there is nothing to see.
#include <SDL.h>

#include <cstdio>

extern "C" void SDL_UpdateRect(SDL_Surface*, Sint32, Sint32, Uint32, Uint32)
{
    std::fputs("frame presented\n", stderr);
    std::fflush(stderr);
}
