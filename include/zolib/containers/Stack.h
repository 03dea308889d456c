// ZoStack: a container that hands its items out last-in-first-out or
// first-in-first-out (a queue), with an optional limit on the item count.
//
// In a STACK_FIFO stack, Pop() leaves free slots before the oldest item
// (`head`); Pack() moves the live items back to slot 0, and Push() packs by
// itself before it would grow a full array. The inherited positional
// operations (GetItem, FindItem, DelItem, ...) count from slot 0, so on a
// FIFO stack they address the live items only while head is 0.
// Ownership, thread rules and failure results are ZoContainer's: items are
// not owned, there is no lock, refusals are 0/false, -1 or null. Nothing
// blocks.
#pragma once

#include <zolib/containers/Container.h>

enum T_STACK_STYLE { STACK_FIFO = 0, STACK_LIFO = 1 };

class ZOLIB_API ZoStack : public ZoContainer {
  public:
    ZoStack(T_STACK_STYLE style, long initial, long block);
    // Holds `other`'s live items in the same order, with its style and limit.
    explicit ZoStack(ZoStack* other);
    ~ZoStack() override;

    void Clean() override;
    // The container rules, applied after packing: n <= Size() keeps the n
    // oldest items; nothing else changes the live items.
    void DecTo(long n) override;
    void DecBy(long n) override;
    void Adjust() override;
    // fn(item, slot index, data) for the live slots, oldest first.
    void Iterate(ZoIterate fn, void* data) override;
    void Reverse() override;

    void SetLimit(long limit);  // 0 (or less) means no limit
    long GetLimit() const { return limit; }

    // False when the limit is reached (or the array could not grow).
    bool Push(void* item);
    // The next item in the stack's order, or null when empty.
    void* Pop();
    void* Peek();
    // FIFO with head > 0: moves the live items down to slot 0; true. Else false.
    bool Pack();

  protected:
    T_STACK_STYLE style;
    long head;   // slot of the oldest live item (0 for LIFO)
    long limit;  // 0: none
};
