# Installation of ZoLib's libraries, headers, CMake package, pkg-config files,
# documentation and Debian packages.
#
# Each library is installed with one call, after its target is defined:
#
#   zolib_install_library(<target>
#       [DESCRIPTION <text>]              # pkg-config Description
#       [PC_REQUIRES_PRIVATE <module>...] # pkg-config modules of its private dependencies
#       [PC_LIBS_PRIVATE <flag>...]       # other link flags of its private dependencies
#       [CMAKE_DEPENDENCIES <package>...] # find_dependency() arguments, e.g. "nlohmann_json 3.9"
#       [PKG_CONFIG_TARGETS <prefix>=<module>...] # PkgConfig::<prefix> targets it links
#       [PUBLIC_CMAKE_DEPENDENCIES <package>...]) # packages of targets it links PUBLIC
#
# The first four name private dependencies, which only a static consumer
# needs; PUBLIC_CMAKE_DEPENDENCIES are found for every consumer. For example:
#
#   zolib_install_library(zolib_json PC_REQUIRES_PRIVATE libsodium
#       CMAKE_DEPENDENCIES "nlohmann_json 3.9" PKG_CONFIG_TARGETS sodium=libsodium)
#
# A library `zolib_<name>` becomes the CMake package component <name>:
# find_package(ZoLib CONFIG REQUIRED COMPONENTS <name>) gives ZoLib::zolib_<name>.
# Its pkg-config module is `zolib_<name>` (shared) or `zolib_<name>-static`.
#
# Shared and static builds install side by side into one prefix: each writes
# its own target files (<target>-shared-targets.cmake / -static-targets.cmake)
# and its own pkg-config module (<target>.pc / <target>-static.pc); the files
# both write (headers, ZoLibConfig.cmake, dependency lists) are the same.
# The private dependencies matter to static consumers only, so only the
# static files name them.
#
# Everything installed is relocatable: the CMake files find the prefix from
# their own location and the .pc files from ${pcfiledir}.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

