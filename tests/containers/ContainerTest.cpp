// ZoList against a std::vector model under random operation sequences, and
// the capacity rules, which the model does not see.
#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace {

int pool[8];
using Items = std::vector<void*>;

Items Of(ZoContainer& list) {
    Items out;
    for (long i = 0; i < list.Size(); i++)
        out.push_back(list.GetItem(i));
    return out;
}

int CompareInts(const void* left, const void* right) {
    // Sort hands over pointers to slots, hence the double dereference.
    int l = **static_cast<int*const*>(left), r = **static_cast<int*const*>(right);
    return (l > r) - (l < r);
}

int MatchInt(const void* item, const void* key) {
    return *static_cast<const int*>(item) == *static_cast<const int*>(key) ? 0 : 1;
}

TEST(ListModel, RandomOperationSequences) {
    std::mt19937 random(7);
    auto pick = [&](long n) { return static_cast<long>(random() % static_cast<unsigned>(n)); };
    for (int run = 0; run < 20; run++) {
        ZoList list(pick(3), pick(4) - 1);
        Items model;
        for (int step = 0; step < 200; step++) {
            void* item = &pool[pick(8)];
            long size = static_cast<long>(model.size());
            long at = pick(size + 3) - 1;  // -1 .. size + 1
            switch (pick(7)) {
                case 0:
                    ASSERT_EQ(list.AddItem(item), 1);
                    model.push_back(item);
                    break;
                case 1:  // inserts inside only: never appends
                    ASSERT_EQ(list.AddItem(at, item), at >= 0 && at < size ? 1 : 0);
                    if (at >= 0 && at < size) model.insert(model.begin() + at, item);
                    break;
                case 2:
                    ASSERT_EQ(list.DelItem(at), at >= 0 && at < size ? 1 : 0);
                    if (at >= 0 && at < size) model.erase(model.begin() + at);
                    break;
                case 3: {  // the first occurrence only
                    auto found = std::find(model.begin(), model.end(), item);
                    ASSERT_EQ(list.FindItem(item),
                              found == model.end() ? -1 : found - model.begin());
                    ASSERT_EQ(list.HasItem(item), found != model.end());
                    ASSERT_EQ(list.DelItem(item), found != model.end() ? 1 : 0);
                    if (found != model.end()) model.erase(found);
                    break;
                }
                case 4: {  // another list or the list itself, at the end too
                    ZoList other(0, 1);
                    for (long i = pick(3); i > 0; i--)
                        other.AddItem(&pool[pick(8)]);
                    ZoList* source = pick(3) == 0 ? &list : &other;
                    Items added = Of(*source);
                    ASSERT_EQ(list.AddList(at, source), at >= 0 && at <= size);
                    if (at >= 0 && at <= size)
                        model.insert(model.begin() + at, added.begin(), added.end());
                    break;
                }
                case 5:
                    list.Reverse();
                    std::reverse(model.begin(), model.end());
                    break;
                default:
                    if (pick(10) == 0) {
                        list.Clean();
                        model.clear();
                    }
            }
            ASSERT_EQ(Of(list), model) << "run " << run << " step " << step;
            ASSERT_GE(list.Length(), list.Size());
            ASSERT_EQ(list.GetItem(list.Size()), nullptr);
            ASSERT_EQ(list.GetItem(-1), nullptr);
        }
        ZoList copy(&list);  // tight, items shared
        EXPECT_EQ(Of(copy), model);
        EXPECT_EQ(copy.Length(), list.Size());
    }
}

