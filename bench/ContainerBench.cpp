// Containers: appending and reading by position, against std::vector.
#include <zolib/containers/List.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr long kItems = 1000;

// 1000 appends into a list growing 10 slots at a time, as the library's
// own lists do; per-item time is the total over 1000.
void BM_ListAdd_ZoLib(benchmark::State& state) {
    long x = 0;
    for (auto _ : state) {
        ZoList list(0, 10);
        for (long i = 0; i < kItems; i++)
            list.AddItem(&x);
        benchmark::DoNotOptimize(list.Size());
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListAdd_ZoLib);

void BM_ListAdd_vector(benchmark::State& state) {
    long x = 0;
    for (auto _ : state) {
        std::vector<void*> list;
        for (long i = 0; i < kItems; i++)
            list.push_back(&x);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListAdd_vector);

void BM_ListGet_ZoLib(benchmark::State& state) {
    long x = 0;
    ZoList list(kItems, 10);
    for (long i = 0; i < kItems; i++)
        list.AddItem(&x);
    for (auto _ : state) {
        for (long i = 0; i < kItems; i++)
            benchmark::DoNotOptimize(list.GetItem(i));
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListGet_ZoLib);

void BM_ListGet_vector(benchmark::State& state) {
    long x = 0;
    std::vector<void*> list(kItems, &x);
    for (auto _ : state) {
        for (long i = 0; i < kItems; i++)
            benchmark::DoNotOptimize(list[i]);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListGet_vector);

}  // namespace
