#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace {

int a, b, c, d, x, y;

std::vector<void*> Items(ZoContainer& list) {
    std::vector<void*> out;
    for (long i = 0; i < list.Size(); i++)
        out.push_back(list.GetItem(i));
    return out;
}

int CompareInts(const void* left, const void* right) {
    // Sort hands over pointers to slots, hence the double dereference.
    int l = **static_cast<int* const*>(left);
    int r = **static_cast<int* const*>(right);
    return (l > r) - (l < r);
}

int MatchInt(const void* item, const void* key) {
    return *static_cast<const int*>(item) == *static_cast<const int*>(key) ? 0 : 1;
}

TEST(ContainerGrowth, GrowsLinearlyByBlock) {
    ZoList list(0, 1);
    EXPECT_EQ(list.Size(), 0);
    EXPECT_EQ(list.Length(), 0);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(list.AddItem(&a), 1);
    EXPECT_EQ(list.Length(), 5);

    ZoList stepped(2, 10);
    EXPECT_EQ(stepped.Length(), 2);
    for (int i = 0; i < 3; i++)
        stepped.AddItem(&a);
    EXPECT_EQ(stepped.Length(), 12);
}

TEST(ContainerGrowth, NonPositiveBlockStillGrows) {
    ZoList list(0, 0);
    EXPECT_EQ(list.AddItem(&a), 1);
    EXPECT_EQ(list.AddItem(&b), 1);
    EXPECT_EQ(list.Length(), 2);
    ZoList negative(-3, -1);
    EXPECT_EQ(negative.Length(), 0);
    EXPECT_EQ(negative.AddItem(&a), 1);
}

TEST(ContainerGrowth, CapacityOperations) {
    ZoList list(4, 1);
    list.AddItem(&a);
    list.AddItem(&b);
    list.AddItem(&c);
    list.IncTo(3);
    EXPECT_EQ(list.Length(), 4);
    list.IncTo(8);
    EXPECT_EQ(list.Length(), 8);
    list.IncBy(2);
    EXPECT_EQ(list.Length(), 10);
    list.IncBy(-5);
    EXPECT_EQ(list.Length(), 10);

    list.DecBy(8);  // would leave fewer slots than items
    EXPECT_EQ(list.Length(), 10);
    list.DecBy(-1);
    EXPECT_EQ(list.Length(), 10);
    list.DecBy(6);
    EXPECT_EQ(list.Length(), 4);

    list.DecTo(5);  // above Size(): nothing, though below Length() would be
    EXPECT_EQ(list.Length(), 4);
    EXPECT_EQ(list.Size(), 3);
    list.DecTo(2);
    EXPECT_EQ(list.Length(), 2);
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &b}));

    list.IncTo(6);
    list.Adjust();
    EXPECT_EQ(list.Length(), 2);
    list.Clean();
    EXPECT_EQ(list.Size(), 0);
    EXPECT_EQ(list.Length(), 2);
}

TEST(ContainerGrowth, ImpossibleSizesAreRefusedWithoutHarm) {
    // Sizes whose byte count would wrap must not shrink the array behind
    // the container's back: kWraps slots take exactly 2^N bytes on an N-bit host.
    const long kWraps = static_cast<long>(SIZE_MAX / sizeof(void*) + 1);
    ZoList list(0, 1);
    list.IncTo(kWraps + 1);
    EXPECT_EQ(list.Length(), 0);
    list.IncBy(LONG_MAX);
    EXPECT_EQ(list.Length(), 0);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(list.AddItem(&a), 1);
    EXPECT_EQ(list.Size(), 4);

    ZoList huge(0, kWraps);
    EXPECT_EQ(huge.AddItem(&a), 0);
    EXPECT_EQ(huge.Size(), 0);
    ZoStack stack(STACK_LIFO, 0, LONG_MAX);
    EXPECT_FALSE(stack.Push(&a));
}

TEST(ContainerGrowth, NullArgumentsAreRefused) {
    ZoList list(2, 1);
    list.AddItem(&a);
    list.AddItem(&b);
    EXPECT_EQ(list.FindItem(&a, nullptr), -1);
    EXPECT_FALSE(list.HasItem(&a, nullptr));
    list.Sort(nullptr);
    list.Iterate(nullptr, nullptr);
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &b}));
    ZoList copy(static_cast<ZoList*>(nullptr));
    EXPECT_EQ(copy.Size(), 0);
    EXPECT_EQ(copy.AddItem(&a), 1);
    ZoStack stackCopy(static_cast<ZoStack*>(nullptr));
    EXPECT_EQ(stackCopy.Pop(), nullptr);
    EXPECT_TRUE(stackCopy.Push(&a));
}

