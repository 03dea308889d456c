# Line coverage with gcov (scripts/coverage.sh reports it). The counters are
# updated atomically: the threaded tests would otherwise race on them and the
# counts of shared code could come out wrong.
if(ZOLIB_COVERAGE)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        message(FATAL_ERROR "ZOLIB_COVERAGE needs gcc (gcov)")
    endif()
    add_compile_options(--coverage -fprofile-update=atomic)
    add_link_options(--coverage)
endif()
