// ZoLooper: the library's message loop, a thread that waits on channels.
//
// A looper is at once a ZoThread (its thread runs the loop), a ZoMultiplexer
// (its channels and the wait) and a ZoLocker (serialising posters). Other
// threads hand it bags with PostMessage(), which writes the bag's pointer
// into the looper's own message box; further channels (pipes from other
// threads or processes) may be connected. Run() starts the loop: Init(),
// then waits; every bag received, posted or unflattened from a channel, goes
// to MessageReceived(), raw bytes to DataReceived(data, length), and each
// wait that times out to TimeOut(). Ready channels are served once per wait,
// highest priority first; bags posted by one thread arrive in posting order.
// Bursts: one read of the box takes every posted bag waiting in it, up to
// 128, and the dispatch hands them to MessageReceived() one after the other,
// in order; bags read but not yet handled still count as waiting in the box
// (Empty() and Flush() take them first, the destructor deletes them).
//
// Ending: Init() or TimeOut() returning false ends the loop. Stop() is seen
// only after the wait in progress returns, so a looper without a time-out
// needs one more message (PostMessage(0)) before it ends. The loop ends after
// the bag it is handling when it sees Stop(), within a burst too: bags still
// waiting are not handled (they are deleted with the looper). To have
// everything posted so far handled, post a last bag whose handler calls
// Stop(). A finished looper cannot be started again.
//
// Ownership: the looper owns every bag posted to it (a copy when asked for
// one), and every bag it unflattens, until a handler detaches it with
// DetachCurrentMessage(); otherwise the bag is deleted when the handler
// returns. Bags still queued when the looper is destroyed are deleted
// unhandled. Connected application channels stay the application's.
// Blocking: PostMessage waits briefly for the looper's lock and, while 8192
// posted bags are already waiting, for room in the box (without holding the
// lock, so a handler may Flush() or Empty() the box meanwhile). The loop
// never takes the lock, so posting never waits for a handler. A poster
// cancelled while it waits for room ends there; its bag is deleted.
// Threads: the hooks, the handlers and Process() run on the loop thread.
// PostMessage may be called from any thread, the loop thread included (a
// handler that posts while the box is full does not wait, which would be for
// ever: its bag is deleted unhandled). Empty() and
// Flush() take the lock; call them from the loop thread or while the loop is
// not running, and never post from a handler that Flush() runs. Sending a
// bag through a connected channel uses the shared buffer, which belongs to
// the loop thread: other threads post, or write through a channel of their
// own on the same pipe.
// Destruction (and Halt()) first asks a running loop to stop and wakes it,
// and waits up to 200 ms for it to end after the bag it is handling; only a
// loop still running then (inside a handler, or suspended) is aborted
// wherever it is (see ZoThread::Abort()). It must not happen on the loop
// thread. A subclass whose handlers use its own members calls Halt() first
// in its destructor.
// Failure: nothing is reported. A copy that cannot be made for PostMessage
// is not posted (the caller keeps its bag). If the message box (its object
// or its pipe) could not be made, the box is not waited on, posted bags are
// deleted at once unhandled, and Empty() and Flush() find nothing; connected
// channels and time-outs still work. A channel message that cannot be read
// or unflattened is dropped without a handler call. A connected channel found
// at its end (its writers closed, nothing left to read) is disconnected by
// the loop, so it no longer wakes every wait; the channel object stays the
// application's.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>
#include <zolib/messaging/MsgBox.h>
#include <zolib/messaging/Multiplexer.h>
#include <zolib/threads/Locker.h>
#include <zolib/threads/Thread.h>

class ZOLIB_API ZoLooper : public ZoThread, public ZoMultiplexer, public ZoLocker {
  public:
    // `name` is kept as a pointer (ZoThread); `bufferSize` is the largest
    // message a connected channel can carry (a negative size counts as 0).
    // Makes and connects the message box; does not start the thread.
    ZoLooper(const char* name, int bufferSize);
    // Ends the loop thread (abort), deletes the bag being handled and every
    // bag still queued, and the message box.
    ~ZoLooper() override;

