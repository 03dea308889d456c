// Bags written on every architecture the library builds for read back the
// same on every other, and write the same bytes again: the byte forms are
// little-endian everywhere.
#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "bag/Fixtures.h"

namespace {

using std::string;

string Slurp(const string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return string(std::istreambuf_iterator<char>(in), {});
}

// Same header words, items, types and element values as host values, nested
// bags compared the same way once rebuilt.
void ExpectSameBag(ZoBag& got, ZoBag& want, const string& where) {
    EXPECT_EQ(got.what, want.what) << where;
    EXPECT_EQ(got.who, want.who) << where;
    EXPECT_EQ(got.when, want.when) << where;
    ASSERT_EQ(got.CountItems(), want.CountItems()) << where;
    for (int i = 0; i < want.CountItems(); i++) {
        char *name, *gotName;
        T_Data type, gotType;
        int count, gotCount;
        ASSERT_TRUE(want.GetInfo(i, &name, &type, &count));
        ASSERT_TRUE(got.GetInfo(i, &gotName, &gotType, &gotCount));
        string at = where + "/" + name;
        ASSERT_STREQ(gotName, name) << at;
        ASSERT_EQ(gotType, type) << at;
        ASSERT_EQ(gotCount, count) << at;
        for (int k = 1; k <= count; k++) {
            void *data, *gotData;
            int size, gotSize;
            ASSERT_TRUE(want.Getdata(name, type, &data, &size, k));
            ASSERT_TRUE(got.Getdata(name, type, &gotData, &gotSize, k));
            ASSERT_EQ(gotSize, size) << at << "#" << k;
            EXPECT_EQ(memcmp(gotData, data, size), 0) << at << "#" << k;
            if (type != T_BAG) continue;
            ZoBag *gotBag = nullptr, *wantBag = nullptr;
            ASSERT_TRUE(got.Getbag(name, &gotBag, k));
            ASSERT_TRUE(want.Getbag(name, &wantBag, k));
            ExpectSameBag(*gotBag, *wantBag, at + "#" + std::to_string(k));
            delete gotBag;
            delete wantBag;
        }
    }
}

TEST(FixtureTest, EveryArchitecturesBagsReadAndWriteTheSame) {
    auto want = FixtureBag();
    // Spot checks that do not go through a second flat form.
    long long int64 = 0;
    double float64 = 0;
    ASSERT_TRUE(want->Getint64("int64", &int64, 1) && want->Getfloat64("float64", &float64, 2));
    EXPECT_EQ(int64, 0x0102030405060708LL);
    EXPECT_EQ(float64, -1e300);
    string tmp = testing::TempDir() + "zolib-fixture-" + std::to_string(getpid()) + ".bag";
    for (const char* arch : {"amd64", "armhf", "arm64", "s390x"}) {
        string dir = string(ZOLIB_FIXTURES) + "/" + arch + "/";
        string plain = Slurp(dir + kFixturePlain);
        string zipped = Slurp(dir + kFixtureZipped);
        string file = Slurp(dir + kFixtureFile);

        ZoBag fromPlain(0, 0), fromZipped(0, 0);
        ASSERT_TRUE(fromPlain.Unflatten(plain.data(), plain.size())) << arch;
        ASSERT_TRUE(fromZipped.Unflatten(zipped.data(), zipped.size())) << arch;
        ZoBag* fromFile = LoadFromFile((dir + kFixtureFile).c_str());
        ASSERT_NE(fromFile, nullptr) << arch;
        std::unique_ptr<ZoBag> owned(fromFile);
        ExpectSameBag(fromPlain, *want, string(arch) + ":plain");
        ExpectSameBag(fromZipped, *want, string(arch) + ":zipped");
        ExpectSameBag(*fromFile, *want, string(arch) + ":file");

        // Written again here, each form gives the other host's bytes.
        string again(fromPlain.FlatSize(false), '\0');
        ASSERT_TRUE(fromPlain.Flatten(&again[0], nullptr, false));
        EXPECT_TRUE(again == plain) << arch << ": plain form differs";
        string zippedAgain(fromZipped.FlatSize(true), '\0');
        unsigned long size = 0;
        ASSERT_TRUE(fromZipped.Flatten(&zippedAgain[0], &size, true));
        zippedAgain.resize(size);
        EXPECT_TRUE(zippedAgain == zipped) << arch << ": compressed form differs";
        ASSERT_TRUE(SaveToFile(tmp.c_str(), fromFile));
        EXPECT_TRUE(Slurp(tmp) == file) << arch << ": bag file differs";
    }
    remove(tmp.c_str());
}

}  // namespace
