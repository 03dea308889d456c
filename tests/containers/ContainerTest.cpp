// ZoList and ZoStack against std::vector / std::deque models under random
// operation sequences, and what the models do not see: capacity rules, the
// comparator conventions and the FIFO's slot view.
#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace {

int pool[8] = {0, 1, 2, 3, 4, 5, 6, 7};  // each item's value is its place here
int &a = pool[0], &b = pool[1], &c = pool[2], &d = pool[3];
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

// The items and the capacity: an append or insert into a full array grows it
// by the block (one slot for a block below 1), AddList to the exact size, and
// only the explicit capacity calls shrink it.
TEST(ListModel, RandomOperationSequences) {
    std::mt19937 random(7);
    auto pick = [&](long n) { return static_cast<long>(random() % static_cast<unsigned>(n)); };
    for (int run = 0; run < 20; run++) {
        long initial = pick(4) - 1, block = pick(4) - 1, capacity = std::max(initial, 0L);
        ZoList list(initial, block);
        Items model;
        for (int step = 0; step < 300; step++) {
            void* item = &pool[pick(8)];
            long size = static_cast<long>(model.size()), n = pick(size + 5) - 2;
            long at = pick(size + 3) - 1;  // -1 .. size + 1
            bool inside = at >= 0 && at < size, grows = size == capacity;
            switch (pick(9)) {
                case 0:
                    ASSERT_EQ(list.AddItem(item), 1);
                    model.push_back(item);
                    capacity += grows ? std::max(block, 1L) : 0;
                    break;
                case 1:  // inserts inside only: never appends
                    ASSERT_EQ(list.AddItem(at, item), inside ? 1 : 0);
                    if (inside) model.insert(model.begin() + at, item);
                    capacity += inside && grows ? std::max(block, 1L) : 0;
                    break;
                case 2:
                    ASSERT_EQ(list.DelItem(at), inside ? 1 : 0);
                    if (inside) model.erase(model.begin() + at);
                    break;
                case 3: {  // the first occurrence only, by identity or by value
                    auto found = std::find(model.begin(), model.end(), item);
                    long index = found == model.end() ? -1 : found - model.begin();
                    int key = *static_cast<int*>(item);
                    ASSERT_EQ(list.FindItem(item), index);
                    ASSERT_EQ(list.FindItem(&key, MatchInt), index);
                    ASSERT_EQ(list.HasItem(item), index >= 0);
                    ASSERT_EQ(list.HasItem(&key, MatchInt), index >= 0);
                    ASSERT_EQ(list.DelItem(item), index >= 0 ? 1 : 0);
                    if (index >= 0) model.erase(found);
                    break;
                }
                case 4: {  // another list or the list itself, at the end too
                    ZoList other(0, 1);
                    for (long i = pick(3); i > 0; i--)
                        other.AddItem(&pool[pick(8)]);
                    ZoList* source = pick(3) == 0 ? &list : &other;
                    Items added = Of(*source);
                    ASSERT_EQ(list.AddList(at, source), at >= 0 && at <= size);
                    if (at < 0 || at > size) break;
                    model.insert(model.begin() + at, added.begin(), added.end());
                    capacity = std::max(capacity, static_cast<long>(model.size()));
                    break;
                }
                case 5:
                    if (pick(2) == 0) {
                        list.Reverse();
                        std::reverse(model.begin(), model.end());
                    } else {
                        list.Sort(CompareInts);
                        std::sort(model.begin(), model.end(), [](void* l, void* r) {
                            return *static_cast<int*>(l) < *static_cast<int*>(r);
                        });
                    }
                    break;
                case 6:  // sizes around the item count, negative ones too
                    list.IncTo(n);
                    capacity = std::max(capacity, n);
                    list.IncBy(n);
                    capacity += std::max(n, 0L);
                    break;
                case 7:
                    list.DecBy(n);
                    capacity -= n > 0 && size <= capacity - n ? n : 0;
                    break;
                default:
                    if (pick(2) == 0) {
                        list.Adjust();
                        capacity = size;
                    } else if (n >= 0 && n <= size) {  // DecTo beyond the items does nothing
                        list.DecTo(n);
                        model.resize(n);
                        capacity = n;
                    } else if (pick(5) == 0) {
                        list.Clean();
                        model.clear();
                    }
            }
            ASSERT_EQ(Of(list), model) << "run " << run << " step " << step;
            ASSERT_EQ(list.Length(), capacity) << "run " << run << " step " << step;
            ASSERT_EQ(list.GetItem(list.Size()), nullptr);
            ASSERT_EQ(list.GetItem(-1), nullptr);
        }
        ZoList copy(&list);  // tight, items shared, growing by the source's block
        EXPECT_EQ(Of(copy), model);
        copy.AddItem(&a);
        EXPECT_EQ(copy.Length(), list.Size() + std::max(block, 1L));
    }
}

