#include <zolib/threads/StopWatch.h>

#include <cstdint>

namespace {

// The conversions use exact integer products: the double arithmetic they
// stand for (T / 1e6 * 1e7, ...) lands just below the whole number for many
// counts (249 ticks would read 248999 us).
uint32_t Count32(clock_t ticks) {
    return static_cast<uint32_t>(ticks);
}

}  // namespace

ZoStopWatch::ZoStopWatch()
    : paused(false), startTicks(0), accumulated(0), stopTicks(0), tmsBuffer() {
    Reset();
}

ZoStopWatch::~ZoStopWatch() = default;

void ZoStopWatch::Reset() {
    Lock();
    paused = false;
    startTicks = accumulated = stopTicks = 0;
    Unlock();
}

void ZoStopWatch::Start() {
    Lock();
    startTicks = Now();
    paused = false;
    Unlock();
}

void ZoStopWatch::Pause() {
    Lock();
    accumulated += Now() - startTicks;
    paused = true;
    Unlock();
}

void ZoStopWatch::Stop() {
    Lock();
    stopTicks = Now();
    Unlock();
}

clock_t ZoStopWatch::Count() {
    if (paused) return accumulated;
    clock_t end = stopTicks != 0 ? stopTicks : Now();
    return end - startTicks + accumulated - 1;
}

clock_t ZoStopWatch::LockedCount() {
    Lock();
    clock_t ticks = Count();
    Unlock();
    return ticks;
}

clock_t ZoStopWatch::Ticks() {
    return LockedCount();
}

double ZoStopWatch::Seconds() {
    clock_t ticks = LockedCount();
    return ticks == -1 ? 0.0 : Count32(ticks) / 100.0;
}

unsigned long ZoStopWatch::MSeconds() {
    clock_t ticks = LockedCount();
    return ticks == -1 ? 0 : static_cast<uint32_t>(uint64_t{Count32(ticks)} * 10);
}

unsigned long ZoStopWatch::USeconds() {
    clock_t ticks = LockedCount();
    return ticks == -1 ? 0 : static_cast<uint32_t>(uint64_t{Count32(ticks)} * 1000);
}

unsigned long ZoStopWatch::NSeconds() {
    clock_t ticks = LockedCount();
    return ticks == -1 ? 0 : static_cast<uint32_t>(Count32(ticks) * uint32_t{10000000});
}
