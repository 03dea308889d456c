// The receive path of a looper's channels: whatever bytes another thread or
// process writes into a connected pipe. The bytes go through a real pipe and
// the looper's own dispatch, one read of at most the shared buffer per
// message, as the loop does; a second pipe takes the bag-only receive. Bags
// that come out must be whole; nothing may be read outside the buffer.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <sys/ioctl.h>

#include "Shared.h"

namespace {

constexpr int kBuffer = 4096;
// An empty pipe holds 64 KiB, so one write of this much never blocks; the
// reads take it in buffer-sized messages.
constexpr size_t kMaxInput = 16384;

class Sink : public ZoLooper {
  public:
    Sink() : ZoLooper("fuzz", kBuffer) {}
    using ZoLooper::DataReceived;
    void MessageReceived(ZoBag* bag) override { CheckWhole(*bag); }
    void DataReceived(char* data, unsigned int length) override {
        if (length == 0 || length > kBuffer) abort();
        for (unsigned int i = 0; i < length; i++)
            checksum += static_cast<unsigned char>(data[i]);
    }
    unsigned long checksum = 0;
};

int Unread(ZoChannel* channel) {
    int bytes = 0;
    return ioctl(channel->Device(WAY_READ), FIONREAD, &bytes) == 0 ? bytes : 0;
}

// Made once and kept: a pipe pair per input would be all the fuzzer does.
ZoPipe* NewPipe(Sink* sink) {
    ZoPipe* pipe = new ZoPipe(0);
    if (!pipe->InitCheck() || (sink != nullptr && !sink->Connect(pipe))) abort();
    if (sink == nullptr) pipe->SetBuffer(kBuffer);
    return pipe;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sink* sink = new Sink;
    static ZoPipe* looperPipe = NewPipe(sink);
    static ZoPipe* bagPipe = NewPipe(nullptr);
    const char* bytes = reinterpret_cast<const char*>(data);
    unsigned int length = static_cast<unsigned int>(size < kMaxInput ? size : kMaxInput);
    if (length == 0) return 0;
    if (!looperPipe->Write(bytes, length, nullptr)) abort();
    while (Unread(looperPipe) > 0)
        sink->DataReceived(looperPipe);
    if (!bagPipe->Write(bytes, length, nullptr)) abort();
    while (Unread(bagPipe) > 0) {
        ZoBag* bag = nullptr;
        if (bagPipe->Receive(&bag)) delete bag;
    }
    return 0;
}
