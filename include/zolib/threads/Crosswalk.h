// ZoCrosswalk: numbered lanes with a traffic light each.
//
// Threads Wait() at a lane until its light is green; a controller switches
// lights with Green() and Red(). A green light is a gate, not a permit: it
// lets every present and future waiter of the lane through until Red().
//
// Ownership: the crosswalk owns its lanes. Destroying it turns every light
// green and waits until the threads still in Wait() have left (they return
// true); nobody may start a Wait() on a crosswalk being destroyed. Waiters
// that were aborted inside Wait() never leave: the destructor gives up on
// them (and on the locks they hold) after a few seconds.
//
// Blocking: Wait() blocks on the lane (without a limit for a time-out of 0).
// Green() and Red() sleep 1 ms after switching, so that woken waiters can
// run before the light changes again. Waiting() and Flush() take no lock;
// Flush() is for a crosswalk nobody waits on.
//
// Threads: any operation from any thread. Lock order: the locker mutex, then
// the lanes' mutex; Wait() lets go of the locker mutex before it blocks, so
// controllers are never held up by waiters. A waiter cancelled inside Wait()
// leaves cleanly (lane mutex released, counted out).
//
// Failure: lanes outside 0 .. laneCount-1 are ignored: Wait() returns false
// at once, Waiting() returns 0. A laneCount below 1 makes a crosswalk
// without lanes.
#pragma once

#include <zolib/threads/Locker.h>

#include <atomic>

class ZOLIB_API ZoCrosswalk : public ZoLocker {
  public:
    explicit ZoCrosswalk(int laneCount);
    ~ZoCrosswalk() override;

    // Switch the lane's light and wake all its waiters.
    void Green(int lane);
    void Red(int lane);
    // Waits until the lane is green. `timeout` 0 waits without limit (true);
    // otherwise it is a limit in nanoseconds: true when the light was or
    // turned green in time, false when the time ran out.
    bool Wait(int lane, unsigned long timeout);
    // Threads now inside Wait() for the lane (read without locking).
    long Waiting(int lane);
    // Every light red, every counter 0; wakes nobody.
    void Flush();

  protected:
    struct Lane {
        std::atomic<bool> green;
        std::atomic<long> waiting;
    };

    int laneCount;
    Lane* lanes;                // laneCount records (owned), null without lanes
    pthread_mutex_t laneMutex;  // guards the lights for the waiters
    pthread_cond_t laneCond;    // broadcast whenever a light changes

  private:
    bool Valid(int lane) const { return lanes != nullptr && lane >= 0 && lane < laneCount; }
    void Switch(int lane, bool green);
    void LeaveWait(Lane& lane);
};
