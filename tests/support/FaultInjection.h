// Control of the allocation-failure seam (a libzolib built with
// ZOLIB_FAULT_INJECTION; never installed). Counts every allocating call the
// library makes: the heap, operator new, strdup/strndup, and getcwd(null),
// glob, opendir, fdopendir, fopen and dlopen.
#pragma once

extern "C" {
// From now on, the n-th allocation (1 = the next) fails: null with errno
// ENOMEM, std::bad_alloc from the throwing operator new, GLOB_NOSPACE from
// glob. With keepFailing, every later one fails too. n = 0 disarms.
void zolib_fault_arm(long n, bool keepFailing);
// Stops failing; returns how many allocations were refused since arming.
long zolib_fault_disarm();
// Allocations the library made since arming.
long zolib_fault_seen();
}
