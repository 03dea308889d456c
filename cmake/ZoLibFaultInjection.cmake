# Allocation-failure seam for the test suite. With ZOLIB_FAULT_INJECTION on,
# the library's own references to the allocator are linked to wrappers
# (ld --wrap) that can make the N-th allocation fail, and the wrappers' control
# functions are exported (tests/support/FaultInjection.h). Allocations made by
# the test programs, the C library or the C++ runtime are not affected. Off by
# default: release, static and fuzz builds, and the installed library, have
# neither the wrappers nor the extra symbols.
option(ZOLIB_FAULT_INJECTION "Link libzolib with the allocation-failure seam (tests only)" OFF)

if(ZOLIB_FAULT_INJECTION AND NOT ZOLIB_BUILD_SHARED)
    message(WARNING "ZOLIB_FAULT_INJECTION needs the shared library (the wrap is applied when "
        "libzolib is linked); turned off")
    set(ZOLIB_FAULT_INJECTION OFF CACHE BOOL "" FORCE)
endif()

if(ZOLIB_FAULT_INJECTION)
    # Every allocating call the library makes directly: the heap, the C++
    # operators new (throwing and nothrow), and the C library calls that
    # allocate on its behalf (a null-buffer getcwd, glob, directory and file
    # streams, dlopen).
    set(_zolib_wrapped malloc calloc realloc strdup strndup
        _Znwm _Znam _ZnwmRKSt9nothrow_t _ZnamRKSt9nothrow_t
        getcwd glob opendir fdopendir fopen dlopen)
    list(JOIN _zolib_wrapped ",--wrap=" _zolib_wrap)
    target_sources(zolib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../src/internal/FaultInjection.cpp)
    target_compile_definitions(zolib PRIVATE ZOLIB_FAULT_INJECTION)
    target_link_options(zolib PRIVATE "LINKER:--wrap=${_zolib_wrap}")
endif()
