// Shared memory and the application registry. Every registry test uses the
// machine-wide registry "/ZgB": this program holds a ctest resource lock.
#include <zolib/messaging/Member.h>
#include <zolib/messaging/ShMemory.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <glob.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"

namespace {

// The moment a new segment is published: the library builds it under a
// private name, then link()s it into place. A hook runs once, right before
// the next link() or right after the next one that succeeded.
std::function<void()> beforeLink, afterLink;

void RunOnce(std::function<void()>& hook) {
    if (!hook) return;  // only read: other threads may be publishing too
    std::function<void()> run = std::move(hook);
    hook = nullptr;
    run();
}

}  // namespace

// Takes the place of the C library's link() for the whole test program.
extern "C" int link(const char* from, const char* to) noexcept {
    RunOnce(beforeLink);
    int rc = linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
    int saved = errno;
    if (rc == 0) RunOnce(afterLink);
    errno = saved;
    return rc;
}

namespace {

// Host layout: a mutex and the count of users, then the user area at the
// next 8-byte boundary.
constexpr size_t kArea = (sizeof(pthread_mutex_t) + sizeof(unsigned short) + 7) & ~size_t{7};

// The segment's size; -1 when the name does not exist.
off_t SegmentSize(const char* name) {
    int fd = shm_open(name, O_RDONLY, 0);
    struct stat st;
    off_t size = fd >= 0 && fstat(fd, &st) == 0 ? st.st_size : -1;
    if (fd >= 0) close(fd);
    return size;
}

// Private names a creator of this process left behind.
size_t LeftoverTemps() {
    glob_t found{};
    std::string pattern = "/dev/shm/zolib.shm." + std::to_string(getpid()) + ".*";
    size_t count = glob(pattern.c_str(), 0, nullptr, &found) == 0 ? found.gl_pathc : 0;
    globfree(&found);
    return count;
}

class ShMemoryTest : public ::testing::Test {
  protected:
    void SetUp() override { shm_unlink("/ZgB"); }
    void TearDown() override {
        shm_unlink(n);
        shm_unlink("/ZgB");
        beforeLink = afterLink = nullptr;
    }
    std::string name = "/zotest." + std::to_string(getpid()) + "." +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const char* n = name.c_str();
    std::string me = std::to_string(getpid());
};

using ShMemory = ShMemoryTest;
using Member = ShMemoryTest;

// The creator's area is zeroed; openers are counted, also by the thread
// holding the lock (which must not wait for itself, and keeps it); a smaller
// size never shrinks the segment, a larger one grows it; the last user
// removes the name; no object holds a descriptor; bad names fail.
TEST_F(ShMemory, CreatorAttachersAndTheLastDetacher) {
    int lowestFree = dup(2);
    close(lowestFree);
    auto* first = new ZoShMemory(n, 4096);
    ASSERT_TRUE(first->IsCreator() && first->Lock());
    char* area = static_cast<char*>(first->Address());
    EXPECT_EQ(std::string(area, 4096), std::string(4096, '\0'));
    area[4095] = 7;
    auto* small = new ZoShMemory(n, 16);                // shrinking would lose the 7
    EXPECT_FALSE(small->IsCreator() || small->Lock());  // not recursive: refused, not a hang
    EXPECT_TRUE(first->Unlock());
    auto* bigger = new ZoShMemory(n, 8192);
    EXPECT_EQ(SegmentSize(n), static_cast<off_t>(kArea + 8192));
    EXPECT_EQ(static_cast<char*>(bigger->Address())[4095], 7);
    static_cast<char*>(bigger->Address())[8191] = 9;  // backed: no SIGBUS
    EXPECT_EQ(fcntl(lowestFree, F_GETFD), -1);        // still free
    ASSERT_TRUE(bigger->Lock());
    delete small;
    delete first;
    EXPECT_EQ(SegmentSize(n), static_cast<off_t>(kArea + 8192));  // still in use
    EXPECT_TRUE(bigger->Unlock());
    delete bigger;
    EXPECT_EQ(SegmentSize(n), -1);
    std::string tooLong = "/" + std::string(300, 'x');
    for (const char* bad : {static_cast<const char*>(nullptr), "", "/", "/a/b", tooLong.c_str()}) {
        ZoShMemory m(bad, 16);
        EXPECT_FALSE(m.InitCheck() || m.IsCreator() || m.Lock() || m.Unlock());
        EXPECT_EQ(m.Address(), nullptr);
    }
}

// A rival publishes the name while this object is still building its own
// segment: until then the name must not exist at all, and the loser attaches
// to the winner's segment, leaving no private name behind.
TEST_F(ShMemory, CreatorThatLosesThePublishRaceAttaches) {
    std::unique_ptr<ZoShMemory> rival;
    off_t early = 0;
    beforeLink = [&] {
        early = SegmentSize(n);
        rival.reset(new ZoShMemory(n, 32));
        std::strcpy(static_cast<char*>(rival->Address()), "winner");
    };
    ZoShMemory m(n, 32);
    EXPECT_EQ(early, -1);
    EXPECT_TRUE(rival->IsCreator() && !m.IsCreator());
    EXPECT_STREQ(static_cast<char*>(m.Address()), "winner");
    EXPECT_EQ(LeftoverTemps(), 0u);
}

// Opens and closes the name again and again; each time, under the lock, the
// name must lead to this object's segment: an opener that joined a segment
// its last user was just removing would be alone in it. 0 when it always did.
int Churn(const char* n, int id) {
    for (uint64_t r = 0; r < 200; r++) {
        ZoShMemory c(n, 16);
        uint64_t token = (static_cast<uint64_t>(getpid()) * 16 + id) << 32 | r;
        if (!c.Lock()) return 2;
        std::memcpy(c.Address(), &token, sizeof(token));
        ZoShMemory again(n, 16);  // opened by the lock's holder
        bool same = again.InitCheck() && std::memcmp(again.Address(), &token, 8) == 0;
        c.Unlock();
        if (!same) return 3;
    }
    return 0;
}

// Processes and threads keep opening and closing one name: creators race,
// counts must not be lost, and the last one out removes the name.
TEST_F(ShMemory, ChurnNeverJoinsARemovedSegment) {
    std::vector<pid_t> pids;
    for (int i = 0; i < 3; i++)
        pids.push_back(child::Spawn([&] { return Churn(n, 0); }));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 1; t <= 3; t++)
        threads.emplace_back([&, t] { failures += Churn(n, t) != 0; });
    for (auto& thread : threads)
        thread.join();
    for (pid_t pid : pids)
        EXPECT_EQ(child::Reap(pid), 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(SegmentSize(n), -1);
    EXPECT_EQ(LeftoverTemps(), 0u);
}

// A process that died holding the lock (and still attached: it never
// detached) is taken over: the next locker, here the attach, gets the lock,
// which works on.
TEST_F(ShMemory, DeadHolderIsTakenOver) {
    ZoShMemory first(n, 16);
    pid_t holder = child::Spawn([&] { return (new ZoShMemory(n, 16))->Lock() ? 0 : 1; });
    ASSERT_EQ(child::Reap(holder), 0);
    ZoShMemory next(n, 16);
    EXPECT_TRUE(next.Lock() && next.Unlock() && first.Lock() && first.Unlock());
}

// ---- The registry ----

using Names = std::vector<std::string>;

// The listed entries as "name:pid" (the list's items point into the table).
Names Listed(ZoMember& member) {
    Names out;
    std::unique_ptr<ZoList> list(member.ListApps());
    for (long i = 0; list && i < list->Size(); i++) {
        auto* app = static_cast<T_App*>(list->GetItem(i));
        out.push_back(std::string(app->name) + ":" + std::to_string(app->pid));
    }
    return out;
}

// The first member creates the registry and the last one removes it; an
// observer is not listed, a none-member has no registry. Names are cut at 23
// characters and zero-padded. The registry's bytes are the same on every host:
// a 16-bit count, two unused bytes, then 28-byte entries of pid and name. With
// nobody else registered a broadcast has nobody to fail on; with another
// application it fails.
TEST_F(Member, KindsNamesLayoutAndSends) {
    ZoMember none("quiet", MEMBER_NONE);
    ZoBag bag(0x42, 0);
    EXPECT_TRUE(none.InitCheck());
    EXPECT_EQ(none.CountApps() + none.FindApp("quiet"), 0);
    EXPECT_EQ(none.ListApps(), nullptr);
    EXPECT_FALSE(none.Broadcast(&bag));
    {
        ZoMember observer(nullptr, MEMBER_OBSERVER);
        const char* full = "abcdefghijklmnopqrstuvwxyz0123";  // 30 characters
        std::string cut(full, 23), longer = cut + "4";
        auto* old = new ZoMember(full, MEMBER_APP);
        ZoMember app("alpha", MEMBER_APP), unnamed(nullptr, MEMBER_APP);
        const struct {
            const char* name;
            int pid;
        } finds[] = {{full, 0},           {longer.c_str(), 0}, {cut.c_str(), getpid()},
                     {"alpha", getpid()}, {"", getpid()},      {nullptr, 0}};
        for (const auto& f : finds)
            EXPECT_EQ(app.FindApp(f.name), f.pid) << (f.name ? f.name : "null");
        EXPECT_EQ(Listed(app), (Names{cut + ":" + me, "alpha:" + me, ":" + me}));
        EXPECT_TRUE(app.Broadcast(&bag));  // all of this process: not sent to
        EXPECT_FALSE(app.SendTo(getpid(), &bag) || app.Broadcast(nullptr));
        delete old;  // frees entry 0, its old name stays in the table
        ZoMember fresh("ab", MEMBER_APP);
        ZoShMemory segment("/ZgB", 7144);
        char* area = static_cast<char*>(segment.Address());
        int32_t pid = 0;
        uint16_t count = 0;
        std::memcpy(&count, area, 2);
        std::memcpy(&pid, area + 4 + 28, 4);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(pid, getpid());
        EXPECT_EQ(std::string(area + 8, 24), "ab" + std::string(22, '\0'));
        int32_t other = getpid() + 1;  // another application, as one that died would leave it
        std::memcpy(area + 4 + 28 * 9, &other, 4);
        EXPECT_FALSE(app.Broadcast(&bag));  // no transport to send it with
    }
    EXPECT_EQ(SegmentSize("/ZgB"), -1);
}

// Another application registers in the instant between the registry's
// appearance and its creator's own registration: the creator must keep it.
// The table holds 255 applications (entries, not processes); a member
// refused for want of room takes nothing, nor frees anything when destroyed.
TEST_F(Member, CreatorKeepsAnEarlierApplicationTheTableHolds255) {
    std::vector<std::unique_ptr<ZoMember>> members;
    afterLink = [&] { members.emplace_back(new ZoMember("early", MEMBER_APP)); };
    members.emplace_back(new ZoMember("creator", MEMBER_APP));
    EXPECT_EQ(Listed(*members[1]), (Names{"early:" + me, "creator:" + me}));
    for (int i = 2; i <= 255; i++)
        members.emplace_back(new ZoMember(("app" + std::to_string(i)).c_str(), MEMBER_APP));
    EXPECT_TRUE(members[254]->InitCheck());
    EXPECT_FALSE(members[255]->InitCheck());
    EXPECT_EQ(members[255]->FindApp("app255"), 0);
    members.pop_back();
    EXPECT_EQ(members[0]->CountApps(), 255);
}

}  // namespace
