#include <zolib/threads/Locker.h>
#include <zolib/threads/Task.h>

#include <gtest/gtest.h>

#include <atomic>

#include "threads/Helpers.h"

namespace {

struct Probe {
    ZoLocker* locker;
    std::atomic<int> seen{-1};  // Locked() as seen from another thread
};

// Locked() from another thread; takes the locker if it was free, so it
// unlocks again to leave things as they were.
void ProbeLocked(ZoTask*, void* data) {
    Probe* probe = static_cast<Probe*>(data);
    bool busy = probe->locker->Locked();
    if (!busy) probe->locker->Unlock();
    probe->seen = busy ? 1 : 0;
}

int LockedElsewhere(ZoLocker& locker) {
    Probe probe{&locker};
    ZoTask task("probe", ProbeLocked, &probe, false);
    if (!task.Run() || task.WaitEnd() != 0) return -1;
    return probe.seen;
}

TEST(Locker, LockedTakesAFreeLocker) {
    ZoLocker locker;
    EXPECT_EQ(LockedElsewhere(locker), 0);
    EXPECT_FALSE(locker.Locked());  // free: the try took it
    EXPECT_EQ(LockedElsewhere(locker), 1);
    EXPECT_TRUE(locker.Unlock());
    EXPECT_EQ(LockedElsewhere(locker), 0);
}

TEST(Locker, LockedSeesAnotherHolder) {
    ZoLocker locker;
    ASSERT_TRUE(locker.Lock());
    EXPECT_EQ(LockedElsewhere(locker), 1);
    EXPECT_TRUE(locker.Unlock());
}

}  // namespace
