#include <zolib/fs/FolderWatcher.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Thread.h>

#include "fs/FsTestUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Names = std::set<std::string>;
using Record = std::pair<int, std::string>;  // kind, entry name
using Records = std::vector<Record>;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A watcher the tests can drive. Gated, it waits in Refreshing until Step()
// lets one pass through, so every pass sees exactly the changes made before
// it; ungated, it runs freely at its period. Updated keeps a copy of each
// pass's records, tagged with the pass's number.
class Watcher : public ZoFolderWatcher {
  public:
    explicit Watcher(bool gated = true, long period = 1)
        : ZoFolderWatcher(period, &tag), gated(gated) {}
    ~Watcher() override { Finish(); }

    void Process() override {
        ZoFolderWatcher::Process();
        ended = true;
    }
    void Refreshing(void* data) override {
        if (data != &tag) wrongData = true;
        std::unique_lock<std::mutex> lock(mutex);
        arrived++;
        wake.notify_all();
        if (!gated) return;
        wake.wait_for(lock, 10s, [this] { return allowed > 0 || released; });
        if (allowed > 0) allowed--;
    }
    void Updated(ZoList* list, void* data) override {
        if (data != &tag || list != changes) wrongData = true;
        Records records;
        for (long i = 0; i < list->Size(); i++) {
            auto* update = static_cast<T_Update*>(list->GetItem(i));
            records.emplace_back(update->kind, update->entry->GetName());
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            passes.emplace_back(arrived, records);
        }
        if (onUpdated) onUpdated();
    }

    // Lets one pass run and returns its records (none when it made none).
    Records Step() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!wake.wait_for(lock, 10s, [this] { return arrived > 0; })) {
            ADD_FAILURE() << "the watcher never began a pass";
            return {};
        }
        int pass = arrived;
        allowed++;
        wake.notify_all();
        // Back in Refreshing means the pass and its Updated call are over.
        if (!wake.wait_for(lock, 10s, [&] { return arrived > pass; })) {
            ADD_FAILURE() << "pass " << pass << " did not end";
            return {};
        }
        for (auto& done : passes)
            if (done.first == pass) return done.second;
        return {};
    }

    // The known names, read under the lock as any other thread must.
    Names Known() {
        Names names;
        Lock();
        for (long i = 0; i < Contents()->Size(); i++)
            names.insert(static_cast<ZoEntry*>(Contents()->GetItem(i))->GetName());
        Unlock();
        return names;
    }
    int Arrived() {
        std::lock_guard<std::mutex> lock(mutex);
        return arrived;
    }
    size_t UpdatedCalls() {
        std::lock_guard<std::mutex> lock(mutex);
        return passes.size();
    }

    // Ends the thread through Stop(), so that no cancellation unwinds
    // through the hooks above; a body that never ends fails the test.
    void Finish() {
        Stop();
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
            wake.notify_all();
        }
        if (ID() == 0) return;
        if (!WaitUntil([this] { return ended.load(); })) {
            ADD_FAILURE() << "the watcher did not stop";
            Cancel();
        }
        WaitEnd();
    }

    int tag = 0;
    const bool gated;
    std::function<void()> onUpdated;  // runs on the watcher thread, lock held
    std::atomic<bool> ended{false};
    std::atomic<bool> wrongData{false};

  private:
    std::mutex mutex;
    std::condition_variable wake;
    int arrived = 0;
    int allowed = 0;
    bool released = false;
    std::vector<std::pair<int, Records>> passes;
};

class WatcherTest : public fstest::TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        Dir("w");
        Dir("other");
        Dir("stage");
    }

    std::string W(const std::string& name) const { return At("w/" + name); }
    // Files made in advance carry old times, so that any later write moves
    // the modification time even within the file system's clock tick.
    void OldFile(const std::string& rel) const {
        File(rel, "old");
        const timespec times[2] = {{946684800, 0}, {946684800, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, At(rel).c_str(), times, 0), 0);
    }
    // A new file appears in the watched directory whole, in one rename.
    void Drop(const std::string& name, const std::string& dir = "w") const {
        File("stage/" + name, "new");
        ASSERT_EQ(rename(At("stage/" + name).c_str(), At(dir + "/" + name).c_str()), 0);
    }
    void Write(const std::string& name) const { std::ofstream(W(name), std::ios::app) << "more"; }
    void Delete(const std::string& name) const { ASSERT_EQ(unlink(W(name).c_str()), 0); }

    // Three old files and a subdirectory in w.
    void Populate() {
        OldFile("w/a.txt");
        OldFile("w/b.txt");
        OldFile("w/c.jpg");
        Dir("w/sub");
    }
    void Start(Watcher& watcher) {
        watcher.SetSource(At("w").c_str());
        ASSERT_TRUE(watcher.Run());
    }
};

