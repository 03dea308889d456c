#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>("zolib"[i % 5] + i / 97);
    return s;
}

TEST(ZipSize, BoundValues) {
    EXPECT_EQ(MaxZippedSize(0), 16u);
    EXPECT_EQ(MaxZippedSize(23), 41u);
    EXPECT_EQ(MaxZippedSize(100), 126u);
    EXPECT_EQ(MaxZippedSize(1000), 1116u);
    EXPECT_EQ(MaxZippedSize(4096), 4521u);
}

TEST(ZipBlock, RoundTripAndLayout) {
    std::string src = Pattern(100);
    unsigned long length = 0;
    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block, 4), std::string("\x64\0\0\0", 4));
    // The stream is exactly what compress2 writes at the default level.
    uLongf streamLength = compressBound(src.size());
    std::string expect(streamLength, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(&expect[0]), &streamLength,
                        reinterpret_cast<const Bytef*>(src.data()), src.size(), -1),
              Z_OK);
    EXPECT_EQ(std::string(block + 4, length - 4), expect.substr(0, streamLength));

    unsigned long back = 0;
    char* plain = Unzip(block, length, &back, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::string(plain, back), src);
    free(plain);
    // Into a caller's buffer, and shrunk to size.
    std::string out(src.size(), '\0');
    EXPECT_EQ(Unzip(block, length, &back, &out[0]), &out[0]);
    EXPECT_EQ(out, src);
    block = Zip(src.data(), src.size(), &length, 9, block, true);
    ASSERT_NE(block, nullptr);
    free(block);

    EXPECT_EQ(Zip(src.data(), src.size(), &length, 42, nullptr, false), nullptr);  // bad level
    char* empty = Zip(nullptr, 0, &length, -1, nullptr, false);
    ASSERT_NE(empty, nullptr);
    char* none = Unzip(empty, length, &back, nullptr);
    EXPECT_TRUE(none != nullptr && back == 0);
    free(none);
    free(empty);
}

TEST(ZipUntrusted, ShortAndDamagedBlocksFail) {
    unsigned long back = 7;
    const char tiny[] = {1, 0, 0, 0, 0};
    EXPECT_EQ(Unzip(tiny, 4, &back, nullptr), nullptr);
    EXPECT_EQ(Unzip(tiny, 0, &back, nullptr), nullptr);

    std::string src = Pattern(500);
    unsigned long length = 0;
    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    for (unsigned long cut = 5; cut < length; cut++)  // every truncation
        EXPECT_EQ(Unzip(block, cut, &back, nullptr), nullptr) << cut;
    block[length / 2] ^= 0x55;
    EXPECT_EQ(Unzip(block, length, &back, nullptr), nullptr);
    std::string dst(src.size(), '\0');  // into the caller's buffer as well
    EXPECT_EQ(Unzip(block, length, &back, &dst[0]), nullptr);
    free(block);
}

TEST(ZipUntrusted, LyingLengths) {
    std::string src = Pattern(3000);
    unsigned long length = 0;
    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    unsigned long back = 0;

    // A claim below the real length: the output does not fit.
    uint32_t small = 2999;
    memcpy(block, &small, 4);
    EXPECT_EQ(Unzip(block, length, &back, nullptr), nullptr);

    // A huge claim over a real stream: what the stream makes is returned, and
    // the allocation follows the stream, not the claim.
    uint32_t huge = 0xFFFFFFF0u;
    memcpy(block, &huge, 4);
    char* plain = Unzip(block, length, &back, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(back, 3000u);
    EXPECT_EQ(std::string(plain, back), src);
    EXPECT_LT(malloc_usable_size(plain), 1u << 20);
    free(plain);

    // A stream that inflates far (zeros) under a claim far above that.
    std::string zeros(1 << 20, '\0');
    char* bomb = Zip(zeros.data(), zeros.size(), &length, -1, nullptr, false);
    ASSERT_NE(bomb, nullptr);
    memcpy(bomb, &huge, 4);
    plain = Unzip(bomb, length, &back, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(back, zeros.size());
    EXPECT_LT(malloc_usable_size(plain), 8u << 20);
    free(plain);
    free(bomb);
    free(block);
}

}  // namespace
