// ZoTask: a thread whose body is a function supplied by the caller.
//
// Process() calls func(task, data). With autoDelete the task deletes itself
// when func returns: its memory is released and its thread ends right there,
// without Canceled(). Such a task belongs to nobody once started: do not
// delete it, wait for it, attach it to a team or touch it after Run().
// Everything else (blocking, threads, signals) is as for ZoThread.
#pragma once

#include <zolib/threads/Thread.h>

class ZOLIB_API ZoTask : public ZoThread {
  public:
    // `data` is handed to `func` untouched and never freed; a null `func`
    // makes an empty body.
    ZoTask(const char* name, void (*func)(ZoTask*, void*), void* data, bool autoDelete);
    ~ZoTask() override;

    void Process() override;

  protected:
    void* data;
    void (*func)(ZoTask*, void*);
    bool autoDelete;
};
