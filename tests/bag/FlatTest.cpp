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

namespace {

// Little-endian byte strings, written field by field.
struct Bytes {
    std::string s;
    Bytes& u32(uint32_t v) {
        s.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    Bytes& raw(const std::string& text) {
        s += text;
        return *this;
    }
};

std::string Plain(ZoBag& bag) {
    std::string out(bag.FlatSize(false), '\0');
    EXPECT_TRUE(bag.Flatten(&out[0], nullptr, false));
    return out;
}

std::string Compressed(ZoBag& bag) {
    std::string out(bag.FlatSize(true), '\0');
    unsigned long size = 0;
    EXPECT_TRUE(bag.Flatten(&out[0], &size, true));
    out.resize(size);
    return out;
}

// The compressed form as it must be: the plain body with its own length in
// the size field, behind "BaG", flag 1 and the length, through compress2.
std::string ExpectedCompressed(const std::string& plain) {
    std::string body = plain.substr(4);
    uint32_t length = static_cast<uint32_t>(body.size());
    memcpy(&body[12], &length, 4);
    uLongf streamLength = compressBound(body.size());
    std::string stream(streamLength, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&stream[0]), &streamLength,
                        reinterpret_cast<const Bytef*>(body.data()), body.size(), -1),
              Z_OK);
    stream.resize(streamLength);
    return Bytes().raw(std::string("BaG\x01", 4)).u32(length).raw(stream).s;
}

