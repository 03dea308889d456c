#include <zolib/bag/Swap.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Swap, EveryWidth) {
    EXPECT_EQ(Endianess(), 0);
    short s = 0x0102;
    Swap(&s);
    EXPECT_EQ(s, 0x0201);
    unsigned short us = 0xA0B0;
    Swap(&us);
    EXPECT_EQ(us, 0xB0A0);
    int i = 0x01020304;
    Swap(&i);
    EXPECT_EQ(i, 0x04030201);
    unsigned int ui = 0xF1F2F3F4u;
    Swap(&ui);
    EXPECT_EQ(ui, 0xF4F3F2F1u);
    long long ll = 0x0102030405060708LL;
    Swap(&ll);
    EXPECT_EQ(ll, 0x0807060504030201LL);
    unsigned long long ull = 0xF1F2F3F4F5F6F7F8ULL;
    Swap(&ull);
    EXPECT_EQ(ull, 0xF8F7F6F5F4F3F2F1ULL);

    float f = 1.5f;
    Swap(&f);
    Swap(&f);
    EXPECT_EQ(f, 1.5f);
    double d = -2.25;
    unsigned char raw[8];
    memcpy(raw, &d, 8);
    Swap(&d);
    unsigned char swapped[8];
    memcpy(swapped, &d, 8);
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(swapped[k], raw[7 - k]);
}

TEST(Swap, ByteRuns) {
    unsigned char odd[] = {1, 2, 3, 4, 5};
    Swap(odd, 5);
    const unsigned char expect[] = {5, 4, 3, 2, 1};
    EXPECT_EQ(memcmp(odd, expect, 5), 0);
    unsigned char one[] = {9, 8};
    Swap(one, 1);
    Swap(one, 0);
    EXPECT_EQ(one[0], 9);
    EXPECT_EQ(one[1], 8);
    Swap(static_cast<int*>(nullptr));  // ignored
}

}  // namespace