set(ZOLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZoLib)
set(ZOLIB_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# An install directory as a .pc file names it: below ${prefix}, or as it is
# when it was configured as an absolute path.
function(_zolib_pc_path var dir)
    if(IS_ABSOLUTE "${dir}")
        set(${var} "${dir}" PARENT_SCOPE)
    else()
        set(${var} "\${prefix}/${dir}" PARENT_SCOPE)
    endif()
endfunction()

function(zolib_install_library target)
    cmake_parse_arguments(ARG "" "DESCRIPTION"
        "PC_REQUIRES_PRIVATE;PC_LIBS_PRIVATE;CMAKE_DEPENDENCIES;PKG_CONFIG_TARGETS;PUBLIC_CMAKE_DEPENDENCIES"
        ${ARGN})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
        set(kind static)
        set(pc_name ${target}-static)
    else()
        set(kind shared)
        set(pc_name ${target})
    endif()

    # A library beside libzolib finds it from its own directory: a program's
    # RUNPATH (ld's default here) does not reach the libraries of its libraries.
    get_target_property(rpath ${target} INSTALL_RPATH)
    if(kind STREQUAL "shared" AND NOT target STREQUAL "zolib" AND NOT rpath)
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()

    install(TARGETS ${target} EXPORT ${target}-${kind}-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
            NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(EXPORT ${target}-${kind}-targets NAMESPACE ZoLib:: DESTINATION ${ZOLIB_CMAKE_DIR}
        COMPONENT Development)

    # What a consumer must find before the targets can be read.
    set(deps "# Found by ZoLibConfig.cmake before the ${target} targets are read.\n")
    foreach(dep IN LISTS ARG_PUBLIC_CMAKE_DEPENDENCIES)
        string(APPEND deps "list(APPEND _zolib_public_dependencies \"${dep}\")\n")
    endforeach()
    foreach(dep IN LISTS ARG_CMAKE_DEPENDENCIES)
        string(APPEND deps "list(APPEND _zolib_find_dependencies \"${dep}\")\n")
    endforeach()
    foreach(pc IN LISTS ARG_PKG_CONFIG_TARGETS)
        string(APPEND deps "list(APPEND _zolib_pkg_config_targets \"${pc}\")\n")
    endforeach()
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/cmake/${target}-dependencies.cmake CONTENT "${deps}")
    install(FILES ${PROJECT_BINARY_DIR}/cmake/${target}-dependencies.cmake
        DESTINATION ${ZOLIB_CMAKE_DIR} COMPONENT Development)

    # pkg-config module.
    file(RELATIVE_PATH up /${ZOLIB_PC_DIR} /)
    if(IS_ABSOLUTE "${ZOLIB_PC_DIR}")
        set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    else()
        string(REGEX REPLACE "/$" "" up "${up}")
        set(PC_PREFIX "\${pcfiledir}/${up}")
    endif()
    _zolib_pc_path(PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
    _zolib_pc_path(PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
    set(PC_NAME ${target})
    set(PC_DESCRIPTION "${ARG_DESCRIPTION}")
    if(PC_DESCRIPTION STREQUAL "")
        set(PC_DESCRIPTION "${PROJECT_DESCRIPTION}: ${target}")
    endif()
    set(requires "")
    if(NOT target STREQUAL "zolib")
        set(requires "zolib")
    endif()
    if(kind STREQUAL "static")
        list(TRANSFORM requires APPEND "-static")
        list(APPEND requires ${ARG_PC_REQUIRES_PRIVATE})
        set(PC_LIBS "\${libdir}/lib${target}.a")
        list(APPEND PC_LIBS ${ARG_PC_LIBS_PRIVATE} -pthread)
        set(PC_CFLAGS " -DZOLIB_STATIC")
    else()
        set(PC_LIBS "-L\${libdir}" "-l${target}" -pthread)
        set(PC_CFLAGS "")
    endif()
    # 32-bit hosts: the classes hold struct stat, so programs must see the
    # same 64-bit file offsets the library was built with.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(APPEND PC_CFLAGS " -D_FILE_OFFSET_BITS=64")
    endif()
    list(JOIN requires ", " PC_REQUIRES)
    set(PC_REQUIRES_LINE "")
    if(NOT PC_REQUIRES STREQUAL "")
        set(PC_REQUIRES_LINE "Requires: ${PC_REQUIRES}\n")
    endif()
    list(JOIN PC_LIBS " " PC_LIBS)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/zolib.pc.in ${PROJECT_BINARY_DIR}/${pc_name}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc_name}.pc DESTINATION ${ZOLIB_PC_DIR}
        COMPONENT Development)
endfunction()

# Headers, package configuration, licence and documentation, man pages and
# the Debian packages. Called once, at the end of the top-level CMakeLists.
function(zolib_install_package)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zolib DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development)

    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZoLibConfig.cmake.in
        ${PROJECT_BINARY_DIR}/cmake/ZoLibConfig.cmake INSTALL_DESTINATION ${ZOLIB_CMAKE_DIR}
        NO_SET_AND_CHECK_MACRO)
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/ZoLibConfigVersion.cmake
        COMPATIBILITY SameMinorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/cmake/ZoLibConfig.cmake
        ${PROJECT_BINARY_DIR}/cmake/ZoLibConfigVersion.cmake DESTINATION ${ZOLIB_CMAKE_DIR}
        COMPONENT Development)

    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/design.md ${PROJECT_SOURCE_DIR}/docs/reliability.md
        ${PROJECT_SOURCE_DIR}/docs/zobag.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT Development)
    # The HTML reference, when the `docs` target has been built.
    install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/html DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT Development OPTIONAL)

    if(NOT PROJECT_IS_TOP_LEVEL)
        return()
    endif()
    # Debian packages (cpack -G DEB): the runtime package holds the shared
    # libraries; the development package everything else, and depends on it.
    set(CPACK_PACKAGE_NAME libzolib)
    set(CPACK_PACKAGE_VENDOR "ZoLib developers")
    set(CPACK_PACKAGE_CONTACT "ZoLib developers <zolib@localhost>")
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL Runtime Development)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION libs)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
    # zobag (development package) links the library of the runtime package:
    # dpkg-shlibdeps, run in each package's staging directory, finds it there.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../Runtime/usr/${CMAKE_INSTALL_LIBDIR})
    set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME
        "libzolib${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzolib-dev)
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
    set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION} (shared libraries)")
    set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
        "${PROJECT_DESCRIPTION} (headers, CMake package, pkg-config files, zobag)")
    set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
    include(CPack)
endfunction()
