#include <zolib/fs/FolderWatcher.h>
#include <zolib/threads/Snooze.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "fs/FsTestUtil.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;
using Known = std::multiset<std::string>;
using zotest::WaitUntil;
using Record = std::pair<int, std::string>;  // kind, entry name
using Records = std::vector<Record>;

// While `refusing`, opening `refusedPath` fails with EACCES, as an
// unreadable directory does for anyone but root.
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

// The names a watcher knows, each time it is known, "/" after those whose
// entry is a ZoDirectory; read under the lock as any other thread must.
Known NamesOf(ZoFolderWatcher& watcher) {
    Known names;
    watcher.Lock();
    for (long i = 0; i < watcher.Contents()->Size(); i++) {
        auto* entry = static_cast<ZoEntry*>(watcher.Contents()->GetItem(i));
        names.insert(entry->GetName() + std::string(dynamic_cast<ZoDirectory*>(entry) ? "/" : ""));
    }
    watcher.Unlock();
    return names;
}

// A watcher the tests drive. Gated, each pass waits in Refreshing until
// Step() lets it through, so that it sees exactly the changes made before;
// ungated, it runs freely. Updated keeps each pass's records by pass number
// (and notes a call without records, or with the wrong data).
class Watcher : public ZoFolderWatcher {
  public:
    explicit Watcher(bool polling, bool gated = true, long period = 1)
        : ZoFolderWatcher(period, this), gated(gated) {
        SetPolling(polling);
    }
    // Ends the thread through Stop(), so that no cancellation unwinds
    // through the hooks below.
    ~Watcher() override {
        Stop();
        {
            std::lock_guard<std::mutex> lock(mutex);
            gated = false;
            wake.notify_all();
        }
        WaitEnd();
    }

    void Refreshing(void* data) override {
        std::unique_lock<std::mutex> lock(mutex);
        wrongData = wrongData || data != this;
        ZoFolderWatcher::Refreshing(data);  // the default hooks do nothing
        arrived++;
        wake.notify_all();
        wake.wait_for(lock, 10s, [this] { return !gated || allowed > 0; });
        if (allowed > 0) allowed--;
    }
    void Updated(ZoList* list, void* data) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            wrongData = wrongData || data != this || list != changes || list->Size() == 0;
            ZoFolderWatcher::Updated(list, data);
            for (long i = 0; i < list->Size(); i++) {
                auto* update = static_cast<T_Update*>(list->GetItem(i));
                passes[arrived].emplace_back(update->kind, update->entry->GetName());
            }
        }
        updates++;
        if (onUpdated) onUpdated();
    }

    // Lets one pass run and returns its records. Woken by notifications, the
    // watcher starts a pass only when something happens: the directory's own
    // mode is set again meanwhile, which wakes it without adding a record.
    Records Step() {
        std::unique_lock<std::mutex> lock(mutex);
        auto reach = [&](int pass) {
            for (int i = 0; i < 5000 && arrived < pass; i++) {
                (void)!chmod(poke.c_str(), 0755);
                wake.wait_for(lock, 2ms);
            }
            return arrived >= pass;
        };
        if (!reach(1)) ADD_FAILURE() << "the watcher never began a pass";
        int pass = arrived;
        allowed++;
        wake.notify_all();
        // Back in Refreshing means the pass and its Updated call are over.
        if (!reach(pass + 1)) ADD_FAILURE() << "pass " << pass << " did not end";
        return passes[pass];
    }

    std::string poke;                         // the watched directory
    std::function<void()> onUpdated;          // runs on the watcher thread, lock held
    std::atomic<int> arrived{0}, updates{0};  // passes begun, Updated calls
    bool wrongData = false;

  private:
    std::mutex mutex;
    std::condition_variable wake;
    bool gated;
    int allowed = 0;
    std::map<int, Records> passes;
};

// Each test runs with the watcher polling and woken by notifications.
class WatcherTest : public fstest::TempDirTest, public ::testing::WithParamInterface<bool> {
  protected:
    // w holds three old files and a subdirectory.
    void SetUp() override {
        TempDirTest::SetUp();
        for (const char* dir : {"w", "other", "stage", "w/sub"})
            Dir(dir);
        for (const char* file : {"w/a.txt", "w/b.txt", "w/c.jpg"})
            OldFile(file);
    }

    std::string W(const std::string& name) const { return At("w/" + name); }
    // Files made in advance carry old times, so that any later write moves
    // the modification time even within the file system's clock tick.
    void OldFile(const std::string& rel) const {
        File(rel, "old");
        Age(rel);
    }
    // A new file appears in the watched directory whole, in one rename.
    void Drop(const std::string& name, const std::string& dir = "w") const {
        File("stage/" + name, "new");
        ASSERT_EQ(rename(At("stage/" + name).c_str(), At(dir + "/" + name).c_str()), 0);
    }
    void Write(const std::string& name) const { std::ofstream(W(name), std::ios::app) << "more"; }
    void Delete(const std::string& name) const { ASSERT_EQ(unlink(W(name).c_str()), 0); }
    void Start(Watcher& watcher, const std::string& dir = "w") {
        watcher.poke = At(dir);
        watcher.SetSource(At(dir).c_str());
        ASSERT_TRUE(watcher.Run());
    }
};