TEST(ContainerCapacity, GrowthAndExplicitSizes) {
    ZoList stepped(2, 10), none(0, 0), negative(-3, -1);
    EXPECT_EQ(stepped.Length(), 2);
    for (int i = 0; i < 3; i++)
        stepped.AddItem(&pool[0]);
    EXPECT_EQ(stepped.Length(), 12);  // linear, by block
    EXPECT_EQ(none.AddItem(&pool[0]) + none.AddItem(&pool[1]), 2);
    EXPECT_EQ(none.Length(), 2);
    EXPECT_EQ(negative.Length(), 0);
    EXPECT_EQ(negative.AddItem(&pool[0]), 1);
    ZoList copy(&stepped);
    copy.AddItem(&pool[1]);  // a copy grows by the source's block
    EXPECT_EQ(copy.Length(), 13);
    // Each call and the capacity after it; three items held throughout.
    ZoList list(4, 1);
    for (int i = 0; i < 3; i++)
        list.AddItem(&pool[i]);
    struct {
        void (ZoContainer::*call)(long);
        long n;
        long length;
    } steps[] = {{&ZoContainer::IncTo, 3, 4},  {&ZoContainer::IncTo, 8, 8},
                 {&ZoContainer::IncBy, 2, 10}, {&ZoContainer::IncBy, -5, 10},
                 {&ZoContainer::DecBy, 8, 10}, {&ZoContainer::DecBy, -1, 10},
                 {&ZoContainer::DecBy, 6, 4},  {&ZoContainer::DecTo, 5, 4}};
    for (const auto& s : steps) {
        (list.*s.call)(s.n);
        EXPECT_EQ(list.Length(), s.length) << s.n;
    }
    list.DecTo(2);
    EXPECT_EQ(Of(list), (Items{&pool[0], &pool[1]}));
    EXPECT_EQ(list.Length(), 2);
    list.IncTo(6);
    list.Adjust();
    EXPECT_EQ(list.Length(), 2);
    list.AddItem(0, &pool[2]);  // inserting into a full array grows it
    EXPECT_EQ(list.Length(), 3);
    list.DelItem(0L);
    EXPECT_EQ(list.Length(), 3);  // removal never shrinks
}

TEST(ContainerCapacity, ImpossibleSizesAreRefusedWithoutHarm) {
    // kWraps slots take exactly 2^N bytes on an N-bit host: the byte count wraps.
    const long kWraps = static_cast<long>(SIZE_MAX / sizeof(void*) + 1);
    ZoList list(0, 1);
    list.IncTo(kWraps + 1);
    list.IncBy(LONG_MAX);
    EXPECT_EQ(list.Length(), 0);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(list.AddItem(&pool[0]), 1);
    ZoList huge(0, kWraps);
    EXPECT_EQ(huge.AddItem(&pool[0]), 0);
    EXPECT_EQ(huge.Size(), 0);
    ZoStack stack(STACK_LIFO, 0, LONG_MAX);
    EXPECT_FALSE(stack.Push(&pool[0]));
}

TEST(ContainerOrdering, SortSearchIterateAndNulls) {
    int values[] = {5, 1, 4, 2};
    ZoList list(0, 2);
    for (int& v : values)
        list.AddItem(&v);
    list.Sort(CompareInts);
    EXPECT_EQ(Of(list), (Items{&values[1], &values[3], &values[2], &values[0]}));
    int key = 4;
    EXPECT_EQ(list.FindItem(&key, MatchInt), 2);
    EXPECT_TRUE(list.HasItem(&key, MatchInt));
    key = 9;
    EXPECT_EQ(list.FindItem(&key, MatchInt), -1);
    EXPECT_EQ(list.FindItem(&key, nullptr), -1);
    EXPECT_FALSE(list.HasItem(&key, nullptr));
    list.Sort(nullptr);
    list.Iterate(nullptr, nullptr);
    // Iterate sees items appended on the way.
    std::vector<long> indexes;
    list.Iterate(
        [](void*, long index, void* data) {
            auto* seen = static_cast<std::vector<long>*>(data);
            seen->push_back(index);
            if (index == 0) seen->push_back(-1);
        },
        &indexes);
    EXPECT_EQ(indexes, (std::vector<long>{0, -1, 1, 2, 3}));
    ZoList single(1, 1);
    single.AddItem(&pool[0]);
    single.Sort([](const void*, const void*) -> int {
        ADD_FAILURE() << "comparator called for one item";
        return 0;
    });
    ZoList nullCopy(static_cast<ZoList*>(nullptr));
    EXPECT_EQ(nullCopy.AddItem(&pool[0]), 1);
}

}  // namespace
