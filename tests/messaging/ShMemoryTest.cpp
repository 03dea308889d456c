// Shared memory and the application registry. Every registry test uses the
// machine-wide registry "/ZgB": this program holds a ctest resource lock.
#include <zolib/messaging/Member.h>
#include <zolib/messaging/ShMemory.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"

namespace {

// A seam at the moment a new segment is published: the library creates it
// under a private name and then link()s it into place. The hooks run once,
// in this process only, right before the next link() or right after the
// next one that succeeded, to reproduce the races around that step.
std::function<void()> beforeLink, afterLink;
pid_t hookOwner = 0;

void RunOnce(std::function<void()>& hook) {
    if (!hook || getpid() != hookOwner) return;
    std::function<void()> run = std::move(hook);
    hook = nullptr;
    run();
}

}  // namespace

// Takes the place of the C library's link() for the whole test program,
// including the calls the library makes.
extern "C" int link(const char* from, const char* to) noexcept {
    RunOnce(beforeLink);
    int rc = linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
    int saved = errno;
    if (rc == 0) RunOnce(afterLink);
    errno = saved;
    return rc;
}

namespace {

// Host layout: the count follows the mutex; the user area starts at the next
// 8-byte boundary.
constexpr size_t kArea = (sizeof(pthread_mutex_t) + sizeof(unsigned short) + 7) & ~size_t{7};

unsigned short Users(ZoShMemory& m) {
    unsigned short users;
    std::memcpy(&users, static_cast<char*>(m.Address()) - kArea + sizeof(pthread_mutex_t),
                sizeof(users));
    return users;
}

// The segment's size; -1 when the name does not exist.
off_t SegmentSize(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    struct stat st;
    off_t size = fd >= 0 && fstat(fd, &st) == 0 ? st.st_size : -1;
    if (fd >= 0) close(fd);
    return size;
}

// Private names a creator of this process may have left behind.
int LeftoverTemps() {
    std::string prefix = "zolib.shm." + std::to_string(getpid()) + ".";
    int found = 0;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            found += std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0;
        closedir(dir);
    }
    return found;
}

class ShMemoryTest : public ::testing::Test {
  protected:
    void TearDown() override { shm_unlink(n); }
    std::string name = "/zotest." + std::to_string(getpid()) + "." +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const char* n = name.c_str();
};

using ShMemoryLifecycle = ShMemoryTest;
using ShMemoryProcesses = ShMemoryTest;
using ShMemoryResources = ShMemoryTest;
using ShMemoryThreads = ShMemoryTest;

// The creator's area is zeroed and aligned, openers are counted, a smaller
// size never shrinks the segment, a larger one grows it, and the last user
// removes the name; bad names fail cleanly.
TEST_F(ShMemoryLifecycle, CreatorAttachersAndTheLastDetacher) {
    auto* first = new ZoShMemory(n, 4096);
    ASSERT_TRUE(first->InitCheck() && first->IsCreator());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first->Address()) % 8, 0u);
    std::vector<char> zero(4096, 0);
    EXPECT_EQ(std::memcmp(first->Address(), zero.data(), 4096), 0);
    static_cast<char*>(first->Address())[4095] = 7;
    auto* small = new ZoShMemory(n, 16);
    ASSERT_TRUE(small->InitCheck());
    EXPECT_FALSE(small->IsCreator());
    EXPECT_EQ(SegmentSize(name), static_cast<off_t>(kArea + 4096));
    ZoShMemory bigger(n, 8192);
    EXPECT_EQ(SegmentSize(name), static_cast<off_t>(kArea + 8192));
    EXPECT_EQ(static_cast<char*>(bigger.Address())[4095], 7);
    static_cast<char*>(bigger.Address())[8191] = 9;  // backed: no SIGBUS
    EXPECT_EQ(Users(bigger), 3);
    delete small;
    delete first;
    EXPECT_EQ(Users(bigger), 1);
    EXPECT_GT(SegmentSize(name), 0);
    std::string tooLong = "/" + std::string(300, 'x');
    for (const char* bad : {static_cast<const char*>(nullptr), "", "/", "/a/b", tooLong.c_str()}) {
        ZoShMemory m(bad, 16);
        EXPECT_FALSE(m.InitCheck() || m.IsCreator() || m.Lock() || m.Unlock());
        EXPECT_EQ(m.Address(), nullptr);
    }
    EXPECT_EQ(LeftoverTemps(), 0);
}

