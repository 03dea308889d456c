// Temporary names and random numbers.
//
// All randomness comes from the standard rand(): seed it once with InitTemp()
// (or srand() directly for a reproducible run). Every draw uses
// u = rand() / (RAND_MAX + 1), in [0, 1); TempLabel draws once per character,
// from the first, and each Random call draws once.
//
// Ownership: TempLabel and MakeName return new malloc'ed strings that the
// caller frees.
// Threads: these functions share the standard generator; they are as
// thread-safe as rand() (glibc serialises it, but interleaved draws from
// several threads make no reproducible sequence). Nothing blocks.
// Failure: null from TempLabel and MakeName for refused input (see each).
#pragma once

#include <zolib/Export.h>

// srand(time(NULL)): a new sequence on each run (at one-second resolution).
ZOLIB_API void InitTemp();

// `length` random capital letters A..Z and a NUL. 0 gives the empty string.
// A negative length, or one above 1048576 (1 MiB), is refused (null): a label
// is part of a name, and a mistaken length must not take gigabytes.
ZOLIB_API char* TempLabel(int length);

// "prefix-numbersuffix" (format "%s-%ld%s"): ("a", -3, ".tmp") gives
// "a--3.tmp". A null prefix or suffix counts as the empty text.
ZOLIB_API char* MakeName(const char* prefix, long number, const char* suffix);

// low + (high - low) * u: in [low, high), or (high, low] when high < low.
ZOLIB_API double Random(double low, double high);
// low + (high - low) * u with the fraction dropped toward zero, computed in
// double: in [low, high - 1] when low < high, in [high + 1, low] when high < low,
// low when they are equal. `high` itself is never returned.
ZOLIB_API int Random(int low, int high);
