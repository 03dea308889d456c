// ZoLib: the whole API in one include.
//
// The library identifies itself through three texts: its version, its build
// number and the date and time it was built (in the form `date` prints).
#pragma once

#include <zolib/Export.h>

ZOLIB_API extern const char* const ZoLib_Version;     // "0.0.5"
ZOLIB_API extern const char* const ZoLib_Build_Id;    // "311"
ZOLIB_API extern const char* const ZoLib_Build_Date;  // e.g. "Sun Dec  6 01:24:09 UTC 2026"

// Containers
#include <zolib/containers/Container.h>
#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>

// Message bag
#include <zolib/bag/Attributes.h>
#include <zolib/bag/Bag.h>
#include <zolib/bag/Swap.h>
#include <zolib/bag/Zip.h>

// Threads and synchronisation
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Job.h>
#include <zolib/threads/Locker.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/StopWatch.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Team.h>
#include <zolib/threads/Thread.h>

// Messaging
#include <zolib/messaging/Channel.h>
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Member.h>
#include <zolib/messaging/MsgBox.h>
#include <zolib/messaging/Multiplexer.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/messaging/ShMemory.h>

// File system
#include <zolib/fs/Directory.h>
#include <zolib/fs/Entry.h>
#include <zolib/fs/FolderWatcher.h>
#include <zolib/fs/Path.h>

// Application support
#include <zolib/app/AddOn.h>
#include <zolib/app/AddOnExport.h>
#include <zolib/app/Args.h>
#include <zolib/app/Temp.h>