// Sizes whose byte count wraps or that no memory holds, null callbacks and
// null sources are refused without harm.
TEST(ContainerArguments, ImpossibleSizesAndNullsAreHarmless) {
    // kWraps slots take exactly 2^N bytes on an N-bit host.
    const long kWraps = static_cast<long>(SIZE_MAX / sizeof(void*) + 1);
    ZoList list(0, 1), huge(0, kWraps);
    list.IncTo(kWraps + 1);
    list.IncBy(LONG_MAX);
    EXPECT_EQ(list.Length(), 0);
    EXPECT_EQ(list.AddItem(&b) + list.AddItem(&a), 2);
    EXPECT_EQ(huge.AddItem(&a), 0);
    EXPECT_EQ(huge.Size(), 0);
    EXPECT_FALSE(ZoStack(STACK_LIFO, 0, LONG_MAX).Push(&a));
    EXPECT_EQ(list.FindItem(&a, nullptr), -1);
    EXPECT_FALSE(list.HasItem(&a, nullptr));
    list.Sort(nullptr);
    list.Iterate(nullptr, nullptr);
    EXPECT_EQ(Of(list), (Items{&b, &a}));
    EXPECT_EQ(ZoList(static_cast<ZoList*>(nullptr)).AddItem(&a), 1);
    EXPECT_EQ(ZoStack(static_cast<ZoStack*>(nullptr)).Pop(), nullptr);
}

// Iterate reads the count before each call; sorting one item compares nothing.
TEST(ContainerOrdering, IterateSeesAppendsAndOneItemIsNotCompared) {
    ZoList list(0, 2);
    for (int* item : {&a, &b, &c, &d})
        list.AddItem(item);
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
    single.AddItem(&a);
    single.Sort([](const void*, const void*) -> int {
        ADD_FAILURE() << "comparator called for one item";
        return 0;
    });
}

// Both styles with a limit; AddItem appends like Push but ignores the limit.
TEST(StackModel, PushPopPeekAddItemWithinTheLimit) {
    std::mt19937 random(11);
    for (T_STACK_STYLE style : {STACK_LIFO, STACK_FIFO})
        for (long limit : {0L, 1L, 3L}) {
            ZoStack stack(style, 2, 1);
            stack.SetLimit(limit);
            std::deque<void*> model;
            // The item the style gives next, taken from `m`; null when empty.
            auto take = [style](std::deque<void*>& m) -> void* {
                if (m.empty()) return nullptr;
                void* item = style == STACK_LIFO ? m.back() : m.front();
                style == STACK_LIFO ? m.pop_back() : m.pop_front();
                return item;
            };
            for (int step = 0; step < 400; step++) {
                long pushAbove = step % 100 < 60 ? 1 : 3;  // fill, then drain
                long draw = static_cast<long>(random() % 40);
                void* item = &pool[draw % 4];
                if (draw == 0) {
                    ASSERT_EQ(stack.AddItem(item), 1);
                    model.push_back(item);
                } else if (draw == 1) {  // empties; a FIFO's head goes back to slot 0
                    stack.Clean();
                    model.clear();
                } else if (draw % 4 > pushAbove) {
                    bool room = limit == 0 || static_cast<long>(model.size()) < limit;
                    ASSERT_EQ(stack.Push(item), room);
                    if (room) model.push_back(item);
                } else {
                    void* want = take(model);
                    ASSERT_EQ(stack.Peek(), want);
                    ASSERT_EQ(stack.Pop(), want);
                }
                ASSERT_EQ(stack.Size(), static_cast<long>(model.size())) << style << " " << limit;
                if (step % 50 == 49) {
                    ZoStack copy(&stack);  // live items, style and limit
                    ASSERT_EQ(copy.GetLimit(), limit);
                    std::deque<void*> rest = model;
                    do
                        ASSERT_EQ(copy.Pop(), take(rest));
                    while (!rest.empty());
                }
            }
            EXPECT_EQ(stack.Pack(), false);  // drained: the head is back at slot 0
        }
}

TEST(StackFifoSlots, HeadPackingAndShrinking) {
    ZoStack queue(STACK_FIFO, 3, 2);
    for (int* item : {&a, &b, &c})
        queue.Push(item);
    EXPECT_EQ(queue.Pop(), &a);
    queue.Reverse();  // b, c in slots 1 and 2
    std::vector<long> slots;
    queue.Iterate([](void*, long index,
                     void* data) { static_cast<std::vector<long>*>(data)->push_back(index); },
                  &slots);
    EXPECT_EQ(slots, (std::vector<long>{1, 2}));
    EXPECT_TRUE(queue.Push(&d));  // full: packs instead of growing
    EXPECT_EQ(queue.Length(), 3);
    for (int* want : {&c, &b, &d})
        EXPECT_EQ(queue.Pop(), want);
    queue.Push(&a);  // drained: the head is back at slot 0
    EXPECT_EQ(queue.GetItem(0), &a);
    ZoStack shrink(STACK_FIFO, 6, 1);
    for (int* item : {&a, &b, &c, &d})
        shrink.Push(item);
    shrink.Pop();
    shrink.DecBy(3);
    EXPECT_EQ(shrink.Length(), 3);
    EXPECT_EQ(shrink.GetItem(0), &b);  // packed first
    shrink.DecTo(2);                   // the two oldest live items stay
    EXPECT_EQ(shrink.Length(), 2);
    shrink.Adjust();
    EXPECT_EQ(shrink.Pop(), &b);
    EXPECT_EQ(shrink.Pop(), &c);
}

}  // namespace
