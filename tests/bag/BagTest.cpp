// Items and elements of a bag: names and hashes, positions, types, removal,
// renaming, copies, the packed storage, split and concat, printing.
#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bag/FlatBytes.h"
#include "support/Bytes.h"

namespace {

using zotest::Plain;
using Names = std::vector<std::string>;

Names NamesOf(ZoBag& bag) {
    Names out;
    char* name;
    for (int i = 0; bag.GetInfo(i, &name, nullptr, nullptr); i++)
        out.push_back(name);
    return out;
}

// The int32 elements of `name`, in order.
std::vector<int> Ints(ZoBag& bag, const char* name) {
    std::vector<int> out;
    for (int k = 1, v = 0; bag.Getint32(name, &v, k); k++)
        out.push_back(v);
    return out;
}

TEST(BagHash, ValuesAndNamesOfOneHash) {
    const char wraps[] = {static_cast<char>(0xFF), 0x01, 0};
    struct {
        const char* name;
        long hash;
    } cases[] = {{"", 0},         {"A", 65},           {"ab", 9506}, {"ba", 9506},
                 {"abc", 106526}, {"count", 14187859}, {wraps, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(ZoBag::Hash(c.name), c.hash) << c.name;
    long h = ZoBag::Hash("a rather long item name that overflows");
    EXPECT_TRUE(h >= INT32_MIN && h <= INT32_MAX);  // wraps at 32 bits, sign-extended
    ZoBag bag(1, 0);
    EXPECT_TRUE(bag.Setint32("ab", 1, 0) && bag.Setint8("", 3, 0));
    EXPECT_EQ(Ints(bag, "ba"), std::vector<int>{1});  // "ba" answers for "ab"
    EXPECT_TRUE(bag.HasItem("ba", T_INT32));
    EXPECT_FALSE(bag.RenameItem("ab", "ba"));
    EXPECT_EQ(NamesOf(bag), (Names{"ab", ""}));
}

TEST(BagElements, PositionsTypesAndRemoval) {
    ZoBag bag;
    bag.Setint32("a", 0, 0);
    for (int v = 1; v <= 2; v++)
        bag.Setint32("n", v, 0);
    int v = 0;
    EXPECT_FALSE(bag.Getint32("n", &v, 0));
    EXPECT_FALSE(bag.Getint32("n", &v, 3));
    EXPECT_EQ(v, 0);  // untouched by failures
    EXPECT_TRUE(bag.Getint32("n", &v, -4) && v == 1);
    EXPECT_TRUE(bag.Setint32("n", 5, 9));   // beyond the end appends
    EXPECT_TRUE(bag.Setint32("n", 7, -1));  // below 1 replaces the first
    EXPECT_TRUE(bag.Setint32("n", 8, 3));   // the last is replaced, not appended to
    EXPECT_EQ(Ints(bag, "n"), (std::vector<int>{7, 2, 8}));
    // The first element fixes the type.
    EXPECT_FALSE(bag.Setstring("n", "x", 0));
    T_Data type = T_BAG;
    EXPECT_TRUE(bag.HasItem("n", &type) && type == T_INT32);
    EXPECT_FALSE(bag.HasItem("n", T_STRING));
    EXPECT_FALSE(bag.HasItem("missing", &type));
    char* s = nullptr;
    EXPECT_FALSE(bag.Getstring("n", &s, 1));
    // Removal: by position, below 1 the first, the last element takes the item.
    EXPECT_FALSE(bag.RemoveItem("n", 4));
    EXPECT_FALSE(bag.RemoveItem("missing", 0));
    EXPECT_TRUE(bag.RemoveItem("n", 2));
    EXPECT_TRUE(bag.RemoveItem("n", -1));
    EXPECT_EQ(Ints(bag, "n"), std::vector<int>{8});
    EXPECT_TRUE(bag.RemoveItem("n", 1));
    EXPECT_EQ(NamesOf(bag), Names{"a"});
    EXPECT_TRUE(bag.RemoveItem("a", 0));
    EXPECT_EQ(bag.CountItems(), 0);
}

TEST(BagElements, EveryTypeRoundTripsAndShortElementsAreRefused) {
    ZoBag bag(7, 2);
    int target = 0;
    const unsigned char raw[] = {0, 1, 2, 0xFF};
    ASSERT_TRUE(bag.Setbool("b", true, 0) && bag.Setint8("i8", -8, 0) &&
                bag.Setint16("i16", -1600, 0) && bag.Setint32("i32", -320000, 0) &&
                bag.Setint64("i64", -6400000000LL, 0) && bag.Setfloat32("f32", 1.5f, 0) &&
                bag.Setfloat64("f64", -2.25, 0) && bag.Setpointer("p", &target, 0) &&
                bag.Setstring("s", "hello", 0) && bag.Setdata("buf", T_BUFFER, raw, 4, 0));
    bool b = false;
    char i8 = 0;
    short i16 = 0;
    int i32 = 0;
    long long i64 = 0;
    float f32 = 0;
    double f64 = 0;
    void* p = nullptr;
    char* s = nullptr;
    EXPECT_TRUE(bag.Getbool("b", &b, 1) && b);
    EXPECT_TRUE(bag.Getint8("i8", &i8, 1) && static_cast<signed char>(i8) == -8);
    EXPECT_TRUE(bag.Getint16("i16", &i16, 1) && i16 == -1600);
    EXPECT_TRUE(bag.Getint32("i32", &i32, 1) && i32 == -320000);
    EXPECT_TRUE(bag.Getint64("i64", &i64, 1) && i64 == -6400000000LL);
    EXPECT_TRUE(bag.Getfloat32("f32", &f32, 1) && f32 == 1.5f);
    EXPECT_TRUE(bag.Getfloat64("f64", &f64, 1) && f64 == -2.25);
    EXPECT_TRUE(bag.Getpointer("p", &p, 1) && p == &target);
    EXPECT_TRUE(bag.Getstring("s", &s, 1));
    EXPECT_STREQ(s, "hello");
    void* data = nullptr;
    int size = 0;
    EXPECT_TRUE(bag.Getdata("buf", T_BUFFER, &data, &size, 1) && size == 4);
    EXPECT_EQ(memcmp(data, raw, 4), 0);
    EXPECT_TRUE(bag.Getdata("s", T_STRING, &data, &size, 1) && size == 6);  // with its NUL
    // Only Setdata makes elements shorter than their type or strings without NUL.
    ASSERT_TRUE(bag.Setdata("short", T_INT64, "\1", 1, 0) &&
                bag.Setdata("nonul", T_STRING, "ab", 2, 0) &&
                bag.Setdata("empty", T_STRING, nullptr, 0, 0));
    EXPECT_FALSE(bag.Getint64("short", &i64, 1));
    EXPECT_EQ(i64, -6400000000LL);
    EXPECT_FALSE(bag.Getstring("nonul", &s, 1));
    s = nullptr;
    EXPECT_FALSE(bag.Getstring("empty", &s, 1));
    EXPECT_EQ(s, nullptr);
    // Replacing with another size, with bytes from the element itself.
    EXPECT_TRUE(bag.Setstring("s", "a much longer string", 1));
    bag.Getstring("s", &s, 1);
    EXPECT_TRUE(bag.Setstring("s", s + 2, 1));
    bag.Getstring("s", &s, 1);
    EXPECT_STREQ(s, "much longer string");
}

TEST(BagCopy, RenameCopyItemAndCopyConstructor) {
    ZoBag src(0x1234, 0);
    src.who = 5;
    src.when = 6;
    for (const char* name : {"a", "n", "c"})
        src.Setint32(name, 1, 0);
    src.Setint32("n", 2, 0);
    EXPECT_FALSE(src.RenameItem("x", "y"));
    EXPECT_TRUE(src.RenameItem("c", "renamed"));  // keeps its place and elements
    EXPECT_EQ(NamesOf(src), (Names{"a", "n", "renamed"}));
    EXPECT_EQ(Ints(src, "renamed"), std::vector<int>{1});
    ZoBag dst;
    EXPECT_FALSE(dst.CopyItem(&src, "missing", 0));
    EXPECT_FALSE(dst.CopyItem(&src, "n", 3));
    EXPECT_TRUE(dst.CopyItem(&src, "n", 2));
    EXPECT_TRUE(dst.CopyItem(&src, "n", 0));
    EXPECT_EQ(Ints(dst, "n"), (std::vector<int>{2, 1, 2}));
    EXPECT_TRUE(src.CopyItem(&src, "n", 0));  // onto itself: doubles
    EXPECT_EQ(Ints(src, "n"), (std::vector<int>{1, 2, 1, 2}));
    ZoBag copy(&src);
    EXPECT_EQ(copy.what + copy.who + copy.when, 0x1234u + 11);
    EXPECT_EQ(Plain(copy), Plain(src));
    src.Setint32("n", 9, 1);
    EXPECT_EQ(Ints(copy, "n")[0], 1);  // deep
}

TEST(BagRecords, FreeFunctions) {
    ZoList list(1, 1);
    EXPECT_EQ(FindItem(&list, ZoBag::Hash("k")), nullptr);
    T_Item seed{static_cast<int32_t>(ZoBag::Hash("k")), const_cast<char*>("k"), T_INT32, 0,
                nullptr};
    T_Elem* elem = static_cast<T_Elem*>(malloc(sizeof(T_Elem)));
    elem->size = 4;
    elem->data = malloc(4);
    memset(elem->data, 4, 4);
    AddIndex(&seed, elem);
    EXPECT_TRUE(SetItem(&list, &seed, 0));
    EXPECT_FALSE(SetItem(&list, &seed, 2));
    T_Item* item = FindItem(&list, ZoBag::Hash("k"));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(SetItem(item, &seed, 1));
    EXPECT_EQ(item->count, 2);
    EXPECT_EQ(SeekIndex(item, 3), nullptr);
    EXPECT_NE(SeekIndex(item, 2), nullptr);
    EXPECT_FALSE(RemoveIndex(item, 3));
    EXPECT_TRUE(RemoveIndex(item, 1) && RemoveIndex(item, 1));
    EXPECT_EQ(item->count, 0);  // the item record itself stays
    FreeIndex(seed.first);
    free(item->name);
    free(item);
}

// An item's name and first element share the item's block and an element's
// bytes the element's; these records go through every change, and element
// bytes stay 8-byte aligned wherever they came from.
TEST(BagStorage, PackedRecordsThroughEveryChange) {
    ZoBag bag;
    for (int v = 1; v <= 3; v++)
        bag.Setint32("n", v, 0);
    EXPECT_TRUE(bag.RemoveItem("n", 1));
    EXPECT_TRUE(bag.Setdata("n", T_INT32, "12345678", 8, 1));
    EXPECT_TRUE(bag.Setint32("n", 4, 0));
    EXPECT_TRUE(bag.RenameItem("n", "a-much-longer-name"));
    ZoBag fresh;
    fresh.Setdata("a-much-longer-name", T_INT32, "12345678", 8, 0);
    for (int v : {3, 4})
        fresh.Setint32("a-much-longer-name", v, 0);
    EXPECT_EQ(Plain(bag), Plain(fresh));
    bag.Setstring("odd-length-name", "x", 0);
    bag.Setfloat64("d", 1.5, 0);
    bag.Setfloat64("d", 2.5, 0);
    std::unique_ptr<ZoBag> read = BagOf(Plain(bag));
    ASSERT_NE(read, nullptr);
    ZoBag copy(read.get());
    for (ZoBag* b : {&bag, read.get(), &copy})
        for (auto [name, type, k] : {std::tuple{"d", T_FLOAT64, 1},
                                     {"d", T_FLOAT64, 2},
                                     {"odd-length-name", T_STRING, 1}}) {
            void* data = nullptr;
            int size = 0;
            ASSERT_TRUE(b->Getdata(name, type, &data, &size, k));
            EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 8, 0u) << name;
        }
}

// ---- split and concat ----

// The plain bytes of every piece; the pieces are deleted.
std::vector<std::string> TakePieces(ZoList& pieces) {
    std::vector<std::string> out;
    for (long i = 0; i < pieces.Size(); i++) {
        ZoBag* piece = static_cast<ZoBag*>(pieces.GetItem(i));
        out.push_back(Plain(*piece));
        delete piece;
    }
    pieces.Clean();
    return out;
}

// The split done the slow, obvious way: each element placed with CopyItem
// and the piece measured from scratch after each one.
bool ReferenceSplit(ZoBag& bag, std::vector<std::string>* pieces, long limit) {
    ZoBag piece(0, 0);
    bool fresh = true;
    for (int i = 0, n = bag.CountItems(); i < n; i++) {
        char* raw;
        T_Data type;
        int count;
        bag.GetInfo(i, &raw, &type, &count);
        std::string name = raw;
        for (int s = 1, p = 1; s <= count; s++, p++) {
            void* data;
            int size;
            if ((type == T_BUFFER || type == T_BAG) &&
                bag.Getdata(name.c_str(), type, &data, &size, s) &&
                piece.FlatSize(false) + 4 + size > static_cast<unsigned long>(limit))
                return false;
            piece.CopyItem(&bag, name.c_str(), s);
            if (static_cast<long>(piece.FlatSize(false)) <= limit) {
                fresh = false;
            } else if (fresh) {
                return false;
            } else {
                piece.RemoveItem(name.c_str(), p);
                pieces->push_back(Plain(piece));
                while (piece.GetInfo(0, &raw, nullptr, nullptr))
                    piece.RemoveItem(raw, 0);
                fresh = true;
                p = 0;
                s--;
            }
        }
    }
    pieces->push_back(Plain(piece));
    return true;
}

// Every limit from too small to the whole bag, against the obvious way, and
// the pieces concatenated back to the bag.
TEST(BagSplit, SamePiecesAsTheObviousWayAtEveryLimit) {
    ZoBag mixed(1, 0), inner(7, 0), empty(9, 0);
    mixed.who = 5;
    mixed.Setint32("n", 1, 0);
    mixed.Setint32("n", 2, 0);
    mixed.Setstring("name", "short", 0);
    mixed.Setstring("name", "a rather longer string value", 0);
    mixed.Setdata("buf", T_BUFFER, "0123456789", 10, 0);
    mixed.Setdata("buf", T_BUFFER, "", 0, 0);
    mixed.Setbag("sub", &inner, 0);
    for (int k = 0; k < 12; k++)
        mixed.Setint8("many", static_cast<char>(k), 0);
    // What only foreign bytes make: two items of one hash (of two types) and
    // an item whose stored hash is not its name's.
    std::unique_ptr<ZoBag> twins =
        BagOf(FlatOf(2, {{ZoBag::Hash("x"), "x", T_INT32, {Le32(1)}},
                         {ZoBag::Hash("x"), "x", T_STRING, {std::string("second x", 9), "again"}},
                         {ZoBag::Hash("elsewhere"), "odd", T_INT16, {"\4\0"}}}));
    ASSERT_NE(twins, nullptr);
    twins->Setint32("x", 3, 0);
    for (ZoBag* bag : {&mixed, twins.get(), &empty}) {
        for (long limit = 0, whole = bag->FlatSize(false); limit <= whole + 8; limit++) {
            std::vector<std::string> expect;
            bool ok = ReferenceSplit(*bag, &expect, limit);
            ZoList pieces(0, 1);
            pieces.AddItem(new ZoBag(1, 0));  // there before the call: deleted on failure
            if (ok) TakePieces(pieces);
            ASSERT_EQ(bag->Split(&pieces, limit), ok) << limit;
            ZoBag back(bag->what, 0);
            back.who = bag->who;
            EXPECT_TRUE(back.Concat(&pieces));
            if (!ok) expect.clear();  // a failed split leaves the list empty
            EXPECT_EQ(TakePieces(pieces), expect) << limit;
            if (ok && bag != twins.get()) {  // items of one hash merge on Concat
                EXPECT_EQ(Plain(back), Plain(*bag)) << limit;
            }
        }
    }
    EXPECT_FALSE(mixed.Split(nullptr, 1000));
}

TEST(BagSplit, ManySmallElements) {
    const int n = 20000;
    std::vector<std::string> elements;
    for (int k = 0; k < n; k++)
        elements.push_back(Le32(k));
    std::unique_ptr<ZoBag> bag = BagOf(FlatOf(0, {{ZoBag::Hash("n"), "n", T_INT32, elements}}));
    ASSERT_NE(bag, nullptr);
    ZoList pieces(0, 1);
    ASSERT_TRUE(bag->Split(&pieces, 1000));
    EXPECT_EQ(pieces.Size(), (n + 118) / 119);  // 49 bytes, then 8 for each of 118 more
    ZoBag whole(0, 0);
    whole.Concat(&pieces);
    EXPECT_TRUE(Plain(whole) == Plain(*bag));
    TakePieces(pieces);
}

TEST(BagConcat, AppendsAfterOwnElements) {
    ZoBag a(0, 0), b(0, 0), bag(0x77, 0);
    a.Setint32("n", 2, 0);
    a.Setstring("s", "x", 0);
    b.Setint32("n", 3, 0);
    bag.Setint32("n", 1, 0);
    ZoList pieces(0, 1);
    pieces.AddItem(&a);
    pieces.AddItem(&b);
    EXPECT_TRUE(bag.Concat(&pieces));
    EXPECT_EQ(bag.what, 0x77u);
    EXPECT_EQ(NamesOf(bag), (Names{"n", "s"}));
    EXPECT_EQ(Ints(bag, "n"), (std::vector<int>{1, 2, 3}));
    ZoList self(0, 1);
    self.AddItem(&bag);
    EXPECT_TRUE(bag.Concat(&self));  // onto itself: doubles
    EXPECT_EQ(bag.CountItem("n"), 6);
}

// ---- printing ----

template <typename F>
std::string Stdout(F print) {
    testing::internal::CaptureStdout();
    print();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(BagPrint, EveryTypeAndOddElements) {
    ZoBag bag(0xBEEF, 0), inner(0x42, 0);
    bag.who = 0xAB;
    bag.when = static_cast<uint32_t>(-3);
    bag.Setstring("s", "hi", 0);
    bag.Setstring("s", "there", 0);
    bag.Setbool("b", true, 0);
    bag.Setint8("i8", -8, 0);
    bag.Setint16("i16", -300, 0);
    bag.Setint32("i32", 123456, 0);
    bag.Setint64("i64", (1LL << 32) + 5, 0);
    bag.Setfloat32("f", 1.5f, 0);
    bag.Setfloat64("d", -0.25, 0);
    bag.Setdata("buf", T_BUFFER, "abc", 3, 0);
    bag.Setbag("sub", &inner, 0);
    // All of a pointer's bits are printed: 64 of them where pointers have them.
    const bool wide = sizeof(void*) == 8;
    bag.Setpointer("p", reinterpret_cast<void*>(wide ? 0x1234ABCDEFULL : 0x34ABCDEFULL), 0);
    // What only Setdata makes is not read past; an unknown type prints its item line.
    bag.Setdata("nonul", T_STRING, "ab", 2, 0);
    bag.Setdata("short", T_INT32, "\0", 1, 0);
    bag.Setdata("z", T_BAG, "BaG\x01zipped", 10, 0);
    bag.Setdata("q", static_cast<T_Data>(42), "x", 1, 0);
    EXPECT_EQ(
        Stdout([&] { bag.PrintToStream(); }),
        "what\t= 0xbeef\nwho\t= 0xab\nwhen\t= -3\nFlat\t= " + std::to_string(bag.FlatSize(false)) +
            " bytes\n"
            "Item 's' had 2 element(s)\n\t1\tstring\t\"hi\"\t3\n\t2\tstring\t\"there\"\t6\n"
            "Item 'b' had 1 element(s)\n\t1\tbool\t1\t1\n"
            "Item 'i8' had 1 element(s)\n\t1\tint8\t-8\t1\n"
            "Item 'i16' had 1 element(s)\n\t1\tint16\t-300\t2\n"
            "Item 'i32' had 1 element(s)\n\t1\tint32\t123456\t4\n"
            "Item 'i64' had 1 element(s)\n\t1\tint64\t4294967301\t8\n"
            "Item 'f' had 1 element(s)\n\t1\tfloat32\t1.500000\t4\n"
            "Item 'd' had 1 element(s)\n\t1\tfloat64\t-0.250000\t8\n"
            "Item 'buf' had 1 element(s)\n\t1\tbuffer of 3 bytes\n"
            "Item 'sub' had 1 element(s)\n\t1\tbag 0x42\t24\n"
            "Item 'p' had 1 element(s)\n\t1\tpointer\t" +
            (wide ? "0x1234abcdef\n" : "0x34abcdef\n") +
            "Item 'nonul' had 1 element(s)\n\t1\tstring\t\"ab\"\t2\n"
            "Item 'short' had 1 element(s)\n\t1\tint32\t0\t1\n"
            "Item 'z' had 1 element(s)\n\t1\tbag ?\t10\n"
            "Item 'q' had 1 element(s)\n");
    EXPECT_EQ(Stdout([] {
                  DumpData("A\xC8", 2);
                  DumpData("ignored", 0);
                  DumpData("ignored", -4);
              }),
              "65 200 \n\n\n");
}

}  // namespace
