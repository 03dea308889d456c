// The other include order for TruncTest.cpp: the C library's math header
// first, so its trunc overloads (float, long double, integers) are all at
// global scope before ZoLib declares its own.
#include <math.h>

#include <zolib/ZoLib.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

static_assert(std::is_same_v<decltype(trunc(2.5f)), float>);
static_assert(std::is_same_v<decltype(trunc(2.5)), double>);

double MathFirstTrunc(double x) {
    return trunc(x);
}

double MathFirstTruncZero() {
    return trunc(0);
}

bool MathFirstTextTrunc() {
    char* cut = trunc("+k");
    bool ok = cut != nullptr && strcmp(cut, "k") == 0;
    free(cut);
    return ok;
}
