// A folder watcher, polling or woken by notifications, watches a directory
// that two threads keep churning: files created, written, renamed and
// removed, subdirectories made and removed, links made (dangling or not)
// and removed; a rename over an existing name replaces it.
// Its bookkeeping must stay exact (the entries it knows are those it found
// at the start plus those it reported added, less those it reported removed)
// and, once the churn stops, it must come to know exactly what is there.
#include <zolib/fs/FolderWatcher.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "stress/Soak.h"

namespace {

class Counting : public ZoFolderWatcher {
  public:
    explicit Counting(bool polling) : ZoFolderWatcher(1, nullptr) { SetPolling(polling); }
    // The hooks use the counters: the thread goes before they do.
    ~Counting() override { Cancel(); }

    void Refreshing(void*) override { passes++; }
    // Runs under the watcher's lock, as does every change to Contents().
    void Updated(ZoList* list, void*) override {
        for (long i = 0; i < list->Size(); i++) {
            int kind = static_cast<T_Update*>(list->GetItem(i))->kind;
            if (kind >= UPDATE_ADDED && kind <= UPDATE_REMOVED) records[kind]++;
        }
    }

    std::atomic<long> passes{0};
    std::atomic<long> records[3] = {};
};

std::set<std::string> KnownNames(Counting& watcher, long* count) {
    std::set<std::string> names;
    watcher.Lock();
    ZoList* contents = watcher.Contents();
    *count = contents->Size();
    for (long i = 0; i < contents->Size(); i++)
        names.insert(static_cast<ZoEntry*>(contents->GetItem(i))->GetName());
    watcher.Unlock();
    return names;
}

void WriteFile(const std::string& path, const char* text) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    (void)!write(fd, text, strlen(text));
    close(fd);
}

class WatcherSoak : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Modes, WatcherSoak, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Polling" : "Notified"; });

TEST_P(WatcherSoak, ChurningDirectoryStaysAccounted) {
    char dir[] = "/tmp/zolib-soak-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string root = dir;
    for (int i = 0; i < 8; i++)
        WriteFile(root + "/start" + std::to_string(i), "x");

    long initial = 0;
    Counting watcher(GetParam());
    watcher.SetSource(dir);
    KnownNames(watcher, &initial);
    EXPECT_EQ(initial, 8);
    ASSERT_TRUE(watcher.Run());

    soak::Clock clock;
    std::atomic<long> operations{0};
    std::vector<std::thread> churners;
    for (int c = 0; c < 2; c++) {
        churners.emplace_back([&, c] {
            soak::Random random(c + 11);
            auto name = [&](const char* stem) {
                return root + "/" + stem + std::to_string(random.Next(32));
            };
            while (clock.Running()) {
                switch (random.Next(8)) {
                    case 0:
                    case 1:
                        WriteFile(name("f"), "more");
                        break;
                    case 2:
                        rename(name("f").c_str(), name("f").c_str());
                        break;
                    case 3:
                        unlink(name("f").c_str());
                        break;
                    case 4:
                        mkdir(name("d").c_str(), 0755);
                        break;
                    case 5:
                        rmdir(name("d").c_str());
                        break;
                    case 6:  // a link to a file that may or may not be there
                        (void)!symlink(name("f").c_str(), name("l").c_str());
                        break;
                    case 7:
                        unlink(name("l").c_str());
                        break;
                }
                operations++;
                if (random.Next(8) == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
    }
    for (std::thread& churner : churners)
        churner.join();

    // The churn is over: leave a known set and wait for the watcher to see it.
    // (The directory itself stays: the watcher lists that one.)
    for (const auto& entry : std::filesystem::directory_iterator(root))
        std::filesystem::remove_all(entry.path());
    std::set<std::string> expected;
    for (int i = 0; i < 5; i++) {
        expected.insert("final" + std::to_string(i));
        WriteFile(root + "/final" + std::to_string(i), "end");
    }
    long known = 0;
    EXPECT_TRUE(soak::WaitUntil([&] {
        std::set<std::string> names = KnownNames(watcher, &known);
        return names == expected && known == static_cast<long>(expected.size());
    })) << "the watcher knows "
        << known << " entries";

    watcher.Lock();
    long size = watcher.Contents()->Size();
    long added = watcher.records[UPDATE_ADDED], removed = watcher.records[UPDATE_REMOVED];
    watcher.Unlock();
    EXPECT_EQ(size, initial + added - removed);
    watcher.Stop();
    watcher.Cancel();
    std::filesystem::remove_all(root);

    soak::Report(GetParam() ? "watcher polling" : "watcher notified",
                 {{"churn_operations", operations},
                  {"passes", watcher.passes},
                  {"added", added},
                  {"changed", watcher.records[UPDATE_CHANGED]},
                  {"removed", removed},
                  {"known_at_end", size}});
}

}  // namespace
