#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(ZoBag& bag) {
    std::vector<std::string> out;
    char* name;
    for (int i = 0; bag.GetInfo(i, &name, nullptr, nullptr); i++)
        out.push_back(name);
    return out;
}

TEST(BagHash, KnownValues) {
    EXPECT_EQ(ZoBag::Hash(""), 0);
    EXPECT_EQ(ZoBag::Hash("A"), 65);
    EXPECT_EQ(ZoBag::Hash("ab"), 9506);
    EXPECT_EQ(ZoBag::Hash("ba"), 9506);
    EXPECT_EQ(ZoBag::Hash("abc"), 106526);
    EXPECT_EQ(ZoBag::Hash("count"), 14187859);
    const char wraps[] = {static_cast<char>(0xFF), 0x01, 0};
    EXPECT_EQ(ZoBag::Hash(wraps), -1);
    // Long names wrap at 32 bits and come back sign-extended.
    long h = ZoBag::Hash("a rather long item name that overflows");
    EXPECT_GE(h, INT32_MIN);
    EXPECT_LE(h, INT32_MAX);
}

TEST(BagHash, EqualHashesAddressOneItem) {
    ZoBag bag(1, 0);
    EXPECT_TRUE(bag.Setint32("ab", 1, 0));
    int v = 0;
    EXPECT_TRUE(bag.Getint32("ba", &v, 1));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(bag.HasItem("ba", T_INT32));
    EXPECT_EQ(Names(bag), std::vector<std::string>{"ab"});
    EXPECT_FALSE(bag.RenameItem("ab", "ba"));  // "ba" answers already
}

TEST(BagHash, EmptyAndOneCharacterNamesAreUsable) {
    ZoBag bag;
    EXPECT_TRUE(bag.Setint8("", 3, 0));
    EXPECT_TRUE(bag.Setint8("x", 4, 0));
    char v = 0;
    EXPECT_TRUE(bag.Getint8("", &v, 1));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(bag.Getint8("x", &v, 1));
    EXPECT_EQ(v, 4);
    EXPECT_EQ(bag.CountItems(), 2);
}

TEST(BagElements, PositionsAreOneBased) {
    ZoBag bag;
    bag.Setint32("n", 1, 0);
    bag.Setint32("n", 2, 0);
    EXPECT_EQ(bag.CountItem("n"), 2);
    int v = 0;
    EXPECT_TRUE(bag.Getint32("n", &v, 2));
    EXPECT_EQ(v, 2);
    EXPECT_FALSE(bag.Getint32("n", &v, 0));
    EXPECT_FALSE(bag.Getint32("n", &v, 3));
    EXPECT_EQ(v, 2);  // untouched by failures
    EXPECT_TRUE(bag.Getint32("n", &v, -4));
    EXPECT_EQ(v, 1);

    EXPECT_TRUE(bag.Setint32("n", 5, 9));  // beyond the end appends
    EXPECT_EQ(bag.CountItem("n"), 3);
    EXPECT_TRUE(bag.Setint32("n", 7, -1));  // below 1 replaces the first
    EXPECT_TRUE(bag.Getint32("n", &v, 1));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(bag.Setint32("n", 8, 2));
    EXPECT_TRUE(bag.Getint32("n", &v, 2));
    EXPECT_EQ(v, 8);
    EXPECT_EQ(bag.CountItem("n"), 3);
}

TEST(BagElements, TypeIsFixedByTheFirstElement) {
    ZoBag bag;
    EXPECT_TRUE(bag.Setstring("s", "x", 0));
    EXPECT_FALSE(bag.Setint32("s", 1, 0));
    EXPECT_EQ(bag.CountItem("s"), 1);
    T_Data type = T_BAG;
    EXPECT_TRUE(bag.HasItem("s", &type));
    EXPECT_EQ(type, T_STRING);
    EXPECT_FALSE(bag.HasItem("s", T_INT32));
    int v = 9;
    EXPECT_FALSE(bag.Getint32("s", &v, 1));
    EXPECT_EQ(v, 9);
    EXPECT_FALSE(bag.HasItem("missing", &type));
    EXPECT_EQ(bag.CountItem("missing"), 0);
}

