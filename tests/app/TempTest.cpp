// Temp with the C library's rand() and srand() replaced for this program, so
// that the edges of the random functions (rand() returning 0 or RAND_MAX) are
// reached on purpose instead of once in two billion draws, and the seed
// InitTemp gives can be read.
#include <zolib/app/Temp.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <tuple>

namespace {

std::deque<int> script;  // values the next rand() calls return, then 0
int draws = 0;
unsigned int seed = 0;

void Script(std::initializer_list<int> values) {
    script.assign(values);
    draws = 0;
}

// The smallest rand() value that makes the letter 'A' + i.
int LetterEdge(int i) {
    return static_cast<int>(std::ceil(i * (RAND_MAX + 1.0) / 26.0));
}

// Takes ownership of a malloc'ed string.
std::string Take(char* text) {
    std::string out = text != nullptr ? text : "<null>";
    free(text);
    return out;
}

}  // namespace

extern "C" int rand() noexcept {
    draws++;
    if (script.empty()) return 0;
    int value = script.front();
    script.pop_front();
    return value;
}

extern "C" void srand(unsigned int value) noexcept {
    seed = value;
}

namespace {

TEST(TempRandom, EdgesNeverReachHighAndInitTempSeedsFromTheClock) {
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
    Script({RAND_MAX, RAND_MAX, 0, 0, RAND_MAX});
    EXPECT_LT(Random(INT_MIN, INT_MAX), INT_MAX);
    EXPECT_GT(Random(INT_MAX, INT_MIN), INT_MIN);
    EXPECT_EQ(Random(INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(Random(INT_MAX, INT_MIN), INT_MAX);
    EXPECT_EQ(Random(-7, -7), -7);
    time_t before = time(nullptr);
    InitTemp();
    time_t seeded = static_cast<time_t>(seed);
    EXPECT_TRUE(seeded >= before && seeded <= time(nullptr)) << seed;
}

TEST(TempLabel, OneDrawPerLetterAtItsEdges) {
    Script({0, LetterEdge(1) - 1, LetterEdge(1), LetterEdge(13), LetterEdge(25) - 1, LetterEdge(25),
            RAND_MAX});
    EXPECT_EQ(Take(TempLabel(7)), "AABNYZZ");
    EXPECT_EQ(draws, 7);
    Script({});
    EXPECT_EQ(Take(TempLabel(0)), "");
    for (int refused : {-1, INT_MIN, INT_MAX, (1 << 20) + 1})
        EXPECT_EQ(TempLabel(refused), nullptr) << refused;
    EXPECT_EQ(draws, 0);
    EXPECT_EQ(Take(TempLabel(1 << 20)).size(), size_t{1} << 20);
}

TEST(TempMakeName, PrefixHyphenNumberSuffix) {
    std::string longPrefix(10000, 'p');
    const std::tuple<const char*, long, const char*, std::string> cases[] = {
        {"a", 7, "b", "a-7b"},
        {"a", -3, "b", "a--3b"},
        {"a", LONG_MIN, "b", "a-" + std::to_string(LONG_MIN) + "b"},
        {longPrefix.c_str(), 1, "s", longPrefix + "-1s"},
        {nullptr, 5, nullptr, "-5"},
        {"x", 5, nullptr, "x-5"},
    };
    for (const auto& [prefix, number, suffix, name] : cases)
        EXPECT_EQ(Take(MakeName(prefix, number, suffix)), name);
}

}  // namespace
