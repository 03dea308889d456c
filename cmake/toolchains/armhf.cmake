# Cross toolchain for Debian armhf (32-bit ARM, hard float, little-endian).
set(ZOLIB_CROSS_PROCESSOR arm)
set(ZOLIB_CROSS_TRIPLET arm-linux-gnueabihf)
set(ZOLIB_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/Cross.cmake)
# Silence the notes about a parameter-passing change of GCC 7.1: nothing here
# links against code built before it.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
