#include <zolib/messaging/ShMemory.h>

#include "messaging/ChildProcess.h"
#include "messaging/LinkSeam.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Host layout: the count follows the mutex; the user area starts at the next
// 8-byte boundary.
constexpr size_t kArea = (sizeof(pthread_mutex_t) + sizeof(unsigned short) + 7) & ~size_t{7};

unsigned short Users(ZoShMemory& m) {
    char* base = static_cast<char*>(m.Address()) - kArea;
    unsigned short users;
    std::memcpy(&users, base + sizeof(pthread_mutex_t), sizeof(users));
    return users;
}

bool NameExists(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

off_t SegmentSize(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return -1;
    struct stat st;
    off_t size = fstat(fd, &st) == 0 ? st.st_size : -1;
    close(fd);
    return size;
}

bool AllZero(const void* p, size_t n) {
    const unsigned char* c = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; i++)
        if (c[i]) return false;
    return true;
}

// Private names a creator of this process may have left behind.
int LeftoverTemps() {
    std::string prefix = "zolib.shm." + std::to_string(getpid()) + ".";
    int found = 0;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) found++;
        closedir(dir);
    }
    return found;
}

class ShMemoryTest : public ::testing::Test {
  protected:
    void TearDown() override { shm_unlink(name.c_str()); }

    child::Watchdog watchdog;
    std::string name =
        child::UniqueName(::testing::UnitTest::GetInstance()->current_test_info()->name());
    const char* n = name.c_str();
};

using ShMemoryLifecycle = ShMemoryTest;
using ShMemoryProcesses = ShMemoryTest;
using ShMemoryRecovery = ShMemoryTest;
using ShMemoryResources = ShMemoryTest;
using ShMemoryThreads = ShMemoryTest;

TEST_F(ShMemoryLifecycle, CreatorAttacherAndLastDetacher) {
    auto* first = new ZoShMemory(n, 100);
    ASSERT_TRUE(first->InitCheck());
    EXPECT_TRUE(first->IsCreator());
    EXPECT_EQ(Users(*first), 1);
    EXPECT_TRUE(AllZero(first->Address(), 100));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first->Address()) % 8, 0u);
    std::memset(first->Address(), 0x5A, 100);

    auto* second = new ZoShMemory(n, 100);
    ASSERT_TRUE(second->InitCheck());
    EXPECT_FALSE(second->IsCreator());
    EXPECT_EQ(Users(*first), 2);
    EXPECT_EQ(static_cast<unsigned char*>(second->Address())[99], 0x5A);

    delete second;
    EXPECT_EQ(Users(*first), 1);
    EXPECT_TRUE(NameExists(name));
    delete first;
    EXPECT_FALSE(NameExists(name));

    ZoShMemory third(n, 100);
    ASSERT_TRUE(third.InitCheck());
    EXPECT_TRUE(third.IsCreator());
    EXPECT_EQ(Users(third), 1);
    EXPECT_TRUE(AllZero(third.Address(), 100));
    EXPECT_EQ(LeftoverTemps(), 0);
}

TEST_F(ShMemoryLifecycle, UnusableNamesFailCleanly) {
    std::string tooLong = "/" + std::string(300, 'x');
    for (const char* bad : {static_cast<const char*>(nullptr), "", "/", "/a/b", tooLong.c_str()}) {
        ZoShMemory m(bad, 16);
        EXPECT_FALSE(m.InitCheck()) << (bad ? bad : "(null)");
        EXPECT_FALSE(m.IsCreator());
        EXPECT_EQ(m.Address(), nullptr);
        EXPECT_FALSE(m.Lock());
        EXPECT_FALSE(m.Unlock());
    }
    EXPECT_EQ(LeftoverTemps(), 0);
}

TEST_F(ShMemoryLifecycle, OpenersWithDifferentSizesNeverShrinkIt) {
    ZoShMemory big(n, 4096);
    ASSERT_TRUE(big.InitCheck());
    EXPECT_EQ(SegmentSize(name), static_cast<off_t>(kArea + 4096));

    ZoShMemory small(n, 16);
    ASSERT_TRUE(small.InitCheck());
    EXPECT_EQ(SegmentSize(name), static_cast<off_t>(kArea + 4096));
    static_cast<char*>(big.Address())[4095] = 7;  // still backed: no SIGBUS

    ZoShMemory bigger(n, 8192);
    ASSERT_TRUE(bigger.InitCheck());
    EXPECT_EQ(SegmentSize(name), static_cast<off_t>(kArea + 8192));
    EXPECT_EQ(static_cast<char*>(bigger.Address())[4095], 7);
    static_cast<char*>(bigger.Address())[8191] = 9;
    EXPECT_EQ(Users(bigger), 3);
}

