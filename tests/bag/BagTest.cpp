#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// A 32-bit word as the byte forms hold it on every host: little-endian.
uint32_t Le32(uint32_t v) {
    return __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? __builtin_bswap32(v) : v;
}

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
    EXPECT_TRUE(bag.Getint8("i8", &i8, 1) && static_cast<signed char>(i8) == -8);
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

// ---- storage ----
// An item's name and first element share the item's block, and an element's
// bytes share the element's; these walk such records through every change.

std::string Plain(ZoBag& bag) {
    std::string out(bag.FlatSize(false), '\0');
    bag.Flatten(&out[0], nullptr, false);
    return out;
}

TEST(BagStorage, FirstElementSurvivesEveryChange) {
    ZoBag bag;
    for (int v = 1; v <= 3; v++)
        bag.Setint32("n", v, 0);
    EXPECT_TRUE(bag.RemoveItem("n", 1));                       // the element made with the item
    EXPECT_TRUE(bag.Setdata("n", T_INT32, "12345678", 8, 1));  // another size
    EXPECT_TRUE(bag.Setint32("n", 4, 0));
    EXPECT_TRUE(bag.RenameItem("n", "a-much-longer-name"));
    ZoBag copy(&bag);
    ZoList pieces(0, 1);
    ASSERT_TRUE(copy.Split(&pieces, 75));
    EXPECT_EQ(pieces.Size(), 2);
    ZoBag merged;
    merged.Concat(&pieces);
    for (long i = 0; i < pieces.Size(); i++)
        delete static_cast<ZoBag*>(pieces.GetItem(i));
    EXPECT_EQ(Plain(merged).substr(24), Plain(bag).substr(24));
    int v = 0;
    EXPECT_TRUE(merged.Getint32("a-much-longer-name", &v, 2));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(merged.Getint32("a-much-longer-name", &v, 3));
    EXPECT_EQ(v, 4);
    EXPECT_TRUE(bag.RemoveItem("a-much-longer-name", 0));
    EXPECT_EQ(bag.CountItems(), 0);
}

TEST(BagStorage, RenamedItemsFlattenUnderTheirNewName) {
    for (const char* name : {"x", "a-longer-name"}) {
        ZoBag renamed, fresh;
        renamed.Setint32("medium", 7, 0);
        renamed.Setint32("medium", 8, 0);
        ASSERT_TRUE(renamed.RenameItem("medium", name));
        fresh.Setint32(name, 7, 0);
        fresh.Setint32(name, 8, 0);
        EXPECT_EQ(renamed.FlatSize(false), fresh.FlatSize(false));
        EXPECT_EQ(Plain(renamed), Plain(fresh));
    }
}

// Element bytes are 8-byte aligned wherever the element came from, so a
// caller may read a double or a pointer through Getdata's pointer.
TEST(BagStorage, ElementBytesAreEightByteAligned) {
    ZoBag bag;
    bag.Setstring("name-of-odd-length", "x", 0);
    bag.Setfloat64("d", 1.5, 0);
    bag.Setfloat64("d", 2.5, 0);
    std::string flat = Plain(bag);
    ZoBag read;
    ASSERT_TRUE(read.Unflatten(flat.data(), flat.size()));
    ZoBag copy(&read);
    for (ZoBag* b : {&bag, &read, &copy}) {
        void* data = nullptr;
        int size = 0;
        for (int k = 1; k <= 2; k++) {
            ASSERT_TRUE(b->Getdata("d", T_FLOAT64, &data, &size, k));
            EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 8, 0u);
        }
        ASSERT_TRUE(b->Getdata("name-of-odd-length", T_STRING, &data, &size, 1));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 8, 0u);
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

TEST(BagSplit, EmptyBagGivesOneEmptyPiece) {
    ZoBag bag(9, 0);
    ZoBag empty(0, 0);
    for (long limit : {-1L, 0L, 1000L}) {
        ZoList pieces(0, 1);
        EXPECT_TRUE(bag.Split(&pieces, limit));
        EXPECT_EQ(TakePieces(pieces), std::vector<std::string>{Plain(empty)});
    }
}

