# Cross toolchain for Debian arm64 (64-bit ARM, little-endian).
set(ZOLIB_CROSS_PROCESSOR aarch64)
set(ZOLIB_CROSS_TRIPLET aarch64-linux-gnu)
set(ZOLIB_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/Cross.cmake)
