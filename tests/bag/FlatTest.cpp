#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bag/FlatBytes.h"
#include "support/Bytes.h"

namespace {

using std::string;

const auto U32 = Le32;

string H(const char* name) {
    return U32(static_cast<uint32_t>(ZoBag::Hash(name)));
}

const string kPlainLead("BaG\0", 4);

using zotest::Compressed;
using zotest::Plain;

// The compressed form as it must be: the plain body, carrying its own length
// in the size field, behind "BaG", flag 1 and that length, through compress2.
string ExpectedCompressed(const string& plain) {
    string body = plain.substr(4);
    body.replace(12, 4, U32(static_cast<uint32_t>(body.size())));
    uLongf length = compressBound(body.size());
    string stream(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&stream[0]), &length,
                        reinterpret_cast<const Bytef*>(body.data()), body.size(), -1),
              Z_OK);
    return string("BaG\x01", 4) + U32(static_cast<uint32_t>(body.size())) +
           stream.substr(0, length);
}

// what 0x1234, one T_INT32 item "n" holding 7.
const string kWorkedExample(
    "\x42\x61\x47\x00\x34\x12\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x31\x00\x00\x00\x01\x00\x00"
    "\x00\x6E\x00\x00\x00\x01\x00\x00\x00\x6E\x04\x00\x00\x00\x01\x00\x00\x00\x04\x00\x00\x00\x07"
    "\x00\x00\x00",
    49);

std::vector<string> Names(ZoBag& bag) {
    std::vector<string> out;
    char* name;
    for (int i = 0; bag.GetInfo(i, &name, nullptr, nullptr); i++)
        out.push_back(name);
    return out;
}

// Every element type, several elements, header words and a nested bag.
void FillEveryType(ZoBag& bag) {
    static int target;
    bag.who = 0xCAFE;
    bag.when = static_cast<uint32_t>(-5);
    bag.Setbool("b", true, 0);
    bag.Setint8("i8", -8, 0);
    bag.Setint16("i16", -1600, 0);
    bag.Setint32("i32", -320000, 0);
    bag.Setint32("i32", 7, 0);
    bag.Setint64("i64", -6400000000LL, 0);
    bag.Setfloat32("f32", 1.5f, 0);
    bag.Setfloat64("f64", -2.25, 0);
    bag.Setpointer("p", &target, 0);
    bag.Setstring("s", "hello", 0);
    bag.Setstring("s", "", 0);
    bag.Setdata("buf", T_BUFFER, "\0\1\2", 3, 0);
    bag.Setdata("buf", T_BUFFER, nullptr, 0, 0);
    ZoBag inner(0x99, 0);
    inner.Setstring("deep", "down", 0);
    bag.Setbag("bag", &inner, 0);
}

// Three bags and their exact plain bytes; the compressed form of each is the
// plain body, holding its own length in the size field, through compress2.
TEST(FlatForm, LayoutOfBothForms) {
    ZoBag empty(0x0A0B0C0D, 0), inner(0x1234, 0), outer(0x77, 0);
    empty.who = 1;
    empty.when = 2;
    inner.Setint32("n", 7, 0);
    outer.Setstring("hi", "hi", 0);
    ASSERT_TRUE(outer.Setbag("sub", &inner, 0));
    // Names go without their NUL, string payloads with it; a nested bag is
    // its plain flat form.
    string hi = H("hi") + U32(2) + "hi" + U32(T_STRING) + U32(1) + U32(3) + string("hi\0", 3);
    string sub = H("sub") + U32(3) + "sub" + U32(T_BAG) + U32(1) + U32(49) + kWorkedExample;
    const std::pair<ZoBag*, string> cases[] = {
        {&empty, kPlainLead + U32(0x0A0B0C0D) + U32(1) + U32(2) + U32(24) + U32(0)},
        {&inner, kWorkedExample},
        {&outer, kPlainLead + U32(0x77) + U32(0) + U32(0) +
                     U32(static_cast<uint32_t>(24 + hi.size() + sub.size())) + U32(2) + hi + sub},
    };
    for (const auto& [bag, plain] : cases) {
        EXPECT_EQ(Plain(*bag), plain);
        EXPECT_EQ(bag->FlatSize(false), plain.size());
        EXPECT_EQ(Compressed(*bag), ExpectedCompressed(plain));
    }
    EXPECT_EQ(empty.FlatSize(true), MaxZippedSize(23) + 1);
    EXPECT_EQ(Compressed(empty).substr(4, 4), U32(20));
    inner.Setint32("n", 8, 1);  // the stored element was a snapshot
    EXPECT_EQ(Plain(outer), cases[2].second);
}

