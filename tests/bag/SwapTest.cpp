#include <zolib/bag/Swap.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(Swap, ReversesEveryWidth) {
    EXPECT_EQ(Endianess(), __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 1 : 0);
    short s = 0x0102;
    Swap(&s);
    EXPECT_EQ(s, 0x0201);
    unsigned int u = 0xF1F2F3F4u;
    Swap(&u);
    EXPECT_EQ(u, 0xF4F3F2F1u);
    unsigned short us = 0xA1B2;
    Swap(&us);
    EXPECT_EQ(us, 0xB2A1);
    int i = 0x01020304;
    Swap(&i);
    EXPECT_EQ(i, 0x04030201);
    unsigned long long ull = 0xF1F2F3F4F5F6F7F8ull;
    Swap(&ull);
    EXPECT_EQ(ull, 0xF8F7F6F5F4F3F2F1ull);
    float f = 1.5f;  // 0x3FC00000
    Swap(&f);
    uint32_t bits;
    memcpy(&bits, &f, 4);
    EXPECT_EQ(bits, 0x0000C03Fu);
    long long ll = 0x0102030405060708LL;
    Swap(&ll);
    EXPECT_EQ(ll, 0x0807060504030201LL);
    double d = -2.25;
    unsigned char before[8], after[8];
    memcpy(before, &d, 8);
    Swap(&d);
    memcpy(after, &d, 8);
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(after[k], before[7 - k]);

    unsigned char run[] = {1, 2, 3, 4, 5};
    Swap(run, 5);
    EXPECT_EQ(memcmp(run, "\5\4\3\2\1", 5), 0);
    Swap(run, 1);
    Swap(run, 0);
    EXPECT_EQ(run[0], 5);
}

}  // namespace
