// A folder watcher: a thread that watches a directory and reports changes.
//
// When the kernel reports a change in the directory (or, where it cannot,
// every period) the watcher lists the directory and compares it with what it
// saw before; Updated() receives the records of a pass that found anything:
// entries added, changed (their times moved) or removed. This one watches a
// new temporary directory for ".txt" files while main makes, changes and
// removes some.
//
//   c++ -std=c++17 Watch.cpp $(pkg-config --cflags --libs zolib)
#include <zolib/ZoLib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Printer : public ZoFolderWatcher {
  public:
    Printer() : ZoFolderWatcher(50, nullptr) {}  // or a pass every 50 ms, polling
    // Updated() uses `reported`: stop the passes before the object goes.
    ~Printer() override { Cancel(); }

    // Runs on the watcher's thread, with the watcher locked. The records and
    // their entries are the watcher's and go with the next pass: copy what
    // is needed, keep no pointer.
    void Updated(ZoList* changes, void*) override {
        static const char* const kinds[] = {"added", "changed", "removed"};
        for (long i = 0; i < changes->Size(); i++) {
            auto* change = static_cast<T_Update*>(changes->GetItem(i));
            std::printf("watcher: %-7s %s\n", kinds[change->kind], change->entry->GetName());
        }
        std::fflush(stdout);
        reported += static_cast<int>(changes->Size());
    }

    std::atomic<int> reported{0};
};

// Waits at most two seconds for the watcher to have reported `count` records.
bool WaitFor(Printer& watcher, int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (watcher.reported < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        mSnooze(10);
    }
    return true;
}

bool Append(const std::string& path, const char* text) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    std::fputs(text, file);
    return std::fclose(file) == 0;
}

}  // namespace

int main() {
    char dir[] = "/tmp/zowatch-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    std::string notes = std::string(dir) + "/notes.txt";
    std::string log = std::string(dir) + "/build.log";

    static const char* const only[] = {"txt"};  // borrowed: must outlive the watcher's use
    Printer watcher;
    watcher.SetFilter(1, only);
    watcher.SetSource(dir);  // takes in what is there now, without reporting it
    watcher.Run();

    bool ok = true;
    // A ".log" file is not taken in, so it is never reported. It is made
    // first: the pass that reports notes.txt has seen it too.
    ok = ok && ZoEntry(log.c_str()).Touch();
    ok = ok && ZoEntry(notes.c_str()).Touch();  // an empty file
    ok = ok && WaitFor(watcher, 1);
    mSnooze(20);  // file times are only a few milliseconds fine
    ok = ok && Append(notes, "milk\n");
    ok = ok && WaitFor(watcher, 2);
    ok = ok && ZoEntry(notes.c_str()).Remove(false);
    ok = ok && WaitFor(watcher, 3);

    watcher.Cancel();  // ends the thread in its wait between passes
    std::printf("main: %d records%s\n", watcher.reported.load(), ok ? "" : ", some MISSING");
    ZoDirectory(dir, false).Remove(true);  // the directory and what is left in it
    return ok && watcher.reported == 3 ? 0 : 1;
}