TEST(FlatForm, EveryTypeRoundTripsInBothForms) {
    ZoBag bag(0xABCD, 0);
    FillEveryType(bag);
    string plain = Plain(bag);
    for (const string& flat : {plain, Compressed(bag)}) {
        ZoBag back(0, 0);
        ASSERT_TRUE(back.Unflatten(flat.data(), flat.size()));
        EXPECT_EQ(back.what, 0xABCDu);
        EXPECT_EQ(back.who, 0xCAFEu);
        EXPECT_EQ(back.when, static_cast<uint32_t>(-5));
        EXPECT_EQ(Plain(back), plain);  // order, names, hashes, types, every byte
        long long i64 = 0;
        EXPECT_TRUE(back.Getint64("i64", &i64, 1) && i64 == -6400000000LL);
        ZoBag* inner = nullptr;
        ASSERT_TRUE(back.Getbag("bag", &inner, 1));
        EXPECT_EQ(inner->what, 0x99u);
        delete inner;
    }
}

TEST(FlatForm, UnflattenKeepsWhatItReads) {
    // Items are appended, not merged; stored hashes are kept, not recomputed.
    ZoBag other(5, 0);
    other.Setint32("x", 2, 0);
    other.Setint32("n", 3, 0);
    string flat = Plain(other);
    flat.replace(flat.rfind("n") - 8, 4, H("zz"));
    ZoBag bag(0, 0);
    bag.Setint32("x", 1, 0);
    ASSERT_TRUE(bag.Unflatten(flat.data(), flat.size()));
    EXPECT_EQ(bag.what, 5u);
    EXPECT_EQ(Names(bag), (std::vector<string>{"x", "x", "n"}));
    int v = 0;
    EXPECT_TRUE(bag.Getint32("x", &v, 1) && v == 1);  // the older "x"
    EXPECT_FALSE(bag.HasItem("n", nullptr));
    EXPECT_TRUE(bag.Getint32("zz", &v, 1) && v == 3);
}

TEST(FlatNested, GetbagGivesNewIndependentBags) {
    ZoBag inner(1, 0);
    inner.Setint32("n", 1, 0);
    ZoBag outer(0, 0);
    ASSERT_TRUE(outer.Setbag("sub", &inner, 0));
    ZoBag* a = nullptr;
    ZoBag* b = nullptr;
    ASSERT_TRUE(outer.Getbag("sub", &a, 1));
    a->Setint32("n", 99, 1);
    ASSERT_TRUE(outer.Getbag("sub", &b, 1));
    int v = 0;
    EXPECT_TRUE(b->Getint32("n", &v, 1) && v == 1);
    delete a;
    delete b;

    // A nested bag may also hold the compressed form.
    string zipped = Compressed(inner);
    outer.Setdata("z", T_BAG, zipped.data(), static_cast<int>(zipped.size()), 0);
    ASSERT_TRUE(outer.Getbag("z", &a, 1));
    EXPECT_EQ(a->what, 1u);
    delete a;
}

TEST(FlatNested, GetbagFailures) {
    ZoBag outer(0, 0);
    ZoBag* got = &outer;
    EXPECT_FALSE(outer.Getbag("none", &got, 1));
    EXPECT_EQ(got, &outer);  // untouched when there is no element
    EXPECT_FALSE(outer.Setbag("sub", nullptr, 0));
    // A nested bag whose item count lies.
    ZoBag inner(1, 0);
    inner.Setint32("n", 1, 0);
    string flat = Plain(inner);
    flat.replace(20, 4, U32(1000));
    outer.Setdata("liar", T_BAG, flat.data(), static_cast<int>(flat.size()), 0);
    EXPECT_FALSE(outer.Getbag("liar", &got, 1));
    EXPECT_EQ(got, nullptr);
}

