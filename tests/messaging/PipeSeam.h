// A seam at pipe creation: the test program defines pipe() itself
// (PipeSeam.cpp), so a test can make the library's pipe() calls fail.
// Using up every descriptor instead would also starve the sanitizers, which
// check memory through pipes of their own.
#pragma once

namespace seam {

// While one exists, the library's pipe() calls fail with EMFILE.
class NoPipes {
  public:
    NoPipes();
    ~NoPipes();
    NoPipes(const NoPipes&) = delete;
    NoPipes& operator=(const NoPipes&) = delete;
};

}  // namespace seam
