// The other include order for ArgsTest.cpp's trunc check: the C library's
// math header first, so its trunc overloads are all at global scope before
// ZoLib declares its own. Compiling is the check.
#include <math.h>
#include <zolib/ZoLib.h>

#include <type_traits>

static_assert(std::is_same_v<decltype(trunc(2.5f)), float>);
static_assert(std::is_same_v<decltype(trunc(0)), double>);
static_assert(std::is_same_v<decltype(trunc("+k")), char*>);