TEST_F(ShMemoryProcesses, DataIsSeenBothWays) {
    ZoShMemory m(n, 64);
    ASSERT_TRUE(m.InitCheck());
    std::strcpy(static_cast<char*>(m.Address()), "from parent");
    child::Note attached, release;

    pid_t pid = child::Spawn([&] {
        ZoShMemory c(n, 64);
        if (!c.InitCheck() || c.IsCreator()) return 1;
        if (std::strcmp(static_cast<char*>(c.Address()), "from parent") != 0) return 2;
        if (Users(c) != 2) return 3;
        std::strcpy(static_cast<char*>(c.Address()) + 32, "from child");
        attached.Post();
        return release.Wait() ? 0 : 4;
    });
    ASSERT_TRUE(attached.Wait());
    EXPECT_STREQ(static_cast<char*>(m.Address()) + 32, "from child");
    EXPECT_EQ(Users(m), 2);
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(Users(m), 1);
}

TEST_F(ShMemoryProcesses, LastDetacherInAnotherProcessUnlinks) {
    auto* m = new ZoShMemory(n, 32);
    ASSERT_TRUE(m->InitCheck());
    child::Note attached, release;
    pid_t pid = child::Spawn([&] {
        ZoShMemory c(n, 32);
        if (!c.InitCheck() || c.IsCreator()) return 1;
        attached.Post();
        return release.Wait() ? 0 : 2;
    });
    ASSERT_TRUE(attached.Wait());
    delete m;
    EXPECT_TRUE(NameExists(name));  // the child still uses it
    release.Post();
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_FALSE(NameExists(name));
}

// Many processes opening one new name at the same moment: exactly one creates
// it, nobody's count is lost and nobody sees a half-made header.
TEST_F(ShMemoryProcesses, SimultaneousOpenersShareOneSegment) {
    constexpr int kChildren = 6;
    for (int round = 0; round < 10; round++) {
        std::string roundName = name + "." + std::to_string(round);
        const char* rn = roundName.c_str();
        child::Note go, attached, release;
        std::vector<pid_t> pids;
        for (int i = 0; i < kChildren; i++) {
            pids.push_back(child::Spawn([&] {
                if (!go.Wait()) return 1;
                ZoShMemory c(rn, 64);
                if (!c.InitCheck() || !c.Lock()) return 2;
                int* area = static_cast<int*>(c.Address());
                area[0] += c.IsCreator() ? 1 : 0;
                area[1] += 1;
                if (!c.Unlock()) return 3;
                attached.Post();
                return release.Wait() ? 0 : 4;
            }));
        }
        for (int i = 0; i < kChildren; i++)
            go.Post();
        ASSERT_TRUE(attached.Wait(kChildren, child::kWaitMs)) << "round " << round;
        {
            ZoShMemory m(rn, 64);
            ASSERT_TRUE(m.InitCheck());
            EXPECT_FALSE(m.IsCreator());
            ASSERT_TRUE(m.Lock());
            int creators = static_cast<int*>(m.Address())[0];
            int openers = static_cast<int*>(m.Address())[1];
            EXPECT_TRUE(m.Unlock());
            EXPECT_EQ(creators, 1) << "round " << round;
            EXPECT_EQ(openers, kChildren) << "round " << round;
            EXPECT_EQ(Users(m), kChildren + 1) << "round " << round;
        }
        for (int i = 0; i < kChildren; i++)
            release.Post();
        for (pid_t pid : pids)
            EXPECT_EQ(child::Reap(pid), 0) << "round " << round;
        EXPECT_FALSE(NameExists(roundName)) << "round " << round;
        shm_unlink(rn);
    }
}

// A rival publishes the name while this object is still building its own
// segment: until then the name must not exist at all, and the loser attaches
// to the winner's segment, leaving no private name behind.
TEST_F(ShMemoryProcesses, CreatorThatLosesThePublishRaceAttaches) {
    child::Note published, release;
    pid_t rival = -1;
    bool visibleEarly = true;
    seam::BeforeLink([&] {
        visibleEarly = NameExists(name);
        rival = child::Spawn([&] {
            ZoShMemory c(n, 32);
            if (!c.InitCheck() || !c.IsCreator()) return 1;
            std::strcpy(static_cast<char*>(c.Address()), "winner");
            published.Post();
            return release.Wait() ? 0 : 2;
        });
        published.Wait();
    });
    {
        ZoShMemory m(n, 32);
        EXPECT_FALSE(visibleEarly);
        ASSERT_TRUE(m.InitCheck());
        EXPECT_FALSE(m.IsCreator());
        EXPECT_STREQ(static_cast<char*>(m.Address()), "winner");
        EXPECT_EQ(Users(m), 2);
        EXPECT_EQ(LeftoverTemps(), 0);
        release.Post();
        EXPECT_EQ(child::Reap(rival), 0);
        EXPECT_EQ(Users(m), 1);
    }
    EXPECT_FALSE(NameExists(name));
}

