# Cross-building for 32-bit ARM Linux (armhf: ARMv7, VFPv3-D16, NEON not
# guaranteed) with Debian's cross compiler (g++-arm-linux-gnueabihf); tests run
# under qemu-user (qemu-arm), which finds the target's libraries in
# /usr/arm-linux-gnueabihf. The NEON kernels are in the build and chosen at run
# time; qemu-arm reads the processor to emulate from QEMU_CPU, e.g.
# QEMU_CPU=cortex-a9 (NEON) or QEMU_CPU=cortex-a9,neon=off (none), and
# emulates one with NEON when it is unset.
#   cmake -S . -B build-armhf --toolchain cmake/toolchains/arm-linux-gnueabihf.cmake -DVELMORA_VIEWER=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# 64-bit file offsets and inode numbers: a 32-bit readdir otherwise fails with
# EOVERFLOW on file systems with 64-bit inode numbers (ext4 under qemu-user).
set(CMAKE_CXX_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
set(CMAKE_C_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
