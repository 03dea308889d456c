// WaitEnd(WAIT_ANY) on `team`, compiled without <sys/wait.h> (TeamNoMacro.cpp:
// WAIT_ANY is the team's enumerator) and with it before Team.h (TeamWaitOrder.cpp).
#pragma once

class ZoTeam;

bool WaitAnyWithoutMacro(ZoTeam& team);
bool WaitAnyWaitHeaderFirst(ZoTeam& team);
