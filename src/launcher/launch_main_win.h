// The launcher's spine: fixes the process-wide state, loads the configuration and takes one of its
// roads (clean-up child, service install, service removal, service run, second instance, launch).
#pragma once

#include <windows.h>

#include <cstdint>

// Returns the process exit status (or ends the process itself where exit handlers must run).
int LaunchMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showState);

// --- Steps of the start-up, exposed for the Windows-side tests ---

// Names TempDir for a TempDirMode and the stored main-class text. When the system has no temporary
// directory, or the name is not plain hex or would not fit TempDir, reports message 2 with
// "TEMP_PATH" and leaves TempDir empty; answers whether TempDir was named.
bool NameTempDir(int32_t tempDirMode, const char* storedName);

// The executable's full path into `path` (PathCapacity characters). A path that does not fit counts
// as a failure (the thread's last error then says so).
bool GetExecutablePath(char* path);

// The directory of an executable path (a buffer of PathCapacity characters): the path cut at its
// last backslash, keeping the backslash of a drive's root ("C:\"). The path holds fewer than
// PathCapacity characters.
void ExecutableDirectory(const char* executablePath, char* directory);

// The file name of an executable path without its last extension (malloc'd).
char* DeriveAppName(const char* executablePath);

// Where the single-instance check leaves this process.
enum class InstanceClaim { Claimed, AlreadyRunning, Unchecked };
// Creates the mutex AppMutex, owned from the start. Another process's mutex of that name (or one this
// process may not open) means another instance runs; any other failure lets this one run unchecked.
InstanceClaim ClaimSingleInstance(const char* mutexName, HANDLE* mutex);
