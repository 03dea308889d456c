#include <zolib/app/Temp.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

namespace {

const int DRAWS = 5000;  // misses a given value of ten with odds below 1e-200

// Takes ownership of a malloc'ed string.
std::string Take(char* text) {
    std::string out = text != nullptr ? text : "<null>";
    free(text);
    return out;
}

// ---- Random ----

TEST(TempRandomInt, CoversTheSpanButNeverHigh) {
    srand(1);
    std::set<int> seen;
    for (int i = 0; i < DRAWS; i++) {
        int r = Random(0, 10);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 9);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 10u);
}

TEST(TempRandomInt, ReversedSpanRunsDownToHighPlusOne) {
    srand(2);
    std::set<int> seen;
    for (int i = 0; i < DRAWS; i++) {
        int r = Random(10, 0);
        ASSERT_GE(r, 1);
        ASSERT_LE(r, 10);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 10u);
}

TEST(TempRandomInt, EmptyAndUnitSpansGiveLow) {
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(Random(5, 5), 5);
        ASSERT_EQ(Random(5, 6), 5);
        ASSERT_EQ(Random(-7, -7), -7);
    }
}

TEST(TempRandomDouble, HalfOpenInEitherDirection) {
    srand(5);
    for (int i = 0; i < DRAWS; i++) {
        double r = Random(2.0, 4.0);
        ASSERT_GE(r, 2.0);
        ASSERT_LT(r, 4.0);
        double down = Random(4.0, 2.0);
        ASSERT_GT(down, 2.0);
        ASSERT_LE(down, 4.0);
    }
    EXPECT_EQ(Random(2.0, 2.0), 2.0);
}

TEST(TempRandom, SameSeedSameSequence) {
    srand(77);
    int a1 = Random(0, 1000000);
    double a2 = Random(0.0, 1.0);
    std::string a3 = Take(TempLabel(12));
    srand(77);
    EXPECT_EQ(Random(0, 1000000), a1);
    EXPECT_EQ(Random(0.0, 1.0), a2);
    EXPECT_EQ(Take(TempLabel(12)), a3);
}

TEST(TempRandom, InitTempSeedsFromTheClock) {
    // Retried in case the second changes between reading the clock and seeding.
    for (int attempt = 0; attempt < 5; attempt++) {
        time_t before = time(nullptr);
        InitTemp();
        int drawn = rand();
        if (time(nullptr) != before) continue;
        srand(static_cast<unsigned int>(before));
        EXPECT_EQ(rand(), drawn);
        return;
    }
    FAIL() << "the clock kept changing second";
}

// ---- TempLabel ----

TEST(TempLabel, CapitalLettersOfTheAskedLength) {
    srand(6);
    std::set<char> letters;
    for (int i = 0; i < 200; i++) {
        char* label = TempLabel(8);
        ASSERT_NE(label, nullptr);
        ASSERT_EQ(strlen(label), 8u);
        for (int k = 0; k < 8; k++) {
            ASSERT_TRUE(label[k] >= 'A' && label[k] <= 'Z') << label;
            letters.insert(label[k]);
        }
        free(label);
    }
    EXPECT_EQ(letters.size(), 26u);  // the whole alphabet shows up
}

TEST(TempLabel, ZeroLengthIsTheEmptyString) {
    EXPECT_EQ(Take(TempLabel(0)), "");
}

TEST(TempLabel, AbsurdLengthsAreRefused) {
    EXPECT_EQ(TempLabel(-1), nullptr);
    EXPECT_EQ(TempLabel(INT_MIN), nullptr);
    EXPECT_EQ(TempLabel(INT_MAX), nullptr);
    EXPECT_EQ(TempLabel((1 << 20) + 1), nullptr);
    char* longest = TempLabel(1 << 20);
    ASSERT_NE(longest, nullptr);
    EXPECT_EQ(strlen(longest), static_cast<size_t>(1 << 20));
    free(longest);
}

// ---- MakeName ----

TEST(TempMakeName, PrefixHyphenNumberSuffix) {
    EXPECT_EQ(Take(MakeName("a", 7, "b")), "a-7b");
    EXPECT_EQ(Take(MakeName("a", -3, "b")), "a--3b");
    EXPECT_EQ(Take(MakeName("tmp", 0, ".dat")), "tmp-0.dat");
    EXPECT_EQ(Take(MakeName("", 12, "")), "-12");
}

TEST(TempMakeName, ExtremeNumbersFit) {
    EXPECT_EQ(Take(MakeName("a", LONG_MIN, "b")), "a-" + std::to_string(LONG_MIN) + "b");
    EXPECT_EQ(Take(MakeName("a", LONG_MAX, "b")), "a-" + std::to_string(LONG_MAX) + "b");
}

TEST(TempMakeName, LongPrefixAndNullTexts) {
    std::string prefix(10000, 'p');
    EXPECT_EQ(Take(MakeName(prefix.c_str(), 1, "s")), prefix + "-1s");
    EXPECT_EQ(Take(MakeName(nullptr, 5, nullptr)), "-5");
    EXPECT_EQ(Take(MakeName("x", 5, nullptr)), "x-5");
}

}  // namespace
