# The 32-bit Windows build run under Wine, for testing: the same compiler and
# flags as the program (cmake/mingw-i686.cmake), with every built program
# started through wine, so that the unit tests are listed and run by CTest:
#   cmake -S . -B build-win32-tests \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-wine.cmake
# Wine needs its prefix (tools/wine_prefix.sh) while building and testing.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Under Wine the host's root folder is drive Z:, so a host path given to a
# test program is Z: followed by the path.
set(PELMORA_EMULATOR_HOST_ROOT "Z:")
# Packages come from the target's root only: the host's GoogleTest is built
# for the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# GoogleTest, built from source for the tests, has C sources too.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