TEST_F(ShMemoryProcesses, DataSeenBothWaysLastDetacherElsewhereUnlinks) {
    auto* m = new ZoShMemory(n, 64);
    std::strcpy(static_cast<char*>(m->Address()), "from parent");
    child::Note attached, release;
    pid_t pid = child::Spawn([&] {
        ZoShMemory c(n, 64);
        if (!c.InitCheck() || c.IsCreator() || Users(c) != 2) return 1;
        if (std::strcmp(static_cast<char*>(c.Address()), "from parent") != 0) return 2;
        std::strcpy(static_cast<char*>(c.Address()) + 32, "from child");
        attached.Post();
        return release.Wait() ? 0 : 3;
    });
    ASSERT_TRUE(attached.Wait());
    EXPECT_STREQ(static_cast<char*>(m->Address()) + 32, "from child");
    delete m;
    EXPECT_GT(SegmentSize(name), 0);  // the child still uses it
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(SegmentSize(name), -1);
}

// Many processes opening one new name at the same moment: exactly one creates
// it, nobody's count is lost and nobody sees a half-made header.
TEST_F(ShMemoryProcesses, SimultaneousOpenersShareOneSegment) {
    constexpr int kChildren = 6;
    for (int round = 0; round < 5; round++) {
        child::Note go, attached, release;
        std::vector<pid_t> pids;
        for (int i = 0; i < kChildren; i++) {
            pids.push_back(child::Spawn([&] {
                if (!go.Wait()) return 1;
                ZoShMemory c(n, 64);
                if (!c.InitCheck() || !c.Lock()) return 2;
                static_cast<int*>(c.Address())[0] += c.IsCreator();
                static_cast<int*>(c.Address())[1] += 1;
                if (!c.Unlock()) return 3;
                attached.Post();
                return release.Wait() ? 0 : 4;
            }));
        }
        for (int i = 0; i < kChildren; i++)
            go.Post();
        ASSERT_TRUE(attached.Wait(child::kWaitMs, kChildren)) << "round " << round;
        {
            ZoShMemory m(n, 64);
            EXPECT_FALSE(m.IsCreator());
            EXPECT_EQ(static_cast<int*>(m.Address())[0], 1) << "round " << round;
            EXPECT_EQ(static_cast<int*>(m.Address())[1], kChildren) << "round " << round;
            EXPECT_EQ(Users(m), kChildren + 1) << "round " << round;
        }
        for (int i = 0; i < kChildren; i++)
            release.Post();
        for (pid_t pid : pids)
            EXPECT_EQ(child::Reap(pid), 0) << "round " << round;
        EXPECT_EQ(SegmentSize(name), -1) << "round " << round;
    }
}

// A rival publishes the name while this object is still building its own
// segment: until then the name must not exist at all, and the loser attaches
// to the winner's segment, leaving no private name behind.
TEST_F(ShMemoryProcesses, CreatorThatLosesThePublishRaceAttaches) {
    child::Note published, release;
    pid_t rival = -1;
    off_t early = 0;
    hookOwner = getpid();
    beforeLink = [&] {
        early = SegmentSize(name);
        rival = child::Spawn([&] {
            ZoShMemory c(n, 32);
            if (!c.IsCreator()) return 1;
            std::strcpy(static_cast<char*>(c.Address()), "winner");
            published.Post();
            return release.Wait() ? 0 : 2;
        });
        published.Wait();
    };
    {
        ZoShMemory m(n, 32);
        EXPECT_EQ(early, -1);
        ASSERT_TRUE(m.InitCheck());
        EXPECT_FALSE(m.IsCreator());
        EXPECT_STREQ(static_cast<char*>(m.Address()), "winner");
        EXPECT_EQ(Users(m), 2);
        EXPECT_EQ(LeftoverTemps(), 0);
        release.Post();
        EXPECT_EQ(child::Reap(rival), 0);
    }
    EXPECT_EQ(SegmentSize(name), -1);
}