std::string WorkedExample() {
    const unsigned char bytes[] = {0x42, 0x61, 0x47, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0x00, 0x00,
                                   0x01, 0x00, 0x00, 0x00, 0x6E, 0x00, 0x00, 0x00, 0x01, 0x00,
                                   0x00, 0x00, 0x6E, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                                   0x00, 0x04, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::vector<std::string> Names(ZoBag& bag) {
    std::vector<std::string> out;
    char* name;
    for (int i = 0; bag.GetInfo(i, &name, nullptr, nullptr); i++)
        out.push_back(name);
    return out;
}

// A bag with every element type, several elements and header words.
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

TEST(FlatForm, EmptyBagIsItsHeader) {
    ZoBag bag(0x0A0B0C0D, 0);
    bag.who = 1;
    bag.when = 2;
    std::string expect =
        Bytes().raw(std::string("BaG\0", 4)).u32(0x0A0B0C0D).u32(1).u32(2).u32(24).u32(0).s;
    EXPECT_EQ(Plain(bag), expect);
    EXPECT_EQ(bag.FlatSize(false), 24u);
    EXPECT_EQ(bag.FlatSize(true), MaxZippedSize(23) + 1);
}

TEST(FlatForm, WorkedExampleByteForByte) {
    ZoBag bag(0x1234, 0);
    bag.Setint32("n", 7, 0);
    EXPECT_EQ(bag.FlatSize(false), 49u);
    EXPECT_EQ(Plain(bag), WorkedExample());
    EXPECT_EQ(Compressed(bag), ExpectedCompressed(WorkedExample()));
}

TEST(FlatForm, CompressedEmptyBagCarriesBodyLength) {
    ZoBag bag(3, 0);
    std::string flat = Compressed(bag);
    EXPECT_EQ(flat.substr(0, 4), std::string("BaG\x01", 4));
    EXPECT_EQ(flat, ExpectedCompressed(Plain(bag)));
    unsigned long length = 0;
    char* body = Unzip(flat.data() + 4, flat.size() - 4, &length, nullptr);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(length, 20u);
    uint32_t sizeField;
    memcpy(&sizeField, body + 12, 4);
    EXPECT_EQ(sizeField, 20u);
    free(body);
}

TEST(FlatForm, NamesWithoutNulStringsWithIt) {
    ZoBag bag(0, 0);
    bag.Setstring("hi", "hi", 0);
    std::string expect = Bytes()
                             .raw(std::string("BaG\0", 4))
                             .u32(0)
                             .u32(0)
                             .u32(0)
                             .u32(24 + 16 + 2 + 4 + 3)
                             .u32(1)
                             .u32(static_cast<uint32_t>(ZoBag::Hash("hi")))
                             .u32(2)
                             .raw("hi")
                             .u32(T_STRING)
                             .u32(1)
                             .u32(3)
                             .raw(std::string("hi\0", 3))
                             .s;
    EXPECT_EQ(Plain(bag), expect);
}

TEST(FlatForm, NestedBagIsItsPlainFlatForm) {
    ZoBag inner(0x1234, 0);
    inner.Setint32("n", 7, 0);
    ZoBag outer(0x77, 0);
    ASSERT_TRUE(outer.Setbag("sub", &inner, 0));
    inner.Setint32("n", 8, 1);  // the stored element is a snapshot
    std::string nested = WorkedExample();
    std::string expect = Bytes()
                             .raw(std::string("BaG\0", 4))
                             .u32(0x77)
                             .u32(0)
                             .u32(0)
                             .u32(24 + 16 + 3 + 4 + 49)
                             .u32(1)
                             .u32(static_cast<uint32_t>(ZoBag::Hash("sub")))
                             .u32(3)
                             .raw("sub")
                             .u32(T_BAG)
                             .u32(1)
                             .u32(49)
                             .raw(nested)
                             .s;
    EXPECT_EQ(Plain(outer), expect);
    EXPECT_EQ(Compressed(outer), ExpectedCompressed(expect));
}

TEST(FlatForm, EveryTypeRoundTripsInBothForms) {
    ZoBag bag(0xABCD, 0);
    FillEveryType(bag);
    std::string plain = Plain(bag);
    for (const std::string& flat : {plain, Compressed(bag)}) {
        ZoBag back(0, 0);
        ASSERT_TRUE(back.Unflatten(flat.data(), flat.size()));
        EXPECT_EQ(back.what, 0xABCDu);
        EXPECT_EQ(back.who, 0xCAFEu);
        EXPECT_EQ(back.when, static_cast<uint32_t>(-5));
        EXPECT_EQ(Names(back), Names(bag));
        EXPECT_EQ(Plain(back), plain);  // names, hashes, types, every byte

        long long i64 = 0;
        EXPECT_TRUE(back.Getint64("i64", &i64, 1));
        EXPECT_EQ(i64, -6400000000LL);
        int i32 = 0;
        EXPECT_TRUE(back.Getint32("i32", &i32, 2));
        EXPECT_EQ(i32, 7);
        char* s = nullptr;
        EXPECT_TRUE(back.Getstring("s", &s, 1));
        EXPECT_STREQ(s, "hello");
        void* p = nullptr;
        void* q = nullptr;
        EXPECT_TRUE(back.Getpointer("p", &p, 1));
        bag.Getpointer("p", &q, 1);
        EXPECT_EQ(p, q);
        ZoBag* inner = nullptr;
        ASSERT_TRUE(back.Getbag("bag", &inner, 1));
        EXPECT_EQ(inner->what, 0x99u);
        EXPECT_TRUE(inner->Getstring("deep", &s, 1));
        EXPECT_STREQ(s, "down");
        delete inner;
    }
}

TEST(FlatForm, UnflattenAppendsWithoutMerging) {
    ZoBag bag(0, 0);
    bag.Setint32("x", 1, 0);
    ZoBag other(5, 0);
    other.Setint32("x", 2, 0);
    std::string flat = Plain(other);
    ASSERT_TRUE(bag.Unflatten(flat.data(), flat.size()));
    EXPECT_EQ(bag.what, 5u);
    EXPECT_EQ(Names(bag), (std::vector<std::string>{"x", "x"}));
    int v = 0;
    EXPECT_TRUE(bag.Getint32("x", &v, 1));
    EXPECT_EQ(v, 1);  // lookups find the older item
}

TEST(FlatForm, StoredHashIsNotRecomputed) {
    ZoBag bag(0, 0);
    bag.Setint32("n", 7, 0);
    std::string flat = Plain(bag);
    uint32_t other = static_cast<uint32_t>(ZoBag::Hash("zz"));
    memcpy(&flat[24], &other, 4);
    ZoBag back(0, 0);
    ASSERT_TRUE(back.Unflatten(flat.data(), flat.size()));
    EXPECT_FALSE(back.HasItem("n", nullptr));
    int v = 0;
    EXPECT_TRUE(back.Getint32("zz", &v, 1));
    EXPECT_EQ(v, 7);
    EXPECT_EQ(Names(back), std::vector<std::string>{"n"});
}

TEST(FlatNested, GetbagGivesIndependentBags) {
    ZoBag inner(1, 0);
    inner.Setint32("n", 1, 0);
    ZoBag outer(0, 0);
    ASSERT_TRUE(outer.Setbag("sub", &inner, 0));
    ZoBag* a = nullptr;
    ZoBag* b = nullptr;
    ASSERT_TRUE(outer.Getbag("sub", &a, 1));
    ASSERT_TRUE(outer.Getbag("sub", &b, 1));
    EXPECT_NE(a, b);
    a->Setint32("n", 99, 1);
    int v = 0;
    EXPECT_TRUE(b->Getint32("n", &v, 1));
    EXPECT_EQ(v, 1);
    delete a;
    delete b;
    ASSERT_TRUE(outer.Getbag("sub", &a, 1));
    EXPECT_TRUE(a->Getint32("n", &v, 1));
    EXPECT_EQ(v, 1);
    delete a;
}

TEST(FlatNested, GetbagFailures) {
    ZoBag outer(0, 0);
    ZoBag* got = reinterpret_cast<ZoBag*>(&outer);
    EXPECT_FALSE(outer.Getbag("none", &got, 1));
    EXPECT_EQ(got, &outer);  // untouched when there is no element
    outer.Setdata("junk", T_BAG, "BaG\0 not a bag", 14, 0);
    EXPECT_FALSE(outer.Getbag("junk", &got, 1));
    EXPECT_EQ(got, nullptr);
    EXPECT_FALSE(outer.Setbag("sub", nullptr, 0));

    // A nested bag may also hold the compressed form; Getbag reads both.
    ZoBag inner(0x42, 0);
    inner.Setstring("s", "zipped", 0);
    std::string zipped = Compressed(inner);
    outer.Setdata("z", T_BAG, zipped.data(), static_cast<int>(zipped.size()), 0);
    ASSERT_TRUE(outer.Getbag("z", &got, 1));
    EXPECT_EQ(got->what, 0x42u);
    delete got;
}

TEST(FlatPeek, IsABagLooksAtTheMagicOnly) {
    EXPECT_TRUE(IsABag("BaG\x07", 4));
    EXPECT_TRUE(IsABag("BaG\x01...", 8));
    EXPECT_FALSE(IsABag("BaG", 3));
    EXPECT_FALSE(IsABag("Bag\0", 4));
    EXPECT_FALSE(IsABag(nullptr, 10));
}

TEST(FlatPeek, HeaderOfPlainBagsOnly) {
    ZoBag bag(0x1234, 0);
    bag.who = 0x55;
    bag.when = 9;
    bag.Setint32("n", 7, 0);
    std::string flat = Plain(bag);
    unsigned long what = 0, who = 0, when = 0;
    int count = -1;
    EXPECT_TRUE(PeekInFlatBag(flat.data(), flat.size(), &what, &who, &when, &count));
    EXPECT_EQ(what, 0x1234u);
    EXPECT_EQ(who, 0x55u);
    EXPECT_EQ(when, 9u);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(PeekInFlatBag(flat.data(), flat.size(), nullptr, nullptr, nullptr, nullptr));

    // One byte more or less: the header words are given, the count is not.
    what = 0;
    count = -1;
    EXPECT_FALSE(PeekInFlatBag(flat.data(), flat.size() - 1, &what, nullptr, nullptr, &count));
    EXPECT_EQ(what, 0x1234u);
    EXPECT_EQ(count, -1);
    flat.push_back('\0');
    EXPECT_FALSE(PeekInFlatBag(flat.data(), flat.size(), nullptr, nullptr, nullptr, &count));

    what = 0;
    std::string zipped = Compressed(bag);
    EXPECT_FALSE(PeekInFlatBag(zipped.data(), zipped.size(), &what, nullptr, nullptr, nullptr));
    EXPECT_EQ(what, 0u);
    EXPECT_FALSE(PeekInFlatBag(flat.data(), 23, &what, nullptr, nullptr, nullptr));
    EXPECT_FALSE(PeekInFlatBag(flat.data(), 3, &what, nullptr, nullptr, nullptr));
    EXPECT_EQ(what, 0u);
}

TEST(FlatRecords, WriteAndReadBack) {
    ZoBag bag(0, 0);
    bag.Setstring("word", "ab", 0);
    bag.Setstring("word", "cde", 0);
    std::string plain = Plain(bag);
    const char* record = plain.data() + 24;

    T_Item* item = nullptr;
    const char* end = UnflattenItem(&item, record);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(end, plain.data() + plain.size());
    EXPECT_STREQ(item->name, "word");
    EXPECT_EQ(item->count, 2);
    EXPECT_EQ(FlatSizeItem(item), plain.size() - 24);
    EXPECT_EQ(FlatSizeIndex(item->first), 4u + 3 + 4 + 4);
    EXPECT_EQ(FlatSizeIndex(nullptr), 0u);

    std::string again(FlatSizeItem(item), '\0');
    EXPECT_EQ(FlattenItem(item, &again[0]), &again[0] + again.size());
    EXPECT_EQ(again, plain.substr(24));

    T_Elem* elem = nullptr;
    const char* elems = record + 16 + 4;
    EXPECT_EQ(UnflattenIndex(&elem, elems, 0), elems + 7);
    ASSERT_NE(elem, nullptr);
    EXPECT_EQ(elem->size, 3u);
    EXPECT_STREQ(static_cast<char*>(elem->data), "ab");
    std::string one(7, '\0');
    EXPECT_EQ(FlattenIndex(elem, &one[0], 0), &one[0] + 7);
    EXPECT_EQ(one, std::string(elems, 7));
    FreeIndex(elem);
    FreeIndex(item->first);
    free(item->name);
    free(item);

    // An item record with no element is refused.
    std::string empty = Bytes().u32(0).u32(0).u32(T_INT32).u32(0).s;
    EXPECT_EQ(UnflattenItem(&item, empty.data()), nullptr);
    EXPECT_EQ(item, nullptr);
}

// ---- bytes that lie ----

// Unflatten must fail, leave the existing item alone and add nothing.
void ExpectRefused(const std::string& flat) {
    ZoBag bag(0, 0);
    bag.Setint32("kept", 1, 0);
    EXPECT_FALSE(bag.Unflatten(flat.data(), flat.size()));
    EXPECT_EQ(Names(bag), std::vector<std::string>{"kept"});
}

std::string Header(uint32_t size, uint32_t count) {
    return Bytes().raw(std::string("BaG\0", 4)).u32(1).u32(2).u32(3).u32(size).u32(count).s;
}

TEST(FlatUntrusted, SizeFieldMustMatch) {
    std::string flat = WorkedExample();
    ExpectRefused(flat.substr(0, 48));
    ExpectRefused(flat + '\0');
    ExpectRefused("");
    ExpectRefused("BaG");
    ExpectRefused(std::string("BaG\0\1\2\3\4\5\6", 10));

    // The header words are taken before the check fails.
    ZoBag bag(0, 0);
    EXPECT_FALSE(bag.Unflatten(flat.data(), 48));
    EXPECT_EQ(bag.what, 0x1234u);
}

TEST(FlatUntrusted, EveryTruncationIsRefused) {
    ZoBag full(1, 0);
    FillEveryType(full);
    std::string flat = Plain(full);
    // Cut the bag short and make the size field agree: the records now run
    // past the end at every possible place.
    for (size_t cut = 24; cut < flat.size(); cut++) {
        std::string shorter = flat.substr(0, cut);
        uint32_t size = static_cast<uint32_t>(cut);
        memcpy(&shorter[16], &size, 4);
        ExpectRefused(shorter);
    }
}

TEST(FlatUntrusted, LyingCountsAndLengths) {
    std::string item = Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(1).u32(4).u32(7).s;
    auto bag = [](uint32_t count, const std::string& records) {
        std::string flat = Header(static_cast<uint32_t>(24 + records.size()), count) + records;
        return flat;
    };
    ZoBag good(0, 0);
    std::string ok = bag(1, item);
    EXPECT_TRUE(good.Unflatten(ok.data(), ok.size()));

    ExpectRefused(bag(0x7FFFFFFF, item));  // more items than bytes
    ExpectRefused(bag(2, item));           // one more than there is
    ExpectRefused(bag(0xFFFFFFFF, item));  // negative
    // Element count huge, zero or negative; element size and name length past the end.
    ExpectRefused(
        bag(1, Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(0x7FFFFFFF).u32(4).u32(7).s));
    ExpectRefused(bag(1, Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(0).u32(4).u32(7).s));
    ExpectRefused(bag(1, Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(0x80000000).s));
    ExpectRefused(
        bag(1, Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(1).u32(0xFFFFFFFF).u32(7).s));
    ExpectRefused(bag(1, Bytes().u32(110).u32(0xFFFFFFF0).raw("n").u32(T_INT32).u32(1).s));
    // A good item followed by a bad one adds neither.
    ExpectRefused(bag(2, item + Bytes().u32(110).u32(1).raw("n").u32(T_INT32).u32(1).u32(9).s));
}

TEST(FlatUntrusted, CompressedBodiesThatLie) {
    ZoBag source(0x10, 0);
    FillEveryType(source);
    std::string zipped = Compressed(source);

    // The claimed body length only bounds the output; a larger claim still reads.
    std::string larger = zipped;
    uint32_t claim = 0x7FFFFFFF;
    memcpy(&larger[4], &claim, 4);
    ZoBag back(0, 0);
    EXPECT_TRUE(back.Unflatten(larger.data(), larger.size()));
    EXPECT_EQ(Plain(back), Plain(source));

    std::string smaller = zipped;
    claim = 20;
    memcpy(&smaller[4], &claim, 4);
    ExpectRefused(smaller);
    ExpectRefused(zipped.substr(0, zipped.size() - 1));
    ExpectRefused(zipped.substr(0, 8));

    // A well-formed stream of a body whose records lie.
    std::string body = Header(24 + 9, 1).substr(4) + std::string("\x6e\0\0\0\xff\xff\0\0\0", 9);
    uint32_t bodyLength = static_cast<uint32_t>(body.size());
    memcpy(&body[12], &bodyLength, 4);
    unsigned long length = 0;
    char* block = Zip(body.data(), body.size(), &length, -1, nullptr, false);
    ASSERT_NE(block, nullptr);
    ExpectRefused(std::string("BaG\x01", 4) + std::string(block, length));
    free(block);
}

TEST(FlatUntrusted, BitFlipSweep) {
    ZoBag source(0x20, 0);
    FillEveryType(source);
    // Every byte of both forms, each bit in turn: the sanitizers watch for
    // reads out of bounds; the result may be either answer.
    for (const std::string& flat : {Plain(source), Compressed(source)}) {
        for (size_t i = 0; i < flat.size(); i++) {
            for (int bit = 0; bit < 8; bit++) {
                std::string damaged = flat;
                damaged[i] = static_cast<char>(damaged[i] ^ (1 << bit));
                ZoBag bag(0, 0);
                if (bag.Unflatten(damaged.data(), damaged.size())) {
                    std::string again = Plain(bag);  // what it read is a whole bag
                    EXPECT_TRUE(PeekInFlatBag(again.data(), again.size(), nullptr, nullptr, nullptr,
                                              nullptr));
                }
                PeekInFlatBag(damaged.data(), damaged.size(), nullptr, nullptr, nullptr, nullptr);
            }
        }
    }
}

TEST(FlatUntrusted, NestedBagThatLies) {
    ZoBag inner(1, 0);
    inner.Setint32("n", 1, 0);
    std::string flat = Plain(inner);
    uint32_t many = 1000;
    memcpy(&flat[20], &many, 4);
    ZoBag outer(0, 0);
    outer.Setdata("sub", T_BAG, flat.data(), static_cast<int>(flat.size()), 0);
    ZoBag* got = &outer;
    EXPECT_FALSE(outer.Getbag("sub", &got, 1));
    EXPECT_EQ(got, nullptr);
}

// ---- bag files ----

class BagFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zolib-bagfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const std::string& f : made)
            unlink(f.c_str());
        rmdir(dir.c_str());
    }
    std::string Path(const char* name) {
        made.push_back(dir + "/" + name);
        return made.back();
    }
    std::string Write(const char* name, const std::string& bytes) {
        std::string path = Path(name);
        FILE* f = fopen(path.c_str(), "w");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }
    static std::string Read(const std::string& path) {
        std::string out;
        FILE* f = fopen(path.c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        fclose(f);
        return out;
    }

    std::string dir;
    std::vector<std::string> made;
};

