// Folder watcher: the time of one pass over a directory of 10,000 and of
// 20,000 entries, from the start of one pass to the start of the next with
// no pause between them.
#include <zolib/fs/FolderWatcher.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Directories of N empty files, made once per process and removed at exit.
class Trees {
  public:
    ~Trees() {
        for (auto& [count, path] : made) {
            for (long i = 0; i < count; i++)
                unlink(Name(path, i).c_str());
            rmdir(path.c_str());
        }
    }
    const std::string& Get(long count) {
        auto found = made.find(count);
        if (found != made.end()) return found->second;
        char pattern[] = "/tmp/zolib-bench-XXXXXX";
        std::string path = mkdtemp(pattern) ? pattern : "";
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

// Notes when each pass starts.
class TimedWatcher : public ZoFolderWatcher {
  public:
    TimedWatcher() : ZoFolderWatcher(0, nullptr) {}
    ~TimedWatcher() override {
        Cancel();
        WaitEnd();
    }
    void Refreshing(void*) override {
        std::lock_guard<std::mutex> hold(mutex);
        starts.push_back(std::chrono::steady_clock::now());
        started.notify_all();
    }
    // The start of pass `n` (from 0), once it has begun.
    std::chrono::steady_clock::time_point Start(size_t n) {
        std::unique_lock<std::mutex> hold(mutex);
        started.wait(hold, [&] { return starts.size() > n; });
        return starts[n];
    }

  private:
    std::mutex mutex;
    std::condition_variable started;
    std::vector<std::chrono::steady_clock::time_point> starts;
};

// Arg: entries in the directory. Each iteration is one pass.
void BM_WatcherPass(benchmark::State& state) {
    const std::string& dir = trees.Get(state.range(0));
    TimedWatcher watcher;
    watcher.SetSource(dir.c_str());
    watcher.Run();
    size_t pass = 1;  // the first pass starts the clock
    for (auto _ : state) {
        std::chrono::duration<double> took = watcher.Start(pass) - watcher.Start(pass - 1);
        state.SetIterationTime(took.count());
        pass++;
    }
    state.counters["entries"] = static_cast<double>(watcher.Contents()->Size());
}
BENCHMARK(BM_WatcherPass)
    ->Arg(10000)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

}  // namespace
