// The demo's narrator: a looper that prints every bag it receives.
//
// All the demo's threads (the main thread, the posters, the job and the
// folder watcher) report by posting bags to one narrator; only its loop
// thread writes to standard output while it runs. The account therefore never
// mixes half-lines from different threads, and lines that depend on each
// other come out in the order they were caused.
//
// The main thread also waits on the narrator: every bag it handles can leave
// a note ("order B2", "added notes.txt"), and WaitFor() waits a bounded time
// for one, so a step that never happens costs a few seconds, not a hang.
#pragma once

#include <zolib/ZoLib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

// Message codes of the demo's bags (four letters, read as a big-endian word).
enum : uint32_t {
    MSG_HEADING = 0x48454144,   // 'HEAD' "text": a section title
    MSG_SAY = 0x53415920,       // 'SAY ' "who", "text": one line of the account
    MSG_ORDER = 0x4f524452,     // 'ORDR' "poster", "number": from a poster thread
    MSG_TALLY = 0x54414c59,     // 'TALY' "expected": sum up the orders so far
    MSG_SHOW = 0x53484f57,      // 'SHOW' "title", "bag": a nested bag, item by item
    MSG_PRINT = 0x50524e54,     // 'PRNT' "title", "bag": a nested bag, as PrintToStream prints it
    MSG_PROGRESS = 0x50524f47,  // 'PROG' "percent", "step": a job's feedback
    MSG_UPDATE = 0x55504454,    // 'UPDT' "kind", "name": a folder watcher's record
    MSG_APPS = 0x41505053,      // 'APPS' "pid", "name", "self": the registry's entries
    MSG_QUIT = 0x51554954       // 'QUIT' the last bag before the loop ends
};

// Bounded waits: long enough for a loaded machine, short enough that a
// missing step ends the demo within seconds.
constexpr int kWaitMs = 3000;

class Narrator : public ZoLooper {
  public:
    Narrator();
    ~Narrator() override;

    // Posting helpers, callable from any thread. Texts longer than a line are
    // cut; the bags are the narrator's once posted.
    void Heading(const char* text);
    void Say(const char* who, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Posts a copy of `bag` nested in a MSG_SHOW or MSG_PRINT bag; `bag` stays
    // the caller's.
    void Show(uint32_t what, const char* title, ZoBag* bag);

    // True once the narrator has handled a bag that left `note`, waiting up to
    // `ms` milliseconds for it. Any thread but the loop's.
    bool WaitFor(const std::string& note, int ms = kWaitMs);

    // Ends the loop: the bags posted so far are still printed. False when the
    // loop did not get through them in time (it is then aborted).
    bool Finish();

    void MessageReceived(ZoBag* message) override;

  private:
    void Note(const std::string& note);
    // Ends a progress bar drawn in place before anything else is printed.
    void EndBar();
    void Order(ZoBag* bag);
    void Tally(ZoBag* bag);
    void Progress(ZoBag* bag);
    void Update(ZoBag* bag);
    void Apps(ZoBag* bag);

    std::mutex notesMutex;
    std::condition_variable notesChanged;
    std::set<std::string> notes;  // guarded by notesMutex

    // The loop thread's own state.
    const bool terminal;  // stdout is a terminal: draw the progress bar in place
    bool barOpen;         // a progress bar line is waiting for its newline
    int orders;
    bool ordersInSequence;
    int lastNumber[8];  // per poster, the number of its latest order
};
