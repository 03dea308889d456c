// ZoList and ZoStack against std::vector / std::deque models under random
// operation sequences, then what the models do not see: bad sizes and
// callbacks, and the FIFO's slot view.
#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
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

int Value(const void* item) {
    return *static_cast<const int*>(item);
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
            switch (pick(7)) {
                case 0: {  // an append, or an insert inside only: that never appends
                    bool append = pick(2) == 0, added = append || inside;
                    ASSERT_EQ(append ? list.AddItem(item) : list.AddItem(at, item), added);
                    if (added) model.insert(append ? model.end() : model.begin() + at, item);
                    capacity += added && grows ? std::max(block, 1L) : 0;
                    break;
                }
                case 1: {  // a position, or the first occurrence of an item
                    auto found = std::find(model.begin(), model.end(), item);
                    long index = found == model.end() ? -1 : found - model.begin();
                    int key = Value(item);
                    auto match = [](const void* i, const void* k) { return Value(i) - Value(k); };
                    ASSERT_EQ(list.FindItem(&key, match), index);
                    ASSERT_EQ(list.HasItem(item), index >= 0);
                    bool byIndex = pick(2) == 0;
                    if (byIndex) index = inside ? at : -1;
                    ASSERT_EQ(byIndex ? list.DelItem(at) : list.DelItem(item), index >= 0);
                    if (index >= 0) model.erase(model.begin() + index);
                    break;
                }
                case 2: {  // another list or the list itself, at the end too
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
                case 3:
                    if (pick(2) == 0) {
                        list.Reverse();
                        std::reverse(model.begin(), model.end());
                    } else {  // the comparator gets pointers to slots
                        list.Sort([](const void* l, const void* r) {
                            return Value(*static_cast<void* const*>(l)) -
                                   Value(*static_cast<void* const*>(r));
                        });
                        std::sort(model.begin(), model.end(),
                                  [](void* l, void* r) { return Value(l) < Value(r); });
                    }
                    break;
                case 4:  // sizes around the item count, negative ones too
                    list.IncTo(n);
                    capacity = std::max(capacity, n);
                    list.IncBy(n);
                    capacity += std::max(n, 0L);
                    break;
                case 5:
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
            ASSERT_TRUE(list.GetItem(list.Size()) == nullptr && list.GetItem(-1) == nullptr);
        }
        ZoList copy(&list);  // tight, items shared, growing by the source's block
        EXPECT_EQ(Of(copy), model);
        copy.AddItem(&a);
        EXPECT_EQ(copy.Length(), list.Size() + std::max(block, 1L));
    }
}

// Sizes whose byte count wraps or that no memory holds, null callbacks and
// null sources are refused without harm; Iterate reads the count before each
// call, so it visits what the callback appends.
TEST(ContainerArguments, BadSizesNullsAndAppendsDuringIterate) {
    // kWraps slots take exactly 2^N bytes on an N-bit host.
    const long kWraps = static_cast<long>(SIZE_MAX / sizeof(void*) + 1);
    ZoList list(0, 1), huge(0, kWraps);
    list.IncTo(kWraps + 1);
    list.IncBy(LONG_MAX);
    EXPECT_EQ(list.Length(), 0);
    EXPECT_EQ(huge.AddItem(&a) + huge.Size(), 0);
    EXPECT_FALSE(ZoStack(STACK_LIFO, 0, LONG_MAX).Push(&a));
    list.AddItem(&a);
    EXPECT_FALSE(list.HasItem(&a, nullptr));
    list.Sort(nullptr);
    list.Iterate(nullptr, nullptr);
    list.Iterate(
        [](void* item, long index, void* data) {
            if (index < 2) static_cast<ZoList*>(data)->AddItem(item);
        },
        &list);
    EXPECT_EQ(Of(list), (Items{&a, &a, &a}));
    EXPECT_EQ(ZoList(static_cast<ZoList*>(nullptr)).AddItem(&a), 1);
    EXPECT_EQ(ZoStack(static_cast<ZoStack*>(nullptr)).Pop(), nullptr);
}

// Stack scripts: a letter pushes that item ('-' when refused), '<' pops
// ('.' when empty, '!' when Peek said otherwise), R reverses, P packs ('p'
// when it moved anything), I lists the live slots, # the capacity, D keeps
// two items (DecTo), B gives back three slots (DecBy), A adjusts, C empties,
// K goes on with a copy.
TEST(StackScript, StylesLimitsSlotsAndCopies) {
    const struct {
        T_STACK_STYLE style;
        long initial, block, limit;
        const char *script, *out;
    } cases[] = {
        {STACK_LIFO, 0, 2, 0, "abc#<<<<P", "#4cba."},
        {STACK_FIFO, 0, 1, 0, "abc<K<<<P", "abc."},  // drained: the head is back at slot 0
        {STACK_LIFO, 2, 1, 2, "abcK<c<<", "-bca"},
        {STACK_FIFO, 3, 2, 0, "abc<RId#<<<", "a12#3cbd"},    // full: packs instead of growing
        {STACK_FIFO, 6, 1, 0, "abcd<B#DA#<<<", "a#3#2bc."},  // packs before shrinking
        {STACK_FIFO, 2, 1, 0, "ab<CPc<", "ac"},
    };
    for (const auto& row : cases) {
        auto stack = std::make_unique<ZoStack>(row.style, row.initial, row.block);
        stack->SetLimit(row.limit);
        std::string out;
        for (const char* op = row.script; *op != '\0'; op++) {
            void* top = stack->Peek();
            if (*op >= 'a' && *op <= 'd') out += stack->Push(&pool[*op - 'a']) ? "" : "-";
            if (*op == '<') out += top != stack->Pop() ? '!' : top ? 'a' + Value(top) : '.';
            if (*op == 'R') stack->Reverse();
            if (*op == 'P') out += stack->Pack() ? "p" : "";
            if (*op == 'D') stack->DecTo(2);
            if (*op == 'B') stack->DecBy(3);
            if (*op == 'A') stack->Adjust();
            if (*op == 'C') stack->Clean();
            if (*op == 'K') stack = std::make_unique<ZoStack>(stack.get());
            if (*op == '#') out += "#" + std::to_string(stack->Length());
            if (*op == 'I')
                stack->Iterate(
                    [](void*, long index, void* data) {
                        *static_cast<std::string*>(data) += std::to_string(index);
                    },
                    &out);
        }
        EXPECT_EQ(out, row.out) << row.script;
    }
}

}  // namespace
