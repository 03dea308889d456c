// Neither GoogleTest nor <sys/wait.h> here: WAIT_ANY is the enumerator.
#include <zolib/threads/Team.h>

#ifdef WAIT_ANY
#error "this file must be compiled without <sys/wait.h>"
#endif

static_assert(WAIT_ANY == 1 && WAIT_ALL == 0, "the team's own values");

bool WaitAnyWithoutMacro(ZoTeam& team) {
    T_THREAD_WAIT mode = WAIT_ANY;
    team.WaitEnd(mode);
    return true;
}