// --- Scans without the thread ---------------------------------------------

TEST_F(WatcherTest, SetSourceKnowsTheEntriesWithoutRecords) {
    Populate();
    Watcher watcher;
    watcher.SetSource(At("w").c_str());
    EXPECT_EQ(watcher.Known(), (Names{"a.txt", "b.txt", "c.jpg", "sub"}));
    for (long i = 0; i < watcher.Contents()->Size(); i++) {
        auto* entry = static_cast<ZoEntry*>(watcher.Contents()->GetItem(i));
        bool isDir = dynamic_cast<ZoDirectory*>(entry) != nullptr;
        EXPECT_EQ(isDir, std::string(entry->GetName()) == "sub");
    }
    // Nothing new to take in.
    watcher.Refresh();
    EXPECT_EQ(watcher.Contents()->Size(), 4);
}

TEST_F(WatcherTest, FilterSetBeforeTheSourceLimitsTheFirstScan) {
    Populate();
    const char* jpg[] = {"jpg"};
    Watcher watcher;
    watcher.SetFilter(1, jpg);
    watcher.SetSource(At("w").c_str());
    EXPECT_EQ(watcher.Known(), (Names{"c.jpg"}));
}

TEST_F(WatcherTest, MissingSourceKnowsNothing) {
    Watcher watcher;
    watcher.SetSource(At("absent").c_str());
    EXPECT_EQ(watcher.Contents()->Size(), 0);
    watcher.SetSource(nullptr);
    watcher.Refresh();
    EXPECT_EQ(watcher.Contents()->Size(), 0);
}

TEST_F(WatcherTest, SameSourceAgainRescansIt) {
    Populate();
    auto* dir = new ZoDirectory(At("w").c_str(), false);
    Watcher watcher;
    watcher.SetSource(dir);
    Drop("new");
    watcher.SetSource(dir);  // kept, not deleted
    EXPECT_EQ(watcher.Known(), (Names{"a.txt", "b.txt", "c.jpg", "sub", "new"}));
}

TEST_F(WatcherTest, EntryMatchComparesInodesOnly) {
    File("f", "x");
    ZoEntry a(At("f").c_str()), sameFile(At("w/../f").c_str()), root("/");
    ASSERT_TRUE(a.Exists() && sameFile.Exists() && root.Exists());
    EXPECT_EQ(entrymatch(&a, &sameFile), 0);
    EXPECT_EQ(entrymatch(&a, &root), 1);
    EXPECT_EQ(entrymatch(&a, nullptr), 1);
    EXPECT_EQ(entrymatch(nullptr, &a), 1);
}

// --- Passes, one at a time ------------------------------------------------

TEST_F(WatcherTest, EachChangeIsReportedOnce) {
    Populate();
    Watcher watcher;
    Start(watcher);
    EXPECT_TRUE(watcher.Step().empty());
    Drop("new.txt");
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_ADDED, "new.txt"}}));
    EXPECT_EQ(watcher.Known(), (Names{"a.txt", "b.txt", "c.jpg", "sub", "new.txt"}));
    Write("b.txt");
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_CHANGED, "b.txt"}}));
    EXPECT_TRUE(watcher.Step().empty());
    EXPECT_EQ(watcher.UpdatedCalls(), 2u);
    EXPECT_FALSE(watcher.wrongData);
}

TEST_F(WatcherTest, NeighboursRemovedInOnePass) {
    Populate();
    Watcher watcher;
    Start(watcher);
    std::vector<std::string> order;
    for (long i = 0; i < watcher.Contents()->Size(); i++)
        order.push_back(static_cast<ZoEntry*>(watcher.Contents()->GetItem(i))->GetName());
    ASSERT_EQ(order.size(), 4u);
    // Two entries side by side in the list; the second moves into the place
    // of the first when it is taken out and must still be checked.
    std::string first = order[1], second = order[2];
    std::error_code ec;
    std::filesystem::remove(W(first), ec);
    std::filesystem::remove(W(second), ec);
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_REMOVED, first}, {UPDATE_REMOVED, second}}));
    EXPECT_EQ(watcher.Known(), (Names{order[0], order[3]}));
}

