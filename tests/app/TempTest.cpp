// Temp: seeding, label lengths and MakeName. The edges of Random and
// TempLabel are reached with a scripted rand() in ScriptedRandTest.cpp.
#include <zolib/app/Temp.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Takes ownership of a malloc'ed string.
std::string Take(char* text) {
    std::string out = text != nullptr ? text : "<null>";
    free(text);
    return out;
}

TEST(TempRandom, SeedsGiveTheSequence) {
    srand(77);
    int a1 = Random(0, 1000000);
    double a2 = Random(0.0, 1.0);
    std::string a3 = Take(TempLabel(12));
    srand(77);
    EXPECT_EQ(Random(0, 1000000), a1);
    EXPECT_EQ(Random(0.0, 1.0), a2);
    EXPECT_EQ(Take(TempLabel(12)), a3);
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(Random(5, 6), 5);
        ASSERT_EQ(Random(-7, -7), -7);
        double down = Random(4.0, 2.0);
        ASSERT_TRUE(down > 2.0 && down <= 4.0) << down;
    }
    // InitTemp seeds from the clock; retried if the second changes meanwhile.
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

TEST(TempLabel, Lengths) {
    EXPECT_EQ(Take(TempLabel(0)), "");
    for (int refused : {-1, INT_MIN, INT_MAX, (1 << 20) + 1})
        EXPECT_EQ(TempLabel(refused), nullptr) << refused;
    char* longest = TempLabel(1 << 20);
    ASSERT_NE(longest, nullptr);
    EXPECT_EQ(strlen(longest), size_t{1} << 20);
    EXPECT_EQ(strspn(longest, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"), size_t{1} << 20);
    free(longest);
}

TEST(TempMakeName, PrefixHyphenNumberSuffix) {
    std::string prefix(10000, 'p');
    struct {
        const char* prefix;
        long number;
        const char* suffix;
        std::string name;
    } cases[] = {
        {"a", 7, "b", "a-7b"},
        {"a", -3, "b", "a--3b"},
        {"", 12, "", "-12"},
        {"a", LONG_MIN, "b", "a-" + std::to_string(LONG_MIN) + "b"},
        {"a", LONG_MAX, "b", "a-" + std::to_string(LONG_MAX) + "b"},
        {prefix.c_str(), 1, "s", prefix + "-1s"},
        {nullptr, 5, nullptr, "-5"},
        {"x", 5, nullptr, "x-5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Take(MakeName(c.prefix, c.number, c.suffix)), c.name);
}

}  // namespace
