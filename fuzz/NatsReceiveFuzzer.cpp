// The receive path of a NATS subscription as a decoding looper runs it: an
// empty bag is posted for the message, and when the looper takes it the
// bytes are decoded into a new bag handed to the handler in its place (or
// refused, and the handler never sees one), marked with the subject and
// reply they came with. A bag that reaches the
// handler must be whole and carry exactly one subject item; a hostile
// compressed form must not make the decoder ask for a huge block.
#include <zolib/messaging/Looper.h>

#include "Shared.h"
#include "internal/Wire.h"

namespace {

const char kSubject[] = "orders.new";

class Sink : public ZoLooper {
  public:
    Sink() : ZoLooper("fuzz", 0) {}
    void MessageReceived(ZoBag* bag) override {
        char* subject = nullptr;
        std::string plain;
        ZoBag again(0, 0);
        if (bag->CountItem(zonats::kSubjectItem) != 1 ||
            !bag->Getstring(zonats::kSubjectItem, &subject, 1) || strcmp(subject, kSubject) != 0 ||
            !zonats::Encode(bag, false, &plain) || !again.Unflatten(plain.data(), plain.size()) ||
            again.CountItems() != bag->CountItems())
            abort();
        handled++;
    }
    bool PostedTaken(ZoBag* bag, bool handling) override {
        if (!handling) return true;
        delete bag;  // the placeholder; a ZoNatsLooper reuses it
        current = zonats::Decode(data, size);
        if (current == nullptr) {
            refused++;
            return false;
        }
        zonats::MarkArrival(current, data, size, kSubject,
                            size % 2 == 0 ? "_INBOX.reply" : nullptr);
        return true;
    }
    const char* data = nullptr;
    size_t size = 0;
    int handled = 0, refused = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sink sink;
    sink.data = reinterpret_cast<const char*>(data);
    sink.size = size;
    int before = sink.handled + sink.refused;
    sink.PostMessage(new ZoBag(0, 1), false);
    sink.Flush();  // taken and handled here, on this thread
    if (sink.handled + sink.refused != before + 1) abort();
    return 0;
}
