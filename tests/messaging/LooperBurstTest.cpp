// Bags posted together and read from the message box in one burst: order,
// Stop(), Flush(), Empty() and detaching in the middle of a burst, and the
// hooks around each posted bag (one may keep a bag from its handler).
#include <zolib/messaging/Looper.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

enum Action { kNone, kStop, kFlush, kEmpty, kDetach, kSkip };
constexpr unsigned long kLast = 99;  // its handler stops the loop

class Burst : public ZoLooper {
  public:
    Burst() : ZoLooper("burst", 0) {}
    ~Burst() override { Halt(); }
    void MessageReceived(ZoBag* message) override {
        handled.push_back(message->what);
        if (message->what == kLast) Stop();
        if (message->what != at) return;
        switch (action) {
            case kStop:
                Stop();
                break;
            // Flush() and Empty() take the handled bag out of current: it is
            // the handler's.
            case kFlush:  // after the rest of the burst, a bag still in the box
                PostMessage(100);
                Flush();
                delete message;
                break;
            case kEmpty:
                Empty();
                PostMessage(kLast);
                delete message;
                break;
            case kDetach:
                kept.reset(message);
                DetachCurrentMessage();
                break;
            case kNone:
            case kSkip:
                break;
        }
    }
    // kSkip: the hook keeps bag `at` from its handler.
    bool PostedTaken(ZoBag* bag, bool handle) override {
        hooks += handle ? 't' : 'd';
        return !(handle && action == kSkip && bag->what == at);
    }
    void PostedHandled() override { hooks += 'h'; }

    Action action = kNone;
    unsigned long at = 3;
    std::vector<unsigned long> handled;
    std::string hooks;
    std::unique_ptr<ZoBag> kept;
};

TEST(LooperBurst, HandlersActingInTheMiddleOfABurst) {
    struct Case {
        Action action;
        std::vector<unsigned long> handled;
        std::string hooks;
    } cases[] = {
        {kNone, {1, 2, 3, 4, 5, 99}, "thththththth"},
        // The rest of the burst is deleted with the looper (LeakSanitizer).
        {kStop, {1, 2, 3}, "ththth"},
        {kFlush, {1, 2, 3, 4, 5, 99, 100}, "ththtththththh"},
        {kEmpty, {1, 2, 3, 99}, "ththtdddhth"},
        {kDetach, {1, 2, 3, 4, 5, 99}, "thththththth"},
        {kSkip, {1, 2, 4, 5, 99}, "ththtththth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        Burst looper;
        looper.action = c.action;
        ZoBag* bags[] = {new ZoBag(1), new ZoBag(2), nullptr,         new ZoBag(3),
                         new ZoBag(4), new ZoBag(5), new ZoBag(kLast)};
        looper.PostMessages(bags, 7);    // one write; the null is skipped
        looper.Run();                    // the first wait reads all six at once
        ASSERT_EQ(looper.WaitEnd(), 0);  // the test's watchdog ends a loop that never stops
        EXPECT_EQ(looper.handled, c.handled);
        EXPECT_EQ(looper.hooks, c.hooks);
        EXPECT_EQ(looper.kept != nullptr, c.action == kDetach);
    }
}

}  // namespace
