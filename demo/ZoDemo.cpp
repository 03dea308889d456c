// A tour of ZoLib as an application uses it.
//
// One looper, the narrator, prints the whole account: the other threads post
// it bags. The tour stops at bags and bag files, threads posting to a looper,
// a job with progress feedback, a folder watcher and the member registry, and
// removes everything it made on the way out. Exit status 0 when every stop
// went as expected, 1 otherwise; every wait is bounded.
#include "Tour.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A new private directory under $TMPDIR (or /tmp); empty when none was made.
std::string MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zodemo-XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef ZODEMO_WITH_NATS
    if (argc == 3 && std::string(argv[1]) == "--nats-peer") return NatsPeer(argv[2]);
#endif
    (void)argc;
    (void)argv;
    std::printf("ZoLib %s, build %s, built %s\n", ZoLib_Version, ZoLib_Build_Id, ZoLib_Build_Date);
    std::fflush(stdout);

    std::string dir = MakeTempDir();
    if (dir.empty()) {
        std::perror("zodemo: cannot make a temporary directory");
        return 1;
    }

    bool ok = true;
    bool finished;
    {
        Narrator narrator;
        if (!narrator.Run()) {
            std::fprintf(stderr, "zodemo: cannot start the narrator's thread\n");
            ZoDirectory(dir.c_str(), false).Remove(true);
            return 1;
        }
        // Each stop runs even when an earlier one failed: they do not depend
        // on each other.
        ok = TourPosters(narrator) && ok;
        ok = TourBagFile(narrator, dir.c_str()) && ok;
        ok = TourJob(narrator) && ok;
        ok = TourWatcher(narrator, dir.c_str()) && ok;
        ok = TourRegistry(narrator) && ok;
#ifdef ZODEMO_WITH_NATS
        ok = TourNats(narrator, "/proc/self/exe") && ok;
#endif

        narrator.Heading("Clean-up");
        finished = narrator.Finish();
    }
    bool removed = ZoDirectory(dir.c_str(), false).Remove(true);
    if (!finished) {
        // The narrator was aborted, possibly inside a print that still holds
        // stdout's lock: report on stderr and leave without touching stdout.
        std::fprintf(stderr, "zodemo: the narrator did not print everything in time\n");
        std::_Exit(1);
    }
    // The narrator's thread is gone: main prints for itself from here on.
    std::printf("  main      %s the temporary directory\n",
                removed ? "removed" : "could NOT remove");
    ok = ok && removed;
    std::printf("\n%s\n", ok ? "tour complete" : "tour INCOMPLETE: see above");
    return ok ? 0 : 1;
}