TEST_F(WatcherTest, AddedComeFirstThenKnownInListOrder) {
    Populate();
    Watcher watcher;
    Start(watcher);
    Drop("new.txt");
    Write("a.txt");
    Delete("b.txt");
    Write("c.jpg");
    Records expected{{UPDATE_ADDED, "new.txt"}};
    for (long i = 0; i < watcher.Contents()->Size(); i++) {
        std::string name = static_cast<ZoEntry*>(watcher.Contents()->GetItem(i))->GetName();
        if (name == "b.txt") expected.emplace_back(UPDATE_REMOVED, name);
        if (name == "a.txt" || name == "c.jpg") expected.emplace_back(UPDATE_CHANGED, name);
    }
    EXPECT_EQ(watcher.Step(), expected);
    EXPECT_EQ(watcher.Known(), (Names{"a.txt", "c.jpg", "sub", "new.txt"}));
}

TEST_F(WatcherTest, RenameIsRemovedThenAddedInTheNextPass) {
    Populate();
    Watcher watcher;
    Start(watcher);
    ASSERT_EQ(rename(W("a.txt").c_str(), W("z.txt").c_str()), 0);
    // The new name carries a known inode: nothing is added yet.
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_REMOVED, "a.txt"}}));
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_ADDED, "z.txt"}}));
    EXPECT_EQ(watcher.Known(), (Names{"b.txt", "c.jpg", "sub", "z.txt"}));
}

TEST_F(WatcherTest, HardLinksShareOneIdentity) {
    Populate();
    Watcher watcher;
    Start(watcher);
    ASSERT_EQ(link(W("a.txt").c_str(), W("a-link").c_str()), 0);
    for (auto& record : watcher.Step())
        EXPECT_NE(record.first, UPDATE_ADDED) << record.second;
    EXPECT_EQ(watcher.Known().count("a-link"), 0u);
    // Two new names of one new file: the second matches the first, just
    // taken in during the same listing.
    File("stage/twin", "t");
    ASSERT_EQ(link(At("stage/twin").c_str(), W("p").c_str()), 0);
    ASSERT_EQ(link(At("stage/twin").c_str(), W("q").c_str()), 0);
    Records records = watcher.Step();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].first, UPDATE_ADDED);
    EXPECT_EQ(watcher.Known().size(), 5u);
}

TEST_F(WatcherTest, FilterLimitsNewNamesNotKnownEntries) {
    Populate();
    const char* jpg[] = {"jpg"};
    Watcher watcher;
    watcher.SetSource(At("w").c_str());
    watcher.SetFilter(1, jpg);
    ASSERT_TRUE(watcher.Run());
    Drop("a2.txt");
    Drop("b2.jpg");
    Write("a.txt");
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_ADDED, "b2.jpg"}, {UPDATE_CHANGED, "a.txt"}}));
    EXPECT_TRUE(watcher.Step().empty());
    EXPECT_EQ(watcher.Known().count("a2.txt"), 0u);
}

TEST_F(WatcherTest, SecondSourceReplacesTheEntriesWithoutRecords) {
    Populate();
    OldFile("other/x");
    OldFile("other/y");
    Watcher watcher;
    Start(watcher);
    EXPECT_TRUE(watcher.Step().empty());
    watcher.SetSource(At("other").c_str());
    EXPECT_EQ(watcher.Known(), (Names{"x", "y"}));
    EXPECT_TRUE(watcher.Step().empty());
    // Only the new source is watched.
    Drop("in-w");
    Drop("in-other", "other");
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_ADDED, "in-other"}}));
}

TEST_F(WatcherTest, HandlerMaySetTheSourceAndFilter) {
    Populate();
    OldFile("other/x.jpg");
    OldFile("other/y.txt");
    const char* jpg[] = {"jpg"};
    Watcher watcher;
    bool switched = false;  // touched on the watcher thread only
    watcher.onUpdated = [&] {
        if (switched) return;
        switched = true;
        // The pass holds the watcher's lock here; neither call may wait for it.
        watcher.SetFilter(1, jpg);
        watcher.SetSource(At("other").c_str());
    };
    Start(watcher);
    Drop("new");
    EXPECT_EQ(watcher.Step(), (Records{{UPDATE_ADDED, "new"}}));
    EXPECT_EQ(watcher.Known(), (Names{"x.jpg"}));
    EXPECT_TRUE(watcher.Step().empty());
}

// --- The free-running thread ----------------------------------------------

TEST_F(WatcherTest, RunBeforeSetSourceEndsAtOnce) {
    Watcher watcher(false);
    ASSERT_TRUE(watcher.Run());
    EXPECT_TRUE(WaitUntil([&] { return watcher.ended.load(); }));
    EXPECT_EQ(watcher.Arrived(), 0);
}