// Processes that keep opening and closing one name: while an object is
// attached, the name must lead to that object's segment. An opener that
// joined a segment its last user was just removing would end up alone in a
// segment nobody else can find.
TEST_F(ShMemoryProcesses, ChurnNeverJoinsARemovedSegment) {
    constexpr int kChildren = 4;
    constexpr int kRounds = 200;
    child::Note go;
    std::vector<pid_t> pids;
    for (int i = 0; i < kChildren; i++) {
        pids.push_back(child::Spawn([&] {
            if (!go.Wait()) return 1;
            for (int r = 0; r < kRounds; r++) {
                ZoShMemory c(n, 16);
                if (!c.InitCheck() || !c.Lock()) return 2;
                uint64_t token = (static_cast<uint64_t>(getpid()) << 32) | static_cast<uint64_t>(r);
                std::memcpy(c.Address(), &token, sizeof(token));
                bool same = false;
                int fd = shm_open(n, O_RDONLY, 0);
                if (fd >= 0) {
                    void* raw = mmap(nullptr, kArea + 16, PROT_READ, MAP_SHARED, fd, 0);
                    close(fd);
                    if (raw != MAP_FAILED) {
                        same = std::memcmp(static_cast<char*>(raw) + kArea, &token, 8) == 0;
                        munmap(raw, kArea + 16);
                    }
                }
                c.Unlock();
                if (!same) return 3;
            }
            return 0;
        }));
    }
    for (int i = 0; i < kChildren; i++)
        go.Post();
    for (pid_t pid : pids)
        EXPECT_EQ(child::Reap(pid, 60000), 0);
    EXPECT_FALSE(NameExists(name));
}

TEST_F(ShMemoryRecovery, WaiterIsWokenWhenTheHolderDies) {
    ZoShMemory m(n, 16);
    ASSERT_TRUE(m.InitCheck());
    child::Note locked, waiting;
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
        waiting.Post();
        if (!w.InitCheck() || !w.Lock()) return 1;
        return w.Unlock() ? 0 : 2;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it block
    kill(holder, SIGKILL);
    EXPECT_EQ(child::Reap(holder), 128 + SIGKILL);
    EXPECT_EQ(child::Reap(waiter), 0);
    EXPECT_TRUE(waiting.Wait(0));
}

TEST_F(ShMemoryRecovery, ProcessExitingWithoutDetachLeavesSegmentBehind) {
    pid_t pid = child::Spawn([&] {
        auto* c = new ZoShMemory(n, 16);  // never destroyed
        if (!c->InitCheck() || !c->IsCreator()) return 1;
        std::strcpy(static_cast<char*>(c->Address()), "left");
        return 0;
    });
    ASSERT_EQ(child::Reap(pid), 0);
    EXPECT_TRUE(NameExists(name));
    {
        ZoShMemory m(n, 16);
        ASSERT_TRUE(m.InitCheck());
        EXPECT_FALSE(m.IsCreator());
        EXPECT_STREQ(static_cast<char*>(m.Address()), "left");
        EXPECT_EQ(Users(m), 2);
    }
    EXPECT_TRUE(NameExists(name));  // the count never reaches zero
}

// The descriptor is closed once the segment is mapped: a process may hold
// and cycle far more objects than it may have open files.
TEST_F(ShMemoryResources, ObjectsHoldNoDescriptor) {
    pid_t pid = child::Spawn([&] {
        rlimit limit{24, 24};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
        std::vector<ZoShMemory*> held;
        for (int i = 0; i < 100; i++)
            held.push_back(new ZoShMemory(n, 32));
        bool ok = true;
        for (ZoShMemory* m : held)
            ok = ok && m->InitCheck();
        for (ZoShMemory* m : held)
            delete m;
        if (!ok) return 2;
        for (int i = 0; i < 300; i++) {
            ZoShMemory m(n, 32);
            if (!m.InitCheck()) return 3;
        }
        return 0;
    });
    EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_FALSE(NameExists(name));
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
    constexpr int kThreads = 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
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
    EXPECT_FALSE(NameExists(name));
    EXPECT_EQ(LeftoverTemps(), 0);
}

}  // namespace