TEST(ContainerPositions, InsertCannotAppend) {
    ZoList list(2, 2);
    EXPECT_EQ(list.AddItem(0, &a), 0);
    list.AddItem(&a);
    list.AddItem(&c);
    EXPECT_EQ(list.AddItem(list.Size(), &x), 0);
    EXPECT_EQ(list.AddItem(-1, &x), 0);
    EXPECT_EQ(list.AddItem(1, &b), 1);  // grows: the array was full
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &b, &c}));
    EXPECT_EQ(list.Length(), 4);
}

TEST(ContainerPositions, DeleteAndFind) {
    ZoList list(0, 4);
    list.AddItem(&a);
    list.AddItem(&b);
    list.AddItem(&a);
    EXPECT_EQ(list.DelItem(&x), 0);
    EXPECT_EQ(list.DelItem(-1L), 0);
    EXPECT_EQ(list.DelItem(3L), 0);
    EXPECT_EQ(list.DelItem(&a), 1);  // only the first occurrence
    EXPECT_EQ(Items(list), (std::vector<void*>{&b, &a}));
    EXPECT_EQ(list.FindItem(&a), 1);
    EXPECT_EQ(list.FindItem(&x), -1);
    EXPECT_TRUE(list.HasItem(&b));
    EXPECT_FALSE(list.HasItem(&c));
    EXPECT_EQ(list.GetItem(list.Size()), nullptr);
    EXPECT_EQ(list.GetItem(-1), nullptr);
    EXPECT_EQ(list.Length(), 4);  // removal never shrinks
}

TEST(ContainerOrdering, SortAndComparatorSearch) {
    int values[] = {5, 1, 4, 2};
    ZoList list(0, 2);
    for (int& v : values)
        list.AddItem(&v);
    list.Sort(CompareInts);
    EXPECT_EQ(Items(list), (std::vector<void*>{&values[1], &values[3], &values[2], &values[0]}));
    int key = 4;
    EXPECT_EQ(list.FindItem(&key, MatchInt), 2);
    EXPECT_TRUE(list.HasItem(&key, MatchInt));
    key = 9;
    EXPECT_EQ(list.FindItem(&key, MatchInt), -1);

    ZoList single(1, 1);
    single.AddItem(&a);
    single.Sort([](const void*, const void*) -> int {
        ADD_FAILURE() << "comparator called for one item";
        return 0;
    });
}

TEST(ContainerOrdering, IterateSeesAppendedItemsAndReverseKeepsCapacity) {
    ZoList list(3, 1);
    list.AddItem(&a);
    list.AddItem(&b);
    struct Walk {
        ZoList* list;
        std::vector<long> indexes;
    } walk{&list, {}};
    list.Iterate(
        [](void*, long index, void* data) {
            auto* w = static_cast<Walk*>(data);
            w->indexes.push_back(index);
            if (index == 0) w->list->AddItem(&c);
        },
        &walk);
    EXPECT_EQ(walk.indexes, (std::vector<long>{0, 1, 2}));
    list.Reverse();
    EXPECT_EQ(Items(list), (std::vector<void*>{&c, &b, &a}));
    EXPECT_EQ(list.Length(), 3);
}

TEST(ContainerCopy, CopyIsTightAndShared) {
    ZoList list(10, 5);
    list.AddItem(&a);
    list.AddItem(&b);
    list.AddItem(&c);
    ZoList copy(&list);
    EXPECT_EQ(copy.Length(), 3);
    EXPECT_EQ(Items(copy), Items(list));
    copy.AddItem(&d);  // grows by the source's block
    EXPECT_EQ(copy.Length(), 8);
    EXPECT_EQ(list.Size(), 3);
}

TEST(ListAddList, InsertsAndAppendsWholeLists) {
    ZoList list(4, 1), other(1, 1);
    list.AddItem(&a);
    list.AddItem(&b);
    list.AddItem(&c);
    list.AddItem(&d);
    other.AddItem(&x);
    EXPECT_TRUE(list.AddList(1, &other));
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &x, &b, &c, &d}));
    EXPECT_EQ(list.Length(), 5);  // exact size, not by block

    EXPECT_TRUE(list.AddList(&other));
    list.AddItem(&y);
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &x, &b, &c, &d, &x, &y}));

    EXPECT_FALSE(list.AddList(-1, &other));
    EXPECT_FALSE(list.AddList(list.Size() + 1, &other));
    EXPECT_TRUE(list.AddList(list.Size(), &other));
    EXPECT_EQ(list.GetItem(list.Size() - 1), &x);
}

TEST(ListAddList, InsertingAListIntoItself) {
    ZoList list(0, 1);
    list.AddItem(&a);
    list.AddItem(&b);
    list.AddItem(&c);
    EXPECT_TRUE(list.AddList(1, &list));
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &a, &b, &c, &b, &c}));
    EXPECT_TRUE(list.AddList(&list));
    EXPECT_EQ(list.Size(), 12);
    EXPECT_EQ(list.GetItem(6), &a);
    EXPECT_EQ(list.GetItem(11), &c);
}

}  // namespace
