#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include "internal/Unwind.h"

#include <cstring>

namespace {

#pragma push_macro("WAIT_ANY")
#undef WAIT_ANY
const T_THREAD_WAIT kWaitAny = WAIT_ANY;
#pragma pop_macro("WAIT_ANY")

}  // namespace

int thcmp(const void* thread, const void* name) {
    const char* left =
        thread != nullptr ? static_cast<const ZoThread*>(thread)->GetName() : nullptr;
    const char* right = static_cast<const char*>(name);
    if (left == nullptr || right == nullptr) return (left != nullptr) - (right != nullptr);
    return strcmp(left, right);
}

ZoTeam::ZoTeam(const char* name) : name(name), threads(new ZoList(2, 1)) {}

ZoTeam::~ZoTeam() {
    ZoNoCancel hold;  // deleting a thread joins it
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        delete thread;
    delete threads;
}

void ZoTeam::Attach(ZoThread* thread) {
    if (thread == nullptr || threads->HasItem(thread)) return;
    if (threads->AddItem(thread)) thread->Attached(this);
}

void ZoTeam::Deattach(ZoThread* thread) {
    if (thread != nullptr && threads->DelItem(static_cast<void*>(thread))) thread->Deattached();
}

void ZoTeam::Run() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        thread->Run();
}

void ZoTeam::Suspend() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        thread->Suspend();
}

void ZoTeam::Resume() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        thread->Resume();
}

void ZoTeam::Cancel() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        if (thread->IsRunning()) thread->Cancel();
}

void ZoTeam::Abort() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        if (thread->IsRunning()) thread->Abort();
}

ZoThread* ZoTeam::Find(const char* name) {
    long index = threads->FindItem(const_cast<char*>(name), thcmp);
    return index < 0 ? nullptr : Member(index);
}

bool ZoTeam::IsRunning() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        if (!thread->IsRunning()) return false;
    return true;
}

bool ZoTeam::IsSuspended() {
    ZoThread* thread;
    for (long i = 0; (thread = Member(i)) != nullptr; i++)
        if (!thread->IsSuspended()) return false;
    return true;
}

void ZoTeam::WaitEnd(T_THREAD_WAIT mode) {
    if (mode != WAIT_ALL && mode != kWaitAny) return;
    // No member can end in an empty team: waiting for "any" would never finish.
    if (mode == kWaitAny && threads->Size() == 0) return;
    for (;;) {
        sSnooze(1);
        bool anyRunning = false, allRunning = true;
        ZoThread* thread;
        for (long i = 0; (thread = Member(i)) != nullptr; i++) {
            if (thread->IsRunning())
                anyRunning = true;
            else
                allRunning = false;
        }
        if (mode == WAIT_ALL ? !anyRunning : !allRunning) return;
    }
}

void ZoTeam::WaitEnd(int mode) {
    WaitEnd(mode == -1 ? kWaitAny : static_cast<T_THREAD_WAIT>(mode));
}
