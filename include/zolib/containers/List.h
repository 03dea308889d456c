// ZoList: the general-purpose container used throughout the library.
//
// A ZoContainer that can also append or insert a whole other list. Same
// ownership, thread rules and failure results as ZoContainer: items are not
// owned, no lock, refusals change nothing. Nothing blocks.
#pragma once

#include <zolib/containers/Container.h>

class ZOLIB_API ZoList : public ZoContainer {
  public:
    ZoList(long initial, long block);
    explicit ZoList(ZoList* other);  // tight copy; items shared
    ~ZoList() override;

    // Appends `other`'s items in order; grows to exactly the size needed.
    // Returns false only if the array could not be grown.
    bool AddList(ZoList* other);
    // Inserts `other`'s items before position `index` (0 to Size(); Size()
    // appends). False when `index` is outside that range or growth failed.
    bool AddList(long index, ZoList* other);
};
