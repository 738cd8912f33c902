# Cross-build for 32-bit ARM (Debian armhf: a Raspberry Pi with the 32-bit system) with
# Debian's cross compiler (g++-arm-linux-gnueabihf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# Libraries of the target come from Debian's armhf packages (dpkg --add-architecture armhf,
# then e.g. libgtest-dev:armhf), installed beside the native ones in /usr/lib/arm-linux-gnueabihf.
# The tests run under qemu-user, whose -L points the programs at the cross compiler's C library,
# with one worker thread: under qemu-user the hand-off between worker threads (the waiting
# thread yields in a loop) can take far longer than the work; results do not depend on it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR env IQTOOLS_THREADS=1 qemu-arm -L /usr/arm-linux-gnueabihf)
set(IQTOOLS_DEBIAN_ARCHITECTURE armhf)