TEST(BagSplit, PieceCountsAtTheLimits) {
    ZoBag bag(0x1234, 0);
    bag.who = 5;
    for (int v : {10, 20, 30})
        bag.Setint32("n", v, 0);
    // One element of "n" makes a 49-byte bag; each further one adds 8.
    struct {
        long limit;
        std::vector<int> counts;
    } cases[] = {{49, {1, 1, 1}}, {56, {1, 1, 1}}, {57, {2, 1}}, {64, {2, 1}}, {65, {3}}};
    for (auto& c : cases) {
        ZoList pieces(0, 1);
        ASSERT_TRUE(bag.Split(&pieces, c.limit)) << c.limit;
        ASSERT_EQ(pieces.Size(), static_cast<long>(c.counts.size())) << c.limit;
        for (long i = 0; i < pieces.Size(); i++) {
            ZoBag* piece = static_cast<ZoBag*>(pieces.GetItem(i));
            EXPECT_EQ(piece->CountItem("n"), c.counts[i]);
            EXPECT_EQ(piece->what | piece->who | piece->when, 0u);
        }
        ZoBag whole(0, 0);
        EXPECT_TRUE(whole.Concat(&pieces));
        int v = 0;
        for (int k = 1; k <= 3; k++)
            EXPECT_TRUE(whole.Getint32("n", &v, k) && v == 10 * k);
        TakePieces(pieces);
    }
}

TEST(BagSplit, FailuresEmptyTheList) {
    ZoBag bag(0, 0);
    bag.Setint32("n", 1, 0);                            // a piece of 49 bytes
    bag.Setdata("buf", T_BUFFER, "0123456789", 10, 0);  // 57 bytes alone
    ZoList pieces(0, 1);
    pieces.AddItem(new ZoBag(1, 0));       // there before the call: deleted too
    EXPECT_FALSE(bag.Split(&pieces, 48));  // one element never fits
    EXPECT_EQ(pieces.Size(), 0);
    // 49 + 4 + 10 > 62: the buffer must fit the room left, not a new piece.
    EXPECT_FALSE(bag.Split(&pieces, 62));
    EXPECT_EQ(pieces.Size(), 0);
    EXPECT_TRUE(bag.Split(&pieces, 63));
    EXPECT_EQ(TakePieces(pieces).size(), 2u);
    EXPECT_FALSE(bag.Split(nullptr, 1000));
}

TEST(BagSplit, SamePiecesAsTheObviousWay) {
    ZoBag mixed(1, 0);
    mixed.Setint32("n", 1, 0);
    mixed.Setint32("n", 2, 0);
    mixed.Setstring("name", "short", 0);
    mixed.Setstring("name", "a rather longer string value", 0);
    mixed.Setdata("buf", T_BUFFER, "0123456789", 10, 0);
    mixed.Setdata("buf", T_BUFFER, "", 0, 0);
    ZoBag inner(7, 0);
    mixed.Setbag("sub", &inner, 0);
    for (int k = 0; k < 12; k++)
        mixed.Setint8("many", static_cast<char>(k), 0);

    // What only foreign bytes make: two items of one hash (of two types) and
    // an item whose stored hash is not its name's.
    ZoBag twins(2, 0);
    twins.Setint32("x", 1, 0);
    ZoBag other(0, 0);
    other.Setstring("x", "second x", 0);
    other.Setstring("x", "again", 0);
    other.Setint16("odd", 4, 0);
    std::string flat = Plain(other);
    uint32_t hash = Le32(static_cast<uint32_t>(ZoBag::Hash("elsewhere")));
    memcpy(&flat[flat.rfind("odd") - 8], &hash, 4);
    ASSERT_TRUE(twins.Unflatten(flat.data(), flat.size()));
    twins.Setint32("x", 3, 0);

    for (ZoBag* bag : {&mixed, &twins}) {
        for (long limit = 20, whole = bag->FlatSize(false); limit <= whole + 8; limit++) {
            std::vector<std::string> expect;
            bool ok = ReferenceSplit(*bag, &expect, limit);
            ZoList pieces(0, 1);
            ASSERT_EQ(bag->Split(&pieces, limit), ok) << limit;
            if (ok) {
                EXPECT_EQ(TakePieces(pieces), expect) << limit;
            }
        }
    }
}

// Built from flat bytes: appending one element at a time walks the chain
// and adding items one by one scans the list, both quadratic at this size.
ZoBag* Unflattened(int items, int elements) {
    std::string flat(24, '\0');
    auto put = [&flat](uint32_t v) {
        v = Le32(v);
        flat.append(reinterpret_cast<char*>(&v), 4);
    };
    std::unordered_set<long> hashes;  // names of one hash would merge on Concat
    for (int i = 0, serial = 0; i < items; i++) {
        std::string name;
        do
            name = "i" + std::to_string(serial++);
        while (!hashes.insert(ZoBag::Hash(name.c_str())).second);
        put(static_cast<uint32_t>(ZoBag::Hash(name.c_str())));
        put(static_cast<uint32_t>(name.size()));
        flat += name;
        put(T_INT32);
        put(elements);
        for (int k = 0; k < elements; k++) {
            put(4);
            put(k);
        }
    }
    uint32_t header[] = {0, 0, 0, Le32(static_cast<uint32_t>(flat.size())),
                         Le32(static_cast<uint32_t>(items))};
    memcpy(&flat[0], "BaG", 4);
    memcpy(&flat[4], header, sizeof header);
    ZoBag* bag = new ZoBag(0, 0);
    EXPECT_TRUE(bag->Unflatten(flat.data(), flat.size()));
    return bag;
}

