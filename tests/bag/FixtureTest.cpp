// Bags written on every architecture the library builds for read back the
// same on every other, and write the same bytes again: the byte forms are
// little-endian everywhere.
#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "bag/Fixtures.h"
#include "support/Bytes.h"

namespace {

using std::string;
using zotest::Compressed;
using zotest::Plain;

string Slurp(const string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return string(std::istreambuf_iterator<char>(in), {});
}

// The bag made here flattens to each host's bytes, and what each host wrote
// reads back to host values (the typed getters, a nested bag rebuilt) and
// flattens, compresses and saves to the very same bytes.
TEST(FixtureTest, EveryArchitecturesBagsReadAndWriteTheSame) {
    auto want = FixtureBag();
    string tmp = testing::TempDir() + "zolib-fixture-" + std::to_string(getpid()) + ".bag";
    for (const char* arch : {"amd64", "armhf", "arm64", "s390x"}) {
        SCOPED_TRACE(arch);
        string dir = string(ZOLIB_FIXTURES) + "/" + arch + "/";
        string plain = Slurp(dir + kFixturePlain), zipped = Slurp(dir + kFixtureZipped);
        EXPECT_TRUE(Plain(*want) == plain);
        ZoBag fromPlain(0, 0), fromZipped(0, 0);
        ASSERT_TRUE(fromPlain.Unflatten(plain.data(), plain.size()));
        ASSERT_TRUE(fromZipped.Unflatten(zipped.data(), zipped.size()));
        std::unique_ptr<ZoBag> fromFile(LoadFromFile((dir + kFixtureFile).c_str()));
        ASSERT_NE(fromFile, nullptr);
        for (ZoBag* bag : {&fromPlain, &fromZipped, fromFile.get()}) {
            EXPECT_TRUE(Plain(*bag) == plain);
            long long int64 = 0;
            double float64 = 0;
            EXPECT_TRUE(bag->Getint64("int64", &int64, 1) && int64 == 0x0102030405060708LL);
            EXPECT_TRUE(bag->Getfloat64("float64", &float64, 2) && float64 == -1e300);
            ZoBag *inner = nullptr, *deeper = nullptr;
            ASSERT_TRUE(bag->Getbag("bag", &inner, 1));
            short value = 0;
            EXPECT_TRUE(inner->Getbag("deeper", &deeper, 1) &&
                        deeper->Getint16("short", &value, 1));
            EXPECT_EQ(value, 0x0102);
            delete inner;
            delete deeper;
        }
        EXPECT_TRUE(Compressed(fromZipped) == zipped);
        ASSERT_TRUE(SaveToFile(tmp.c_str(), fromFile.get()));
        EXPECT_TRUE(Slurp(tmp) == Slurp(dir + kFixtureFile));
    }
    remove(tmp.c_str());
}

}  // namespace
