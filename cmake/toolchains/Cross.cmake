# Shared part of the cross toolchains: Debian's cross compilers
# (crossbuild-essential-ARCH, which bring the target's C library under
# /usr/TRIPLET) plus a private sysroot holding the target's other libraries,
# unpacked from their Debian packages by scripts/cross.sh. Test programs run
# under qemu-user.
#
# The including file sets ZOLIB_CROSS_PROCESSOR, ZOLIB_CROSS_TRIPLET and
# ZOLIB_CROSS_QEMU. ZOLIB_CROSS_SYSROOT (cache or environment) names the
# private sysroot; without it only the compilers' own libraries are found.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZOLIB_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${ZOLIB_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${ZOLIB_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZOLIB_CROSS_TRIPLET}-g++)

if(NOT ZOLIB_CROSS_SYSROOT AND DEFINED ENV{ZOLIB_CROSS_SYSROOT})
    set(ZOLIB_CROSS_SYSROOT "$ENV{ZOLIB_CROSS_SYSROOT}")
endif()
# try_compile projects read the toolchain again: hand them the sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLIB_CROSS_SYSROOT)

# Libraries, headers and CMake packages come from the target only; programs
# (pkg-config, doxygen) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${ZOLIB_CROSS_TRIPLET} ${ZOLIB_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(ZOLIB_CROSS_SYSROOT)
    # pkg-config answers for the target: its .pc files, paths under the sysroot.
    set(ENV{PKG_CONFIG_LIBDIR}
        "${ZOLIB_CROSS_SYSROOT}/usr/lib/${ZOLIB_CROSS_TRIPLET}/pkgconfig:${ZOLIB_CROSS_SYSROOT}/usr/share/pkgconfig")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "${ZOLIB_CROSS_SYSROOT}")
    set(_zolib_cross_libs "${ZOLIB_CROSS_SYSROOT}/usr/lib/${ZOLIB_CROSS_TRIPLET}")
else()
    set(_zolib_cross_libs "")
endif()

# Test programs (and test discovery) run under qemu-user with the target's C
# library and the sysroot's shared libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOLIB_CROSS_QEMU} -L /usr/${ZOLIB_CROSS_TRIPLET}
    -E LD_LIBRARY_PATH=${_zolib_cross_libs})
