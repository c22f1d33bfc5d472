// Process-wide state fixed by the launch driver at start-up and read by every other part.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "base/text.h"

// True once the driver has taken the service-run road; every report then goes to the event log.
extern std::atomic<bool> ServiceMode;
// The instance handle passed to the entry point (dialogs are loaded from it).
extern HINSTANCE InstanceHandle;
// Directory of the extracted archives: at most PathCapacity - 1 characters, "" when it could not be named.
extern char TempDir[PathCapacity];
// The current directory at start, before the launcher changed it (at most PathCapacity characters).
extern char StartDir[PathCapacity + 1];
// File name of the executable without its extension (malloc'd, "" before it is known).
extern char* AppName;
// The single-instance mutex this process created and owns, or null.
extern HANDLE InstanceMutex;

// The switch with which the launcher starts its own clean-up child.
constexpr char CleanupSwitch[] = "-cvremovetemporaryjarfiles";
