// Every test here uses the machine-wide registry "/ZgB": this program's tests
// hold a ctest resource lock and must not run at the same time.
#include <zolib/messaging/Member.h>

#include "messaging/ChildProcess.h"
#include "messaging/LinkSeam.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kRegistry = "/ZgB";

bool RegistryExists() {
    int fd = shm_open(kRegistry, O_RDONLY, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

T_App* Entry(ZoList* list, long i) {
    return static_cast<T_App*>(list->GetItem(i));
}

class MemberTest : public ::testing::Test {
  protected:
    void SetUp() override { shm_unlink(kRegistry); }
    void TearDown() override { shm_unlink(kRegistry); }

    child::Watchdog watchdog;
};

using MemberRegistration = MemberTest;
using MemberProcesses = MemberTest;
using MemberNames = MemberTest;
using MemberCapacity = MemberTest;
using MemberDeparture = MemberTest;
using MemberTransport = MemberTest;

TEST_F(MemberRegistration, FirstApplicationCreatesTheRegistry) {
    auto* app = new ZoMember("alpha", MEMBER_APP);
    ASSERT_TRUE(app->InitCheck());
    EXPECT_EQ(app->CountApps(), 1);
    EXPECT_EQ(app->FindApp("alpha"), getpid());
    EXPECT_EQ(app->FindApp("beta"), 0);
    EXPECT_EQ(app->FindApp(nullptr), 0);
    ZoList* list = app->ListApps();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Size(), 1);
    EXPECT_EQ(Entry(list, 0)->pid, getpid());
    EXPECT_STREQ(Entry(list, 0)->name, "alpha");
    delete list;
    delete app;
    EXPECT_FALSE(RegistryExists());
}

TEST_F(MemberRegistration, NoneMemberHasNoRegistry) {
    ZoMember none("quiet", MEMBER_NONE);
    EXPECT_TRUE(none.InitCheck());
    EXPECT_EQ(none.CountApps(), 0);
    EXPECT_EQ(none.FindApp("quiet"), 0);
    EXPECT_EQ(none.ListApps(), nullptr);
    EXPECT_FALSE(RegistryExists());
}

TEST_F(MemberRegistration, ObserverCreatorLeavesTheTableEmpty) {
    ZoMember observer(nullptr, MEMBER_OBSERVER);
    ASSERT_TRUE(observer.InitCheck());
    EXPECT_EQ(observer.CountApps(), 0);
    ZoList* list = observer.ListApps();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Size(), 0);
    delete list;
    {
        ZoMember app("later", MEMBER_APP);
        ASSERT_TRUE(app.InitCheck());
        EXPECT_EQ(observer.CountApps(), 1);
        EXPECT_EQ(observer.FindApp("later"), getpid());
    }
    EXPECT_EQ(observer.CountApps(), 0);
    EXPECT_EQ(observer.FindApp("later"), 0);
}

TEST_F(MemberProcesses, SecondApplicationTakesEntryOne) {
    ZoMember app("parent", MEMBER_APP);
    ASSERT_TRUE(app.InitCheck());
    child::Note joined, release;
    pid_t pid = child::Spawn([&] {
        ZoMember c("child", MEMBER_APP);
        if (!c.InitCheck() || c.CountApps() != 2) return 1;
        joined.Post();
        return release.Wait() ? 0 : 2;
    });
    ASSERT_TRUE(joined.Wait());
    EXPECT_EQ(app.CountApps(), 2);
    EXPECT_EQ(app.FindApp("child"), pid);
    ZoList* list = app.ListApps();
    ASSERT_EQ(list->Size(), 2);
    EXPECT_EQ(Entry(list, 1), Entry(list, 0) + 1);  // adjacent table entries 0 and 1
    EXPECT_EQ(Entry(list, 1)->pid, pid);
    EXPECT_STREQ(Entry(list, 1)->name, "child");
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    // The listed items point into the table: entry 1 is free again.
    EXPECT_EQ(Entry(list, 1)->pid, 0);
    delete list;
    EXPECT_EQ(app.CountApps(), 1);
    EXPECT_EQ(app.FindApp("child"), 0);
}