TEST(FlatPeek, HeaderOfPlainBagsOnly) {
    EXPECT_TRUE(IsABag("BaG\x07", 4));  // whatever the flag
    EXPECT_FALSE(IsABag("BaG", 3));
    EXPECT_FALSE(IsABag("Bag\0", 4));
    EXPECT_FALSE(IsABag(nullptr, 10));

    ZoBag bag(0x1234, 0);
    bag.who = 0x55;
    bag.when = 9;
    bag.Setint32("n", 7, 0);
    string flat = Plain(bag);
    unsigned long what = 0, who = 0, when = 0;
    int count = -1;
    EXPECT_TRUE(PeekInFlatBag(flat.data(), flat.size(), &what, &who, &when, &count));
    EXPECT_EQ(what + who + when, 0x1234u + 0x55 + 9);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(PeekInFlatBag(flat.data(), flat.size(), nullptr, nullptr, nullptr, nullptr));
    // One byte off: the header words are given, the count is not.
    what = 0;
    count = -1;
    EXPECT_FALSE(PeekInFlatBag(flat.data(), flat.size() - 1, &what, nullptr, nullptr, &count));
    EXPECT_EQ(what, 0x1234u);
    EXPECT_EQ(count, -1);
    flat.push_back('\0');
    EXPECT_FALSE(PeekInFlatBag(flat.data(), flat.size(), nullptr, nullptr, nullptr, nullptr));
    what = 0;
    string zipped = Compressed(bag);
    EXPECT_FALSE(PeekInFlatBag(zipped.data(), zipped.size(), &what, nullptr, nullptr, nullptr));
    EXPECT_FALSE(PeekInFlatBag(flat.data(), 23, &what, nullptr, nullptr, nullptr));
    EXPECT_EQ(what, 0u);
}

TEST(FlatRecords, WriteAndReadBack) {
    ZoBag bag(0, 0);
    bag.Setstring("word", "ab", 0);
    bag.Setstring("word", "cde", 0);
    string records = Plain(bag).substr(24);
    T_Item* item = nullptr;
    EXPECT_EQ(UnflattenItem(&item, records.data()), records.data() + records.size());
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->name, "word");
    EXPECT_EQ(FlatSizeItem(item), records.size());
    EXPECT_EQ(FlatSizeIndex(nullptr), 0u);
    string again(records.size(), '\0');
    EXPECT_EQ(FlattenItem(item, &again[0]), &again[0] + again.size());
    EXPECT_EQ(again, records);
    T_Elem* elem = nullptr;
    const char* at = records.data() + 27;  // the second element record
    EXPECT_EQ(UnflattenIndex(&elem, at, 0), at + 8);
    EXPECT_STREQ(static_cast<char*>(elem->data), "cde");
    FreeIndex(elem);
    FreeIndex(item->first);
    free(item->name);
    free(item);

    string empty = U32(0) + U32(0) + U32(T_INT32) + U32(0);  // an item with no element
    EXPECT_EQ(UnflattenItem(&item, empty.data()), nullptr);
    EXPECT_EQ(item, nullptr);
}

// ---- bytes that lie ----

// Unflatten must fail, leave the existing item alone and add nothing.
void ExpectRefused(const string& flat) {
    ZoBag bag(0, 0);
    bag.Setint32("kept", 1, 0);
    EXPECT_FALSE(bag.Unflatten(flat.data(), flat.size()));
    EXPECT_EQ(Names(bag), std::vector<string>{"kept"});
}

// A plain flat bag of these records, with a size field that agrees.
string WithHeader(uint32_t count, const string& records) {
    return kPlainLead + U32(1) + U32(2) + U32(3) + U32(static_cast<uint32_t>(24 + records.size())) +
           U32(count) + records;
}

TEST(FlatUntrusted, SizeFieldMustMatch) {
    ExpectRefused(kWorkedExample.substr(0, 48));
    ExpectRefused(kWorkedExample + '\0');
    ExpectRefused("");
    ExpectRefused(string("BaG\0\1\2\3\4\5\6", 10));
    ZoBag bag(0, 0);
    EXPECT_FALSE(bag.Unflatten(kWorkedExample.data(), 48));
    EXPECT_EQ(bag.what, 0x1234u);  // taken before the check
}

