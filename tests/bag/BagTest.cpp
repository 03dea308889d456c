// Items and elements of a bag, checked against the item rules written out
// plainly; the typed accessors of bags and attributes; split and concat;
// printing.
#include <zolib/bag/Attributes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "bag/Fixtures.h"
#include "bag/FlatBytes.h"

namespace {

using std::string;
using zotest::Plain;

TEST(BagHash, ValuesOfTheNameHash) {
    const char wraps[] = {static_cast<char>(0xFF), 0x01, 0};
    const std::pair<const char*, long> cases[] = {
        {"", 0},         {"A", 65},           {"ab", 9506}, {"ba", 9506},
        {"abc", 106526}, {"count", 14187859}, {wraps, -1}};
    for (const auto& [name, hash] : cases)
        EXPECT_EQ(ZoBag::Hash(name), hash) << name;
    long h = ZoBag::Hash("a rather long item name that overflows");
    EXPECT_TRUE(h >= INT32_MIN && h <= INT32_MAX);  // wraps at 32 bits, sign-extended
}

// The item rules, over the records a flat bag lists: items are found by the
// hash of their name, positions are 1-based (below 1 means 1), writes past
// the end append, the first element fixes the type, the last one removed
// takes its item along.
struct Model {
    std::vector<RawItem> items;

    RawItem* Find(const char* name) {
        for (RawItem& item : items)
            if (item.hash == ZoBag::Hash(name)) return &item;
        return nullptr;
    }
    // Where position `index` is in the item's elements; -1 for 0 and past the end.
    static int At(const RawItem* item, int index) {
        int count = item != nullptr ? static_cast<int>(item->elements.size()) : 0;
        return index == 0 || index > count ? -1 : std::max(index, 1) - 1;
    }
    bool Set(const char* name, T_Data type, const string& bytes, int index) {
        RawItem* item = Find(name);
        if (item == nullptr) {
            items.push_back({ZoBag::Hash(name), name, type, {bytes}});
        } else if (item->type != type) {
            return false;
        } else if (At(item, index) < 0) {
            item->elements.push_back(bytes);
        } else {
            item->elements[At(item, index)] = bytes;
        }
        return true;
    }
    bool Remove(const char* name, int index) {
        RawItem* item = Find(name);
        if (item == nullptr || (index != 0 && At(item, index) < 0)) return false;
        if (index != 0) item->elements.erase(item->elements.begin() + At(item, index));
        if (index == 0 || item->elements.empty()) items.erase(items.begin() + (item - &items[0]));
        return true;
    }
    bool Rename(const char* from, const char* to) {
        RawItem* item = Find(from);
        if (item == nullptr || Find(to) != nullptr) return false;
        *item = {ZoBag::Hash(to), to, item->type, item->elements};
        return true;
    }
    // Onto an item that is there already, types are not compared.
    bool Copy(Model& source, const char* name, int index) {
        RawItem* from = source.Find(name);
        if (from == nullptr || (index != 0 && At(from, index) < 0)) return false;
        RawItem copy = *from;
        if (index != 0) copy.elements = {from->elements[At(from, index)]};
        if (RawItem* here = Find(name))
            here->elements.insert(here->elements.end(), copy.elements.begin(), copy.elements.end());
        else
            items.push_back(copy);
        return true;
    }
};

// Random changes to two bags, each checked against the rules: the result of
// every call, every byte of the flat form and the reads that follow. Now and
// then a bag is replaced by its copy, or another bag's flat form is read into
// it (appended, not merged: items of one hash then stand twice), so that
// records made every way go through every change.
TEST(BagItems, FollowTheRulesThroughRandomChanges) {
    // "ab" and "ba" have one hash.
    const char* const names[] = {"", "a", "ab", "ba", "n", "a-much-longer-name"};
    // Types whose bytes the flat form holds as given on every host.
    const T_Data types[] = {T_INT8, T_STRING, T_BUFFER};
    std::mt19937 random(15);
    std::unique_ptr<ZoBag> bags[] = {std::make_unique<ZoBag>(3, 0), std::make_unique<ZoBag>(4, 0)};
    Model models[2];
    for (int step = 0; step < 5000; step++) {
        SCOPED_TRACE("step " + std::to_string(step));
        int which = static_cast<int>(random() % 2), from = static_cast<int>(random() % 2);
        ZoBag& bag = *bags[which];
        Model& model = models[which];
        const char* name = names[random() % 6];
        int index = static_cast<int>(random() % 6) - 2;
        T_Data type = types[random() % 3];
        // Now and then an element too large to share a block with others.
        string bytes(random() % 64 == 0 ? 1100 : random() % 9, '\0');
        for (char& c : bytes)
            c = "ab\0"[random() % 3];
        int op = static_cast<int>(random() % 5);
        if (op >= 3 && bag.FlatSize(false) > 3000) op = 1;  // copies grow the bag: shrink it
        bool got = false, want = true;
        switch (op) {
            case 0: {  // at times with bytes from the very element being replaced
                const char* data = bytes.data();
                void* own;
                int size;
                if (random() % 4 == 0 && bag.Getdata(name, type, &own, &size, 1)) {
                    data = static_cast<char*>(own) + size / 2;
                    bytes.assign(data, size - size / 2);
                }
                want = model.Set(name, type, bytes, index);
                got = bag.Setdata(name, type, data, static_cast<int>(bytes.size()), index);
                break;
            }
            case 1:
                want = model.Remove(name, index);
                got = bag.RemoveItem(name, index);
                break;
            case 2: {
                const char* to = names[random() % 6];
                want = model.Rename(name, to);
                got = bag.RenameItem(name, to);
                break;
            }
            case 3:  // from the other bag or from this one
                want = model.Copy(models[from], name, index);
                got = bag.CopyItem(bags[from].get(), name, index);
                break;
            case 4: {  // every item of the pieces, as CopyItem(piece, name, 0) each
                Model& of = models[from];
                for (size_t i = 0, n = of.items.size(); i < n; i++)
                    model.Copy(of, string(of.items[i].name).c_str(), 0);
                ZoList pieces(1, 1);
                pieces.AddItem(bags[from].get());
                got = bag.Concat(&pieces);
                break;
            }
        }
        ASSERT_EQ(got, want) << "op " << op;
        ASSERT_EQ(Plain(bag), FlatOf(bag.what, model.items, bag.who, bag.when)) << "op " << op;
        RawItem* item = model.Find(name);
        for (int k = -1; k <= 3; k++) {
            int at = item != nullptr && item->type == type ? Model::At(item, k) : -1;
            void* data = nullptr;
            int size = -1;
            ASSERT_EQ(bag.Getdata(name, type, &data, &size, k), at >= 0) << k;
            if (at < 0) continue;
            const string& element = item->elements[at];
            EXPECT_EQ(string(static_cast<char*>(data), size), element);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 8, 0u);  // element bytes stay aligned
            char* s = nullptr;
            EXPECT_EQ(bag.Getstring(name, &s, k),
                      type == T_STRING && element.find('\0') != string::npos);
        }
        EXPECT_EQ(bag.CountItem(name), item ? static_cast<int>(item->elements.size()) : 0);
        if (step % 400 == 199) {
            bags[which] = std::make_unique<ZoBag>(&bag);
        } else if (step % 400 == 399) {
            string flat = Plain(*bags[from]);
            std::vector<RawItem> read = models[from].items;
            ASSERT_TRUE(bag.Unflatten(flat.data(), flat.size()));
            model.items.insert(model.items.end(), read.begin(), read.end());
        }
    }
}

