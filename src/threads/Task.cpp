#include <zolib/threads/Task.h>

ZoTask::ZoTask(const char* name, void (*func)(ZoTask*, void*), void* data, bool autoDelete)
    : ZoThread(name), data(data), func(func), autoDelete(autoDelete) {}

// Stop the thread before any part of the object goes away.
ZoTask::~ZoTask() {
    Halt();
}

void ZoTask::Process() {
    if (func != nullptr) func(this, data);
    // The destructor, running on this very thread, lets the thread end once
    // this returns; nothing of the object may be used after the delete.
    if (autoDelete) delete this;
}
