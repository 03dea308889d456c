// The stops of the tour. Each one posts its account to the narrator, cleans
// up what it made, and returns false when something it waited for did not
// happen in time (after saying so).
#pragma once

#include "Narrator.h"

// Several threads post bags to the narrator.
bool TourPosters(Narrator& narrator);
// A bag is shown, copied, saved to a bag file in `dir` and loaded back.
bool TourBagFile(Narrator& narrator, const char* dir);
// A job with milestones drives a progress display.
bool TourJob(Narrator& narrator);
// A folder watcher reports the files made, changed and removed in `dir`.
bool TourWatcher(Narrator& narrator, const char* dir);
// This process enters the member registry, lists it and leaves it.
bool TourRegistry(Narrator& narrator);
#ifdef ZODEMO_WITH_NATS
// This process and a second one (`program` started again as the peer)
// exchange bags through the NATS server at $NATS_URL and find each other in
// the registry across hosts; says so and passes when no server is given.
bool TourNats(Narrator& narrator, const char* program);
// The peer's side: `zodemo --nats-peer URL`. Returns the exit status.
int NatsPeer(const char* url);
#endif
