# Bare-metal Cortex-M with Debian's gcc-arm-none-eabi, picolibc and its
# libstdc++ (libstdc++-arm-none-eabi-picolibc): the library at -Os without
# exceptions, RTTI or heap, and the runner of tests/mcu.
#
#   cmake -S . -B build-cortex-m4 --toolchain cmake/toolchains/arm-none-eabi.cmake \
#         -DVELMORA_CORTEX_M_CPU=cortex-m4 -DVELMORA_VIEWER=OFF -DVELMORA_TESTS=OFF
#   cmake --build build-cortex-m4 --target velmora_gfx mcu_test
#
# VELMORA_CORTEX_M_CPU: cortex-m0plus, cortex-m4 (hard float) or cortex-m7.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
# The compiler checks link no program: there is no start-up code until picolibc's.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(VELMORA_CORTEX_M_CPU cortex-m4 CACHE STRING "cortex-m0plus, cortex-m4 or cortex-m7")
set_property(CACHE VELMORA_CORTEX_M_CPU PROPERTY STRINGS cortex-m0plus cortex-m4 cortex-m7)
if(VELMORA_CORTEX_M_CPU STREQUAL "cortex-m4")
  set(velmora_cpu_flags "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16")
elseif(VELMORA_CORTEX_M_CPU STREQUAL "cortex-m7")
  set(velmora_cpu_flags "-mcpu=cortex-m7 -mthumb -mfloat-abi=hard -mfpu=fpv5-d16")
elseif(VELMORA_CORTEX_M_CPU STREQUAL "cortex-m0plus")
  set(velmora_cpu_flags "-mcpu=cortex-m0plus -mthumb")
else()
  message(FATAL_ERROR "VELMORA_CORTEX_M_CPU: cortex-m0plus, cortex-m4 or cortex-m7, not ${VELMORA_CORTEX_M_CPU}")
endif()

# Each function in its own section, so a program keeps only what it calls.
set(CMAKE_CXX_FLAGS_INIT "${velmora_cpu_flags} --specs=picolibcpp.specs -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${velmora_cpu_flags} --specs=picolibc.specs -ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Os -DNDEBUG")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-Os -DNDEBUG")
set(CMAKE_BUILD_TYPE MinSizeRel CACHE STRING "")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
