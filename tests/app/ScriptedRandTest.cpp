// Replaces the C library's rand() for this program, so that the edges of the
// random functions (rand() returning 0 or RAND_MAX) can be reached on purpose
// instead of once in two billion draws.
#include <zolib/app/Temp.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <string>

namespace {

std::deque<int> script;  // values the next rand() calls return, then 0
int draws = 0;

void Script(std::initializer_list<int> values) {
    script.assign(values);
    draws = 0;
}

// The smallest rand() value that makes the letter 'A' + i.
int LetterEdge(int i) {
    return static_cast<int>(std::ceil(i * (RAND_MAX + 1.0) / 26.0));
}

}  // namespace

extern "C" int rand() noexcept {
    draws++;
    if (script.empty()) return 0;
    int value = script.front();
    script.pop_front();
    return value;
}

namespace {

TEST(ScriptedRandom, EdgesNeverReachHigh) {
    // u = 0.95 on a reversed span: -9.5 must become -9 (value 1); a floor or
    // rounding would give high itself.
    Script({RAND_MAX, 0, RAND_MAX, 0, static_cast<int>(0.95 * (RAND_MAX + 1.0)), RAND_MAX, 0});
    EXPECT_EQ(Random(0, 10), 9);
    EXPECT_EQ(Random(0, 10), 0);
    EXPECT_EQ(Random(10, 0), 1);
    EXPECT_EQ(Random(10, 0), 10);
    EXPECT_EQ(Random(10, 0), 1);
    double top = Random(0.0, 1.0);
    EXPECT_TRUE(top < 1.0 && top > 0.999) << top;
    EXPECT_EQ(Random(3.0, 8.0), 3.0);
    EXPECT_EQ(draws, 7);  // one draw per call
    Script({RAND_MAX, RAND_MAX, 0, 0});
    EXPECT_LT(Random(INT_MIN, INT_MAX), INT_MAX);
    EXPECT_GT(Random(INT_MAX, INT_MIN), INT_MIN);
    EXPECT_EQ(Random(INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(Random(INT_MAX, INT_MIN), INT_MAX);
}

TEST(ScriptedLabel, OneDrawPerLetterAtItsEdges) {
    Script({});
    for (int i = 0; i < 26; i++)
        script.push_back(LetterEdge(i));
    for (int value : {LetterEdge(1) - 1, RAND_MAX, LetterEdge(25) - 1})
        script.push_back(value);
    char* label = TempLabel(29);
    EXPECT_STREQ(label, "ABCDEFGHIJKLMNOPQRSTUVWXYZAZY");
    free(label);
    EXPECT_EQ(draws, 29);
    Script({});
    free(TempLabel(0));
    EXPECT_EQ(TempLabel(-1), nullptr);
    EXPECT_EQ(draws, 0);
}

}  // namespace
