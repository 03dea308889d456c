// ZoLib's trunc(text) lives beside the C library's trunc(double). This file
// includes ZoLib before <cmath>; TruncMathFirst.cpp includes <math.h> before
// ZoLib. In both, numbers must reach the C library exactly as without ZoLib.
#include <zolib/ZoLib.h>

#include <cmath>

#include <gtest/gtest.h>

#include <cstdlib>
#include <type_traits>

// Defined in TruncMathFirst.cpp.
double MathFirstTrunc(double x);
double MathFirstTruncZero();
bool MathFirstTextTrunc();

namespace {

TEST(TruncBesideCmath, NumbersGoToTheCLibrary) {
    EXPECT_EQ(trunc(2.5), 2.0);
    EXPECT_EQ(trunc(-2.5), -2.0);
    static_assert(std::is_same_v<decltype(trunc(2.5)), double>);
    int n = 7;
    EXPECT_EQ(trunc(n), 7.0);
    EXPECT_EQ(trunc(0), 0.0);  // a literal 0 is no null text here
    EXPECT_EQ(std::trunc(-0.5f), -0.0f);
}

TEST(TruncBesideCmath, TextsGoToZoLib) {
    char* cut = trunc("-abc");
    EXPECT_STREQ(cut, "abc");
    free(cut);
}

TEST(TruncBesideCmath, MathHeaderIncludedFirst) {
    EXPECT_EQ(MathFirstTrunc(3.75), 3.0);
    EXPECT_EQ(MathFirstTrunc(-3.75), -3.0);
    EXPECT_EQ(MathFirstTruncZero(), 0.0);
    EXPECT_TRUE(MathFirstTextTrunc());
}

}  // namespace
