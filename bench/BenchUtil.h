// Bags and data shared by the benchmarks.
#pragma once

#include <zolib/bag/Bag.h>

#include <malloc.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace bench {

// Counts handled messages on the receiving thread and wakes the benchmark
// thread, which sleeps meanwhile (it must not spin: the machine has two cores).
class Counter {
  public:
    void Add() {
        if (count.fetch_add(1) + 1 == target.load()) {
            std::lock_guard<std::mutex> hold(mutex);
            wake.notify_one();
        }
    }
    // Waits until `more` further messages have been counted.
    void WaitForMore(long more) {
        std::unique_lock<std::mutex> hold(mutex);
        long goal = target.load() + more;
        target.store(goal);
        wake.wait(hold, [&] { return count.load() >= goal; });
    }

  private:
    std::atomic<long> count{0}, target{0};
    std::mutex mutex;
    std::condition_variable wake;
};

// The small message of the serialisation benchmarks: 20 items, 7 int32,
// 7 float64 and 6 short strings, under short names.
struct SmallFields {
    const char* intNames[7] = {"id", "seq", "count", "x", "y", "width", "height"};
    int ints[7] = {42, 1001, 7, -320, 240, 1920, 1080};
    const char* floatNames[7] = {"t", "lat", "lon", "alt", "speed", "heading", "gain"};
    double floats[7] = {1.5e9, 48.8566, 2.3522, 35.0, 12.75, 271.5, 0.125};
    const char* stringNames[6] = {"name", "host", "unit", "mode", "state", "note"};
    const char* strings[6] = {"sensor-12", "node07", "m/s", "auto", "running", "ok"};
};

inline ZoBag* MakeSmallBag(const SmallFields& f) {
    ZoBag* bag = new ZoBag(0x5356, 0);
    for (int i = 0; i < 7; i++)
        bag->Setint32(f.intNames[i], f.ints[i], 0);
    for (int i = 0; i < 7; i++)
        bag->Setfloat64(f.floatNames[i], f.floats[i], 0);
    for (int i = 0; i < 6; i++)
        bag->Setstring(f.stringNames[i], f.strings[i], 0);
    return bag;
}

// Text-like bytes that compress about as well as log lines do: words drawn
// from a small vocabulary by a fixed pseudo-random sequence.
inline std::vector<char> TextBytes(size_t n, uint32_t seed = 12345) {
    static const char* const kWords[] = {
        "alpha ", "beta ",  "gamma ", "delta ",  "status=ok ", "42 ",    "1024 ",  "error ",
        "node ",  "value=", "\n",     "sensor ", "read ",      "write ", "0x7f3a "};
    std::vector<char> out;
    out.reserve(n + 16);
    uint32_t x = seed;
    while (out.size() < n) {
        x = x * 1664525u + 1013904223u;
        const char* w = kWords[(x >> 16) % (sizeof kWords / sizeof kWords[0])];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(n);
    return out;
}

// A bag whose plain flat form is about `flatBytes` long: a few header-like
// items and a text buffer that makes up the rest.
inline ZoBag* MakeTextBag(size_t flatBytes) {
    ZoBag* bag = new ZoBag(0x5458, 0);
    bag->Setint32("seq", 7, 0);
    bag->Setstring("source", "node07", 0);
    bag->Setfloat64("t", 1.5e9, 0);
    size_t used = bag->FlatSize(false) + 16 + 4 + 4;  // the buffer item's records
    std::vector<char> text = TextBytes(flatBytes > used ? flatBytes - used : 1);
    bag->Setdata("text", T_BUFFER, text.data(), static_cast<int>(text.size()), 0);
    return bag;
}

// glibc gives memory at the top of its heap back to the system once more
// than 128 KiB of it is free, until the process frees a large mapped block;
// from then on it keeps up to twice that block's size. zlib's one-shot calls
// allocate and free about 256 KiB each, so in a process that gives memory
// back they pay for fresh pages on every call. The compression benchmarks
// fix the cheaper case for both sides, whatever ran before them.
inline void KeepHeap() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace bench
