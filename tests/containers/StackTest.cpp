#include <zolib/containers/Stack.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

int a, b, c, d;

TEST(StackOrder, LifoPopsNewestFirst) {
    ZoStack stack(STACK_LIFO, 0, 1);
    stack.Push(&a);
    stack.Push(&b);
    stack.Push(&c);
    EXPECT_EQ(stack.Peek(), &c);
    EXPECT_EQ(stack.Pop(), &c);
    EXPECT_EQ(stack.Pop(), &b);
    EXPECT_EQ(stack.Pop(), &a);
    EXPECT_EQ(stack.Pop(), nullptr);
    EXPECT_EQ(stack.Peek(), nullptr);
    EXPECT_FALSE(stack.Pack());
}

TEST(StackOrder, FifoDrainResetsHead) {
    ZoStack queue(STACK_FIFO, 4, 1);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_EQ(queue.Pop(), &c);
    EXPECT_EQ(queue.Size(), 0);
    // Head and end are back at 0: the positional view starts at slot 0 again.
    queue.Push(&d);
    EXPECT_EQ(queue.GetItem(0), &d);
    EXPECT_FALSE(queue.Pack());
}

TEST(StackOrder, FullFifoPacksInsteadOfGrowing) {
    ZoStack queue(STACK_FIFO, 3, 2);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_TRUE(queue.Push(&d));
    EXPECT_EQ(queue.Length(), 3);
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_EQ(queue.Pop(), &c);
    EXPECT_EQ(queue.Pop(), &d);
}

TEST(StackLimit, RefusesBeyondLimit) {
    ZoStack stack(STACK_LIFO, 0, 1);
    stack.SetLimit(2);
    EXPECT_TRUE(stack.Push(&a));
    EXPECT_TRUE(stack.Push(&b));
    EXPECT_FALSE(stack.Push(&c));
    EXPECT_EQ(stack.Size(), 2);
    EXPECT_EQ(stack.GetLimit(), 2);
    EXPECT_EQ(stack.AddItem(&c), 1);  // AddItem ignores the limit
    stack.SetLimit(0);
    EXPECT_TRUE(stack.Push(&d));
    EXPECT_EQ(stack.Size(), 4);
}

TEST(StackFifoSlots, ReverseAndIterateUseLiveSlots) {
    ZoStack queue(STACK_FIFO, 3, 1);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    queue.Pop();  // b, c now in slots 1 and 2
    queue.Reverse();
    std::vector<long> slots;
    std::vector<void*> seen;
    struct Out {
        std::vector<long>* slots;
        std::vector<void*>* seen;
    } out{&slots, &seen};
    queue.Iterate(
        [](void* item, long index, void* data) {
            auto* o = static_cast<Out*>(data);
            o->slots->push_back(index);
            o->seen->push_back(item);
        },
        &out);
    EXPECT_EQ(slots, (std::vector<long>{1, 2}));
    EXPECT_EQ(seen, (std::vector<void*>{&c, &b}));
    EXPECT_EQ(queue.Pop(), &c);
}

TEST(StackFifoSlots, ShrinkingPacksFirst) {
    ZoStack queue(STACK_FIFO, 6, 1);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    queue.Push(&d);
    queue.Pop();
    queue.DecTo(2);  // keeps the two oldest live items
    EXPECT_EQ(queue.Length(), 2);
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_EQ(queue.Pop(), &c);

    ZoStack other(STACK_FIFO, 6, 1);
    other.Push(&a);
    other.Push(&b);
    other.Pop();
    other.DecBy(3);
    EXPECT_EQ(other.Length(), 3);
    EXPECT_EQ(other.GetItem(0), &b);  // packed
    other.Adjust();
    EXPECT_EQ(other.Length(), 1);
    EXPECT_EQ(other.Pop(), &b);
}

TEST(StackCopy, CopyHoldsLiveItemsStyleAndLimit) {
    ZoStack queue(STACK_FIFO, 4, 1);
    queue.SetLimit(3);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    queue.Pop();
    ZoStack copy(&queue);
    EXPECT_EQ(copy.Size(), 2);
    EXPECT_EQ(copy.GetLimit(), 3);
    EXPECT_EQ(copy.Pop(), &b);
    EXPECT_EQ(copy.Pop(), &c);
    EXPECT_EQ(queue.Size(), 2);
    copy.Clean();
    EXPECT_EQ(copy.Pop(), nullptr);
}

}  // namespace