TEST_F(MemberProcesses, ObserverSeesOthersButIsNotListed) {
    ZoMember app("host", MEMBER_APP);
    ASSERT_TRUE(app.InitCheck());
    pid_t parent = getpid();
    pid_t pid = child::Spawn([&] {
        ZoMember observer("watcher", MEMBER_OBSERVER);
        if (!observer.InitCheck()) return 1;
        if (observer.CountApps() != 1 || observer.FindApp("host") != parent) return 2;
        if (observer.FindApp("watcher") != 0) return 3;
        ZoList* list = observer.ListApps();
        bool onlyHost = list->Size() == 1 && Entry(list, 0)->pid == parent;
        delete list;
        return onlyHost ? 0 : 4;
    });
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(app.CountApps(), 1);
}

// Another application registers in the instant between the registry's
// appearance and its creator's own registration: the creator must keep it.
TEST_F(MemberProcesses, CreatorKeepsAnApplicationThatRegisteredFirst) {
    child::Note joined, release;
    pid_t early = -1;
    seam::AfterLink([&] {
        early = child::Spawn([&] {
            ZoMember c("early", MEMBER_APP);
            if (!c.InitCheck() || c.CountApps() != 1) return 1;
            joined.Post();
            return release.Wait() ? 0 : 2;
        });
        joined.Wait();
    });
    auto* creator = new ZoMember("creator", MEMBER_APP);
    ASSERT_TRUE(creator->InitCheck());
    EXPECT_EQ(creator->CountApps(), 2);
    EXPECT_EQ(creator->FindApp("early"), early);
    EXPECT_EQ(creator->FindApp("creator"), getpid());
    ZoList* list = creator->ListApps();
    ASSERT_EQ(list->Size(), 2);
    EXPECT_EQ(Entry(list, 0)->pid, early);  // the creator took entry 1
    delete list;
    release.Post();
    EXPECT_EQ(child::Reap(early), 0);
    EXPECT_EQ(creator->CountApps(), 1);
    delete creator;
    EXPECT_FALSE(RegistryExists());
}

TEST_F(MemberNames, LongNamesAreCutAt23Characters) {
    const char* full = "abcdefghijklmnopqrstuvwxyz0123";  // 30 characters
    std::string prefix(full, 23);
    ZoMember first(full, MEMBER_APP);
    ZoMember second("next", MEMBER_APP);
    ASSERT_TRUE(first.InitCheck());
    ASSERT_TRUE(second.InitCheck());
    EXPECT_EQ(first.FindApp(full), 0);
    EXPECT_EQ(first.FindApp(prefix.c_str()), getpid());
    EXPECT_EQ(first.FindApp((prefix + "4").c_str()), 0);

    ZoList* list = first.ListApps();
    ASSERT_EQ(list->Size(), 2);
    T_App* entry = Entry(list, 0);
    EXPECT_EQ(std::string(entry->name), prefix);
    EXPECT_EQ(entry->name[23], '\0');
    // The neighbouring entry is intact.
    EXPECT_EQ(Entry(list, 1)->pid, getpid());
    EXPECT_STREQ(Entry(list, 1)->name, "next");
    delete list;
}

TEST_F(MemberNames, ShortNameIsZeroPaddedOverAnOldLongOne) {
    auto* old = new ZoMember("a-name-of-exactly-23-ch", MEMBER_APP);
    ZoMember keeper("keeper", MEMBER_APP);
    ASSERT_TRUE(old->InitCheck());
    delete old;  // frees entry 0, its old name stays in the table
    ZoMember fresh("ab", MEMBER_APP);
    ASSERT_TRUE(fresh.InitCheck());
    ZoList* list = keeper.ListApps();
    ASSERT_EQ(list->Size(), 2);
    T_App* entry = Entry(list, 0);
    EXPECT_STREQ(entry->name, "ab");
    for (size_t i = 2; i < sizeof(entry->name); i++)
        EXPECT_EQ(entry->name[i], '\0') << i;
    delete list;
}