TEST_F(BagFile, EmptyBagFileLayout) {
    ZoBag bag(0, 0);
    std::string path = Path("empty.bag");
    ASSERT_TRUE(SaveToFile(path.c_str(), &bag));
    std::string zipped = Compressed(bag);
    std::string bytes = Read(path);
    EXPECT_EQ(bytes, Bytes().u32(static_cast<uint32_t>(zipped.size())).raw(zipped).s);
}

TEST_F(BagFile, RoundTrip) {
    ZoBag bag(0x5150, 0);
    FillEveryType(bag);
    std::string path = Path("full.bag");
    ASSERT_TRUE(SaveToFile(path.c_str(), &bag));
    ZoBag* back = LoadFromFile(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->what, 0x5150u);
    EXPECT_EQ(back->who, bag.who);
    EXPECT_EQ(back->when, bag.when);
    EXPECT_EQ(Plain(*back), Plain(bag));
    delete back;

    // Saving again truncates.
    ZoBag small(1, 0);
    ASSERT_TRUE(SaveToFile(path.c_str(), &small));
    back = LoadFromFile(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->what, 1u);
    EXPECT_EQ(back->CountItems(), 0);
    delete back;
}

TEST_F(BagFile, Failures) {
    ZoBag bag(0, 0);
    EXPECT_FALSE(SaveToFile(Path("none.bag").c_str(), nullptr));
    EXPECT_FALSE(SaveToFile((dir + "/no/such/dir.bag").c_str(), &bag));
    EXPECT_EQ(LoadFromFile((dir + "/missing.bag").c_str()), nullptr);
}

TEST_F(BagFile, DamagedFilesGiveEmptyBags) {
    ZoBag bag(0x77, 0);
    FillEveryType(bag);
    std::string good = Path("good.bag");
    ASSERT_TRUE(SaveToFile(good.c_str(), &bag));
    std::string bytes = Read(good);

    std::vector<std::string> damaged = {
        "",
        "\x10\0",
        bytes.substr(0, 4),
        bytes.substr(0, bytes.size() - 1),                   // shorter than its length word
        Bytes().u32(0xFFFFFFFF).raw(bytes.substr(4, 20)).s,  // a length word that lies
        Bytes().u32(0).s,
    };
    std::string flipped = bytes;
    flipped[bytes.size() / 2] ^= 0x40;
    damaged.push_back(flipped);
    for (size_t i = 0; i < damaged.size(); i++) {
        std::string path = Write(("bad" + std::to_string(i)).c_str(), damaged[i]);
        ZoBag* back = LoadFromFile(path.c_str());
        ASSERT_NE(back, nullptr) << i;
        EXPECT_EQ(back->CountItems(), 0) << i;
        delete back;
    }
}

}  // namespace
