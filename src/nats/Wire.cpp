#include "internal/Wire.h"

#include <cstdint>
#include <string_view>

namespace zonats {

namespace {

// zlib never expands more than about 1032 times; anything claiming more is
// not a stream we made.
constexpr uint64_t kMaxRatio = 1100;
constexpr uint64_t kMaxBody = 256ull << 20;
// An item's flat record: hash, name length, type, count and one element's size.
constexpr size_t kLeastItem = 20;

}  // namespace

bool Encode(ZoBag* bag, bool zip, std::string* out) {
    unsigned long size = bag->FlatSize(zip);
    out->resize(size);
    if (!bag->Flatten(&(*out)[0], &size, zip)) return false;
    if (zip) out->resize(size);
    return true;
}

namespace {

// The bytes into `bag`, an empty one; false when they are not a whole flat
// bag.
bool DecodeInto(ZoBag* bag, const char* data, size_t length) {
    if (data == nullptr || !IsABag(data, static_cast<long>(length)) || length < 8) return false;
    if (data[3] != 0) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(data) + 4;
        uint64_t body = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint64_t>(b[3]) << 24;
        uint64_t bound = static_cast<uint64_t>(length) * kMaxRatio + 64;
        if (body > bound || body > kMaxBody) return false;
    }
    return bag->Unflatten(data, length);
}

// How many items to make room for in a bag decoded from these bytes.
int ItemRoom(const char* data, size_t length) {
    // Room for the items and the two arrival items from the start, so that
    // marking the arrival does not grow the list. The count is only a hint
    // here (Unflatten checks it), bounded by the bytes an item takes at least.
    int count = 0;
    if (data == nullptr ||
        !PeekInFlatBag(data, static_cast<long>(length), nullptr, nullptr, nullptr, &count) ||
        count < 0 || static_cast<size_t>(count) > length / kLeastItem)
        count = 0;
    return count + 2;
}

}  // namespace

ZoBag* Decode(const char* data, size_t length) {
    ZoBag* bag = new ZoBag(0, ItemRoom(data, length));
    if (DecodeInto(bag, data, length)) return bag;
    delete bag;
    return nullptr;
}

namespace {

// Whether a plain flat form may hold an item found by `nameHash`. Items are found
// by their name's hash alone, and every item record starts with it,
// little-endian: a form without those four bytes anywhere holds no such item
// (nested bags and values only give false alarms). Cheaper than looking for
// the item in the decoded bag, which this spares for nearly every message.
bool MayHold(std::string_view plain, long nameHash) {
    uint32_t hash = static_cast<uint32_t>(nameHash);
    const char bytes[4] = {static_cast<char>(hash), static_cast<char>(hash >> 8),
                           static_cast<char>(hash >> 16), static_cast<char>(hash >> 24)};
    return plain.find(std::string_view(bytes, sizeof bytes)) != std::string_view::npos;
}

}  // namespace

void MarkArrival(ZoBag* bag, const char* data, size_t length, const char* subject,
                 const char* reply) {
    // A compressed form is not searched: its items are only known decoded.
    bool plain = data != nullptr && length > 3 && data[3] == 0;
    std::string_view form(data, plain ? length : 0);
    static const long subjectHash = ZoBag::Hash(kSubjectItem), replyHash = ZoBag::Hash(kReplyItem);
    if (!plain || MayHold(form, subjectHash)) {
        while (bag->RemoveItem(kSubjectItem, 0)) {
        }
    }
    if (!plain || MayHold(form, replyHash)) {
        while (bag->RemoveItem(kReplyItem, 0)) {
        }
    }
    bag->Setstring(kSubjectItem, subject != nullptr ? subject : "", 1);
    if (reply != nullptr && reply[0] != '\0') bag->Setstring(kReplyItem, reply, 1);
}

}  // namespace zonats