TEST(FlatUntrusted, LyingCountsAndLengths) {
    string n = H("n") + U32(1) + "n" + U32(T_INT32);
    string item = n + U32(1) + U32(4) + U32(7);
    ZoBag good(0, 0);
    string ok = WithHeader(1, item);
    EXPECT_TRUE(good.Unflatten(ok.data(), ok.size()));

    ExpectRefused(WithHeader(0x7FFFFFFF, item));  // more items than bytes
    ExpectRefused(WithHeader(2, item));
    ExpectRefused(WithHeader(0xFFFFFFFF, item));  // negative
    ExpectRefused(WithHeader(1, n + U32(0x7FFFFFFF) + U32(4) + U32(7)));
    ExpectRefused(WithHeader(1, n + U32(0) + U32(4) + U32(7)));  // an empty item
    ExpectRefused(WithHeader(1, n + U32(0x80000000)));
    ExpectRefused(WithHeader(1, n + U32(1) + U32(0xFFFFFFFF) + U32(7)));  // element size
    ExpectRefused(WithHeader(1, H("n") + U32(0xFFFFFFF0) + "n" + U32(T_INT32) + U32(1)));
    ExpectRefused(WithHeader(2, item + n + U32(1) + U32(9)));  // a good item, then a bad one
}

TEST(FlatUntrusted, CompressedBodiesThatLie) {
    ZoBag source(0x10, 0);
    FillEveryType(source);
    string zipped = Compressed(source);
    // The claimed body length only bounds the output: a larger claim still reads.
    string larger = zipped;
    larger.replace(4, 4, U32(0x7FFFFFFF));
    ZoBag back(0, 0);
    EXPECT_TRUE(back.Unflatten(larger.data(), larger.size()));
    EXPECT_EQ(Plain(back), Plain(source));
    string smaller = zipped;
    smaller.replace(4, 4, U32(20));
    ExpectRefused(smaller);
    ExpectRefused(zipped.substr(0, zipped.size() - 1));
    ExpectRefused(zipped.substr(0, 8));

    // A sound stream of a body whose records lie.
    string body = WithHeader(1, H("n") + U32(0xFFFF) + "n").substr(4);
    body.replace(12, 4, U32(static_cast<uint32_t>(body.size())));
    unsigned long length = 0;
    char* block = Zip(body.data(), body.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    ExpectRefused(string("BaG\x01", 4) + string(block, length));
    free(block);
}

// ---- bag files ----

class BagFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir), nullptr); }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + string(dir)).c_str()), 0); }
    string Path(const string& name) { return string(dir) + "/" + name; }
    string Read(const string& name) {
        string out(1 << 16, '\0');
        FILE* f = fopen(Path(name).c_str(), "r");
        out.resize(fread(&out[0], 1, out.size(), f));
        fclose(f);
        return out;
    }
    void Write(const string& name, const string& bytes) {
        FILE* f = fopen(Path(name).c_str(), "w");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }

    char dir[32] = "/tmp/zolib-bagfile-XXXXXX";
};

TEST_F(BagFile, LayoutAndRoundTrip) {
    ZoBag empty(0, 0);
    ASSERT_TRUE(SaveToFile(Path("empty").c_str(), &empty));
    string zipped = Compressed(empty);
    EXPECT_EQ(Read("empty"), U32(static_cast<uint32_t>(zipped.size())) + zipped);

    ZoBag bag(0x5150, 0);
    FillEveryType(bag);
    ASSERT_TRUE(SaveToFile(Path("full").c_str(), &bag));
    ZoBag* back = LoadFromFile(Path("full").c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->what, 0x5150u);
    EXPECT_EQ(Plain(*back), Plain(bag));  // who, when and every item too
    delete back;
    ASSERT_TRUE(SaveToFile(Path("full").c_str(), &empty));  // truncates
    EXPECT_EQ(Read("full"), Read("empty"));

    EXPECT_FALSE(SaveToFile(Path("none").c_str(), nullptr));
    EXPECT_FALSE(SaveToFile(Path("no/such/dir").c_str(), &bag));
    EXPECT_EQ(LoadFromFile(Path("missing").c_str()), nullptr);
}

TEST_F(BagFile, DamagedFilesGiveEmptyBags) {
    ZoBag bag(0x77, 0);
    FillEveryType(bag);
    ASSERT_TRUE(SaveToFile(Path("good").c_str(), &bag));
    string good = Read("good");
    string flipped = good;
    flipped[good.size() / 2] ^= 0x40;
    const string damaged[] = {
        "",
        "\x10",
        good.substr(0, 4),
        U32(0),
        good.substr(0, good.size() - 1),       // shorter than its length word
        U32(0xFFFFFFFF) + good.substr(4, 20),  // a length word that lies
        flipped,
    };
    for (const string& bytes : damaged) {
        Write("bad", bytes);
        ZoBag* back = LoadFromFile(Path("bad").c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->CountItems(), 0) << bytes.size();
        delete back;
    }
}

}  // namespace