INSTANTIATE_TEST_SUITE_P(Watcher, WatcherTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Polling" : "Notified"; });

enum { ADD = UPDATE_ADDED, CHG = UPDATE_CHANGED, REM = UPDATE_REMOVED };

// What one change does to the passes that follow it: the records of each
// pass (added ones first, then sorted), then the known names, one entry per
// name and of the name's kind (directories marked "/"). One more pass after those listed must
// report nothing. The first pass of a started watcher reports nothing either.
TEST_P(WatcherTest, EachChangeIsReportedOnceAndEachNameHasOneEntry) {
    struct Case {
        const char* what;
        std::function<void(Watcher&)> act;
        std::vector<Records> passes;
        Known known;
    };
    static const char* const jpg[] = {"jpg"};
    const Known start{"a.txt", "b.txt", "c.jpg", "sub/"};
    const Records allRemoved{{REM, "a.txt"}, {REM, "b.txt"}, {REM, "c.jpg"}, {REM, "sub"}};
    bool switched = false;  // the handler's, on the watcher thread
    // clang-format off
    const std::vector<Case> cases = {
        {"created, written and deleted",
         [&](Watcher&) { Drop("new.txt"); Write("b.txt"); Delete("a.txt"); },
         {{{ADD, "new.txt"}, {CHG, "b.txt"}, {REM, "a.txt"}}},
         {"b.txt", "c.jpg", "new.txt", "sub/"}},
        {"the handler may set the source and the filter (the pass holds the lock)",
         [&](Watcher& w) {
             OldFile("other/x.jpg"); OldFile("other/y.txt"); w.poke = At("other");
             w.onUpdated = [&] {
                 if (switched) return;
                 switched = true; w.SetFilter(1, jpg); w.SetSource(At("other").c_str());
             };
             Drop("new");
         }, {{{ADD, "new"}}}, {"x.jpg"}},
        {"replaced by another kind",
         [&](Watcher&) {
             for (std::string n : {"a.txt", "b.txt", "c.jpg"}) { Delete(n); Dir("w/" + n); }
             std::filesystem::remove(W("sub")); File("w/sub", "now a file");
         }, {{{CHG, "a.txt"}, {CHG, "b.txt"}, {CHG, "c.jpg"}, {CHG, "sub"}}},
         {"a.txt/", "b.txt/", "c.jpg/", "sub"}},
        {"an unreadable source: the known entries are checked one by one",
         [&](Watcher&) { refusedPath = At("w"); refusing = true; Write("b.txt"); Delete("a.txt"); },
         {{{CHG, "b.txt"}, {REM, "a.txt"}}}, {"b.txt", "c.jpg", "sub/"}},
        {"source removed and made again",
         [&](Watcher&) {
             std::filesystem::remove_all(At("w")); Dir("w"); OldFile("w/a.txt"); OldFile("w/x");
         }, {allRemoved, {{ADD, "a.txt"}, {ADD, "x"}}}, {"a.txt", "x"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        refusing = false;
        TearDown();
        SetUp();
        Watcher watcher(GetParam());
        Start(watcher);
        EXPECT_TRUE(watcher.Step().empty());
        c.act(watcher);
        for (const Records& expected : c.passes) {
            Records got = watcher.Step();
            EXPECT_TRUE(std::is_partitioned(got.begin(), got.end(),
                                            [](auto& r) { return r.first == ADD; }));
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected);
        }
        EXPECT_TRUE(watcher.Step().empty());
        EXPECT_EQ(NamesOf(watcher), c.known);
        EXPECT_FALSE(watcher.wrongData);
    }
    refusing = false;
}

// Free-running and woken by notifications, a change is reported long before the period ends, as is
// a change in a new source, and taking the source away ends the thread; forced to poll, the watcher
// only looks when the period is over, and a cancellation ends its wait.
TEST_P(WatcherTest, NotificationsWakeThePassBeforeThePeriod) {
    Watcher watcher(GetParam(), false, 600000);
    Start(watcher);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Notifying() != GetParam(); }));
    Drop("new");
    if (GetParam()) {
        mSnooze(100);
        EXPECT_EQ(watcher.arrived, 0);
        watcher.Cancel();
        EXPECT_FALSE(watcher.IsRunning());
        return;
    }
    EXPECT_TRUE(WaitUntil([&] { return watcher.updates == 1; }));
    watcher.SetSource(At("other").c_str());
    Drop("late", "other");
    EXPECT_TRUE(WaitUntil([&] { return NamesOf(watcher) == Known{"late"}; }));
    watcher.SetSource(nullptr);
    EXPECT_EQ(watcher.WaitEnd(), 0);
    EXPECT_EQ(watcher.Contents()->Size(), 0);
}

// Cancelled in the handler, the pass gives its lock back; destroyed while
// running, the watcher cancels its thread first.
TEST_P(WatcherTest, CancelInTheHandlerGivesTheLockBack) {
    Watcher watcher(GetParam(), false);
    std::atomic<bool> inHandler{false};
    // Polls for the cancellation rather than sleeping: ThreadSanitizer loses
    // track of the lock's release when a thread is cancelled inside one of
    // its intercepted calls.
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
    watcher.Unlock();
}

}  // namespace
