// Bags: small-message serialisation against msgpack-c, large payloads
// against memcpy, compression against bare zlib calls, Split scaling, named
// access and memory per element.
#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>
#include <zolib/containers/List.h>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <msgpack.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchUtil.h"

namespace {

// ---- small-message serialisation: flatten + unflatten vs msgpack ----

void BM_Serialise_ZoLib(benchmark::State& state) {
    bench::SmallFields fields;
    ZoBag* bag = bench::MakeSmallBag(fields);
    std::vector<char> buffer(bag->FlatSize(false));
    for (auto _ : state) {
        unsigned long size = bag->FlatSize(false);
        bag->Flatten(buffer.data(), nullptr, false);
        ZoBag copy(0, 0);
        bool ok = copy.Unflatten(buffer.data(), size);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["bytes"] = static_cast<double>(bag->FlatSize(false));
    delete bag;
}
BENCHMARK(BM_Serialise_ZoLib);

// The same 20 values packed as a msgpack map and unpacked into msgpack's
// object tree (which keeps strings in the buffer rather than copying them).
void BM_Serialise_msgpack(benchmark::State& state) {
    bench::SmallFields f;
    msgpack_sbuffer buffer;
    msgpack_sbuffer_init(&buffer);
    msgpack_packer packer;
    msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
    auto key = [&](const char* k) {
        size_t n = strlen(k);
        msgpack_pack_str(&packer, n);
        msgpack_pack_str_body(&packer, k, n);
    };
    for (auto _ : state) {
        msgpack_sbuffer_clear(&buffer);
        msgpack_pack_map(&packer, 20);
        for (int i = 0; i < 7; i++) {
            key(f.intNames[i]);
            msgpack_pack_int32(&packer, f.ints[i]);
        }
        for (int i = 0; i < 7; i++) {
            key(f.floatNames[i]);
            msgpack_pack_double(&packer, f.floats[i]);
        }
        for (int i = 0; i < 6; i++) {
            key(f.stringNames[i]);
            key(f.strings[i]);
        }
        msgpack_unpacked result;
        msgpack_unpacked_init(&result);
        size_t offset = 0;
        msgpack_unpack_return ok = msgpack_unpack_next(&result, buffer.data, buffer.size, &offset);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result.data.via.map.size);
        msgpack_unpacked_destroy(&result);
    }
    state.counters["bytes"] = static_cast<double>(buffer.size);
    msgpack_sbuffer_destroy(&buffer);
}
BENCHMARK(BM_Serialise_msgpack);

// ---- large payloads: plain flatten of one 1 MiB buffer vs memcpy ----

constexpr size_t kMiB = 1 << 20;

void BM_Large_Flatten(benchmark::State& state) {
    std::vector<char> payload = bench::TextBytes(kMiB);
    ZoBag bag(1, 0);
    bag.Setdata("payload", T_BUFFER, payload.data(), static_cast<int>(payload.size()), 0);
    std::vector<char> buffer(bag.FlatSize(false));
    for (auto _ : state) {
        bag.Flatten(buffer.data(), nullptr, false);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
}
BENCHMARK(BM_Large_Flatten);

void BM_Large_memcpy(benchmark::State& state) {
    std::vector<char> payload = bench::TextBytes(kMiB);
    std::vector<char> buffer(kMiB + 64);
    for (auto _ : state) {
        memcpy(buffer.data(), payload.data(), kMiB);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
}
BENCHMARK(BM_Large_memcpy);

// ---- compression: compressed flatten + unflatten vs compress2 + uncompress ----

// Arg: approximate plain flat size of the bag.
void BM_Zip_ZoLib(benchmark::State& state) {
    bench::KeepHeap();
    ZoBag* bag = bench::MakeTextBag(static_cast<size_t>(state.range(0)));
    std::vector<char> buffer(bag->FlatSize(true));
    for (auto _ : state) {
        unsigned long size = 0;
        bag->Flatten(buffer.data(), &size, true);
        ZoBag copy(0, 0);
        bool ok = copy.Unflatten(buffer.data(), size);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["flat"] = static_cast<double>(bag->FlatSize(false));
    delete bag;
}
BENCHMARK(BM_Zip_ZoLib)->Arg(256)->Arg(64 << 10);

// The bare zlib calls on the same plain flat bytes, nothing else.
void BM_Zip_zlib(benchmark::State& state) {
    bench::KeepHeap();
    ZoBag* bag = bench::MakeTextBag(static_cast<size_t>(state.range(0)));
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
    state.counters["flat"] = static_cast<double>(flat.size());
}
BENCHMARK(BM_Zip_zlib)->Arg(256)->Arg(64 << 10);

// ---- Split scaling ----

// A bag of `items` int32 items named a0, a1, ... holding `elements` elements
// between them. Built from flat bytes: appending one element at a time walks
// the item's chain, which would make building large bags quadratic.
ZoBag* MakeManyElements(int items, long elements) {
    std::vector<char> flat(24);
    auto put = [&flat](uint32_t v) {
        const char* p = reinterpret_cast<const char*>(&v);
        flat.insert(flat.end(), p, p + 4);
    };
    for (int i = 0; i < items; i++) {
        std::string name = "a" + std::to_string(i);
        put(static_cast<uint32_t>(ZoBag::Hash(name.c_str())));
        put(static_cast<uint32_t>(name.size()));
        flat.insert(flat.end(), name.begin(), name.end());
        put(T_INT32);
        long count = elements / items + (i < elements % items ? 1 : 0);
        put(static_cast<uint32_t>(count));
        for (long e = 0; e < count; e++) {
            put(4);
            put(static_cast<uint32_t>(e));
        }
    }
    memcpy(flat.data(), "BaG", 4);
    uint32_t header[5] = {0, 0, 0, static_cast<uint32_t>(flat.size()),
                          static_cast<uint32_t>(items)};
    memcpy(flat.data() + 4, header, sizeof header);
    ZoBag* bag = new ZoBag(0, 0);
    bag->Unflatten(flat.data(), flat.size());
    return bag;
}

// Arg: elements, spread over 10 int32 items; pieces of at most 4 KiB.
void BM_Split(benchmark::State& state) {
    ZoBag& bag = *MakeManyElements(10, state.range(0));
    ZoList pieces(0, 64);
    for (auto _ : state) {
        bool ok = bag.Split(&pieces, 4096);
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        for (long i = 0; i < pieces.Size(); i++)
            delete static_cast<ZoBag*>(pieces.GetItem(i));
        pieces.Clean();
        state.ResumeTiming();
    }
    delete &bag;
}
BENCHMARK(BM_Split)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// ---- named access on a bag of 20 items ----

void BM_BagSetGet_ZoLib(benchmark::State& state) {
    bench::SmallFields f;
    ZoBag* bag = bench::MakeSmallBag(f);
    int v = 0;
    for (auto _ : state) {
        // The last int32 item: a lookup scans past the six before it.
        bag->Setint32("height", v, 1);
        bag->Getint32("height", &v, 1);
        v++;
        benchmark::DoNotOptimize(v);
    }
    delete bag;
}
BENCHMARK(BM_BagSetGet_ZoLib);

void BM_BagSetGet_unordered_map(benchmark::State& state) {
    bench::SmallFields f;
    std::unordered_map<std::string, int> ints;
    std::unordered_map<std::string, double> floats;
    std::unordered_map<std::string, std::string> strings;
    for (int i = 0; i < 7; i++)
        ints[f.intNames[i]] = f.ints[i];
    for (int i = 0; i < 7; i++)
        floats[f.floatNames[i]] = f.floats[i];
    for (int i = 0; i < 6; i++)
        strings[f.stringNames[i]] = f.strings[i];
    int v = 0;
    for (auto _ : state) {
        ints.find("height")->second = v;
        v = ints.find("height")->second;
        v++;
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_BagSetGet_unordered_map);

// ---- memory beyond the payload ----

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Bytes of heap per element beyond its 4-byte payload, in one item of many
// int32 elements: appended one by one ("appended"), and as a bag received
// from flat bytes holds them ("received"); and per one-element item
// ("item"; names such as "i123" count as overhead).
void BM_BagMemory(benchmark::State& state) {
    constexpr int kCount = 10000;
    constexpr int kItems = 1000;
    double appended = 0, received = 0, perItem = 0;
    for (auto _ : state) {
        size_t before = HeapInUse();
        ZoBag* bag = new ZoBag(0, 0);
        for (int i = 0; i < kCount; i++)
            bag->Setint32("n", i, 0);
        size_t after = HeapInUse();
        appended = (static_cast<double>(after - before) - 4.0 * kCount) / kCount;
        std::vector<char> flat(bag->FlatSize(false));
        bag->Flatten(flat.data(), nullptr, false);
        delete bag;

        before = HeapInUse();
        bag = new ZoBag(0, 0);
        bag->Unflatten(flat.data(), flat.size());
        after = HeapInUse();
        delete bag;
        received = (static_cast<double>(after - before) - 4.0 * kCount) / kCount;

        // Distinct names can share a hash (and then an item): divide by
        // the items actually made.
        std::vector<std::string> names;
        for (int i = 0; i < kItems; i++)
            names.push_back("i" + std::to_string(i));
        before = HeapInUse();
        bag = new ZoBag(0, 0);
        for (int i = 0; i < kItems; i++)
            bag->Setint32(names[i].c_str(), i, 0);
        after = HeapInUse();
        int items = bag->CountItems();
        delete bag;
        perItem = (static_cast<double>(after - before) - 4.0 * kItems) / items;
    }
    state.counters["appended"] = appended;
    state.counters["received"] = received;
    state.counters["item"] = perItem;
}
BENCHMARK(BM_BagMemory)->Iterations(1);

}  // namespace