// Each typed pair stores and reads its own type at its own width (through
// the bag's typed pair); an element of that type shorter than the width is
// refused, the output untouched.
template <typename T, typename Set, typename Get>
void ExpectTyped(Set set, Get get, T value, T_Data type, int width) {
    ZoAttributes attrs;
    T back = value;
    EXPECT_FALSE((attrs.*get)("v", &back, 1));  // nothing yet
    ASSERT_TRUE((attrs.*set)("v", value, 0) && (attrs.*get)("v", &back, 1));
    EXPECT_EQ(memcmp(&back, &value, sizeof value), 0);
    void* data = nullptr;
    int size = 0;
    EXPECT_TRUE(attrs.GetdataAttr("v", type, &data, &size, 1) && size == width);
    ASSERT_TRUE(attrs.SetdataAttr("v", type, "\x11\x11\x11\x11\x11\x11\x11", width - 1, 1));
    EXPECT_FALSE((attrs.*get)("v", &back, 1));
    EXPECT_EQ(memcmp(&back, &value, sizeof value), 0);
}

TEST(Attributes, EveryTypedPair) {
    using A = ZoAttributes;
    void* p = &p;
    ExpectTyped(&A::SetboolAttr, &A::GetboolAttr, true, T_BOOL, 1);
    ExpectTyped(&A::Setint8Attr, &A::Getint8Attr, char(-8), T_INT8, 1);
    ExpectTyped(&A::Setint16Attr, &A::Getint16Attr, short(-1600), T_INT16, 2);
    ExpectTyped(&A::Setint32Attr, &A::Getint32Attr, -320000, T_INT32, 4);
    ExpectTyped(&A::Setint64Attr, &A::Getint64Attr, -6400000000LL, T_INT64, 8);
    ExpectTyped(&A::SetfloatAttr, &A::GetfloatAttr, 1.5f, T_FLOAT32, 4);
    ExpectTyped(&A::SetdoubleAttr, &A::GetdoubleAttr, -2.25, T_FLOAT64, 8);
    ExpectTyped(&A::SetpointerAttr, &A::GetpointerAttr, p, T_POINTER, sizeof p);
}

