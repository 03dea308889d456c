// Compiled where <sys/wait.h> is not included (TeamNoMacro.cpp): calls
// WaitEnd(WAIT_ANY) on `team` with WAIT_ANY the team's own enumerator.
#pragma once

class ZoTeam;

bool WaitAnyWithoutMacro(ZoTeam& team);
