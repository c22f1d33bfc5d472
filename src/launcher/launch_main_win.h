// The launcher's spine: fixes the process-wide state, applies the settings and takes one of its
// roads (clean-up child, service install, service removal, service run, second instance, launch).
#pragma once

#include <windows.h>

#include <cstdint>

// Returns the process exit status (or ends the process itself where exit handlers must run).
int LaunchMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showState);

// --- Steps of the start-up, exposed for the Windows-side tests ---

// Names TempDir for a TempDirMode and the stored main-class text (ComposeTempDir). When the system
// has no temporary directory, or the name is not plain hex or would not fit TempDir, reports message
// 2 with "TEMP_PATH" and leaves TempDir empty; answers whether TempDir was named.
bool NameTempDir(int32_t tempDirMode, const char* storedName);

// Where the single-instance check leaves this process.
enum class InstanceClaim { Claimed, AlreadyRunning, Unchecked };
// Creates the mutex AppMutex, owned from the start, and keeps it in InstanceMutex. Another
// process's mutex of that name (or one this process may not open) means another instance runs; any
// other failure lets this one run unchecked.
InstanceClaim ClaimSingleInstance(const char* mutexName);