TEST(BagElements, EveryTypeRoundTrips) {
    ZoBag bag(7, 2);
    int target = 0;
    ASSERT_TRUE(bag.Setbool("b", true, 0));
    ASSERT_TRUE(bag.Setint8("i8", -8, 0));
    ASSERT_TRUE(bag.Setint16("i16", -1600, 0));
    ASSERT_TRUE(bag.Setint32("i32", -320000, 0));
    ASSERT_TRUE(bag.Setint64("i64", -6400000000LL, 0));
    ASSERT_TRUE(bag.Setfloat32("f32", 1.5f, 0));
    ASSERT_TRUE(bag.Setfloat64("f64", -2.25, 0));
    ASSERT_TRUE(bag.Setpointer("p", &target, 0));
    ASSERT_TRUE(bag.Setstring("s", "hello", 0));
    const unsigned char raw[] = {0, 1, 2, 0xFF};
    ASSERT_TRUE(bag.Setdata("buf", T_BUFFER, raw, sizeof raw, 0));

    bool b = false;
    char i8 = 0;
    short i16 = 0;
    int i32 = 0;
    long long i64 = 0;
    float f32 = 0;
    double f64 = 0;
    void* p = nullptr;
    char* s = nullptr;
    void* data = nullptr;
    int size = 0;
    EXPECT_TRUE(bag.Getbool("b", &b, 1) && b);
    EXPECT_TRUE(bag.Getint8("i8", &i8, 1) && i8 == -8);
    EXPECT_TRUE(bag.Getint16("i16", &i16, 1) && i16 == -1600);
    EXPECT_TRUE(bag.Getint32("i32", &i32, 1) && i32 == -320000);
    EXPECT_TRUE(bag.Getint64("i64", &i64, 1) && i64 == -6400000000LL);
    EXPECT_TRUE(bag.Getfloat32("f32", &f32, 1) && f32 == 1.5f);
    EXPECT_TRUE(bag.Getfloat64("f64", &f64, 1) && f64 == -2.25);
    EXPECT_TRUE(bag.Getpointer("p", &p, 1) && p == &target);
    EXPECT_TRUE(bag.Getstring("s", &s, 1));
    EXPECT_STREQ(s, "hello");
    EXPECT_TRUE(bag.Getdata("buf", T_BUFFER, &data, &size, 1));
    ASSERT_EQ(size, 4);
    EXPECT_EQ(memcmp(data, raw, 4), 0);
    EXPECT_TRUE(bag.Getdata("p", T_POINTER, &data, &size, 1));
    EXPECT_EQ(size, static_cast<int>(sizeof(void*)));
    EXPECT_TRUE(bag.Getdata("s", T_STRING, &data, &size, 1));
    EXPECT_EQ(size, 6);  // with its NUL
    EXPECT_EQ(bag.CountItems(), 10);
}

TEST(BagElements, ShortElementsAreNotReadPast) {
    ZoBag bag;
    const char one = 1;
    ASSERT_TRUE(bag.Setdata("n", T_INT64, &one, 1, 0));
    long long v = 42;
    EXPECT_FALSE(bag.Getint64("n", &v, 1));
    EXPECT_EQ(v, 42);
    const char noNul[] = {'a', 'b'};
    ASSERT_TRUE(bag.Setdata("s", T_STRING, noNul, 2, 0));
    char* s = nullptr;
    EXPECT_FALSE(bag.Getstring("s", &s, 1));
    ASSERT_TRUE(bag.Setdata("e", T_STRING, nullptr, 0, 0));
    EXPECT_FALSE(bag.Getstring("e", &s, 1));
    EXPECT_EQ(s, nullptr);
}

TEST(BagElements, ReplacingWithAnotherSizeReallocates) {
    ZoBag bag;
    bag.Setstring("s", "ab", 0);
    char* before = nullptr;
    char* after = nullptr;
    bag.Getstring("s", &before, 1);
    EXPECT_TRUE(bag.Setstring("s", "a much longer string", 1));
    bag.Getstring("s", &after, 1);
    EXPECT_STREQ(after, "a much longer string");
    // Replacing with bytes taken from the element itself is safe.
    std::string expect(after + 2);
    EXPECT_TRUE(bag.Setstring("s", after + 2, 1));
    bag.Getstring("s", &after, 1);
    EXPECT_EQ(expect, after);
    (void)before;
}

TEST(BagRemove, ElementsAndItems) {
    ZoBag bag;
    bag.Setint32("a", 1, 0);
    bag.Setint32("n", 1, 0);
    bag.Setint32("n", 2, 0);
    bag.Setint32("n", 3, 0);
    bag.Setint32("z", 1, 0);
    EXPECT_FALSE(bag.RemoveItem("n", 4));
    EXPECT_FALSE(bag.RemoveItem("missing", 0));
    EXPECT_TRUE(bag.RemoveItem("n", 2));
    int v = 0;
    EXPECT_TRUE(bag.Getint32("n", &v, 2));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(bag.RemoveItem("n", -1));  // below 1: the first
    EXPECT_TRUE(bag.Getint32("n", &v, 1));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(bag.RemoveItem("n", 1));  // the last element takes the item
    EXPECT_FALSE(bag.HasItem("n", nullptr));
    EXPECT_EQ(Names(bag), (std::vector<std::string>{"a", "z"}));
    EXPECT_TRUE(bag.RemoveItem("a", 0));
    EXPECT_EQ(Names(bag), std::vector<std::string>{"z"});
}

