// Folder watcher, each measurement against its floor in the same run:
// - a pass over a directory of 10,000 and of 20,000 names, in the watcher
//   thread's CPU time from the start of one pass to the start of the next
//   with no pause between them, against one readdir walk with one fstatat per
//   name done by hand (in the CPU time of its thread: preemption on a busy
//   machine does not inflate either);
// - the watcher thread's CPU time over 10 s with a 1 s period while nothing
//   changes in 20,000 names, woken by notifications and polling;
// - the time from a file's creation to its UPDATE_ADDED report with a 60 s
//   period, against a bare inotify watch that sees the same creation.
#include <zolib/fs/FolderWatcher.h>

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    struct timespec now = {0, 0};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Directories of N empty files, made once per process and removed at exit.
// Each lies in a parent of its own: the watcher also watches the parent (for
// the directory's own name), and /tmp is busy with other programs' files.
class Trees {
  public:
    ~Trees() {
        for (auto& [count, path] : made) {
            for (long i = 0; i < count; i++)
                unlink(Name(path, i).c_str());
            rmdir(path.c_str());
            rmdir(path.substr(0, path.rfind('/')).c_str());
        }
    }
    const std::string& Get(long count) {
        auto found = made.find(count);
        if (found != made.end()) return found->second;
        char pattern[] = "/tmp/zolib-bench-XXXXXX";
        std::string path = mkdtemp(pattern) ? std::string(pattern) + "/tree" : "";
        mkdir(path.c_str(), 0755);
        for (long i = 0; i < count; i++) {
            int fd = open(Name(path, i).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) close(fd);
        }
        return made[count] = path;
    }

  private:
    static std::string Name(const std::string& dir, long i) {
        return dir + "/entry-" + std::to_string(i) + ".dat";
    }
    std::map<long, std::string> made;
};

Trees trees;

// Notes when each pass starts and when an UPDATE_ADDED is reported.
class TimedWatcher : public ZoFolderWatcher {
  public:
    TimedWatcher(long period, bool polling) : ZoFolderWatcher(period, nullptr) {
        SetPolling(polling);
    }
    ~TimedWatcher() override {
        Cancel();
        WaitEnd();
    }
    void Refreshing(void*) override {
        std::lock_guard<std::mutex> hold(mutex);
        starts.push_back(ThreadCpuSeconds());
        signal.notify_all();
    }
    void Updated(ZoList* list, void*) override {
        std::lock_guard<std::mutex> hold(mutex);
        for (long i = 0; i < list->Size(); i++)
            if (static_cast<T_Update*>(list->GetItem(i))->kind == UPDATE_ADDED) added++;
        addedAt = Clock::now();
        signal.notify_all();
    }
    // The watcher thread's CPU time at the start of pass `n` (from 0).
    double Start(size_t n) {
        std::unique_lock<std::mutex> hold(mutex);
        signal.wait(hold, [&] { return starts.size() > n; });
        return starts[n];
    }
    // When the report of the `n`th added entry (from 1) came.
    Clock::time_point Added(long n) {
        std::unique_lock<std::mutex> hold(mutex);
        signal.wait_for(hold, std::chrono::seconds(30), [&] { return added >= n; });
        return addedAt;
    }
    // CPU time of the watcher thread so far.
    double CpuSeconds() {
        clockid_t clock;
        struct timespec now = {0, 0};
        if (pthread_getcpuclockid(ID(), &clock) == 0) clock_gettime(clock, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

  private:
    std::mutex mutex;
    std::condition_variable signal;
    std::vector<double> starts;
    long added = 0;
    Clock::time_point addedAt;
};

// Arg: names in the directory. Each iteration is one pass.
void BM_WatcherPass(benchmark::State& state) {
    const std::string& dir = trees.Get(state.range(0));
    TimedWatcher watcher(0, true);
    watcher.SetSource(dir.c_str());
    watcher.Run();
    size_t pass = 1;  // the first pass starts the clock
    for (auto _ : state) {
        state.SetIterationTime(watcher.Start(pass) - watcher.Start(pass - 1));
        pass++;
    }
    state.counters["entries"] = static_cast<double>(watcher.Contents()->Size());
}
BENCHMARK(BM_WatcherPass)
    ->Arg(10000)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// The floor of a pass: one readdir walk and one status read per name.
void BM_WatcherPass_floor(benchmark::State& state) {
    const std::string& dir = trees.Get(state.range(0));
    long seen = 0;
    for (auto _ : state) {
        double began = ThreadCpuSeconds();
        int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* stream = fdopendir(fd);
        seen = 0;
        while (struct dirent* found = readdir(stream)) {
            struct stat st;
            if (fstatat(fd, found->d_name, &st, 0) == 0) seen += st.st_size >= 0;
        }
        closedir(stream);
        state.SetIterationTime(ThreadCpuSeconds() - began);
    }
    state.counters["entries"] = static_cast<double>(seen);
}
BENCHMARK(BM_WatcherPass_floor)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// Arg 1: woken by notifications, 0: polling. The time reported is the
// watcher thread's CPU time over 10 s with a 1 s period and 20,000 names
// while nothing changes (0.1 % of a core is 10 ms).
void BM_WatcherIdle(benchmark::State& state) {
    const std::string& dir = trees.Get(20000);
    for (auto _ : state) {
        TimedWatcher watcher(1000, state.range(0) == 0);
        watcher.SetSource(dir.c_str());
        watcher.Run();
        // The pass that follows the start (and makes up for what happened
        // before the watch was made) is over within the second.
        watcher.Start(0);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        double before = watcher.CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        state.SetIterationTime(watcher.CpuSeconds() - before);
    }
}
BENCHMARK(BM_WatcherIdle)
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// From a file's creation to its UPDATE_ADDED report, with a 60 s period in a
// directory of 100 names; each iteration creates one more file.
void BM_WatcherLatency(benchmark::State& state) {
    char pattern[] = "/tmp/zolib-bench-XXXXXX";
    std::string dir = mkdtemp(pattern) ? pattern : "";
    for (int i = 0; i < 100; i++)
        close(open((dir + "/old-" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
    long n = 0;
    {
        TimedWatcher watcher(60000, false);
        watcher.SetSource(dir.c_str());
        watcher.Run();
        while (!watcher.Notifying())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (auto _ : state) {
            auto made = Clock::now();
            close(open((dir + "/new-" + std::to_string(++n)).c_str(), O_CREAT | O_WRONLY, 0644));
            state.SetIterationTime(std::chrono::duration<double>(watcher.Added(n) - made).count());
        }
    }
    std::string remove = "rm -rf " + dir;
    (void)!system(remove.c_str());
}
BENCHMARK(BM_WatcherLatency)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// The floor of the latency: a watch made by hand, woken by the same creation.
void BM_WatcherLatency_floor(benchmark::State& state) {
    char pattern[] = "/tmp/zolib-bench-XXXXXX";
    std::string dir = mkdtemp(pattern) ? pattern : "";
    int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, dir.c_str(), IN_CREATE);
    long n = 0;
    alignas(struct inotify_event) char buffer[4096];
    for (auto _ : state) {
        auto made = Clock::now();
        close(open((dir + "/new-" + std::to_string(++n)).c_str(), O_CREAT | O_WRONLY, 0644));
        (void)!read(fd, buffer, sizeof buffer);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - made).count());
    }
    close(fd);
    std::string remove = "rm -rf " + dir;
    (void)!system(remove.c_str());
}
BENCHMARK(BM_WatcherLatency_floor)->UseManualTime()->Iterations(20)->Unit(benchmark::kMicrosecond);

}  // namespace
