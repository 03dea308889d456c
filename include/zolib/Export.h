// Symbol visibility for ZoLib. The library is built with hidden visibility;
// everything that is part of the API is marked ZOLIB_API.
#pragma once

#if !defined(__cplusplus) || __cplusplus < 201703L
#error "ZoLib's headers need C++17 or later: compile with -std=c++17 (or later)"
#endif

#if defined(ZOLIB_STATIC)
#define ZOLIB_API
#else
#define ZOLIB_API __attribute__((visibility("default")))
#endif
