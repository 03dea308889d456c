// A looper with its own handler and a time-out.
//
// Counter is a message loop on its own thread. Other threads post it bags;
// it adds up the numbers they carry in MessageReceived(). Once told that
// nothing more is coming, it ends at the first time-out: a wait of 200 ms
// in which no bag arrived calls TimeOut(), and returning false ends the loop.
//
//   c++ -std=c++17 Counter.cpp $(pkg-config --cflags --libs zolib)
#include <zolib/ZoLib.h>

#include <cstdint>
#include <cstdio>

namespace {

// Message codes: any 32-bit values the application chooses.
enum : uint32_t { MSG_ADD = 1, MSG_DONE = 2 };

class Counter : public ZoLooper {
  public:
    // No pipe will be connected, so no buffer is needed (0).
    Counter() : ZoLooper("counter", 0) { SetTimeOut(200); }
    // The handlers use the members below: end the loop thread before they go.
    ~Counter() override { Halt(); }

    // Everything from here to TimeOut() runs on the looper's thread.
    bool Init() override {
        std::printf("counter: waiting for numbers\n");
        return true;  // false would end the loop before it starts
    }

    // Called for every bag; the looper deletes it when this returns.
    void MessageReceived(ZoBag* message) override {
        if (message->what == MSG_DONE) {
            done = true;
            return;
        }
        if (message->what != MSG_ADD) return;
        // An item can hold several elements of one type; positions start at 1.
        for (int i = 1; i <= message->CountItem("n"); i++) {
            int n = 0;
            message->Getint32("n", &n, i);
            total += n;
            std::printf("counter: + %d = %d\n", n, total);
        }
    }

    bool TimeOut() override {
        if (!done) return true;  // quiet, but more may come: keep waiting
        std::printf("counter: nothing for 200 ms after the last bag, stopping\n");
        return false;
    }

    // Read after the loop has ended (WaitEnd): no other thread touches it then.
    int Total() const { return total; }

  private:
    int total = 0;
    bool done = false;
};

}  // namespace

int main() {
    Counter counter;
    if (!counter.Run()) return 1;

    // Posting a copy: the bag stays ours and can be reused.
    ZoBag bag(MSG_ADD);
    for (int n = 10; n <= 30; n += 10) {
        bag.Setint32("n", n, 1);  // replaces element 1 (creates the item the first time)
        counter.PostMessage(&bag, true);
    }

    // Handing a bag over: the looper owns and deletes it; we must not touch it.
    auto* pair = new ZoBag(MSG_ADD);
    pair->Setint32("n", 1, 0);  // index 0 appends
    pair->Setint32("n", 2, 0);
    counter.PostMessage(pair, false);

    // A bag with only a message code. Bags from one thread arrive in order,
    // so this one comes last.
    counter.PostMessage(MSG_DONE);

    counter.WaitEnd();  // the loop ends by itself, at the time-out after MSG_DONE
    std::printf("main: the total is %d\n", counter.Total());
    return counter.Total() == 63 ? 0 : 1;
}