TEST_F(WatcherTest, RefreshingEveryPeriodUpdatedOnlyOnChange) {
    Populate();
    Watcher watcher(false, 5);
    Start(watcher);
    EXPECT_TRUE(WaitUntil([&] { return watcher.Arrived() >= 5; }));
    EXPECT_EQ(watcher.UpdatedCalls(), 0u);
    Drop("new");
    EXPECT_TRUE(WaitUntil([&] { return watcher.UpdatedCalls() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return watcher.Known().size() == 5; }));
}

TEST_F(WatcherTest, ClearedSourceEndsTheThread) {
    Populate();
    Watcher watcher(false);
    Start(watcher);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Arrived() >= 1; }));
    watcher.SetSource(nullptr);
    EXPECT_TRUE(WaitUntil([&] { return watcher.ended.load(); }));
    EXPECT_EQ(watcher.Contents()->Size(), 0);
}

TEST_F(WatcherTest, CancelEndsTheSleepAndDestructionCleansUp) {
    Populate();
    auto start = std::chrono::steady_clock::now();
    {
        // A period far beyond the test: only a cancellation ends the sleep.
        ZoFolderWatcher watcher(600000, nullptr);
        watcher.SetSource(At("w").c_str());
        ASSERT_TRUE(watcher.Run());
        ASSERT_TRUE(WaitUntil([&] { return watcher.IsRunning(); }));
        watcher.Cancel();
        EXPECT_FALSE(watcher.IsRunning());
        EXPECT_EQ(watcher.Contents()->Size(), 4);
    }
    {
        // Destroyed while running, between passes with records.
        auto* watcher = new ZoFolderWatcher(1, nullptr);
        watcher->SetSource(At("w").c_str());
        ASSERT_TRUE(watcher->Run());
        Drop("new");
        Delete("a.txt");
        ASSERT_TRUE(WaitUntil([&] {
            watcher->Lock();
            Names known;
            for (long i = 0; i < watcher->Contents()->Size(); i++)
                known.insert(static_cast<ZoEntry*>(watcher->Contents()->GetItem(i))->GetName());
            watcher->Unlock();
            return known.count("new") == 1 && known.count("a.txt") == 0;
        }));
        delete watcher;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

// Stays in its handler until cancelled. It polls for the cancellation rather
// than sleeping: ThreadSanitizer loses track of the lock's release when a
// thread is cancelled inside one of its intercepted calls.
class SlowHandler : public ZoFolderWatcher {
  public:
    SlowHandler() : ZoFolderWatcher(1, nullptr) {}
    ~SlowHandler() override { Cancel(); }
    void Updated(ZoList*, void*) override {
        inHandler = true;
        for (;;) {
            IsCanceled();
            Yield();
        }
    }
    std::atomic<bool> inHandler{false};
};

TEST_F(WatcherTest, CancelInTheHandlerGivesTheLockBack) {
    Populate();
    SlowHandler watcher;
    watcher.SetSource(At("w").c_str());
    ASSERT_TRUE(watcher.Run());
    Drop("new");
    ASSERT_TRUE(WaitUntil([&] { return watcher.inHandler.load(); }));
    EXPECT_TRUE(watcher.Locked());  // the handler runs inside the pass's lock
    watcher.Cancel();
    ASSERT_FALSE(watcher.Locked());  // took it
    EXPECT_EQ(watcher.Contents()->Size(), 5);
    watcher.Unlock();
    // The records of the cancelled pass are released with the watcher.
}

TEST_F(WatcherTest, ReadersAndSourceChangesKeepClearOfPasses) {
    Populate();
    OldFile("other/x");
    Watcher watcher(false, 0);
    Start(watcher);
    std::atomic<bool> done{false};
    std::atomic<long> read{0};
    std::thread reader([&] {
        while (!done) {
            watcher.Lock();
            for (long i = 0; i < watcher.Contents()->Size(); i++) {
                auto* entry = static_cast<ZoEntry*>(watcher.Contents()->GetItem(i));
                read += static_cast<long>(std::string(entry->GetFull()).size() > 0);
            }
            watcher.Unlock();
        }
    });
    for (int round = 0; round < 40; round++) {
        std::string name = "f" + std::to_string(round);
        Drop(name);
        if (round % 10 == 9) watcher.SetSource(At(round % 20 == 9 ? "other" : "w").c_str());
        std::this_thread::sleep_for(2ms);
        std::error_code ec;
        std::filesystem::remove(W(name), ec);
    }
    Drop("last");  // the source is w again
    EXPECT_TRUE(WaitUntil([&] { return watcher.Known().count("last") == 1; }));
    done = true;
    reader.join();
    EXPECT_GT(read.load(), 0);
    EXPECT_GT(watcher.UpdatedCalls(), 0u);
}

}  // namespace
