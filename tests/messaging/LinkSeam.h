// A seam at the moment a new shared-memory segment is published.
//
// The library creates a segment under a private name and then link()s it
// into place. The test programs define link() themselves (LinkSeam.cpp), so
// a test can run code just before or just after that step and reproduce the
// races around it deterministically.
#pragma once

#include <functional>

namespace seam {

// Runs `hook` once, in this process only, right before the next link().
void BeforeLink(std::function<void()> hook);
// Runs `hook` once, in this process only, right after the next link()
// that succeeded.
void AfterLink(std::function<void()> hook);

}  // namespace seam