    // The loop; runs on the looper's thread after Run().
    void Process() override;
    // ZoThread::Halt() for a loop: a running loop is first stopped and woken
    // and given up to 200 ms to end after the bag it is handling (an abort
    // inside the library's own work could leave the allocator locked); one
    // still running is then aborted. Blocks until the loop thread has ended.
    void Halt();
    // Called once on the loop thread before the first wait; false ends the
    // loop before it starts. True here.
    virtual bool Init();
    // Called on the loop thread after each wait that timed out; false ends
    // the loop. True here.
    virtual bool TimeOut();
    // Raw bytes (not a flat bag) read from a connected channel; `data` points
    // into the shared buffer and is valid until the next receive. Nothing here.
    virtual void DataReceived(char* data, unsigned int length);
    // Every bag received. The bag is deleted when this returns unless it was
    // detached. Nothing here.
    virtual void MessageReceived(ZoBag* message);
    // The dispatch of one ready channel: receives into the current message
    // and calls the matching handler.
    void DataReceived(ZoChannel* channel) override;

    // Hands a bag to the loop: a new copy of it when `copy` is true (the
    // caller keeps its bag), else the bag itself, which the caller gives up
    // and must not touch again. A null bag is ignored.
    void PostMessage(ZoBag* bag, bool copy);
    // Posts a new empty bag with this message code.
    void PostMessage(unsigned long what);
    // Hands `count` bags to the loop as PostMessage(bag, false) does, in
    // order, writing up to 64 of them to the box at once: a burst costs one
    // lock and one write per 64 bags. Null entries are skipped.
    void PostMessages(ZoBag* const* bags, int count);
    // The bag being handled, or null.
    ZoBag* CurrentMessage() { return current; }
    // Keeps the current bag from being deleted after its handler; whoever
    // took it (CurrentMessage() or the handler's argument) owns it now.
    void DetachCurrentMessage() { current = nullptr; }
    // The priority of posted bags among the looper's channels (initially 0).
    // Channels are sorted when the loop starts; later changes need an
    // explicit SortInputs().
    void SetPriority(unsigned char priority);
    // Deletes every bag waiting in the box, unhandled.
    void Empty();
    // Hands every bag waiting in the box to MessageReceived() on the calling
    // thread, in order, deleting each one not detached.
    void Flush();

  protected:
    ZoBag* current;    // the bag being handled; the loop thread's
    ZoMsgBox* msgBox;  // owned

    // Called for every bag taken out of the message box (by the loop,
    // Flush() or Empty()) on the thread that takes it, while the bag is
    // alive: before its handler runs (`handled` true) or before it is
    // deleted unhandled (false). A posted bag the box refuses (no box, the
    // loop thread's own full box, a poster cancelled while it waits) is
    // announced with false too, on the posting thread, before it is
    // deleted. Returning false when `handled` is true skips the handler: the
    // bag is deleted unhandled and PostedHandled() is not called for it.
    // True here.
    virtual bool PostedTaken(ZoBag* bag, bool handled);
    // Called after the handler of a bag announced by PostedTaken(bag, true)
    // returned; not when the thread was cancelled or aborted inside it.
    // Nothing here.
    virtual void PostedHandled();

  private:
    static constexpr int kBurst = 128;     // bags read from the box at once
    static constexpr int kPostChunk = 64;  // bags written to it at once
    // Bags read from the box and not yet handled: pending[next] up to
    // pending[count - 1], in order. The loop thread's, as current is.
    ZoBag* pending[kBurst];
    int next;
    int count;

    // Writes the pointers of n (1 to kPostChunk) messages to the box in one
    // write under the lock, waiting for room while it is full; deletes them
    // when they cannot be queued.
    void Queue(ZoBag** messages, int n);
    // The box's dispatch: reads a burst when none is left, then handles it.
    void ServeBox();
    // Moves the oldest bag read ahead into current; false when none is left.
    bool TakeWaiting();
    // Hands current to MessageReceived() with the hooks around it.
    void HandlePosted();
    // Deletes a posted bag the box did not take, announcing it first.
    void Refuse(ZoBag* bag);
    // Receives the waiting bags into current under the lock; handles each
    // one when `handle` is true, then deletes it unless detached.
    void Drain(bool handle);
    // Runs MessageReceived(current), then deletes current unless the handler
    // detached it (also when the thread is cancelled inside the handler).
    void HandleCurrent();
    // Deletes current unless a handler detached it.
    void DropCurrent();
};
