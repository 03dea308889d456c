# Installs headers, the library, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(DIRECTORY include/zolib DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(_zolib_installed zolib)
if(TARGET zolib_json)
    list(APPEND _zolib_installed zolib_json)
endif()
install(TARGETS ${_zolib_installed} EXPORT ZoLibTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZOLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZoLib)
install(EXPORT ZoLibTargets NAMESPACE ZoLib:: DESTINATION ${ZOLIB_CMAKE_DIR})
configure_package_config_file(cmake/ZoLibConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/ZoLibConfig.cmake INSTALL_DESTINATION ${ZOLIB_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZoLibConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZoLibConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/ZoLibConfigVersion.cmake DESTINATION ${ZOLIB_CMAKE_DIR})

if(ZOLIB_BUILD_SHARED)
    set(ZOLIB_PC_PRIVATE_LIBS "")
    set(ZOLIB_PC_REQUIRES_PRIVATE "zlib")
else()
    set(ZOLIB_PC_PRIVATE_LIBS "-lpthread -ldl -lrt")
    set(ZOLIB_PC_REQUIRES_PRIVATE "zlib")
endif()
configure_file(cmake/zolib.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zolib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zolib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TARGET zolib_json)
    configure_file(cmake/zolib_json.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zolib_json.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zolib_json.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
