// Messaging: posted-message throughput and one-way latency through loopers
// against the same work done by hand over pipes, and a compressed bag sent
// and received through a pipe against the bare zlib calls (BagBench.cpp).
#include <zolib/bag/Bag.h>
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <benchmark/benchmark.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "BenchUtil.h"

namespace {

constexpr long kBatch = 1000;

// ---- throughput: one poster, one receiver ----

class CountingLooper : public ZoLooper {
  public:
    CountingLooper() : ZoLooper("bench", 0) {}
    ~CountingLooper() override { Halt(); }
    void MessageReceived(ZoBag*) override { counter.Add(); }
    bench::Counter counter;
};

void BM_Post_ZoLib(benchmark::State& state) {
    CountingLooper looper;
    looper.Run();
    for (auto _ : state) {
        for (long i = 0; i < kBatch; i++)
            looper.PostMessage(1);
        looper.counter.WaitForMore(kBatch);
    }
    looper.Stop();
    looper.PostMessage(0);
    looper.WaitEnd();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Post_ZoLib)->UseRealTime();

// The floor: the same bags, their pointers written to a pipe one per write,
// and a thread that waits in select(), reads one pointer, counts and deletes.
class HandLoop {
  public:
    HandLoop() {
        if (pipe(fds) != 0) fds[0] = fds[1] = -1;
        thread = std::thread([this] { Loop(); });
    }
    ~HandLoop() {
        ZoBag* none = nullptr;
        Post(none);
        thread.join();
        close(fds[0]);
        close(fds[1]);
    }
    void Post(ZoBag* bag) {
        ssize_t n = write(fds[1], &bag, sizeof bag);
        benchmark::DoNotOptimize(n);
    }
    bench::Counter counter;
    // Called for each bag on the loop thread; the default counts it.
    std::function<void(ZoBag*)> handle = [this](ZoBag*) { counter.Add(); };

  private:
    void Loop() {
        for (;;) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(fds[0], &ready);
            if (select(fds[0] + 1, &ready, nullptr, nullptr, nullptr) <= 0) continue;
            ZoBag* bag = nullptr;
            if (read(fds[0], &bag, sizeof bag) != sizeof bag || bag == nullptr) return;
            handle(bag);
            delete bag;
        }
    }
    int fds[2];
    std::thread thread;
};

void BM_Post_floor(benchmark::State& state) {
    HandLoop loop;
    for (auto _ : state) {
        for (long i = 0; i < kBatch; i++)
            loop.Post(new ZoBag(1, 0));
        loop.counter.WaitForMore(kBatch);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Post_floor)->UseRealTime();

// ---- one-way latency: a bag bounced between two receivers ----

// One-way trips per iteration. The reported time is that of one trip, so
// the iteration counts are fixed: Google Benchmark would otherwise run
// kBounces times too many iterations to fill its minimum time.
constexpr long kBounces = 200;

class BouncingLooper : public ZoLooper {
  public:
    BouncingLooper() : ZoLooper("bounce", 0) {}
    ~BouncingLooper() override { Halt(); }
    void MessageReceived(ZoBag* bag) override {
        // what counts down the trips left; the last one is only counted.
        if (bag->what == 0) {
            counter.Add();
            return;
        }
        other->PostMessage(bag->what - 1);
    }
    BouncingLooper* other = nullptr;
    bench::Counter counter;
};

void BM_PingPong_ZoLib(benchmark::State& state) {
    BouncingLooper a, b;
    a.other = &b;
    b.other = &a;
    a.Run();
    b.Run();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        a.PostMessage(kBounces);  // an even count ends at a
        a.counter.WaitForMore(1);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / kBounces);
    }
    a.Stop();
    b.Stop();
    // Their last wait ends on a message; what = 0 is only counted.
    a.PostMessage(0ul);
    b.PostMessage(0ul);
    a.WaitEnd();
    b.WaitEnd();
}
BENCHMARK(BM_PingPong_ZoLib)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

void BM_PingPong_pipe(benchmark::State& state) {
    HandLoop a, b;
    auto bounce = [](HandLoop* self, HandLoop* other) {
        return [self, other](ZoBag* bag) {
            if (bag->what == 0)
                self->counter.Add();
            else
                other->Post(new ZoBag(bag->what - 1, 0));
        };
    };
    a.handle = bounce(&a, &b);
    b.handle = bounce(&b, &a);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        a.Post(new ZoBag(kBounces, 0));
        a.counter.WaitForMore(1);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / kBounces);
    }
}
BENCHMARK(BM_PingPong_pipe)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

// ---- a compressed bag through a pipe ----

// Arg: approximate plain flat size of the bag. One thread sends and then
// receives (the compressed bag fits the pipe), so the time is the whole
// library path: flatten, compress, write, read, decompress, unflatten.
void BM_PipeZip_ZoLib(benchmark::State& state) {
    bench::KeepHeap();
    ZoBag* bag = bench::MakeTextBag(static_cast<size_t>(state.range(0)));
    ZoPipe pipe(0);
    pipe.SetBuffer(static_cast<unsigned int>(bag->FlatSize(true)));
    for (auto _ : state) {
        bool sent = pipe.Send(bag, nullptr);
        ZoBag* got = nullptr;
        bool received = sent && pipe.Receive(&got);
        benchmark::DoNotOptimize(received);
        delete got;
    }
    delete bag;
}
BENCHMARK(BM_PipeZip_ZoLib)->Arg(256)->Arg(64 << 10);

}  // namespace
