// The decoder of every variant at a chosen kernel level, for the tests that
// hold each level to the plain loop. Internal: not installed.
#pragma once

#include <cstdint>

#include "kernels/kernels.h"
#include <velmora/tga.h>

tga_check_t tga_to_sprite16_at(simd_level level, const tga_info_t* info, sprite_t* sprite,
                               std::uint8_t* alpha);
