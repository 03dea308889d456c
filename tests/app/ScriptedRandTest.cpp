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

TEST(ScriptedRandom, NeverReachesHigh) {
    Script({RAND_MAX, 0, RAND_MAX, 0, RAND_MAX, 0});
    EXPECT_EQ(Random(0, 10), 9);
    EXPECT_EQ(Random(0, 10), 0);
    EXPECT_EQ(Random(10, 0), 1);
    EXPECT_EQ(Random(10, 0), 10);
    double top = Random(0.0, 1.0);
    EXPECT_LT(top, 1.0);
    EXPECT_GT(top, 0.999);
    EXPECT_EQ(Random(3.0, 8.0), 3.0);
    EXPECT_EQ(draws, 6);  // one draw per call
}

TEST(ScriptedRandom, ReversedSpanDropsTheFractionTowardZero) {
    // u = 0.95: the span -10 gives -9.5, which must become -9 (value 1); a
    // floor would give -10 and return high itself.
    Script({static_cast<int>(0.95 * (RAND_MAX + 1.0))});
    EXPECT_EQ(Random(10, 0), 1);
}

TEST(ScriptedRandom, WidestSpansAtTheEdges) {
    Script({RAND_MAX, RAND_MAX, 0, 0});
    EXPECT_LT(Random(INT_MIN, INT_MAX), INT_MAX);
    EXPECT_GT(Random(INT_MAX, INT_MIN), INT_MIN);
    EXPECT_EQ(Random(INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(Random(INT_MAX, INT_MIN), INT_MAX);
}

TEST(ScriptedLabel, OneDrawPerLetterInOrder) {
    Script({});
    for (int i = 0; i < 26; i++)
        script.push_back(LetterEdge(i));
    char* label = TempLabel(26);
    EXPECT_STREQ(label, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    free(label);
    EXPECT_EQ(draws, 26);
}

TEST(ScriptedLabel, EdgesOfEachLetter) {
    Script({LetterEdge(1) - 1, RAND_MAX, LetterEdge(25) - 1});
    char* label = TempLabel(3);
    EXPECT_STREQ(label, "AZY");
    free(label);
}

TEST(ScriptedLabel, EmptyOrRefusedLabelsDrawNothing) {
    Script({});
    free(TempLabel(0));
    EXPECT_EQ(TempLabel(-1), nullptr);
    EXPECT_EQ(draws, 0);
}

}  // namespace
