// The one corruption sweep (the fuzz targets do the rest): each single bit of
// a flat bag flipped in turn, and each truncation, decoded as a receiver
// would (unflatten, then open every nested bag, three levels deep). Nothing may
// crash or trip a sanitizer, whatever is accepted must be a whole bag, and no
// variant may cost more than a small, fixed budget of CPU time and memory: a
// lying count or length must not make a reader loop or allocate hugely.
#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "bag/FlatBytes.h"
#include "support/Bytes.h"

// The sanitizers' allocation hooks; absent (null) in a build without them.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*))
    __attribute__((weak));

namespace {

using std::string;

// Budget of one variant. Decoding one of these samples takes well under a
// millisecond and about 100 KiB at most (a damaged stream's first output
// guess); a reader that believed a lying field would take seconds or
// gigabytes. The bounds leave room for valgrind's slowdown.
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

// True when allocations are counted (a sanitizer build).
bool CountAllocations() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                                  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    return installed;
}

double ThreadCpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

using zotest::Compressed;
using zotest::Plain;

// Every type, one element short of its type (only Setdata makes those), and a
// nested bag that holds another one: three levels.
void Fill(ZoBag& bag) {
    static int target;
    bag.who = 0xCAFE;
    bag.when = 0xFFFFFFFB;
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
    bag.Setdata("short", T_INT64, "\1\2", 2, 0);
    bag.Setdata("buf", T_BUFFER, "\0\1\2", 3, 0);
    ZoBag deepest(3, 0);
    deepest.Setstring("where", "bottom", 0);
    ZoBag middle(2, 0);
    middle.Setint32("n", 42, 0);
    middle.Setbag("down", &deepest, 0);
    middle.Setbag("down", &deepest, 0);
    bag.Setbag("nested", &middle, 0);
}

// What a receiver does with a bag it accepted: flatten it, and open every
// nested bag, and theirs.
void Use(ZoBag& bag, int depth) {
    string again = Plain(bag);
    EXPECT_TRUE(PeekInFlatBag(again.data(), static_cast<long>(again.size()), nullptr, nullptr,
                              nullptr, nullptr));
    char* name;
    T_Data type;
    int count;
    for (int i = 0; depth < 4 && bag.GetInfo(i, &name, &type, &count); i++) {
        for (int k = 1; type == T_BAG && k <= count; k++) {
            ZoBag* nested = nullptr;
            if (!bag.Getbag(name, &nested, k)) continue;
            std::unique_ptr<ZoBag> owned(nested);
            Use(*nested, depth + 1);
        }
    }
}

struct Tally {
    int variants = 0;
    int accepted = 0;
    double slowest = 0;       // CPU seconds of the costliest variant
    size_t mostBytes = 0;     // bytes allocated by the hungriest variant
    size_t largestBlock = 0;  // the largest single allocation seen
};

// Decodes every single-bit flip and every truncation of `sample`; `decode`
// returns whether the variant was accepted.
Tally Sweep(const string& sample, const std::function<bool(const string&)>& decode) {
    Tally tally;
    auto one = [&](const string& variant) {
        allocated = 0;
        largest = 0;
        double start = ThreadCpuSeconds();
        bool accepted = decode(variant);
        double spent = ThreadCpuSeconds() - start;
        tally.variants++;
        tally.accepted += accepted ? 1 : 0;
        tally.slowest = std::max(tally.slowest, spent);
        tally.mostBytes = std::max(tally.mostBytes, allocated.load());
        tally.largestBlock = std::max(tally.largestBlock, largest.load());
    };
    CountAllocations();
    for (size_t bit = 0; bit < sample.size() * 8; bit++) {
        string flipped = sample;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
        one(flipped);
    }
    for (size_t length = 0; length < sample.size(); length++)
        one(sample.substr(0, length));
    return tally;
}

void ExpectWithinBudget(const Tally& tally, const string& sample) {
    EXPECT_EQ(tally.variants, static_cast<int>(sample.size() * 9));
    EXPECT_LT(tally.slowest, kCpuSeconds);
    if (CountAllocations()) {
        EXPECT_LT(tally.largestBlock, kLargestBlock);
        EXPECT_LT(tally.mostBytes, kAllBlocks);
    }
    // The damage reached the checks: many variants are refused.
    EXPECT_LT(tally.accepted, tally.variants);
}

bool Unflattens(const string& bytes) {
    ZoBag bag(0, 0);
    if (!bag.Unflatten(bytes.data(), bytes.size())) return false;
    Use(bag, 0);
    return true;
}

TEST(CorruptedFlatBags, PlainAndCompressedWithNestedBags) {
    ZoBag source(0x20, 0);
    Fill(source);
    for (const string& sample : {Plain(source), Compressed(source)}) {
        SCOPED_TRACE(sample[3] == 0 ? "plain" : "compressed");
        ASSERT_TRUE(Unflattens(sample));
        Tally tally = Sweep(sample, Unflattens);
        ExpectWithinBudget(tally, sample);
    }
    // Cut short with an agreeing size field: records run past the end everywhere.
    string plain = Plain(source);
    for (size_t cut = 24; cut < plain.size(); cut++) {
        string shorter = plain.substr(0, cut).replace(16, 4, Le32(static_cast<uint32_t>(cut)));
        EXPECT_FALSE(Unflattens(shorter)) << cut;
    }
}

}  // namespace
