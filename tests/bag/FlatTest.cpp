// The flat form of bags, plain and compressed: its layout, nested bags,
// headers, the record functions, bytes that lie (refused, and a sweep of
// every bit flip), bag files, every architecture's fixtures, byte order.
#include <zolib/bag/Swap.h>
#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "bag/Fixtures.h"
#include "bag/FlatBytes.h"

// The sanitizers' allocation hooks; absent (null) in a build without them.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*))
    __attribute__((weak));

namespace {

using std::string;
using zotest::Compressed;
using zotest::Plain;

// what 0x1234, one T_INT32 item "n" holding 7.
const string kWorkedExample(
    "\x42\x61\x47\x00\x34\x12\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x31\x00\x00\x00\x01\x00\x00"
    "\x00\x6E\x00\x00\x00\x01\x00\x00\x00\x6E\x04\x00\x00\x00\x01\x00\x00\x00\x04\x00\x00\x00\x07"
    "\x00\x00\x00",
    49);

// The compressed form of a plain flat bag, whatever it holds: its body, the
// size field counting the body, through compress2 at the default level,
// behind "BaG", flag 1 and the body length claimed (by default the true one).
string ZippedBody(const string& plain, uint32_t claim = 0) {
    string body = plain.substr(4).replace(12, 4, Le32(static_cast<uint32_t>(plain.size() - 4)));
    return string("BaG\x01", 4) + Le32(claim ? claim : static_cast<uint32_t>(body.size())) +
           Compress2(body);
}

string Slurp(const string& path) {
    std::ifstream in(path, std::ios::binary);
    return string(std::istreambuf_iterator<char>(in), {});
}

// Names go without their NUL, string payloads with it; a nested bag is its
// plain flat form, a snapshot.
TEST(FlatForm, LayoutOfBothForms) {
    ZoBag empty(0x0A0B0C0D, 0), inner(0x1234, 0), outer(0x77, 0);
    empty.who = 1;
    empty.when = 2;
    inner.Setint32("n", 7, 0);
    outer.Setstring("hi", "hi", 0);
    ASSERT_TRUE(outer.Setbag("sub", &inner, 0));
    const std::pair<ZoBag*, string> cases[] = {
        {&empty, FlatOf(0x0A0B0C0D, {}, 1, 2)},
        {&inner, kWorkedExample},
        {&outer, FlatOf(0x77, {{ZoBag::Hash("hi"), "hi", T_STRING, {string("hi", 3)}},
                               {ZoBag::Hash("sub"), "sub", T_BAG, {kWorkedExample}}})},
    };
    for (const auto& [bag, plain] : cases) {
        EXPECT_EQ(Plain(*bag), plain);
        EXPECT_EQ(bag->FlatSize(false), plain.size());
        EXPECT_EQ(Compressed(*bag), ZippedBody(plain));
        EXPECT_EQ(bag->FlatSize(true), MaxZippedSize(plain.size() - 1) + 1);
    }
    EXPECT_EQ(FlatOf(0x1234, {{110, "n", T_INT32, {Le32(7)}}}), kWorkedExample);
    inner.Setint32("n", 8, 1);
    EXPECT_EQ(Plain(outer), cases[2].second);
}

TEST(FlatNested, GetbagGivesNewBagsOrNull) {
    ZoBag inner(1, 0), outer(0, 0);
    inner.Setint32("n", 1, 0);
    string zipped = Compressed(inner), liar = Plain(inner).replace(20, 4, Le32(1000));
    ASSERT_TRUE(outer.Setbag("b", &inner, 0));
    outer.Setdata("b", T_BAG, zipped.data(), static_cast<int>(zipped.size()), 0);
    outer.Setdata("b", T_BAG, liar.data(), static_cast<int>(liar.size()), 0);  // a count that lies
    // Elements 1 (twice) and 2 give new, independent bags; 3 gives null; with
    // no element 4 the pointer is left alone.
    for (int k : {1, 1, 2, 3, 4}) {
        ZoBag* got = &inner;
        EXPECT_EQ(outer.Getbag("b", &got, k), k < 3) << k;
        if (k >= 3) {
            EXPECT_EQ(got, k == 3 ? nullptr : &inner);
            continue;
        }
        EXPECT_EQ(Plain(*got), Plain(inner));
        got->Setint32("n", 99, 1);
        delete got;
    }
    EXPECT_FALSE(outer.Setbag("b", nullptr, 0));
}

// The header words are given once there is a whole plain header, the item
// count only when the length is the flat size.
TEST(FlatPeek, HeaderOfPlainBagsOfTheirExactLength) {
    EXPECT_TRUE(IsABag("BaG\x07", 4));  // whatever the flag
    EXPECT_FALSE(IsABag("BaG", 3) || IsABag("Bag\0", 4) || IsABag(nullptr, 10));
    string flat = FlatOf(0x1234, {{0, "", T_BOOL, {"\1"}}}, 0x55, 9);
    const std::pair<string, int> cases[] = {{flat, 2},
                                            {flat.substr(0, flat.size() - 1), 1},
                                            {flat + '\0', 1},
                                            {Compressed(*BagOf(flat)), 0},
                                            {flat.substr(0, 23), 0}};
    for (const auto& [bytes, given] : cases) {
        unsigned long what = 0, who = 0, when = 0;
        int count = -1;
        EXPECT_EQ(PeekInFlatBag(bytes.data(), bytes.size(), &what, &who, &when, &count),
                  given == 2);
        EXPECT_EQ(what + who + when, given > 0 ? 0x1234u + 0x55 + 9 : 0u) << bytes.size();
        EXPECT_EQ(count, given == 2 ? 1 : -1) << bytes.size();
    }
    EXPECT_TRUE(PeekInFlatBag(flat.data(), flat.size(), nullptr, nullptr, nullptr, nullptr));
}

// The exported record functions that the members do not go through.
TEST(FlatRecords, FreeFunctions) {
    string records =
        FlatOf(0, {{ZoBag::Hash("word"), "word", T_STRING, {string("ab", 3), string("cde", 4)}}})
            .substr(24);
    string again(records.size(), '\0');
    T_Item* item = nullptr;
    T_Elem* elem = nullptr;
    ZoList list(1, 1);
    ASSERT_EQ(UnflattenItem(&item, records.data()), records.data() + records.size());
    EXPECT_TRUE(FlatSizeItem(item) == records.size() && FlatSizeIndex(nullptr) == 0);
    EXPECT_EQ(FlattenItem(item, &again[0]), &again[0] + again.size());
    EXPECT_EQ(again, records);
    EXPECT_TRUE(FindItem(&list, item->hash) == nullptr && SetItem(&list, item, 2) &&
                !SetItem(&list, item, 3));
    T_Item* copy = FindItem(&list, item->hash);
    ASSERT_TRUE(copy != nullptr && SetItem(copy, item, 0) && copy->count == 3);  // cde, ab, cde
    EXPECT_TRUE(SeekIndex(copy, 4) == nullptr && SeekIndex(copy, 3) != nullptr);
    EXPECT_TRUE(!RemoveIndex(copy, 4) && RemoveIndex(copy, 1) && RemoveIndex(copy, 1) &&
                RemoveIndex(copy, 1) && copy->first == nullptr);  // the record stays
    const char* at = records.data() + 27;                         // the second element record
    EXPECT_EQ(UnflattenIndex(&elem, at, 0), at + 8);
    AddIndex(copy, elem);
    EXPECT_TRUE(copy->count == 1 && FlatSizeIndex(copy->first) == 8);
    EXPECT_STREQ(static_cast<char*>(copy->first->data), "cde");
    for (T_Item* made : {item, copy}) {
        FreeIndex(made->first);
        free(made->name);
        free(made);
    }
    string empty = Le32(0) + Le32(0) + Le32(T_INT32) + Le32(0);  // an item with no element
    EXPECT_EQ(UnflattenItem(&item, empty.data()), nullptr);
    EXPECT_EQ(item, nullptr);
}

// A plain flat bag of these records, its size field agreeing, its item count given.
string WithHeader(uint32_t count, const string& records) {
    return string("BaG", 4) + Le32(1) + Le32(2) + Le32(3) +
           Le32(static_cast<uint32_t>(24 + records.size())) + Le32(count) + records;
}

// Bytes whose fields lie are refused: nothing is added to the bag.
TEST(FlatUntrusted, LyingFieldsAreRefused) {
    string n = Le32(110) + Le32(1) + "n" + Le32(T_INT32);
    string item = n + Le32(1) + Le32(4) + Le32(7);
    string good = WithHeader(1, item), zipped = ZippedBody(good);
    const string lying[] = {
        "",
        string("BaG\0\1\2\3\4\5\6", 10),
        good.substr(0, good.size() - 1),  // size fields that do not match
        good + '\0',
        WithHeader(0x7FFFFFFF, item),  // item counts
        WithHeader(2, item),
        WithHeader(0xFFFFFFFF, item),
        WithHeader(1, n + Le32(0x7FFFFFFF) + Le32(4) + Le32(7)),  // element counts
        WithHeader(1, n + Le32(0) + Le32(4) + Le32(7)),
        WithHeader(1, n + Le32(0x80000000)),
        WithHeader(1, n + Le32(1) + Le32(0xFFFFFFFF) + Le32(7)),  // an element size
        WithHeader(1, Le32(110) + Le32(0xFFFFFFF0) + "n" + Le32(T_INT32) + Le32(1)),  // a name
        WithHeader(2, item + n + Le32(1) + Le32(9)),  // a good item, then a bad one
        ZippedBody(good, 20),                         // less than the body holds
        zipped.substr(0, zipped.size() - 1),
        zipped.substr(0, 8),
        ZippedBody(WithHeader(1, Le32(110) + Le32(0xFFFF) + "n")),  // a sound stream
    };
    for (const string& flat : lying) {
        ZoBag bag(0, 0);
        bag.Setint32("kept", 1, 0);
        EXPECT_FALSE(bag.Unflatten(flat.data(), flat.size())) << &flat - lying;
        EXPECT_EQ(bag.CountItems(), 1) << &flat - lying;
    }
    ZoBag bag(0, 0);
    EXPECT_FALSE(bag.Unflatten(kWorkedExample.data(), 48));
    EXPECT_EQ(bag.what, 0x1234u);  // taken before the check
    // The claimed body length only bounds the output: a larger claim still reads.
    EXPECT_EQ(Plain(*BagOf(ZippedBody(good, 0x7FFFFFFF))), good);
}

// ---- the corruption sweep ----

// Decoding one variant takes well under a millisecond and about 100 KiB at
// most (a damaged stream's first output guess); a reader that believed a
// lying field would take seconds or gigabytes. The bounds leave room for
// valgrind's slowdown.
constexpr double kCpuSeconds = 0.25;
constexpr size_t kLargestBlock = 1u << 20;
constexpr size_t kAllBlocks = 4u << 20;
std::atomic<size_t> allocated{0};
std::atomic<size_t> largest{0};

void OnMalloc(const volatile void*, size_t size) {
    allocated.fetch_add(size, std::memory_order_relaxed);
    size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

void OnFree(const volatile void*) {}

double CpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What a receiver does with bytes: unflatten them and open every nested bag,
// and theirs, flattened again.
bool Unflattens(const string& bytes, int depth = 0) {
    ZoBag bag(0, 0);
    if (!bag.Unflatten(bytes.data(), bytes.size())) return false;
    char* name;
    T_Data type;
    int count;
    for (int i = 0; depth < 3 && bag.GetInfo(i, &name, &type, &count); i++) {
        EXPECT_GT(count, 0);  // no item without an element
        for (int k = 1; type == T_BAG && k <= count; k++) {
            ZoBag* nested = nullptr;
            if (bag.Getbag(name, &nested, k))
                Unflattens(Plain(*std::unique_ptr<ZoBag>(nested)), depth + 1);
        }
    }
    return true;
}

// Every single-bit flip and every truncation of a plain and a compressed flat
// bag (every type, nested three levels): nothing may crash or trip a
// sanitizer, and no variant may cost more than a small, fixed budget of CPU
// time and memory, so a lying count or length cannot make a reader loop or
// allocate hugely. The fuzz targets do the rest.
TEST(CorruptedFlatBags, EveryFlipAndCutWithinBudget) {
    const bool counting = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                          __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    std::unique_ptr<ZoBag> source = FixtureBag();
    source->Setpointer("p", &source, 0);
    source->Setdata("short", T_INT64, "\1\2", 2, 0);  // shorter than its type
    string plain = Plain(*source);
    for (const string& sample : {plain, Compressed(*source)}) {
        SCOPED_TRACE(sample[3] == 0 ? "plain" : "compressed");
        ASSERT_TRUE(Unflattens(sample));
        size_t accepted = 0, mostBytes = 0, largestBlock = 0;
        double slowest = 0;
        auto decode = [&](const string& variant) {
            allocated = 0;
            largest = 0;
            double start = CpuSeconds();
            accepted += Unflattens(variant) ? 1 : 0;
            slowest = std::max(slowest, CpuSeconds() - start);
            mostBytes = std::max(mostBytes, allocated.load());
            largestBlock = std::max(largestBlock, largest.load());
        };
        for (size_t bit = 0; bit < sample.size() * 8; bit++) {
            string flipped = sample;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
            decode(flipped);
        }
        for (size_t length = 0; length < sample.size(); length++)
            decode(sample.substr(0, length));
        EXPECT_LT(slowest, kCpuSeconds);
        EXPECT_TRUE(!counting || (largestBlock < kLargestBlock && mostBytes < kAllBlocks))
            << largestBlock << " bytes in one block, " << mostBytes << " in all";
        EXPECT_LT(accepted, sample.size() * 9);  // the damage reached the checks
    }
    // Cut short with an agreeing size field: records run past the end everywhere.
    for (size_t cut = 24; cut < plain.size(); cut++)
        EXPECT_FALSE(
            Unflattens(plain.substr(0, cut).replace(16, 4, Le32(static_cast<uint32_t>(cut)))))
            << cut;
}

// ---- bag files ----

// A length word, then the compressed flat bag. A file that is short, cut or
// lying gives an empty bag; only a file that cannot be opened gives none.
TEST(BagFile, LengthWordThenCompressedFlatBag) {
    string path = testing::TempDir() + "zolib-bagfile-" + std::to_string(getpid());
    ZoBag empty(0, 0), bag(0x77, 0);
    bag.Setstring("s", "a string long enough to be worth compressing, compressing", 0);
    ASSERT_TRUE(SaveToFile(path.c_str(), &bag));
    string good = Slurp(path), flipped = good, zipped = Compressed(empty);
    flipped[good.size() / 2] ^= 0x40;
    ASSERT_TRUE(SaveToFile(path.c_str(), &empty));  // truncates
    EXPECT_EQ(Slurp(path), Le32(static_cast<uint32_t>(zipped.size())) + zipped);
    EXPECT_FALSE(SaveToFile(path.c_str(), nullptr) || SaveToFile((path + "/a").c_str(), &bag));
    const string damaged[] = {"",
                              "\x10",
                              good.substr(0, 4),
                              Le32(0),
                              good.substr(0, good.size() - 1),
                              Le32(0xFFFFFFFF) + good.substr(4, 20),
                              flipped};
    for (const string& bytes : damaged) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        std::unique_ptr<ZoBag> read(LoadFromFile(path.c_str()));
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->CountItems(), 0) << bytes.size();
    }
    remove(path.c_str());
    EXPECT_EQ(LoadFromFile(path.c_str()), nullptr);
}

