// The compression comparisons again, in a process of their own that leaves
// glibc's heap as it starts: memory freed at the top of the heap goes back to
// the system. There zlib's one-shot calls pay for fresh pages on every call
// (they allocate and free about 256 KiB), while ZoLib's per-thread streams
// are made once. zolib_bench measures the same in a heap that keeps memory.
#include <zolib/bag/Bag.h>
#include <zolib/messaging/Pipe.h>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

#include "BenchUtil.h"

namespace {

constexpr size_t kFlat = 256;

void BM_FreshZip_ZoLib(benchmark::State& state) {
    ZoBag* bag = bench::MakeTextBag(kFlat);
    std::vector<char> buffer(bag->FlatSize(true));
    for (auto _ : state) {
        unsigned long size = 0;
        bag->Flatten(buffer.data(), &size, true);
        ZoBag copy(0, 0);
        bool ok = copy.Unflatten(buffer.data(), size);
        benchmark::DoNotOptimize(ok);
    }
    delete bag;
}
BENCHMARK(BM_FreshZip_ZoLib);

void BM_FreshPipeZip_ZoLib(benchmark::State& state) {
    ZoBag* bag = bench::MakeTextBag(kFlat);
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
BENCHMARK(BM_FreshPipeZip_ZoLib);

void BM_FreshZip_zlib(benchmark::State& state) {
    ZoBag* bag = bench::MakeTextBag(kFlat);
    std::vector<char> flat(bag->FlatSize(false));
    bag->Flatten(flat.data(), nullptr, false);
    delete bag;
    std::vector<Bytef> packed(compressBound(flat.size()));
    std::vector<Bytef> unpacked(flat.size());
    for (auto _ : state) {
        uLongf packedLength = packed.size();
        compress2(packed.data(), &packedLength, reinterpret_cast<const Bytef*>(flat.data()),
                  flat.size(), Z_DEFAULT_COMPRESSION);
        uLongf unpackedLength = unpacked.size();
        int ok = uncompress(unpacked.data(), &unpackedLength, packed.data(), packedLength);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_FreshZip_zlib);

}  // namespace
