# SPDX-License-Identifier: MIT
# Cross-build for 32-bit ARM (Debian armhf: a Raspberry Pi with the 32-bit system) with
# Debian's cross compiler (g++-arm-linux-gnueabihf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# Libraries of the target come from Debian's armhf packages (dpkg --add-architecture armhf,
# then e.g. libgtest-dev:armhf), installed beside the native ones in /usr/lib/arm-linux-gnueabihf.
# The tests run under qemu-user with the target's own C library and loader from Debian's
# armhf packages (/lib/arm-linux-gnueabihf, installed with the libraries above; not the cross compiler's
# copy, whose loader may be of another release than that C library, and threads then fail to
# start), with one worker thread: the emulated cores are few and slow.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config (Highway is found with it) reads the target's .pc files, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/emulate.sh qemu-arm)
set(IQTOOLS_DEBIAN_ARCHITECTURE armhf)
