// Threads that post to the narrator, and a job that reports its progress.
#include "Tour.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kPosters = 3;
constexpr int kOrdersEach = 3;

// A thread that posts a few orders and ends. The bags are handed over
// (copy = false): the narrator owns them from PostMessage on.
class Poster : public ZoThread {
  public:
    Poster(Narrator& narrator, int index) : ZoThread(nullptr), narrator(narrator), index(index) {}
    ~Poster() override { Halt(); }

    void Process() override {
        for (int number = 1; number <= kOrdersEach; number++) {
            auto* order = new ZoBag(MSG_ORDER);
            order->Setint32("poster", index, 0);
            order->Setint32("number", number, 0);
            narrator.PostMessage(order, false);
            Yield();  // give the other posters a turn, so that the orders mix
        }
    }

  private:
    Narrator& narrator;
    const int index;
};

// A job of a few timed steps. Every milestone leads to Feedback() on the
// job's thread, which only posts: drawing is the narrator's business.
class Build : public ZoJob {
  public:
    static constexpr const char* kSteps[] = {"fetch", "unpack", "configure", "compile",
                                             "link",  "test",   "package",   "install"};
    static constexpr int kStepCount = sizeof kSteps / sizeof kSteps[0];

    explicit Build(Narrator& narrator) : ZoJob("build"), narrator(narrator) {
        SetMaxStep(kStepCount);
    }
    // DoIt() and Feedback() use `narrator`: end the thread before it goes.
    ~Build() override { Halt(); }

    void DoIt() override {
        for (const char* step : kSteps) {
            IsPaused();   // where a controller's Pause() or Stop() takes hold
            mSnooze(60);  // the work itself
            Milestone(step, 0);
        }
    }

    void Feedback(const char* text, short progress) override {
        auto* bag = new ZoBag(MSG_PROGRESS);
        bag->Setint16("percent", progress, 0);
        bag->Setstring("step", text, 0);
        narrator.PostMessage(bag, false);
    }

  private:
    Narrator& narrator;
};

}  // namespace

bool TourPosters(Narrator& narrator) {
    narrator.Heading("A looper receives bags posted from several threads");
    narrator.Say("main", "starts %d poster threads; each posts %d orders", kPosters, kOrdersEach);

    std::vector<std::unique_ptr<Poster>> posters;
    for (int i = 0; i < kPosters; i++)
        posters.push_back(std::make_unique<Poster>(narrator, i));
    for (auto& poster : posters)
        poster->Run();

    bool ok = true;
    for (int i = 0; i < kPosters && ok; i++) {
        std::string last =
            "order " + std::string(1, static_cast<char>('A' + i)) + std::to_string(kOrdersEach);
        ok = narrator.WaitFor(last);
    }
    for (auto& poster : posters)
        poster->WaitEnd();  // they only post, and posting never waits long

    // The tally is taken on the loop thread, which alone keeps the count.
    auto* tally = new ZoBag(MSG_TALLY);
    tally->Setint32("expected", kPosters * kOrdersEach, 0);
    narrator.PostMessage(tally, false);
    if (!ok || !narrator.WaitFor("orders ok")) {
        narrator.Say("main", "not every order arrived within %d ms", kWaitMs);
        return false;
    }
    return true;
}

bool TourJob(Narrator& narrator) {
    narrator.Heading("A job reports its milestones");
    Build job(narrator);
    narrator.Say("main", "starts a job of %d steps", Build::kStepCount);
    job.Start();

    // 8 steps of 60 ms: 15 s is a generous bound for a busy machine.
    if (!narrator.WaitFor("progress 100", 5 * kWaitMs)) {
        job.Stop();  // cancels the body at its next IsPaused() or sleep
        narrator.Say("main", "the job did not finish in time; stopped it");
        return false;
    }
    job.WaitEnd();
    double seconds = 0;
    job.Elapsed(&seconds);
    narrator.Say("main", "the job is done after %.1f s", seconds);
    return true;
}