TEST_F(MemberNames, NullNameRegistersAsEmpty) {
    ZoMember app(nullptr, MEMBER_APP);
    ASSERT_TRUE(app.InitCheck());
    EXPECT_EQ(app.CountApps(), 1);
    EXPECT_EQ(app.FindApp(""), getpid());
}

// The table holds 255 applications; here a child fills the 254 entries the
// parent leaves free, since the registry counts entries, not processes.
TEST_F(MemberCapacity, FullTableRefusesTheNextApplication) {
    ZoMember app("first", MEMBER_APP);
    ASSERT_TRUE(app.InitCheck());
    child::Note filled, release;
    pid_t pid = child::Spawn([&] {
        std::vector<ZoMember*> members;
        for (int i = 0; i < 254; i++) {
            std::string name = "filler" + std::to_string(i);
            members.push_back(new ZoMember(name.c_str(), MEMBER_APP));
            if (!members.back()->InitCheck()) return 1;
        }
        filled.Post();
        if (!release.Wait()) return 2;
        for (ZoMember* m : members)
            delete m;
        return 0;
    });
    ASSERT_TRUE(filled.Wait());
    EXPECT_EQ(app.CountApps(), 255);
    {
        ZoMember refused("one-too-many", MEMBER_APP);
        EXPECT_FALSE(refused.InitCheck());
        EXPECT_EQ(refused.FindApp("one-too-many"), 0);
    }
    // The refused member's destruction took nobody's entry.
    EXPECT_EQ(app.CountApps(), 255);
    EXPECT_EQ(app.FindApp("first"), getpid());
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(app.CountApps(), 1);
}

TEST_F(MemberDeparture, ExitWithoutDestroyingLeavesTheEntry) {
    auto* app = new ZoMember("stays", MEMBER_APP);
    ASSERT_TRUE(app->InitCheck());
    pid_t pid = child::Spawn([&] {
        auto* ghost = new ZoMember("ghost", MEMBER_APP);  // never destroyed
        return ghost->InitCheck() ? 0 : 1;
    });
    ASSERT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(app->CountApps(), 2);
    EXPECT_EQ(app->FindApp("ghost"), pid);
    delete app;
    // The dead process still counts as a user: the registry outlives us all.
    ASSERT_TRUE(RegistryExists());
    ZoMember observer(nullptr, MEMBER_OBSERVER);
    EXPECT_EQ(observer.CountApps(), 1);
    EXPECT_EQ(observer.FindApp("ghost"), pid);
    EXPECT_EQ(observer.FindApp("stays"), 0);
}

TEST_F(MemberTransport, BagSendsAndBroadcasts) {
    ZoBag bag(0x42, 0);
    bag.Setstring("greeting", "hello", 0);
    ZoMember app("sender", MEMBER_APP);
    ZoMember none(nullptr, MEMBER_NONE);
    ASSERT_TRUE(app.InitCheck());
    EXPECT_FALSE(app.SendTo(getpid(), &bag));
    EXPECT_FALSE(app.SendTo(getpid(), static_cast<ZoBag*>(nullptr)));
    EXPECT_FALSE(none.Broadcast(&bag));
    EXPECT_FALSE(app.Broadcast(nullptr));
    // Alone (a second member of this process shares its pid): nothing to send.
    ZoMember twin("twin", MEMBER_APP);
    EXPECT_TRUE(app.Broadcast(&bag));

    child::Note joined, release;
    pid_t pid = child::Spawn([&] {
        ZoMember c("listener", MEMBER_APP);
        if (!c.InitCheck()) return 1;
        joined.Post();
        return release.Wait() ? 0 : 2;
    });
    ASSERT_TRUE(joined.Wait());
    EXPECT_FALSE(app.Broadcast(&bag));  // another application, no transport
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_TRUE(app.Broadcast(&bag));
}

}  // namespace
