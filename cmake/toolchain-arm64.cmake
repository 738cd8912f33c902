# SPDX-License-Identifier: MIT
# Cross-build for 64-bit ARM (Debian arm64: a Raspberry Pi 3, 4 or 5 with the 64-bit system)
# with Debian's cross compiler (g++-aarch64-linux-gnu):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
# Libraries of the target come from Debian's arm64 packages (dpkg --add-architecture arm64,
# then e.g. libgtest-dev:arm64), installed beside the native ones in /usr/lib/aarch64-linux-gnu.
# The tests run under qemu-user with the target's own C library and loader from Debian's
# arm64 packages (/lib/aarch64-linux-gnu, installed with the libraries above; not the cross compiler's
# copy, whose loader may be of another release than that C library, and threads then fail to
# start), with one worker thread: the emulated cores are few and slow.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config (Highway is found with it) reads the target's .pc files, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/emulate.sh qemu-aarch64)
set(IQTOOLS_DEBIAN_ARCHITECTURE arm64)
