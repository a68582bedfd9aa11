// The programs whose flash bench/mcu_figures.sh compares on Cortex-M: built
// four times: with nothing of the library (the baseline: start-up code and
// the C library's exit), with a typical game's subset (VELMORA_FLASH_GAME:
// decode its TGA assets, fill, copy, colour-keyed sprites from a sheet, send
// the frame to an SPI panel byte-swapped), with every quiet function
// (VELMORA_FLASH_QUIET) and with every function, the printing decoder
// tga24_to_sprite16 too (VELMORA_FLASH_EVERY). The inputs come from volatile pointers so that
// nothing folds away; nothing here runs.
#include <velmora/sprite.h>
#include <velmora/tga.h>

namespace {

volatile const std::uint8_t* volatile file_bytes;
volatile std::size_t file_size;
sprite_t* volatile screen;
sprite_t* volatile picture;
std::uint8_t* volatile alpha;
std::uint8_t* volatile panel;
volatile std::uint16_t position;

} // namespace

int main()
{
    int sum = 0;
#if defined(VELMORA_FLASH_GAME) || defined(VELMORA_FLASH_QUIET) || defined(VELMORA_FLASH_EVERY)
    const auto* file = const_cast<const std::uint8_t*>(file_bytes);
    const area_t area{position, position, position, position};
    tga_info_t info;
    sum += tga_info(file, file_size, &info);
    sum += tga_check(&info);
    sum += tga_to_sprite16(&info, picture, alpha);
    sum += area_fill_16(screen, rgb24_to_16(0, 0, 255), &area);
    sum += sprite_blit_16(screen, picture, position, position);
    sum += sprite_area_blit_key_16(screen, picture, &area, position, position, 0xF81F);
    sum += sprite_area_copy_be_16(panel, screen, &area);
#endif
#if defined(VELMORA_FLASH_QUIET) || defined(VELMORA_FLASH_EVERY)
    sum += tga24_check(&info);
    sum += sprite_area_blit_16(screen, picture, &area, position, position);
    sum += sprite_blit_alpha_16(screen, picture, position, position, 77);
    sum += sprite_blit_key_16(screen, picture, position, position, 0xF81F);
    sum += sprite_blit_a8_16(screen, picture, alpha, position, position);
    sum += sprite_area_blit_a8_16(screen, picture, alpha, &area, position, position);
#endif
#if defined(VELMORA_FLASH_EVERY)
    tga24_to_sprite16(&info, picture);
#endif
    return sum;
}
