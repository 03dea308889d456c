# Warning flags shared by the library, its tests and its tools.
add_library(zolib_warnings INTERFACE)
target_compile_options(zolib_warnings INTERFACE -Wall -Wextra)
if(ZOLIB_WERROR)
    target_compile_options(zolib_warnings INTERFACE -Werror)
endif()
