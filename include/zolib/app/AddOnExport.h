// Writing an add-on: exporting the functions ZoAddOn looks for.
//
// An add-on is a shared object that exports up to nine functions under fixed
// symbol names. The names are not what a C++ (or C) compiler would make of
// any function name, so each macro below declares a function with an ordinary
// identifier and binds it to the exact symbol with an assembler label; it also
// gives the function default visibility, so an add-on built with
// -fvisibility=hidden still exports it. Any of the nine may be left out:
// the loading side then gets null (texts) or 0 (Init/Uninit).
//
//     #include <zolib/app/AddOnExport.h>
//
//     ZOLIB_ADDON_NAME("spell checker");
//     ZOLIB_ADDON_VERSION("1.2");
//     ZOLIB_ADDON_INIT(data) {           // `data` is the application's pointer
//         return data != nullptr;        // any int; handed back unchanged
//     }
//
// Each macro may be used once per add-on. The texts belong to the add-on and
// must outlive every call (string literals or static storage): the application
// neither copies nor frees them, and they vanish when the add-on is unloaded.
// An add-on needs this header only; it does not link libzolib.
//
// Host contract (x86-64): a description function takes no argument and returns
// `char*`; Init and Uninit take one `void*` and return `int`.
#pragma once

#ifdef __cplusplus
#define ZOLIB_ADDON_LINKAGE_ extern "C" __attribute__((visibility("default")))
#define ZOLIB_ADDON_END_ static_assert(true, "")
#else
#define ZOLIB_ADDON_LINKAGE_ extern __attribute__((visibility("default")))
#define ZOLIB_ADDON_END_ _Static_assert(1, "")
#endif

// The symbol names of the contract.
#define ZOLIB_ADDON_SYM_NAME "_AddOn_Name__Fv"
#define ZOLIB_ADDON_SYM_DESCRIPTION "_AddOn_Description__Fv"
#define ZOLIB_ADDON_SYM_VERSION "_AddOn_Version__Fv"
#define ZOLIB_ADDON_SYM_DATE "_AddOn_Date__Fv"
#define ZOLIB_ADDON_SYM_TARGET "_AddOn_Target__Fv"
#define ZOLIB_ADDON_SYM_AUTHOR "_AddOn_Author__Fv"
#define ZOLIB_ADDON_SYM_COPYRIGHT "_AddOn_Copyright__Fv"
#define ZOLIB_ADDON_SYM_INIT "_AddOn_Init__FPv"
#define ZOLIB_ADDON_SYM_UNINIT "_AddOn_Uninit__FPv"

// The label must sit on a declaration before the definition. The closing
// assertion asks for the `;` after the macro, as after any declaration.
#define ZOLIB_ADDON_TEXT_(ident, symbol, text)              \
    ZOLIB_ADDON_LINKAGE_ char* ident(void) __asm__(symbol); \
    ZOLIB_ADDON_LINKAGE_ char* ident(void) {                \
        return (char*)(text);                               \
    }                                                       \
    ZOLIB_ADDON_END_

#define ZOLIB_ADDON_NAME(text) ZOLIB_ADDON_TEXT_(ZoAddOnName_, ZOLIB_ADDON_SYM_NAME, text)
#define ZOLIB_ADDON_DESCRIPTION(text) \
    ZOLIB_ADDON_TEXT_(ZoAddOnDescription_, ZOLIB_ADDON_SYM_DESCRIPTION, text)
#define ZOLIB_ADDON_VERSION(text) ZOLIB_ADDON_TEXT_(ZoAddOnVersion_, ZOLIB_ADDON_SYM_VERSION, text)
#define ZOLIB_ADDON_DATE(text) ZOLIB_ADDON_TEXT_(ZoAddOnDate_, ZOLIB_ADDON_SYM_DATE, text)
#define ZOLIB_ADDON_TARGET(text) ZOLIB_ADDON_TEXT_(ZoAddOnTarget_, ZOLIB_ADDON_SYM_TARGET, text)
#define ZOLIB_ADDON_AUTHOR(text) ZOLIB_ADDON_TEXT_(ZoAddOnAuthor_, ZOLIB_ADDON_SYM_AUTHOR, text)
#define ZOLIB_ADDON_COPYRIGHT(text) \
    ZOLIB_ADDON_TEXT_(ZoAddOnCopyright_, ZOLIB_ADDON_SYM_COPYRIGHT, text)

// Opens the definition of Init or Uninit; the function body follows the macro.
#define ZOLIB_ADDON_INIT(data)                                                       \
    ZOLIB_ADDON_LINKAGE_ int ZoAddOnInit_(void* data) __asm__(ZOLIB_ADDON_SYM_INIT); \
    ZOLIB_ADDON_LINKAGE_ int ZoAddOnInit_(void* data)
#define ZOLIB_ADDON_UNINIT(data)                                                         \
    ZOLIB_ADDON_LINKAGE_ int ZoAddOnUninit_(void* data) __asm__(ZOLIB_ADDON_SYM_UNINIT); \
    ZOLIB_ADDON_LINKAGE_ int ZoAddOnUninit_(void* data)
