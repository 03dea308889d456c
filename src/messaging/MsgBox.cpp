#include <zolib/messaging/MsgBox.h>

namespace {

constexpr unsigned int kPointer = sizeof(ZoBag*);

}  // namespace

ZoMsgBox::ZoMsgBox(unsigned int tag) : ZoPipe(tag) {}

ZoMsgBox::~ZoMsgBox() = default;

bool ZoMsgBox::Send(ZoBag* bag, void*) {
    if (bag == nullptr) return false;
    return Write(reinterpret_cast<const char*>(&bag), kPointer, nullptr);
}

bool ZoMsgBox::Receive(ZoBag** bag) {
    if (bag == nullptr) return false;
    // Read aside: a short read must not leave half a pointer for a bag.
    ZoBag* pointer = nullptr;
    unsigned int length = kPointer;
    bool ok = Read(reinterpret_cast<char*>(&pointer), &length) && length == kPointer;
    *bag = ok ? pointer : nullptr;
    return ok;
}

bool ZoMsgBox::Receive(ZoBag** bag, char**, unsigned int* length) {
    if (length == nullptr) return false;
    *length = kPointer;
    return ZoMsgBox::Receive(bag);
}