TEST(BagSplit, ManySmallElements) {
    const int n = 100000;
    struct {
        ZoBag* bag;
        long limit;
        long pieces;
    } cases[] = {
        {Unflattened(1, n), 1000, (n + 118) / 119},  // 50 bytes, then 8 for each of 118 more
        {Unflattened(n, 1), LONG_MAX, 1},
        {Unflattened(n, 1), 24 + 2 * 26 - 1, n},  // items take 26 bytes or more
    };
    for (auto& c : cases) {
        ZoList pieces(0, 1);
        ASSERT_TRUE(c.bag->Split(&pieces, c.limit));
        EXPECT_EQ(pieces.Size(), c.pieces);
        ZoBag whole(0, 0);
        whole.Concat(&pieces);
        EXPECT_TRUE(Plain(whole) == Plain(*c.bag));
        TakePieces(pieces);
        delete c.bag;
    }
}

TEST(BagConcat, AppendsAfterOwnElements) {
    ZoBag a(0, 0), b(0, 0);
    a.Setint32("n", 2, 0);
    a.Setstring("s", "x", 0);
    b.Setint32("n", 3, 0);
    ZoList pieces(0, 1);
    pieces.AddItem(&a);
    pieces.AddItem(&b);
    ZoBag bag(0x77, 0);
    bag.Setint32("n", 1, 0);
    EXPECT_TRUE(bag.Concat(&pieces));
    EXPECT_EQ(bag.what, 0x77u);
    EXPECT_EQ(Names(bag), (std::vector<std::string>{"n", "s"}));
    int v = 0;
    for (int k = 1; k <= 3; k++)
        EXPECT_TRUE(bag.Getint32("n", &v, k) && v == k);
    EXPECT_EQ(a.CountItem("n"), 1);  // pieces unchanged
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

const char kEmptyHeader[] = "what\t= 0x0\nwho\t= 0x0\nwhen\t= 0\n";

TEST(BagPrint, EveryType) {
    ZoBag fresh(7, 0);
    EXPECT_EQ(Stdout([&] { fresh.PrintToStream(); }),
              "what\t= 0x7\nwho\t= 0x0\nwhen\t= 0\nFlat\t= 24 bytes\n");

    ZoBag bag(0xBEEF, 0);
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
    ZoBag inner(0x42, 0);
    bag.Setbag("sub", &inner, 0);
    // All of a pointer's bits are printed: 64 of them where pointers have them.
    const bool wide = sizeof(void*) == 8;
    bag.Setpointer("p", reinterpret_cast<void*>(wide ? 0x1234ABCDEFULL : 0x34ABCDEFULL), 0);
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
            (wide ? "0x1234abcdef\n" : "0x34abcdef\n"));
}

TEST(BagPrint, OddElementsAreNotReadPast) {
    ZoBag bag(0, 0);
    bag.Setdata("s", T_STRING, "ab", 2, 0);   // no NUL
    bag.Setdata("n", T_INT32, "\x05", 1, 0);  // shorter than its type
    bag.Setdata("z", T_BAG, "BaG\x01zipped", 10, 0);
    bag.Setdata("q", static_cast<T_Data>(42), "x", 1, 0);  // unknown: item line only
    int32_t padded = 0;                                    // the byte, then zeros, in host order
    memcpy(&padded, "\x05", 1);
    EXPECT_EQ(Stdout([&] { bag.PrintToStream(); }),
              std::string(kEmptyHeader) +
                  "Flat\t= 122 bytes\n"
                  "Item 's' had 1 element(s)\n\t1\tstring\t\"ab\"\t2\n"
                  "Item 'n' had 1 element(s)\n\t1\tint32\t" +
                  std::to_string(padded) +
                  "\t1\n"
                  "Item 'z' had 1 element(s)\n\t1\tbag ?\t10\n"
                  "Item 'q' had 1 element(s)\n");
}

TEST(BagPrint, DumpData) {
    EXPECT_EQ(Stdout([] {
                  DumpData("AB", 2);
                  DumpData("\xC8", 1);
                  DumpData("ignored", 0);
                  DumpData("ignored", -4);
              }),
              "65 66 \n200 \n\n\n");
}

}  // namespace