// Processes that keep opening and closing one name: while an object is
// attached, the name must lead to that object's segment. An opener that
// joined a segment its last user was just removing would end up alone in a
// segment nobody else can find.
TEST_F(ShMemoryProcesses, ChurnNeverJoinsARemovedSegment) {
    child::Note go;
    std::vector<pid_t> pids;
    for (int i = 0; i < 4; i++) {
        pids.push_back(child::Spawn([&] {
            if (!go.Wait()) return 1;
            for (int r = 0; r < 200; r++) {
                ZoShMemory c(n, 16);
                if (!c.Lock()) return 2;
                uint64_t token = (static_cast<uint64_t>(getpid()) << 32) | static_cast<uint64_t>(r);
                std::memcpy(c.Address(), &token, sizeof(token));
                int fd = shm_open(n, O_RDONLY, 0);
                void* raw =
                    fd < 0 ? MAP_FAILED : mmap(nullptr, kArea + 16, PROT_READ, MAP_SHARED, fd, 0);
                bool same = raw != MAP_FAILED &&
                            std::memcmp(static_cast<char*>(raw) + kArea, &token, 8) == 0;
                if (fd >= 0) close(fd);
                if (raw != MAP_FAILED) munmap(raw, kArea + 16);
                c.Unlock();
                if (!same) return 3;
            }
            return 0;
        }));
    }
    for (size_t i = 0; i < pids.size(); i++)
        go.Post();
    for (pid_t pid : pids)
        EXPECT_EQ(child::Reap(pid, 60000), 0);
    EXPECT_EQ(SegmentSize(name), -1);
}