TEST(BagRename, KeepsPositionTypeAndElements) {
    ZoBag bag;
    bag.Setint32("a", 1, 0);
    bag.Setint32("b", 2, 0);
    bag.Setint32("c", 3, 0);
    EXPECT_FALSE(bag.RenameItem("a", "b"));
    EXPECT_FALSE(bag.RenameItem("x", "y"));
    EXPECT_TRUE(bag.RenameItem("b", "renamed"));
    EXPECT_EQ(Names(bag), (std::vector<std::string>{"a", "renamed", "c"}));
    int v = 0;
    EXPECT_TRUE(bag.Getint32("renamed", &v, 1));
    EXPECT_EQ(v, 2);
    EXPECT_FALSE(bag.HasItem("b", nullptr));
}

TEST(BagCopy, CopyItemRules) {
    ZoBag src, dst;
    src.Setint32("n", 1, 0);
    src.Setint32("n", 2, 0);
    EXPECT_FALSE(dst.CopyItem(&src, "missing", 0));
    EXPECT_FALSE(dst.CopyItem(&src, "n", 3));
    EXPECT_TRUE(dst.CopyItem(&src, "n", 2));
    EXPECT_EQ(dst.CountItem("n"), 1);
    EXPECT_TRUE(dst.CopyItem(&src, "n", 0));
    EXPECT_EQ(dst.CountItem("n"), 3);
    int v = 0;
    dst.Getint32("n", &v, 3);
    EXPECT_EQ(v, 2);

    ZoBag other;
    other.Setstring("n", "text", 0);
    EXPECT_TRUE(other.CopyItem(&src, "n", 0));  // types are not compared here
    EXPECT_EQ(other.CountItem("n"), 3);

    EXPECT_TRUE(src.CopyItem(&src, "n", 0));  // onto itself: doubles
    EXPECT_EQ(src.CountItem("n"), 4);
}

TEST(BagCopy, CopyConstructorIsDeepAndIndependent) {
    ZoBag bag(0x1234, 0);
    bag.who = 5;
    bag.when = 6;
    bag.Setstring("s", "one", 0);
    bag.Setstring("s", "two", 0);
    bag.Setfloat64("d", 3.5, 0);
    ZoBag copy(&bag);
    EXPECT_EQ(copy.what, 0x1234u);
    EXPECT_EQ(copy.who, 5u);
    EXPECT_EQ(copy.when, 6u);
    EXPECT_EQ(Names(copy), Names(bag));
    char* a = nullptr;
    char* b = nullptr;
    bag.Getstring("s", &a, 2);
    copy.Getstring("s", &b, 2);
    EXPECT_STREQ(a, b);
    EXPECT_NE(a, b);
    bag.Setstring("s", "changed", 2);
    copy.Getstring("s", &b, 2);
    EXPECT_STREQ(b, "two");
}

TEST(BagInfo, GetInfoWalksInInsertionOrder) {
    ZoBag bag;
    bag.Setint16("first", 1, 0);
    bag.Setfloat32("second", 2, 0);
    bag.Setfloat32("second", 3, 0);
    char* name = nullptr;
    T_Data type = T_STRING;
    int count = 0;
    EXPECT_TRUE(bag.GetInfo(1, &name, &type, &count));
    EXPECT_STREQ(name, "second");
    EXPECT_EQ(type, T_FLOAT32);
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(bag.GetInfo(bag.CountItems(), &name, &type, &count));
    EXPECT_FALSE(bag.GetInfo(-1, &name, &type, &count));
}

TEST(BagRecords, FreeFunctions) {
    ZoList list(1, 1);
    EXPECT_EQ(FindItem(&list, ZoBag::Hash("k")), nullptr);

    T_Item seed{static_cast<int32_t>(ZoBag::Hash("k")), const_cast<char*>("k"), T_INT32, 0,
                nullptr};
    int value = 4;
    T_Elem* elem = static_cast<T_Elem*>(malloc(sizeof(T_Elem)));
    elem->size = 4;
    elem->data = malloc(4);
    memcpy(elem->data, &value, 4);
    AddIndex(&seed, elem);
    EXPECT_EQ(seed.count, 1);
    EXPECT_TRUE(SetItem(&list, &seed, 0));
    EXPECT_FALSE(SetItem(&list, &seed, 2));
    T_Item* item = FindItem(&list, ZoBag::Hash("k"));
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->name, seed.name);
    EXPECT_TRUE(SetItem(item, &seed, 1));
    EXPECT_EQ(item->count, 2);
    EXPECT_EQ(SeekIndex(item, 0), nullptr);
    EXPECT_EQ(SeekIndex(item, 3), nullptr);
    EXPECT_NE(SeekIndex(item, 2), nullptr);
    EXPECT_FALSE(RemoveIndex(item, 3));
    EXPECT_TRUE(RemoveIndex(item, 1));
    EXPECT_TRUE(RemoveIndex(item, 1));
    EXPECT_EQ(item->count, 0);  // the item record itself stays
    FreeIndex(seed.first);
    free(item->name);
    free(item);
}

}  // namespace
