// The bytes of one NATS message and the bag they carry. Kept apart from the
// client library so that the fuzz target can drive the receive path alone.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstddef>
#include <string>

namespace zonats {

// Item names the receive path sets in every delivered bag.
constexpr const char kSubjectItem[] = "_nats.subject";
constexpr const char kReplyItem[] = "_nats.reply";

// The bag's flat form (compressed when `zip`) in `out`. False when it cannot
// be made (compression failed).
bool Encode(ZoBag* bag, bool zip, std::string* out);

// A new bag from untrusted message bytes, or null when they are not a whole
// flat bag. A compressed form may claim at most what zlib can make of the
// bytes given, so a few hostile bytes never ask for a huge block.
ZoBag* Decode(const char* data, size_t length);

// Sets the arrival items of a bag just decoded from `data`, replacing any
// that travelled in it; a null or empty `reply` leaves no reply item.
void MarkArrival(ZoBag* bag, const char* data, size_t length, const char* subject,
                 const char* reply);

}  // namespace zonats
