#include <zolib/fs/FolderWatcher.h>
#include <zolib/threads/Snooze.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fs/FsTestUtil.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;
using zotest::WaitUntil;
using Names = std::set<std::string>;
using Record = std::pair<int, std::string>;  // kind, entry name
using Records = std::vector<Record>;

// A seam at the watcher's open() of its source: while `refusing`, opening
// exactly `refusedPath` fails with EACCES, as an unreadable directory does
// for anyone but root.
std::string refusedPath;
std::atomic<bool> refusing{false};

}  // namespace

// Takes the place of the C library's open() for the whole test program,
// including the calls the library makes.
extern "C" int open(const char* path, int flags, ...) {
    if (refusing && refusedPath == path) {
        errno = EACCES;
        return -1;
    }
    va_list args;
    va_start(args, flags);
    int mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(args, int) : 0;
    va_end(args);
    return openat(AT_FDCWD, path, flags, mode);
}

namespace {

// The names a watcher knows, read under the lock as any other thread must.
Names NamesOf(ZoFolderWatcher& watcher) {
    Names names;
    watcher.Lock();
    for (long i = 0; i < watcher.Contents()->Size(); i++)
        names.insert(static_cast<ZoEntry*>(watcher.Contents()->GetItem(i))->GetName());
    watcher.Unlock();
    return names;
}

// A watcher the tests can drive, polling or woken by notifications. Gated,
// it waits in Refreshing until Step() lets one pass through, so every pass
// sees exactly the changes made before it; ungated, it runs freely. Updated
// keeps a copy of each pass's records, tagged with the pass's number.
class Watcher : public ZoFolderWatcher {
  public:
    explicit Watcher(bool polling, bool gated = true, long period = 1)
        : ZoFolderWatcher(period, &tag), gated(gated) {
        SetPolling(polling);
    }
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
    // Woken by notifications, the watcher starts a pass when something
    // happens: the directory's own mode is set again meanwhile, which tells
    // the watcher without adding to any pass's records.
    Records Step() {
        std::unique_lock<std::mutex> lock(mutex);
        auto poked = [&](auto done) {
            for (int i = 0; i < 5000 && !done(); i++) {
                (void)!chmod(poke.c_str(), 0755);
                wake.wait_for(lock, 2ms, done);
            }
            return done();
        };
        if (!poked([this] { return arrived > 0; })) {
            ADD_FAILURE() << "the watcher never began a pass";
            return {};
        }
        int pass = arrived;
        allowed++;
        wake.notify_all();
        // Back in Refreshing means the pass and its Updated call are over.
        if (!poked([&] { return arrived > pass; })) {
            ADD_FAILURE() << "pass " << pass << " did not end";
            return {};
        }
        for (auto& done : passes)
            if (done.first == pass) return done.second;
        return {};
    }

    Names Known() { return NamesOf(*this); }
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
        if (IsRunning() && !WaitUntil([this] { return ended.load(); })) {
            ADD_FAILURE() << "the watcher did not stop";
            Cancel();
        }
        WaitEnd();
    }

    int tag = 0;
    const bool gated;
    std::string poke;                 // the watched directory
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

// Each test runs with the watcher polling and woken by notifications.
class WatcherTest : public fstest::TempDirTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        Dir("w");
        Dir("other");
        Dir("stage");
    }

    bool Polling() const { return GetParam(); }
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
    void Start(Watcher& watcher, const std::string& dir = "w") {
        watcher.poke = At(dir);
        watcher.SetSource(At(dir).c_str());
        ASSERT_TRUE(watcher.Run());
    }
};

