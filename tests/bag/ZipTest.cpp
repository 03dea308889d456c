#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A 32-bit word as the byte forms hold it on every host: little-endian.
uint32_t Le32(uint32_t v) {
    return __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? __builtin_bswap32(v) : v;
}

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

// Data that compresses well, poorly and not at all.
std::string Mixed(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = (i / 64) % 3 == 0 ? static_cast<char>(x >> 16) : "ZoLib flat bag "[(x >> 20) % 15];
    }
    return s;
}

std::string Compress2(const std::string& src, int level) {
    uLongf length = compressBound(src.size());
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
                  reinterpret_cast<const Bytef*>(src.data()), src.size(), level) != Z_OK)
        return "failed";
    out.resize(length);
    return out;
}

// Zip keeps its compression state between calls; the stream must still be
// exactly what compress2 writes, whatever came before: other sizes, other
// levels, a refused level.
TEST(ZipStream, SameBytesAsCompress2) {
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 300; n++)
        sizes.push_back(n);
    for (size_t n : {1000, 4095, 4096, 16383, 16384, 65536, 100000, 1 << 20})
        sizes.push_back(n);
    const int levels[] = {-1, -1, 9, -1, 0, 1, -1};
    unsigned long length = 0;
    for (size_t i = 0; i < sizes.size(); i++) {
        std::string src = i % 2 ? Mixed(sizes[i], i) : Pattern(sizes[i]);
        int level = levels[i % 7];
        if (i % 50 == 0) {
            EXPECT_EQ(Zip(src.data(), src.size(), &length, 42, nullptr, false), nullptr);
        }
        char* block = Zip(src.data(), src.size(), &length, level, nullptr, false);
        ASSERT_NE(block, nullptr) << sizes[i];
        EXPECT_EQ(std::string(block + 4, length - 4), Compress2(src, level))
            << "size " << sizes[i] << " level " << level;
        unsigned long back = 0;
        char* plain = Unzip(block, length, &back, nullptr);
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(std::string(plain, back), src);
        free(plain);
        free(block);
    }
}

// Unzip keeps its decompression state too; into a block of the claimed
// length it must give what uncompress gives, for good and bad streams alike.
TEST(ZipStream, SameResultsAsUncompress) {
    std::string src = Mixed(5000, 7);
    unsigned long length = 0;
    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    std::string good(block, length);
    free(block);
    std::vector<std::string> cases;
    for (uint32_t claim : {0u, 1u, 4999u, 5000u, 5001u, 20000u}) {
        std::string c = good;
        uint32_t word = Le32(claim);
        memcpy(&c[0], &word, 4);
        cases.push_back(c);
    }
    for (size_t cut = 5; cut < good.size(); cut += 37)
        cases.push_back(good.substr(0, cut));
    for (size_t at = 4; at < good.size(); at += 41) {
        std::string c = good;
        c[at] ^= 0x10;
        cases.push_back(c);
    }
    for (const std::string& c : cases) {
        uint32_t claim;
        memcpy(&claim, c.data(), 4);
        claim = Le32(claim);
        std::string expect(claim + 1, '\0');
        uLongf expectLength = claim;
        int result = uncompress(reinterpret_cast<Bytef*>(&expect[0]), &expectLength,
                                reinterpret_cast<const Bytef*>(c.data() + 4), c.size() - 4);
        std::string got(claim + 1, '\0');
        unsigned long gotLength = 0;
        char* out = Unzip(c.data(), c.size(), &gotLength, &got[0]);
        ASSERT_EQ(out != nullptr, result == Z_OK) << "claim " << claim << " size " << c.size();
        if (out != nullptr) {
            EXPECT_EQ(gotLength, expectLength);
            EXPECT_EQ(got.substr(0, gotLength), expect.substr(0, expectLength));
        }
    }
}

TEST(ZipBlock, RefusesBadArguments) {
    unsigned long length = 7;
    EXPECT_EQ(Zip("abc", 3, nullptr, -1, nullptr, false), nullptr);  // nowhere to put the length
    EXPECT_EQ(Zip(nullptr, 3, &length, -1, nullptr, false), nullptr);
    EXPECT_EQ(length, 7u);
    char* empty = Zip(nullptr, 0, &length, -1, nullptr, true);  // nothing to compress is fine
    ASSERT_NE(empty, nullptr);
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
    uint32_t small = Le32(2999);
    memcpy(block, &small, 4);
    EXPECT_EQ(Unzip(block, length, &back, nullptr), nullptr);

    // A huge claim over a real stream: what the stream makes is returned, and
    // the allocation follows the stream, not the claim.
    uint32_t huge = Le32(0xFFFFFFF0u);
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
