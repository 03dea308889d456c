// ZoStack against a std::deque model in both styles with a limit, and the
// FIFO's slot view (head moves, packing, shrinking keeps live items).
#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace {

int a, b, c, d;

TEST(StackModel, PushPopPeekWithinTheLimit) {
    std::mt19937 random(11);
    for (T_STACK_STYLE style : {STACK_LIFO, STACK_FIFO})
        for (long limit : {0L, 1L, 3L}) {
            ZoStack stack(style, 2, 1);
            stack.SetLimit(limit);
            std::deque<void*> model;
            int items[4];
            // The item the style gives next, taken from `m`; null when empty.
            auto take = [style](std::deque<void*>& m) -> void* {
                if (m.empty()) return nullptr;
                void* item = style == STACK_LIFO ? m.back() : m.front();
                style == STACK_LIFO ? m.pop_back() : m.pop_front();
                return item;
            };
            for (int step = 0; step < 400; step++) {
                long pushAbove = step % 100 < 60 ? 1 : 3;  // fill, then drain
                if (static_cast<long>(random() % 4) > pushAbove) {
                    void* item = &items[random() % 4];
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
        }
}

TEST(StackLimit, AddItemIgnoresIt) {
    ZoStack stack(STACK_LIFO, 0, 1);
    stack.SetLimit(2);
    EXPECT_TRUE(stack.Push(&a) && stack.Push(&b));
    EXPECT_FALSE(stack.Push(&c));
    EXPECT_EQ(stack.AddItem(&c), 1);
    stack.SetLimit(0);
    EXPECT_TRUE(stack.Push(&d));
    EXPECT_EQ(stack.Size(), 4);
    EXPECT_FALSE(stack.Pack());
    ZoStack nullCopy(static_cast<ZoStack*>(nullptr));
    EXPECT_EQ(nullCopy.Pop(), nullptr);
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
    EXPECT_FALSE(queue.Pack());
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
