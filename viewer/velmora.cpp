#include "velmora.h"

#include <SDL.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>

#include <velmora/sprite.h>
#include <velmora/tga.h>

SDL_Surface* screen = nullptr;

const char* const fname[sample_count] = {
    "tga/sample_0.tga",
    "tga/sample_1.tga",
    "tga/sample_2.tga",
    "tga/sample_3.tga",
};

namespace {

struct position {
    std::uint16_t x, y;
};

constexpr position sample_position[sample_count] = {{0, 0}, {256, 0}, {0, 256}, {256, 256}};

void report_failed_allocation(std::uint64_t bytes)
{
    std::printf("error: [alloc. %" PRIu64 "] failed\n", bytes);
}

// On success the caller frees *buffer (null for an empty file).
int read_whole_file(const char* path, std::uint8_t** buffer, std::size_t* size)
{
    std::FILE* file = nullptr;
    struct stat st {};
    if (sc_open(&file, path, &st) != 0)
        return -1;
    const auto file_size = static_cast<std::uint64_t>(st.st_size);
    *buffer = nullptr;
    *size = 0;
    if (file_size > 0) {
        if (file_size <= SIZE_MAX)
            *buffer = static_cast<std::uint8_t*>(std::malloc(file_size));
        if (*buffer == nullptr) {
            report_failed_allocation(file_size);
            std::fclose(file);
            return -1;
        }
        // A file that shrank since stat() reads short: we decode what is there,
        // and the decoder refuses it if that is too little.
        *size = std::fread(*buffer, 1, file_size, file);
    }
    std::fclose(file);
    return 0;
}

void print_header(const char* path, const tga_info_t* info)
{
    std::printf("%s\n", path);
    std::printf("w: %d\n", info->w);
    std::printf("h: %d\n", info->h);
    std::printf("hv: %d\n", info->hv >> 5);
    std::printf("bpp: %d\n", info->bpp);
    std::printf("type: %d\n", info->type);
}

std::uint16_t smaller(std::uint16_t a, int b)
{
    return static_cast<std::uint16_t>(a < b ? a : b);
}

// Returns -1 only when the pixel memory cannot be had.
int decode_and_place(const tga_info_t* info, sprite_t* screen_sprite, position at)
{
    sprite_t picture{0, 0, 0, nullptr};
    // A refused file needs no pixel memory: the decoder only reports it.
    if (tga24_check(info) == tga_ok) {
        const std::uint64_t bytes = std::uint64_t{info->w} * info->h * sizeof(pixel16);
        if (bytes > 0) {
            if (bytes <= SIZE_MAX)
                picture.pixels = static_cast<pixel16*>(std::malloc(bytes));
            if (picture.pixels == nullptr) {
                report_failed_allocation(bytes);
                return -1;
            }
        }
    }
    tga24_to_sprite16(info, &picture);
    place_clipped(screen_sprite, &picture, at.x, at.y);
    std::free(picture.pixels);
    return 0;
}

int load_sample(const char* path, sprite_t* screen_sprite, position at)
{
    std::uint8_t* file = nullptr;
    std::size_t size = 0;
    if (read_whole_file(path, &file, &size) != 0)
        return -1;
    tga_info_t info{};
    int result = 0;
    if (tga_info(file, size, &info) != 0) {
        std::printf("%s\n", path);
        std::printf("tga_info: file too short for a TGA header [%zu bytes]\n", size);
    } else {
        print_header(path, &info);
        result = decode_and_place(&info, screen_sprite, at);
    }
    std::free(file);
    return result;
}

bool is_rgb565(const SDL_Surface* surface)
{
    const SDL_PixelFormat* format = surface->format;
    return format->BitsPerPixel == 16 && format->Rmask == 0xF800 && format->Gmask == 0x07E0 &&
           format->Bmask == 0x001F && surface->pitch % 2 == 0 &&
           surface->pitch >= screen_width * 2 && surface->h >= screen_height;
}

[[noreturn]] void fail_video(const char* why)
{
    std::fprintf(stderr, "Unable to set %dx%d video: %s\n", screen_width, screen_height, why);
    std::exit(1);
}

bool is_quit(const SDL_Event& event)
{
    // The release of Escape, not its press, ends the program.
    return (event.type == SDL_KEYUP && event.key.keysym.sym == SDLK_ESCAPE) ||
           event.type == SDL_QUIT;
}

} // namespace

