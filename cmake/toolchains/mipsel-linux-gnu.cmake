# Cross-building for 32-bit little-endian MIPS Linux with Debian's cross
# compiler (g++-mipsel-linux-gnu): the portable kernels. Tests run under
# qemu-user (qemu-mipsel), which finds the target's libraries in
# /usr/mipsel-linux-gnu.
#   cmake -S . -B build-mipsel --toolchain cmake/toolchains/mipsel-linux-gnu.cmake -DVELMORA_VIEWER=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# 64-bit file offsets and inode numbers: a 32-bit readdir otherwise fails with
# EOVERFLOW on file systems with 64-bit inode numbers (ext4 under qemu-user).
set(CMAKE_CXX_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
set(CMAKE_C_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel -L /usr/mipsel-linux-gnu)