INSTANTIATE_TEST_SUITE_P(Watcher, WatcherTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Polling" : "Notified"; });

// clang-format off
Record Add(const std::string& name) { return {UPDATE_ADDED, name}; }
Record Chg(const std::string& name) { return {UPDATE_CHANGED, name}; }
Record Rem(const std::string& name) { return {UPDATE_REMOVED, name}; }
// clang-format on

// Scans without the thread: SetSource knows the entries without records,
// rescans the same source (kept, not deleted) with the filter set before.
TEST_P(WatcherTest, SetSourceKnowsTheEntriesWithoutRecords) {
    Populate();
    Watcher watcher(Polling());
    auto* dir = new ZoDirectory(At("w").c_str(), false);
    watcher.SetSource(dir);
    EXPECT_EQ(watcher.Known(), (Names{"a.txt", "b.txt", "c.jpg", "sub"}));
    // The status the watcher read is the entry's own.
    EXPECT_FALSE(static_cast<ZoEntry*>(watcher.Contents()->GetItem(0))->Changed(nullptr));
    const char* jpg[] = {"jpg"};
    Drop("new.jpg");
    watcher.SetFilter(1, jpg);
    watcher.SetSource(dir);
    EXPECT_EQ(watcher.Known(), (Names{"c.jpg", "new.jpg"}));
    watcher.SetSource(At("absent").c_str());
    EXPECT_EQ(watcher.Contents()->Size(), 0);
    watcher.SetSource(nullptr);
    watcher.Refresh();
    EXPECT_EQ(watcher.Contents()->Size(), 0);
}

// What one change does to the passes that follow it, in either mode: the
// records of each pass (sorted), then the known names, one entry per name and
// of the name's kind. One more pass after those listed must report nothing.
TEST_P(WatcherTest, EachChangeIsReportedOnceAndEachNameHasOneEntry) {
    struct Case {
        const char* what;
        std::function<void(Watcher&)> act;
        std::vector<Records> passes;
        Names known;
    };
    static const char* const jpg[] = {"jpg"};
    const Names start{"a.txt", "b.txt", "c.jpg", "sub"};
    auto with = [&](Names names, const std::string& add, const std::string& drop = "") {
        names.erase(drop);
        if (!add.empty()) names.insert(add);
        return names;
    };
    const Records allRemoved{Rem("a.txt"), Rem("b.txt"), Rem("c.jpg"), Rem("sub")};
    bool switched = false;  // the handler's, on the watcher thread
    auto mv = [&](const std::string& from, const std::string& to) {
        ASSERT_EQ(rename(At(from).c_str(), At(to).c_str()), 0);
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"created, written and deleted",
         [&](Watcher&) { Drop("new.txt"); Write("b.txt"); Delete("a.txt"); },
         {{Add("new.txt"), Chg("b.txt"), Rem("a.txt")}}, with(start, "new.txt", "a.txt")},
        {"renamed: removed, then added in the next pass",
         [&](Watcher&) { mv("w/a.txt", "w/z.txt"); },
         {{Rem("a.txt")}, {Add("z.txt")}}, with(start, "z.txt", "a.txt")},
        {"a second name of a known file is not taken in",
         [&](Watcher&) { ASSERT_EQ(link(W("a.txt").c_str(), W("a-link").c_str()), 0); },
         {{Chg("a.txt")}}, start},
        {"the handler may set the source and the filter (the pass holds the lock)",
         [&](Watcher& w) {
             OldFile("other/x.jpg"); OldFile("other/y.txt"); w.poke = At("other");
             w.onUpdated = [&] {
                 if (switched) return;
                 switched = true; w.SetFilter(1, jpg); w.SetSource(At("other").c_str());
             };
             Drop("new");
         }, {{Add("new")}}, Names{"x.jpg"}},
        {"replaced by an atomic save", [&](Watcher&) { Drop("a.txt"); Drop("b.txt"); },
         {{Chg("a.txt"), Chg("b.txt")}}, start},
        {"replaced by another kind",
         [&](Watcher&) {
             for (std::string n : {"a.txt", "b.txt", "c.jpg"}) { Delete(n); Dir("w/" + n); }
             std::filesystem::remove(W("sub")); File("w/sub", "now a file");
         }, {{Chg("a.txt"), Chg("b.txt"), Chg("c.jpg"), Chg("sub")}}, start},
        {"a link to nothing, then one whose target goes",
         [&](Watcher& w) {
             Link("missing", "w/dangling"); File("stage/t"); Link(At("stage/t"), "w/l");
             EXPECT_EQ(w.Step(), (Records{Add("dangling"), Add("l")}));
             ASSERT_EQ(unlink(At("stage/t").c_str()), 0);
         }, {{Chg("l")}}, with(with(start, "l"), "dangling")},
        {"an unreadable source: the known entries are checked one by one",
         [&](Watcher&) { refusedPath = At("w"); refusing = true; Write("b.txt"); Delete("a.txt"); },
         {{Chg("b.txt"), Rem("a.txt")}}, with(start, "", "a.txt")},
        {"source removed and made again",
         [&](Watcher&) {
             std::filesystem::remove_all(At("w")); Dir("w"); OldFile("w/a.txt"); OldFile("w/x");
         },
         {allRemoved, {Add("a.txt"), Add("x")}}, Names{"a.txt", "x"}},
        {"source moved away and another moved in",
         [&](Watcher&) { mv("w", "stage/w"); OldFile("other/a.txt"); mv("other", "w"); },
         {allRemoved, {Add("a.txt")}}, Names{"a.txt"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        refusing = false;
        TearDown();
        SetUp();
        Populate();
        Watcher watcher(Polling());
        Start(watcher);
        EXPECT_TRUE(watcher.Step().empty());
        c.act(watcher);
        for (const Records& expected : c.passes) {
            Records got = watcher.Step();
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected);
        }
        EXPECT_TRUE(watcher.Step().empty());
        EXPECT_EQ(watcher.Known(), c.known);
        watcher.Lock();
        EXPECT_EQ(watcher.Contents()->Size(), static_cast<long>(c.known.size()));
        for (long i = 0; i < watcher.Contents()->Size(); i++) {
            auto* entry = static_cast<ZoEntry*>(watcher.Contents()->GetItem(i));
            EXPECT_EQ(dynamic_cast<ZoDirectory*>(entry) != nullptr,
                      entry->Flavor() == FLAVOR_DIRECTORY)
                << entry->GetName();
        }
        watcher.Unlock();
        EXPECT_FALSE(watcher.wrongData);
    }
    refusing = false;
}

// Records come in list order, added first. Two entries side by side in the
// list are removed: the second moves into the place of the first when it is
// taken out and must still be checked. Two new names of one new file: the
// second matches the first, just taken in during the same listing.
TEST_P(WatcherTest, AddedComeFirstThenKnownInListOrder) {
    Populate();
    Watcher watcher(Polling());
    Start(watcher);
    std::vector<std::string> order;
    for (long i = 0; i < watcher.Contents()->Size(); i++)
        order.push_back(static_cast<ZoEntry*>(watcher.Contents()->GetItem(i))->GetName());
    ASSERT_EQ(order.size(), 4u);
    File("stage/twin", "t");
    ASSERT_EQ(link(At("stage/twin").c_str(), W("p").c_str()), 0);
    ASSERT_EQ(link(At("stage/twin").c_str(), W("q").c_str()), 0);
    Records expected{Add("p")};
    for (size_t i = 0; i < order.size(); i++) {
        if (i == 1 || i == 2) {
            std::filesystem::remove(W(order[i]));
            expected.push_back(Rem(order[i]));
        } else if (order[i] != "sub") {
            Write(order[i]);
            expected.push_back(Chg(order[i]));
        }
    }
    Records got = watcher.Step();
    if (!got.empty() && got[0] == Add("q")) got[0] = Add("p");  // whichever came first
    EXPECT_EQ(got, expected);
}

// The free-running thread: without a source it ends at once; it refreshes
// every period, calls Updated only for passes with records, and ends when
// the source is taken away.
TEST_P(WatcherTest, RefreshingEveryPeriodUpdatedOnChangeEndsWithoutSource) {
    Watcher early(Polling(), false);
    ASSERT_TRUE(early.Run());
    EXPECT_TRUE(WaitUntil([&] { return early.ended.load() && early.Arrived() == 0; }));
    Populate();
    Watcher watcher(Polling(), false, 5);
    Start(watcher);
    EXPECT_TRUE(WaitUntil([&] { return watcher.Arrived() >= 5; }));
    EXPECT_EQ(watcher.UpdatedCalls(), 0u);
    EXPECT_EQ(watcher.Notifying(), !Polling());
    Drop("new");
    EXPECT_TRUE(
        WaitUntil([&] { return watcher.UpdatedCalls() == 1 && watcher.Known().size() == 5; }));
    watcher.SetSource(nullptr);
    EXPECT_TRUE(WaitUntil([&] { return watcher.ended.load(); }));
    EXPECT_EQ(watcher.Contents()->Size(), 0);
}

// Woken by notifications, a change is reported long before the period ends;
// forced to poll, the same watcher only looks when the period is over, and
// only a cancellation ends its wait.
TEST_P(WatcherTest, NotificationsWakeThePassBeforeThePeriod) {
    Populate();
    Watcher watcher(Polling(), false, 600000);
    Start(watcher);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Notifying() != Polling(); }));
    Drop("new");
    if (Polling()) {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(watcher.Arrived(), 0);
        watcher.Cancel();
        EXPECT_FALSE(watcher.IsRunning());
        return;
    }
    EXPECT_TRUE(WaitUntil([&] { return watcher.UpdatedCalls() == 1; }));
    watcher.SetSource(At("other").c_str());  // wakes it and watches the new source
    Drop("late", "other");
    EXPECT_TRUE(WaitUntil([&] { return watcher.Known() == Names{"late"}; }));
}

