// Zip blocks: the length word, then exactly the stream compress2 writes;
// Unzip gives what uncompress gives, and a claimed length does not decide
// what it allocates. Each thread keeps its zlib state between calls, so the
// sweep runs calls of every kind one after the other.
#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>

#include "bag/FlatBytes.h"

namespace {

using std::string;

TEST(ZipSize, BoundValues) {
    const unsigned long cases[][2] = {{0, 16}, {23, 41}, {100, 126}, {1000, 1116}, {4096, 4521}};
    for (const auto& c : cases)
        EXPECT_EQ(MaxZippedSize(c[0]), c[1]) << c[0];
}

// Every size up to 300 and some large ones, at several levels, a refused
// level now and then. Each block unzips back, into a new block or the
// caller's; cut, damaged or claiming another length, it gives what
// uncompress gives into a block of the claimed length.
TEST(ZipStream, SameAsZlibsOneShotCalls) {
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 300; n++)
        sizes.push_back(n);
    for (size_t n : {1000, 4095, 4096, 16383, 16384, 65536, 100000})
        sizes.push_back(n);
    const int levels[] = {-1, -1, 9, -1, 0, 1, -1};
    for (size_t i = 0; i < sizes.size(); i++) {
        string src = Mixed(sizes[i], static_cast<unsigned>(i) % 3);
        int level = levels[i % 7];
        SCOPED_TRACE("size " + std::to_string(sizes[i]) + " level " + std::to_string(level));
        unsigned long length = 0;
        EXPECT_TRUE(i % 50 || !Zip(src.data(), src.size(), &length, 42, nullptr, false));
        char* block = Zip(src.data(), src.size(), &length, level, nullptr, i % 2 == 0);
        ASSERT_NE(block, nullptr);
        string stream = Compress2(src, level), flipped = stream;
        EXPECT_EQ(string(block, length), Le32(static_cast<uint32_t>(src.size())) + stream);
        free(block);
        flipped[stream.size() / 2] ^= 0x10;
        uint32_t size = static_cast<uint32_t>(src.size());
        const std::pair<uint32_t, string> blocks[] = {{size, stream},
                                                      {size / 2, stream},
                                                      {0, stream},
                                                      {size + 9, stream},
                                                      {size, stream.substr(0, stream.size() / 2)},
                                                      {size, flipped},
                                                      {size, ""}};
        for (const auto& [claim, bytes] : blocks) {
            string expect(claim + 1, '\0'), got(claim + 1, '\0'), zipped = Le32(claim) + bytes;
            uLongf expectLength = claim;
            bool ok =
                !bytes.empty() &&
                uncompress(reinterpret_cast<Bytef*>(&expect[0]), &expectLength,
                           reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()) == Z_OK;
            unsigned long gotLength = 0, ownLength = 0;
            char* own = Unzip(zipped.data(), zipped.size(), &ownLength, nullptr);
            ASSERT_EQ(Unzip(zipped.data(), zipped.size(), &gotLength, &got[0]) != nullptr, ok);
            ASSERT_EQ(own != nullptr, ok) << "claim " << claim;
            EXPECT_TRUE(!ok || (got.substr(0, gotLength) == expect.substr(0, expectLength) &&
                                string(own, ownLength) == got.substr(0, gotLength)));
            free(own);
        }
    }
}

TEST(ZipUntrusted, BadArgumentsAndHugeClaims) {
    unsigned long length = 7;
    EXPECT_EQ(Zip("abc", 3, nullptr, -1, nullptr, false), nullptr);
    EXPECT_EQ(Zip(nullptr, 3, &length, -1, nullptr, false), nullptr);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(Unzip(nullptr, 10, &length, nullptr), nullptr);
    char* nothing = Zip(nullptr, 0, &length, -1, nullptr, true);  // nothing to compress is fine
    EXPECT_TRUE(nothing != nullptr && length > 4);
    free(nothing);
    // A huge claim over a real stream: the allocation follows the stream,
    // also for one that inflates far (zeros).
    for (const string& src : {Mixed(3000, 1), string(1 << 20, '\0')}) {
        string block = Le32(0xFFFFFFF0u) + Compress2(src, -1);
        char* plain = Unzip(block.data(), block.size(), &length, nullptr);
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(string(plain, length), src);
        EXPECT_LT(malloc_usable_size(plain), src.size() + (1u << 20));
        free(plain);
    }
}

}  // namespace