int sc_open(std::FILE** file, const char* path, struct stat* st)
{
    if (stat(path, st) != 0) {
        if (errno == ENOENT)
            std::fprintf(stderr, "error: '%s' does not exist\r\n", path);
        else
            std::fprintf(stderr, "error: stat() fails for '%s'\r\n", path);
        return -1;
    }
    if ((st->st_mode & S_IFMT) != S_IFREG) {
        std::fprintf(stderr, "error: '%s' is a not a regular file (or a sym. link)\r\n", path);
        return -1;
    }
    *file = std::fopen(path, "rb");
    if (*file == nullptr) {
        std::fprintf(stderr, "error: '%s' open failed\r\n", path);
        return -1;
    }
    return 0;
}

// The drawing library does not clip, so the viewer does: whatever reaches past
// the screen sprite's right or bottom edge is left out.
void place_clipped(sprite_t* screen_sprite, const sprite_t* picture, std::uint16_t x,
                   std::uint16_t y)
{
    if (x >= screen_sprite->w || y >= screen_sprite->h)
        return;
    const area_t visible{0, 0, smaller(picture->w, screen_sprite->w - x),
                         smaller(picture->h, screen_sprite->h - y)};
    if (visible.w == picture->w && visible.h == picture->h)
        sprite_blit_16(screen_sprite, picture, x, y);
    else
        sprite_area_blit_16(screen_sprite, picture, &visible, x, y);
}

int load_samples(sprite_t* screen_sprite)
{
    for (int i = 0; i < sample_count; ++i) {
        if (load_sample(fname[i], screen_sprite, sample_position[i]) != 0)
            return -1;
    }
    return 0;
}

void render()
{
    // Unlock, update, lock: a surface that needs locking stays locked between frames.
    if (SDL_MUSTLOCK(screen))
        SDL_UnlockSurface(screen);
    SDL_UpdateRect(screen, 0, 0, screen_width, screen_height);
    if (SDL_MUSTLOCK(screen))
        SDL_LockSurface(screen);
}

int SDL_main(int, char*[])
{
    std::atexit(SDL_Quit);
    // No SDL_Init: setting the video mode brings up video and the event queue.
    screen = SDL_SetVideoMode(screen_width, screen_height, 16, 0);
    if (screen == nullptr)
        fail_video(SDL_GetError());
    if (!is_rgb565(screen))
        fail_video("the surface is not 16-bit RGB565");
    SDL_WM_SetCaption("velmora", nullptr);

    // Locked for drawing and left so: render() unlocks it around each update.
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0)
        fail_video(SDL_GetError());
    sprite_t screen_sprite{static_cast<std::uint16_t>(screen->pitch / 2),
                           static_cast<std::uint16_t>(screen->h), 16,
                           static_cast<pixel16*>(screen->pixels)};
    const area_t everything{0, 0, screen_sprite.w, screen_sprite.h};
    area_fill_16(&screen_sprite, rgb24_to_16(0, 0, 255), &everything);

    const int loaded = load_samples(&screen_sprite);
    // The header lines should be out while the window is up, not at exit.
    std::fflush(stdout);
    if (loaded != 0)
        return -1;

    for (;;) {
        render();
        SDL_Delay(100);
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (is_quit(event))
                return 0;
        }
    }
}

#if !defined(main) && !defined(VELMORA_NO_ENTRY)
// SDL 1.2 renames main and brings its own start-up glue only on some platforms;
// elsewhere SDL_main is the process entry itself.
int main(int argc, char* argv[])
{
    return SDL_main(argc, argv);
}
#endif
