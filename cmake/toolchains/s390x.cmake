# Cross toolchain for Debian s390x (64-bit IBM Z, big-endian).
set(ZOLIB_CROSS_PROCESSOR s390x)
set(ZOLIB_CROSS_TRIPLET s390x-linux-gnu)
set(ZOLIB_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/Cross.cmake)