// A waiter is woken when the holder of the lock dies; a process that exits
// without detaching stays counted, so the segment stays.
TEST_F(ShMemoryProcesses, DeadHoldersAndLeaversWithoutDetach) {
    ZoShMemory m(n, 16);
    child::Note locked;
    pid_t holder = child::Spawn([&] {
        ZoShMemory h(n, 16);
        if (!h.Lock()) return 1;
        locked.Post();
        for (;;)
            pause();
    });
    ASSERT_TRUE(locked.Wait());
    pid_t waiter = child::Spawn([&] {
        ZoShMemory w(n, 16);  // the attach itself waits for the mutex
        return w.InitCheck() && w.Lock() && w.Unlock() ? 0 : 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it block
    kill(holder, SIGKILL);
    EXPECT_EQ(child::Reap(holder), 128 + SIGKILL);
    EXPECT_EQ(child::Reap(waiter), 0);
    pid_t leaver = child::Spawn([&] { return new ZoShMemory(n, 16) != nullptr ? 0 : 1; });
    ASSERT_EQ(child::Reap(leaver), 0);
    EXPECT_EQ(Users(m), 3);  // the killed holder and the leaver never detached
}

// The descriptor is closed once the segment is mapped: a process may hold
// and cycle far more objects than it may have open files.
TEST_F(ShMemoryResources, ObjectsHoldNoDescriptor) {
    pid_t pid = child::Spawn([&] {
        rlimit limit{24, 24};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
        std::vector<std::unique_ptr<ZoShMemory>> held;
        for (int i = 0; i < 100; i++) {
            held.emplace_back(new ZoShMemory(n, 32));
            if (!held.back()->InitCheck()) return 2;
        }
        held.clear();
        for (int i = 0; i < 300; i++)
            if (!ZoShMemory(n, 32).InitCheck()) return 3;
        return 0;
    });
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(SegmentSize(name), -1);
}

TEST_F(ShMemoryThreads, HolderOfTheLockOpensAndDropsTheNameAgain) {
    // Attaching and detaching count under the mutex: the holder must not
    // wait for itself. The count is kept and the lock stays the holder's.
    ZoShMemory first(n, 16);
    ASSERT_TRUE(first.Lock());
    {
        ZoShMemory second(n, 16);
        ASSERT_TRUE(second.InitCheck());
        EXPECT_EQ(Users(first), 2);
        EXPECT_FALSE(second.Lock());  // not recursive: refused, not a hang
    }
    EXPECT_EQ(Users(first), 1);
    EXPECT_TRUE(first.Unlock());  // still held
}

TEST_F(ShMemoryThreads, ThreadsOpeningAndClosingOneName) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; i++) {
                ZoShMemory m(n, 16);
                if (!m.InitCheck() || !m.Lock()) {
                    failures++;
                    continue;
                }
                ++*static_cast<int*>(m.Address());
                m.Unlock();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(SegmentSize(name), -1);
    EXPECT_EQ(LeftoverTemps(), 0);
}

// ---- The registry ----

bool RegistryExists() {
    int fd = shm_open("/ZgB", O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// The listed entries as "name:pid" (the list's items point into the table).
std::vector<std::string> Listed(ZoMember& member) {
    std::vector<std::string> out;
    std::unique_ptr<ZoList> list(member.ListApps());
    for (long i = 0; list && i < list->Size(); i++) {
        auto* app = static_cast<T_App*>(list->GetItem(i));
        out.push_back(std::string(app->name) + ":" + std::to_string(app->pid));
    }
    return out;
}

class MemberTest : public ::testing::Test {
  protected:
    void SetUp() override { shm_unlink("/ZgB"); }
    void TearDown() override { shm_unlink("/ZgB"); }
    std::string me = std::to_string(getpid());
};

using MemberRegistry = MemberTest;
using MemberProcesses = MemberTest;

// The first application creates the registry and the last one removes it;
// an observer is not listed, a none-member has no registry; long names are
// cut at 23 characters, short ones zero-padded over an old long one.
TEST_F(MemberRegistry, KindsAndNames) {
    ZoMember none("quiet", MEMBER_NONE);
    EXPECT_TRUE(none.InitCheck());
    EXPECT_EQ(none.CountApps(), 0);
    EXPECT_EQ(none.ListApps(), nullptr);
    EXPECT_FALSE(RegistryExists());
    auto* observer = new ZoMember(nullptr, MEMBER_OBSERVER);
    EXPECT_EQ(Listed(*observer), std::vector<std::string>{});
    const char* full = "abcdefghijklmnopqrstuvwxyz0123";  // 30 characters
    std::string cut(full, 23);
    auto* old = new ZoMember(full, MEMBER_APP);
    ZoMember app("alpha", MEMBER_APP), unnamed(nullptr, MEMBER_APP);
    EXPECT_EQ(observer->CountApps(), 3);
    EXPECT_EQ(app.FindApp(full), 0);
    EXPECT_EQ(app.FindApp((cut + "4").c_str()), 0);
    EXPECT_EQ(app.FindApp(cut.c_str()), getpid());
    EXPECT_EQ(app.FindApp("alpha"), getpid());
    EXPECT_EQ(app.FindApp(""), getpid());
    EXPECT_EQ(app.FindApp(nullptr), 0);
    EXPECT_EQ(Listed(app), (std::vector<std::string>{cut + ":" + me, "alpha:" + me, ":" + me}));
    delete old;  // frees entry 0, its old name stays in the table
    ZoMember fresh("ab", MEMBER_APP);
    std::unique_ptr<ZoList> list(app.ListApps());
    auto* entry = static_cast<T_App*>(list->GetItem(0));
    EXPECT_STREQ(entry->name, "ab");
    EXPECT_EQ(std::string(entry->name, sizeof(entry->name)), "ab" + std::string(22, '\0'));
    delete observer;
    EXPECT_TRUE(RegistryExists());
}

TEST_F(MemberRegistry, LastApplicationRemovesIt) {
    { ZoMember app("alpha", MEMBER_APP); }
    EXPECT_FALSE(RegistryExists());
}

// The registry's bytes are the same on every host, whatever its pointer and
// mutex widths: a 16-bit count, two unused bytes, then 28-byte entries of pid
// and name, in a user area of 7144 bytes.
TEST_F(MemberRegistry, LayoutIsTheSameOnEveryHost) {
    ZoMember app("layout", MEMBER_APP);
    ASSERT_TRUE(app.InitCheck());
    ZoShMemory segment("/ZgB", 7144);
    ASSERT_TRUE(segment.InitCheck());
    const char* area = static_cast<const char*>(segment.Address());
    uint16_t count = 0;
    int32_t pid = 0;
    memcpy(&count, area, 2);
    memcpy(&pid, area + 4, 4);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(pid, getpid());
    EXPECT_STREQ(area + 8, "layout");
    EXPECT_EQ(sizeof(T_App), 28u);
}

TEST_F(MemberProcesses, OthersAreListedObserversAreNot) {
    ZoMember app("parent", MEMBER_APP);
    child::Note joined, release;
    pid_t pid = child::Spawn([&] {
        ZoMember c("child", MEMBER_APP), observer("watcher", MEMBER_OBSERVER);
        if (!c.InitCheck() || c.CountApps() != 2 || observer.FindApp("watcher") != 0) return 1;
        joined.Post();
        return release.Wait() ? 0 : 2;
    });
    ASSERT_TRUE(joined.Wait());
    EXPECT_EQ(app.FindApp("child"), pid);
    std::unique_ptr<ZoList> list(app.ListApps());
    ASSERT_EQ(list->Size(), 2);
    auto* second = static_cast<T_App*>(list->GetItem(1));
    EXPECT_EQ(second, static_cast<T_App*>(list->GetItem(0)) + 1);  // adjacent entries
    EXPECT_EQ(second->pid, pid);
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(second->pid, 0);  // the entry is free again
    EXPECT_EQ(app.CountApps(), 1);
}

// Another application registers in the instant between the registry's
// appearance and its creator's own registration: the creator must keep it.
TEST_F(MemberProcesses, CreatorKeepsAnApplicationThatRegisteredFirst) {
    child::Note joined, release;
    pid_t early = -1;
    hookOwner = getpid();
    afterLink = [&] {
        early = child::Spawn([&] {
            ZoMember c("early", MEMBER_APP);
            if (!c.InitCheck() || c.CountApps() != 1) return 1;
            joined.Post();
            return release.Wait() ? 0 : 2;
        });
        joined.Wait();
    };
    ZoMember creator("creator", MEMBER_APP);
    ASSERT_TRUE(creator.InitCheck());
    EXPECT_EQ(Listed(creator),
              (std::vector<std::string>{"early:" + std::to_string(early), "creator:" + me}));
    release.Post();
    EXPECT_EQ(child::Reap(early), 0);
    EXPECT_EQ(creator.CountApps(), 1);
}

// The table holds 255 applications; here a child fills the 254 entries the
// parent leaves free, since the registry counts entries, not processes.
TEST_F(MemberProcesses, FullTableRefusesTheNextApplication) {
    ZoMember app("first", MEMBER_APP);
    child::Note filled, release;
    pid_t pid = child::Spawn([&] {
        std::vector<std::unique_ptr<ZoMember>> members;
        for (int i = 0; i < 254; i++) {
            members.emplace_back(new ZoMember(("filler" + std::to_string(i)).c_str(), MEMBER_APP));
            if (!members.back()->InitCheck()) return 1;
        }
        filled.Post();
        return release.Wait() ? 0 : 2;
    });
    ASSERT_TRUE(filled.Wait());
    EXPECT_EQ(app.CountApps(), 255);
    {
        ZoMember refused("one-too-many", MEMBER_APP);
        EXPECT_FALSE(refused.InitCheck());
        EXPECT_EQ(refused.FindApp("one-too-many"), 0);
    }
    EXPECT_EQ(app.CountApps(), 255);  // the refused member's destruction took no entry
    EXPECT_EQ(app.FindApp("first"), getpid());
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(app.CountApps(), 1);
}

// A process that exits without destroying its member stays registered: the
// registry outlives everyone else.
TEST_F(MemberProcesses, ExitWithoutDestroyingLeavesTheEntry) {
    auto* app = new ZoMember("stays", MEMBER_APP);
    pid_t pid = child::Spawn([&] { return new ZoMember("ghost", MEMBER_APP) ? 0 : 1; });
    ASSERT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(app->FindApp("ghost"), pid);
    delete app;
    ASSERT_TRUE(RegistryExists());
    ZoMember observer(nullptr, MEMBER_OBSERVER);
    EXPECT_EQ(Listed(observer), std::vector<std::string>{"ghost:" + std::to_string(pid)});
}

TEST_F(MemberProcesses, BagSendsAndBroadcasts) {
    ZoBag bag(0x42, 0);
    ZoMember app("sender", MEMBER_APP), none(nullptr, MEMBER_NONE);
    EXPECT_FALSE(app.SendTo(getpid(), &bag) || app.SendTo(getpid(), static_cast<ZoBag*>(nullptr)));
    EXPECT_FALSE(none.Broadcast(&bag) || app.Broadcast(nullptr));
    ZoMember twin("twin", MEMBER_APP);  // shares this process's pid: nobody to send to
    EXPECT_TRUE(app.Broadcast(&bag));
    child::Note joined, release;
    pid_t pid = child::Spawn([&] {
        ZoMember c("listener", MEMBER_APP);
        joined.Post();
        return release.Wait() ? 0 : 1;
    });
    ASSERT_TRUE(joined.Wait());
    EXPECT_FALSE(app.Broadcast(&bag));  // another application, no transport
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
}

}  // namespace
