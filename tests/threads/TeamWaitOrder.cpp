// <sys/wait.h> comes before Team.h here: the opposite order to ThreadTest.cpp.
#include <sys/wait.h>

#include <zolib/threads/Team.h>

static_assert(WAIT_ANY == -1, "the C library's WAIT_ANY keeps its value");

// Compiling is the check: -1 selects the int overload, which takes it as WAIT_ANY.
void WaitAnyWaitHeaderFirst(ZoTeam& team) {
    team.WaitEnd(WAIT_ANY);
}