// ---- byte order ----

// Bags written on every architecture the library builds for read back the
// same on every other (to host values, as the typed getters show), and
// flatten, compress and save to the very same bytes: the byte forms are
// little-endian everywhere.
TEST(FlatFixtures, EveryArchitecturesBagsReadAndWriteTheSame) {
    auto want = FixtureBag();
    string tmp = testing::TempDir() + "zolib-fixture-" + std::to_string(getpid()) + ".bag";
    for (const char* arch : {"amd64", "armhf", "arm64", "s390x"}) {
        SCOPED_TRACE(arch);
        string dir = string(ZOLIB_FIXTURES) + "/" + arch + "/";
        string plain = Slurp(dir + kFixturePlain), zipped = Slurp(dir + kFixtureZipped);
        EXPECT_TRUE(Plain(*want) == plain);
        std::unique_ptr<ZoBag> fromFile(LoadFromFile((dir + kFixtureFile).c_str()));
        ASSERT_TRUE(fromFile != nullptr && BagOf(zipped) != nullptr);
        EXPECT_TRUE(Compressed(*BagOf(zipped)) == zipped);
        ASSERT_TRUE(SaveToFile(tmp.c_str(), fromFile.get()));
        EXPECT_TRUE(Slurp(tmp) == Slurp(dir + kFixtureFile));
        for (ZoBag* bag : {BagOf(plain).release(), BagOf(zipped).release(), fromFile.release()}) {
            std::unique_ptr<ZoBag> owned(bag);
            ASSERT_NE(bag, nullptr);
            EXPECT_TRUE(Plain(*bag) == plain);
            long long int64 = 0;
            double float64 = 0;
            EXPECT_TRUE(bag->Getint64("int64", &int64, 1) && int64 == 0x0102030405060708LL);
            EXPECT_TRUE(bag->Getfloat64("float64", &float64, 2) && float64 == -1e300);
        }
    }
    remove(tmp.c_str());
}

// Each width's Swap reverses the bytes of its value in place.
template <typename... T>
bool Reversed() {
    return ([] {
        unsigned char before[sizeof(T)], after[sizeof(T)];
        for (size_t i = 0; i < sizeof(T); i++)
            before[i] = static_cast<unsigned char>(i + 1);
        T value;
        memcpy(&value, before, sizeof value);
        Swap(&value);
        memcpy(after, &value, sizeof value);
        return std::equal(after, after + sizeof(T),
                          std::reverse_iterator<unsigned char*>(before + sizeof(T)));
    }() && ...);
}

TEST(Swap, ReversesEveryWidth) {
    EXPECT_EQ(Endianess(), __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 1 : 0);
    EXPECT_TRUE((Reversed<short, unsigned short, int, unsigned int, float, long long,
                          unsigned long long, double>()));
    unsigned char run[] = {1, 2, 3, 4, 5};
    Swap(run, 5);
    Swap(run, 1);
    Swap(run, 0);
    EXPECT_EQ(memcmp(run, "\5\4\3\2\1", 5), 0);
}

}  // namespace