// Attributes are bag items: strings and bags too, removal by position, and
// nothing before the first setter.
TEST(Attributes, StringsBagsAndRemoval) {
    ZoAttributes attrs;
    char* s = nullptr;
    ZoBag inner(0x31, 0);
    ZoBag* bag = &inner;
    T_Data type = T_BAG;
    EXPECT_FALSE(attrs.GetstringAttr("s", &s, 1) || attrs.GetbagAttr("b", &bag, 1) ||
                 attrs.HasAttr("s", &type) || attrs.HasAttr("s", T_STRING) ||
                 attrs.RemoveAttr("s", 0));
    ASSERT_TRUE(attrs.SetstringAttr("s", "first", 0) && attrs.SetstringAttr("s", "second", 0) &&
                attrs.SetbagAttr("b", &inner, 0) && attrs.GetbagAttr("b", &bag, 1));
    EXPECT_EQ(Plain(*std::unique_ptr<ZoBag>(bag)), Plain(inner));
    EXPECT_TRUE(attrs.HasAttr("s", &type) && type == T_STRING && attrs.HasAttr("b", T_BAG));
    EXPECT_TRUE(attrs.RemoveAttr("s", 1) && attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "second");
}

// ---- split and concat ----

// The plain bytes of every piece; the pieces are deleted.
std::vector<string> TakePieces(ZoList& pieces) {
    std::vector<string> out;
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
bool ReferenceSplit(ZoBag& bag, std::vector<string>* pieces, long limit) {
    auto piece = std::make_unique<ZoBag>(0, 0);
    bool fresh = true;
    char* name;
    T_Data type;
    int count;
    for (int i = 0; bag.GetInfo(i, &name, &type, &count); i++) {
        for (int s = 1, p = 1; s <= count; s++, p++) {
            void* data;
            int size;
            if ((type == T_BUFFER || type == T_BAG) && bag.Getdata(name, type, &data, &size, s) &&
                piece->FlatSize(false) + 4 + size > static_cast<unsigned long>(limit))
                return false;
            piece->CopyItem(&bag, name, s);
            if (static_cast<long>(piece->FlatSize(false)) <= limit) {
                fresh = false;
            } else if (fresh) {
                return false;
            } else {
                piece->RemoveItem(name, p);
                pieces->push_back(Plain(*piece));
                piece = std::make_unique<ZoBag>(0, 0);
                fresh = true;
                p = 0;
                s--;
            }
        }
    }
    pieces->push_back(Plain(*piece));
    return true;
}

// Every limit from too small to the whole bag, against the obvious way, and
// the pieces concatenated back to the bag. A failed split empties the list,
// deleting what it held before.
TEST(BagSplit, SamePiecesAsTheObviousWayAtEveryLimit) {
    std::unique_ptr<ZoBag> mixed = FixtureBag(), empty = std::make_unique<ZoBag>(9, 0);
    for (int k = 0; k < 30; k++)  // more items than a piece's list starts with
        mixed->Setint8(std::to_string(k % 25).c_str(), static_cast<char>(k), 0);
    // Two items of one hash (of two types) and a hash that is not the name's.
    std::unique_ptr<ZoBag> twins =
        BagOf(FlatOf(2, {{ZoBag::Hash("x"), "x", T_INT32, {Le32(1)}},
                         {ZoBag::Hash("x"), "x", T_STRING, {string("second x", 9), "again"}},
                         {ZoBag::Hash("elsewhere"), "odd", T_INT16, {"\4\0"}}}));
    ASSERT_NE(twins, nullptr);
    twins->Setint32("x", 3, 0);
    for (ZoBag* bag : {mixed.get(), twins.get(), empty.get()}) {
        for (long limit = 0, whole = bag->FlatSize(false); limit <= whole + 8; limit++) {
            std::vector<string> expect;
            bool ok = ReferenceSplit(*bag, &expect, limit);
            ZoList pieces(0, 1);
            pieces.AddItem(new ZoBag(1, 0));
            if (ok) TakePieces(pieces);
            ASSERT_EQ(bag->Split(&pieces, limit), ok) << limit;
            ZoBag back(bag->what, 0);
            back.who = bag->who;
            back.when = bag->when;
            EXPECT_TRUE(back.Concat(&pieces));
            if (!ok) expect.clear();
            EXPECT_EQ(TakePieces(pieces), expect) << limit;
            if (ok && bag != twins.get()) {  // items of one hash merge on Concat
                EXPECT_EQ(Plain(back), Plain(*bag)) << limit;
            }
        }
    }
    EXPECT_FALSE(mixed->Split(nullptr, 1000));
}

// ---- printing ----

template <typename F>
string Stdout(F print) {
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
    // A nested bag that cannot be peeked; an unknown type prints its item line.
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