TEST_P(WatcherTest, DestroyedWhileRunning) {
    Populate();
    auto* watcher = new ZoFolderWatcher(1, nullptr);
    watcher->SetPolling(Polling());
    watcher->SetSource(At("w").c_str());
    ASSERT_TRUE(watcher->Run());
    Drop("new");
    ASSERT_TRUE(WaitUntil([&] { return NamesOf(*watcher).count("new") == 1; }));
    delete watcher;  // between passes with records: the destructor cancels the thread
}

TEST_P(WatcherTest, CancelInTheHandlerGivesTheLockBack) {
    Populate();
    Watcher watcher(Polling(), false);
    std::atomic<bool> inHandler{false};
    // Stays in the handler until cancelled, polling for it rather than
    // sleeping: ThreadSanitizer loses track of the lock's release when a
    // thread is cancelled inside one of its intercepted calls.
    watcher.onUpdated = [&] {
        for (inHandler = true;; Yield())
            IsCanceled();
    };
    Start(watcher);
    Drop("new");
    ASSERT_TRUE(WaitUntil([&] { return inHandler.load(); }));
    EXPECT_TRUE(watcher.Locked());  // the handler runs inside the pass's lock
    watcher.Cancel();
    ASSERT_FALSE(watcher.Locked());  // took it
    EXPECT_EQ(watcher.Contents()->Size(), 5);
    watcher.Unlock();
}

}  // namespace
