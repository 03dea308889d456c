// <sys/wait.h> comes before Team.h here: the opposite order to TeamTest.cpp.
#include <sys/wait.h>

#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>

#include <atomic>

#include "threads/Helpers.h"

static_assert(WAIT_ANY == -1, "the C library's WAIT_ANY keeps its value");

namespace {

void Brief(ZoTask*, void*) {
    mSnooze(20);
}

void Endless(ZoTask* task, void*) {
    while (!task->IsStopped())
        mSnooze(1);
}

TEST(TeamWait, AnyWorksWhenWaitHeaderComesFirst) {
    ZoTeam team("crew");
    auto* brief = new ZoTask("brief", Brief, nullptr, false);
    auto* endless = new ZoTask("endless", Endless, nullptr, false);
    team.Attach(brief);
    team.Attach(endless);
    team.Run();
    ASSERT_TRUE(zotest::WaitUntil([&] { return endless->IsRunning(); }));
    team.WaitEnd(WAIT_ANY);
    EXPECT_FALSE(brief->IsRunning());
    EXPECT_TRUE(endless->IsRunning());
    endless->Stop();
}

}  // namespace
