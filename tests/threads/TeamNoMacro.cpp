// Neither GoogleTest nor <sys/wait.h> here: WAIT_ANY is the enumerator.
#include <zolib/threads/Team.h>

#ifdef WAIT_ANY
#error "this file must be compiled without <sys/wait.h>"
#endif

static_assert(WAIT_ANY == 1 && WAIT_ALL == 0, "the team's own values");

// Compiling is the check: the enumerator selects the team's own overload.
void WaitAnyWithoutMacro(ZoTeam& team) {
    team.WaitEnd(WAIT_ANY);
}
