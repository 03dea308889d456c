# Sanitizers apply to everything built in this tree, so that the library and
# the programs linking it agree on the runtime.
if(ZOLIB_SANITIZE)
    list(JOIN ZOLIB_SANITIZE "," _zolib_san)
    add_compile_options(-fsanitize=${_zolib_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_zolib_san})
endif()
