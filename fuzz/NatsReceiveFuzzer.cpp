// The receive path of a NATS subscription: whatever bytes arrive on a subject
// are decoded into a bag (or refused), marked with the subject and reply they
// came with and posted to a looper, which hands them to its handler. A bag
// that comes out must be whole and carry exactly one subject item; a hostile
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
    int handled = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sink sink;
    ZoBag* bag = zonats::Decode(reinterpret_cast<const char*>(data), size);
    if (bag == nullptr) return 0;
    zonats::MarkArrival(bag, kSubject, size % 2 == 0 ? "_INBOX.reply" : nullptr);
    int before = sink.handled;
    sink.PostMessage(bag, false);
    sink.Flush();  // the handler runs here, on this thread
    if (sink.handled != before + 1) abort();
    return 0;
}
