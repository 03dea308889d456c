// Temp with the C library's rand() and srand() replaced for this program, so
// that the edges of the random functions (rand() returning 0 or RAND_MAX) are
// reached on purpose instead of once in two billion draws, and the seed
// InitTemp gives can be read.
#include <zolib/app/Temp.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
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

// One draw per call; high never comes out, for a reversed span either: there
// u = 0.95 makes -9.5, which must become -9 (value 1), not -10.
TEST(TempRandom, EdgesNeverReachHighAndInitTempSeedsFromTheClock) {
    const int kTop = RAND_MAX, k95 = static_cast<int>(0.95 * (RAND_MAX + 1.0));
    const std::tuple<int, int, int, int> cases[] = {
        {0, 10, kTop, 9},
        {10, 0, k95, 1},
        {10, 0, 0, 10},
        {INT_MIN, INT_MAX, kTop, INT_MAX - 2},  // the span is no int
        {INT_MAX, INT_MIN, kTop, INT_MIN + 2},
    };
    for (const auto& [low, high, drawn, want] : cases) {
        Script({drawn});
        EXPECT_EQ(Random(low, high), want) << low << ".." << high << " " << drawn;
        EXPECT_EQ(draws, 1);
    }
    Script({kTop});
    EXPECT_LT(Random(0.0, 1.0), 1.0);
    InitTemp();
    EXPECT_NEAR(static_cast<double>(seed), static_cast<double>(time(nullptr)), 1.0);
}

// The smallest rand() value for each letter, and the one below it.
TEST(TempLabel, OneDrawPerLetterAtItsEdges) {
    auto edge = [](int i) { return static_cast<int>(std::ceil(i * (RAND_MAX + 1.0) / 26.0)); };
    Script({0, edge(1) - 1, edge(1), edge(13), edge(25) - 1, edge(25), RAND_MAX});
    EXPECT_EQ(Take(TempLabel(7)), "AABNYZZ");
    for (int refused : {-1, INT_MIN, (1 << 20) + 1})
        EXPECT_EQ(TempLabel(refused), nullptr) << refused;
    EXPECT_EQ(Take(TempLabel(1 << 20)).size(), size_t{1} << 20);
}

TEST(TempMakeName, PrefixHyphenNumberSuffix) {
    std::string longPrefix(10000, 'p');
    const std::tuple<const char*, long, const char*, std::string> cases[] = {
        {"a", 7, "b", "a-7b"},
        {"a", LONG_MIN, "b", "a-" + std::to_string(LONG_MIN) + "b"},
        {longPrefix.c_str(), 1, "s", longPrefix + "-1s"},
        {nullptr, 5, nullptr, "-5"},
        {"x", 5, nullptr, "x-5"},
    };
    for (const auto& [prefix, number, suffix, name] : cases)
        EXPECT_EQ(Take(MakeName(prefix, number, suffix)), name);
}

}  // namespace
